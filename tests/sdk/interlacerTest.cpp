// The interlacer's side of the SDK: construction, thread binding, the frame skeleton with its
// face refresh, the no-face state and backlight policy, and the pause handshake.
#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "opengl/eglContext.h"
#include "sdk/sdkTestSupport.h"
#include "tavo/opengl/glLoader.h"

namespace tavo::sdk {
namespace {

using namespace std::chrono_literals;
using test::Access;

class InterlacerTest : public test::SdkTest {
  protected:
    void SetUp() override {
        test::SdkTest::SetUp();
        InitializeWithoutTracking();
        interlacer_ = sdk_->CreateNewThreadedInterlacer({});
    }

    // A still face handed in on a clock the platform cannot compare, so no latency is added.
    void HandInFace(float z) {
        const head::MovingPoint face{{10.0f, -5.0f, z}, {0.1f, 0.0f, 0.0f}};
        const Timestamp stamp{Timestamp::Space::Unknown, 0.0};
        sdk_->SetPrimaryFace(&face, &stamp);
    }

    ThreadedInterlacer* interlacer_ = nullptr;
};

TEST_F(InterlacerTest, AFreshInterlacerStartsItsClocksAndShowsTwoViews) {
    const int64_t created = interlacer_->creationTime();
    EXPECT_LE(created, SteadyNowNs());
    EXPECT_EQ(interlacer_->lastFaceTime(), created);
    EXPECT_EQ(interlacer_->lastRenderTime(), created);
    // Stereo Sliding, whatever the panel offers.
    EXPECT_EQ(sdk_->GetNumViews(), 12);
    EXPECT_EQ(interlacer_->GetNumViews(), 2);
    EXPECT_FALSE(interlacer_->IsOnSameThread(std::this_thread::get_id()));
    EXPECT_FALSE(interlacer_->IsInNoFaceState(SteadyNowNs())) << "younger than the threshold";
}

TEST_F(InterlacerTest, BindingFollowsTheCallingThread) {
    std::thread render([this] { Access::Bind(*interlacer_); });
    const std::thread::id renderId = render.get_id();
    render.join();
    EXPECT_TRUE(interlacer_->IsOnSameThread(renderId));
    EXPECT_FALSE(interlacer_->IsOnSameThread(std::this_thread::get_id()));
}

TEST_F(InterlacerTest, InitOnDesiredThreadLoadsOpenGLAndBindsTheThread) {
    tavo::test::EglContext context;
    if (!context.ok()) {
        FAIL() << "no OpenGL context: " << context.error();
    }
    interlacer_->InitOnDesiredThread();
    EXPECT_TRUE(interlacer_->IsOnSameThread(std::this_thread::get_id()));
    EXPECT_TRUE(OVR::GLEContext::GetCurrentContext()->IsInitialized());
}

TEST_F(InterlacerTest, AFrameRunsItsPassesWhileRenderingAndStampsTheRenderTime) {
    const int64_t before = SteadyNowNs();
    bool ran = false;
    bool renderingInside = false;
    Access::RunFrame(*interlacer_, [&] {
        ran = true;
        renderingInside = Access::rendering(*interlacer_);
    });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(renderingInside);
    EXPECT_FALSE(Access::rendering(*interlacer_));
    EXPECT_FALSE(Access::pauseAcknowledged(*interlacer_));
    EXPECT_GE(interlacer_->lastRenderTime(), before);
}

TEST_F(InterlacerTest, OnlyAFaceInTheUsableRangeRestartsTheNoFaceClock) {
    // With the default panel, k = 63 / z * 0.514634 * 3 / 0.08964: 600 mm gives 1.81 views
    // between the eyes, 1000 mm 1.09 (too far), 100 mm 10.9 (too close for 12 views).
    struct Case {
        float z;
        bool usable;
    };
    for (const Case& c :
         {Case{600.0f, true}, Case{300.0f, true}, Case{1000.0f, false}, Case{100.0f, false}}) {
        HandInFace(c.z);
        const int64_t before = interlacer_->lastFaceTime();
        Access::RunFrame(*interlacer_);
        EXPECT_EQ(interlacer_->lastFaceTime() > before, c.usable) << c.z;
        EXPECT_EQ(Access::face(*interlacer_), glm::vec3(10.0f, -5.0f, c.z));
        // Predicted 40 ms (the configured delay) ahead.
        EXPECT_EQ(Access::predictedFace(*interlacer_), glm::vec3(14.0f, -5.0f, c.z));
    }

    // The lower bound is the SDK's range setting.
    impl().SetNoFaceRange(2.0);
    HandInFace(600.0f);
    int64_t before = interlacer_->lastFaceTime();
    Access::RunFrame(*interlacer_);
    EXPECT_EQ(interlacer_->lastFaceTime(), before);

    // Without a face the last one stays and the clock runs on.
    impl().SetNoFaceRange(1.4);
    sdk_->SetPrimaryFace(nullptr, nullptr);
    before = interlacer_->lastFaceTime();
    Access::RunFrame(*interlacer_);
    EXPECT_EQ(interlacer_->lastFaceTime(), before);
    EXPECT_EQ(Access::face(*interlacer_), glm::vec3(10.0f, -5.0f, 600.0f));
}

TEST_F(InterlacerTest, TheNoFaceStateNeedsEveryCondition) {
    impl().SetNoFaceTimeThreshold(0.1);
    std::this_thread::sleep_for(150ms);
    const int64_t now = SteadyNowNs();
    Access::SetLastRenderTime(*interlacer_, now);
    EXPECT_TRUE(interlacer_->IsInNoFaceState(now));

    // Not rendered within the last 1/30 s.
    EXPECT_FALSE(interlacer_->IsInNoFaceState(now + 34'000'000));
    EXPECT_TRUE(interlacer_->IsInNoFaceState(now + 33'000'000));
    // Policy off.
    impl().SetNoFaceModeEnabled(false);
    EXPECT_FALSE(interlacer_->IsInNoFaceState(now));
    impl().SetNoFaceModeEnabled(true);
    // A face seen within the threshold.
    interlacer_->ResetLastFaceTime(now - 50'000'000);
    EXPECT_FALSE(interlacer_->IsInNoFaceState(now));
    interlacer_->ResetLastFaceTime(now - 100'000'000);
    EXPECT_TRUE(interlacer_->IsInNoFaceState(now)) << "exactly the threshold counts";
    // Younger than the threshold.
    impl().SetNoFaceTimeThreshold(10.0);
    interlacer_->ResetLastFaceTime(now - 20'000'000'000);
    EXPECT_FALSE(interlacer_->IsInNoFaceState(now));
}

TEST_F(InterlacerTest, TheNoFacePolicySwitchesTheBacklightOffOnceAndOnWhenAFaceReturns) {
    impl().SetNoFaceTimeThreshold(0.1);
    sdk_->SetBacklight(true);
    ASSERT_TRUE(impl().backlightOn()) << log_.Dump();
    std::this_thread::sleep_for(150ms);

    Access::RunFrame(*interlacer_);
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode turning off backlight"), 1) << log_.Dump();
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode ForceSetBacklight forced off"), 1);
    EXPECT_FALSE(impl().backlightOn());
    EXPECT_TRUE(impl().noFaceBacklightOff());
    Access::RunFrame(*interlacer_);
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode turning off backlight"), 1);

    // Held off by the policy, the host cannot switch it on.
    sdk_->SetBacklight(true);
    EXPECT_FALSE(impl().backlightOn());

    HandInFace(600.0f);
    Access::RunFrame(*interlacer_);
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode attempting to to turn on"), 1)
        << log_.Dump();
    EXPECT_TRUE(impl().backlightOn());
    EXPECT_FALSE(impl().noFaceBacklightOff());
    Access::RunFrame(*interlacer_);
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode ForceSetBacklight forced on"), 2);
}

TEST_F(InterlacerTest, TheBacklightPolicyWaitsForTheThresholdAge) {
    sdk_->SetBacklight(true);
    // Young interlacer, default 3 s threshold: nothing happens although no face was seen.
    Access::RunFrame(*interlacer_);
    EXPECT_TRUE(impl().backlightOn());
    EXPECT_FALSE(log_.HasLineStartingWith("info [TavoSDK] NoFaceMode turning off"));
}

TEST_F(InterlacerTest, ARequestedPauseHoldsTheNextFrameUntilWithdrawn) {
    Access::RequestPause(*interlacer_);
    EXPECT_TRUE(Access::CheckPause(*interlacer_)) << "not rendering: acknowledged at once";
    std::atomic<bool> ran{false};
    std::thread render([&] {
        Access::Bind(*interlacer_);
        Access::RunFrame(*interlacer_, [&] { ran = true; });
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(ran.load());
    EXPECT_TRUE(Access::pauseAcknowledged(*interlacer_));
    EXPECT_FALSE(Access::rendering(*interlacer_));
    Access::WithdrawPause(*interlacer_);
    render.join();
    EXPECT_TRUE(ran.load());
    EXPECT_FALSE(Access::pauseAcknowledged(*interlacer_));
}

TEST_F(InterlacerTest, APauseRequestedDuringAFrameIsAcknowledgedAtItsEnd) {
    std::promise<void> entered;
    std::promise<void> release;
    std::thread render([&] {
        Access::Bind(*interlacer_);
        Access::RunFrame(*interlacer_, [&] {
            entered.set_value();
            release.get_future().wait();
        });
    });
    entered.get_future().wait();
    Access::RequestPause(*interlacer_);
    EXPECT_FALSE(Access::CheckPause(*interlacer_));
    release.set_value();
    render.join();
    EXPECT_TRUE(Access::pauseAcknowledged(*interlacer_)) << "copied from the request";
    EXPECT_TRUE(Access::CheckPause(*interlacer_));
    Access::WithdrawPause(*interlacer_);
}

TEST_F(InterlacerTest, SetConfigWaitsForARunningFrame) {
    std::promise<void> entered;
    std::promise<void> release;
    float delayAtStart = 0.0f;
    float delayAtEnd = 0.0f;
    std::thread render([&] {
        Access::Bind(*interlacer_);
        Access::RunFrame(*interlacer_, [&] {
            delayAtStart = impl().config().faceDelay;
            entered.set_value();
            release.get_future().wait();
            delayAtEnd = impl().config().faceDelay;
        });
    });
    entered.get_future().wait();

    std::atomic<bool> replaced{false};
    std::thread host([&] {
        device::Config config = sdk_->GetConfig();
        config.faceDelay = 5.0f;
        ::testing::internal::CaptureStdout();
        sdk_->SetConfig(config);
        ::testing::internal::GetCapturedStdout();
        replaced = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(replaced.load());
    release.set_value();
    render.join();
    host.join();
    EXPECT_TRUE(replaced.load());
    EXPECT_EQ(delayAtStart, 40.0f);
    EXPECT_EQ(delayAtEnd, 40.0f);
    EXPECT_EQ(sdk_->GetConfig().faceDelay, 5.0f);
    EXPECT_FALSE(Access::pauseRequested(*interlacer_));

    // The next frame runs at once and sees the new configuration.
    float delayNext = 0.0f;
    Access::RunFrame(*interlacer_, [&] { delayNext = impl().config().faceDelay; });
    EXPECT_EQ(delayNext, 5.0f);
}

TEST_F(InterlacerTest, SetConfigFromInsideItsOwnFrameDoesNotWaitForItself) {
    ThreadedInterlacer* idle = sdk_->CreateNewThreadedInterlacer({});
    bool done = false;
    Access::Bind(*interlacer_);
    Access::RunFrame(*interlacer_, [&] {
        device::Config config = sdk_->GetConfig();
        config.n = 1.5f;
        ::testing::internal::CaptureStdout();
        sdk_->SetConfig(config);
        ::testing::internal::GetCapturedStdout();
        done = true;
    });
    EXPECT_TRUE(done);
    EXPECT_EQ(sdk_->GetConfig().n, 1.5f);
    EXPECT_FALSE(Access::pauseRequested(*idle));
}

TEST_F(InterlacerTest, AThrowingPassLeavesTheFrameProperly) {
    Access::Bind(*interlacer_);
    EXPECT_THROW(Access::RunFrame(*interlacer_, [] { throw std::runtime_error("pass failed"); }),
                 std::runtime_error);
    EXPECT_FALSE(Access::rendering(*interlacer_));
    // Another thread's configuration change is not held up by the failed frame.
    auto change = std::async(std::launch::async, [this] {
        ::testing::internal::CaptureStdout();
        sdk_->SetConfig(sdk_->GetConfig());
        ::testing::internal::GetCapturedStdout();
    });
    EXPECT_EQ(change.wait_for(5s), std::future_status::ready);
    change.get();
    // And the mutex was released: the next frame runs.
    bool ran = false;
    Access::RunFrame(*interlacer_, [&] { ran = true; });
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace tavo::sdk
