// Test seams of the display component: where the monitor scan looks, and a fresh process state.
#pragma once

#include <filesystem>

namespace tavo::device::internal {

// Root of the sysfs tree that Connect scans for the panel's monitor ("/sys" unless changed).
void SetSysfsRootForTesting(const std::filesystem::path& root);
// Clears the connected and fetched flags and restores the "/sys" root, as at library load.
void ResetForTesting();

}  // namespace tavo::device::internal
