// The CPU detector plug-in through its two entry points: faces and eye centres in photographs
// and in synthetic infrared frames, eye depths, angles, the face limit and the fallback without
// the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "logCapture.h"
#include "plugins/cpuDetector/cpuDetectorTestSupport.h"

namespace tavo::cpudetector::test {
namespace {

constexpr float kEyeTolerance = 0.07f;  // of the interocular distance

class CpuDetectorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(plugin_.loaded()) << "cannot load " << TAVO_CPU_DETECTOR_PLUGIN;
        ASSERT_TRUE(std::filesystem::exists(BuiltAssets() /
                                            "models/face_detection_front_128x128_barracuda.onnx"))
            << "the face model is missing: run scripts/install-deps.sh, then build";
        ASSERT_FALSE(Photo("astronaut.png").empty()) << "scikit-image's photographs are missing";
    }

    CpuDetectorPlugin plugin_;
    FolderAssetManager assets_{BuiltAssets()};
};

// Each eye of the first face within the tolerance of its expected centre.
void ExpectEyes(const head::FaceDetector::Output& output, cv::Point2f right, cv::Point2f left,
                float tolerance, const cv::Mat& image, const std::string& what) {
    ASSERT_EQ(output.faces.size(), 1u) << what;
    const head::DetectedFace& face = output.faces[0];
    const auto distance = static_cast<float>(cv::norm(left - right));
    const float rightError = EyeError(face.rightEyePixel, right, distance);
    const float leftError = EyeError(face.leftEyePixel, left, distance);
    EXPECT_LT(rightError, tolerance)
        << what << ": right eye at (" << face.rightEyePixel.x << ", " << face.rightEyePixel.y
        << "), expected (" << right.x << ", " << right.y << ")";
    EXPECT_LT(leftError, tolerance)
        << what << ": left eye at (" << face.leftEyePixel.x << ", " << face.leftEyePixel.y
        << "), expected (" << left.x << ", " << left.y << ")";
    if (rightError >= tolerance || leftError >= tolerance) {
        WriteForInspection(image, what + ".png");
    }
}

TEST_F(CpuDetectorTest, FindsTheAstronautsEyesAndNoFaceInTheOtherPhotographs) {
    auto detector = plugin_.Create(&assets_);
    ASSERT_TRUE(detector);
    const cv::Mat astronaut = Photo("astronaut.png");
    auto frame = FrameOf(astronaut);
    // The first call searches the whole image, the second follows the face found.
    for (const char* pass : {"astronaut acquired", "astronaut tracked"}) {
        ExpectEyes(detector->Detect(*frame), kAstronautRightEye, kAstronautLeftEye, kEyeTolerance,
                   astronaut, pass);
    }
    for (const char* name : {"coffee.png", "chelsea.png", "rocket.jpg", "brick.png"}) {
        auto fresh = plugin_.Create(&assets_, 4);
        const cv::Mat photo = Photo(name);
        ASSERT_FALSE(photo.empty()) << name;
        EXPECT_TRUE(fresh->Detect(*FrameOf(photo)).faces.empty()) << name;
    }
}

TEST_F(CpuDetectorTest, FindsPastedFacesInInfraredFramesAtEverySizeAndPlace) {
    struct Case {
        float width;
        cv::Point2f centre;
    };
    const Case cases[] = {
        {60.0f, {120.0f, 100.0f}},  {60.0f, {700.0f, 380.0f}},  {80.0f, {424.0f, 240.0f}},
        {100.0f, {250.0f, 330.0f}}, {130.0f, {600.0f, 150.0f}}, {160.0f, {424.0f, 260.0f}},
        {200.0f, {180.0f, 240.0f}}, {250.0f, {424.0f, 240.0f}}, {250.0f, {690.0f, 260.0f}},
    };
    for (const Case& c : cases) {
        const std::string what = "face " + std::to_string(static_cast<int>(c.width)) + "px at " +
                                 std::to_string(static_cast<int>(c.centre.x)) + "," +
                                 std::to_string(static_cast<int>(c.centre.y));
        const SyntheticFrame synthetic = InfraredFrame({{c.width, c.centre}});
        auto detector = plugin_.Create(&assets_);
        auto frame = FrameOf(synthetic.image);
        for (const char* pass : {" acquired", " tracked"}) {
            ExpectEyes(detector->Detect(*frame), synthetic.eyes[0].first, synthetic.eyes[0].second,
                       kEyeTolerance, synthetic.image, what + pass);
        }
    }
}

TEST_F(CpuDetectorTest, ReportsEveryFaceUpToItsMaximumAndFindsNewcomersWhileTracking) {
    const SyntheticFrame synthetic =
        InfraredFrame({{100.0f, {250.0f, 240.0f}}, {140.0f, {620.0f, 250.0f}}});
    auto frame = FrameOf(synthetic.image);
    auto detector = plugin_.Create(&assets_);
    EXPECT_EQ(detector->GetMaxNumOfFacesLimit(), 4);
    EXPECT_EQ(detector->GetMaxNumOfFaces(), 1);  // none asked for
    EXPECT_EQ(detector->GetBackend(), kTavoFaceDetectorBackendCPU);
    EXPECT_EQ(detector->Detect(*frame).faces.size(), 1u);

    // Raised while one face is tracked: the other turns up within one sweep of the frame.
    detector->SetMaxNumOfFaces(2);
    size_t found = 0;
    for (int i = 0; i < 30 && found < 2; ++i) {
        found = detector->Detect(*frame).faces.size();
    }
    ASSERT_EQ(found, 2u);
    const head::FaceDetector::Output& output = detector->Detect(*frame);
    ASSERT_EQ(output.faces.size(), 2u);
    for (const auto& [right, left] : synthetic.eyes) {
        const auto distance = static_cast<float>(cv::norm(left - right));
        const bool matched =
            std::any_of(output.faces.begin(), output.faces.end(), [&](const auto& face) {
                return EyeError(face.rightEyePixel, right, distance) < kEyeTolerance &&
                       EyeError(face.leftEyePixel, left, distance) < kEyeTolerance;
            });
        EXPECT_TRUE(matched) << "no face with eyes at (" << right.x << ", " << right.y << ")";
    }

    detector->SetMaxNumOfFaces(9);
    EXPECT_EQ(detector->GetMaxNumOfFaces(), 4);
    detector->SetMaxNumOfFaces(1);
    EXPECT_EQ(detector->Detect(*frame).faces.size(), 1u);
}

TEST_F(CpuDetectorTest, ImagesWithoutPixelsOrTooSmallGiveNoFaces) {
    auto detector = plugin_.Create(&assets_, 2);
    head::test::TestCameraFrame frame(0.0, FrameOf(cv::Mat(8, 8, CV_8U))->intrinsics);
    frame.SetImage(8, 8, 90);
    EXPECT_TRUE(detector->Detect(frame).faces.empty());
    frame.SetImage(640, 480, 90);
    frame.images[0].data = nullptr;
    EXPECT_TRUE(detector->Detect(frame).faces.empty());
    frame.SetImage(640, 480, 90);  // flat grey
    EXPECT_TRUE(detector->Detect(frame).faces.empty());
}

// Eye depth: the depth image at the eye; around a hole at the eye, the neighbourhood's median;
// without any depth, the interocular pixel distance through the focal length (scaled when the
// image is binned relative to the calibration), assuming 63 mm between the eyes.
TEST_F(CpuDetectorTest, TakesEyeDepthFromTheDepthImageOrFromTheEyeDistance) {
    const cv::Mat astronaut = Photo("astronaut.png");
    auto nearEye = [](const glm::dvec2& pixel) {
        for (cv::Point2f eye : {kAstronautRightEye, kAstronautLeftEye}) {
            if (std::hypot(pixel.x - eye.x, pixel.y - eye.y) < 4.0) {
                return true;
            }
        }
        return false;
    };
    struct Case {
        const char* what;
        std::function<bool(const glm::dvec2&, float&)> depth;
        int calibrationWidth;  // 0: no intrinsics
        float fx;
        float expected;  // metres; 0: from the eye distance
    };
    const Case cases[] = {
        {"depth at the eyes",
         [](const glm::dvec2& p, float& d) { return d = p.x < 226 ? 0.71f : 0.73f, true; }, 512,
         500.0f, -1.0f},
        {"hole at the eyes", [&](const glm::dvec2& p, float& d) { return d = 0.64f, !nearEye(p); },
         512, 500.0f, 0.64f},
        {"zeros at the eyes",
         [&](const glm::dvec2& p, float& d) { return d = nearEye(p) ? 0.0f : 0.66f, true; }, 512,
         500.0f, 0.66f},
        {"no depth", nullptr, 512, 500.0f, 0.0f},
        {"no depth, binned", nullptr, 1024, 1000.0f, 0.0f},
    };
    for (const Case& c : cases) {
        auto detector = plugin_.Create(&assets_);
        auto frame = FrameOf(astronaut);
        frame->depthScript = c.depth;
        CameraIntrinsics intrinsics = frame->intrinsics;
        intrinsics.width = c.calibrationWidth;
        intrinsics.ppx = c.calibrationWidth / 2.0f;
        intrinsics.fx = intrinsics.fy = c.fx;
        detector->SetCameraIntrinsics(intrinsics);
        const head::FaceDetector::Output& output = detector->Detect(*frame);
        ASSERT_EQ(output.faces.size(), 1u) << c.what;
        const head::DetectedFace& face = output.faces[0];
        if (c.expected < 0.0f) {
            EXPECT_FLOAT_EQ(face.rightEyeDepth, 0.71f) << c.what;
            EXPECT_FLOAT_EQ(face.leftEyeDepth, 0.73f) << c.what;
            continue;
        }
        float expected = c.expected;
        if (expected == 0.0f) {
            const double distance = glm::length(face.leftEyePixel - face.rightEyePixel);
            expected = static_cast<float>(500.0 * 0.063 / distance);
        }
        EXPECT_NEAR(face.rightEyeDepth, expected, 1e-4f) << c.what;
        EXPECT_NEAR(face.leftEyeDepth, expected, 1e-4f) << c.what;
    }
}

// Roll follows the eye line; yaw of a face looking at the camera is the bearing of its line of
// sight.
TEST_F(CpuDetectorTest, MeasuresRollFromTheEyeLineAndYawAgainstTheLineOfSight) {
    const cv::Mat astronaut = Photo("astronaut.png");
    for (const double degrees : {-12.0, 12.0}) {
        cv::Mat turned;
        // Counter-clockwise as seen for positive angles: the image-right eye rises.
        cv::warpAffine(astronaut, turned, cv::getRotationMatrix2D({225.0f, 122.0f}, degrees, 1.0),
                       astronaut.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        auto detector = plugin_.Create(&assets_);
        const head::FaceDetector::Output& output = detector->Detect(*FrameOf(turned));
        ASSERT_EQ(output.faces.size(), 1u) << degrees;
        // The eye line itself leans by 2.6 degrees in the photograph.
        EXPECT_NEAR(output.faces[0].angles.z, (2.6 - degrees) * CV_PI / 180.0, 0.05) << degrees;
    }

    auto yawAt = [&](cv::Point2f centre) {
        const SyntheticFrame synthetic = InfraredFrame({{120.0f, centre}});
        auto frame = FrameOf(synthetic.image);
        auto detector = plugin_.Create(&assets_);
        detector->SetCameraIntrinsics(frame->intrinsics);
        const head::FaceDetector::Output& output = detector->Detect(*frame);
        EXPECT_EQ(output.faces.size(), 1u);
        return output.faces.empty() ? 0.0f : output.faces[0].angles.y;
    };
    const float middle = yawAt({424.0f, 240.0f});
    EXPECT_NEAR(middle, 0.0f, 0.2f);
    // The eye midpoint moves 276 pixels right at a focal length of 420 pixels.
    EXPECT_NEAR(yawAt({700.0f, 240.0f}) - middle, std::atan(276.0 / 420.0), 0.12);
}

TEST_F(CpuDetectorTest, FallsBackToHaarCascadesWithOneWarningWithoutTheModel) {
    const std::filesystem::path empty =
        std::filesystem::path(::testing::TempDir()) / "cpu-detector-no-model";
    std::filesystem::create_directories(empty);
    FolderAssetManager noModel(empty);
    tavo::test::LogCapture log;
    auto detector = plugin_.Create(&noModel);
    ASSERT_TRUE(detector);
    const cv::Mat astronaut = Photo("astronaut.png");
    for (const char* pass : {"first frame", "second frame"}) {
        ExpectEyes(detector->Detect(*FrameOf(astronaut)), kAstronautRightEye, kAstronautLeftEye,
                   kEyeTolerance, astronaut, std::string("cascades, ") + pass);
    }
    EXPECT_EQ(log.Count("[CpuFaceDetector]"), 2);  // the warning and the creation
    EXPECT_EQ(log.Count("warning [CpuFaceDetector] Face model"), 1);
    EXPECT_TRUE(log.Contains("falling back to Haar cascades"));
    EXPECT_TRUE(detector->Detect(*FrameOf(Photo("brick.png"))).faces.empty());
}

}  // namespace
}  // namespace tavo::cpudetector::test
