// The engine under concurrent use: host threads set, switch, start and stop while another
// thread delivers frames. Meant to run under ThreadSanitizer too.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "headTracking/engine/engineTestSupport.h"
#include "headTracking/testCameraFrame.h"
#include "tavo/common/exception.h"
#include "tavo/common/platform.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/headTracking/common/frameAdapter.h"
#include "tavo/headTracking/engine/engine.h"
#include "threadTestSupport.h"

namespace tavo::head {
namespace {

using namespace std::chrono_literals;
using test::FaceAt;
using test::HostStress;
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

    HostStress stress;
    stress.startStopCycles = 30;
    stress.trackingPerCycle = 2ms;
    stress.stoppedPerCycle = 500us;
    stress.maxPolledFaces = 5;
    stress.frames = [&frames] { return frames.load(); };
    EXPECT_TRUE(RunHostStress(engine, adapter, stress));
    StopPushing();
    EXPECT_TRUE(engine.StopTracking());

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
    std::vector<Face> seenOnEntry;  // delivery thread only, read after it ends
    std::vector<Face> seenOnRelease;
    int64_t sizeOnRelease = -1;
    args.frameCallback = [&](const FaceTracker& tracker, const FaceDetector::Output&,
                             const CameraFrame&) {
        // The first frame whose tracker holds faces is held until the host thread's stop is
        // under way.
        if (tracker.faces().size == 0 || inside.exchange(true)) {
            return;
        }
        seenOnEntry.assign(tracker.faces().begin(), tracker.faces().end());
        while (!release.load()) {
            std::this_thread::yield();
        }
        // The tracker must still be alive here, whatever the host thread does: the same faces
        // as on entry. A tracker destroyed under this frame reads back freed memory.
        const Slice<const Face> faces = tracker.faces();
        sizeOnRelease = faces.size;
        if (faces.size == static_cast<int64_t>(seenOnEntry.size())) {
            seenOnRelease.assign(faces.begin(), faces.end());
        }
        callbackDone.store(true);
    };
    Engine engine(args);
    ASSERT_TRUE(engine.StartTracking());
    sink.onCameraIntrinsics(TestIntrinsics());
    StartPushing();
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (!inside.load() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
    }
    if (!inside.load()) {
        StopPushing();
        FAIL() << "no frame brought the tracker a face";
    }
    tavo::test::ThreadUsageMeter stopping;
    std::future<bool> stopped = std::async(std::launch::async, [&] {
        stopping = tavo::test::ThreadUsageMeter();
        const bool result = engine.StopTracking();
        stopping.Stop();
        return result;
    });
    EXPECT_EQ(stopped.wait_for(200ms), std::future_status::timeout);
    release.store(true);
    EXPECT_TRUE(stopped.get());
    EXPECT_TRUE(stopping.slept()) << "StopTracking while it waited: " << stopping;
    EXPECT_TRUE(callbackDone.load());
    StopPushing();
    ASSERT_FALSE(seenOnEntry.empty());
    EXPECT_LE(seenOnEntry.size(), plugins.cpuScript.faces.size());
    ASSERT_EQ(sizeOnRelease, static_cast<int64_t>(seenOnEntry.size()));
    for (size_t i = 0; i < seenOnEntry.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seenOnRelease[i].position, seenOnEntry[i].position);
        EXPECT_EQ(seenOnRelease[i].velocity, seenOnEntry[i].velocity);
        EXPECT_EQ(seenOnRelease[i].rawFaceIndex, seenOnEntry[i].rawFaceIndex);
        EXPECT_TRUE(std::isfinite(seenOnEntry[i].position.x));
    }
}

// Start and stop would wait for the very call they are made from: refused with an exception,
// the frame goes on and tracking stays as it was.
TEST_F(EngineConcurrencyTest, StartAndStopFromTheFrameCallbackAreRefused) {
    std::vector<std::string> refusals;  // delivery thread only, read after it ends
    std::unique_ptr<Engine> engine;
    EngineInitArgs args;
    args.platform = platform.get();
    args.sharedCameraSink = &sink;
    args.frameCallback = [&](const FaceTracker&, const FaceDetector::Output&, const CameraFrame&) {
        for (bool (Engine::*call)() :
             {&Engine::StopTracking, static_cast<bool (Engine::*)()>(&Engine::StartTracking)}) {
            try {
                (engine.get()->*call)();
                refusals.emplace_back("accepted");
            } catch (const Exception& error) {
                refusals.emplace_back(error.what());
            }
        }
    };
    engine = std::make_unique<Engine>(args);
    ASSERT_TRUE(engine->StartTracking());
    sink.onCameraIntrinsics(TestIntrinsics());
    auto push = std::async(std::launch::async, [&] {
        sink.onCameraFrame(ImageDesc{2000, 2000, 0, pixels.data()},
                           Timestamp{Timestamp::Space::System, 1.0});
    });
    tavo::test::FinishesWithin(push, 10s, "a push whose callback stops tracking");
    ASSERT_EQ(refusals.size(), 2u);
    for (const std::string& refusal : refusals) {
        EXPECT_NE(refusal.find("from the camera delivery thread"), std::string::npos) << refusal;
    }
    EXPECT_TRUE(engine->StopTracking()) << "still tracking";
}

// A backend switch from the frame callback while a host thread's StopTracking waits for that
// frame: neither waits for the other, and the stop leaves the new backend in place.
TEST_F(EngineConcurrencyTest, ABackendSwitchFromTheCallbackDuringAStopGoesThrough) {
    std::promise<void> entered;
    std::promise<void> stopping;
    std::atomic<bool> switched{false};
    std::atomic<pid_t> stopperId{0};
    std::atomic<bool> stopped{false};
    std::unique_ptr<Engine> engine;
    EngineInitArgs args;
    args.platform = platform.get();
    args.sharedCameraSink = &sink;
    args.frameCallback = [&](const FaceTracker&, const FaceDetector::Output&, const CameraFrame&) {
        entered.set_value();
        stopping.get_future().wait();
        // StopTracking is waiting for this frame now.
        EXPECT_TRUE(tavo::test::WaitUntilAsleep(stopperId, [&] { return stopped.load(); }));
        switched = engine->SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU);
    };
    engine = std::make_unique<Engine>(args);
    ASSERT_TRUE(engine->StartTracking());
    auto push = std::async(std::launch::async, [&] {
        sink.onCameraFrame(ImageDesc{2000, 2000, 0, pixels.data()},
                           Timestamp{Timestamp::Space::System, 1.0});
    });
    entered.get_future().wait();
    auto stop = std::async(std::launch::async, [&] {
        stopperId = tavo::test::CurrentThreadId();
        stopping.set_value();
        const bool result = engine->StopTracking();
        stopped = true;
        return result;
    });
    tavo::test::FinishesWithin(push, 10s, "a backend switch from the callback");
    EXPECT_TRUE(tavo::test::FinishesWithin(stop, 10s, "StopTracking"));
    EXPECT_TRUE(switched.load());
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kTavoFaceDetectorBackendGPU);
}

}  // namespace
}  // namespace tavo::head
