// The library's exception type, its source locations and the assertion function.
#pragma once

#include <exception>
#include <string>

#include "tavo/common/export.h"

namespace tavo {

// Place of a throw. `file` is relative to the repository root; `function` may be null.
struct SourceLocation {
    const char* file;
    int line;
    const char* function;
};

// The system's one exception type. Any thread may throw or catch it.
class TAVO_API Exception : public std::exception {
  public:
    // "{message} in {function} {file}:{line}" when the location names a function, else the
    // message alone.
    Exception(const std::string& message, const SourceLocation& location);
    explicit Exception(const std::string& message);
    ~Exception() override;
    const char* what() const noexcept override;

  private:
    std::string message_;
};

}  // namespace tavo

// Builds the location of the current line with the qualified function name written out.
#define TAVO_LOCATION(functionName) (::tavo::SourceLocation{__FILE__, __LINE__, functionName})

// Logs "Assertion failed in ..." at critical level, then aborts. Exported unmangled.
TAVO_EXTERN_C TAVO_API [[noreturn]] void tavoAssert(const char* file, int line,
                                                    const char* function, const char* message);
