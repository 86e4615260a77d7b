// The C interface over the host's own camera: pushed images, depth and intrinsics reach the
// detector and the tracker through the shared library; bad arguments are refused and logged.
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "headTracking/engine/scriptedDetector.h"
#include "logCapture.h"
#include "tavo/headTracking/engine/tavoHeadTracking.h"

namespace {

using tavo::test::LogCapture;

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 48;
constexpr float kFx = 50.0f;
constexpr float kPpx = 32.0f;
constexpr float kPpy = 24.0f;
// Eye pixels of the scripted face: 10 px apart at 0.3 m give 60 mm between the eyes.
constexpr double kRightU = 27.0;
constexpr double kLeftU = 37.0;
constexpr double kEyeV = 20.0;
constexpr float kScriptedDepth = 0.3f;

class CInterfaceHostImagesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Kept loaded for the whole run: the library's detectors may outlive any one case.
        control_ = new ScriptedDetectorControl(TAVO_SCRIPTED_PLUGIN);
    }

    void SetUp() override {
        ASSERT_TRUE(control_->loaded());
        ScriptedDetectorScript script;
        tavo::head::DetectedFace face;
        face.rightEyePixel = {kRightU, kEyeV};
        face.leftEyePixel = {kLeftU, kEyeV};
        face.rightEyeDepth = kScriptedDepth;
        face.leftEyeDepth = kScriptedDepth;
        script.faces = {face};
        script.depthFromFrame = true;
        script.stats = &stats_;
        ASSERT_TRUE(control_->SetScript(script));
        std::memset(&args_, 0, sizeof args_);
        args_.logLevel = 3;
        args_.enablePolling = 1;
        pixels_.assign(static_cast<size_t>(kWidth * kHeight), 77);
        image_ = {kWidth, kHeight, pixels_.data()};
        intrinsics_ = {};
        intrinsics_.width = kWidth;
        intrinsics_.height = kHeight;
        intrinsics_.ppx = kPpx;
        intrinsics_.ppy = kPpy;
        intrinsics_.fx = kFx;
        intrinsics_.fy = kFx;
    }

    void TearDown() override {
        tavoHeadTrackingEngineRelease(engine_);
        // The detectors are gone: no script may point at this case's statistics any more.
        control_->SetScript(ScriptedDetectorScript{});
    }

    void Create() {
        ASSERT_EQ(tavoHeadTrackingEngineInitWithSharedCamera(&args_, &engine_),
                  kTavoHeadTrackingStatusSuccess);
        ASSERT_NE(engine_, nullptr);
    }

    tavo_headtracking_status_e Push(double ms, const tavo_headtracking_depth_image* depth) {
        const tavo_headtracking_timestamp timestamp{0, ms};
        return tavoHeadTrackingEnginePushCameraImage(engine_, &image_, depth, &timestamp);
    }

    // The latest frame's time stamp, with its raw faces read into a record sized by the
    // documented rule (a bare record has room for none); ms -1 when polling fails.
    double LatestFrame() {
        std::vector<int64_t> storage(TAVO_HEADTRACKING_RAW_FACES_SIZE(8) / sizeof(int64_t) + 1);
        return LatestFrame(reinterpret_cast<tavo_headtracking_raw_faces*>(storage.data()));
    }
    double LatestFrame(tavo_headtracking_raw_faces* raw) {
        tavo_headtracking_frame frame = nullptr;
        tavo_headtracking_tracking_result result{};
        double ms = -1.0;
        if (tavoHeadTrackingEngineGetLatestFrame(engine_, &frame) == 0 &&
            tavoHeadTrackingFrameGetTrackingResult(frame, &result) == 0 &&
            tavoHeadTrackingFrameGetRawFaces(frame, raw) == 0) {
            ms = result.timestamp.ms;
        }
        tavoHeadTrackingFrameRelease(frame);
        return ms;
    }

    static ScriptedDetectorControl* control_;
    ScriptedDetectorStats stats_;
    tavo_headtracking_engine_init_args args_{};
    tavo_headtracking_engine engine_ = nullptr;
    std::vector<uint8_t> pixels_;
    tavo_headtracking_image image_{};
    tavo_headtracking_camera_intrinsics intrinsics_{};
};

ScriptedDetectorControl* CInterfaceHostImagesTest::control_ = nullptr;

// Raw faces are placed by the pushed intrinsics at the scripted depth, or at the depth image's
// distance when one comes with the image; each push is tracked before it returns.
TEST_F(CInterfaceHostImagesTest, PushedImagesAreTrackedWithTheirIntrinsicsAndDepth) {
    Create();
    ASSERT_EQ(tavoHeadTrackingEnginePushCameraIntrinsics(engine_, &intrinsics_), 0);
    EXPECT_EQ(stats_.lastIntrinsicsWidth.load(), kWidth) << "the detector hears the intrinsics";
    ASSERT_EQ(tavoHeadTrackingEngineStartTracking(engine_), 0);

    std::vector<uint16_t> depthValues(pixels_.size(), 350);  // millimetres: 70 mm eyes
    const tavo_headtracking_depth_image depth{kWidth, kHeight, 0.001f, depthValues.data()};
    struct Case {
        const tavo_headtracking_depth_image* depth;
        float metres;
    };
    double ms = 1000.0;
    for (const Case& c : {Case{nullptr, kScriptedDepth}, Case{&depth, 0.35f}}) {
        SCOPED_TRACE(c.metres);
        tavo_headtracking_raw_faces* raw = static_cast<tavo_headtracking_raw_faces*>(
            std::malloc(TAVO_HEADTRACKING_RAW_FACES_SIZE(8)));
        for (int i = 0; i < 2; ++i) {
            pixels_[0] = static_cast<uint8_t>(10 + i);
            ASSERT_EQ(Push(ms += 33.0, c.depth), kTavoHeadTrackingStatusSuccess);
        }
        EXPECT_EQ(stats_.lastFirstPixel.load(), 11) << "the detector reads the pushed pixels";
        ASSERT_EQ(LatestFrame(raw), ms);
        ASSERT_EQ(raw->numFaces, 1);
        const float z = c.metres * 1000.0f;
        EXPECT_NEAR(raw->faces[0].rightEye.x, (kRightU - kPpx) / kFx * z, 1e-2);
        EXPECT_NEAR(raw->faces[0].leftEye.x, (kLeftU - kPpx) / kFx * z, 1e-2);
        EXPECT_NEAR(raw->faces[0].rightEye.y, (kEyeV - kPpy) / kFx * z, 1e-2);
        EXPECT_NEAR(raw->faces[0].rightEye.z, z, 1e-2);
        std::free(raw);
    }
}

TEST_F(CInterfaceHostImagesTest, WithoutIntrinsicsFramesComeWithoutFaces) {
    Create();
    ASSERT_EQ(tavoHeadTrackingEngineStartTracking(engine_), 0);
    tavo_headtracking_raw_faces* raw =
        static_cast<tavo_headtracking_raw_faces*>(std::malloc(TAVO_HEADTRACKING_RAW_FACES_SIZE(8)));
    ASSERT_EQ(Push(10.0, nullptr), 0);
    ASSERT_EQ(Push(20.0, nullptr), 0);
    EXPECT_EQ(LatestFrame(raw), 20.0);
    EXPECT_EQ(raw->numFaces, 0);
    EXPECT_EQ(stats_.detectCalls.load(), 2);
    std::free(raw);
}

// The frame callback runs on the pushing thread before the push returns; pushes before the
// start and after the stop are dropped and still succeed.
TEST_F(CInterfaceHostImagesTest, PushesOutsideTrackingAreDroppedAndInsideDeliveredAtOnce) {
    struct Seen {
        std::thread::id thread;
        int frames = 0;
    } seen;
    args_.frameCallback = [](tavo_headtracking_frame frame, void* userData) {
        auto* s = static_cast<Seen*>(userData);
        tavo_headtracking_tracking_result result{};
        if (tavoHeadTrackingFrameGetTrackingResult(frame, &result) == 0) {
            s->thread = std::this_thread::get_id();
            ++s->frames;
        }
    };
    args_.frameCallbackUserData = &seen;
    Create();
    ASSERT_EQ(tavoHeadTrackingEnginePushCameraIntrinsics(engine_, &intrinsics_), 0);
    EXPECT_EQ(Push(1.0, nullptr), kTavoHeadTrackingStatusSuccess);
    EXPECT_EQ(seen.frames, 0);
    ASSERT_EQ(tavoHeadTrackingEngineStartTracking(engine_), 0);
    EXPECT_EQ(Push(2.0, nullptr), kTavoHeadTrackingStatusSuccess);
    EXPECT_EQ(seen.frames, 1);
    EXPECT_EQ(seen.thread, std::this_thread::get_id());
    ASSERT_EQ(tavoHeadTrackingEngineStopTracking(engine_), 0);
    EXPECT_EQ(Push(3.0, nullptr), kTavoHeadTrackingStatusSuccess);
    EXPECT_EQ(seen.frames, 1);
    EXPECT_EQ(stats_.detectCalls.load(), 1);
    EXPECT_EQ(LatestFrame(), 2.0) << "the dropped push left the latest frame alone";
}

// Each refusal is status 2 with a critical line that says what was wrong, and nothing reaches
// the detector; a null engine is status 1. Each case has an engine of its own, whose log of
// refusals has seen no other.
TEST_F(CInterfaceHostImagesTest, BadArgumentsAreRefusedWithTheirReason) {
    const uint16_t depthValue = 500;
    std::vector<uint16_t> depthValues(pixels_.size(), depthValue);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        tavo_headtracking_image image;
        bool hasDepth;
        tavo_headtracking_depth_image depth;
        tavo_headtracking_timestamp timestamp;
        const char* message;
    };
    const tavo_headtracking_image good = image_;
    const tavo_headtracking_depth_image goodDepth{kWidth, kHeight, 0.001f, depthValues.data()};
    const Case cases[] = {
        {"zero width", {0, kHeight, pixels_.data()}, false, {}, {0, 1.0}, "Invalid image: 0x48"},
        {"no pixels", {kWidth, kHeight, nullptr}, false, {}, {0, 1.0}, "with no pixels"},
        {"depth of another size",
         good,
         true,
         {kWidth, kHeight - 1, 0.001f, depthValues.data()},
         {0, 1.0},
         "Invalid depth image: 64x47 for a 64x48 image"},
        {"depth without data", good, true, {kWidth, kHeight, 0.001f, nullptr}, {0, 1.0}, "no data"},
        {"depth unit 0",
         good,
         true,
         {kWidth, kHeight, 0.0f, depthValues.data()},
         {0, 1.0},
         "unit 0 m"},
        {"depth unit NaN",
         good,
         true,
         {kWidth, kHeight, nan, depthValues.data()},
         {0, 1.0},
         "unit nan m"},
        {"unknown time space", good, true, goodDepth, {5, 1.0}, "Invalid time stamp: space 5"},
        {"time NaN", good, false, {}, {0, nan}, "Invalid time stamp: space 0, nan ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Create();
        ASSERT_EQ(tavoHeadTrackingEngineStartTracking(engine_), 0);
        LogCapture log;
        EXPECT_EQ(tavoHeadTrackingEnginePushCameraImage(
                      engine_, &c.image, c.hasDepth ? &c.depth : nullptr, &c.timestamp),
                  kTavoHeadTrackingStatusErrorUnknown);
        EXPECT_EQ(log.Count("critical Unexpected exception: "), 1) << log.Dump();
        EXPECT_TRUE(log.Contains(c.message)) << log.Dump();
        tavoHeadTrackingEngineRelease(engine_);
        engine_ = nullptr;
    }
    Create();
    ASSERT_EQ(tavoHeadTrackingEngineStartTracking(engine_), 0);
    const tavo_headtracking_timestamp timestamp{0, 1.0};
    EXPECT_EQ(tavoHeadTrackingEnginePushCameraImage(engine_, nullptr, nullptr, &timestamp),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_EQ(tavoHeadTrackingEnginePushCameraImage(engine_, &image_, nullptr, nullptr),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_EQ(stats_.detectCalls.load(), 0);

    tavo_headtracking_camera_intrinsics badIntrinsics[4] = {intrinsics_, intrinsics_, intrinsics_,
                                                            intrinsics_};
    badIntrinsics[0].width = 0;
    badIntrinsics[1].fx = 0.0f;
    badIntrinsics[2].ppy = nan;
    badIntrinsics[3].coeffs[4] = std::numeric_limits<float>::infinity();
    for (const tavo_headtracking_camera_intrinsics& bad : badIntrinsics) {
        LogCapture log;
        EXPECT_EQ(tavoHeadTrackingEnginePushCameraIntrinsics(engine_, &bad),
                  kTavoHeadTrackingStatusErrorUnknown);
        EXPECT_TRUE(log.Contains("critical Unexpected exception: Invalid camera intrinsics"))
            << log.Dump();
    }
    EXPECT_EQ(tavoHeadTrackingEnginePushCameraIntrinsics(engine_, nullptr),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_EQ(stats_.setCameraIntrinsicsCalls.load(), 0);

    EXPECT_EQ(tavoHeadTrackingEnginePushCameraImage(nullptr, &image_, nullptr, &timestamp),
              kTavoHeadTrackingStatusErrorInvalidInstance);
    EXPECT_EQ(tavoHeadTrackingEnginePushCameraIntrinsics(nullptr, &intrinsics_),
              kTavoHeadTrackingStatusErrorInvalidInstance);
}

// A host that pushes a bad image every frame does not flood the log.
TEST_F(CInterfaceHostImagesTest, RepeatedRefusalsAreRateLimited) {
    Create();
    const tavo_headtracking_image empty{0, 0, nullptr};
    const tavo_headtracking_timestamp timestamp{0, 1.0};
    LogCapture log;
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(tavoHeadTrackingEnginePushCameraImage(engine_, &empty, nullptr, &timestamp),
                  kTavoHeadTrackingStatusErrorUnknown);
    }
    EXPECT_EQ(log.Count("Invalid image"), 1) << log.Dump();
}

TEST_F(CInterfaceHostImagesTest, CreationFailsCleanlyWithoutDelivery) {
    args_.enablePolling = 0;
    engine_ = reinterpret_cast<tavo_headtracking_engine>(&args_);
    EXPECT_EQ(tavoHeadTrackingEngineInitWithSharedCamera(&args_, &engine_),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_EQ(engine_, nullptr);
    EXPECT_EQ(tavoHeadTrackingEngineInitWithSharedCamera(nullptr, &engine_),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_EQ(tavoHeadTrackingEngineInitWithSharedCamera(&args_, nullptr),
              kTavoHeadTrackingStatusErrorUnknown);
}

// A host thread pushes while another starts and stops tracking and polls: each push is
// tracked or dropped. Meant for ThreadSanitizer and AddressSanitizer.
TEST_F(CInterfaceHostImagesTest, PushingWhileTrackingStartsAndStopsIsSafe) {
    Create();
    ASSERT_EQ(tavoHeadTrackingEnginePushCameraIntrinsics(engine_, &intrinsics_), 0);
    std::atomic<bool> pushing{true};
    std::atomic<int> failures{0};
    std::thread host([&] {
        std::vector<uint8_t> pixels(pixels_.size(), 5);
        const tavo_headtracking_image image{kWidth, kHeight, pixels.data()};
        for (double ms = 0.0; pushing.load(); ms += 1.0) {
            const tavo_headtracking_timestamp timestamp{0, ms};
            if (tavoHeadTrackingEnginePushCameraImage(engine_, &image, nullptr, &timestamp) != 0) {
                failures.fetch_add(1);
            }
        }
    });
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(tavoHeadTrackingEngineStartTracking(engine_), 0);
        (void)LatestFrame();
        EXPECT_EQ(tavoHeadTrackingEngineStopTracking(engine_), 0);
    }
    pushing = false;
    host.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
