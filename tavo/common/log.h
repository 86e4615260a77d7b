// Log levels of the library and their mapping onto spdlog's.
#pragma once

#include <memory>

#include <spdlog/spdlog.h>

#include "tavo/common/export.h"

// Name of a log level value (0 "Default" ... 7 "Off", else "Unknown"). Exported unmangled.
TAVO_EXTERN_C TAVO_API const char* tavo_log_level_to_string(int level);

namespace tavo {

// Values 1..7 map to spdlog level value-1; anything else is treated as 3 (info).
TAVO_API spdlog::level::level_enum ToSpdlog(int level);
TAVO_API int FromSpdlog(spdlog::level::level_enum level);
// spdlog's current process-wide default logger (may be null).
TAVO_API std::shared_ptr<spdlog::logger> GetDefaultLogger();

}  // namespace tavo
