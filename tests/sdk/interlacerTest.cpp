// The interlacer's side of the SDK: construction, thread binding, the frame skeleton with its
// face refresh, the no-face state and backlight policy, and the pause for configuration changes.
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "opengl/eglContext.h"
#include "sdk/sdkTestSupport.h"
#include "tavo/opengl/glLoader.h"
#include "threadTestSupport.h"

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

TEST_F(InterlacerTest, AFrameRunsItsPassesAndStampsTheRenderTime) {
    const int64_t before = SteadyNowNs();
    bool ran = false;
    Access::RunFrame(*interlacer_, [&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_GE(interlacer_->lastRenderTime(), before);
}

TEST_F(InterlacerTest, OnlyAFaceInTheUsableRangeRestartsTheNoFaceClock) {
    // The faces are refreshed where the frame computes its parameters.
    Access::Bind(*interlacer_);
    TavoInterlaceParameters p;
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
        interlacer_->GetInterlaceParameters(p);
        EXPECT_EQ(interlacer_->lastFaceTime() > before, c.usable) << c.z;
        EXPECT_EQ(Access::face(*interlacer_), glm::vec3(10.0f, -5.0f, c.z));
        // Predicted 40 ms (the configured delay) ahead.
        EXPECT_EQ(Access::predictedFace(*interlacer_), glm::vec3(14.0f, -5.0f, c.z));
        EXPECT_EQ(glm::vec3(p.faceX, p.faceY, p.faceZ), glm::vec3(14.0f, -5.0f, c.z));
        EXPECT_EQ(glm::vec3(p.nonPredictedFaceX, p.nonPredictedFaceY, p.nonPredictedFaceZ),
                  glm::vec3(10.0f, -5.0f, c.z));
    }

    // The lower bound is the SDK's range setting.
    impl().SetNoFaceRange(2.0);
    HandInFace(600.0f);
    int64_t before = interlacer_->lastFaceTime();
    interlacer_->GetInterlaceParameters(p);
    EXPECT_EQ(interlacer_->lastFaceTime(), before);

    // Without a face the last one stays and the clock runs on.
    impl().SetNoFaceRange(1.4);
    sdk_->SetPrimaryFace(nullptr, nullptr);
    before = interlacer_->lastFaceTime();
    interlacer_->GetInterlaceParameters(p);
    EXPECT_EQ(interlacer_->lastFaceTime(), before);
    EXPECT_EQ(Access::face(*interlacer_), glm::vec3(10.0f, -5.0f, 600.0f));

    // A frame alone does not query the faces: the passes do.
    HandInFace(300.0f);
    Access::RunFrame(*interlacer_);
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
    Access::Bind(*interlacer_);
    Access::RunFrame(*interlacer_, [this] {
        TavoInterlaceParameters p;
        interlacer_->GetInterlaceParameters(p);
    });
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

// A change waits for the frame under way; a frame begun meanwhile, on another interlacer,
// waits for the change and sees the new configuration. Both wait asleep.
TEST_F(InterlacerTest, SetConfigWaitsForARunningFrameAndHoldsTheNextOneBack) {
    ThreadedInterlacer* second = sdk_->CreateNewThreadedInterlacer({});
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
    std::atomic<pid_t> hostId{0};
    tavo::test::ThreadUsageMeter changing;
    std::thread host([&] {
        hostId = tavo::test::CurrentThreadId();
        device::Config config = sdk_->GetConfig();
        config.faceDelay = 5.0f;
        changing = tavo::test::ThreadUsageMeter();
        sdk_->SetConfig(config);
        changing.Stop();
        replaced = true;
    });
    EXPECT_TRUE(tavo::test::WaitUntilAsleep(hostId, [&] { return replaced.load(); }))
        << "SetConfig went through during a frame";

    std::atomic<float> delayInSecond{0.0f};
    std::atomic<bool> secondRan{false};
    std::atomic<pid_t> secondId{0};
    tavo::test::ThreadUsageMeter heldBack;
    std::thread secondRender([&] {
        secondId = tavo::test::CurrentThreadId();
        Access::Bind(*second);
        heldBack = tavo::test::ThreadUsageMeter();
        Access::RunFrame(*second, [&] {
            delayInSecond = impl().config().faceDelay;
            secondRan = true;
        });
        heldBack.Stop();
    });
    EXPECT_TRUE(tavo::test::WaitUntilAsleep(secondId, [&] { return secondRan.load(); }))
        << "a frame ran during the change";
    EXPECT_EQ(delayInSecond.load(), 0.0f) << "a frame ran during the change";

    release.set_value();
    render.join();
    host.join();
    secondRender.join();
    EXPECT_TRUE(replaced.load());
    EXPECT_EQ(delayAtStart, 40.0f);
    EXPECT_EQ(delayAtEnd, 40.0f);
    EXPECT_EQ(delayInSecond.load(), 5.0f);
    EXPECT_EQ(sdk_->GetConfig().faceDelay, 5.0f);
    EXPECT_TRUE(changing.slept()) << "SetConfig while it waited: " << changing;
    EXPECT_TRUE(heldBack.slept()) << "the held-back frame while it waited: " << heldBack;

    // The next frame runs at once and sees the new configuration.
    float delayNext = 0.0f;
    Access::RunFrame(*interlacer_, [&] { delayNext = impl().config().faceDelay; });
    EXPECT_EQ(delayNext, 5.0f);
}

// A render thread's frame asks for what takes the interlacer list while another thread's
// SetConfig waits for that very frame (the debug menu's backlight button is such a call).
TEST_F(InterlacerTest, ListOperationsFromAFrameGoOnWhileAConfigurationChangeWaitsForIt) {
    ThreadedInterlacer* doomed = sdk_->CreateNewThreadedInterlacer({});
    std::promise<void> entered;
    std::promise<void> changing;
    ThreadedInterlacer* made = nullptr;
    std::atomic<pid_t> changeId{0};
    std::atomic<bool> changed{false};
    auto frame = std::async(std::launch::async, [&] {
        Access::Bind(*interlacer_);
        Access::RunFrame(*interlacer_, [&] {
            entered.set_value();
            changing.get_future().wait();
            // SetConfig is waiting for this frame now.
            EXPECT_TRUE(tavo::test::WaitUntilAsleep(changeId, [&] { return changed.load(); }));
            sdk_->SetBacklight(true);
            made = sdk_->CreateNewThreadedInterlacer({});
            sdk_->DestroyThreadedInterlacer(doomed);
            sdk_->StopTracking();
            sdk_->StartTracking();
        });
    });
    entered.get_future().wait();
    auto change = std::async(std::launch::async, [&] {
        changeId = tavo::test::CurrentThreadId();
        changing.set_value();
        device::Config config = sdk_->GetConfig();
        config.faceDelay = 7.0f;
        sdk_->SetConfig(config);
        changed = true;
    });
    tavo::test::FinishesWithin(frame, 10s, "the frame's list operations");
    tavo::test::FinishesWithin(change, 10s, "SetConfig");

    EXPECT_TRUE(impl().backlightOn());
    // The interlacer made during the change renders with the new configuration.
    float delay = 0.0f;
    std::thread([&] {
        Access::Bind(*made);
        Access::RunFrame(*made, [&] { delay = impl().config().faceDelay; });
    }).join();
    EXPECT_EQ(delay, 7.0f);
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
    // The pause is over: another interlacer's frame runs at once.
    bool ran = false;
    Access::RunFrame(*idle, [&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST_F(InterlacerTest, AThrowingPassLeavesTheFrameProperly) {
    Access::Bind(*interlacer_);
    EXPECT_THROW(Access::RunFrame(*interlacer_, [] { throw std::runtime_error("pass failed"); }),
                 std::runtime_error);
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

// Scale and offset of a transform, as the fit modes write them.
struct Placement {
    float sx, sy, ox, oy;
};

Placement PlacementOf(const glm::mat4& m) {
    return {m[0][0], m[1][1], m[3][0], m[3][1]};
}

void ExpectPlacement(const glm::mat4& m, const Placement& expected, const char* what) {
    const Placement actual = PlacementOf(m);
    EXPECT_FLOAT_EQ(actual.sx, expected.sx) << what;
    EXPECT_FLOAT_EQ(actual.sy, expected.sy) << what;
    EXPECT_FLOAT_EQ(actual.ox, expected.ox) << what;
    EXPECT_FLOAT_EQ(actual.oy, expected.oy) << what;
}

TEST_F(InterlacerTest, FitModesAndTheAspectOffsetPlaceTheImage) {
    Access::Bind(*interlacer_);
    const Placement identity{1.0f, 1.0f, 0.0f, 0.0f};
    struct Case {
        const char* name;
        eFitMode fit;
        float aspectOffset;
        int sourceWidth, sourceHeight;  // two views side by side (Stereo Sliding, N = 2)
        Placement texture, rect;
    };
    const Case cases[] = {
        // Output 1920 x 1080 (A = 1.778). Views 2000 x 1000 (a = 2): wider than the output.
        {"FitCenter wide",
         kFitModeFitCenter,
         0.0f,
         4000,
         1000,
         identity,
         {1.0f, 960.0f / 1080.0f, 0.0f, 60.0f / 1080.0f}},
        // Views 1000 x 1000: narrower, pillar-boxed.
        {"FitCenter narrow",
         kFitModeFitCenter,
         0.0f,
         2000,
         1000,
         identity,
         {1080.0f / 1920.0f, 1.0f, 420.0f / 1920.0f, 0.0f}},
        {"CropFill wide",
         kFitModeCropFill,
         0.0f,
         4000,
         1000,
         {(1920.0f / 1080.0f) / 2.0f, 1.0f, (1.0f - (1920.0f / 1080.0f) / 2.0f) * 0.5f, 0.0f},
         identity},
        {"CropFill narrow",
         kFitModeCropFill,
         0.0f,
         2000,
         1000,
         {1.0f, 1.0f / (1920.0f / 1080.0f), 0.0f, (1.0f - 1.0f / (1920.0f / 1080.0f)) * 0.5f},
         identity},
        // The square is the output's height, 1080.
        {"CropFitSquare",
         kFitModeCropFitSquare,
         0.0f,
         4000,
         1000,
         {0.5f, 1.0f, 0.25f, 0.0f},
         {1080.0f / 1920.0f, 1.0f, 420.0f / 1920.0f, 0.0f}},
        // Fill uses the panel (3840 x 2160) and the aspect offset: 0.5 gives 1440 rows.
        {"Fill, offset 0.5",
         kFitModeFill,
         0.5f,
         4000,
         1000,
         identity,
         {1.0f, 1440.0f / 2160.0f, 0.0f, 360.0f / 2160.0f}},
        {"Fill, offset -0.25",
         kFitModeFill,
         -0.25f,
         4000,
         1000,
         identity,
         {2880.0f / 3840.0f, 1.0f, 480.0f / 3840.0f, 0.0f}},
        {"Fill", kFitModeFill, 0.0f, 4000, 1000, identity, identity},
    };
    Access::SetInterlacedSize(*interlacer_, 1920, 1080);
    for (const Case& c : cases) {
        interlacer_->SetFitMode(c.fit);
        interlacer_->SetAspectRatioOffset(c.aspectOffset);
        interlacer_->SetSourceViewsSize(c.sourceWidth, c.sourceHeight, true);
        TavoInterlaceParameters p;
        interlacer_->GetInterlaceParameters(p);
        ExpectPlacement(p.textureTransform, c.texture, c.name);
        ExpectPlacement(p.rectTransform, c.rect, c.name);
    }

    // Stacked views divide the height instead.
    interlacer_->SetFitMode(kFitModeFitCenter);
    interlacer_->SetSourceViewsSize(1000, 2000, false);
    TavoInterlaceParameters p;
    interlacer_->GetInterlaceParameters(p);
    ExpectPlacement(p.rectTransform, {1080.0f / 1920.0f, 1.0f, 420.0f / 1920.0f, 0.0f}, "stacked");
}

TEST_F(InterlacerTest, ParametersCarryTheConfigurationAndTheSettings) {
    Access::Bind(*interlacer_);
    interlacer_->SetReconvergence(-0.25f);
    interlacer_->SetReconvergenceZoom(true, false);
    interlacer_->SetViewportPosition(7, 9);
    glm::mat4 custom(1.0f);
    custom[0][0] = 2.0f;
    custom[1][1] = 0.5f;
    interlacer_->SetCustomTextureMatrix(custom);
    sdk_->SetCenterView(6.5f);
    TavoInterlaceParameters p;
    interlacer_->GetInterlaceParameters(p);
    const device::Config& config = sdk_->GetConfig();
    EXPECT_EQ(p.hardwareViewsX, 12.0f);
    EXPECT_EQ(p.softwareViews, 2.0f);
    EXPECT_EQ(p.viewResX, 1280.0f);
    EXPECT_EQ(p.viewportX, 7.0f);
    EXPECT_EQ(p.viewportY, 9.0f);
    EXPECT_EQ(p.viewportWidth, 3840.0f);
    EXPECT_FLOAT_EQ(p.du, config.dotPitch.x / config.pOverDu);
    EXPECT_FLOAT_EQ(p.dv, config.dotPitch.x / config.pOverDv);
    EXPECT_FLOAT_EQ(p.s, config.s / (3840.0f * config.pOverDu));
    EXPECT_FLOAT_EQ(p.cos_theta, std::cos(config.theta / (3.0f * 2160.0f)));
    EXPECT_FLOAT_EQ(p.sin_theta, std::sin(config.theta / (3.0f * 2160.0f)));
    EXPECT_EQ(p.No, 6.5f);
    EXPECT_EQ(p.maxView, 11.0f);
    EXPECT_EQ(p.blendViews, 1);
    EXPECT_EQ(p.perPixelCorrection, 2);
    EXPECT_EQ(p.viewTextureType, 0);
    EXPECT_EQ(p.reconvergenceAmount, -0.25f);
    EXPECT_EQ(p.reconvergenceZoomX, 1.0f);
    EXPECT_EQ(p.reconvergenceZoomY, 0.0f);
    EXPECT_EQ(p.customTextureScaleX, 2.0f);
    EXPECT_EQ(p.customTextureScaleY, 0.5f);
    interlacer_->SetReconvergenceZoom(false, true);
    interlacer_->SetInterlaceViewTextureAtlas(5);
    interlacer_->GetInterlaceParameters(p);
    EXPECT_EQ(p.reconvergenceZoomX, 1.0f);
    EXPECT_EQ(p.reconvergenceZoomY, 1.0f);
    EXPECT_EQ(p.viewTextureType, 1);
}

TEST_F(InterlacerTest, ThePeelOffsetIsWholeOnlyInViewPeeling) {
    Access::Bind(*interlacer_);
    const head::MovingPoint face{{150.0f, 40.0f, 480.0f}, {0.0f, 0.0f, 0.0f}};
    const Timestamp stamp{Timestamp::Space::Unknown, 0.0};
    sdk_->SetPrimaryFace(&face, &stamp);
    const device::Config& config = sdk_->GetConfig();
    // The exact chief-ray offset at the panel centre, in view steps.
    const double n = config.n;
    const double r =
        std::sqrt((1.0 - 1.0 / (n * n)) * (150.0 * 150.0 + 40.0 * 40.0) + 480.0 * 480.0);
    const double du = config.dotPitch.x / config.pOverDu;
    const double dv = config.dotPitch.x / config.pOverDv;
    const double expected = config.dOverN * 150.0 / r / du + config.dOverN * 40.0 / r / dv;
    ASSERT_GT(std::fabs(expected - std::round(expected)), 0.05) << "pick a face off the grid";

    ::testing::internal::CaptureStdout();
    for (const eTavoInterlaceMode mode :
         {kTavoInterlaceModeViewSliding, kTavoInterlaceModeStereoSliding,
          kTavoInterlaceModeViewPeeling}) {
        interlacer_->SetInterlaceMode(mode);
        TavoInterlaceParameters p;
        interlacer_->GetInterlaceParameters(p);
        const double want = mode == kTavoInterlaceModeViewPeeling ? std::round(expected) : expected;
        EXPECT_NEAR(p.peelOffset, want, 1e-4) << ToUiStr(mode);
    }
    ::testing::internal::GetCapturedStdout();
}

TEST_F(InterlacerTest, ViewOffsetsFollowTheMode) {
    Access::Bind(*interlacer_);
    const head::MovingPoint face{{30.0f, -20.0f, 600.0f}, {0.0f, 0.0f, 0.0f}};
    const Timestamp stamp{Timestamp::Space::Unknown, 0.0};
    sdk_->SetPrimaryFace(&face, &stamp);
    sdk_->Tick(0.5f);  // gain max(1, 6 t) = 3
    const float unit = 0.01f / sdk_->GetConfig().dotPitch.y;
    // Stereo Sliding: the face moves both cameras; baseline 10 separates them.
    for (int view = 0; view < 2; ++view) {
        const glm::vec3 offset = interlacer_->GetViewOffset(view);
        EXPECT_FLOAT_EQ(offset.x, 30.0f * 3.0f * unit * 3.0f + (view - 0.5f) * 10.0f);
        EXPECT_FLOAT_EQ(offset.y, -20.0f * 3.0f * unit * 3.0f - 60.0f);
        EXPECT_EQ(offset.z, 0.0f);
    }
    ::testing::internal::CaptureStdout();
    interlacer_->SetInterlaceMode(kTavoInterlaceModeViewSliding);
    EXPECT_EQ(interlacer_->GetViewOffset(0), glm::vec3(-55.0f, 0.0f, 0.0f));
    EXPECT_EQ(interlacer_->GetViewOffset(11), glm::vec3(55.0f, 0.0f, 0.0f));
    interlacer_->SetInterlaceMode(kTavoInterlaceModeViewPeeling);
    TavoInterlaceParameters p;
    interlacer_->GetInterlaceParameters(p);
    EXPECT_EQ(interlacer_->GetViewOffset(3), glm::vec3((3.0f - 5.5f + p.peelOffset) * 10.0f, 0, 0));
    ::testing::internal::GetCapturedStdout();
}

TEST_F(InterlacerTest, TogglesCycleAndPrintTheStateLine) {
    Access::Bind(*interlacer_);
    EXPECT_EQ(interlacer_->GetInterlaceMode(), kTavoInterlaceModeStereoSliding);
    const eTavoInterlaceMode modes[] = {kTavoInterlaceModeViewPeeling,
                                        kTavoInterlaceModeViewSliding,
                                        kTavoInterlaceModeStereoSliding};
    const int views[] = {12, 12, 2};
    for (int i = 0; i < 3; ++i) {
        ::testing::internal::CaptureStdout();
        interlacer_->ToggleInterlaceMode(*sdk_);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(interlacer_->GetInterlaceMode(), modes[i]);
        EXPECT_EQ(interlacer_->GetNumViews(), views[i]);
        EXPECT_NE(out.find(std::string("Threaded Interlacer State: [") + ToUiStr(modes[i]) +
                           "] [Debug Off]"),
                  std::string::npos)
            << out;
    }
    for (int i = 1; i <= 9; ++i) {
        ::testing::internal::CaptureStdout();
        interlacer_->ToggleShaderDebugMode();
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(interlacer_->GetShaderDebugMode(), i % 9);
        EXPECT_EQ(out.rfind("Threaded Interlacer State: [Stereo Sliding] [", 0), 0u) << out;
    }
    ::testing::internal::CaptureStdout();
    interlacer_->SetShaderDebugMode(kTavoShaderDebugModeOff);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "unchanged: nothing printed";
    ::testing::internal::CaptureStdout();
    interlacer_->SetShaderDebugMode(kTavoShaderDebugModeStereoVideo);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Threaded Interlacer State: [Stereo Sliding] [Show Stereo Video]");
    EXPECT_STREQ(ToUiStr(kTavoShaderDebugModeStereoVideo), "Stereo Video");
    EXPECT_STREQ(ToUiStr(static_cast<eTavoShaderDebugMode>(9)), "Unknown");
    EXPECT_STREQ(ToUiStr(static_cast<eTavoInterlaceMode>(3)), "Unknown");
}

TEST_F(InterlacerTest, MarkedOperationsFromAnotherThreadThrowAndChangeNothing) {
    Access::Bind(*interlacer_);
    HandInFace(600.0f);  // a refresh would pick this up
    std::vector<std::string> messages;
    std::thread other([&] {
        auto attempt = [&](auto&& call) {
            try {
                call();
                messages.push_back("no exception");
            } catch (const Exception& e) {
                messages.push_back(e.what());
            }
        };
        TavoInterlaceParameters p;
        attempt([&] { interlacer_->GetInterlaceParameters(p); });
        attempt([&] { interlacer_->UpdateBuffers(2, kBufferTypeViews, 8, 8); });
        attempt([&] { interlacer_->OnWindowSizeChanged(8, 8); });
        attempt([&] { interlacer_->GetInterlaceShaderText(kTavoShaderTypeVertex); });
        attempt([&] { interlacer_->ApplyInterlacing(8, 8, false); });
        attempt([&] { interlacer_->ApplySharpening(8, 8); });
        attempt([&] { interlacer_->DoPostProcess(8, 8, false, 0); });
        attempt([&] { interlacer_->DoPostProcessPicture(8, 8, 1); });
        attempt([&] { interlacer_->GetViewOffset(0); });  // Stereo Sliding: no check
        attempt([&] { interlacer_->SetInterlaceMode(kTavoInterlaceModeViewSliding); });
    });
    other.join();
    ASSERT_EQ(messages.size(), 10u);
    const char* signatures[] = {
        "void tavo::sdk::ThreadedInterlacer::GetInterlaceParameters(tavo::sdk::"
        "TavoInterlaceParameters&) const being used on incorrect thread.",
        "bool tavo::sdk::ThreadedInterlacer::UpdateBuffers(int, tavo::sdk::eBufferType, int, "
        "int) being used on incorrect thread.",
        "void tavo::sdk::ThreadedInterlacer::OnWindowSizeChanged(int, int) being used on "
        "incorrect thread.",
        "std::string tavo::sdk::ThreadedInterlacer::GetInterlaceShaderText(tavo::sdk::"
        "eTavoShaderType) being used on incorrect thread.",
        "void tavo::sdk::ThreadedInterlacer::ApplyInterlacing(int, int, bool) being used on "
        "incorrect thread.",
        "void tavo::sdk::ThreadedInterlacer::ApplySharpening(int, int) being used on incorrect "
        "thread.",
        "void tavo::sdk::ThreadedInterlacer::DoPostProcess(int, int, bool, unsigned int) being "
        "used on incorrect thread.",
        "void tavo::sdk::ThreadedInterlacer::DoPostProcessPicture(int, int, unsigned int) being "
        "used on incorrect thread.",
    };
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(messages[i].rfind(signatures[i], 0), 0u) << messages[i];
        EXPECT_NE(messages[i].find("tavo/sdk/interlacer"), std::string::npos) << messages[i];
    }
    EXPECT_EQ(messages[8], "no exception");
    EXPECT_EQ(messages[9].rfind("Changing interlace mode from another thread that the "
                                "ThreadedInterlacer was initialized on is currently not "
                                "supported.",
                                0),
              0u)
        << messages[9];
    // Nothing moved: mode, debug mode, faces and targets are as before.
    EXPECT_EQ(interlacer_->GetInterlaceMode(), kTavoInterlaceModeStereoSliding);
    EXPECT_EQ(interlacer_->GetShaderDebugMode(), kTavoShaderDebugModeOff);
    EXPECT_EQ(Access::predictedFace(*interlacer_), glm::vec3(0.0f));
    EXPECT_EQ(Access::viewsCount(*interlacer_), 0);
}

}  // namespace
}  // namespace tavo::sdk
