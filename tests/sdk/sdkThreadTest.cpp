// Render-like threads going through the pause handshake while another thread replaces the
// configuration, with faces delivered by a host thread through a shared camera sink; meant to
// run under ThreadSanitizer.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sdk/sdkTestSupport.h"

namespace tavo::sdk {
namespace {

using test::Access;

class SdkThreads : public test::SdkTest {};

TEST_F(SdkThreads, ConfigurationChangesPauseRenderThreadsBetweenFrames) {
    InitializeWithHostCamera();
    ASSERT_TRUE(sdk_->IsFaceTrackingEnabled()) << log_.Dump();
    ASSERT_TRUE(camera_.PushIntrinsics());
    ::testing::internal::CaptureStdout();

    // Every configuration written below has faceDelay equal to centerViewNumber; a frame that
    // sees them differ saw a configuration half replaced.
    device::Config config = sdk_->GetConfig();
    config.faceDelay = 1.0f;
    config.centerViewNumber = 1.0f;
    sdk_->SetConfig(config);
    const glm::vec3 expected = test::ExpectedDisplayPosition(config);

    constexpr int kRenderers = 2;
    constexpr int kChanges = 150;
    std::vector<ThreadedInterlacer*> interlacers;
    for (int i = 0; i < kRenderers; ++i) {
        interlacers.push_back(sdk_->CreateNewThreadedInterlacer({}));
    }
    std::atomic<bool> changing{true};
    std::atomic<int> tornFrames{0};
    std::atomic<int> wrongFaces{0};
    std::atomic<int> facesSeen{0};
    std::vector<std::atomic<int>> frames(kRenderers);

    std::vector<std::thread> renderers;
    for (int r = 0; r < kRenderers; ++r) {
        renderers.emplace_back([&, r] {
            ThreadedInterlacer& interlacer = *interlacers[r];
            Access::Bind(interlacer);
            do {
                Access::RunFrame(interlacer, [&] {
                    const device::Config& seen = impl().config();
                    const float delay = seen.faceDelay;
                    std::this_thread::yield();
                    if (seen.centerViewNumber != delay) {
                        tornFrames.fetch_add(1);
                    }
                    glm::vec3 face;
                    if (sdk_->GetNonPredictedPrimaryFace(face)) {
                        facesSeen.fetch_add(1, std::memory_order_relaxed);
                        if (!test::Near(face, expected, 0.01f)) {
                            wrongFaces.fetch_add(1);
                        }
                    }
                });
                frames[r].fetch_add(1, std::memory_order_relaxed);
            } while (changing.load());
        });
    }

    // The host camera: the engine's delivery runs on this thread.
    std::thread host([&] {
        while (changing.load()) {
            const double ms = static_cast<double>(impl().platform()->GetTimeNs() / 1000) / 1000.0;
            camera_.PushFrame(Timestamp{Timestamp::Space::System, ms});
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    // Backlight requests walk the list while the render threads stamp their clocks.
    std::thread backlight([&] {
        bool on = false;
        while (changing.load()) {
            sdk_->SetBacklight(on = !on);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });

    std::thread changer([&] {
        device::Config next = config;
        for (int i = 0; i < kChanges; ++i) {
            next.faceDelay = static_cast<float>(i);
            next.centerViewNumber = static_cast<float>(i);
            sdk_->SetConfig(next);
        }
        // Every renderer runs frames after the last change as well.
        std::vector<int> atLastChange;
        for (const std::atomic<int>& count : frames) {
            atLastChange.push_back(count.load());
        }
        for (size_t r = 0; r < frames.size(); ++r) {
            while (frames[r].load() < atLastChange[r] + 2) {
                std::this_thread::yield();
            }
        }
        // On a loaded machine the changes can all be over before the host's second frame: the
        // frames keep running until one sees the face, or the time is up.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (facesSeen.load() == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        changing = false;
    });

    changer.join();
    host.join();
    backlight.join();
    for (std::thread& renderer : renderers) {
        renderer.join();
    }
    ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(tornFrames.load(), 0);
    EXPECT_EQ(wrongFaces.load(), 0);
    EXPECT_GT(facesSeen.load(), 0) << log_.Dump();
    for (int r = 0; r < kRenderers; ++r) {
        EXPECT_GT(frames[r].load(), 0) << r;
    }
    EXPECT_EQ(sdk_->GetConfig().faceDelay, static_cast<float>(kChanges - 1));
}

// A changed camera rate restarts face tracking, which replaces the engine and its shared camera
// while the host's thread pushes frames as fast as it can: each push is delivered or dropped,
// and tracking goes on over the host's camera. Meant for AddressSanitizer and ThreadSanitizer.
TEST_F(SdkThreads, PushesOverlappingFaceTrackingRestartsAreDeliveredOrDropped) {
    InitializeWithHostCamera();
    ASSERT_TRUE(sdk_->IsFaceTrackingEnabled()) << log_.Dump();
    ASSERT_TRUE(camera_.PushIntrinsics());
    ::testing::internal::CaptureStdout();
    std::atomic<bool> pushing{true};
    std::atomic<int> pushed{0};
    std::thread host([&] {
        while (pushing.load()) {
            const double ms = static_cast<double>(impl().platform()->GetTimeNs() / 1000) / 1000.0;
            if (camera_.PushFrame(Timestamp{Timestamp::Space::System, ms})) {
                pushed.fetch_add(1, std::memory_order_relaxed);
            }
        }
    });
    // A loaded machine may not run the host before the restarts are over; they must overlap.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (pushed.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    device::Config config = sdk_->GetConfig();
    for (int i = 0; i < 300; ++i) {
        config.camera.fps = i % 2 == 0 ? 60 : 90;
        sdk_->SetConfig(config);
    }
    pushing = false;
    host.join();
    ::testing::internal::GetCapturedStdout();

    EXPECT_TRUE(sdk_->IsFaceTrackingEnabled()) << log_.Dump();
    EXPECT_GT(pushed.load(), 0);
    // The last engine still takes the host's frames.
    ASSERT_TRUE(camera_.PushIntrinsics());
    PushFrames(3);
    glm::vec3 face;
    EXPECT_TRUE(sdk_->GetNonPredictedPrimaryFace(face)) << log_.Dump();
}

}  // namespace
}  // namespace tavo::sdk
