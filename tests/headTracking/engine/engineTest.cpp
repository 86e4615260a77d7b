// The tracking engine through its interface: set-up errors, lazy and eager life cycles, setters
// reaching the frame thread, backend switches, virtual faces, frame errors and profiling.
#include "tavo/headTracking/engine/engine.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <glm/gtc/constants.hpp>
#include <glm/mat3x3.hpp>

#include "headTracking/engine/engineTestSupport.h"
#include "headTracking/engine/pluginLayout.h"
#include "headTracking/testCameraFrame.h"
#include "tavo/common/exception.h"
#include "tavo/common/paths.h"
#include "tavo/common/platform.h"
#include "tavo/common/utilities.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/headTracking/common/frameAdapter.h"

namespace tavo::head {
namespace {

namespace fs = std::filesystem;
using test::DeliveredFrame;
using test::FaceAt;
using test::LogCapture;
using test::ScriptedPlugins;
using test::TestCameraFrame;
using test::TestIntrinsics;

constexpr float kTolerance = 2.0f;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// A frame that remembers which camera-space points it was asked to project.
class RecordingFrame final : public TestCameraFrame {
  public:
    bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2& pixel,
                             float& depth) const override {
        projected.push_back(point);
        return TestCameraFrame::ProjectPointToPixel(point, pixel, depth);
    }
    mutable std::vector<glm::vec3> projected;
};

// A camera frame whose image query found nothing.
class ImagelessFrame final : public CameraFrame {
  public:
    Timestamp timestamp() const override { return {Timestamp::Space::System, 5.0}; }
    Slice<const ImageDesc> imageDescs() const override { return {}; }
    bool GetDepth(const glm::dvec2&, float&) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3&) const override {
        return false;
    }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2&, float&) const override { return false; }
};

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(plugins.loaded()) << "the scripted plug-ins are not beside the test";
        plugins.cpuScript.faces = {FaceAt({0.0f, 0.0f, 1000.0f})};
        plugins.gpuScript.faces = {FaceAt({-150.0f, 0.0f, 1000.0f}),
                                   FaceAt({150.0f, 0.0f, 1000.0f})};
        plugins.Apply();
        platform = Platform::Create(PlatformInitArgs{});
    }

    // An engine over the test's shared camera sink that records every frame callback.
    EngineInitArgs Args(bool lazy = false) {
        EngineInitArgs args;
        args.configuration.initializeFaceDetectorLazily = lazy;
        args.platform = platform.get();
        args.sharedCameraSink = &sink;
        args.frameCallback = [this](const FaceTracker& tracker, const FaceDetector::Output& output,
                                    const CameraFrame& frame) {
            delivered.Record(tracker, output, frame);
        };
        return args;
    }

    // Delivers the next test frame, 11 ms after the previous one, as the camera would.
    void Deliver(Engine& engine, TestCameraFrame& frame) {
        frame.stamp.ms = nextMs;
        nextMs += 11.0;
        engine.OnCameraFrameAvailable(nullptr, frame);
    }
    void Deliver(Engine& engine, int count = 1) {
        for (int i = 0; i < count; ++i) {
            Deliver(engine, frame);
        }
    }
    // Pushes one image through the shared camera sink.
    void Push() {
        ASSERT_TRUE(sink.onCameraFrame);
        sink.onCameraFrame(ImageDesc{2000, 2000, 0, pixels.data()},
                           Timestamp{Timestamp::Space::System, nextMs});
        nextMs += 11.0;
    }

    ScriptedPlugins plugins;
    std::unique_ptr<Platform> platform;
    SharedCameraSink sink;
    DeliveredFrame delivered;
    TestCameraFrame frame;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(2000 * 2000, 0);
    double nextMs = 1000.0;
};

// ---------------------------------------------------------------------------------------------
// Construction

TEST_F(EngineTest, ConstructionNeedsAPlatform) {
    EngineInitArgs args = Args();
    args.platform = nullptr;
    try {
        Engine engine(args);
        FAIL() << "constructed without a platform";
    } catch (const Exception& error) {
        EXPECT_TRUE(StartsWith(error.what(),
                               "Unexpected EngineInitArgs arguments: platform is not set. in "
                               "tavo::head::Engine::Engine tavo/headTracking/engine/engine.cpp:"))
            << error.what();
    }
    EXPECT_FALSE(sink.onCameraFrame);
}

TEST_F(EngineTest, ConstructionNeedsACallbackOrAnAdapter) {
    EngineInitArgs args = Args();
    args.frameCallback = nullptr;
    try {
        Engine engine(args);
        FAIL() << "constructed without a way to deliver frames";
    } catch (const Exception& error) {
        EXPECT_TRUE(StartsWith(error.what(),
                               "Unexpected EngineInitArgs arguments: neither frameCallback nor "
                               "frameAdapter are specified. At least one should be. in "
                               "tavo::head::Engine::Engine "
                               "tavo/headTracking/engine/engine.cpp:"))
            << error.what();
    }
    FrameAdapter adapter(nullptr, true);
    args.frameAdapter = &adapter;
    EXPECT_NO_THROW(Engine{args});
}

TEST_F(EngineTest, UnusableDetectorAtConstructionThrowsAndLeavesNothingRunning) {
    plugins.cpuScript.failCreate = true;
    plugins.Apply();
    try {
        Engine engine(Args());
        FAIL() << "constructed without a detector";
    } catch (const Exception& error) {
        EXPECT_TRUE(StartsWith(error.what(),
                               "Failed to create face detector in tavo::head::Engine::Engine "
                               "tavo/headTracking/engine/engine.cpp:"))
            << error.what();
    }
    // The shared camera made before the detector is gone again: a push reaches nothing.
    Push();
    sink.onCameraIntrinsics(TestIntrinsics());
    EXPECT_EQ(delivered.calls, 0);
}

TEST_F(EngineTest, ChoosesTheFirstSupportedBackendAndLogsItsSetUp) {
    LogCapture log;
    EngineInitArgs args = Args();
    args.configuration.faceDetector.maxNumOfFaces = 2;
    Engine engine(args);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);
    EXPECT_EQ(engine.GetMaxNumOfDetectedFacesLimit(), 4);
    EXPECT_EQ(log.CountExact("info [Engine] Initialized: with shared camera"), 1) << log.Dump();
    // The configuration as the caller gave it, before the detector's maximum is taken over.
    EXPECT_EQ(
        log.CountExact("info [Engine] configuration: " + fmt::format("{}", args.configuration)), 1)
        << log.Dump();
    EXPECT_TRUE(log.Contains("faceDetector={.maxNumOfFaces=2}"));
    // A shared camera is the only camera: nothing tried to open a RealSense device.
    EXPECT_FALSE(log.Contains("RealsenseCamera"));
}

TEST_F(EngineTest, AGivenBackendIsNotProbed) {
    LogCapture log;
    EngineInitArgs args = Args();
    args.configuration.faceDetector.backend = kTavoFaceDetectorBackendGPU;
    Engine engine(args);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendGPU);
    EXPECT_FALSE(log.Contains("tavoHeadTrackingBlinkDetectorcpu")) << log.Dump();
}

TEST_F(EngineTest, DetectorMaximumBecomesTheEnginesAndIsPassedBackOnTheFirstFrame) {
    EngineInitArgs args = Args();
    args.configuration.faceDetector.maxNumOfFaces = 2;
    Engine engine(args);
    ASSERT_TRUE(engine.StartTracking());
    EXPECT_EQ(plugins.cpuStats.setMaxNumOfFacesCalls.load(), 0);
    Deliver(engine);
    EXPECT_EQ(plugins.cpuStats.setMaxNumOfFacesCalls.load(), 1);
    EXPECT_EQ(plugins.cpuStats.lastMaxNumOfFaces.load(), 2);
    Deliver(engine, 2);
    EXPECT_EQ(plugins.cpuStats.setMaxNumOfFacesCalls.load(), 1);
}

// A plug-in that returns more faces than it was told, or that honoured a wish beyond its
// limit, must not put more detections in a frame than the maximum: hosts size their records
// by it.
TEST_F(EngineTest, DetectorOutputIsCutToTheMaximum) {
    plugins.cpuScript.maxNumOfFacesLimit = 3;
    plugins.cpuScript.ignoreMaximum = true;
    plugins.cpuScript.faces.clear();
    for (int i = 0; i < 5; ++i) {
        plugins.cpuScript.faces.push_back(FaceAt({-400.0f + 200.0f * i, 0.0f, 1000.0f}));
    }
    plugins.Apply();
    const struct {
        int32_t wish;
        int32_t setLater;
        size_t expected;
    } cases[] = {{0, 0, 3}, {2, 0, 2}, {10, 0, 3}, {0, 1, 1}};
    for (const auto& c : cases) {
        EngineInitArgs args = Args();
        args.configuration.faceDetector.maxNumOfFaces = c.wish;
        Engine engine(args);
        if (c.setLater > 0) {
            engine.SetMaxNumOfDetectedFaces(c.setLater);
        }
        ASSERT_TRUE(engine.StartTracking());
        Deliver(engine, 3);
        EXPECT_EQ(delivered.detected.size(), c.expected) << c.wish;
        EXPECT_EQ(delivered.rawFaces.size(), c.expected) << c.wish;
        EXPECT_LE(delivered.faces.size(), c.expected) << c.wish;
    }
}

// ---------------------------------------------------------------------------------------------
// Life cycle

TEST_F(EngineTest, StartAndStopAnswerOnlyOnce) {
    LogCapture log;
    Engine engine(Args());
    EXPECT_FALSE(engine.StopTracking());
    EXPECT_TRUE(engine.StartTracking());
    EXPECT_FALSE(engine.StartTracking());
    EXPECT_TRUE(engine.StopTracking());
    EXPECT_FALSE(engine.StopTracking());
    EXPECT_EQ(log.CountExact("debug [Engine] StartTracking"), 2);
    EXPECT_EQ(log.CountExact("debug [Engine] StartTracking({.androidSurface=0x0})"), 2);
    EXPECT_EQ(log.CountExact("debug [Engine] StopTracking"), 3);
    EXPECT_EQ(log.CountExact("trace [Engine] Tracking has been stopped"), 1);
    EXPECT_EQ(log.CountExact("debug [Engine] StartTracking({.androidSurface=0x2a})"), 0);
    engine.StartTracking(TrackingSessionInitArgs{42});
    EXPECT_EQ(log.CountExact("debug [Engine] StartTracking({.androidSurface=0x2a})"), 1);
}

TEST_F(EngineTest, FramesAreIgnoredUntilTrackingStartsAndAfterItStops) {
    Engine engine(Args());
    ASSERT_TRUE(sink.onCameraFrame);
    Push();
    Deliver(engine);
    EXPECT_EQ(delivered.calls, 0);
    EXPECT_EQ(plugins.cpuStats.detectCalls.load(), 0);

    ASSERT_TRUE(engine.StartTracking());
    Push();
    EXPECT_EQ(delivered.calls, 1);
    EXPECT_EQ(delivered.detected.size(), 1u);
    ASSERT_TRUE(engine.StopTracking());
    Push();
    EXPECT_EQ(delivered.calls, 1);
}

TEST_F(EngineTest, EagerEngineKeepsDetectorAndCameraAcrossSessions) {
    int deletes = 0;
    plugins.cpuScript.onDelete = [](void* context) { ++*static_cast<int*>(context); };
    plugins.cpuScript.context = &deletes;
    plugins.Apply();
    {
        Engine engine(Args());
        sink.onCameraIntrinsics(TestIntrinsics());
        EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);
        ASSERT_TRUE(engine.StartTracking());
        Push();
        ASSERT_TRUE(engine.StopTracking());
        EXPECT_EQ(deletes, 0);
        EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);
        EXPECT_TRUE(sink.onCameraFrame);
        ASSERT_TRUE(engine.StartTracking());
        Push();
        Push();
        EXPECT_EQ(delivered.calls, 3);
        EXPECT_EQ(delivered.faces.size(), 1u);
    }
    // Destroying the engine without stopping releases camera and detector; a push reaches
    // nothing.
    EXPECT_EQ(deletes, 1);
    Push();
    EXPECT_EQ(delivered.calls, 3);
}

TEST_F(EngineTest, LazyEngineMakesItsDetectorOnStartAndReleasesItOnStop) {
    int deletes = 0;
    plugins.cpuScript.onDelete = [](void* context) { ++*static_cast<int*>(context); };
    plugins.cpuScript.context = &deletes;
    plugins.Apply();
    Engine engine(Args(true));
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendUnknown);
    EXPECT_EQ(engine.GetMaxNumOfDetectedFacesLimit(), 0);
    // The shared camera exists from construction; its frames are ignored before the start.
    EXPECT_TRUE(sink.onCameraFrame);
    Push();
    EXPECT_EQ(delivered.calls, 0);

    ASSERT_TRUE(engine.StartTracking());
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);
    EXPECT_EQ(engine.GetMaxNumOfDetectedFacesLimit(), 4);
    Push();
    EXPECT_EQ(delivered.calls, 1);
    ASSERT_TRUE(engine.StopTracking());
    EXPECT_EQ(deletes, 1);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendUnknown);
}

TEST_F(EngineTest, LazyEngineWithSharedSinkMakesANewSharedCameraAfterAStop) {
    LogCapture log;
    Engine engine(Args(true));
    ASSERT_TRUE(engine.StartTracking());
    ASSERT_TRUE(engine.StopTracking());
    // The shared camera went with the stop (a push reaches nothing), and there is no camera to
    // ask.
    Push();
    EXPECT_EQ(delivered.calls, 0);
    EXPECT_EQ(engine.GetCameraFps(), 0);
    EXPECT_FALSE(engine.SetCameraFps(30));
    EXPECT_TRUE(engine.GetSupportedCameraFps().empty());

    // Starting again keeps taking the host's images instead of opening a RealSense camera.
    ASSERT_TRUE(engine.StartTracking());
    ASSERT_TRUE(sink.onCameraFrame);
    sink.onCameraIntrinsics(TestIntrinsics());
    Push();
    Push();
    EXPECT_EQ(delivered.calls, 2);
    // Shared frames cannot deproject: the tracker's pinhole fallback uses the pushed intrinsics.
    ASSERT_EQ(delivered.faces.size(), 1u);
    EXPECT_NEAR(delivered.faces[0].position.z, 1000.0f, kTolerance);
    EXPECT_FALSE(log.Contains("RealsenseCamera")) << log.Dump();
}

TEST_F(EngineTest, CameraCallsOfASharedCamera) {
    Engine engine(Args());
    EXPECT_EQ(engine.GetCameraFps(), 0);
    EXPECT_FALSE(engine.SetCameraFps(60));
    EXPECT_TRUE(engine.GetSupportedCameraFps().empty());
}

TEST_F(EngineTest, InvalidTrackerConfigurationFailsTheStartAndCanBeMended) {
    LogCapture log;
    Engine engine(Args());
    engine.SetTrackedEyes(false, false);
    try {
        engine.StartTracking();
        FAIL() << "started with an invalid tracker configuration";
    } catch (const Exception& error) {
        EXPECT_TRUE(StartsWith(error.what(),
                               "invalid configuration in "
                               "tavo::head::FaceTracker::FaceTracker"))
            << error.what();
        EXPECT_EQ(log.CountExact(std::string("error Failed to start tracking: one of components "
                                             "is corrupted - ") +
                                 error.what()),
                  1)
            << log.Dump();
    }
    // The failed start ran the stop, which found nothing to stop.
    EXPECT_EQ(log.CountExact("debug [Engine] StopTracking"), 1);
    EXPECT_EQ(log.Count("Tracking has been stopped"), 0);
    Push();
    EXPECT_EQ(delivered.calls, 0);

    engine.SetTrackedEyes(true, true);
    ASSERT_TRUE(engine.StartTracking());
    Push();
    EXPECT_EQ(delivered.calls, 1);
}

TEST_F(EngineTest, LazyStartWithoutAUsableDetectorFails) {
    LogCapture log;
    Engine engine(Args(true));
    plugins.cpuScript.failCreate = true;
    plugins.Apply();
    try {
        engine.StartTracking();
        FAIL() << "started without a detector";
    } catch (const Exception& error) {
        EXPECT_TRUE(StartsWith(error.what(),
                               "Failed to create face detector in "
                               "tavo::head::Engine::StartTracking "
                               "tavo/headTracking/engine/engine.cpp:"))
            << error.what();
    }
    EXPECT_TRUE(
        log.Contains("error Failed to start tracking: one of components is corrupted - "
                     "Failed to create face detector"));
    plugins.cpuScript.failCreate = false;
    plugins.Apply();
    EXPECT_TRUE(engine.StartTracking());
}

// ---------------------------------------------------------------------------------------------
// Setters

TEST_F(EngineTest, CameraPoseSettersReachTheTrackerAtTheNextFrame) {
    LogCapture log;
    Engine engine(Args());
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine, 2);
    ASSERT_EQ(delivered.faces.size(), 1u);
    EXPECT_NEAR(delivered.faces[0].position.x, 0.0f, kTolerance);

    engine.SetCameraPosition(glm::vec3(100.0f, 20.0f, 0.0f));
    EXPECT_EQ(log.CountExact("trace [Engine] SetCameraPosition({100, 20, 0})"), 1);
    // The configuration change forgets the history: the next frame only starts the clock.
    Deliver(engine);
    EXPECT_EQ(delivered.configuration.cameraPosition, glm::vec3(100.0f, 20.0f, 0.0f));
    EXPECT_TRUE(delivered.faces.empty());
    Deliver(engine);
    ASSERT_EQ(delivered.faces.size(), 1u);
    EXPECT_NEAR(delivered.faces[0].position.x, 100.0f, kTolerance);
    EXPECT_NEAR(delivered.faces[0].position.y, 20.0f, kTolerance);

    engine.SetCameraRotation(1, 2, 3, 4, 5, 6, 7, 8, 9);
    EXPECT_EQ(log.CountExact("trace [Engine] SetCameraRotation({{1, 4, 7}, {2, 5, 8}, "
                             "{3, 6, 9}})"),
              1)
        << log.Dump();
    Deliver(engine);
    EXPECT_EQ(delivered.configuration.cameraRotation[0], glm::vec3(1.0f, 4.0f, 7.0f));
    EXPECT_EQ(delivered.configuration.cameraRotation[1], glm::vec3(2.0f, 5.0f, 8.0f));

    const glm::vec3 rotation(0.0f, 30.0f, 0.0f);
    engine.SetCameraTransform(glm::vec3(1.0f, 2.0f, 3.0f), rotation);
    EXPECT_TRUE(
        log.Contains("trace [Engine] SetCameraTransform(position={1, 2, 3}, "
                     "rotation={0, 30, 0})"));
    Deliver(engine);
    EXPECT_EQ(delivered.configuration.cameraPosition, glm::vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(delivered.configuration.cameraRotation,
              GetRotationMatFromRodriguesNotation(rotation));
}

TEST_F(EngineTest, EyeAndFilterSettersReachTheTracker) {
    LogCapture log;
    Engine engine(Args());
    ASSERT_TRUE(engine.StartTracking());
    engine.SetTrackedEyes(true, false);
    EXPECT_EQ(log.CountExact("trace [Engine] SetTrackedEyes(.l=true, .r=false)"), 1);
    FilterProperties properties;
    properties.bufferLim = 123.0f;
    engine.SetFilterProperties(properties);
    EXPECT_EQ(
        log.CountExact("trace [Engine] SetFilterProperties(" + fmt::format("{}", properties) + ")"),
        1);
    Deliver(engine, 2);
    EXPECT_TRUE(delivered.configuration.trackLeftEye);
    EXPECT_FALSE(delivered.configuration.trackRightEye);
    EXPECT_FLOAT_EQ(delivered.configuration.filterProperties.bufferLim, 123.0f);
    ASSERT_EQ(delivered.rawFaces.size(), 1u);
    EXPECT_EQ(delivered.rawFaces[0].trackedPoint, delivered.rawFaces[0].leftEye);
}

TEST_F(EngineTest, SettersMadeWhileStoppedApplyToTheNextSession) {
    Engine engine(Args());
    engine.SetCameraPosition(glm::vec3(0.0f, 0.0f, 50.0f));
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine, 2);
    EXPECT_EQ(delivered.configuration.cameraPosition, glm::vec3(0.0f, 0.0f, 50.0f));
    ASSERT_EQ(delivered.faces.size(), 1u);
    EXPECT_NEAR(delivered.faces[0].position.z, 1050.0f, kTolerance);
}

TEST_F(EngineTest, InvalidConfigurationDuringTrackingIsRefusedByTheTracker) {
    LogCapture log;
    Engine engine(Args());
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine, 2);
    engine.SetTrackedEyes(false, false);
    Deliver(engine, 2);
    EXPECT_EQ(log.CountExact("error [FaceTracker] UpdateConfiguration failed: invalid config"), 1)
        << log.Dump();
    EXPECT_TRUE(delivered.configuration.trackLeftEye);
    EXPECT_EQ(delivered.faces.size(), 1u);
}

TEST_F(EngineTest, MaxNumOfDetectedFacesRange) {
    plugins.cpuScript.maxNumOfFacesLimit = 3;
    plugins.Apply();
    Engine engine(Args());
    const auto expectRefused = [&](int32_t count, const std::string& message) {
        try {
            engine.SetMaxNumOfDetectedFaces(count);
            ADD_FAILURE() << count << " was accepted";
        } catch (const Exception& error) {
            EXPECT_TRUE(StartsWith(error.what(),
                                   message + " in tavo::head::Engine::SetMaxNumOfDetectedFaces "
                                             "tavo/headTracking/engine/engine.cpp:"))
                << error.what();
        }
    };
    expectRefused(0, "Invalid max num of detected faces: must be in [1; 3] range, got 0");
    expectRefused(-2, "Invalid max num of detected faces: must be in [1; 3] range, got -2");
    expectRefused(4, "Invalid max num of detected faces: must be in [1; 3] range, got 4");
    EXPECT_NO_THROW(engine.SetMaxNumOfDetectedFaces(1));
    EXPECT_NO_THROW(engine.SetMaxNumOfDetectedFaces(3));
}

TEST_F(EngineTest, MaxNumOfDetectedFacesWithoutADetectorIsAlwaysOutOfRange) {
    Engine engine(Args(true));
    for (const int32_t count : {1, 4}) {
        try {
            engine.SetMaxNumOfDetectedFaces(count);
            ADD_FAILURE() << count << " was accepted";
        } catch (const Exception& error) {
            EXPECT_TRUE(StartsWith(error.what(),
                                   fmt::format("Invalid max num of detected faces: must be in "
                                               "[1; 0] range, got {}",
                                               count)))
                << error.what();
        }
    }
}

TEST_F(EngineTest, MaxNumOfDetectedFacesReachesTheDetectorOnlyWhenItChanges) {
    LogCapture log;
    plugins.cpuScript.faces = {FaceAt({-200.0f, 0.0f, 1000.0f}), FaceAt({0.0f, 0.0f, 1000.0f}),
                               FaceAt({200.0f, 0.0f, 1000.0f})};
    plugins.cpuScript.maxNumOfFacesLimit = 3;
    plugins.Apply();
    Engine engine(Args());
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine);
    EXPECT_EQ(plugins.cpuStats.setMaxNumOfFacesCalls.load(), 1);
    EXPECT_EQ(delivered.detected.size(), 3u);

    // The current maximum: nothing to pass on.
    engine.SetMaxNumOfDetectedFaces(3);
    Deliver(engine);
    EXPECT_EQ(plugins.cpuStats.setMaxNumOfFacesCalls.load(), 1);

    engine.SetMaxNumOfDetectedFaces(2);
    EXPECT_EQ(log.CountExact("trace [Engine] SetMaxNumOfDetectedFaces(2)"), 1);
    EXPECT_EQ(plugins.cpuStats.setMaxNumOfFacesCalls.load(), 1);
    Deliver(engine);
    EXPECT_EQ(plugins.cpuStats.setMaxNumOfFacesCalls.load(), 2);
    EXPECT_EQ(plugins.cpuStats.lastMaxNumOfFaces.load(), 2);
    EXPECT_EQ(delivered.detected.size(), 2u);

    // Two changes before a frame: the last one wins, even when it is the detector's value.
    engine.SetMaxNumOfDetectedFaces(1);
    engine.SetMaxNumOfDetectedFaces(2);
    Deliver(engine);
    EXPECT_EQ(plugins.cpuStats.lastMaxNumOfFaces.load(), 2);
    EXPECT_EQ(delivered.detected.size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// Backend switches

TEST_F(EngineTest, UnknownBackendIsRefused) {
    LogCapture log;
    Engine engine(Args());
    EXPECT_FALSE(engine.SetFaceDetectorBackend(kTavoFaceDetectorBackendUnknown));
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);
    EXPECT_EQ(
        log.CountExact("trace [Engine] SetFaceDetectorBackend(kTavoFaceDetectorBackendUnknown)"),
        1);
    EXPECT_TRUE(engine.SetFaceDetectorBackend(kTavoFaceDetectorBackendCPU));
    EXPECT_EQ(log.CountExact("trace [Engine] SetFaceDetectorBackend(kTavoFaceDetectorBackendCPU)"),
              1);
}

TEST_F(EngineTest, SwitchWhileStoppedReplacesTheDetectorAtOnce) {
    int cpuDeletes = 0;
    plugins.cpuScript.onDelete = [](void* context) { ++*static_cast<int*>(context); };
    plugins.cpuScript.context = &cpuDeletes;
    plugins.Apply();
    Engine engine(Args());
    CameraIntrinsics intrinsics = TestIntrinsics();
    intrinsics.width = 1234;
    sink.onCameraIntrinsics(intrinsics);
    EXPECT_EQ(plugins.cpuStats.lastIntrinsicsWidth.load(), 1234);

    EXPECT_TRUE(engine.SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU));
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendGPU);
    EXPECT_EQ(cpuDeletes, 1);
    EXPECT_EQ(plugins.gpuStats.setCameraIntrinsicsCalls.load(), 1);
    EXPECT_EQ(plugins.gpuStats.lastIntrinsicsWidth.load(), 1234);
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine);
    EXPECT_EQ(delivered.detected.size(), 2u);
}

TEST_F(EngineTest, SwitchBeforeALazyStartChoosesTheBackendToMake) {
    Engine engine(Args(true));
    EXPECT_TRUE(engine.SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU));
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendUnknown);
    ASSERT_TRUE(engine.StartTracking());
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendGPU);
}

TEST_F(EngineTest, SwitchWhileTrackingIsTakenOverOnceByTheFrameThread) {
    int cpuDeletes = 0;
    plugins.cpuScript.onDelete = [](void* context) { ++*static_cast<int*>(context); };
    plugins.cpuScript.context = &cpuDeletes;
    plugins.Apply();
    Engine engine(Args());
    ASSERT_TRUE(engine.StartTracking());
    CameraIntrinsics intrinsics = TestIntrinsics();
    intrinsics.width = 777;
    engine.OnCameraIntrinsicsChange(nullptr, intrinsics);
    Deliver(engine);
    EXPECT_EQ(delivered.detected.size(), 1u);

    EXPECT_TRUE(engine.SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU));
    // Waiting for the frame thread.
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);
    EXPECT_EQ(plugins.gpuStats.setCameraIntrinsicsCalls.load(), 0);
    EXPECT_EQ(cpuDeletes, 0);

    Deliver(engine);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendGPU);
    EXPECT_EQ(delivered.detected.size(), 2u);
    EXPECT_EQ(cpuDeletes, 1);
    EXPECT_EQ(plugins.gpuStats.setCameraIntrinsicsCalls.load(), 1);
    EXPECT_EQ(plugins.gpuStats.lastIntrinsicsWidth.load(), 777);
    // The slot was emptied: later frames neither take over again nor repeat the intrinsics.
    Deliver(engine, 3);
    EXPECT_EQ(plugins.gpuStats.setCameraIntrinsicsCalls.load(), 1);
    EXPECT_EQ(plugins.gpuStats.detectCalls.load(), 4);
}

TEST_F(EngineTest, SwitchBackBeforeTheTakeOverKeepsTheRunningDetector) {
    int gpuDeletes = 0;
    plugins.gpuScript.onDelete = [](void* context) { ++*static_cast<int*>(context); };
    plugins.gpuScript.context = &gpuDeletes;
    plugins.Apply();
    Engine engine(Args());
    ASSERT_TRUE(engine.StartTracking());
    EXPECT_TRUE(engine.SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU));
    EXPECT_TRUE(engine.SetFaceDetectorBackend(kTavoFaceDetectorBackendCPU));
    EXPECT_EQ(gpuDeletes, 1);
    Deliver(engine, 2);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);
    EXPECT_EQ(plugins.gpuStats.detectCalls.load(), 0);
}

TEST_F(EngineTest, SwitchPendingAtStopTakesEffectThen) {
    Engine engine(Args());
    ASSERT_TRUE(engine.StartTracking());
    EXPECT_TRUE(engine.SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU));
    ASSERT_TRUE(engine.StopTracking());
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendGPU);
    EXPECT_EQ(plugins.gpuStats.setCameraIntrinsicsCalls.load(), 1);
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine);
    EXPECT_EQ(delivered.detected.size(), 2u);
    EXPECT_EQ(plugins.gpuStats.setCameraIntrinsicsCalls.load(), 1);
}

TEST_F(EngineTest, SwitchToAFailingPluginKeepsTheDetectorButRemembersTheBackend) {
    plugins.gpuScript.failCreate = true;
    plugins.Apply();
    Engine engine(Args(true));
    ASSERT_TRUE(engine.StartTracking());
    EXPECT_FALSE(engine.SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU));
    Deliver(engine);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);
    EXPECT_EQ(delivered.detected.size(), 1u);

    // The next detector the lazy engine makes is for the backend asked for last.
    ASSERT_TRUE(engine.StopTracking());
    plugins.gpuScript.failCreate = false;
    plugins.Apply();
    ASSERT_TRUE(engine.StartTracking());
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendGPU);
}

// ---------------------------------------------------------------------------------------------
// Virtual faces

class VirtualFaceTest : public EngineTest {
  protected:
    EngineInitArgs HookArgs(std::function<bool(VirtualFaceHookContext*)> hook) {
        EngineInitArgs args = Args();
        args.virtualFaceHook = std::move(hook);
        return args;
    }
};

TEST_F(VirtualFaceTest, ProjectsTheLeftEyeThenTheRightEyeFromDisplaySpace) {
    VirtualFaceHookContext seen;
    Engine engine(HookArgs([&](VirtualFaceHookContext* context) {
        seen = *context;
        context->faces[0] = VirtualFace{glm::vec3(100.0f, 0.0f, 600.0f), 64.0f};
        context->numFaces = 1;
        context->replaceDetectedFaces = true;
        return true;
    }));
    ASSERT_TRUE(engine.StartTracking());
    RecordingFrame recording;
    Deliver(engine, recording);

    EXPECT_EQ(seen.timestamp.ms, recording.stamp.ms);
    EXPECT_EQ(seen.numDetectedFaces, 1);
    EXPECT_EQ(seen.maxNumOfFaces, 4);
    ASSERT_EQ(recording.projected.size(), 2u);
    EXPECT_NEAR(recording.projected[0].x, -0.068f, 1e-6f);
    EXPECT_NEAR(recording.projected[0].y, 0.0f, 1e-6f);
    EXPECT_NEAR(recording.projected[0].z, 0.6f, 1e-6f);
    EXPECT_NEAR(recording.projected[1].x, -0.132f, 1e-6f);
    EXPECT_NEAR(recording.projected[1].z, 0.6f, 1e-6f);

    ASSERT_EQ(delivered.detected.size(), 1u);
    const DetectedFace& face = delivered.detected[0];
    EXPECT_EQ(face.leftEyePixel,
              TestCameraFrame::ProjectWith(TestIntrinsics(), recording.projected[0]));
    EXPECT_EQ(face.rightEyePixel,
              TestCameraFrame::ProjectWith(TestIntrinsics(), recording.projected[1]));
    EXPECT_FLOAT_EQ(face.leftEyeDepth, 0.6f);
    EXPECT_FLOAT_EQ(face.rightEyeDepth, 0.6f);
    EXPECT_EQ(face.auxiliary, glm::vec3(0.0f));
    EXPECT_EQ(face.angles, glm::vec3(0.0f));
}

TEST_F(VirtualFaceTest, UsesTheInverseOfTheCameraPose) {
    Engine engine(HookArgs([](VirtualFaceHookContext* context) {
        context->faces[0] = VirtualFace{glm::vec3(50.0f, 80.0f, 700.0f), 60.0f};
        context->numFaces = 1;
        context->replaceDetectedFaces = true;
        return true;
    }));
    // 30 degrees about y, row by row, and a camera 100 mm above the display's origin.
    const float c = std::cos(glm::radians(30.0f));
    const float s = std::sin(glm::radians(30.0f));
    engine.SetCameraRotation(c, 0, s, 0, 1, 0, -s, 0, c);
    engine.SetCameraPosition(glm::vec3(0.0f, 100.0f, 0.0f));
    ASSERT_TRUE(engine.StartTracking());
    RecordingFrame recording;
    Deliver(engine, recording);

    // Mirror x and y of the offset, then undo the rotation: its transpose.
    const glm::vec3 mirrored(-50.0f, 20.0f, 700.0f);
    const glm::vec3 camera(c * mirrored.x - s * mirrored.z, mirrored.y,
                           s * mirrored.x + c * mirrored.z);
    ASSERT_EQ(recording.projected.size(), 2u);
    const glm::vec3 midpoint = (recording.projected[0] + recording.projected[1]) / 2.0f;
    EXPECT_NEAR(midpoint.x * 1000.0f, camera.x, 1e-3f);
    EXPECT_NEAR(midpoint.y * 1000.0f, camera.y, 1e-3f);
    EXPECT_NEAR(midpoint.z * 1000.0f, camera.z, 1e-3f);
    EXPECT_NEAR((recording.projected[0].x - recording.projected[1].x) * 1000.0f, 60.0f, 1e-3f);
}

TEST_F(VirtualFaceTest, ExcessDetectorFacesGiveWay) {
    plugins.cpuScript.faces = {FaceAt({-200.0f, 0.0f, 1000.0f}), FaceAt({200.0f, 0.0f, 1000.0f})};
    plugins.cpuScript.maxNumOfFacesLimit = 3;
    plugins.Apply();
    int reported = 5;
    Engine engine(HookArgs([&](VirtualFaceHookContext* context) {
        // Room for the maximum only; the count reported may still be larger.
        for (int32_t i = 0; i < context->maxNumOfFaces; ++i) {
            context->faces[i] = VirtualFace{
                glm::vec3(-150.0f + 150.0f * static_cast<float>(i), 0.0f, 600.0f), 60.0f};
        }
        context->numFaces = reported;
        return true;
    }));
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine);
    ASSERT_EQ(delivered.detected.size(), 3u);
    for (const DetectedFace& face : delivered.detected) {
        EXPECT_FLOAT_EQ(face.leftEyeDepth, 0.6f);
    }

    // One virtual face fits beside the detector's faces.
    reported = 1;
    Deliver(engine);
    ASSERT_EQ(delivered.detected.size(), 3u);
    EXPECT_FLOAT_EQ(delivered.detected[0].leftEyeDepth, 1.0f);
    EXPECT_FLOAT_EQ(delivered.detected[1].leftEyeDepth, 1.0f);
    EXPECT_FLOAT_EQ(delivered.detected[2].leftEyeDepth, 0.6f);

    // Two virtual faces push one detector face out.
    reported = 2;
    Deliver(engine);
    ASSERT_EQ(delivered.detected.size(), 3u);
    EXPECT_FLOAT_EQ(delivered.detected[0].leftEyeDepth, 1.0f);
    EXPECT_FLOAT_EQ(delivered.detected[1].leftEyeDepth, 0.6f);
}

TEST_F(VirtualFaceTest, OneDetectedAndOneVirtualFaceBothStay) {
    plugins.cpuScript.maxNumOfFacesLimit = 3;
    plugins.Apply();
    Engine engine(HookArgs([](VirtualFaceHookContext* context) {
        context->faces[0] = VirtualFace{glm::vec3(300.0f, 0.0f, 800.0f), 60.0f};
        context->numFaces = 1;
        return true;
    }));
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine, 2);
    ASSERT_EQ(delivered.detected.size(), 2u);
    // Both are tracked; the virtual face in display space where the hook put it.
    ASSERT_EQ(delivered.faces.size(), 2u);
    bool foundVirtual = false;
    for (const Face& face : delivered.faces) {
        foundVirtual = foundVirtual || (std::abs(face.position.x - 300.0f) < kTolerance &&
                                        std::abs(face.position.z - 800.0f) < kTolerance);
    }
    EXPECT_TRUE(foundVirtual);
}

TEST_F(VirtualFaceTest, AHookThatDeclinesChangesNothing) {
    Engine engine(HookArgs([](VirtualFaceHookContext* context) {
        context->faces[0] = VirtualFace{glm::vec3(0.0f, 0.0f, 600.0f), 60.0f};
        context->numFaces = 1;
        context->replaceDetectedFaces = true;
        return false;
    }));
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine);
    ASSERT_EQ(delivered.detected.size(), 1u);
    EXPECT_FLOAT_EQ(delivered.detected[0].leftEyeDepth, 1.0f);
}

TEST_F(VirtualFaceTest, FacesThatCannotBeProjectedAddNothing) {
    Engine engine(HookArgs([](VirtualFaceHookContext* context) {
        // Behind the camera.
        context->faces[0] = VirtualFace{glm::vec3(0.0f, 0.0f, -600.0f), 60.0f};
        context->faces[1] = VirtualFace{glm::vec3(0.0f, 0.0f, 600.0f), 60.0f};
        context->numFaces = 2;
        context->replaceDetectedFaces = true;
        return true;
    }));
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine);
    ASSERT_EQ(delivered.detected.size(), 1u);
    EXPECT_FLOAT_EQ(delivered.detected[0].leftEyeDepth, 0.6f);
}

TEST_F(VirtualFaceTest, TheBufferFollowsTheMaximum) {
    int32_t largest = 0;
    Engine engine(HookArgs([&](VirtualFaceHookContext* context) {
        largest = context->maxNumOfFaces;
        // Writing every entry the engine promises room for.
        for (int32_t i = 0; i < context->maxNumOfFaces; ++i) {
            context->faces[i] = VirtualFace{glm::vec3(0.0f, 0.0f, 600.0f), 60.0f};
        }
        return false;
    }));
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine);
    EXPECT_EQ(largest, 4);
    engine.SetMaxNumOfDetectedFaces(2);
    Deliver(engine);
    EXPECT_EQ(largest, 2);
    engine.SetMaxNumOfDetectedFaces(4);
    Deliver(engine);
    EXPECT_EQ(largest, 4);
}

TEST_F(VirtualFaceTest, ASingularRotationAddsNoFaces) {
    Engine engine(HookArgs([](VirtualFaceHookContext* context) {
        context->faces[0] = VirtualFace{glm::vec3(0.0f, 0.0f, 600.0f), 60.0f};
        context->numFaces = 1;
        context->replaceDetectedFaces = true;
        return true;
    }));
    engine.SetCameraRotation(1, 2, 3, 4, 5, 6, 7, 8, 9);
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine);
    EXPECT_EQ(delivered.calls, 1);
    EXPECT_TRUE(delivered.detected.empty());
}

// ---------------------------------------------------------------------------------------------
// Frame errors, images and intrinsics

TEST_F(EngineTest, AFailedFrameIsLoggedAndTheNextOneIsProcessed) {
    LogCapture log;
    Engine engine(Args());
    ASSERT_TRUE(engine.StartTracking());
    plugins.cpuStats.failingDetects.store(1);
    Deliver(engine);
    EXPECT_EQ(delivered.calls, 0);
    EXPECT_EQ(log.CountExact("error Failed to process frame: scripted detection failure"), 1)
        << log.Dump();
    Deliver(engine);
    EXPECT_EQ(delivered.calls, 1);
}

TEST_F(EngineTest, FailuresOfTheHostsCodeAreFrameErrorsToo) {
    LogCapture log;
    bool hookThrows = true;
    bool adapterThrows = true;
    FrameAdapter adapter(
        [&](const Frame&) {
            if (adapterThrows) {
                throw std::runtime_error("adapter failure");
            }
        },
        true);
    EngineInitArgs args = Args();
    args.frameAdapter = &adapter;
    args.virtualFaceHook = [&](VirtualFaceHookContext*) {
        if (hookThrows) {
            throw std::runtime_error("hook failure");
        }
        return false;
    };
    Engine engine(args);
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine);
    hookThrows = false;
    Deliver(engine);
    adapterThrows = false;
    Deliver(engine);
    EXPECT_EQ(log.CountExact("error Failed to process frame: hook failure"), 1) << log.Dump();
    EXPECT_EQ(log.CountExact("error Failed to process frame: adapter failure"), 1) << log.Dump();
    // The callback ran before the adapter failed; the polled frame is the last good one.
    EXPECT_EQ(delivered.calls, 2);
    EXPECT_EQ(adapter.GetFrame().timestamp().ms, delivered.timestamp.ms);
}

TEST_F(EngineTest, FramesWithoutImagesAreSkippedWithOneWarningPerRun) {
    LogCapture log;
    Engine engine(Args());
    ASSERT_TRUE(engine.StartTracking());
    const ImagelessFrame imageless;
    for (int i = 0; i < 3; ++i) {
        engine.OnCameraFrameAvailable(nullptr, imageless);
    }
    EXPECT_EQ(plugins.cpuStats.detectCalls.load(), 0);
    EXPECT_EQ(delivered.calls, 0);
    const std::string warning =
        "warning [Engine] Camera frame {.space=Timestamp::Space::System, .ms=5} has no image; "
        "skipping frames without images";
    EXPECT_EQ(log.CountExact(warning), 1) << log.Dump();
    Deliver(engine);
    EXPECT_EQ(delivered.calls, 1);
    engine.OnCameraFrameAvailable(nullptr, imageless);
    engine.OnCameraFrameAvailable(nullptr, imageless);
    EXPECT_EQ(log.CountExact(warning), 2);
    EXPECT_EQ(log.CountExact("error Failed to process frame"), 0);
}

// A NaN time stamp once poisoned tracking for good; such frames are dropped with one
// (rate-limited) warning and tracking goes on with the next good frame.
TEST_F(EngineTest, FramesWithNonFiniteTimeStampsAreDroppedAndTrackingGoesOn) {
    LogCapture log;
    FrameAdapter adapter(nullptr, true);
    EngineInitArgs args = Args();
    args.frameAdapter = &adapter;
    Engine engine(args);
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine, 2);
    ASSERT_EQ(delivered.faces.size(), 1u);
    const int before = delivered.calls;
    for (const double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL, std::nan("")}) {
        frame.stamp.ms = bad;
        engine.OnCameraFrameAvailable(nullptr, frame);
    }
    EXPECT_EQ(delivered.calls, before);
    EXPECT_EQ(log.Count("[Engine] Dropped camera frame with a non-finite time stamp"), 3)
        << log.Dump();
    EXPECT_EQ(log.CountLevel("warning"), 3) << log.Dump();
    Deliver(engine, 2);
    ASSERT_EQ(delivered.faces.size(), 1u);
    const Face face = delivered.faces[0];
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_TRUE(std::isfinite(face.position[axis]));
        EXPECT_TRUE(std::isfinite(face.velocity[axis]));
    }
    EXPECT_TRUE(std::isfinite(adapter.GetFrame().timestamp().ms));
}

TEST_F(EngineTest, FrameAndIntrinsicsTraces) {
    LogCapture log;
    Engine engine(Args());
    sink.onCameraIntrinsics(TestIntrinsics());
    EXPECT_EQ(log.CountExact("trace [Engine] OnCameraIntrinsicsChange(" +
                             fmt::format("{}", TestIntrinsics()) + ")"),
              1)
        << log.Dump();
    frame.stamp.ms = 2.5;
    engine.OnCameraFrameAvailable(nullptr, frame);
    EXPECT_EQ(log.CountExact("trace [Engine] OnCameraFrameAvailable(" +
                             fmt::format("{}", static_cast<const CameraFrame&>(frame)) + ")"),
              1)
        << log.Dump();
}

TEST_F(EngineTest, IntrinsicsReachTrackerAndDetector) {
    Engine engine(Args());
    CameraIntrinsics intrinsics = TestIntrinsics();
    intrinsics.width = 2000;
    sink.onCameraIntrinsics(intrinsics);
    EXPECT_EQ(plugins.cpuStats.setCameraIntrinsicsCalls.load(), 1);
    // The tracker made at the start gets the stored intrinsics: shared frames cannot deproject.
    ASSERT_TRUE(engine.StartTracking());
    Push();
    Push();
    ASSERT_EQ(delivered.faces.size(), 1u);
    EXPECT_NEAR(delivered.faces[0].position.z, 1000.0f, kTolerance);
    // While tracking they reach both at once.
    CameraIntrinsics shifted = intrinsics;
    shifted.ppx = 900.0f;
    sink.onCameraIntrinsics(shifted);
    EXPECT_EQ(plugins.cpuStats.setCameraIntrinsicsCalls.load(), 2);
    Push();
    ASSERT_FALSE(delivered.faces.empty());
    EXPECT_NEAR(delivered.rawFaces[0].trackedPoint.x, 100.0f, kTolerance);
}

// ---------------------------------------------------------------------------------------------
// Frame adapter and profiling

TEST_F(EngineTest, TheFrameAdapterGetsTheTrackingFrame) {
    FrameAdapter adapter(nullptr, true);
    EngineInitArgs args = Args();
    args.frameCallback = nullptr;
    args.frameAdapter = &adapter;
    Engine engine(args);
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine);
    BufferedFrame first = adapter.GetFrame();
    EXPECT_TRUE(first.faces().empty());
    EXPECT_EQ(first.detectedFaces().size, 1);
    EXPECT_FALSE(first.faceEverTracked());
    Deliver(engine);
    const BufferedFrame polled = adapter.GetFrame();
    EXPECT_EQ(polled.timestamp().ms, frame.stamp.ms);
    EXPECT_EQ(polled.timestamp().space, Timestamp::Space::System);
    ASSERT_EQ(polled.faces().size, 1);
    EXPECT_NEAR(polled.faces()[0].position.z, 1000.0f, kTolerance);
    EXPECT_EQ(polled.rawFaces().size, 1);
    EXPECT_EQ(polled.detectedFaces().size, 1);
    EXPECT_TRUE(polled.faceEverTracked());
    EXPECT_EQ(polled.delay(), 0.0f);
    EXPECT_EQ(polled.profiling().faceDetectorStartTime, 0);
}

TEST_F(EngineTest, ProfilingTimesFramesForTheAdapter) {
    LogCapture log;
    FrameAdapter adapter(nullptr, true);
    EngineInitArgs args = Args();
    args.frameAdapter = &adapter;
    args.configuration.enableProfiling = true;
    Engine engine(args);
    ASSERT_TRUE(engine.StartTracking());
    const int64_t before = platform->GetTimeNs();
    frame.stamp.ms = 12.3456789;
    engine.OnCameraFrameAvailable(nullptr, frame);
    const int64_t after = platform->GetTimeNs();
    const FrameProfiling profiling = adapter.GetFrame().profiling();
    EXPECT_EQ(profiling.cameraExposureTime, 12345678);
    EXPECT_GE(profiling.faceDetectorStartTime, before);
    EXPECT_LE(profiling.faceDetectorStartTime, profiling.faceDetectorEndTime);
    EXPECT_LE(profiling.faceDetectorEndTime, profiling.apiTimestamp);
    EXPECT_LE(profiling.apiTimestamp, after);
    EXPECT_EQ(log.CountExact("debug [Engine] profiling=" + fmt::format("{}", profiling)), 1)
        << log.Dump();

    engine.SetProfiling(false);
    frame.stamp.ms = 30.0;
    engine.OnCameraFrameAvailable(nullptr, frame);
    const FrameProfiling off = adapter.GetFrame().profiling();
    EXPECT_EQ(off.cameraExposureTime, 0);
    EXPECT_EQ(off.faceDetectorStartTime, 0);
    EXPECT_EQ(off.apiTimestamp, 0);
    EXPECT_EQ(log.Count("[Engine] profiling="), 1);

    // A finite time stamp too large for nanoseconds in 64 bits must not reach an undefined
    // conversion: no exposure time.
    engine.SetProfiling(true);
    for (const double ms : {1e300, -1e300, 9.3e12}) {
        frame.stamp.ms = ms;
        engine.OnCameraFrameAvailable(nullptr, frame);
        EXPECT_EQ(adapter.GetFrame().timestamp().ms, ms);
        EXPECT_EQ(adapter.GetFrame().profiling().cameraExposureTime, 0) << ms;
    }
}

TEST_F(EngineTest, ProfilingWithoutAnAdapterTimesNothing) {
    LogCapture log;
    EngineInitArgs args = Args();
    args.configuration.enableProfiling = true;
    Engine engine(args);
    ASSERT_TRUE(engine.StartTracking());
    Deliver(engine, 3);
    EXPECT_EQ(delivered.calls, 3);
    EXPECT_FALSE(log.Contains("profiling")) << log.Dump();
}

// ---------------------------------------------------------------------------------------------
// Plug-in layouts: a copy of this program in a folder that holds only the plug-ins a case
// needs, run as a child process.

bool InChild() {
    return std::getenv("TAVO_ENGINE_LAYOUT_CHILD") != nullptr;
}

class EngineLayout : public tavo::test::PluginLayout {
  protected:
    EngineLayout()
        : PluginLayout("TAVO_ENGINE_LAYOUT_CHILD", "engineTest", "DISABLED_EngineLayoutChild") {}

    void PlaceGpu() {
        Place(TAVO_ENGINE_SCRIPTED_PLUGIN, "beside", "tavoHeadTrackingBlinkDetectorgpu.so");
    }
};

TEST_F(EngineLayout, OnlyTheGpuPluginPresent) {
    PlaceGpu();
    RunChild("OnlyTheGpuPluginPresent");
}

TEST_F(EngineLayout, NoPluginPresent) {
    RunChild("NoPluginPresent");
}

class DISABLED_EngineLayoutChild : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(InChild()) << "run only by the EngineLayout cases";
        platform = Platform::Create(PlatformInitArgs{});
        args.platform = platform.get();
        args.sharedCameraSink = &sink;
        args.frameAdapter = &adapter;
    }

    std::unique_ptr<Platform> platform;
    SharedCameraSink sink;
    FrameAdapter adapter{nullptr, true};
    EngineInitArgs args;
};

TEST_F(DISABLED_EngineLayoutChild, OnlyTheGpuPluginPresent) {
    Engine engine(args);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendGPU);
}

TEST_F(DISABLED_EngineLayoutChild, NoPluginPresent) {
    try {
        Engine engine(args);
        FAIL() << "constructed without plug-ins";
    } catch (const Exception& error) {
        EXPECT_TRUE(StartsWith(error.what(),
                               "No supported face detector backends has been found. Check "
                               "package integrity. in tavo::head::Engine::Engine "
                               "tavo/headTracking/engine/engine.cpp:"))
            << error.what();
    }
    EXPECT_FALSE(sink.onCameraFrame);
}

}  // namespace
}  // namespace tavo::head
