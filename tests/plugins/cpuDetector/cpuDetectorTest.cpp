// The CPU detector plug-in through its two entry points: faces and eye centres in photographs
// and in synthetic infrared frames, eye depths, angles, the face limit and the fallback without
// the model.
#include <gtest/gtest.h>

#include <cmath>
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

}  // namespace
}  // namespace tavo::cpudetector::test
