// Log level names and the mapping between the library's levels and spdlog's.
#include "tavo/common/log.h"

const char* tavo_log_level_to_string(int level) {
    switch (level) {
        case 0:
            return "Default";
        case 1:
            return "Trace";
        case 2:
            return "Debug";
        case 3:
            return "Info";
        case 4:
            return "Warn";
        case 5:
            return "Error";
        case 6:
            return "Critical";
        case 7:
            return "Off";
        default:
            return "Unknown";
    }
}

namespace tavo {

spdlog::level::level_enum ToSpdlog(int level) {
    if (level < 1 || level > 7) {
        level = 3;
    }
    return static_cast<spdlog::level::level_enum>(level - 1);
}

int FromSpdlog(spdlog::level::level_enum level) {
    return static_cast<int>(level) + 1;
}

std::shared_ptr<spdlog::logger> GetDefaultLogger() {
    return spdlog::default_logger();
}

}  // namespace tavo
