// The engine over the RealSense camera of the simulated device: host threads set, switch, poll,
// start and stop while the camera's capture thread delivers frames. Meant to run under
// ThreadSanitizer too.
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <librealsense2/simulation.h>

#include "headTracking/engine/engineTestSupport.h"
#include "headTracking/testCameraFrame.h"
#include "tavo/common/exception.h"
#include "tavo/common/platform.h"
#include "tavo/headTracking/common/frameAdapter.h"
#include "tavo/headTracking/engine/engine.h"
#include "threadTestSupport.h"

namespace tavo::head {
namespace {

using namespace std::chrono_literals;
using test::DetectionAt;
using test::HostStress;
using test::LogCapture;
using test::ScriptedPlugins;

// The default device's 848 x 480 infrared model, as the tracker sees it.
CameraIntrinsics DeviceModel() {
    rs2_intrinsics device{};
    rs2sim_default_intrinsics(848, 480, &device);
    CameraIntrinsics model;
    model.width = device.width;
    model.height = device.height;
    model.ppx = device.ppx;
    model.fx = device.fx;
    model.ppy = device.ppy;
    model.fy = device.fy;
    return model;
}

DetectedFace FaceSeenByDevice(const glm::vec3& midpointMm) {
    const glm::vec3 half(31.0f, 0.0f, 0.0f);
    return DetectionAt(midpointMm - half, midpointMm + half, 0.0f, DeviceModel());
}

class EngineCaptureThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(plugins.loaded()) << "the scripted plug-ins are not beside the test";
        plugins.cpuScript.faces = {FaceSeenByDevice({-150.0f, 0.0f, 800.0f}),
                                   FaceSeenByDevice({100.0f, 20.0f, 700.0f})};
        plugins.gpuScript.faces = {FaceSeenByDevice({0.0f, 0.0f, 900.0f})};
        plugins.Apply();
        rs2sim_reset();
        rs2sim_connect_default_device();
        // A capture thread with nothing queued must not hold a stop up for the full wait.
        rs2sim_set_max_wait_ms(5);
        platform = Platform::Create(PlatformInitArgs{});
    }
    void TearDown() override { rs2sim_reset(); }

    ScriptedPlugins plugins;
    std::unique_ptr<Platform> platform;
};

TEST_F(EngineCaptureThreadTest, HostThreadsWhileTheCaptureThreadDelivers) {
    LogCapture log;
    std::atomic<int> frames{0};
    FrameAdapter adapter([&](const Frame&) { frames.fetch_add(1); }, true);
    EngineInitArgs args;
    args.platform = platform.get();
    args.frameAdapter = &adapter;
    Engine engine(args);

    // The device's queue is filled from its own thread, as a camera's USB transfers would be.
    std::atomic<bool> stopDevice{false};
    std::thread device([&] {
        double ms = 1000.0;
        while (!stopDevice.load()) {
            if (rs2sim_pending_framesets() < 4) {
                rs2sim_push_active_frameset(ms, 60, 800);
                ms += 11.0;
            }
            std::this_thread::sleep_for(200us);
        }
    });
    HostStress stress;
    stress.cameraFps = 90;
    stress.frames = [&frames] { return frames.load(); };
    EXPECT_TRUE(RunHostStress(engine, adapter, stress));
    auto waitForFrames = [&](int count) {
        const int target = frames.load() + count;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (frames.load() < target && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        return frames.load() >= target;
    };
    // Every configuration change restarts the tracker's history; with the setters quiet the
    // device's faces are tracked again.
    EXPECT_TRUE(waitForFrames(20));
    stopDevice.store(true);
    device.join();
    EXPECT_TRUE(engine.StopTracking());

    EXPECT_FALSE(adapter.GetFrame().faces().empty()) << "the device's frames were tracked";
    EXPECT_EQ(log.Count("Failed to process frame"), 0) << log.Dump();
    EXPECT_EQ(log.Count("Failed to start tracking"), 0) << log.Dump();
    EXPECT_EQ(log.Count("critical"), 0) << log.Dump();
}

// StopTracking from inside the capture thread's own frame would join or destroy that thread
// (eager and lazy engines): refused with an exception instead of a hang or a terminate.
TEST_F(EngineCaptureThreadTest, StopFromTheCaptureThreadsFrameIsRefused) {
    for (const bool lazy : {false, true}) {
        SCOPED_TRACE(lazy ? "lazy" : "eager");
        std::promise<std::string> refusal;
        std::atomic<bool> asked{false};
        std::unique_ptr<Engine> engine;
        EngineInitArgs args;
        args.platform = platform.get();
        args.configuration.initializeFaceDetectorLazily = lazy;
        args.frameCallback = [&](const FaceTracker&, const FaceDetector::Output&,
                                 const CameraFrame&) {
            if (asked.exchange(true)) {
                return;
            }
            try {
                engine->StopTracking();
                refusal.set_value("accepted");
            } catch (const Exception& error) {
                refusal.set_value(error.what());
            }
        };
        engine = std::make_unique<Engine>(args);
        ASSERT_TRUE(engine->StartTracking());
        rs2sim_push_active_frameset(1000.0, 60, 800);
        std::future<std::string> answer = refusal.get_future();
        const std::string text =
            tavo::test::FinishesWithin(answer, 10s, "StopTracking from the capture thread");
        EXPECT_NE(text.find("from the camera delivery thread"), std::string::npos) << text;
        EXPECT_TRUE(engine->StopTracking());
    }
}

}  // namespace
}  // namespace tavo::head
