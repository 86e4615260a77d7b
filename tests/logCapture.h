// A capture of the default logger for tests: every line as "level message", from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

namespace tavo::test {

class CapturingSink final : public spdlog::sinks::base_sink<std::mutex> {
  public:
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> guard(mutex_);
        return lines_;
    }

  protected:
    void sink_it_(const spdlog::details::log_msg& message) override {
        const spdlog::string_view_t level = spdlog::level::to_string_view(message.level);
        lines_.push_back(std::string(level.data(), level.size()) + " " +
                         std::string(message.payload.data(), message.payload.size()));
    }
    void flush_() override {}

  private:
    std::vector<std::string> lines_;
};

// Replaces the default logger for its lifetime. Make it before, and end it after, every thread
// that logs: the default logger itself is not guarded against replacement.
class LogCapture {
  public:
    LogCapture() : sink_(std::make_shared<CapturingSink>()), previous_(spdlog::default_logger()) {
        auto logger = std::make_shared<spdlog::logger>("capture", sink_);
        logger->set_level(spdlog::level::trace);
        spdlog::set_default_logger(logger);
    }
    ~LogCapture() { spdlog::set_default_logger(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const { return sink_->lines(); }
    // Lines that contain `text`.
    int Count(const std::string& text) const {
        int count = 0;
        for (const std::string& line : lines()) {
            count += line.find(text) != std::string::npos ? 1 : 0;
        }
        return count;
    }
    bool Contains(const std::string& text) const { return Count(text) > 0; }
    // Lines that are exactly `line`.
    int CountExact(const std::string& line) const {
        int count = 0;
        for (const std::string& each : lines()) {
            count += each == line ? 1 : 0;
        }
        return count;
    }
    // Index of the first line equal to `line` at or after `from`, or -1.
    int Find(const std::string& line, int from = 0) const {
        const std::vector<std::string> all = lines();
        for (int i = from; i < static_cast<int>(all.size()); ++i) {
            if (all[i] == line) {
                return i;
            }
        }
        return -1;
    }
    // Index of the first line that starts with `prefix` and ends with `suffix`; -1 if none.
    int FindMatching(const std::string& prefix, const std::string& suffix = "") const {
        const std::vector<std::string> all = lines();
        for (size_t i = 0; i < all.size(); ++i) {
            const std::string& line = all[i];
            if (line.rfind(prefix, 0) == 0 && line.size() >= prefix.size() + suffix.size() &&
                line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    bool HasLineStartingWith(const std::string& prefix) const { return FindMatching(prefix) >= 0; }
    // Lines of one level ("info", "warning", ...).
    int CountLevel(const std::string& level) const {
        int count = 0;
        for (const std::string& line : lines()) {
            count += line.rfind(level + " ", 0) == 0 ? 1 : 0;
        }
        return count;
    }
    std::string Dump() const {
        std::string text;
        for (const std::string& line : lines()) {
            text += line + "\n";
        }
        return text;
    }

  private:
    std::shared_ptr<CapturingSink> sink_;
    std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace tavo::test
