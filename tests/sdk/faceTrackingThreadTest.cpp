// Face queries from several threads while a host thread drives the engine's delivery through a
// shared camera sink; meant to run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <latch>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <glm/vector_relational.hpp>

#include "sdk/faceTrackingTestSupport.h"
#include "tavo/sdk/faceTracking.h"
#include "tavo/sdk/faceTrackingCallback.h"
#include "threadTestSupport.h"

namespace tavo::sdk {
namespace {

// Keeps the primary face of every frame it sees, in one list shared with another recorder.
class RecordingCallback final : public CTavoSDKFaceTrackingCallback {
  public:
    RecordingCallback(std::mutex& lock, std::vector<head::Face>& faces)
        : lock_(lock), faces_(faces) {}
    void OnFrame(const head::Frame& frame) override {
        if (!frame.faces().empty()) {
            std::lock_guard guard(lock_);
            faces_.push_back(frame.faces()[0]);
        }
    }

  private:
    std::mutex& lock_;
    std::vector<head::Face>& faces_;
};

// The distinct values one reader got, in order.
struct Reads {
    std::vector<glm::vec3> values;
    void Add(const glm::vec3& value) {
        if (values.empty() || values.back() != value) {
            values.push_back(value);
        }
    }
};

// The face moves a step every frame, along a line in every coordinate, so no two frames share
// a coordinate. Every face a reader gets must then be exactly one frame's: a read that races
// the delivery thread's write would mix coordinates (or position and velocity) of two frames.
TEST(FaceTrackingThreads, QueriesRunAgainstTheDeliveryThread) {
    test::LogCapture log;
    // Every query would log its frame latency at debug level.
    spdlog::default_logger()->set_level(spdlog::level::info);
    ScriptedDetectorControl detector(TAVO_SCRIPTED_PLUGIN);
    ASSERT_TRUE(detector.loaded());
    ScriptedDetectorScript script;
    script.faces = {test::ScriptedFace()};
    script.pixelStepPerDetect = {0.5, 0.25};  // 0.6 mm right, 0.3 mm down at 600 mm
    ASSERT_TRUE(detector.SetScript(script));

    test::TestPlatform platform;
    test::HostCamera camera;
    const device::Config config = test::TrackingConfig();
    FaceTracking tracking;
    tracking.SetSharedCameraSink(&camera.sink);
    ASSERT_TRUE(tracking.Start(&platform, nullptr, config)) << log.Dump();
    ASSERT_TRUE(camera.PushIntrinsics());

    constexpr int kFrames = 200;
    constexpr int kReaders = 3;
    constexpr float kDelayMs = 40.0f;
    std::latch ready(kReaders + 1);
    std::atomic<int64_t> queries{0};
    std::atomic<bool> delivering{true};
    std::thread host([&] {
        ready.wait();
        // A clock the platform's cannot be compared with: predictions look kDelayMs ahead.
        double ms = 1000.0;
        for (int i = 0; i < kFrames; ++i) {
            camera.PushFrame(Timestamp{Timestamp::Space::Unknown, ms});
            ms += 11.0;
            // The readers query between two frames (a push takes microseconds).
            const int64_t before = queries.load();
            while (queries.load() < before + kReaders) {
                std::this_thread::yield();
            }
        }
        delivering = false;
    });

    std::vector<Reads> delivered(kReaders);
    std::vector<Reads> predicted(kReaders);
    std::vector<std::thread> renderers;
    for (int r = 0; r < kReaders; ++r) {
        renderers.emplace_back([&, r] {
            ready.count_down();
            do {
                glm::vec3 face;
                if (tracking.GetNonPredictedPrimaryFace(face)) {
                    delivered[r].Add(face);
                }
                if (tracking.GetPredictedPrimaryFace(platform, kDelayMs, face)) {
                    predicted[r].Add(face);
                }
                queries.fetch_add(1);
            } while (delivering);
        });
    }
    // The host callback changes while frames are delivered; one of the two always records.
    std::mutex recordLock;
    std::vector<head::Face> frames;
    RecordingCallback first(recordLock, frames);
    RecordingCallback second(recordLock, frames);
    tracking.SetCallback(&first);
    std::thread settings([&] {
        ready.count_down();
        while (delivering) {
            tracking.SetCallback(&second);
            std::this_thread::yield();
            tracking.SetCallback(&first);
        }
    });

    host.join();
    for (std::thread& renderer : renderers) {
        renderer.join();
    }
    settings.join();
    tracking.Stop();

    // The face moved on (nearly) every frame, in every coordinate.
    ASSERT_GE(frames.size(), static_cast<size_t>(kFrames) - 2);
    std::vector<size_t> still;
    for (size_t i = 1; i < frames.size(); ++i) {
        if (glm::any(glm::equal(frames[i].position, frames[i - 1].position))) {
            still.push_back(i);
        }
    }
    EXPECT_LE(still.size(), 2u) << ::testing::PrintToString(still);
    const auto isFrame = [&](const glm::vec3& value, bool prediction) {
        for (const head::Face& frame : frames) {
            // The same arithmetic as the query's, so the same bits.
            if (value ==
                (prediction ? frame.position + frame.velocity * kDelayMs : frame.position)) {
                return true;
            }
        }
        return false;
    };
    std::vector<glm::vec3> distinct;
    for (int r = 0; r < kReaders; ++r) {
        for (const glm::vec3& value : delivered[r].values) {
            if (std::find(distinct.begin(), distinct.end(), value) == distinct.end()) {
                distinct.push_back(value);
            }
            EXPECT_TRUE(isFrame(value, false))
                << "reader " << r << " got a face no frame had: " << value.x << ", " << value.y
                << ", " << value.z;
        }
        for (const glm::vec3& value : predicted[r].values) {
            EXPECT_TRUE(isFrame(value, true))
                << "reader " << r << " predicted from no frame's face: " << value.x << ", "
                << value.y << ", " << value.z;
        }
    }
    // The readers ran beside the deliveries, not only before or after them: they saw the face
    // of more than one frame. (How many depends on the machine, as frames are tracked on the
    // engine's own thread.)
    EXPECT_GE(distinct.size(), 2u);
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
