// Test seams of the display component: where the monitor scan and the panel file lookup look,
// and a fresh process state.
#pragma once

#include <filesystem>

namespace tavo::device::internal {

// Root of the sysfs tree that Connect scans for the panel's monitor ("/sys" unless changed).
void SetSysfsRootForTesting(const std::filesystem::path& root);
// Folder below which Connect looks for "tavo/panel.json" when TAVO_PANEL_FILE is not set
// (GetAppDataPath() unless changed).
void SetAppDataRootForTesting(const std::filesystem::path& root);
// Clears the connected and fetched flags and the accepted panel file, and restores both roots,
// as at library load.
void ResetForTesting();

}  // namespace tavo::device::internal
