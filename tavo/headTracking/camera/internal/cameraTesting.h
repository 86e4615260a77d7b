// Test seam of the RealSense camera: where it looks for a camera on the USB bus.
#pragma once

#include <filesystem>

#include "tavo/common/export.h"

namespace tavo::head::internal {

// Root of the sysfs tree in which the camera, finding no device through librealsense, looks for
// one still being opened ("/sys" unless changed). Face tracking asks the same tree whether a
// camera is attached. Exported so that tests linking the shared library can put a simulated
// camera on the bus, or take this machine's off it.
TAVO_API void SetCameraSysfsRootForTesting(const std::filesystem::path& root);

}  // namespace tavo::head::internal
