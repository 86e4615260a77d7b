// The engine under concurrent use: host threads set, switch, start and stop while another
// thread delivers frames. Meant to run under ThreadSanitizer too.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "headTracking/engine/engineTestSupport.h"
#include "headTracking/testCameraFrame.h"
#include "tavo/common/platform.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/headTracking/common/frameAdapter.h"
#include "tavo/headTracking/engine/engine.h"

namespace tavo::head {
namespace {

using namespace std::chrono_literals;
using test::FaceAt;
using test::LogCapture;
using test::ScriptedPlugins;
using test::TestIntrinsics;

class EngineConcurrencyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(plugins.loaded()) << "the scripted plug-ins are not beside the test";
        plugins.cpuScript.faces = {FaceAt({-200.0f, 0.0f, 1000.0f}), FaceAt({0.0f, 0.0f, 900.0f}),
                                   FaceAt({200.0f, 0.0f, 1100.0f})};
        plugins.gpuScript.faces = {FaceAt({0.0f, 50.0f, 800.0f})};
        plugins.Apply();
        platform = Platform::Create(PlatformInitArgs{});
    }

    // Pushes images through the sink from its own thread until stopped.
    void StartPushing() {
        pusher = std::thread([this] {
            double ms = 0.0;
            while (!stopPushing.load()) {
                sink.onCameraFrame(ImageDesc{2000, 2000, 0, pixels.data()},
                                   Timestamp{Timestamp::Space::System, ms});
                ms += 11.0;
                std::this_thread::yield();
            }
        });
    }
    void StopPushing() {
        stopPushing.store(true);
        if (pusher.joinable()) {
            pusher.join();
        }
    }

    ScriptedPlugins plugins;
    std::unique_ptr<Platform> platform;
    SharedCameraSink sink;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(2000 * 2000, 0);
    std::thread pusher;
    std::atomic<bool> stopPushing{false};
};

TEST_F(EngineConcurrencyTest, HostThreadsWhileASharedCameraPushes) {
    LogCapture log;
    std::atomic<int> frames{0};
    std::atomic<int> maxFacesSeen{0};
    FrameAdapter adapter(
        [&](const Frame& frame) {
            frames.fetch_add(1);
            const int count = static_cast<int>(frame.detectedFaces().size);
            if (count > maxFacesSeen.load()) {
                maxFacesSeen.store(count);
            }
        },
        true);
    EngineInitArgs args;
    args.platform = platform.get();
    args.frameAdapter = &adapter;
    args.sharedCameraSink = &sink;
    int hookCalls = 0;
    args.virtualFaceHook = [&hookCalls](VirtualFaceHookContext* context) {
        // Only the delivery thread runs the hook, so a plain counter is enough.
        ++hookCalls;
        context->faces[0] = VirtualFace{glm::vec3(0.0f, -100.0f, 700.0f), 62.0f};
        context->numFaces = 1;
        return hookCalls % 2 == 0;
    };
    Engine engine(args);
    sink.onCameraIntrinsics(TestIntrinsics());
    StartPushing();

    std::atomic<bool> stopHosts{false};
    std::thread setters([&] {
        for (int i = 0; !stopHosts.load(); ++i) {
            engine.SetCameraPosition(glm::vec3(static_cast<float>(i % 50), 0.0f, 0.0f));
            engine.SetCameraRotation(1, 0, 0, 0, 1, 0, 0, 0, 1);
            FilterProperties properties;
            properties.bufferLim = 300.0f + static_cast<float>(i % 7);
            engine.SetFilterProperties(properties);
            engine.SetTrackedEyes(i % 3 != 0, true);
            engine.SetMaxNumOfDetectedFaces(1 + i % 4);
            engine.SetProfiling(i % 2 == 0);
            EXPECT_NE(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendUnknown);
            EXPECT_EQ(engine.GetMaxNumOfDetectedFacesLimit(), 4);
            EXPECT_EQ(engine.GetCameraFps(), 0);
            std::this_thread::sleep_for(100us);
        }
    });
    std::thread switcher([&] {
        for (int i = 0; !stopHosts.load(); ++i) {
            EXPECT_TRUE(engine.SetFaceDetectorBackend(i % 2 == 0 ? kTavoFaceDetectorBackendGPU
                                                                 : kTavoFaceDetectorBackendCPU));
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread poller([&] {
        while (!stopHosts.load()) {
            const BufferedFrame frame = adapter.GetFrame();
            EXPECT_LE(frame.faces().size, 5);
            std::this_thread::yield();
        }
    });

    // This thread is the one that starts and stops.
    for (int cycle = 0; cycle < 30; ++cycle) {
        EXPECT_TRUE(engine.StartTracking());
        std::this_thread::sleep_for(2ms);
        EXPECT_TRUE(engine.StopTracking());
        std::this_thread::sleep_for(500us);
    }
    ASSERT_TRUE(engine.StartTracking());
    const int before = frames.load();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (frames.load() < before + 50 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    stopHosts.store(true);
    setters.join();
    switcher.join();
    poller.join();
    StopPushing();
    EXPECT_TRUE(engine.StopTracking());

    EXPECT_GE(frames.load(), before + 50);
    EXPECT_GE(maxFacesSeen.load(), 1);
    EXPECT_LE(maxFacesSeen.load(), 4);
    EXPECT_EQ(log.Count("Failed to process frame"), 0) << log.Dump();
    EXPECT_EQ(log.Count("Failed to start tracking"), 0) << log.Dump();
}

TEST_F(EngineConcurrencyTest, StopWaitsForTheFrameInProgress) {
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    std::atomic<bool> callbackDone{false};
    EngineInitArgs args;
    args.platform = platform.get();
    args.sharedCameraSink = &sink;
    args.frameCallback = [&](const FaceTracker& tracker, const FaceDetector::Output&,
                             const CameraFrame&) {
        if (inside.exchange(true)) {
            return;
        }
        while (!release.load()) {
            std::this_thread::yield();
        }
        // The tracker must still be alive here, whatever the host thread does: it holds no more
        // faces than the detector reports, each at a finite position.
        const auto faces = tracker.faces();
        EXPECT_LE(faces.size, static_cast<int64_t>(plugins.cpuScript.faces.size()));
        for (const Face& face : faces) {
            EXPECT_TRUE(std::isfinite(face.position.x) && std::isfinite(face.position.z));
        }
        callbackDone.store(true);
    };
    Engine engine(args);
    ASSERT_TRUE(engine.StartTracking());
    StartPushing();
    while (!inside.load()) {
        std::this_thread::yield();
    }
    std::future<bool> stopped =
        std::async(std::launch::async, [&] { return engine.StopTracking(); });
    EXPECT_EQ(stopped.wait_for(50ms), std::future_status::timeout);
    release.store(true);
    EXPECT_TRUE(stopped.get());
    EXPECT_TRUE(callbackDone.load());
    StopPushing();
}

}  // namespace
}  // namespace tavo::head
