// Counting and periodic reporting of repeated log messages.
#include "tavo/common/logRateLimiter.h"

#include <algorithm>

namespace tavo {

namespace {

// Logging happens outside the limiter's lock, so that a sink that logs or blocks cannot
// stall other threads' counting.
struct PendingLine {
    spdlog::level::level_enum level;
    std::string text;
};

std::string RepeatLine(const std::string& text, int64_t repeats) {
    return fmt::format("{} … repeated {} times", text, repeats);
}

}  // namespace

LogRateLimiter::LogRateLimiter(std::chrono::steady_clock::duration interval, Clock clock)
    : interval_(interval), clock_(std::move(clock)) {}

std::chrono::steady_clock::time_point LogRateLimiter::Now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

LogRateLimiter::Kind& LogRateLimiter::KindLocked(std::string_view format, const std::string& text,
                                                 spdlog::level::level_enum level,
                                                 std::chrono::steady_clock::time_point now,
                                                 bool& isNew) {
    int textsOfFormat = 0;
    Kind* overflow = nullptr;
    for (Kind& kind : kinds_) {
        if (kind.format != format) {
            continue;
        }
        if (kind.overflow) {
            overflow = &kind;
        } else if (kind.text == text) {
            isNew = false;
            return kind;
        } else {
            ++textsOfFormat;
        }
    }
    const bool overflows = textsOfFormat >= kTextsPerFormat;
    if (overflows && overflow != nullptr) {
        isNew = false;
        return *overflow;
    }
    isNew = true;
    return kinds_.emplace_back(
        Kind{std::string(format), overflows ? std::string() : text, overflows, level, now, 0, {}});
}

void LogRateLimiter::Submit(spdlog::level::level_enum level, std::string_view format,
                            std::string text) {
    const auto now = Now();
    PendingLine line{level, {}};
    {
        std::lock_guard<std::mutex> guard(lock_);
        bool isNew = false;
        Kind& kind = KindLocked(format, text, level, now, isNew);
        if (isNew) {
            line.text = std::move(text);
        } else if (now - kind.lastReport < interval_) {
            if (kind.repeats++ == 0) {
                kind.firstRepeat = std::move(text);
            }
            return;
        } else if (kind.repeats == 0) {
            // Quiet for a whole interval: this is a fresh occurrence, told in full.
            kind.lastReport = now;
            line.text = std::move(text);
        } else {
            kind.lastReport = now;
            line.text = RepeatLine(kind.firstRepeat, kind.repeats + 1);
            kind.repeats = 0;
            kind.firstRepeat.clear();
        }
    }
    spdlog::log(line.level, "{}", line.text);
}

void LogRateLimiter::Flush() {
    const auto now = Now();
    std::vector<PendingLine> lines;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (Kind& kind : kinds_) {
            if (kind.repeats == 0) {
                continue;
            }
            lines.push_back({kind.level, RepeatLine(kind.firstRepeat, kind.repeats)});
            kind.lastReport = now;
            kind.repeats = 0;
            kind.firstRepeat.clear();
        }
    }
    for (const PendingLine& line : lines) {
        spdlog::log(line.level, "{}", line.text);
    }
}

}  // namespace tavo
