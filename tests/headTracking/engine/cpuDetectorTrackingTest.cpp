// The whole tracking pipeline on the CPU detector plug-in: host images pushed through a shared
// camera, the real plug-in beside the test program, the face tracker's output per frame.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "plugins/cpuDetector/cpuDetectorTestSupport.h"
#include "tavo/common/platform.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/headTracking/engine/core/faceTracker.h"
#include "tavo/headTracking/engine/engine.h"

namespace tavo::head {
namespace {

using cpudetector::test::BuiltAssets;
using cpudetector::test::FolderAssetManager;
using cpudetector::test::InfraredFrame;
using cpudetector::test::SyntheticFrame;

struct Delivered {
    std::vector<RawFace> rawFaces;
    std::vector<Face> faces;
};

TEST(CpuDetectorTrackingTest, TracksAFaceMovingAcrossHostImages) {
    auto platform = Platform::Create(PlatformInitArgs{});
    FolderAssetManager assets(BuiltAssets());
    SharedCameraSink sink;
    std::vector<Delivered> delivered;
    EngineInitArgs args;
    args.platform = platform.get();
    args.assetManager = &assets;
    args.sharedCameraSink = &sink;
    args.configuration.faceDetector.backend = kTavoFaceDetectorBackendCPU;
    args.frameCallback = [&](const FaceTracker& tracker, const FaceDetector::Output&,
                             const CameraFrame&) {
        delivered.push_back({{tracker.rawFaces().begin(), tracker.rawFaces().end()},
                             {tracker.faces().begin(), tracker.faces().end()}});
    };
    Engine engine(args);
    ASSERT_TRUE(engine.StartTracking());
    ASSERT_TRUE(sink.onCameraIntrinsics && sink.onCameraFrame);

    CameraIntrinsics intrinsics;
    intrinsics.width = 848;
    intrinsics.height = 480;
    intrinsics.ppx = 424.0f;
    intrinsics.ppy = 240.0f;
    intrinsics.fx = intrinsics.fy = 420.0f;
    sink.onCameraIntrinsics(intrinsics);

    // Walking from left to right, 15 pixels a frame at 30 frames a second, slowly nearing.
    constexpr int kFrames = 30;
    std::vector<SyntheticFrame> frames;
    for (int i = 0; i < kFrames; ++i) {
        frames.push_back(InfraredFrame({{110.0f + i, {200.0f + 15.0f * i, 250.0f - 2.0f * i}}},
                                       static_cast<unsigned>(i)));
        const cv::Mat& image = frames.back().image;
        sink.onCameraFrame(ImageDesc{image.cols, image.rows, 0, image.data},
                           Timestamp{Timestamp::Space::System, 1000.0 + 33.3 * i});
    }
    engine.StopTracking();
    ASSERT_EQ(delivered.size(), static_cast<size_t>(kFrames));

    // Without depth the distance comes from the eyes' pixel distance and a 63 mm interocular
    // distance, through the pinhole model the camera reported.
    for (int i = 1; i < kFrames; ++i) {  // the tracker's first frame only starts its clock
        const auto& [right, left] = frames[static_cast<size_t>(i)].eyes[0];
        ASSERT_EQ(delivered[static_cast<size_t>(i)].rawFaces.size(), 1u) << "frame " << i;
        ASSERT_EQ(delivered[static_cast<size_t>(i)].faces.size(), 1u) << "frame " << i;
        const double eyeDistance = cv::norm(left - right);
        const cv::Point2f middle = (right + left) * 0.5f;
        const glm::vec3 measured = delivered[static_cast<size_t>(i)].rawFaces[0].trackedPoint;
        // Seen from the camera, the eye midpoint within 7% of the eye distance of the pasted
        // one, whatever the depth.
        const double seenX = measured.x / measured.z * 420.0 + 424.0;
        const double seenY = measured.y / measured.z * 420.0 + 240.0;
        EXPECT_LT(std::hypot(seenX - middle.x, seenY - middle.y), 0.07 * eyeDistance)
            << "frame " << i;
        EXPECT_NEAR(measured.z, 420.0 * 63.0 / eyeDistance, 0.07 * measured.z) << "frame " << i;
    }
    // Display space mirrors camera x: the tracked face moves towards negative x throughout.
    const Face& first = delivered[1].faces[0];
    const Face& last = delivered.back().faces[0];
    EXPECT_LT(last.position.x, first.position.x - 300.0f);
    EXPECT_LT(last.velocity.x, 0.0f);
}

}  // namespace
}  // namespace tavo::head
