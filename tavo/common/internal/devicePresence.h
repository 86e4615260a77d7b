// Device presence checks that read a sysfs tree below a given root, so tests can fake it.
#pragma once

#include <filesystem>

namespace tavo::internal {

// Scans <root>/class/drm/*/edid for the panel's monitor (maker "AUO", product 0x2E9A).
bool isMonitorConnected(const std::filesystem::path& sysRoot);
// Scans <root>/bus/usb/devices/*/idVendor and idProduct for 8086:0b07.
bool isRealSenseConnected(const std::filesystem::path& sysRoot);

}  // namespace tavo::internal
