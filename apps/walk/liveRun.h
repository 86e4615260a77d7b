// The walk demo on a live RealSense camera: the SDK opens the camera itself (its own camera path,
// not a host camera), the CPU detector plug-in finds the face, the SDK tracks and predicts it,
// and key frames are woven for the face it holds, for `seconds` of wall time. A live camera has
// no true head positions, so what needs them (prediction error, eye share and its ceiling) is
// not measured: summary.json says null.
//
// The calling thread makes every call; it runs the headless OpenGL context.
#pragma once

#include <optional>
#include <string>

#include "apps/walk/report.h"

namespace tavo::apps::walk {

// Why a live run cannot start, naming what is missing; nothing when librealsense2 lists a camera
// and the library finds it on the USB bus, as face tracking requires.
std::optional<std::string> MissingLiveCamera();

// Runs the chain on the live camera and writes what it measured to `options.out`. Returns 0, or
// 1 when the camera disappeared mid-run (said on standard error, with what was measured until
// then written out). Throws std::runtime_error when face tracking or rendering cannot start.
int RunLive(const RunOptions& options);

}  // namespace tavo::apps::walk
