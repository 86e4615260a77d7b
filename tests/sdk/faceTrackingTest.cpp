// The face tracking service: face queries and prediction, starting and stopping the engine,
// frames from a host camera through the scripted detector, the callback and profiling.
#include "tavo/sdk/faceTracking.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "sdk/faceTrackingTestSupport.h"
#include "tavo/common/exception.h"
#include "tavo/headTracking/engine/engine.h"
#include "tavo/sdk/faceTrackingCallback.h"
#include "threadTestSupport.h"

namespace tavo::sdk {
namespace {

using test::HostCamera;
using test::LogCapture;
using test::Near;
using test::TestPlatform;

constexpr double kStartMs = 1'700'000'000'000.0;

Timestamp SystemTime(double ms) {
    return Timestamp{Timestamp::Space::System, ms};
}

class FaceQueries : public ::testing::Test {
  protected:
    test::FakeCameraBus bus_{false};
    LogCapture log_;
    TestPlatform platform_;
    FaceTracking tracking_;
};

TEST_F(FaceQueries, WithoutAFaceBothQueriesAnswerFalseAndLeaveTheOutputAlone) {
    glm::vec3 out(7.0f);
    EXPECT_FALSE(tracking_.GetNonPredictedPrimaryFace(out));
    EXPECT_FALSE(tracking_.GetPredictedPrimaryFace(platform_, 40.0f, out));
    EXPECT_EQ(out, glm::vec3(7.0f));
}

TEST_F(FaceQueries, SystemTimeStampsAddTheFrameAgeToTheDelay) {
    const head::MovingPoint face{{10.0f, 20.0f, 600.0f}, {0.1f, 0.0f, -0.02f}};
    const Timestamp stamp = SystemTime(kStartMs);
    tracking_.SetPrimaryFace(&face, &stamp);
    // 25 ms later, and the sub-microsecond part of the clock is dropped.
    platform_.nowNs = static_cast<int64_t>(kStartMs + 25.0) * 1'000'000 + 999;

    glm::vec3 predicted;
    ASSERT_TRUE(tracking_.GetPredictedPrimaryFace(platform_, 40.0f, predicted));
    EXPECT_FLOAT_EQ(predicted.x, 10.0f + 6.5f);
    EXPECT_FLOAT_EQ(predicted.y, 20.0f);
    EXPECT_FLOAT_EQ(predicted.z, 600.0f - 0.02f * 65.0f);
    EXPECT_EQ(log_.CountExact("debug [FaceTracking] Frame latency: 25"), 1) << log_.Dump();

    glm::vec3 delivered;
    ASSERT_TRUE(tracking_.GetNonPredictedPrimaryFace(delivered));
    EXPECT_EQ(delivered, face.position);
}

TEST_F(FaceQueries, FramesOnAnotherClockArePredictedWithTheDelayOnly) {
    const head::MovingPoint face{{-5.0f, 0.0f, 500.0f}, {0.1f, 0.2f, 0.0f}};
    const Timestamp stamp{Timestamp::Space::Unknown, 12.0};
    tracking_.SetPrimaryFace(&face, &stamp);
    platform_.nowNs = 5'000'000'000'000'000'000;

    glm::vec3 predicted;
    ASSERT_TRUE(tracking_.GetPredictedPrimaryFace(platform_, 40.0f, predicted));
    EXPECT_TRUE(Near(predicted, {-1.0f, 8.0f, 500.0f})) << predicted.x << " " << predicted.y;
    EXPECT_FALSE(log_.HasLineStartingWith("debug [FaceTracking] Frame latency")) << log_.Dump();
}

TEST_F(FaceQueries, AFaceHandedInWithoutItsPartsClearsTheFace) {
    const head::MovingPoint face{{1.0f, 2.0f, 3.0f}, {}};
    const Timestamp stamp = SystemTime(kStartMs);
    tracking_.SetPrimaryFace(&face, &stamp);
    glm::vec3 out;
    ASSERT_TRUE(tracking_.GetNonPredictedPrimaryFace(out));

    tracking_.SetPrimaryFace(&face, nullptr);
    EXPECT_FALSE(tracking_.GetNonPredictedPrimaryFace(out));
    tracking_.SetPrimaryFace(&face, &stamp);
    tracking_.SetPrimaryFace(nullptr, &stamp);
    EXPECT_FALSE(tracking_.GetPredictedPrimaryFace(platform_, 40.0f, out));
}

TEST_F(FaceQueries, WithoutAnEngineTheEngineQueriesHaveNeutralAnswers) {
    EXPECT_EQ(tracking_.GetCameraFps(), 0);
    EXPECT_FALSE(tracking_.SetCameraFps(30));
    EXPECT_TRUE(tracking_.GetSupportedCameraFps().empty());
    head::FrameProfiling profiling{1, 2, 3, 4};
    EXPECT_FALSE(tracking_.GetProfiling(profiling));
    tracking_.SetSupportedBackends(3u);
    EXPECT_EQ(tracking_.GetSupportedBackends(), 3u);
    // Stored for the next start; nothing to apply them to now.
    tracking_.SetRunning(false);
    tracking_.SetProfiling(true);
    tracking_.SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU);

    try {
        tracking_.GetFaceDetectorBackend();
        FAIL() << "expected an exception";
    } catch (const Exception& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind("Face tracking must be enabled to determine backend. in "
                                "tavo::sdk::FaceTracking::GetFaceDetectorBackend "
                                "tavo/sdk/faceTracking.cpp:",
                                0),
                  0u)
            << message;
    }
}

TEST_F(FaceQueries, StartWithoutAHostCameraNeedsADepthCamera) {
    ASSERT_FALSE(head::IsCameraConnected());
    EXPECT_FALSE(tracking_.Start(&platform_, nullptr, test::TrackingConfig()));
    EXPECT_EQ(log_.CountExact("info Starting face tracking"), 1);
    EXPECT_EQ(log_.CountExact("info [FaceTracking] using in-app implementation"), 1);
    EXPECT_TRUE(log_.HasLineStartingWith(
        "error Failed to initialize face tracking backend: camera is not connected in "
        "tavo::sdk::FaceTracking::InitBackend tavo/sdk/faceTracking.cpp:"))
        << log_.Dump();
    // Left stopped: no engine, no frame adapter.
    EXPECT_THROW(tracking_.GetFaceDetectorBackend(), Exception);
    head::FrameProfiling profiling;
    EXPECT_FALSE(tracking_.GetProfiling(profiling));
    // A failed start is not remembered as started.
    EXPECT_FALSE(tracking_.Start(&platform_, nullptr, test::TrackingConfig()));
    EXPECT_EQ(log_.CountExact("info Starting face tracking"), 2);
}

// Counts frames and keeps the face count of the last one; may block inside OnFrame.
class RecordingCallback final : public CTavoSDKFaceTrackingCallback {
  public:
    void OnFrame(const head::Frame& frame) override {
        lastFaceCount = frame.faces().size;
        frames.fetch_add(1);
        if (blockNext.exchange(false)) {
            entered.set_value();
            release.get_future().wait();
        }
    }

    std::atomic<int> frames{0};
    std::atomic<int64_t> lastFaceCount{-1};
    std::atomic<bool> blockNext{false};
    std::promise<void> entered;
    std::promise<void> release;
};

// The service over a real engine whose frames come from a host camera and whose detector is
// the scripted plug-in beside this test.
class FaceTrackingWithHostCamera : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(detector_.loaded()) << TAVO_SCRIPTED_PLUGIN;
        SetFaces({test::ScriptedFace()});
        config_ = test::TrackingConfig();
    }

    void TearDown() override { tracking_.Stop(); }

    test::FakeCameraBus bus_{false};

    // Detectors copy the script when they are made, so this applies from the next start.
    void SetFaces(std::vector<head::DetectedFace> faces) {
        ScriptedDetectorScript script;
        script.faces = std::move(faces);
        ASSERT_TRUE(detector_.SetScript(script));
    }

    bool StartWithCamera() {
        tracking_.SetSharedCameraSink(&camera_.sink);
        if (!tracking_.Start(&platform_, nullptr, config_)) {
            return false;
        }
        return camera_.PushIntrinsics();
    }

    // The tracker needs one frame to start its clock; the next carries faces.
    void PushFrames(int count) {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(camera_.PushFrame(SystemTime(frameMs_)));
            frameMs_ += 33.0;
        }
    }

    LogCapture log_;
    ScriptedDetectorControl detector_{TAVO_SCRIPTED_PLUGIN};
    TestPlatform platform_;
    HostCamera camera_;
    device::Config config_;
    FaceTracking tracking_;
    double frameMs_ = kStartMs;
};

TEST_F(FaceTrackingWithHostCamera, DeliversTheDetectedFaceInDisplaySpace) {
    ASSERT_TRUE(StartWithCamera()) << log_.Dump();
    // The host's camera needs no depth camera attached.
    EXPECT_FALSE(log_.HasLineStartingWith("error")) << log_.Dump();
    EXPECT_EQ(log_.CountExact("info Starting face tracking"), 1);
    EXPECT_EQ(tracking_.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);

    glm::vec3 out;
    PushFrames(1);
    EXPECT_FALSE(tracking_.GetNonPredictedPrimaryFace(out));
    PushFrames(1);
    ASSERT_TRUE(tracking_.GetNonPredictedPrimaryFace(out)) << log_.Dump();
    const glm::vec3 expected = test::ExpectedDisplayPosition(config_);
    EXPECT_TRUE(Near(out, expected, 0.01f))
        << out.x << ", " << out.y << ", " << out.z << " vs " << expected.x << ", " << expected.y
        << ", " << expected.z;

    // A face seen for the first time has no velocity yet: prediction is the position.
    const double lastFrameMs = frameMs_ - 33.0;
    platform_.nowNs = static_cast<int64_t>(lastFrameMs + 10.0) * 1'000'000;
    glm::vec3 predicted;
    ASSERT_TRUE(tracking_.GetPredictedPrimaryFace(platform_, 40.0f, predicted));
    EXPECT_TRUE(Near(predicted, out));
    EXPECT_EQ(log_.CountExact("debug [FaceTracking] Frame latency: 10"), 1) << log_.Dump();

    // Already started: nothing is rebuilt.
    EXPECT_TRUE(tracking_.Start(&platform_, nullptr, config_));
    EXPECT_EQ(log_.CountExact("info Starting face tracking"), 1);
    ASSERT_TRUE(tracking_.GetNonPredictedPrimaryFace(out));
}

TEST_F(FaceTrackingWithHostCamera, AFrameWithoutFacesClearsTheFace) {
    SetFaces({});
    ASSERT_TRUE(StartWithCamera()) << log_.Dump();
    const head::MovingPoint face{{1.0f, 2.0f, 3.0f}, {}};
    const Timestamp stamp = SystemTime(kStartMs);
    tracking_.SetPrimaryFace(&face, &stamp);
    glm::vec3 out(9.0f);
    ASSERT_TRUE(tracking_.GetNonPredictedPrimaryFace(out));

    PushFrames(3);
    EXPECT_FALSE(tracking_.GetNonPredictedPrimaryFace(out));
    EXPECT_FALSE(tracking_.GetPredictedPrimaryFace(platform_, 40.0f, out));
    EXPECT_EQ(out, face.position);
}

TEST_F(FaceTrackingWithHostCamera, PausingForgetsTheFaceUntilTheEngineSeesOneAgain) {
    ASSERT_TRUE(StartWithCamera()) << log_.Dump();
    PushFrames(2);
    glm::vec3 out;
    ASSERT_TRUE(tracking_.GetNonPredictedPrimaryFace(out)) << log_.Dump();

    tracking_.SetRunning(false);
    EXPECT_FALSE(tracking_.GetNonPredictedPrimaryFace(out));
    // The paused engine ignores what the host camera still sends.
    PushFrames(3);
    EXPECT_FALSE(tracking_.GetNonPredictedPrimaryFace(out));

    tracking_.SetRunning(true);
    PushFrames(1);
    EXPECT_FALSE(tracking_.GetNonPredictedPrimaryFace(out));
    PushFrames(1);
    EXPECT_TRUE(tracking_.GetNonPredictedPrimaryFace(out)) << log_.Dump();
}

TEST_F(FaceTrackingWithHostCamera, StartingPausedBuildsTheEngineWithoutTracking) {
    tracking_.SetRunning(false);
    ASSERT_TRUE(StartWithCamera()) << log_.Dump();
    PushFrames(3);
    glm::vec3 out;
    EXPECT_FALSE(tracking_.GetNonPredictedPrimaryFace(out));
    tracking_.SetRunning(true);
    PushFrames(2);
    EXPECT_TRUE(tracking_.GetNonPredictedPrimaryFace(out)) << log_.Dump();
}

TEST_F(FaceTrackingWithHostCamera, StopForgetsTheHostCamera) {
    ASSERT_TRUE(StartWithCamera());
    tracking_.Stop();
    // The sink's members stay for pushes already under way; with the shared camera gone a push
    // reaches nothing.
    EXPECT_TRUE(camera_.PushFrame(SystemTime(kStartMs)));
    glm::vec3 out;
    EXPECT_FALSE(tracking_.GetNonPredictedPrimaryFace(out));
    EXPECT_THROW(tracking_.GetFaceDetectorBackend(), Exception);
    ASSERT_FALSE(head::IsCameraConnected());
    EXPECT_FALSE(tracking_.Start(&platform_, nullptr, config_));
    EXPECT_TRUE(log_.HasLineStartingWith(
        "error Failed to initialize face tracking backend: camera is not connected"));
    // Handed in again, it is used again.
    EXPECT_TRUE(StartWithCamera()) << log_.Dump();
}

TEST_F(FaceTrackingWithHostCamera, TheCallbackSeesEveryFrameUntilRemoved) {
    RecordingCallback callback;
    tracking_.SetCallback(&callback);
    ASSERT_TRUE(StartWithCamera());
    PushFrames(2);
    EXPECT_EQ(callback.frames.load(), 2);
    EXPECT_EQ(callback.lastFaceCount.load(), 1);

    tracking_.SetCallback(nullptr);
    PushFrames(2);
    EXPECT_EQ(callback.frames.load(), 2);
    glm::vec3 out;
    EXPECT_TRUE(tracking_.GetNonPredictedPrimaryFace(out));
}

TEST_F(FaceTrackingWithHostCamera, RemovingTheCallbackWaitsForARunningCall) {
    RecordingCallback callback;
    tracking_.SetCallback(&callback);
    ASSERT_TRUE(StartWithCamera());
    callback.blockNext = true;
    std::thread host([this] { PushFrames(1); });
    callback.entered.get_future().wait();

    // The callback runs outside the face lock: face queries go on meanwhile.
    const head::MovingPoint face{{1.0f, 2.0f, 3.0f}, {}};
    const Timestamp stamp = SystemTime(kStartMs);
    tracking_.SetPrimaryFace(&face, &stamp);
    glm::vec3 out;
    EXPECT_TRUE(tracking_.GetNonPredictedPrimaryFace(out));

    std::atomic<bool> removed{false};
    std::atomic<pid_t> removerId{0};
    std::thread remover([&] {
        removerId = tavo::test::CurrentThreadId();
        tracking_.SetCallback(nullptr);
        removed = true;
    });
    EXPECT_TRUE(tavo::test::WaitUntilAsleep(removerId, [&] { return removed.load(); }))
        << "the callback was removed while it ran";
    callback.release.set_value();
    remover.join();
    host.join();
    EXPECT_TRUE(removed.load());
    PushFrames(1);
    EXPECT_EQ(callback.frames.load(), 1);
}

TEST_F(FaceTrackingWithHostCamera, ProfilingComesFromTheLatestFrame) {
    ASSERT_TRUE(StartWithCamera());
    PushFrames(2);
    head::FrameProfiling profiling{1, 2, 3, 4};
    // Off: the engine measures nothing.
    EXPECT_FALSE(tracking_.GetProfiling(profiling));
    EXPECT_EQ(profiling.apiTimestamp, 0);

    tracking_.SetProfiling(true);
    platform_.nowNs = 1'700'000'000'123'000'000;
    PushFrames(1);
    ASSERT_TRUE(tracking_.GetProfiling(profiling)) << log_.Dump();
    EXPECT_EQ(profiling.apiTimestamp, 1'700'000'000'123'000'000);
    EXPECT_EQ(profiling.faceDetectorStartTime, 1'700'000'000'123'000'000);
    EXPECT_EQ(profiling.cameraExposureTime, static_cast<int64_t>((frameMs_ - 33.0) * 1'000'000));

    // Kept for the next engine.
    tracking_.Stop();
    ASSERT_TRUE(StartWithCamera());
    PushFrames(1);
    EXPECT_TRUE(tracking_.GetProfiling(profiling));
}

TEST_F(FaceTrackingWithHostCamera, TheBackendIsAskedForAtTheNextStart) {
    ASSERT_TRUE(StartWithCamera());
    // There is no GPU plug-in: the running engine keeps its detector.
    tracking_.SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU);
    EXPECT_EQ(tracking_.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);

    tracking_.Stop();
    EXPECT_FALSE(StartWithCamera());
    EXPECT_TRUE(
        log_.HasLineStartingWith("error Failed to initialize face tracking backend: Failed to "
                                 "create face detector"))
        << log_.Dump();

    tracking_.SetFaceDetectorBackend(kTavoFaceDetectorBackendCPU);
    ASSERT_TRUE(StartWithCamera()) << log_.Dump();
    EXPECT_EQ(tracking_.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);
}

}  // namespace
}  // namespace tavo::sdk
