// Tests of the tracking records' text forms and of SaveCameraFrame.
#include "tavo/headTracking/common/types.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "headTracking/testCameraFrame.h"

namespace tavo::head {
namespace {

TEST(TrackingTextTest, TimestampNamesItsSpace) {
    EXPECT_EQ(fmt::format("{}", Timestamp{Timestamp::Space::Unknown, 12.5}),
              "{.space=Timestamp::Space::Unknown, .ms=12.5}");
    EXPECT_EQ(fmt::format("{}", Timestamp{Timestamp::Space::System, 3.0}),
              "{.space=Timestamp::Space::System, .ms=3}");
    EXPECT_EQ(fmt::format("{}", Timestamp{static_cast<Timestamp::Space>(5), 1.0}),
              "{.space=Timestamp::Space::Unknown, .ms=1}");
}

TEST(TrackingTextTest, BackendNames) {
    EXPECT_EQ(fmt::format("{}", kTavoFaceDetectorBackendCPU), "kTavoFaceDetectorBackendCPU");
    EXPECT_EQ(fmt::format("{}", kTavoFaceDetectorBackendGPU), "kTavoFaceDetectorBackendGPU");
    EXPECT_EQ(fmt::format("{}", kTavoFaceDetectorBackendUnknown),
              "kTavoFaceDetectorBackendUnknown");
    EXPECT_STREQ(tavo_face_detector_backend_to_string(static_cast<tavo_face_detector_backend_e>(7)),
                 "kTavoFaceDetectorBackendUnknown");
}

TEST(TrackingTextTest, RecordTextForms) {
    EXPECT_EQ(fmt::format("{}", ImageDesc{640, 480, 90, nullptr}),
              "{.width=640, .height=480, .rotation=90}");
    CameraIntrinsics intrinsics = test::TestIntrinsics();
    intrinsics.ppx = 320.5f;
    intrinsics.coeffs[0] = 9.0f;
    intrinsics.isMirrored = true;
    EXPECT_EQ(fmt::format("{}", intrinsics),
              "{.width=2000, .height=2000, .ppx=320.5, .ppy=1000, .fx=1000, .fy=1000, "
              ".isMirrored=true}");
    EXPECT_EQ(fmt::format("{}", FrameProfiling{1, 2, 3, -4}),
              "{.cameraExposureTime=1, .faceDetectorStartTime=2, .faceDetectorEndTime=3, "
              ".apiTimestamp=-4}");
    EXPECT_EQ(fmt::format("{}", FaceDetectorConfiguration{3, kTavoFaceDetectorBackendGPU}),
              "{.maxNumOfFaces=3}");
    EXPECT_EQ(fmt::format("{}", CameraConfiguration{848, 480, 90, 1.5f}),
              "{.width=848, .height=480, .fps=90, .binningFactor=1.5}");
    EXPECT_EQ(fmt::format("{}", TrackingSessionInitArgs{0x1f}), "{.androidSurface=0x1f}");
    EXPECT_EQ(fmt::format("{}", TrackingSessionInitArgs{}), "{.androidSurface=0x0}");
    EXPECT_EQ(fmt::format("{}", glm::vec3(1.5f, -2.0f, 1e-7f)), "{1.5, -2, 1e-07}");
    EXPECT_EQ(fmt::format("{}", glm::mat3(1, 2, 3, 4, 5, 6, 7, 8, 9)),
              "{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}");
}

TEST(TrackingTextTest, CameraFrameShowsTimeAndFirstImage) {
    test::TestCameraFrame frame(25.25);
    frame.SetImage(4, 3, 0, 180);
    const CameraFrame& base = frame;
    EXPECT_EQ(fmt::format("{}", base),
              "{{.space=Timestamp::Space::System, .ms=25.25}, {.width=4, .height=3, "
              ".rotation=180}}");
}

TEST(TrackingRecordsTest, DefaultsAreEmpty) {
    const Slice<const Face> empty;
    EXPECT_EQ(empty.data, nullptr);
    EXPECT_EQ(empty.size, 0);
    EXPECT_TRUE(empty.empty());
    const Face face;
    EXPECT_EQ(face.rawFaceIndex, -1);
    EXPECT_EQ(face.position, glm::vec3(0.0f));
    const FaceDetectorConfiguration detector;
    const BlinkDetectorConfiguration blink{detector, {}};
    EXPECT_EQ(&blink.faceDetector, &detector);
    EXPECT_TRUE(blink.extraArgs.empty());
}

class SaveCameraFrameTest : public testing::Test {
  protected:
    void SetUp() override {
        directory = std::filesystem::temp_directory_path() /
                    fmt::format("tavoSaveCameraFrame{}", static_cast<int>(::getpid()));
        std::filesystem::create_directories(directory);
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    std::filesystem::path directory;
};

TEST_F(SaveCameraFrameTest, WritesThePngOfTheFirstImage) {
    test::TestCameraFrame frame;
    frame.SetImage(5, 3);
    for (size_t i = 0; i < frame.pixels.size(); ++i) {
        frame.pixels[i] = static_cast<uint8_t>(i * 17);
    }
    const std::filesystem::path path = directory / "frame.png";
    ASSERT_TRUE(SaveCameraFrame(frame, path.c_str()));

    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file),
                                           std::istreambuf_iterator<char>()};
    ASSERT_GT(bytes.size(), 33u);
    const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_TRUE(std::equal(std::begin(signature), std::end(signature), bytes.begin()));
    // The header chunk: width, height (big-endian), 8 bits, grey.
    EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
    EXPECT_EQ(bytes[19], 5);
    EXPECT_EQ(bytes[23], 3);
    EXPECT_EQ(bytes[24], 8);
    EXPECT_EQ(bytes[25], 0);
}

TEST_F(SaveCameraFrameTest, MissingDirectoryFailsAndLeavesNoFile) {
    test::TestCameraFrame frame;
    frame.SetImage(4, 4);
    const std::filesystem::path path = directory / "missing" / "frame.png";
    EXPECT_FALSE(SaveCameraFrame(frame, path.c_str()));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(directory / "missing"));
}

TEST_F(SaveCameraFrameTest, ImagesThatCannotBeEncodedAreRefusedAndWriteNothing) {
    std::vector<uint8_t> pixels(16, 7);
    const int32_t big = std::numeric_limits<int32_t>::max() / 2;
    const struct {
        const char* what;
        ImageDesc image;
    } cases[] = {
        {"null pixels", {4, 4, 0, nullptr}},
        {"zero width", {0, 4, 0, pixels.data()}},
        {"zero height", {4, 0, 0, pixels.data()}},
        {"negative width", {-4, 4, 0, pixels.data()}},
        {"negative height", {4, -4, 0, pixels.data()}},
        // The encoder's byte counts are ints; these never reach the pixels.
        {"overflowing size", {big, big, 0, pixels.data()}},
        {"overflowing row", {std::numeric_limits<int32_t>::max(), 1, 0, pixels.data()}},
    };
    for (const auto& c : cases) {
        test::TestCameraFrame frame;
        frame.images.assign(1, c.image);
        const std::filesystem::path path = directory / "refused.png";
        EXPECT_FALSE(SaveCameraFrame(frame, path.c_str())) << c.what;
        EXPECT_FALSE(std::filesystem::exists(path)) << c.what;
    }
    test::TestCameraFrame imageless;
    imageless.images.clear();
    EXPECT_FALSE(SaveCameraFrame(imageless, (directory / "none.png").c_str()));
    EXPECT_FALSE(std::filesystem::exists(directory / "none.png"));
}

}  // namespace
}  // namespace tavo::head
