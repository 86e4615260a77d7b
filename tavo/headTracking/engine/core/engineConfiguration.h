// The engine's configuration record, with its defaults and text form.
#pragma once

#include <fmt/format.h>

#include "tavo/headTracking/common/types.h"
#include "tavo/headTracking/engine/core/faceTracker.h"

namespace tavo::head {

// A plain value: both eyes tracked, the tracker's default filter values, an identity camera
// pose, and zeros everywhere else (the engine and the camera choose).
struct EngineConfiguration {
    FaceTracker::Configuration faceTracker;
    FaceDetectorConfiguration faceDetector;
    CameraConfiguration camera;
    bool initializeFaceDetectorLazily = false;
    bool enableProfiling = false;
};

}  // namespace tavo::head

// `enableProfiling` is left out of the text form.
TAVO_DECLARE_FORMATTER(tavo::head::EngineConfiguration);
