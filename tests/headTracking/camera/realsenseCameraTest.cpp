// The RealSense camera against the simulated device: set-up, sensor settings, frames, errors and
// the capture thread's life.
#include <gtest/gtest.h>

#include <librealsense2/rsutil.h>
#include <librealsense2/simulation.h>
#include <librealsense2/rs.hpp>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "headTracking/camera/cameraTestSupport.h"
#include "tavo/common/exception.h"
#include "tavo/headTracking/camera/internal/cameraTesting.h"
#include "tavo/headTracking/camera/realsenseCamera.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "threadTestSupport.h"

namespace tavo::head {
namespace {

using test::CameraLogCapture;
using test::Eventually;
using test::RecordingCameraListener;

struct OptionWrite {
    rs2_option option;
    float value;
    bool operator==(const OptionWrite&) const = default;
};

std::vector<OptionWrite> OptionLog() {
    std::vector<OptionWrite> writes;
    for (int i = 0; i < rs2sim_option_log_size(); ++i) {
        OptionWrite write{};
        rs2sim_option_log_entry(i, &write.option, &write.value);
        writes.push_back(write);
    }
    return writes;
}

void PrintTo(const OptionWrite& write, std::ostream* out) {
    *out << "{" << static_cast<int>(write.option) << ", " << write.value << "}";
}

// Manual exposure with the emitter on, and the writes that apply it.
const RealsenseCameraDynamicConfiguration kManualSettings = {true, false, 12000.0f, 33.0f};
const std::vector<OptionWrite> kManualWrites = {{RS2_OPTION_EMITTER_ENABLED, 1.0f},
                                                {RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.0f},
                                                {RS2_OPTION_EXPOSURE, 12000.0f},
                                                {RS2_OPTION_GAIN, 33.0f},
                                                {RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f}};

std::vector<rs2sim_stream_request> Requests() {
    std::vector<rs2sim_stream_request> requests(rs2sim_stream_request_count());
    for (size_t i = 0; i < requests.size(); ++i) {
        rs2sim_stream_request_entry(static_cast<int>(i), &requests[i]);
    }
    return requests;
}

// A RealSense camera on a fake USB bus: one the camera may wait for though librealsense has not
// opened it yet.
class FakeUsbCamera {
  public:
    FakeUsbCamera()
        : root_(std::filesystem::temp_directory_path() /
                ("tavo-usb-" + std::to_string(::getpid()))) {
        const std::filesystem::path device = root_ / "bus" / "usb" / "devices" / "2-1";
        std::filesystem::create_directories(device);
        std::ofstream(device / "idVendor") << "8086\n";
        std::ofstream(device / "idProduct") << "0b07\n";
        internal::SetCameraSysfsRootForTesting(root_);
    }
    FakeUsbCamera(const FakeUsbCamera&) = delete;
    FakeUsbCamera& operator=(const FakeUsbCamera&) = delete;
    ~FakeUsbCamera() {
        internal::SetCameraSysfsRootForTesting("/nonexistent");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

  private:
    std::filesystem::path root_;
};

// An infrared and a depth frame whose pixels and metadata a test chooses.
struct ScriptedFrameSet {
    int width = 8;
    int height = 4;
    std::vector<uint8_t> infrared = std::vector<uint8_t>(32, 7);
    std::vector<uint16_t> depth = std::vector<uint16_t>(32, 1500);
    double timestampMs = 5000.0;
    rs2_timestamp_domain domain = RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME;
    std::vector<rs2sim_metadata> metadata = {
        {RS2_FRAME_METADATA_FRAME_TIMESTAMP, 5'000'000},
        {RS2_FRAME_METADATA_SENSOR_TIMESTAMP, 5'000'000},
    };
    bool withInfrared = true;
    bool withDepth = true;

    int Push() const {
        std::vector<rs2sim_frame> frames;
        if (withDepth) {
            frames.push_back({RS2_STREAM_DEPTH, 0, RS2_FORMAT_Z16, width, height, depth.data(),
                              timestampMs, domain, metadata.data(),
                              static_cast<int>(metadata.size())});
        }
        if (withInfrared) {
            frames.push_back({RS2_STREAM_INFRARED, 1, RS2_FORMAT_Y8, width, height, infrared.data(),
                              timestampMs, domain, metadata.data(),
                              static_cast<int>(metadata.size())});
        }
        return rs2sim_push_frameset(frames.data(), static_cast<int>(frames.size()));
    }
};

class RealsenseCameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rs2sim_reset();
        rs2sim_connect_default_device();
        // Keeps a capture thread with nothing to deliver from holding up StopCapture.
        rs2sim_set_max_wait_ms(5);
        // No camera on the bus, whatever this machine has plugged in.
        internal::SetCameraSysfsRootForTesting("/nonexistent");
    }
    void TearDown() override {
        rs2sim_reset();
        internal::SetCameraSysfsRootForTesting("/sys");
    }

    std::unique_ptr<Camera> Create(const RealsenseCameraConfiguration& configuration = {}) {
        return CreateRealsenseCamera(&listener, configuration);
    }

    // Error lines of the capture thread's own waits running out, which depend on timing.
    int TimeoutLines() const {
        return log.CountExact(
            "error [RealsenseCamera.background] Frame didn't arrive within 15000");
    }

    // Error lines other than those.
    int ErrorLinesBesidesTimeouts() const { return log.CountLevel("error") - TimeoutLines(); }

    CameraLogCapture log;
    RecordingCameraListener listener;
};

// ---- set-up ----

TEST_F(RealsenseCameraTest,
       AllZeroConfigurationOpensInfraredAt848x480And90FpsWithDeviceChosenDepth) {
    auto camera = Create();

    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].stream, RS2_STREAM_DEPTH);
    EXPECT_EQ(requests[0].index, -1);
    EXPECT_EQ(requests[0].width, 0);
    EXPECT_EQ(requests[0].height, 0);
    EXPECT_EQ(requests[0].format, RS2_FORMAT_ANY);
    EXPECT_EQ(requests[0].fps, 0);
    EXPECT_EQ(requests[1].stream, RS2_STREAM_INFRARED);
    EXPECT_EQ(requests[1].index, 1) << "the left imager, the one depth is aligned to";
    EXPECT_EQ(requests[1].width, 848);
    EXPECT_EQ(requests[1].height, 480);
    EXPECT_EQ(requests[1].format, RS2_FORMAT_Y8);
    EXPECT_EQ(requests[1].fps, 90);

    EXPECT_EQ(log.CountExact("debug [RealsenseCamera] Initializing: w=848, h=480, fps=90"), 1)
        << log.Dump();
    EXPECT_EQ(camera->GetFps(), 90);
    EXPECT_FALSE(camera->SetFps(30));
    EXPECT_EQ(camera->GetFps(), 90);
    EXPECT_TRUE(camera->GetSupportedFps().empty());
    EXPECT_TRUE(rs2sim_is_streaming()) << "streaming starts with the camera";
}

TEST_F(RealsenseCameraTest, ChosenStreamAndInfraredIntrinsicsAreReportedOnceOnTheCreatingThread) {
    // A device whose infrared stream carries distortion coefficients, to see them copied.
    rs2sim_stream_profile profiles[2] = {};
    profiles[0].stream = RS2_STREAM_DEPTH;
    profiles[0].format = RS2_FORMAT_Z16;
    profiles[0].fps = 30;
    rs2sim_default_intrinsics(640, 480, &profiles[0].intrinsics);
    profiles[1].stream = RS2_STREAM_INFRARED;
    profiles[1].index = 1;
    profiles[1].format = RS2_FORMAT_Y8;
    profiles[1].fps = 30;
    profiles[1].intrinsics = rs2_intrinsics{640,
                                            480,
                                            321.5f,
                                            242.25f,
                                            385.0f,
                                            386.0f,
                                            RS2_DISTORTION_BROWN_CONRADY,
                                            {0.1f, -0.2f, 0.003f, 0.004f, 0.05f}};
    const rs2sim_device_desc desc{profiles, 2, 1, 0.001f};
    rs2sim_connect_device(&desc);

    RealsenseCameraConfiguration configuration;
    configuration.width = 640;
    configuration.height = 480;
    configuration.fps = 30;
    configuration.binningFactor = 2.0f;
    auto camera = Create(configuration);

    EXPECT_EQ(log.CountExact("debug [RealsenseCamera] Initializing: w=640, h=480, fps=30"), 1);
    EXPECT_EQ(camera->GetFps(), 30);
    const auto intrinsics = listener.intrinsics();
    ASSERT_EQ(intrinsics.size(), 1u);
    EXPECT_EQ(intrinsics[0].width, 640);
    EXPECT_EQ(intrinsics[0].height, 480);
    EXPECT_FLOAT_EQ(intrinsics[0].ppx, 321.5f);
    EXPECT_FLOAT_EQ(intrinsics[0].ppy, 242.25f);
    EXPECT_FLOAT_EQ(intrinsics[0].fx, 385.0f);
    EXPECT_FLOAT_EQ(intrinsics[0].fy, 386.0f);
    const float coeffs[5] = {0.1f, -0.2f, 0.003f, 0.004f, 0.05f};
    for (int i = 0; i < 5; ++i) {
        EXPECT_FLOAT_EQ(intrinsics[0].coeffs[i], coeffs[i]) << i;
    }
    EXPECT_TRUE(intrinsics[0].isMirrored);
    EXPECT_EQ(listener.intrinsicsCameras()[0], camera.get());
    EXPECT_EQ(listener.intrinsicsThreads()[0], std::this_thread::get_id());

    camera->StartCapture();
    ASSERT_EQ(rs2sim_push_active_frameset(10.0, 1, 1), 1);
    ASSERT_TRUE(listener.WaitForFrames(1));
    camera->StopCapture();
    EXPECT_EQ(listener.intrinsics().size(), 1u) << "intrinsics are reported once per camera";
    EXPECT_TRUE(listener.intrinsicsBeforeFrames());
}

TEST_F(RealsenseCameraTest, ARequestTheDeviceCannotMeetFailsCreationWithTheLibraryError) {
    RealsenseCameraConfiguration configuration;
    configuration.width = 1000;
    configuration.height = 1000;
    EXPECT_THROW(Create(configuration), rs2::error);
    EXPECT_EQ(log.CountExact("error Failed to start realsense pipe: "
                             "func=\"rs2_pipeline_start_with_config\" args=\"pipe, config\" "
                             "message=\"Couldn't resolve requests\""),
              1)
        << log.Dump();
    EXPECT_TRUE(listener.intrinsics().empty());
}

TEST_F(RealsenseCameraTest, WithoutACameraCreationFailsAtOnceInsteadOfWaitingForOne) {
    rs2sim_disconnect_device();
    // Uncapped, the library's start would wait 15 s for a device.
    rs2sim_set_max_wait_ms(-1);
    try {
        Create();
        FAIL() << "expected rs2::error";
    } catch (const rs2::error& error) {
        EXPECT_STREQ(error.what(), "No device connected");
    }
    EXPECT_EQ(rs2sim_call_count("rs2_pipeline_start_with_config"), 0);
    EXPECT_EQ(log.CountExact("error Failed to start realsense pipe: func=\"\" args=\"\" "
                             "message=\"No device connected\""),
              1)
        << log.Dump();
    EXPECT_TRUE(listener.intrinsics().empty());
    EXPECT_FALSE(rs2sim_is_streaming());
}

TEST_F(RealsenseCameraTest, ACameraOnTheBusThatTheLibraryOpensLateIsWaitedFor) {
    FakeUsbCamera usb;
    rs2sim_disconnect_device();
    rs2sim_set_max_wait_ms(10'000);
    std::atomic<pid_t> creator{tavo::test::CurrentThreadId()};
    std::thread plug([&creator] {
        // Plugged in once the creation waits for it.
        tavo::test::WaitUntilAsleep(creator, [] { return false; });
        rs2sim_connect_default_device();
    });
    std::unique_ptr<Camera> camera;
    EXPECT_NO_THROW(camera = Create()) << log.Dump();
    plug.join();
    EXPECT_EQ(listener.intrinsics().size(), 1u);
    EXPECT_TRUE(rs2sim_is_streaming());
}

TEST_F(RealsenseCameraTest, ContextIsMadeForApiVersion25000AndItsFailureIsNotLoggedAsAFailedStart) {
    rs2sim_fail_call("rs2_create_context", RS2_EXCEPTION_TYPE_BACKEND, "no usb", 0, 1);
    try {
        Create();
        FAIL() << "expected rs2::error";
    } catch (const rs2::backend_error& error) {
        EXPECT_EQ(error.get_failed_args(), "api_version:25000");
    }
    EXPECT_EQ(log.Count("Failed to start realsense pipe"), 0) << log.Dump();
    EXPECT_EQ(rs2sim_start_count(), 0);
}

TEST_F(RealsenseCameraTest, ADeviceWithoutDepthSensorFailsCreationAndStopsStreaming) {
    rs2sim_stream_profile profiles[2] = {};
    profiles[0].stream = RS2_STREAM_DEPTH;
    profiles[0].format = RS2_FORMAT_Z16;
    profiles[0].fps = 90;
    rs2sim_default_intrinsics(848, 480, &profiles[0].intrinsics);
    profiles[1] = profiles[0];
    profiles[1].stream = RS2_STREAM_INFRARED;
    profiles[1].index = 1;
    profiles[1].format = RS2_FORMAT_Y8;
    const rs2sim_device_desc desc{profiles, 2, 0, 0.001f};
    rs2sim_connect_device(&desc);

    try {
        Create();
        FAIL() << "expected rs2::error";
    } catch (const rs2::error& error) {
        EXPECT_STREQ(error.what(), "Could not find requested sensor type!");
    }
    EXPECT_EQ(log.CountExact("error Failed to start realsense pipe: func=\"\" args=\"\" "
                             "message=\"Could not find requested sensor type!\""),
              1)
        << log.Dump();
    EXPECT_FALSE(rs2sim_is_streaming()) << "the started pipeline is released with the failure";
    EXPECT_EQ(rs2sim_stop_count(), 1);
}

TEST_F(RealsenseCameraTest, FailedIntrinsicsQueryFailsCreation) {
    rs2sim_fail_call("rs2_get_video_stream_intrinsics", RS2_EXCEPTION_TYPE_INVALID_VALUE,
                     "no calibration", 0, 1);
    EXPECT_THROW(Create(), rs2::invalid_value_error);
    EXPECT_EQ(log.CountExact("error Failed to start realsense pipe: "
                             "func=\"rs2_get_video_stream_intrinsics\" args=\"profile:Infrared 1\" "
                             "message=\"no calibration\""),
              1)
        << log.Dump();
    EXPECT_TRUE(listener.intrinsics().empty());
}

TEST_F(RealsenseCameraTest, DestructionStopsCaptureAndStreaming) {
    auto camera = Create();
    camera->StartCapture();
    ASSERT_EQ(rs2sim_push_active_frameset(1.0, 1, 1), 1);
    ASSERT_TRUE(listener.WaitForFrames(1));
    camera.reset();
    EXPECT_FALSE(rs2sim_is_streaming());
    EXPECT_EQ(rs2sim_stop_count(), 1);
    EXPECT_EQ(rs2sim_push_active_frameset(2.0, 1, 1), 0);
    EXPECT_EQ(log.CountExact("trace [RealsenseCamera] StopCapture"), 1);
}

// ---- sensor settings ----

TEST_F(RealsenseCameraTest, AutoExposureWritesNeitherExposureNorGain) {
    RealsenseCameraConfiguration configuration;
    configuration.dynamicConfiguration.emitter = false;
    configuration.dynamicConfiguration.autoExposure = true;
    auto camera = Create(configuration);
    const std::vector<OptionWrite> expected = {{RS2_OPTION_EMITTER_ENABLED, 0.0f},
                                               {RS2_OPTION_ENABLE_AUTO_EXPOSURE, 1.0f},
                                               {RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f}};
    EXPECT_EQ(OptionLog(), expected);
    EXPECT_EQ(log.CountExact("debug [RealsenseCamera] Dynamic config: emitter=false, "
                             "autoExposure=true, exposure=9000, gain=50"),
              1)
        << log.Dump();
}

TEST_F(RealsenseCameraTest, ManualExposureWritesExposureThenGain) {
    RealsenseCameraConfiguration configuration;
    configuration.dynamicConfiguration = kManualSettings;
    auto camera = Create(configuration);
    EXPECT_EQ(OptionLog(), kManualWrites);
    EXPECT_EQ(log.CountExact("debug [RealsenseCamera] Dynamic config: emitter=true, "
                             "autoExposure=false, exposure=12000, gain=33"),
              1)
        << log.Dump();
    EXPECT_EQ(log.CountLevel("warning"), 0) << log.Dump();
}

TEST_F(RealsenseCameraTest, ConfiguredValuesOutsideTheSensorRangeAreClampedAndReportedOnce) {
    struct Case {
        const char* name;
        rs2::option_range range;
        float configured;
        float written;
        bool reported;
    };
    const Case cases[] = {
        {"above the range", {1.0f, 165000.0f, 8500.0f, 1.0f}, 200000.0f, 165000.0f, true},
        {"below the range", {1.0f, 165000.0f, 8500.0f, 1.0f}, 0.5f, 1.0f, true},
        {"between steps", {20.0f, 10000.0f, 100.0f, 20.0f}, 1234.0f, 1240.0f, true},
        {"on a step", {20.0f, 10000.0f, 100.0f, 20.0f}, 1240.0f, 1240.0f, false},
        {"no number", {20.0f, 10000.0f, 100.0f, 20.0f}, std::nanf(""), 100.0f, true},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        rs2sim_connect_default_device();
        rs2sim_set_option_range(RS2_OPTION_EXPOSURE, each.range.min, each.range.max,
                                each.range.step, each.range.def);
        CameraLogCapture caseLog;
        RecordingCameraListener caseListener;
        RealsenseCameraConfiguration configuration;
        configuration.dynamicConfiguration = {false, false, each.configured, 16.0f};
        auto camera = CreateRealsenseCamera(&caseListener, configuration);
        EXPECT_FLOAT_EQ(rs2sim_get_option_value(RS2_OPTION_EXPOSURE, -1.0f), each.written);
        EXPECT_EQ(caseLog.Count("is outside the camera's range"), each.reported ? 1 : 0)
            << caseLog.Dump();
        if (each.configured == 200000.0f) {
            EXPECT_EQ(caseLog.CountExact("warning [RealsenseCamera] Exposure 200000 is outside "
                                         "the camera's range [1, 165000] in steps of 1; using "
                                         "165000"),
                      1)
                << caseLog.Dump();
        }

        UpdateRealsenseCameraDynamicConfiguration(camera.get(), configuration.dynamicConfiguration);
        EXPECT_FLOAT_EQ(rs2sim_get_option_value(RS2_OPTION_EXPOSURE, -1.0f), each.written);
        EXPECT_EQ(caseLog.Count("is outside the camera's range"), each.reported ? 1 : 0)
            << "reported once\n"
            << caseLog.Dump();
    }
}

TEST_F(RealsenseCameraTest, ASensorWithoutEmitterIsConfiguredWithoutIt) {
    rs2sim_set_option_supported(RS2_OPTION_EMITTER_ENABLED, 0);
    RealsenseCameraConfiguration configuration;
    configuration.dynamicConfiguration.emitter = true;
    auto camera = Create(configuration);
    const std::vector<OptionWrite> expected = {{RS2_OPTION_ENABLE_AUTO_EXPOSURE, 1.0f},
                                               {RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f}};
    EXPECT_EQ(OptionLog(), expected);
    EXPECT_EQ(log.Count("error"), 0) << log.Dump();
}

TEST_F(RealsenseCameraTest, AFailedOptionWriteFailsCreationAndStopsTheWrites) {
    // The exposure write, the third one, fails.
    rs2sim_fail_call("rs2_set_option", RS2_EXCEPTION_TYPE_INVALID_VALUE, "out of range", 2, 1);
    RealsenseCameraConfiguration configuration;
    configuration.dynamicConfiguration = {false, false, 9000.0f, 50.0f};
    EXPECT_THROW(Create(configuration), rs2::invalid_value_error);
    EXPECT_EQ(log.CountExact("error Failed to start realsense pipe: func=\"rs2_set_option\" "
                             "args=\"options, option:Exposure, value:9000\" "
                             "message=\"out of range\""),
              1)
        << log.Dump();
    EXPECT_EQ(OptionLog().size(), 2u);
    EXPECT_FALSE(rs2sim_is_streaming());
}

TEST_F(RealsenseCameraTest, DynamicUpdateOnAStoppedCameraAppliesAndLeavesCaptureStopped) {
    auto camera = Create();
    const size_t threadsStopped = tavo::test::ThreadCount();
    rs2sim_clear_option_log();
    UpdateRealsenseCameraDynamicConfiguration(camera.get(), {true, false, 700.0f, 20.0f});
    const std::vector<OptionWrite> expected = {{RS2_OPTION_EMITTER_ENABLED, 1.0f},
                                               {RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.0f},
                                               {RS2_OPTION_EXPOSURE, 700.0f},
                                               {RS2_OPTION_GAIN, 20.0f},
                                               {RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f}};
    EXPECT_EQ(OptionLog(), expected);
    EXPECT_EQ(log.CountExact("trace [RealsenseCamera] StartCapture"), 0);
    EXPECT_EQ(log.CountExact("trace [RealsenseCamera] StopCapture"), 0);

    // No capture thread was started to deliver a frame.
    EXPECT_EQ(tavo::test::ThreadCount(), threadsStopped);
    ASSERT_EQ(rs2sim_push_active_frameset(1.0, 1, 1), 1);
    EXPECT_EQ(listener.frameCount(), 0u);
    EXPECT_EQ(rs2sim_pending_framesets(), 1);
}

TEST_F(RealsenseCameraTest, DynamicUpdateOnARunningCameraStopsAppliesAndRestarts) {
    auto camera = Create();
    camera->StartCapture();
    ASSERT_EQ(rs2sim_push_active_frameset(1.0, 1, 1), 1);
    ASSERT_TRUE(listener.WaitForFrames(1));
    rs2sim_clear_option_log();
    const int before = static_cast<int>(log.lines().size());

    UpdateRealsenseCameraDynamicConfiguration(camera.get(), {false, true, 1.0f, 2.0f});

    const int stop = log.Find("trace [RealsenseCamera] StopCapture", before);
    const int applied = log.Find(
        "debug [RealsenseCamera] Dynamic config: emitter=false, "
        "autoExposure=true, exposure=1, gain=2",
        before);
    const int start = log.Find("trace [RealsenseCamera] StartCapture", before);
    EXPECT_TRUE(stop >= 0 && stop < applied && applied < start) << log.Dump();
    EXPECT_EQ(OptionLog().size(), 3u);

    ASSERT_EQ(rs2sim_push_active_frameset(2.0, 1, 1), 1);
    EXPECT_TRUE(listener.WaitForFrames(2)) << "capture runs again";
}

TEST_F(RealsenseCameraTest, AFailedDynamicUpdateIsThrownLoggedAndLeavesCaptureStopped) {
    auto camera = Create();
    const size_t threadsStopped = tavo::test::ThreadCount();
    camera->StartCapture();
    rs2sim_fail_call("rs2_set_option", RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED, "unplugged", 0, 1);
    EXPECT_THROW(UpdateRealsenseCameraDynamicConfiguration(camera.get(),
                                                           RealsenseCameraDynamicConfiguration{}),
                 rs2::camera_disconnected_error);
    EXPECT_EQ(log.CountExact("error Failed to update dynamic configuration: "
                             "func=\"rs2_set_option\" "
                             "args=\"options, option:Emitter Enabled, value:0\" "
                             "message=\"unplugged\""),
              1)
        << log.Dump();
    // The capture thread is gone: nothing is left to deliver a frame.
    EXPECT_EQ(tavo::test::ThreadCount(), threadsStopped);
    ASSERT_EQ(rs2sim_push_active_frameset(1.0, 1, 1), 1);
    EXPECT_EQ(listener.frameCount(), 0u);

    camera->StartCapture();
    EXPECT_TRUE(listener.WaitForFrames(1)) << "a later start resumes delivery";
}

TEST_F(RealsenseCameraTest, DynamicUpdateRefusesCamerasThatAreNotRealsenseCameras) {
    SharedCameraSink sink;
    SharedCamera shared(&listener, &sink);
    EXPECT_THROW(UpdateRealsenseCameraDynamicConfiguration(&shared, {}), tavo::Exception);
    EXPECT_THROW(UpdateRealsenseCameraDynamicConfiguration(nullptr, {}), tavo::Exception);
}

// ---- frames ----

TEST_F(RealsenseCameraTest, FramesCarryTheInfraredImageDepthAndProjectionWithTheCameraCalibration) {
    auto camera = Create();
    rs2sim_stream_profile infrared{};
    ASSERT_TRUE(rs2sim_active_profile(RS2_STREAM_INFRARED, &infrared));

    struct Seen {
        bool depthOk = false;
        float depth = 0.0f;
        float depthAtTruncatedPixel = 0.0f;
        bool deprojectOk = false;
        glm::vec3 point{0.0f};
        bool projectOk = false;
        glm::dvec2 pixel{0.0};
        float projectedDepth = 0.0f;
        bool nanDepth = true;
        bool outsideAnswered = false;
    } seen;
    listener.SetHook([&](Camera*, const CameraFrame& frame) {
        seen.depthOk = frame.GetDepth({10.9, 20.9}, seen.depth);
        frame.GetDepth({10.0, 20.0}, seen.depthAtTruncatedPixel);
        seen.deprojectOk = frame.DeprojectPixelToPoint({100.0, 50.0}, 1.5f, seen.point);
        seen.projectOk =
            frame.ProjectPointToPixel({0.1f, -0.2f, 2.0f}, seen.pixel, seen.projectedDepth);
        float unused = 0.0f;
        seen.nanDepth = frame.GetDepth({std::nan(""), 1.0}, unused);
        seen.outsideAnswered = !frame.GetDepth({5000.0, 1.0}, unused);
    });
    camera->StartCapture();
    ASSERT_EQ(rs2sim_push_active_frameset(1234.5, 77, 1250), 1);
    ASSERT_TRUE(listener.WaitForFrames(1));
    camera->StopCapture();

    const auto frames = listener.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].camera, camera.get());
    EXPECT_NE(frames[0].thread, std::this_thread::get_id()) << "delivered on the capture thread";
    ASSERT_EQ(frames[0].images.size(), 1u);
    EXPECT_EQ(frames[0].images[0].width, 848);
    EXPECT_EQ(frames[0].images[0].height, 480);
    EXPECT_EQ(frames[0].images[0].rotation, 0);
    EXPECT_EQ(frames[0].firstPixel, 77);
    EXPECT_EQ(frames[0].timestamp.space, Timestamp::Space::System);
    EXPECT_DOUBLE_EQ(frames[0].timestamp.ms, 1234.5);

    EXPECT_TRUE(seen.depthOk);
    EXPECT_FLOAT_EQ(seen.depth, 1.25f);
    EXPECT_FLOAT_EQ(seen.depthAtTruncatedPixel, 1.25f);
    EXPECT_FALSE(seen.nanDepth) << "a pixel that is no number has no depth";
    EXPECT_TRUE(seen.outsideAnswered) << "a pixel outside the depth image has no depth";
    EXPECT_EQ(log.Count("warning [RealsenseCamera] No depth at (5000, 1): "), 1) << log.Dump();

    float expectedPoint[3];
    const float pixel[2] = {100.0f, 50.0f};
    rs2_deproject_pixel_to_point(expectedPoint, &infrared.intrinsics, pixel, 1.5f);
    EXPECT_TRUE(seen.deprojectOk);
    EXPECT_FLOAT_EQ(seen.point.x, expectedPoint[0]);
    EXPECT_FLOAT_EQ(seen.point.y, expectedPoint[1]);
    EXPECT_FLOAT_EQ(seen.point.z, 1.5f);

    float expectedPixel[2];
    const float point[3] = {0.1f, -0.2f, 2.0f};
    rs2_project_point_to_pixel(expectedPixel, &infrared.intrinsics, point);
    EXPECT_TRUE(seen.projectOk);
    EXPECT_FLOAT_EQ(static_cast<float>(seen.pixel.x), expectedPixel[0]);
    EXPECT_FLOAT_EQ(static_cast<float>(seen.pixel.y), expectedPixel[1]);
    EXPECT_FLOAT_EQ(seen.projectedDepth, 2.0f);
}

TEST_F(RealsenseCameraTest, GlobalTimeMovesToTheSensorTimeWhereFramesCarryItAndNeverLogsPerFrame) {
    struct Case {
        const char* name;
        std::vector<rs2sim_metadata> metadata;
        double expectedMs;
    };
    const Case cases[] = {
        {"sensor time 1000 us before frame time",
         {{RS2_FRAME_METADATA_FRAME_TIMESTAMP, 3'000'000},
          {RS2_FRAME_METADATA_SENSOR_TIMESTAMP, 2'999'000}},
         7999.25},
        // A camera without the kernel's metadata support: only the UVC header.
        {"no sensor time", {{RS2_FRAME_METADATA_FRAME_TIMESTAMP, 3'000'000}}, 8000.25},
        {"no metadata", {}, 8000.25},
    };
    auto camera = Create();
    camera->StartCapture();
    for (const Case& each : cases) {
        ScriptedFrameSet frameSet;
        frameSet.timestampMs = 8000.25;
        frameSet.metadata = each.metadata;
        for (int repeat = 0; repeat < 3; ++repeat) {
            ASSERT_EQ(frameSet.Push(), 1);
        }
    }
    ASSERT_TRUE(listener.WaitForFrames(9));
    camera->StopCapture();

    const auto frames = listener.frames();
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(cases[i / 3].name);
        EXPECT_EQ(frames[i].timestamp.space, Timestamp::Space::System);
        EXPECT_DOUBLE_EQ(frames[i].timestamp.ms, cases[i / 3].expectedMs);
    }
    EXPECT_EQ(ErrorLinesBesidesTimeouts(), 0) << log.Dump();
    EXPECT_EQ(log.CountLevel("warning"), 0) << log.Dump();
}

// Host times of frames pushed every 11 ms, on a device clock far behind the host's.
constexpr double kHostStartMs = 1'700'000'000'000.0;
constexpr double kDeviceClockOffsetMs = 12'345.0 - kHostStartMs;
constexpr double kFrameStepMs = 11.0;

void PushFramesOnTheClock(int first, int count) {
    for (int i = first; i < first + count; ++i) {
        ASSERT_EQ(rs2sim_push_active_frameset(kHostStartMs + i * kFrameStepMs, 1, 1), 1);
    }
}

void ExpectEvenSteps(const std::vector<test::DeliveredFrame>& frames, Timestamp::Space space) {
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].timestamp.space, space) << i;
        if (i > 0) {
            EXPECT_NEAR(frames[i].timestamp.ms - frames[i - 1].timestamp.ms, kFrameStepMs, 1e-3)
                << i;
        }
    }
}

TEST_F(RealsenseCameraTest, FramesBeforeGlobalTimeSettlesAreHeldBackSoTheTimeStepNeverJumps) {
    rs2sim_set_global_time_settling(3, kDeviceClockOffsetMs);
    auto camera = Create();
    camera->StartCapture();
    PushFramesOnTheClock(0, 8);
    ASSERT_TRUE(listener.WaitForFrames(5));
    ASSERT_TRUE(Eventually([] { return rs2sim_delivered_framesets() == 8; }));
    camera->StopCapture();

    const auto frames = listener.frames();
    ASSERT_EQ(frames.size(), 5u) << "the three frames on the device clock are held back";
    EXPECT_DOUBLE_EQ(frames[0].timestamp.ms, kHostStartMs + 3 * kFrameStepMs);
    ExpectEvenSteps(frames, Timestamp::Space::System);
    EXPECT_EQ(log.CountLevel("warning"), 0) << log.Dump();
}

TEST_F(RealsenseCameraTest, WithoutGlobalTimeTheCameraClockIsChosenOnceAfterASecondOfFrames) {
    // Global time that settles only after the camera gave up waiting for it.
    rs2sim_set_global_time_settling(1'000'000, kDeviceClockOffsetMs);
    RealsenseCameraConfiguration configuration;
    configuration.fps = 30;
    auto camera = Create(configuration);
    camera->StartCapture();
    PushFramesOnTheClock(0, 30);
    ASSERT_TRUE(Eventually([] { return rs2sim_delivered_framesets() == 30; }));
    EXPECT_EQ(listener.frameCount(), 0u) << "a second of frames is held back";

    PushFramesOnTheClock(30, 2);
    ASSERT_TRUE(listener.WaitForFrames(2));
    rs2sim_set_global_time_settling(0, kDeviceClockOffsetMs);
    PushFramesOnTheClock(32, 2);
    ASSERT_TRUE(listener.WaitForFrames(4));
    camera->StopCapture();

    const auto frames = listener.frames();
    EXPECT_DOUBLE_EQ(frames[0].timestamp.ms, 12'345.0 + 30 * kFrameStepMs)
        << "the raw time of the camera's clock";
    ExpectEvenSteps(frames, Timestamp::Space::Unknown);
    EXPECT_EQ(log.CountExact("warning [RealsenseCamera] No frame on the global clock after 30 "
                             "frames; time stamps stay on the camera's clock"),
              1)
        << log.Dump();
}

TEST_F(RealsenseCameraTest, FramesWithoutAnyMetadataComeOnTheHostArrivalClockAtOnce) {
    rs2sim_set_frame_metadata(RS2SIM_METADATA_NONE);
    auto camera = Create();
    camera->StartCapture();
    PushFramesOnTheClock(0, 20);
    ASSERT_TRUE(listener.WaitForFrames(20));
    camera->StopCapture();

    const auto frames = listener.frames();
    EXPECT_DOUBLE_EQ(frames[0].timestamp.ms, kHostStartMs);
    ExpectEvenSteps(frames, Timestamp::Space::Unknown);
    EXPECT_EQ(ErrorLinesBesidesTimeouts(), 0) << log.Dump();
    EXPECT_EQ(log.Count("info [RealsenseCamera] Frames carry no time stamps of the camera"), 1)
        << log.Dump();
}

TEST_F(RealsenseCameraTest, TimeStampAndImageListAreWorkedOutOnceAndKeptForTheFrame) {
    auto camera = Create();
    Timestamp first;
    Timestamp second;
    const ImageDesc* firstImages = nullptr;
    const ImageDesc* secondImages = nullptr;
    int timestampCalls = -1;
    int widthCalls = -1;
    listener.SetHook([&](Camera*, const CameraFrame& frame) {
        const int timestampBefore = rs2sim_call_count("rs2_get_frame_timestamp");
        const int widthBefore = rs2sim_call_count("rs2_get_frame_width");
        first = frame.timestamp();
        second = frame.timestamp();
        firstImages = frame.imageDescs().data;
        secondImages = frame.imageDescs().data;
        timestampCalls = rs2sim_call_count("rs2_get_frame_timestamp") - timestampBefore;
        widthCalls = rs2sim_call_count("rs2_get_frame_width") - widthBefore;
    });
    camera->StartCapture();
    ASSERT_EQ(rs2sim_push_active_frameset(99.0, 1, 1), 1);
    ASSERT_TRUE(listener.WaitForFrames(1));
    camera->StopCapture();
    EXPECT_EQ(timestampCalls, 0) << "the recording listener asked first; the answer was kept";
    EXPECT_EQ(widthCalls, 0);
    EXPECT_DOUBLE_EQ(first.ms, second.ms);
    EXPECT_EQ(firstImages, secondImages);
}

TEST_F(RealsenseCameraTest, AFrameSetWithoutInfraredIsSkippedAndOneWithoutDepthHasNoDepth) {
    auto camera = Create();
    bool depthFound = true;
    listener.SetHook([&](Camera*, const CameraFrame& frame) {
        float depth = 0.0f;
        depthFound = frame.GetDepth({1.0, 1.0}, depth);
    });
    camera->StartCapture();
    ScriptedFrameSet noInfrared;
    noInfrared.withInfrared = false;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(noInfrared.Push(), 1);
    }
    ScriptedFrameSet noDepth;
    noDepth.withDepth = false;
    ASSERT_EQ(noDepth.Push(), 1);
    ASSERT_TRUE(listener.WaitForFrames(1));
    camera->StopCapture();

    const auto frames = listener.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].images.size(), 1u);
    EXPECT_FALSE(depthFound);
    EXPECT_EQ(log.Count("warning [RealsenseCamera] Frame set without an infrared image skipped"), 1)
        << "rate-limited\n"
        << log.Dump();
    EXPECT_EQ(ErrorLinesBesidesTimeouts(), 0) << log.Dump();
}

TEST_F(RealsenseCameraTest, ProjectionFailuresAreLoggedAndAnsweredFalse) {
    auto camera = Create();
    bool deprojected = true;
    bool projected = true;
    float projectedDepth = 0.0f;
    listener.SetHook([&](Camera*, const CameraFrame& frame) {
        glm::vec3 point{};
        glm::dvec2 pixel{};
        deprojected = frame.DeprojectPixelToPoint({1.0, 2.0}, 0.75f, point);
        projected = frame.ProjectPointToPixel({0.0f, 0.0f, 0.5f}, pixel, projectedDepth);
    });
    rs2sim_fail_call("rs2_deproject_pixel_to_point", RS2_EXCEPTION_TYPE_INVALID_VALUE, "bad", 0, 1);
    rs2sim_fail_call("rs2_project_point_to_pixel", RS2_EXCEPTION_TYPE_INVALID_VALUE, "worse", 0, 1);
    camera->StartCapture();
    ASSERT_EQ(rs2sim_push_active_frameset(1.0, 1, 1), 1);
    ASSERT_TRUE(listener.WaitForFrames(1));
    camera->StopCapture();

    EXPECT_FALSE(deprojected);
    EXPECT_FALSE(projected);
    EXPECT_EQ(log.CountExact("error Failed to deproject pixel to point: "
                             "func=\"rs2_deproject_pixel_to_point\" "
                             "args=\"intrin, pixel, depth:0.750000\" message=\"bad\""),
              1)
        << log.Dump();
    EXPECT_EQ(log.CountExact("error Failed to roject pixel to point: "
                             "func=\"rs2_project_point_to_pixel\" args=\"intrin, point\" "
                             "message=\"worse\""),
              1)
        << log.Dump();
}

// ---- the capture thread ----

TEST_F(RealsenseCameraTest, ARecoverableErrorIsLoggedAndTheNextFrameStillArrives) {
    rs2sim_set_max_wait_ms(-1);
    auto camera = Create();
    camera->StartCapture();
    ASSERT_EQ(rs2sim_push_timeout(), 1);
    ASSERT_EQ(rs2sim_push_active_frameset(5.0, 1, 1), 1);
    ASSERT_TRUE(listener.WaitForFrames(1));
    rs2sim_set_max_wait_ms(5);
    camera->StopCapture();
    EXPECT_GE(TimeoutLines(), 1) << log.Dump();
    EXPECT_EQ(rs2sim_last_wait_timeout_ms(), 15000);
    EXPECT_EQ(log.Count("critical"), 0);
}

TEST_F(RealsenseCameraTest, AnExceptionFromTheListenerIsLoggedAndCaptureGoesOn) {
    auto camera = Create();
    listener.SetHook(
        [](Camera*, const CameraFrame&) { throw std::runtime_error("listener broke"); });
    camera->StartCapture();
    ASSERT_EQ(rs2sim_push_active_frameset(1.0, 1, 1), 1);
    ASSERT_EQ(rs2sim_push_active_frameset(2.0, 1, 1), 1);
    ASSERT_TRUE(listener.WaitForFrames(2));
    camera->StopCapture();
    EXPECT_EQ(log.CountExact("error [RealsenseCamera.background] listener broke"), 2) << log.Dump();
}

TEST_F(RealsenseCameraTest, AnUnrecoverableErrorEndsTheThreadUntilTheNextStart) {
    auto camera = Create();
    const size_t threadsStopped = tavo::test::ThreadCount();
    rs2sim_fail_call("rs2_pipeline_wait_for_frames", RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED,
                     "usb gone", 0, 1);
    camera->StartCapture();
    ASSERT_TRUE(Eventually([&] {
        return log.CountExact("critical [RealsenseCamera.background] usb gone") == 1;
    })) << log.Dump();
    EXPECT_TRUE(Eventually([&] { return tavo::test::ThreadCount() == threadsStopped; }))
        << "the thread has not ended";
    ASSERT_EQ(rs2sim_push_active_frameset(1.0, 1, 1), 1);
    EXPECT_EQ(listener.frameCount(), 0u) << "the thread has ended";
    EXPECT_EQ(rs2sim_pending_framesets(), 1);

    camera->StartCapture();
    EXPECT_TRUE(listener.WaitForFrames(1)) << "a later start replaces the ended thread";
    camera->StopCapture();
}

TEST_F(RealsenseCameraTest, AnUnpluggedCameraIsWaitedForAndGetsItsSettingsAgainOnItsReturn) {
    auto camera = Create();
    camera->StartCapture();
    // Settings changed after creation are the ones the returning camera must get.
    UpdateRealsenseCameraDynamicConfiguration(camera.get(), kManualSettings);
    ASSERT_EQ(rs2sim_push_active_frameset(1.0, 1, 1), 1);
    ASSERT_TRUE(listener.WaitForFrames(1));

    rs2sim_disconnect_device();
    ASSERT_TRUE(Eventually([&] {
        return log.CountExact(
                   "warning [RealsenseCamera] Camera disconnected; waiting for it to return") == 1;
    })) << log.Dump();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // At most the wait under way when the camera went; none while it is known to be gone.
    EXPECT_LE(ErrorLinesBesidesTimeouts(), 2) << log.Dump();
    EXPECT_EQ(log.CountLevel("critical"), 0) << log.Dump();

    rs2sim_reconnect_device();
    ASSERT_TRUE(Eventually([] { return rs2sim_is_streaming() == 1; })) << log.Dump();
    ASSERT_TRUE(Eventually([] { return rs2sim_option_log_size() == 5; })) << log.Dump();
    EXPECT_EQ(OptionLog(), kManualWrites);
    ASSERT_TRUE(Eventually([&] {
        return log.Count(
                   "info [RealsenseCamera] Camera reconnected; its settings are applied "
                   "again") == 1;
    })) << log.Dump();
    ASSERT_EQ(rs2sim_push_active_frameset(2.0, 1, 1), 1);
    EXPECT_TRUE(listener.WaitForFrames(2)) << "capture goes on";

    // Gone again, a stop does not wait for it.
    rs2sim_disconnect_device();
    ASSERT_TRUE(Eventually([&] {
        return log.CountExact(
                   "warning [RealsenseCamera] Camera disconnected; waiting for it to return") == 2;
    })) << log.Dump();
    camera->StopCapture();
    EXPECT_EQ(log.CountLevel("critical"), 0) << log.Dump();
}

TEST_F(RealsenseCameraTest, TwoStartsRunOneThreadAndStopOnAStoppedCameraOnlyLogs) {
    auto camera = Create();
    const size_t threadsStopped = tavo::test::ThreadCount();
    camera->StopCapture();
    EXPECT_EQ(log.CountExact("trace [RealsenseCamera] StopCapture"), 1);

    camera->StartCapture();
    camera->StartCapture();
    EXPECT_EQ(log.CountExact("trace [RealsenseCamera] StartCapture"), 2);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(rs2sim_push_active_frameset(i, 1, 1), 1);
    }
    ASSERT_TRUE(listener.WaitForFrames(20));
    std::vector<std::thread::id> threads;
    for (const auto& frame : listener.frames()) {
        if (std::find(threads.begin(), threads.end(), frame.thread) == threads.end()) {
            threads.push_back(frame.thread);
        }
    }
    EXPECT_EQ(threads.size(), 1u);

    camera->StopCapture();
    EXPECT_EQ(tavo::test::ThreadCount(), threadsStopped) << "one stop ends the thread";
    ASSERT_EQ(rs2sim_push_active_frameset(100.0, 1, 1), 1);
    EXPECT_EQ(listener.frameCount(), 20u) << "one stop ends delivery";
    camera->StopCapture();
    EXPECT_EQ(log.CountExact("trace [RealsenseCamera] StopCapture"), 3);
}

TEST_F(RealsenseCameraTest, StopCaptureFromTheListenerThrowsButStillEndsTheThread) {
    auto camera = Create();
    const size_t threadsStopped = tavo::test::ThreadCount();
    bool threw = false;
    listener.SetHook([&](Camera* caller, const CameraFrame&) {
        try {
            caller->StopCapture();
        } catch (const std::system_error&) {
            threw = true;
        }
    });
    camera->StartCapture();
    ASSERT_EQ(rs2sim_push_active_frameset(1.0, 1, 1), 1);
    ASSERT_TRUE(listener.WaitForFrames(1));
    EXPECT_TRUE(Eventually([&] { return tavo::test::ThreadCount() == threadsStopped; }))
        << "the thread has not ended";
    ASSERT_EQ(rs2sim_push_active_frameset(2.0, 1, 1), 1);
    EXPECT_EQ(listener.frameCount(), 1u);
    camera->StopCapture();
    EXPECT_TRUE(threw);
}

}  // namespace
}  // namespace tavo::head
