// tavo-walk: a viewer walks in front of a simulated panel and the whole chain runs. A simulated
// depth camera feeds the SDK as the host's own camera, the CPU detector plug-in finds the face,
// the SDK tracks and predicts it, TavoRenderer draws the host's views, the interlacer weaves
// them on a headless EGL context, and the per-eye simulator shows what the true eyes see.
//
//   tavo-walk [--seconds S] [--mode stereo|sliding] [--out DIR] [--no-predict]
//             [--camera simulated|realsense] [--key-frames K]
//
// Exit status: 0 done, 1 a failure on the way, 2 bad arguments or no camera for --camera.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/eyeview/eyeSimulator.h"
#include "apps/walk/simulatedCamera.h"
#include "apps/walk/viewScene.h"
#include "apps/walk/walkScript.h"
#include "apps/weave/weaver.h"
#include "tavo/device/device.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/sdk/faceTrackingCallback.h"

namespace {

using namespace tavo;
using namespace tavo::apps;
using namespace tavo::apps::walk;
namespace fs = std::filesystem;

constexpr double kCameraFps = 90.0;
constexpr double kDisplayHz = 60.0;
// A camera frame reaches the renderer one camera period after its exposure; its picture reaches
// the eyes one display period after the frame that shows it starts.
constexpr double kPipelineMs = 1000.0 / kCameraFps;
constexpr double kScanOutMs = 1000.0 / kDisplayHz;
// The SDK cannot compare the simulated camera clock with its own, so it predicts by the
// configured face delay alone: the mean age of a face when its picture is seen.
constexpr double kFaceDelayMs = kPipelineMs + 0.5 * 1000.0 / kCameraFps + kScanOutMs;
constexpr int kEyeCell = 8;
const EyeSampling kEyeSampling{2};

const char* kUsage =
    "usage: tavo-walk [--seconds S] [--mode stereo|sliding] [--out DIR] [--no-predict]\n"
    "                 [--camera simulated|realsense] [--key-frames K]\n";

struct BadArguments {
    std::string why;
};

struct Options {
    double seconds = 15.0;
    sdk::eTavoInterlaceMode mode = sdk::kTavoInterlaceModeStereoSliding;
    fs::path out = "demo-out";
    bool predict = true;
    bool realsense = false;
    int keyFrames = 6;
};

double Number(const std::string& text, const char* option) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value))
        throw BadArguments{fmt::format("{} needs a number, not \"{}\"", option, text)};
    return value;
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw BadArguments{arg + " needs a value"};
            return argv[++i];
        };
        if (arg == "--seconds") {
            o.seconds = Number(value(), "--seconds");
            if (!(o.seconds >= 0.5 && o.seconds <= 600.0))
                throw BadArguments{"--seconds must lie between 0.5 and 600"};
        } else if (arg == "--mode") {
            const std::string mode = value();
            if (mode == "stereo")
                o.mode = sdk::kTavoInterlaceModeStereoSliding;
            else if (mode == "sliding")
                o.mode = sdk::kTavoInterlaceModeViewSliding;
            else
                throw BadArguments{"--mode is stereo or sliding"};
        } else if (arg == "--out") {
            o.out = value();
        } else if (arg == "--no-predict") {
            o.predict = false;
        } else if (arg == "--camera") {
            const std::string camera = value();
            if (camera != "simulated" && camera != "realsense")
                throw BadArguments{"--camera is simulated or realsense"};
            o.realsense = camera == "realsense";
        } else if (arg == "--key-frames") {
            const double k = Number(value(), "--key-frames");
            if (!(k >= 1 && k <= 200 && k == std::floor(k)))
                throw BadArguments{"--key-frames is a whole number from 1 to 200"};
            o.keyFrames = static_cast<int>(k);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else {
            throw BadArguments{"unknown argument " + arg};
        }
    }
    return o;
}

int64_t WallNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Quantiles {
    double median = 0.0;
    double p95 = 0.0;
    double worst = 0.0;
};

Quantiles Of(std::vector<double> values) {
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        const double position = q * static_cast<double>(values.size() - 1);
        const size_t below = static_cast<size_t>(std::floor(position));
        const size_t above = std::min(below + 1, values.size() - 1);
        return values[below] + (values[above] - values[below]) * (position - below);
    };
    return {at(0.5), at(0.95), values.front()};
}

// The demo's own terminal output. The SDK writes its reports to standard output too; they go to
// a file in the output folder instead, so that the progress line stays readable.
FILE* gConsole = stdout;

void SendLibraryOutputTo(const fs::path& file) {
    std::fflush(stdout);
    const int console = ::dup(STDOUT_FILENO);
    FILE* sdkOutput = std::fopen(file.c_str(), "w");
    if (console < 0 || sdkOutput == nullptr)
        throw std::runtime_error("cannot write " + file.string());
    gConsole = ::fdopen(console, "w");
    ::dup2(::fileno(sdkOutput), STDOUT_FILENO);
    std::fclose(sdkOutput);
}

// The stage and frame count, rewritten in place on a terminal, as plain lines otherwise.
class Progress {
  public:
    Progress() : interactive_(::isatty(::fileno(gConsole)) == 1) {}
    void Show(const std::string& stage, int done, int total) {
        const std::string line = fmt::format("[{}] frame {}/{}", stage, done, total);
        if (interactive_) {
            std::fprintf(gConsole, "\r%-60s", line.c_str());
            std::fflush(gConsole);
        } else if (stage != last_ || done == total || done - lastDone_ >= total / 10) {
            std::fprintf(gConsole, "%s\n", line.c_str());
            std::fflush(gConsole);
            lastDone_ = done;
        }
        last_ = stage;
    }
    void Say(const std::string& text) {
        if (text.empty() && !interactive_)
            return;
        std::fprintf(gConsole, "%s%s\n", interactive_ ? "\r" : "",
                     fmt::format("{:<60}", text).c_str());
        std::fflush(gConsole);
    }

  private:
    bool interactive_;
    std::string last_;
    int lastDone_ = 0;
};

// What the SDK delivers per camera frame, kept as a host would: a copy of what it needs.
class FrameLog final : public sdk::CTavoSDKFaceTrackingCallback {
  public:
    int64_t pushedNs = 0;
    int framesTracked = 0;
    int framesDetected = 0;
    std::map<std::string, std::vector<double>> stagesMs;

    void OnFrame(const head::Frame& frame) override {
        const int64_t now = WallNs();
        if (!frame.faces().empty())
            ++framesTracked;
        if (!frame.detectedFaces().empty())
            ++framesDetected;
        const head::FrameProfiling p = frame.profiling();
        if (p.faceDetectorStartTime == 0 || p.apiTimestamp == 0)
            return;
        auto ms = [](int64_t ns) { return static_cast<double>(ns) / 1e6; };
        stagesMs["handOver"].push_back(ms(p.faceDetectorStartTime - pushedNs));
        stagesMs["detection"].push_back(ms(p.faceDetectorEndTime - p.faceDetectorStartTime));
        stagesMs["tracking"].push_back(ms(p.apiTimestamp - p.faceDetectorEndTime));
        stagesMs["delivery"].push_back(ms(now - p.apiTimestamp));
    }
};

Picture Constant(uint8_t value) {
    Picture picture{8, 8, std::vector<uint8_t>(8 * 8 * 4, value)};
    for (size_t i = 3; i < picture.rgba.size(); i += 4)
        picture.rgba[i] = 255;
    return picture;
}

cv::Mat ToMat(const Picture& picture) {
    return cv::Mat(picture.height, picture.width, CV_8UC4,
                   const_cast<uint8_t*>(picture.rgba.data()));
}

// Intended images above, what the eyes see below, left then right, a gap between.
Picture KeyFramePanel(const Picture& intendedLeft, const Picture& intendedRight,
                      const Picture& seenLeft, const Picture& seenRight) {
    const int w = seenLeft.width, h = seenLeft.height, gap = 8;
    Picture out{2 * w + gap, 2 * h + gap,
                std::vector<uint8_t>(static_cast<size_t>(2 * w + gap) * (2 * h + gap) * 4, 255)};
    cv::Mat canvas = ToMat(out);
    auto place = [&](const Picture& picture, int x, int y) {
        cv::Mat scaled;
        cv::resize(ToMat(picture), scaled, cv::Size(w, h), 0, 0, cv::INTER_AREA);
        scaled.copyTo(canvas(cv::Rect(x, y, w, h)));
    };
    place(intendedLeft, 0, 0);
    place(intendedRight, w + gap, 0);
    place(seenLeft, 0, h + gap);
    place(seenRight, w + gap, h + gap);
    return out;
}

void Write(const Picture& picture, const fs::path& path) {
    // Quick deflate: the woven frames are large and many.
    if (!WritePng(picture, path.string(), 1))
        throw std::runtime_error("cannot write " + path.string());
}

// The camera's infrared image beside its depth image (near bright, far dark).
Picture CameraPicture(const SimulatedCamera& camera) {
    const cv::Mat1b& infrared = camera.infraredPixels();
    cv::Mat1b depth;
    camera.depth().convertTo(depth, CV_8U, -255.0 / 3000.0, 255.0 * 3200.0 / 3000.0);
    cv::Mat both;
    cv::hconcat(infrared, depth, both);
    cv::Mat rgba;
    cv::cvtColor(both, rgba, cv::COLOR_GRAY2RGBA);
    return {rgba.cols, rgba.rows, std::vector<uint8_t>(rgba.datastart, rgba.dataend)};
}

struct KeyFrame {
    int frame = 0;  // display frame
    double time = 0.0;
    glm::dvec3 leftEye, rightEye, faceUsed;
    double leftShare = 0.0, rightShare = 0.0;
    double leftCeiling = 0.0, rightCeiling = 0.0;
};

std::string Json(double value) {
    return std::isfinite(value) ? fmt::format("{:.3f}", value) : "null";
}

int Run(const Options& options) {
    const auto started = std::chrono::steady_clock::now();
    fs::create_directories(options.out);
    SendLibraryOutputTo(options.out / "sdk-output.txt");
    Progress progress;

    const WalkScript script(options.seconds);
    SharedCameraSink sink;
    progress.Say("Starting the SDK (face tracking on the CPU detector plug-in)");
    Weaver weaver(std::nullopt, &sink);
    sdk::ITavoSDK& sdk = weaver.sdk();
    // The SDK's own configuration (the default panel and its filter values); only the look-ahead
    // changes, which leaves face tracking running.
    device::Config panel = weaver.config();
    panel.faceDelay = options.predict ? static_cast<float>(kFaceDelayMs) : 0.0f;
    sdk.SetConfig(panel);
    SimulatedCamera camera(panel, TAVO_WALK_FACE_PHOTO);
    FrameLog log;
    sdk.SetFaceTrackingCallback(&log);
    if (!sink.onHostCameraFrame || !sink.onCameraIntrinsics)
        throw std::runtime_error("face tracking did not take the host's camera");
    sink.onCameraIntrinsics(camera.intrinsics());
    // The simulated depth is in millimetres, a D400's default depth unit.
    const head::DepthImageDesc depth{SimulatedCamera::kWidth, SimulatedCamera::kHeight, 0.001f,
                                     camera.depth().ptr<uint16_t>()};
    ViewScene scene(panel.viewResolution.x, panel.viewResolution.y);
    const LensSheet lens = LensSheet::FromConfig(weaver.config());

    const int views = weaver.ViewsFor(options.mode);
    // The probe pair: the left eye's views all white, the right eye's all black. In View
    // Sliding an eye further right sees a lower-numbered view on this lens, so the left eye's
    // are the upper half.
    std::vector<Picture> probe;
    for (int i = 0; i < views; ++i)
        probe.push_back(Constant(views == 2 ? (i == 0 ? 255 : 0) : (2 * i >= views ? 255 : 0)));
    const int intendedLeft = views == 2 ? 0 : views / 2;
    const int intendedRight = views == 2 ? 1 : views / 2 - 1;

    const int displayFrames = static_cast<int>(std::lround(options.seconds * kDisplayHz));
    // Key frames: spread over the frames whose viewer the camera sees.
    std::vector<int> inView;
    for (int v = 0; v < displayFrames; ++v) {
        if (camera.InView(script.Viewer((v + 1) / kDisplayHz)))
            inView.push_back(v);
    }
    std::vector<int> keyPlan;
    for (int k = 0; k < options.keyFrames && !inView.empty(); ++k) {
        const double at = (k + 0.5) / options.keyFrames * static_cast<double>(inView.size() - 1);
        keyPlan.push_back(inView[static_cast<size_t>(std::lround(at))]);
    }

    std::ofstream trajectory(options.out / "trajectory.csv");
    trajectory << "time,trueX,trueZ,trackedX,trackedZ,predictedX,predictedZ,passer,keyFrame\n";
    std::vector<double> predictedErrors, nonPredictedErrors;
    std::vector<KeyFrame> keys;
    int framesIn = 0;
    size_t nextKey = 0;
    bool keyPending = false;
    double keySeconds = 0.0, writeSeconds = 0.0;

    for (int v = 0; v < displayFrames; ++v) {
        const double displayMs = v * kScanOutMs;
        // The camera frames that have reached the renderer by now.
        while (framesIn * 1000.0 / kCameraFps + kPipelineMs <= displayMs) {
            const double t = framesIn / kCameraFps;
            std::vector<Head> heads{script.Viewer(t)};
            if (auto passer = script.Passer(t))
                heads.push_back(*passer);
            camera.Render(heads, static_cast<uint64_t>(framesIn));
            log.pushedNs = WallNs();
            // With the depth image, so that the detector measures each eye's distance instead of
            // guessing it from the eyes' spacing in the picture.
            const head::PushedCameraFrame frame(camera.infrared(), &depth,
                                                Timestamp{Timestamp::Space::Unknown, t * 1000.0});
            sink.onHostCameraFrame(frame);
            ++framesIn;
        }
        progress.Show("tracking", v + 1, displayFrames);

        const double seenAt = (displayMs + kScanOutMs) / 1000.0;
        const Head truth = script.Viewer(seenAt);
        glm::vec3 predicted(NAN), tracked(NAN);
        const bool held = sdk.GetPrimaryFace(predicted) && sdk.GetNonPredictedPrimaryFace(tracked);
        const bool visible = camera.InView(truth);
        if (held && visible) {
            predictedErrors.push_back(glm::distance(glm::dvec3(predicted), truth.middle()));
            nonPredictedErrors.push_back(glm::distance(glm::dvec3(tracked), truth.middle()));
        }
        if (nextKey < keyPlan.size() && v >= keyPlan[nextKey]) {
            keyPending = true;
            ++nextKey;
        }
        const bool key = keyPending && held && visible;
        trajectory << fmt::format("{:.4f},{:.2f},{:.2f},{},{},{},{},{},{}\n", seenAt,
                                  truth.middle().x, truth.middle().z,
                                  held ? fmt::format("{:.2f}", tracked.x) : "",
                                  held ? fmt::format("{:.2f}", tracked.z) : "",
                                  held ? fmt::format("{:.2f}", predicted.x) : "",
                                  held ? fmt::format("{:.2f}", predicted.z) : "",
                                  script.Passer(seenAt) ? 1 : 0, key ? 1 : 0);
        if (!key)
            continue;
        keyPending = false;

        // A key frame: the host's views for the face the SDK holds, woven as the panel shows
        // them, and what the true eyes see of it.
        const auto keyStarted = std::chrono::steady_clock::now();
        progress.Say(fmt::format("Key frame {} at {:.2f} s: weaving and looking", v, seenAt));
        KeyFrame kf;
        kf.frame = v;
        kf.time = seenAt;
        kf.leftEye = truth.leftEye;
        kf.rightEye = truth.rightEye;
        const std::vector<Picture> pictures = scene.Render(weaver.ViewOffsets(options.mode));
        WeaveSettings settings;
        settings.mode = options.mode;
        settings.heldFace = true;
        const Picture woven = weaver.Weave(settings, pictures);
        const sdk::TavoInterlaceParameters& used = weaver.lastParameters();
        kf.faceUsed = glm::dvec3(used.faceX, used.faceY, used.faceZ);
        const Picture probeWoven = weaver.Weave(settings, probe);
        auto shares = [&](const Picture& picture, const glm::dvec3& eye) {
            return SourceShares(lens, picture, eye, {255, 0}, kEyeSampling);
        };
        kf.leftShare = 100.0 * shares(probeWoven, kf.leftEye)[0];
        kf.rightShare = 100.0 * shares(probeWoven, kf.rightEye)[1];
        // The ceiling: the same probe woven for the true eyes.
        const head::MovingPoint exact{glm::vec3(truth.middle()), glm::vec3(0.0f)};
        const Timestamp stamp{Timestamp::Space::Unknown, seenAt * 1000.0};
        sdk.SetPrimaryFace(&exact, &stamp);
        const Picture ceilingWoven = weaver.Weave(settings, probe);
        kf.leftCeiling = 100.0 * shares(ceilingWoven, kf.leftEye)[0];
        kf.rightCeiling = 100.0 * shares(ceilingWoven, kf.rightEye)[1];

        const auto writeStarted = std::chrono::steady_clock::now();
        const std::string number = fmt::format("{:04d}", v);
        Write(woven, options.out / ("woven-" + number + ".png"));
        Write(probeWoven, options.out / ("probe-" + number + ".png"));
        Write(KeyFramePanel(pictures[static_cast<size_t>(intendedLeft)],
                            pictures[static_cast<size_t>(intendedRight)],
                            EyePicture(lens, woven, kf.leftEye, kEyeCell, kEyeSampling),
                            EyePicture(lens, woven, kf.rightEye, kEyeCell, kEyeSampling)),
              options.out / ("eyes-" + number + ".png"));
        Write(CameraPicture(camera), options.out / ("camera-" + number + ".png"));
        keys.push_back(kf);
        const auto keyEnded = std::chrono::steady_clock::now();
        keySeconds += std::chrono::duration<double>(keyEnded - keyStarted).count();
        writeSeconds += std::chrono::duration<double>(keyEnded - writeStarted).count();
    }
    sdk.SetFaceTrackingCallback(nullptr);
    trajectory.close();

    // The plot, from the CSV.
    progress.Say("Plotting the trajectory");
    const std::string plot = fmt::format(
        "{} '{}' '{}' '{}' {:.4f} {:.4f}", TAVO_WALK_PYTHON, TAVO_WALK_PLOT_SCRIPT,
        (options.out / "trajectory.csv").string(), (options.out / "trajectory.png").string(),
        script.passStart(), script.passEnd());
    if (std::system(plot.c_str()) != 0)
        throw std::runtime_error("the trajectory plot failed (is python3-matplotlib installed?)");

    {
        std::ofstream csv(options.out / "keyframes.csv");
        csv << "frame,time,leftEyeX,leftEyeY,leftEyeZ,rightEyeX,rightEyeY,rightEyeZ,faceUsedX,"
               "faceUsedY,faceUsedZ,leftShare,rightShare,leftCeiling,rightCeiling\n";
        for (const KeyFrame& k : keys) {
            csv << fmt::format(
                "{},{:.4f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},"
                "{:.2f},{:.2f},{:.2f}\n",
                k.frame, k.time, k.leftEye.x, k.leftEye.y, k.leftEye.z, k.rightEye.x, k.rightEye.y,
                k.rightEye.z, k.faceUsed.x, k.faceUsed.y, k.faceUsed.z, k.leftShare, k.rightShare,
                k.leftCeiling, k.rightCeiling);
        }
    }

    std::vector<double> eyeShares, ceilings;
    for (const KeyFrame& k : keys) {
        eyeShares.insert(eyeShares.end(), {k.leftShare, k.rightShare});
        ceilings.insert(ceilings.end(), {k.leftCeiling, k.rightCeiling});
    }
    const Quantiles share = Of(eyeShares), ceiling = Of(ceilings);
    const Quantiles predictedError = Of(predictedErrors),
                    nonPredictedError = Of(nonPredictedErrors);
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::string latency;
    std::string latencyText;
    for (const char* stage : {"handOver", "detection", "tracking", "delivery"}) {
        const Quantiles q = Of(log.stagesMs[stage]);
        latency += fmt::format("{}\"{}\": {{\"median\": {}, \"p95\": {}}}",
                               latency.empty() ? "" : ", ", stage, Json(q.median), Json(q.p95));
        latencyText += fmt::format("  {:<10} median {:6.2f} ms, 95th percentile {:6.2f} ms\n",
                                   stage, q.median, q.p95);
    }
    const std::string json = fmt::format(
        "{{\n  \"framesIn\": {},\n  \"framesTracked\": {},\n  \"keyFrames\": {},\n"
        "  \"eyeShareMedian\": {},\n  \"eyeShareWorst\": {},\n  \"eyeShareCeilingMedian\": {},\n"
        "  \"predictionErrorMedianMm\": {},\n  \"predictionErrorP95Mm\": {},\n"
        "  \"nonPredictedErrorMedianMm\": {},\n  \"nonPredictedErrorP95Mm\": {},\n"
        "  \"latencyMs\": {{{}}},\n  \"wallSeconds\": {}\n}}\n",
        framesIn, log.framesTracked, keys.size(), Json(share.median), Json(share.worst),
        Json(ceiling.median), Json(predictedError.median), Json(predictedError.p95),
        Json(nonPredictedError.median), Json(nonPredictedError.p95), latency, Json(wallSeconds));
    std::ofstream(options.out / "summary.json") << json;

    std::string keyList;
    for (const KeyFrame& k : keys)
        keyList += fmt::format("{}{}", keyList.empty() ? "" : ", ", k.frame);
    const std::string text = fmt::format(
        "Frames in {}, tracked {} ({:.1f}%), with a detection {}.\n"
        "Woven key frames (display frames at {} Hz): {}.\n"
        "Eye share on key frames: median {:.1f}%, worst {:.1f}%; woven for the true eyes: median "
        "{:.1f}%.\n"
        "Face error when seen: {} median {:.1f} mm, 95th percentile {:.1f} mm; non-predicted "
        "median {:.1f} mm, 95th percentile {:.1f} mm.\n"
        "Latency per stage:\n{}"
        "Wall time {:.1f} s, of which key frames {:.1f} s (writing their pictures {:.1f} s).\n",
        framesIn, log.framesTracked, 100.0 * log.framesTracked / std::max(1, framesIn),
        log.framesDetected, kDisplayHz, keyList.empty() ? "none" : keyList, share.median,
        share.worst, ceiling.median, options.predict ? "predicted" : "used (prediction off)",
        predictedError.median, predictedError.p95, nonPredictedError.median, nonPredictedError.p95,
        latencyText, wallSeconds, keySeconds, writeSeconds);

    std::string figures;
    for (const KeyFrame& k : keys) {
        const std::string n = fmt::format("{:04d}", k.frame);
        figures += fmt::format(
            "<figure><img src=\"eyes-{0}.png\" alt=\"key frame {0}\"><figcaption>Frame {1} at "
            "{2:.2f} s: intended left and right images (top), what the true left and right eyes "
            "see (bottom). Own image seen: left {3:.1f}%, right {4:.1f}%. <a "
            "href=\"woven-{0}.png\">woven</a>, <a href=\"probe-{0}.png\">probe</a></figcaption>"
            "</figure>\n",
            n, k.frame, k.time, k.leftShare, k.rightShare);
    }
    std::ofstream(options.out / "index.html")
        << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>tavo-walk</title>"
           "<style>body{font-family:sans-serif;max-width:1100px;margin:auto}img{max-width:100%}"
           "pre{background:#eee;padding:8px}</style></head><body>\n<h1>A viewer walks in front "
           "of the panel</h1>\n<pre>"
        << text << "</pre>\n<img src=\"trajectory.png\" alt=\"trajectory\">\n"
        << figures << "<p><a href=\"summary.json\">summary.json</a>, <a href=\"keyframes.csv\">"
        << "keyframes.csv</a>, <a href=\"trajectory.csv\">trajectory.csv</a></p>\n</body></html>\n";

    progress.Say("");
    std::fprintf(gConsole, "%s", text.c_str());
    std::fprintf(gConsole, "Written to %s (open index.html)\n", fs::absolute(options.out).c_str());
    std::fflush(gConsole);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef __SANITIZE_THREAD__
    // OpenCV's model runs hand work to TBB's uninstrumented threads, whose synchronisation
    // ThreadSanitizer cannot see; the detector's OpenCV is this process's.
    cv::setNumThreads(0);
#endif
    Options options;
    try {
        options = Parse(argc, argv);
    } catch (const BadArguments& bad) {
        std::fprintf(stderr, "tavo-walk: %s\n%s", bad.why.c_str(), kUsage);
        return 2;
    }
    if (options.realsense) {
#if TAVO_WALK_REALSENSE_STANDIN
        std::fprintf(stderr,
                     "tavo-walk: --camera realsense needs the real librealsense2 and a camera; "
                     "this build uses the project's stand-in, which has no camera.\n");
#else
        std::fprintf(stderr,
                     "tavo-walk: --camera realsense: a live camera has no true head positions to "
                     "measure against; this demo runs on its simulated camera only.\n");
#endif
        return 2;
    }
    try {
        return Run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "\ntavo-walk failed: %s\n", error.what());
        return 1;
    }
}
