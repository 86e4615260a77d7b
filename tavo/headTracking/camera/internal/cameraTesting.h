// Test seam of the RealSense camera: where it looks for a camera on the USB bus.
#pragma once

#include <filesystem>

namespace tavo::head::internal {

// Root of the sysfs tree in which the camera, finding no device through librealsense, looks for
// one still being opened ("/sys" unless changed).
void SetCameraSysfsRootForTesting(const std::filesystem::path& root);

}  // namespace tavo::head::internal
