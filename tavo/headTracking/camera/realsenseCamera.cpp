// The RealSense depth camera: stream set-up, sensor settings, the capture thread and its frames.
#include "tavo/headTracking/camera/realsenseCamera.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include <librealsense2/rsutil.h>
#include <spdlog/spdlog.h>
#include <librealsense2/rs.hpp>

#include "tavo/common/exception.h"
#include "tavo/common/internal/devicePresence.h"
#include "tavo/common/utilities.h"
#include "tavo/headTracking/camera/internal/cameraTesting.h"

namespace tavo::head {

namespace {

// librealsense 2.50.0, the oldest release whose behaviour this camera relies on.
constexpr int kRealsenseApiVersion = 25000;
constexpr unsigned int kFrameWaitTimeoutMs = 15000;
constexpr int32_t kDefaultWidth = 848;
constexpr int32_t kDefaultHeight = 480;
constexpr int32_t kDefaultFps = 90;
// The left imager: the depth image is computed in its view, so depth pixels match its pixels.
constexpr int kInfraredIndex = 1;
// How often a capture thread waiting for its camera to return looks again without being told.
constexpr auto kDeviceRecheckInterval = std::chrono::seconds(1);
constexpr auto kWarningInterval = std::chrono::seconds(1);

std::mutex sysfsRootMutex;
std::filesystem::path sysfsRoot = "/sys";

std::filesystem::path SysfsRoot() {
    std::lock_guard lock(sysfsRootMutex);
    return sysfsRoot;
}

void LogRealsenseError(const char* context, const rs2::error& error) {
    spdlog::error("{}: func=\"{}\" args=\"{}\" message=\"{}\"", context,
                  error.get_failed_function(), error.get_failed_args(), error.what());
}

// A warning that every frame might raise: the first is logged, later ones at most once a second,
// saying how many were left out. Used by one thread.
class FrameWarning {
  public:
    template <typename... Args>
    void operator()(fmt::format_string<Args...> format, Args&&... args) {
        const auto now = std::chrono::steady_clock::now();
        if (now < next_) {
            ++skipped_;
            return;
        }
        const std::string text = fmt::format(format, std::forward<Args>(args)...);
        if (skipped_ > 0) {
            spdlog::warn("{} ({} more like it not logged)", text, skipped_);
        } else {
            spdlog::warn("{}", text);
        }
        skipped_ = 0;
        next_ = now + kWarningInterval;
    }

  private:
    std::chrono::steady_clock::time_point next_{};
    int64_t skipped_ = 0;
};

// What the library's device watcher reports. The library calls back on a thread of its own, maybe
// while the camera is being destroyed, so the callback holds this, never the camera.
struct DeviceWatch {
    std::mutex mutex;
    std::condition_variable changed;
    // The device the pipeline streams from.
    rs2::device streaming;
    // The streaming device was removed, and streaming has not been started again since.
    bool lost = false;
    // A device was added since the streaming device was removed.
    bool arrived = false;

    void OnDevicesChanged(const rs2::event_information& info) {
        {
            std::lock_guard lock(mutex);
            if (streaming && info.was_removed(streaming)) {
                lost = true;
                arrived = false;
            }
            if (info.get_new_devices().size() > 0) {
                arrived = true;
            }
        }
        changed.notify_all();
    }
};

// Frames are asked for on the global (host) clock, but the library reports that clock only once
// its tracking of the device clock settles, and never for frames without metadata. Frames on
// another clock in between would make the tracker's time step jump by the difference of the
// clocks, so until the global clock shows up they are held back, for at most about a second of
// frames; then the frames' own clock is chosen for good. Used by the capture thread only.
class FrameClock {
  public:
    enum class Choice { Undecided, Global, FrameDomain };

    explicit FrameClock(int32_t holdLimit) : holdLimit_(std::max(holdLimit, 1)) {}

    // Whether a frame stamped in `domain` is delivered.
    bool Admit(rs2_timestamp_domain domain) {
        if (domain == RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME) {
            held_ = 0;
            if (choice_ == Choice::Undecided) {
                choice_ = Choice::Global;
            }
            return true;
        }
        if (choice_ == Choice::FrameDomain) {
            return true;
        }
        if (domain == RS2_TIMESTAMP_DOMAIN_SYSTEM_TIME && choice_ == Choice::Undecided) {
            // Only frames without the device's time stamps come on the host's arrival clock;
            // global time needs those time stamps, so there is nothing to wait for.
            choice_ = Choice::FrameDomain;
            spdlog::info(
                "[RealsenseCamera] Frames carry no time stamps of the camera; using the times "
                "they reached the host");
            return true;
        }
        if (held_ < holdLimit_) {
            ++held_;
            return false;
        }
        choice_ = Choice::FrameDomain;
        spdlog::warn(
            "[RealsenseCamera] No frame on the global clock after {} frames; time stamps stay on "
            "the camera's clock",
            held_);
        return true;
    }
    Choice choice() const { return choice_; }

  private:
    Choice choice_ = Choice::Undecided;
    int32_t held_ = 0;
    int32_t holdLimit_;
};

// Streams from construction to destruction; the capture thread only decides whether frames
// reach the listener. Shared between the capture thread and the controlling thread: the stop
// flag, the flag by which a thread that ended on its own (an unrecoverable device error) lets the
// next StartCapture replace it, and the device watch (under its mutex). The capture thread owns
// the pipeline while it runs; the controlling thread touches it only with capture stopped.
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

    // Written during construction and by the capture thread on a reconnection; read by frames,
    // which live on the capture thread.
    const rs2_intrinsics& intrinsics() const { return intrinsics_; }
    FrameWarning& depthWarning() const { return depthWarning_; }

  private:
    bool IsCaptureRunning() const { return thread_.joinable() && !threadEnded_.load(); }
    void CaptureLoop();
    void Deliver(const rs2::frameset& frames);
    bool StreamingDeviceThere();
    void Restart();
    void ApplyDynamicConfiguration(const rs2::pipeline_profile& profile);
    void SetOption(const rs2::depth_sensor& sensor, rs2_option option, float value);
    void ReadIntrinsics(const rs2::pipeline_profile& profile);

    Listener* listener_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> threadEnded_{false};
    std::shared_ptr<DeviceWatch> watch_ = std::make_shared<DeviceWatch>();
    rs2::context context_;
    std::shared_ptr<rs2::pipeline> pipeline_;
    rs2::config streams_;
    RealsenseCameraDynamicConfiguration dynamicConfiguration_;
    // The configured value last reported as clamped, per option, so a value is reported once.
    std::map<rs2_option, float> clampReported_;
    rs2_intrinsics intrinsics_{};
    int32_t fps_ = 0;
    FrameClock clock_{0};
    bool lossReported_ = false;
    FrameWarning frameWarning_;
    FrameWarning restartWarning_;
    mutable FrameWarning depthWarning_;
};

// One frame set as the listener sees it, on the capture thread's stack for one delivery. Holds
// references on both librealsense frames; time stamp and image list are worked out on first use.
class RealsenseCameraFrame final : public CameraFrame {
  public:
    RealsenseCameraFrame(const RealsenseCamera& camera, rs2::video_frame infrared,
                         rs2::depth_frame depth, FrameClock::Choice clock)
        : camera_(camera),
          infrared_(std::move(infrared)),
          depth_(std::move(depth)),
          clock_(clock) {}

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
    FrameClock::Choice clock_;
    mutable Timestamp timestamp_;
    mutable bool timestampCached_ = false;
    // A fixed slot rather than a vector: the frame path allocates nothing.
    mutable std::array<ImageDesc, 1> images_{};
    mutable int64_t imageCount_ = 0;
    mutable bool imagesCached_ = false;
};

Camera::Listener* CheckedListener(Camera::Listener* listener) {
    if (!listener) {
        throw Exception("A RealSense camera needs a listener",
                        TAVO_LOCATION("tavo::head::RealsenseCamera::RealsenseCamera"));
    }
    return listener;
}

rs2::context MakeContext() {
    rs2_error* contextError = nullptr;
    rs2_context* rawContext = rs2_create_context(kRealsenseApiVersion, &contextError);
    rs2::error::handle(contextError);
    return rs2::context(std::shared_ptr<rs2_context>(rawContext, rs2_delete_context));
}

RealsenseCamera::RealsenseCamera(Listener* listener,
                                 const RealsenseCameraConfiguration& configuration)
    : listener_(CheckedListener(listener)),
      context_(MakeContext()),
      dynamicConfiguration_(configuration.dynamicConfiguration) {
    context_.set_devices_changed_callback([watch = watch_](rs2::event_information& info) {
        // Nothing may escape into the library's thread.
        try {
            watch->OnDevicesChanged(info);
        } catch (const std::exception& error) {
            spdlog::error("[RealsenseCamera] Device change not followed: {}", error.what());
        }
    });
    pipeline_ = std::make_shared<rs2::pipeline>(context_);

    const int32_t width = configuration.width != 0 ? configuration.width : kDefaultWidth;
    const int32_t height = configuration.height != 0 ? configuration.height : kDefaultHeight;
    fps_ = configuration.fps != 0 ? configuration.fps : kDefaultFps;
    clock_ = FrameClock(fps_);
    spdlog::debug("[RealsenseCamera] Initializing: w={}, h={}, fps={}", width, height, fps_);

    try {
        streams_.enable_stream(RS2_STREAM_DEPTH, -1, 0, 0, RS2_FORMAT_ANY, 0);
        streams_.enable_stream(RS2_STREAM_INFRARED, kInfraredIndex, width, height, RS2_FORMAT_Y8,
                               fps_);
        // Without a camera the library's start waits for one for about 15 s before it fails;
        // that wait is only worth it for a camera that is on the bus but not yet opened.
        if (context_.query_devices().size() == 0 &&
            !tavo::internal::isRealSenseConnected(SysfsRoot())) {
            throw rs2::error("No device connected");
        }
        const rs2::pipeline_profile started = pipeline_->start(streams_);
        {
            std::lock_guard lock(watch_->mutex);
            watch_->streaming = started.get_device();
        }
        ApplyDynamicConfiguration(started);
        ReadIntrinsics(pipeline_->get_active_profile());
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

void RealsenseCamera::ReadIntrinsics(const rs2::pipeline_profile& profile) {
    intrinsics_ = profile.get_stream(RS2_STREAM_INFRARED, kInfraredIndex)
                      .as<rs2::video_stream_profile>()
                      .get_intrinsics();
}

void RealsenseCamera::SetOption(const rs2::depth_sensor& sensor, rs2_option option, float value) {
    // The sensor refuses values outside an option's range or between its steps.
    const rs2::option_range range = sensor.get_option_range(option);
    // A value that is no number has no nearest value in range; the option's default stands in.
    float applied = std::isfinite(value) ? std::clamp(value, range.min, range.max) : range.def;
    if (range.step > 0.0f) {
        const float steps = std::round((applied - range.min) / range.step);
        applied = std::min(range.min + steps * range.step, range.max);
    }
    if (std::abs(applied - value) <= 1e-6f * std::max(1.0f, std::abs(value))) {
        applied = value;
    } else {
        auto reported = clampReported_.find(option);
        // Compared bit for bit, so that a value that is no number is reported once too.
        if (reported == clampReported_.end() ||
            std::memcmp(&reported->second, &value, sizeof value) != 0) {
            spdlog::warn(
                "[RealsenseCamera] {} {} is outside the camera's range [{}, {}] in steps of {}; "
                "using {}",
                rs2_option_to_string(option), value, range.min, range.max, range.step, applied);
            clampReported_[option] = value;
        }
    }
    sensor.set_option(option, applied);
}

void RealsenseCamera::ApplyDynamicConfiguration(const rs2::pipeline_profile& profile) {
    const RealsenseCameraDynamicConfiguration& configuration = dynamicConfiguration_;
    spdlog::debug(
        "[RealsenseCamera] Dynamic config: emitter={}, autoExposure={}, exposure={}, gain={}",
        configuration.emitter, configuration.autoExposure, configuration.exposure,
        configuration.gain);
    const rs2::depth_sensor sensor = profile.get_device().first<rs2::depth_sensor>();
    if (sensor.supports(RS2_OPTION_EMITTER_ENABLED)) {
        SetOption(sensor, RS2_OPTION_EMITTER_ENABLED, configuration.emitter ? 1.0f : 0.0f);
    }
    SetOption(sensor, RS2_OPTION_ENABLE_AUTO_EXPOSURE, configuration.autoExposure ? 1.0f : 0.0f);
    if (!configuration.autoExposure) {
        SetOption(sensor, RS2_OPTION_EXPOSURE, configuration.exposure);
        SetOption(sensor, RS2_OPTION_GAIN, configuration.gain);
    }
    // Frame time stamps then arrive on the host's clock, which timestamp() reports as System.
    SetOption(sensor, RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f);
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
        {
            // Taken so that a capture thread waiting for its device sees the flag.
            std::lock_guard lock(watch_->mutex);
        }
        watch_->changed.notify_all();
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
    // Kept even when applying fails, so that a reconnected camera gets these settings.
    dynamicConfiguration_ = configuration;
    try {
        ApplyDynamicConfiguration(pipeline_->get_active_profile());
    } catch (const rs2::error& error) {
        LogRealsenseError("Failed to update dynamic configuration", error);
        throw;
    }
    if (wasRunning) {
        StartCapture();
    }
}

bool RealsenseCamera::StreamingDeviceThere() {
    std::unique_lock lock(watch_->mutex);
    if (!watch_->lost) {
        return true;
    }
    if (!lossReported_) {
        spdlog::warn("[RealsenseCamera] Camera disconnected; waiting for it to return");
        lossReported_ = true;
    }
    if (!watch_->arrived) {
        const bool woken = watch_->changed.wait_for(
            lock, kDeviceRecheckInterval, [&] { return stop_.load() || watch_->arrived; });
        if (!woken) {
            // In case the news of its return was missed.
            lock.unlock();
            const bool listed = context_.query_devices().size() > 0;
            lock.lock();
            watch_->arrived = watch_->arrived || listed;
        }
        return false;
    }
    watch_->arrived = false;
    lock.unlock();
    Restart();
    return false;
}

// Starts streaming again after the camera came back, on the capture thread. The library may
// have restarted the pipeline itself inside a wait, but never applies the settings again: the
// returned device starts with its defaults.
void RealsenseCamera::Restart() {
    try {
        if (context_.query_devices().size() == 0) {
            return;
        }
        try {
            pipeline_->stop();
        } catch (const rs2::error&) {
            // Stopping the streams of a device that is gone may fail; they are gone anyway.
        }
        const rs2::pipeline_profile started = pipeline_->start(streams_);
        {
            std::lock_guard lock(watch_->mutex);
            watch_->streaming = started.get_device();
            watch_->lost = false;
        }
        ApplyDynamicConfiguration(started);
        ReadIntrinsics(started);
        lossReported_ = false;
        spdlog::info("[RealsenseCamera] Camera reconnected; its settings are applied again");
    } catch (const rs2::error& error) {
        {
            std::lock_guard lock(watch_->mutex);
            watch_->lost = true;
        }
        restartWarning_("[RealsenseCamera] Restarting the reconnected camera failed: {}",
                        error.what());
    }
}

void RealsenseCamera::CaptureLoop() {
    while (!stop_.load()) {
        try {
            if (!StreamingDeviceThere()) {
                continue;
            }
            Deliver(pipeline_->wait_for_frames(kFrameWaitTimeoutMs));
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

void RealsenseCamera::Deliver(const rs2::frameset& frames) {
    // Frames drop under load; a set may lack either stream.
    rs2::video_frame infrared = frames.get_infrared_frame(kInfraredIndex);
    if (!infrared) {
        frameWarning_("[RealsenseCamera] Frame set without an infrared image skipped");
        return;
    }
    if (!clock_.Admit(infrared.get_frame_timestamp_domain())) {
        return;
    }
    const RealsenseCameraFrame frame(*this, std::move(infrared), frames.get_depth_frame(),
                                     clock_.choice());
    listener_->OnCameraFrameAvailable(this, frame);
}

Timestamp RealsenseCameraFrame::timestamp() const {
    if (timestampCached_) {
        return timestamp_;
    }
    // Metadata is asked about before it is read: frames of cameras without the kernel's
    // metadata support lack it, and reading it would fail on every frame.
    auto metadata = [&](rs2_frame_metadata_value value, int64_t& result) {
        if (!infrared_.supports_frame_metadata(value)) {
            return false;
        }
        result = static_cast<int64_t>(infrared_.get_frame_metadata(value));
        return true;
    };
    try {
        const double frameMs = infrared_.get_timestamp();
        int64_t sensorUs = 0;
        int64_t frameUs = 0;
        if (infrared_.get_frame_timestamp_domain() != RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME) {
            timestamp_ = Timestamp{Timestamp::Space::Unknown, frameMs};
        } else if (clock_ == FrameClock::Choice::FrameDomain) {
            // Global time came after the camera's own clock was chosen; the frame's time on
            // that clock keeps the time steps even.
            timestamp_ = Timestamp{Timestamp::Space::Unknown,
                                   metadata(RS2_FRAME_METADATA_FRAME_TIMESTAMP, frameUs)
                                       ? static_cast<double>(frameUs) * 0.001
                                       : frameMs};
        } else if (metadata(RS2_FRAME_METADATA_SENSOR_TIMESTAMP, sensorUs) &&
                   metadata(RS2_FRAME_METADATA_FRAME_TIMESTAMP, frameUs)) {
            // From the frame's time to the sensor's mid-exposure time.
            timestamp_ = Timestamp{Timestamp::Space::System,
                                   frameMs + static_cast<double>(sensorUs - frameUs) * 0.001};
        } else {
            timestamp_ = Timestamp{Timestamp::Space::System, frameMs};
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
    if (!depth_) {
        // The set came without a depth frame.
        return false;
    }
    try {
        depth = depth_.get_distance(static_cast<int>(pixel.x), static_cast<int>(pixel.y));
        return true;
    } catch (const rs2::error& error) {
        camera_.depthWarning()("[RealsenseCamera] No depth at ({}, {}): {}", pixel.x, pixel.y,
                               error.what());
        return false;
    }
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
    // The same tree the camera looks in, so that tests can put a camera on the bus or take it
    // off whatever this machine has plugged in.
    return tavo::internal::isRealSenseConnected(SysfsRoot());
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

namespace tavo::head::internal {

void SetCameraSysfsRootForTesting(const std::filesystem::path& root) {
    std::lock_guard lock(sysfsRootMutex);
    sysfsRoot = root;
}

}  // namespace tavo::head::internal
