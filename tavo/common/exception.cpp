// The library's exception type and the assertion function.
#include "tavo/common/exception.h"

#include <cstdlib>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

namespace tavo {

Exception::Exception(const std::string& message, const SourceLocation& location)
    : message_(location.function != nullptr
                   ? fmt::format("{} in {} {}:{}", message, location.function,
                                 location.file != nullptr ? location.file : "", location.line)
                   : message) {}

Exception::Exception(const std::string& message) : message_(message) {}

Exception::~Exception() = default;

const char* Exception::what() const noexcept {
    return message_.c_str();
}

}  // namespace tavo

void tavoAssert(const char* file, int line, const char* function, const char* message) {
    spdlog::critical("Assertion failed in {} at {}:{} - {}", function != nullptr ? function : "",
                     file != nullptr ? file : "", line, message != nullptr ? message : "");
    std::abort();
}
