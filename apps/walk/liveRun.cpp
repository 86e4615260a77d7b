#include "apps/walk/liveRun.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <librealsense2/rs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/walk/viewScene.h"
#include "apps/weave/weaver.h"
#include "tavo/headTracking/engine/engine.h"
#include "tavo/sdk/faceTrackingCallback.h"

namespace tavo::apps::walk {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A camera streaming at any of its rates sends several frames a second: this long without one,
// the demo asks librealsense2 whether the camera is still there.
constexpr auto kQuietBeforeCheck = std::chrono::milliseconds(500);
// Listed but silent this long, the camera is taken for gone too.
constexpr auto kSilentLimit = std::chrono::seconds(10);
// The library's camera opens this size when the configuration leaves it to the camera.
constexpr int kDefaultCameraWidth = 848;
constexpr int kDefaultCameraHeight = 480;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// How many cameras librealsense2 lists; nothing when it cannot say.
std::optional<size_t> CamerasListed() {
    try {
        return rs2::context().query_devices().size();
    } catch (const rs2::error&) {
        return std::nullopt;
    }
}

// One delivered frame as the trajectory shows it.
struct Sample {
    double time = 0.0;  // seconds since the run started
    glm::vec3 tracked{NAN};
    glm::vec3 predicted{NAN};
};

// What the SDK delivers per camera frame, on its camera thread; the run's thread reads it.
class LiveLog final : public sdk::CTavoSDKFaceTrackingCallback {
  public:
    explicit LiveLog(sdk::ITavoSDK& sdk) : sdk_(sdk) {}

    // Frames of the next `seconds` count; earlier and later ones only show that the camera is
    // alive.
    void Begin(double seconds) {
        std::lock_guard lock(mutex_);
        startNs_ = WallNs();
        endNs_ = startNs_ + static_cast<int64_t>(seconds * 1e9);
    }

    void OnFrame(const head::Frame& frame) override {
        const int64_t now = WallNs();
        const Slice<const head::Face> faces = frame.faces();
        glm::vec3 predicted(NAN);
        // The face a picture woven now would be woven for: this frame's, predicted.
        if (faces.empty() || !sdk_.GetPrimaryFace(predicted))
            predicted = glm::vec3(NAN);
        const Timestamp stamp = frame.timestamp();
        const head::FrameProfiling profiling = frame.profiling();
        std::lock_guard lock(mutex_);
        lastFrame_ = Clock::now();
        const Slice<const head::DetectedFace> detected = frame.detectedFaces();
        detections_.assign(detected.begin(), detected.end());
        if (startNs_ == 0 || now > endNs_)
            return;
        ++framesIn_;
        framesTracked_ += faces.empty() ? 0 : 1;
        framesDetected_ += detected.empty() ? 0 : 1;
        // On the host's clock the frame's time stamp is its exposure; on the camera's own clock
        // the hand-over cannot be measured.
        latencies_.Add(profiling,
                       stamp.space == Timestamp::Space::System ? profiling.cameraExposureTime : 0,
                       now);
        samples_.push_back({static_cast<double>(now - startNs_) / 1e9,
                            faces.empty() ? glm::vec3(NAN) : faces[0].position, predicted});
    }

    std::optional<Clock::time_point> lastFrame() const {
        std::lock_guard lock(mutex_);
        return lastFrame_;
    }
    std::vector<head::DetectedFace> detections() const {
        std::lock_guard lock(mutex_);
        return detections_;
    }
    int framesIn() const {
        std::lock_guard lock(mutex_);
        return framesIn_;
    }
    int framesTracked() const {
        std::lock_guard lock(mutex_);
        return framesTracked_;
    }
    int framesDetected() const {
        std::lock_guard lock(mutex_);
        return framesDetected_;
    }
    // Read once the callback is removed.
    const StageLatencies& latencies() const { return latencies_; }
    const std::vector<Sample>& samples() const { return samples_; }

  private:
    sdk::ITavoSDK& sdk_;
    mutable std::mutex mutex_;
    int64_t startNs_ = 0;
    int64_t endNs_ = 0;
    std::optional<Clock::time_point> lastFrame_;
    std::vector<head::DetectedFace> detections_;
    int framesIn_ = 0;
    int framesTracked_ = 0;
    int framesDetected_ = 0;
    StageLatencies latencies_;
    std::vector<Sample> samples_;
};

// Removes the callback before the log goes, however the run ends; removing it waits for a
// delivery in progress.
class CallbackScope {
  public:
    CallbackScope(sdk::ITavoSDK& sdk, LiveLog& log) : sdk_(sdk) {
        sdk_.SetFaceTrackingCallback(&log);
    }
    ~CallbackScope() { End(); }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
    void End() {
        if (active_)
            sdk_.SetFaceTrackingCallback(nullptr);
        active_ = false;
    }

  private:
    sdk::ITavoSDK& sdk_;
    bool active_ = true;
};

// The SDK does not hand its camera images to the host: a key frame's camera picture is what the
// detector reported, each face's eye points on the camera's frame with their depths.
Picture DetectionPicture(const std::vector<head::DetectedFace>& faces, int width, int height) {
    cv::Mat rgba(height, width, CV_8UC4, cv::Scalar(32, 32, 32, 255));
    // RGBA.
    const cv::Scalar right(255, 170, 60, 255), left(90, 160, 255, 255), text(220, 220, 220, 255);
    for (const head::DetectedFace& face : faces) {
        const cv::Point r(static_cast<int>(face.rightEyePixel.x),
                          static_cast<int>(face.rightEyePixel.y));
        const cv::Point l(static_cast<int>(face.leftEyePixel.x),
                          static_cast<int>(face.leftEyePixel.y));
        cv::line(rgba, r, l, text, 1, cv::LINE_AA);
        cv::circle(rgba, r, 5, right, cv::FILLED, cv::LINE_AA);
        cv::circle(rgba, l, 5, left, cv::FILLED, cv::LINE_AA);
        cv::putText(rgba,
                    fmt::format("{:.0f} / {:.0f} mm", face.rightEyeDepth * 1000.0f,
                                face.leftEyeDepth * 1000.0f),
                    (r + l) / 2 + cv::Point(-40, -14), cv::FONT_HERSHEY_SIMPLEX, 0.45, text, 1,
                    cv::LINE_AA);
    }
    cv::putText(rgba,
                fmt::format("{} face(s) detected: right eye orange, left eye blue", faces.size()),
                cv::Point(8, height - 10), cv::FONT_HERSHEY_SIMPLEX, 0.45, text, 1, cv::LINE_AA);
    return {rgba.cols, rgba.rows, std::vector<uint8_t>(rgba.datastart, rgba.dataend)};
}

}  // namespace

std::optional<std::string> MissingLiveCamera() {
    const std::optional<size_t> listed = CamerasListed();
    if (!listed)
        return "librealsense2 cannot list cameras (is the camera's USB device readable?)";
    if (*listed == 0) {
#if TAVO_WALK_REALSENSE_STANDIN
        return "no RealSense camera: this build uses the project's librealsense2 stand-in, which "
               "has no camera (install the real librealsense2 and rebuild)";
#else
        return "no RealSense camera: librealsense2 lists none (is it plugged in?)";
#endif
    }
    if (!head::IsCameraConnected())
        return "librealsense2 lists a camera, but face tracking finds no RealSense D435 (USB "
               "8086:0b07) on the USB bus, the camera it works with";
    return std::nullopt;
}

int RunLive(const RunOptions& options) {
    const auto started = Clock::now();
    fs::create_directories(options.out);
    Console console(options.out / "sdk-output.txt");
    Progress progress(console.out());

    progress.Say("Starting the SDK (face tracking on the RealSense camera, CPU detector plug-in)");
    Weaver weaver;
    sdk::ITavoSDK& sdk = weaver.sdk();
    device::Config panel = weaver.config();
    // The SDK predicts over each frame's measured age (the camera stamps frames on the host's
    // clock) plus this: the time from weaving until the picture is seen.
    panel.faceDelay = options.predict ? static_cast<float>(kScanOutMs) : 0.0f;
    sdk.SetConfig(panel);
    LiveLog log(sdk);
    CallbackScope hooked(sdk, log);
    sdk.SetFaceDetectorBackend(kTavoFaceDetectorBackendCPU);
    sdk.SetProfiling(true);
    if (!sdk.EnableFaceTracking(true))
        throw std::runtime_error(
            "face tracking did not start on the RealSense camera (sdk-output.txt says why; is "
            "the CPU detector plug-in beside the library or on the library path?)");
    ViewScene scene(panel.viewResolution.x, panel.viewResolution.y);
    const int cameraWidth = panel.camera.width != 0 ? panel.camera.width : kDefaultCameraWidth;
    const int cameraHeight = panel.camera.height != 0 ? panel.camera.height : kDefaultCameraHeight;

    const int displayFrames = static_cast<int>(std::lround(options.seconds * kDisplayHz));
    std::vector<int> keyPlan;
    for (int k = 0; k < options.keyFrames; ++k)
        keyPlan.push_back(static_cast<int>(
            std::lround((k + 0.5) / options.keyFrames * static_cast<double>(displayFrames - 1))));

    // The run starts with the camera's first frame, which only starts the tracker's session
    // (a first frame yields no face).
    progress.Say("Waiting for the camera's first frame");
    const auto waitStarted = Clock::now();
    auto waitChecked = waitStarted;
    while (!log.lastFrame()) {
        const auto now = Clock::now();
        const auto waited = now - waitStarted;
        if (now - waitChecked > kQuietBeforeCheck) {
            waitChecked = now;
            if (CamerasListed() == size_t{0})
                throw std::runtime_error("the RealSense camera disappeared before its first frame");
        }
        if (waited > kSilentLimit)
            throw std::runtime_error(fmt::format("the RealSense camera sent no frame in {:.0f} s",
                                                 Seconds(kSilentLimit)));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    std::vector<KeyFrameRecord> keys;
    size_t nextKey = 0;
    bool keyPending = false;
    double keySeconds = 0.0;
    std::string lost;  // why the run ended early
    double lostAt = 0.0;
    log.Begin(options.seconds);
    const auto runStart = Clock::now();
    auto lastDeviceCheck = runStart;
    for (;;) {
        const auto now = Clock::now();
        const double elapsed = Seconds(now - runStart);
        const int v = static_cast<int>(elapsed * kDisplayHz);
        if (v >= displayFrames)
            break;
        progress.Show("tracking", v + 1, displayFrames);

        const auto quiet = now - std::max(log.lastFrame().value_or(runStart), runStart);
        if (quiet > kQuietBeforeCheck && now - lastDeviceCheck > kQuietBeforeCheck) {
            lastDeviceCheck = now;
            if (CamerasListed() == size_t{0})
                lost = "the RealSense camera disappeared (librealsense2 lists none)";
        }
        if (lost.empty() && quiet > kSilentLimit)
            lost = fmt::format("the RealSense camera sent no frame for {:.0f} s",
                               Seconds(kSilentLimit));
        if (!lost.empty()) {
            lostAt = elapsed;
            break;
        }

        if (nextKey < keyPlan.size() && v >= keyPlan[nextKey]) {
            keyPending = true;
            ++nextKey;
        }
        glm::vec3 tracked(NAN);
        if (keyPending && sdk.GetNonPredictedPrimaryFace(tracked)) {
            // A key frame: the host's views for the face the SDK holds, woven as the panel
            // shows them.
            keyPending = false;
            const auto keyStarted = Clock::now();
            progress.Say(fmt::format("Key frame {} at {:.2f} s: weaving", v, elapsed));
            KeyFrameRecord kf;
            kf.frame = v;
            kf.time = elapsed;
            // What the detector found in the frame of the face the weave starts from.
            const std::vector<head::DetectedFace> detections = log.detections();
            const std::vector<Picture> views = scene.Render(weaver.ViewOffsets(options.mode));
            WeaveSettings settings;
            settings.mode = options.mode;
            settings.heldFace = options.predict;
            settings.face = tracked;
            const Picture woven = weaver.Weave(settings, views);
            const sdk::TavoInterlaceParameters& used = weaver.lastParameters();
            kf.faceUsed = glm::dvec3(used.faceX, used.faceY, used.faceZ);
            const std::string number = fmt::format("{:04d}", v);
            WritePicture(woven, options.out / ("woven-" + number + ".png"));
            WritePicture(DetectionPicture(detections, cameraWidth, cameraHeight),
                         options.out / ("detections-" + number + ".png"));
            keys.push_back(kf);
            keySeconds += Seconds(Clock::now() - keyStarted);
        }
        std::this_thread::sleep_until(runStart +
                                      std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>((v + 1) / kDisplayHz)));
    }
    hooked.End();
    progress.Say("");

    std::ofstream trajectory(options.out / "trajectory.csv");
    trajectory << kTrajectoryHeader;
    size_t markedKeys = 0;
    for (const Sample& s : log.samples()) {
        const bool key = markedKeys < keys.size() && s.time >= keys[markedKeys].time;
        markedKeys += key ? 1 : 0;
        trajectory << fmt::format("{:.4f},,,{},{},{},{},,{}\n", s.time, Field(s.tracked.x),
                                  Field(s.tracked.z), Field(s.predicted.x), Field(s.predicted.z),
                                  key ? 1 : 0);
    }
    trajectory.close();
    if (!trajectory)
        throw std::runtime_error("cannot write " + (options.out / "trajectory.csv").string());
    progress.Say("Plotting the trajectory");
    PlotTrajectory(options.out, std::nullopt);
    WriteKeyFrames(options.out / "keyframes.csv", keys);

    const double wallSeconds = Seconds(Clock::now() - started);
    Summary summary;
    summary.framesIn = log.framesIn();
    summary.framesTracked = log.framesTracked();
    summary.keyFrames = static_cast<int>(keys.size());
    summary.latencyMs = log.latencies().Json();
    summary.wallSeconds = wallSeconds;
    WriteSummary(options.out / "summary.json", summary);

    const std::string keyList = KeyFrameList(keys);
    const std::string text = fmt::format(
        "Live RealSense camera. Frames in {}, tracked {} ({:.1f}%), with a detection {}.\n"
        "Woven key frames (display frames at {} Hz, {} planned): {}; woven for the {} face.\n"
        "Not measured: prediction error, eye share and its ceiling. A live camera gives no true "
        "head positions to compare with; summary.json holds null for them.\n"
        "Latency per stage (the hand-over from the camera's exposure):\n{}"
        "Wall time {:.1f} s, of which key frames {:.1f} s.\n{}",
        summary.framesIn, summary.framesTracked,
        100.0 * summary.framesTracked / std::max(1, summary.framesIn), log.framesDetected(),
        kDisplayHz, keyPlan.size(), keyList,
        options.predict ? "predicted" : "tracked (prediction off)", log.latencies().Text(),
        wallSeconds, keySeconds,
        lost.empty() ? ""
                     : fmt::format("The run ended early, after {:.1f} s: {}.\n", lostAt, lost));

    std::string figures;
    for (const KeyFrameRecord& k : keys) {
        const std::string n = fmt::format("{:04d}", k.frame);
        figures += fmt::format(
            "<figure><a href=\"woven-{0}.png\"><img src=\"woven-{0}.png\" alt=\"key frame {0}\" "
            "width=\"640\"></a> <img src=\"detections-{0}.png\" alt=\"detections {0}\" "
            "width=\"424\"><figcaption>Frame {1} at {2:.2f} s: the panel's picture woven for the "
            "face at ({3:.0f}, {4:.0f}, {5:.0f}) mm, and the eye points the detector found (the "
            "SDK keeps its camera images to itself).</figcaption></figure>\n",
            n, k.frame, k.time, k.faceUsed.x, k.faceUsed.y, k.faceUsed.z);
    }
    WriteIndex(options.out / "index.html", "A viewer in front of a live RealSense camera", text,
               figures);

    std::fprintf(console.out(), "%s", text.c_str());
    std::fprintf(console.out(), "Written to %s (open index.html)\n",
                 fs::absolute(options.out).c_str());
    std::fflush(console.out());
    if (!lost.empty()) {
        std::fprintf(stderr,
                     "tavo-walk: %s, %.1f s into the run; what was measured until then is written "
                     "to %s\n",
                     lost.c_str(), lostAt, fs::absolute(options.out).c_str());
        return 1;
    }
    return 0;
}

}  // namespace tavo::apps::walk
