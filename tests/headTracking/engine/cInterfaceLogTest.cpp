// The log lines behind the C interface's failure statuses, which a C caller cannot read back.
#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <librealsense2/simulation.h>

#include "logCapture.h"
#include "tavo/headTracking/engine/tavoHeadTracking.h"

namespace {

using SetScriptFunction = void(const tavo_headtracking_detected_face* faces, int32_t numFaces,
                               int32_t maxNumOfFacesLimit, int32_t failCreate);

using tavo::test::LogCapture;

class CInterfaceLogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Kept loaded for the whole run: the library's detectors may outlive any one case.
        plugin_ = ::dlopen(TAVO_SCRIPTED_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(plugin_, nullptr) << ::dlerror();
        setScript_ =
            reinterpret_cast<SetScriptFunction*>(::dlsym(plugin_, "ScriptedDetector_SetScriptC"));
        ASSERT_NE(setScript_, nullptr);
    }

    void SetUp() override {
        ASSERT_NE(setScript_, nullptr);
        setScript_(nullptr, 0, 6, 0);
        rs2sim_reset();
        rs2sim_connect_default_device();
        rs2sim_set_max_wait_ms(100);
        std::memset(&args_, 0, sizeof args_);
        args_.width = 640;
        args_.height = 480;
        args_.fps = 30;
        args_.logLevel = 3;
        args_.enablePolling = 1;
    }

    void TearDown() override {
        tavoHeadTrackingEngineRelease(engine_);
        rs2sim_reset();
    }

    static void* plugin_;
    static SetScriptFunction* setScript_;
    tavo_headtracking_engine_init_args args_;
    tavo_headtracking_engine engine_ = nullptr;
};

void* CInterfaceLogTest::plugin_ = nullptr;
SetScriptFunction* CInterfaceLogTest::setScript_ = nullptr;

TEST_F(CInterfaceLogTest, CreationWithoutDeliveryNamesTheFrameAdapterConfiguration) {
    LogCapture log;
    args_.enablePolling = 0;
    EXPECT_EQ(tavoHeadTrackingEngineInitArgs(&args_, &engine_),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_EQ(engine_, nullptr);
    EXPECT_GE(log.FindMatching(
                  "error Failed to initialize head tracking engine: FrameAdapter incorrect "
                  "configuration: neither callback set nor polling enabled. What's the point "
                  "then? in tavo::head::FrameAdapter::FrameAdapter "
                  "tavo/headTracking/common/frameAdapter"),
              0)
        << log.Dump();
}

TEST_F(CInterfaceLogTest, CreationWithoutCameraLogsTheCameraFailure) {
    LogCapture log;
    rs2sim_disconnect_device();
    EXPECT_EQ(tavoHeadTrackingEngineInitArgs(&args_, &engine_),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_EQ(engine_, nullptr);
    EXPECT_GE(log.FindMatching("error Failed to initialize head tracking engine: "), 0)
        << log.Dump();
}

TEST_F(CInterfaceLogTest, OutOfRangeFaceCountLogsTheEngineMessageWithItsType) {
    ASSERT_EQ(tavoHeadTrackingEngineInitArgs(&args_, &engine_), kTavoHeadTrackingStatusSuccess);
    LogCapture log;
    EXPECT_EQ(tavoHeadTrackingEngineSetMaxNumOfDetectedFaces(engine_, 7),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_GE(log.FindMatching(
                  "critical Unexpected exception: Invalid max num of detected faces: must be "
                  "in [1; 6] range, got 7 in tavo::head::Engine::SetMaxNumOfDetectedFaces "
                  "tavo/headTracking/engine/engine",
                  " (tavo::Exception)"),
              0)
        << log.Dump();
}

TEST_F(CInterfaceLogTest, PollingWithoutPollingEnabledLogsTheAdapterMessage) {
    args_.enablePolling = 0;
    args_.frameCallback = [](tavo_headtracking_frame, void*) {};
    ASSERT_EQ(tavoHeadTrackingEngineInitArgs(&args_, &engine_), kTavoHeadTrackingStatusSuccess);
    LogCapture log;
    tavo_headtracking_frame frame = nullptr;
    EXPECT_EQ(tavoHeadTrackingEngineGetLatestFrame(engine_, &frame),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_EQ(frame, nullptr);
    EXPECT_GE(log.FindMatching(
                  "critical Unexpected exception: FrameAdapter::GetFrame: polling API is not "
                  "enabled in tavo::head::FrameAdapter::GetFrame "
                  "tavo/headTracking/common/frameAdapter",
                  " (tavo::Exception)"),
              0)
        << log.Dump();
}

TEST_F(CInterfaceLogTest, FailedStartLogsTheEngineLineThenTheCriticalOne) {
    ASSERT_EQ(tavoHeadTrackingEngineInitArgs(&args_, &engine_), kTavoHeadTrackingStatusSuccess);
    ASSERT_EQ(tavoHeadTrackingEngineSetTrackedEyes(engine_, 0, 0), kTavoHeadTrackingStatusSuccess);
    LogCapture log;
    EXPECT_EQ(tavoHeadTrackingEngineStartTracking(engine_), kTavoHeadTrackingStatusErrorUnknown);
    const int engineLine = log.FindMatching(
        "error Failed to start tracking: one of components is corrupted - invalid "
        "configuration in tavo::head::FaceTracker::FaceTracker");
    const int criticalLine = log.FindMatching(
        "critical Unexpected exception: invalid configuration in "
        "tavo::head::FaceTracker::FaceTracker",
        " (tavo::Exception)");
    EXPECT_GE(engineLine, 0) << log.Dump();
    EXPECT_GT(criticalLine, engineLine) << log.Dump();
}

TEST_F(CInterfaceLogTest, NullRecordIsLoggedNotDereferenced) {
    ASSERT_EQ(tavoHeadTrackingEngineInitArgs(&args_, &engine_), kTavoHeadTrackingStatusSuccess);
    LogCapture log;
    EXPECT_EQ(tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(engine_, nullptr),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_GE(log.FindMatching("critical Unexpected exception: limit must not be null in "
                               "tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit",
                               " (tavo::Exception)"),
              0)
        << log.Dump();
}

TEST_F(CInterfaceLogTest, PushingIntoAnEngineOverTheRealsenseCameraIsRefused) {
    ASSERT_EQ(tavoHeadTrackingEngineInitArgs(&args_, &engine_), kTavoHeadTrackingStatusSuccess);
    LogCapture log;
    const uint8_t pixel = 0;
    const tavo_headtracking_image image{1, 1, &pixel};
    const tavo_headtracking_timestamp timestamp{0, 1.0};
    EXPECT_EQ(tavoHeadTrackingEnginePushCameraImage(engine_, &image, nullptr, &timestamp),
              kTavoHeadTrackingStatusErrorUnknown);
    tavo_headtracking_camera_intrinsics intrinsics{};
    intrinsics.width = intrinsics.height = 1;
    intrinsics.fx = intrinsics.fy = 1.0f;
    EXPECT_EQ(tavoHeadTrackingEnginePushCameraIntrinsics(engine_, &intrinsics),
              kTavoHeadTrackingStatusErrorUnknown);
    EXPECT_EQ(log.Count("critical Unexpected exception: the engine was not made over the host's "
                        "camera in tavoHeadTrackingEnginePush"),
              2)
        << log.Dump();
}

}  // namespace
