#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
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

TEST(SharedCamera, DeliversPushedImagesAndIntrinsicsOnTheCallingThreadAndEmptiesTheSink) {
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
    EXPECT_FALSE(sink.onCameraFrame);
    EXPECT_FALSE(sink.onCameraIntrinsics);
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
