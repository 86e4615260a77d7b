// Rate limiting of log messages that a flood can repeat, such as per-frame failures.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

namespace tavo {

// Passes the first message of each kind to the default logger at once, then counts the
// repeats and reports them at most once per interval as "{text} … repeated {N} times", where
// text is the first message counted since the last report. A kind is one message text, so a
// flooding message never hides the first appearance of another; a call site whose texts keep
// changing (a frame number in them) gets kTextsPerFormat kinds, after which its new texts
// share one more kind, so it cannot flood the log either.
//
// Any thread may call any operation; one mutex guards the counts. Messages below the default
// logger's level are neither logged nor counted.
class LogRateLimiter {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds kDefaultInterval{5};
    static constexpr int kTextsPerFormat = 4;

    // An empty clock reads std::chrono::steady_clock; tests pass their own.
    explicit LogRateLimiter(std::chrono::steady_clock::duration interval = kDefaultInterval,
                            Clock clock = {});

    template <typename... Args>
    void Log(spdlog::level::level_enum level, fmt::format_string<Args...> format, Args&&... args) {
        if (!spdlog::should_log(level)) {
            return;
        }
        const fmt::string_view formatText = format;
        Submit(level, std::string_view(formatText.data(), formatText.size()),
               fmt::format(format, std::forward<Args>(args)...));
    }

    // Reports every count still pending, so that a flood that ended is not left untold.
    void Flush();

  private:
    struct Kind {
        std::string format;
        std::string text;
        // Collects the format's texts beyond kTextsPerFormat; `text` is then unused.
        bool overflow = false;
        spdlog::level::level_enum level;
        std::chrono::steady_clock::time_point lastReport;
        int64_t repeats = 0;
        std::string firstRepeat;
    };

    void Submit(spdlog::level::level_enum level, std::string_view format, std::string text);
    // The kind of this message, made when it is new; `isNew` tells which.
    Kind& KindLocked(std::string_view format, const std::string& text,
                     spdlog::level::level_enum level, std::chrono::steady_clock::time_point now,
                     bool& isNew);
    std::chrono::steady_clock::time_point Now() const;

    const std::chrono::steady_clock::duration interval_;
    const Clock clock_;
    std::mutex lock_;
    // A handful of kinds per limiter: a linear search is the fastest look-up.
    std::vector<Kind> kinds_;
};

}  // namespace tavo
