// The RealSense depth camera: stream set-up, sensor settings, the capture thread and its frames.
#include "tavo/headTracking/camera/realsenseCamera.h"

#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <system_error>
#include <thread>

#include <librealsense2/rsutil.h>
#include <spdlog/spdlog.h>
#include <librealsense2/rs.hpp>

#include "tavo/common/exception.h"
#include "tavo/common/utilities.h"

namespace tavo::head {

namespace {

// librealsense 2.50.0, the oldest release whose behaviour this camera relies on.
constexpr int kRealsenseApiVersion = 25000;
constexpr unsigned int kFrameWaitTimeoutMs = 15000;
constexpr int32_t kDefaultWidth = 848;
constexpr int32_t kDefaultHeight = 480;
constexpr int32_t kDefaultFps = 90;

void LogRealsenseError(const char* context, const rs2::error& error) {
    spdlog::error("{}: func=\"{}\" args=\"{}\" message=\"{}\"", context,
                  error.get_failed_function(), error.get_failed_args(), error.what());
}

void ApplyDynamicConfiguration(const rs2::pipeline_profile& profile,
                               const RealsenseCameraDynamicConfiguration& configuration) {
    spdlog::debug(
        "[RealsenseCamera] Dynamic config: emitter={}, autoExposure={}, exposure={}, gain={}",
        configuration.emitter, configuration.autoExposure, configuration.exposure,
        configuration.gain);
    const rs2::depth_sensor sensor = profile.get_device().first<rs2::depth_sensor>();
    if (sensor.supports(RS2_OPTION_EMITTER_ENABLED)) {
        sensor.set_option(RS2_OPTION_EMITTER_ENABLED, configuration.emitter ? 1.0f : 0.0f);
    }
    sensor.set_option(RS2_OPTION_ENABLE_AUTO_EXPOSURE, configuration.autoExposure ? 1.0f : 0.0f);
    if (!configuration.autoExposure) {
        sensor.set_option(RS2_OPTION_EXPOSURE, configuration.exposure);
        sensor.set_option(RS2_OPTION_GAIN, configuration.gain);
    }
    // Frame time stamps then arrive on the host's clock, which timestamp() reports as System.
    sensor.set_option(RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f);
}

// Streams from construction to destruction; the capture thread only decides whether frames
// reach the listener. The stop flag is the one piece of state the capture thread shares with
// the controlling thread, apart from the flag by which a thread that ended on its own (an
// unrecoverable device error) lets the next StartCapture replace it.
class RealsenseCamera final : public Camera {
  public:
    RealsenseCamera(Listener* listener, const RealsenseCameraConfiguration& configuration);
    RealsenseCamera(const RealsenseCamera&) = delete;
    RealsenseCamera& operator=(const RealsenseCamera&) = delete;
    ~RealsenseCamera() override;

    void StartCapture() override;
    void StopCapture() override;
    int32_t GetFps() const override { return fps_; }
    bool SetFps(int32_t) override { return false; }
    Slice<const int32_t> GetSupportedFps() const override { return {}; }

    void UpdateDynamicConfiguration(const RealsenseCameraDynamicConfiguration& configuration);

    // Written once during construction, before the capture thread exists.
    const rs2_intrinsics& intrinsics() const { return intrinsics_; }

  private:
    bool IsCaptureRunning() const { return thread_.joinable() && !threadEnded_.load(); }
    void CaptureLoop();

    Listener* listener_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> threadEnded_{false};
    std::shared_ptr<rs2::pipeline> pipeline_;
    rs2_intrinsics intrinsics_{};
    int32_t fps_ = 0;
};

// One frame set as the listener sees it, on the capture thread's stack for one delivery. Holds
// references on both librealsense frames; time stamp and image list are worked out on first use.
class RealsenseCameraFrame final : public CameraFrame {
  public:
    RealsenseCameraFrame(const RealsenseCamera& camera, rs2::video_frame infrared,
                         rs2::depth_frame depth)
        : camera_(camera), infrared_(std::move(infrared)), depth_(std::move(depth)) {}

    Timestamp timestamp() const override;
    Slice<const ImageDesc> imageDescs() const override;
    bool GetDepth(const glm::dvec2& pixel, float& depth) const override;
    bool DeprojectPixelToPoint(const glm::dvec2& pixel, float depth,
                               glm::vec3& point) const override;
    bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2& pixel,
                             float& depth) const override;

  private:
    const RealsenseCamera& camera_;
    rs2::video_frame infrared_;
    rs2::depth_frame depth_;
    mutable Timestamp timestamp_;
    mutable bool timestampCached_ = false;
    // A fixed slot rather than a vector: the frame path allocates nothing.
    mutable std::array<ImageDesc, 1> images_{};
    mutable int64_t imageCount_ = 0;
    mutable bool imagesCached_ = false;
};

RealsenseCamera::RealsenseCamera(Listener* listener,
                                 const RealsenseCameraConfiguration& configuration)
    : listener_(listener) {
    if (!listener_) {
        throw Exception("A RealSense camera needs a listener",
                        TAVO_LOCATION("tavo::head::RealsenseCamera::RealsenseCamera"));
    }
    rs2_error* contextError = nullptr;
    rs2_context* rawContext = rs2_create_context(kRealsenseApiVersion, &contextError);
    rs2::error::handle(contextError);
    const rs2::context context(std::shared_ptr<rs2_context>(rawContext, rs2_delete_context));
    pipeline_ = std::make_shared<rs2::pipeline>(context);

    const int32_t width = configuration.width != 0 ? configuration.width : kDefaultWidth;
    const int32_t height = configuration.height != 0 ? configuration.height : kDefaultHeight;
    fps_ = configuration.fps != 0 ? configuration.fps : kDefaultFps;
    spdlog::debug("[RealsenseCamera] Initializing: w={}, h={}, fps={}", width, height, fps_);

    try {
        rs2::config streams;
        streams.enable_stream(RS2_STREAM_DEPTH, -1, 0, 0, RS2_FORMAT_ANY, 0);
        streams.enable_stream(RS2_STREAM_INFRARED, -1, width, height, RS2_FORMAT_Y8, fps_);
        const rs2::pipeline_profile started = pipeline_->start(streams);
        ApplyDynamicConfiguration(started, configuration.dynamicConfiguration);
        intrinsics_ = pipeline_->get_active_profile()
                          .get_stream(RS2_STREAM_INFRARED)
                          .as<rs2::video_stream_profile>()
                          .get_intrinsics();
    } catch (const rs2::error& error) {
        LogRealsenseError("Failed to start realsense pipe", error);
        throw;
    }

    CameraIntrinsics reported;
    reported.width = intrinsics_.width;
    reported.height = intrinsics_.height;
    reported.ppx = intrinsics_.ppx;
    reported.ppy = intrinsics_.ppy;
    reported.fx = intrinsics_.fx;
    reported.fy = intrinsics_.fy;
    for (size_t i = 0; i < 5; ++i) {
        reported.coeffs[i] = intrinsics_.coeffs[i];
    }
    reported.isMirrored = true;
    listener_->OnCameraIntrinsicsChange(this, reported);
}

RealsenseCamera::~RealsenseCamera() {
    StopCapture();
    // The last handle of the pipeline stops streaming.
    pipeline_.reset();
}

void RealsenseCamera::StartCapture() {
    spdlog::trace("[RealsenseCamera] StartCapture");
    if (thread_.joinable() && threadEnded_.load()) {
        // It ended on an unrecoverable error; joining returns at once.
        thread_.join();
    }
    if (!thread_.joinable()) {
        stop_.exchange(false);
        threadEnded_.store(false);
        thread_ = std::thread(&RealsenseCamera::CaptureLoop, this);
    }
}

void RealsenseCamera::StopCapture() {
    spdlog::trace("[RealsenseCamera] StopCapture");
    if (thread_.joinable()) {
        stop_.exchange(true);
        // The capture thread cannot join itself; the flag still ends it after this call.
        // Checked here rather than left to pthread_join, which not every runtime answers
        // with an error (thread sanitizers abort instead).
        if (thread_.get_id() == std::this_thread::get_id()) {
            throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur),
                                    "StopCapture called on the capture thread");
        }
        thread_.join();
    }
}

void RealsenseCamera::UpdateDynamicConfiguration(
    const RealsenseCameraDynamicConfiguration& configuration) {
    const bool wasRunning = IsCaptureRunning();
    if (wasRunning) {
        StopCapture();
    }
    try {
        ApplyDynamicConfiguration(pipeline_->get_active_profile(), configuration);
    } catch (const rs2::error& error) {
        LogRealsenseError("Failed to update dynamic configuration", error);
        throw;
    }
    if (wasRunning) {
        StartCapture();
    }
}

void RealsenseCamera::CaptureLoop() {
    while (!stop_.load()) {
        try {
            const rs2::frameset frames = pipeline_->wait_for_frames(kFrameWaitTimeoutMs);
            const RealsenseCameraFrame frame(
                *this, frames.first_or_default(RS2_STREAM_INFRARED).as<rs2::video_frame>(),
                frames.first_or_default(RS2_STREAM_DEPTH, RS2_FORMAT_Z16).as<rs2::depth_frame>());
            listener_->OnCameraFrameAvailable(this, frame);
        } catch (const rs2::unrecoverable_error& error) {
            spdlog::critical("[RealsenseCamera.background] {}", error.what());
            break;
        } catch (const std::exception& error) {
            spdlog::error("[RealsenseCamera.background] {}", error.what());
        } catch (...) {
            // Anything else escaping the thread would end the process.
            spdlog::error("[RealsenseCamera.background] {}", "unknown exception");
        }
    }
    threadEnded_.store(true);
}

Timestamp RealsenseCameraFrame::timestamp() const {
    if (timestampCached_) {
        return timestamp_;
    }
    try {
        const double frameMs = infrared_.get_timestamp();
        if (infrared_.get_frame_timestamp_domain() == RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME) {
            const auto sensorUs = static_cast<int64_t>(
                infrared_.get_frame_metadata(RS2_FRAME_METADATA_SENSOR_TIMESTAMP));
            const auto frameUs = static_cast<int64_t>(
                infrared_.get_frame_metadata(RS2_FRAME_METADATA_FRAME_TIMESTAMP));
            // From the frame's time to the sensor's mid-exposure time.
            timestamp_ = Timestamp{Timestamp::Space::System,
                                   frameMs + static_cast<double>(sensorUs - frameUs) * 0.001};
        } else {
            timestamp_ = Timestamp{Timestamp::Space::Unknown, frameMs};
        }
    } catch (const rs2::error& error) {
        LogRealsenseError("Failed to query frame timestamp", error);
        rs2_error* timeError = nullptr;
        double now = rs2_get_time(&timeError);
        if (timeError) {
            rs2_free_error(timeError);
            now = 0.0;
        }
        timestamp_ = Timestamp{Timestamp::Space::Unknown, now};
    }
    timestampCached_ = true;
    return timestamp_;
}

Slice<const ImageDesc> RealsenseCameraFrame::imageDescs() const {
    if (!imagesCached_) {
        try {
            images_[0] = ImageDesc{infrared_.get_width(), infrared_.get_height(), 0,
                                   static_cast<const uint8_t*>(infrared_.get_data())};
            imageCount_ = 1;
        } catch (const rs2::error& error) {
            LogRealsenseError("Failed to query frame image desc", error);
            imageCount_ = 0;
        }
        imagesCached_ = true;
    }
    return {images_.data(), imageCount_};
}

bool RealsenseCameraFrame::GetDepth(const glm::dvec2& pixel, float& depth) const {
    // A pixel that names no integer position has no depth; converting it would be undefined.
    constexpr double kLimit = static_cast<double>(std::numeric_limits<int>::max());
    if (!(std::abs(pixel.x) < kLimit) || !(std::abs(pixel.y) < kLimit)) {
        return false;
    }
    depth = depth_.get_distance(static_cast<int>(pixel.x), static_cast<int>(pixel.y));
    return true;
}

bool RealsenseCameraFrame::DeprojectPixelToPoint(const glm::dvec2& pixel, float depth,
                                                 glm::vec3& point) const {
    try {
        const float source[2] = {static_cast<float>(pixel.x), static_cast<float>(pixel.y)};
        float result[3] = {};
        rs2_deproject_pixel_to_point(result, &camera_.intrinsics(), source, depth);
        point = glm::vec3(result[0], result[1], result[2]);
        return true;
    } catch (const rs2::error& error) {
        LogRealsenseError("Failed to deproject pixel to point", error);
        return false;
    }
}

bool RealsenseCameraFrame::ProjectPointToPixel(const glm::vec3& point, glm::dvec2& pixel,
                                               float& depth) const {
    try {
        depth = point.z;
        const float source[3] = {point.x, point.y, point.z};
        float result[2] = {};
        rs2_project_point_to_pixel(result, &camera_.intrinsics(), source);
        pixel = glm::dvec2(result[0], result[1]);
        return true;
    } catch (const rs2::error& error) {
        LogRealsenseError("Failed to roject pixel to point", error);
        return false;
    }
}

}  // namespace

std::unique_ptr<Camera> CreateRealsenseCamera(Camera::Listener* listener,
                                              const RealsenseCameraConfiguration& configuration) {
    return std::make_unique<RealsenseCamera>(listener, configuration);
}

bool IsRealsenseCameraConnected() {
    return isRealSenseConnected();
}

void UpdateRealsenseCameraDynamicConfiguration(
    Camera* camera, const RealsenseCameraDynamicConfiguration& configuration) {
    auto* realsense = dynamic_cast<RealsenseCamera*>(camera);
    if (!realsense) {
        throw Exception("The camera is not a RealSense camera",
                        TAVO_LOCATION("tavo::head::UpdateRealsenseCameraDynamicConfiguration"));
    }
    realsense->UpdateDynamicConfiguration(configuration);
}

}  // namespace tavo::head
