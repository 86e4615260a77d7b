#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tavo/common/exception.h"
#include "tavo/headTracking/camera/sharedCamera.h"

namespace {

using tavo::ImageDesc;
using tavo::SharedCameraSink;
using tavo::Timestamp;
using tavo::head::Camera;
using tavo::head::CameraFrame;
using tavo::head::SharedCamera;

struct RecordingListener final : Camera::Listener {
    void OnCameraFrameAvailable(Camera* camera, const CameraFrame& frame) override {
        cameras.push_back(camera);
        stamps.push_back(frame.timestamp());
        const auto images = frame.imageDescs();
        ASSERT_EQ(images.size, 1);
        images_.push_back(images[0]);
        float depth = 0.0f;
        glm::vec3 point{};
        glm::dvec2 pixel{};
        projections.push_back(frame.GetDepth({1.0, 1.0}, depth) ||
                              frame.DeprojectPixelToPoint({1.0, 1.0}, 0.5f, point) ||
                              frame.ProjectPointToPixel({0.0f, 0.0f, 1.0f}, pixel, depth));
    }
    void OnCameraIntrinsicsChange(Camera* camera, const tavo::CameraIntrinsics& value) override {
        cameras.push_back(camera);
        intrinsics.push_back(value);
    }

    std::vector<Camera*> cameras;
    std::vector<Timestamp> stamps;
    std::vector<ImageDesc> images_;
    std::vector<bool> projections;
    std::vector<tavo::CameraIntrinsics> intrinsics;
};

TEST(SharedCamera, DeliversPushedImagesAndIntrinsicsOnTheCallingThread) {
    RecordingListener listener;
    SharedCameraSink sink;
    {
        SharedCamera camera(&listener, &sink);
        ASSERT_TRUE(sink.onCameraFrame);
        ASSERT_TRUE(sink.onCameraIntrinsics);

        tavo::CameraIntrinsics intrinsics;
        intrinsics.width = 640;
        intrinsics.fx = 400.0f;
        sink.onCameraIntrinsics(intrinsics);
        const uint8_t pixels[4] = {1, 2, 3, 4};
        sink.onCameraFrame(ImageDesc{2, 2, 90, pixels}, Timestamp{Timestamp::Space::Unknown, 12.5});

        ASSERT_EQ(listener.intrinsics.size(), 1u);
        EXPECT_EQ(listener.intrinsics[0].width, 640);
        EXPECT_FLOAT_EQ(listener.intrinsics[0].fx, 400.0f);
        ASSERT_EQ(listener.stamps.size(), 1u);
        EXPECT_EQ(listener.stamps[0].space, Timestamp::Space::Unknown);
        EXPECT_DOUBLE_EQ(listener.stamps[0].ms, 12.5);
        EXPECT_EQ(listener.images_[0].data, pixels) << "pixels are handed on, not copied";
        EXPECT_EQ(listener.images_[0].rotation, 90);
        EXPECT_FALSE(listener.projections[0]) << "a pushed image has no depth or calibration";
        for (Camera* caller : listener.cameras) {
            EXPECT_EQ(caller, &camera);
        }

        EXPECT_EQ(camera.GetFps(), 0);
        EXPECT_FALSE(camera.SetFps(30));
        EXPECT_TRUE(camera.GetSupportedFps().empty());
        camera.StartCapture();
        camera.StopCapture();
    }
    // The members stay, so a host thread calling them meanwhile finds them whole; without a
    // camera the calls are dropped.
    ASSERT_TRUE(sink.onCameraFrame);
    ASSERT_TRUE(sink.onCameraIntrinsics);
    sink.onCameraFrame(ImageDesc{2, 2, 0, nullptr}, Timestamp{Timestamp::Space::Unknown, 13.5});
    sink.onCameraIntrinsics(tavo::CameraIntrinsics{});
    EXPECT_EQ(listener.cameras.size(), 2u);

    // A later camera over the same sink takes the same members over.
    RecordingListener next;
    SharedCamera camera(&next, &sink);
    sink.onCameraFrame(ImageDesc{2, 2, 0, nullptr}, Timestamp{Timestamp::Space::Unknown, 14.5});
    ASSERT_EQ(next.cameras.size(), 1u);
    EXPECT_EQ(next.cameras[0], &camera);
    EXPECT_EQ(listener.cameras.size(), 2u);
}

// A host thread pushes as fast as it can while cameras over its sink come and go on another
// thread: each push is delivered or dropped. Meant for AddressSanitizer and ThreadSanitizer,
// which see a camera or a sink member used after it went.
TEST(SharedCamera, PushesWhileCamerasComeAndGoAreDeliveredOrDropped) {
    struct CountingListener final : Camera::Listener {
        void OnCameraFrameAvailable(Camera* camera, const CameraFrame& frame) override {
            // Reads the camera: a freed one is a use after free.
            if (camera->GetFps() == 0 && frame.imageDescs().size == 1) {
                delivered.fetch_add(1);
            }
        }
        void OnCameraIntrinsicsChange(Camera*, const tavo::CameraIntrinsics&) override {}
        std::atomic<int> delivered{0};
    } listener;
    SharedCameraSink sink;
    auto camera = std::make_unique<SharedCamera>(&listener, &sink);
    std::atomic<bool> pushing{true};
    std::thread host([&] {
        const uint8_t pixels[4] = {};
        for (double ms = 0.0; pushing.load(); ms += 1.0) {
            if (sink.onCameraFrame) {
                sink.onCameraFrame(ImageDesc{2, 2, 0, pixels},
                                   Timestamp{Timestamp::Space::System, ms});
            }
        }
    });
    for (int i = 0; i < 300; ++i) {
        camera.reset();
        camera = std::make_unique<SharedCamera>(&listener, &sink);
        std::this_thread::yield();
    }
    // Deliveries reach the last camera.
    const int before = listener.delivered.load();
    while (listener.delivered.load() < before + 10) {
        std::this_thread::yield();
    }
    pushing = false;
    host.join();
}

// A frame the host made (with depth, say) reaches the listener as that very object, and like
// the other members the host-frame member is dropped between cameras and taken over by the next.
TEST(SharedCamera, HandsAHostMadeFrameOnItselfWhileACameraIsAttached) {
    struct IdentityListener final : Camera::Listener {
        void OnCameraFrameAvailable(Camera* camera, const CameraFrame& frame) override {
            frames.push_back(&frame);
            cameras.push_back(camera);
        }
        void OnCameraIntrinsicsChange(Camera*, const tavo::CameraIntrinsics&) override {}
        std::vector<const CameraFrame*> frames;
        std::vector<Camera*> cameras;
    } listener;
    SharedCameraSink sink;
    const uint8_t pixels[4] = {};
    const tavo::head::TrivialCameraFrame frame(ImageDesc{2, 2, 0, pixels},
                                               Timestamp{Timestamp::Space::System, 1.0});
    auto camera = std::make_unique<SharedCamera>(&listener, &sink);
    ASSERT_TRUE(sink.onHostCameraFrame);
    sink.onHostCameraFrame(frame);
    camera.reset();
    ASSERT_TRUE(sink.onHostCameraFrame);
    sink.onHostCameraFrame(frame);
    camera = std::make_unique<SharedCamera>(&listener, &sink);
    sink.onHostCameraFrame(frame);
    ASSERT_EQ(listener.frames.size(), 2u);
    EXPECT_EQ(listener.frames[0], &frame);
    EXPECT_EQ(listener.frames[1], &frame);
    EXPECT_EQ(listener.cameras[1], camera.get());
}

TEST(SharedCamera, RefusesAMissingListenerOrSink) {
    RecordingListener listener;
    SharedCameraSink sink;
    EXPECT_THROW(SharedCamera(nullptr, &sink), tavo::Exception);
    EXPECT_THROW(SharedCamera(&listener, nullptr), tavo::Exception);
    EXPECT_FALSE(sink.onCameraFrame) << "a refused camera leaves the sink alone";
}

TEST(TrivialCameraFrame, AnswersWithItsCopiesAndDeclinesDepthAndProjection) {
    const uint8_t pixels[6] = {9, 8, 7, 6, 5, 4};
    ImageDesc image{3, 2, 0, pixels};
    const tavo::head::TrivialCameraFrame frame(image, Timestamp{Timestamp::Space::System, 42.0});
    image.width = 99;
    const auto images = frame.imageDescs();
    ASSERT_EQ(images.size, 1);
    EXPECT_EQ(images[0].width, 3) << "the description is copied";
    EXPECT_EQ(images[0].data, pixels);
    EXPECT_EQ(frame.timestamp().space, Timestamp::Space::System);
    EXPECT_DOUBLE_EQ(frame.timestamp().ms, 42.0);
    float depth = -1.0f;
    glm::vec3 point{3.0f};
    glm::dvec2 pixel{4.0};
    EXPECT_FALSE(frame.GetDepth({1.0, 1.0}, depth));
    EXPECT_FALSE(frame.DeprojectPixelToPoint({1.0, 1.0}, 1.0f, point));
    EXPECT_FALSE(frame.ProjectPointToPixel({0.0f, 0.0f, 1.0f}, pixel, depth));
}

}  // namespace
