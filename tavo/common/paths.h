// Paths of the running process and of this library, and the last system error text.
#pragma once

#include <filesystem>
#include <string>

#include "tavo/common/export.h"

namespace tavo {

// None of these throws: on system failure they log at error level and return an empty path.
TAVO_API std::filesystem::path GetExecutablePath();
// Full file name of the module holding `address`; null means this library itself.
TAVO_API std::filesystem::path GetLibraryPath(const void* address);
TAVO_API std::filesystem::path GetLibraryPath();
// This library's folder joined with "ORBIXLogs"; not created here.
TAVO_API std::filesystem::path GetDefaultLogsDirectory();
TAVO_API std::filesystem::path GetAppDataPath();
// The dynamic loader's pending error text, else the text of the thread's errno, else empty.
TAVO_API std::string GetLastErrorAsString();

}  // namespace tavo
