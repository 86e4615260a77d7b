// Face queries from several threads while a host thread drives the engine's delivery through a
// shared camera sink; meant to run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "sdk/faceTrackingTestSupport.h"
#include "tavo/sdk/faceTracking.h"
#include "tavo/sdk/faceTrackingCallback.h"
#include "threadTestSupport.h"

namespace tavo::sdk {
namespace {

class CountingCallback final : public CTavoSDKFaceTrackingCallback {
  public:
    void OnFrame(const head::Frame& frame) override {
        frames.fetch_add(1, std::memory_order_relaxed);
        faces.fetch_add(frame.faces().size, std::memory_order_relaxed);
    }
    std::atomic<int> frames{0};
    std::atomic<int64_t> faces{0};
};

TEST(FaceTrackingThreads, QueriesRunAgainstTheDeliveryThread) {
    test::LogCapture log;
    // Every query would log its frame latency at debug level.
    spdlog::default_logger()->set_level(spdlog::level::info);
    ScriptedDetectorControl detector(TAVO_SCRIPTED_PLUGIN);
    ASSERT_TRUE(detector.loaded());
    ScriptedDetectorScript script;
    script.faces = {test::ScriptedFace()};
    ASSERT_TRUE(detector.SetScript(script));

    test::TestPlatform platform;
    test::HostCamera camera;
    const device::Config config = test::TrackingConfig();
    const glm::vec3 expected = test::ExpectedDisplayPosition(config);
    FaceTracking tracking;
    tracking.SetSharedCameraSink(&camera.sink);
    ASSERT_TRUE(tracking.Start(&platform, nullptr, config)) << log.Dump();
    ASSERT_TRUE(camera.PushIntrinsics());

    constexpr int kFrames = 300;
    std::atomic<bool> delivering{true};
    std::thread host([&] {
        double ms = 1'700'000'000'000.0;
        for (int i = 0; i < kFrames; ++i) {
            platform.nowNs = static_cast<int64_t>(ms) * 1'000'000;
            camera.PushFrame(Timestamp{Timestamp::Space::System, ms});
            ms += 11.0;
        }
        delivering = false;
    });

    std::atomic<int> wrongFaces{0};
    std::atomic<int> facesSeen{0};
    std::vector<std::thread> renderers;
    for (int r = 0; r < 3; ++r) {
        renderers.emplace_back([&] {
            do {
                glm::vec3 delivered;
                glm::vec3 predicted;
                if (tracking.GetNonPredictedPrimaryFace(delivered)) {
                    facesSeen.fetch_add(1, std::memory_order_relaxed);
                    // One still face throughout: it must never be seen torn or moved.
                    if (!test::Near(delivered, expected, 0.01f)) {
                        wrongFaces.fetch_add(1, std::memory_order_relaxed);
                    }
                }
                if (tracking.GetPredictedPrimaryFace(platform, 40.0f, predicted) &&
                    !test::Near(predicted, expected, 1.0f)) {
                    wrongFaces.fetch_add(1, std::memory_order_relaxed);
                }
            } while (delivering);
        });
    }
    // The host callback comes and goes while frames are delivered.
    CountingCallback callback;
    std::thread settings([&] {
        while (delivering) {
            tracking.SetCallback(&callback);
            std::this_thread::yield();
            tracking.SetCallback(nullptr);
        }
    });

    host.join();
    for (std::thread& renderer : renderers) {
        renderer.join();
    }
    settings.join();
    tracking.Stop();

    EXPECT_EQ(wrongFaces.load(), 0);
    EXPECT_GT(facesSeen.load(), 0);
    EXPECT_LE(callback.frames.load(), kFrames);
    EXPECT_LE(callback.faces.load(), callback.frames.load());
    EXPECT_FALSE(log.HasLineStartingWith("error")) << log.Dump();
}

// Destroyed without Stop while the host's thread is inside the callback of a frame: the
// engine goes first and waits for that frame, with the service's locks still in place.
TEST(FaceTrackingThreads, DestructionWithoutStopWaitsForTheFrameUnderWay) {
    test::LogCapture log;
    ScriptedDetectorControl detector(TAVO_SCRIPTED_PLUGIN);
    ASSERT_TRUE(detector.loaded());
    ScriptedDetectorScript script;
    script.faces = {test::ScriptedFace()};
    ASSERT_TRUE(detector.SetScript(script));
    struct BlockingCallback final : CTavoSDKFaceTrackingCallback {
        void OnFrame(const head::Frame&) override {
            if (!entered.exchange(true)) {
                released.get_future().wait();
            }
        }
        std::atomic<bool> entered{false};
        std::promise<void> released;
    } callback;

    test::TestPlatform platform;
    test::HostCamera camera;
    auto tracking = std::make_unique<FaceTracking>();
    tracking->SetSharedCameraSink(&camera.sink);
    tracking->SetCallback(&callback);
    ASSERT_TRUE(tracking->Start(&platform, nullptr, test::TrackingConfig())) << log.Dump();
    ASSERT_TRUE(camera.PushIntrinsics());
    auto push = std::async(std::launch::async, [&] {
        camera.PushFrame(Timestamp{Timestamp::Space::System, 1.0});
    });
    while (!callback.entered.load()) {
        std::this_thread::yield();
    }
    auto destroyed = std::async(std::launch::async, [&] { tracking.reset(); });
    EXPECT_EQ(destroyed.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
        << "destruction must wait for the frame under way";
    callback.released.set_value();
    tavo::test::FinishesWithin(push, std::chrono::seconds(10), "the push");
    tavo::test::FinishesWithin(destroyed, std::chrono::seconds(10), "the destruction");
    // The host's camera outlives the service; its pushes are dropped now.
    EXPECT_TRUE(camera.PushFrame(Timestamp{Timestamp::Space::System, 2.0}));
}

}  // namespace
}  // namespace tavo::sdk
