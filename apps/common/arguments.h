// Command-line parsing that the tools share, so that a number, a list or a position means the
// same on every tool's command line. Every error is a BadArguments whose text names the option;
// the tools print it with their usage line and exit 2.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <glm/vec3.hpp>

namespace tavo::apps {

struct BadArguments {
    std::string why;
};

// "a,b,,c" gives four parts; a trailing comma gives an empty last part, which callers reject.
inline std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ','))
        parts.push_back(part);
    if (!text.empty() && text.back() == ',')
        parts.emplace_back();
    return parts;
}

// The whole text must be one finite number: "nan" and "inf" would travel into the geometry and
// come out as a picture of nothing.
inline double ParseNumber(const std::string& text, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE ||
        !std::isfinite(value)) {
        throw BadArguments{what + ": not a number: \"" + text + "\""};
    }
    return value;
}

inline int ParseWhole(const std::string& text, const std::string& what, int lo, int hi) {
    const double value = ParseNumber(text, what);
    if (value != std::floor(value) || value < lo || value > hi) {
        throw BadArguments{what + " takes a whole number from " + std::to_string(lo) + " to " +
                           std::to_string(hi) + ", not " + text};
    }
    return static_cast<int>(value);
}

// "X,Y,Z", taken as one value so that a leading minus belongs to it and is not an option.
inline glm::dvec3 ParsePosition(const std::string& text, const std::string& what) {
    const auto parts = SplitCommas(text);
    if (parts.size() != 3)
        throw BadArguments{what + " needs X,Y,Z"};
    return {ParseNumber(parts[0], what), ParseNumber(parts[1], what), ParseNumber(parts[2], what)};
}

// Walks argv; Value() takes the argument after the current option.
class Arguments {
  public:
    Arguments(int argc, char** argv) : argc_(argc), argv_(argv) {}

    bool Next() { return ++index_ < argc_; }
    std::string Current() const { return argv_[index_]; }
    std::string Value() {
        if (index_ + 1 >= argc_)
            throw BadArguments{Current() + " needs a value"};
        return argv_[++index_];
    }

  private:
    int argc_;
    char** argv_;
    int index_ = 0;
};

}  // namespace tavo::apps
