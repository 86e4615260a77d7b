// Tests of the log rate limiter: first occurrence, counted repeats, periodic reports.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "logCapture.h"
#include "tavo/common/logRateLimiter.h"

namespace {

using namespace std::chrono_literals;

class LogRateLimiterTest : public ::testing::Test {
  protected:
    tavo::LogRateLimiter::Clock clock() {
        return [this] { return now_; };
    }
    void Advance(std::chrono::steady_clock::duration by) { now_ += by; }

    tavo::test::LogCapture capture_;
    std::chrono::steady_clock::time_point now_{};
};

TEST_F(LogRateLimiterTest, FloodGivesFirstLineThenOneCountPerInterval) {
    tavo::LogRateLimiter limiter(5s, clock());
    // 90 failures a second for 12 seconds.
    for (int frame = 0; frame < 90 * 12; ++frame) {
        limiter.Log(spdlog::level::err, "Failed to process frame: {}", "timeout");
        Advance(std::chrono::microseconds(11112));
    }
    const std::vector<std::string> expected = {
        "error Failed to process frame: timeout",
        "error Failed to process frame: timeout … repeated 450 times",
        "error Failed to process frame: timeout … repeated 450 times",
    };
    EXPECT_EQ(capture_.lines(), expected) << capture_.Dump();

    // The tail of the flood is told by Flush, once.
    limiter.Flush();
    limiter.Flush();
    EXPECT_EQ(capture_.Count("repeated"), 3);
    EXPECT_EQ(capture_.lines().back(),
              "error Failed to process frame: timeout … repeated 179 times");
}

TEST_F(LogRateLimiterTest, EachTextIsToldOnceAndQuietRestartsInFull) {
    tavo::LogRateLimiter limiter(2s, clock());
    limiter.Log(spdlog::level::err, "Failed to process frame: {}", "hook failure");
    limiter.Log(spdlog::level::err, "Failed to process frame: {}", "hook failure");
    // Another failure in the middle of the first one's flood still shows its text.
    limiter.Log(spdlog::level::err, "Failed to process frame: {}", "adapter failure");
    limiter.Log(spdlog::level::warn, "[Engine] frame {} dropped", "a");
    limiter.Log(spdlog::level::warn, "[Engine] frame {} dropped", "a");
    Advance(3s);
    limiter.Log(spdlog::level::warn, "[Engine] frame {} dropped", "a");
    // After an interval without repeats, the next one is a fresh first line.
    Advance(3s);
    limiter.Log(spdlog::level::warn, "[Engine] frame {} dropped", "a");
    limiter.Flush();
    const std::vector<std::string> expected = {
        "error Failed to process frame: hook failure",
        "error Failed to process frame: adapter failure",
        "warning [Engine] frame a dropped",
        "warning [Engine] frame a dropped … repeated 2 times",
        "warning [Engine] frame a dropped",
        "error Failed to process frame: hook failure … repeated 1 times",
    };
    EXPECT_EQ(capture_.lines(), expected) << capture_.Dump();
}

TEST_F(LogRateLimiterTest, ChangingTextsOfOneCallSiteCannotFloodEither) {
    tavo::LogRateLimiter limiter(5s, clock());
    for (int frame = 0; frame < 100; ++frame) {
        limiter.Log(spdlog::level::warn, "[Engine] frame {} dropped", frame);
    }
    limiter.Flush();
    std::vector<std::string> expected;
    for (int frame = 0; frame <= tavo::LogRateLimiter::kTextsPerFormat; ++frame) {
        expected.push_back(fmt::format("warning [Engine] frame {} dropped", frame));
    }
    expected.push_back(fmt::format("warning [Engine] frame {} dropped … repeated {} times",
                                   tavo::LogRateLimiter::kTextsPerFormat + 1,
                                   99 - tavo::LogRateLimiter::kTextsPerFormat));
    EXPECT_EQ(capture_.lines(), expected) << capture_.Dump();
}

TEST_F(LogRateLimiterTest, MessagesBelowTheLevelAreNeitherLoggedNorCounted) {
    tavo::LogRateLimiter limiter(1s, clock());
    spdlog::default_logger()->set_level(spdlog::level::err);
    limiter.Log(spdlog::level::warn, "[Engine] hidden {}", 1);
    limiter.Log(spdlog::level::warn, "[Engine] hidden {}", 2);
    limiter.Flush();
    EXPECT_TRUE(capture_.lines().empty()) << capture_.Dump();
}

TEST_F(LogRateLimiterTest, ThreadsLoggingAtOnceLoseNoCount) {
    tavo::LogRateLimiter limiter;  // the real clock: no interval passes during the test
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&limiter] {
            for (int i = 0; i < kEach; ++i) {
                limiter.Log(spdlog::level::err, "Failed to process frame: {}", "x");
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    limiter.Flush();
    const std::vector<std::string> expected = {
        "error Failed to process frame: x",
        "error Failed to process frame: x … repeated " + std::to_string(kThreads * kEach - 1) +
            " times",
    };
    EXPECT_EQ(capture_.lines(), expected) << capture_.Dump();
}

}  // namespace
