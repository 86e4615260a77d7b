// tavo-walk: a viewer walks in front of a simulated panel and the whole chain runs. A simulated
// depth camera feeds the SDK as the host's own camera, the CPU detector plug-in finds the face,
// the SDK tracks and predicts it, TavoRenderer draws the host's views, the interlacer weaves
// them on a headless EGL context, and the per-eye simulator shows what the true eyes see.
//
//   tavo-walk [--seconds S] [--mode stereo|sliding] [--out DIR] [--no-predict]
//             [--camera simulated|realsense] [--key-frames K]
//
// With --camera realsense the same chain runs on a live RealSense camera (liveRun.h).
#include "apps/walk/walk.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/common/arguments.h"
#include "apps/eyeview/eyeSimulator.h"
#include "apps/walk/liveRun.h"
#include "apps/walk/report.h"
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
// A camera frame reaches the renderer one camera period after its exposure.
constexpr double kPipelineMs = 1000.0 / kCameraFps;
// The SDK cannot compare the simulated camera clock with its own, so it predicts by the
// configured face delay alone: the mean age of a face when its picture is seen.
constexpr double kFaceDelayMs = kPipelineMs + 0.5 * 1000.0 / kCameraFps + kScanOutMs;
constexpr int kEyeCell = 8;
const EyeSampling kEyeSampling{2};

const char* kUsage =
    "usage: tavo-walk [--seconds S] [--mode stereo|sliding] [--out DIR] [--no-predict]\n"
    "                 [--camera simulated|realsense] [--key-frames K]\n";

using Options = RunOptions;

// --help: the usage goes to standard output and the run ends well.
struct HelpAsked {};

Options Parse(int argc, char** argv) {
    Options o;
    Arguments arguments(argc, argv);
    while (arguments.Next()) {
        const std::string arg = arguments.Current();
        auto value = [&] { return arguments.Value(); };
        if (arg == "--seconds") {
            o.seconds = ParseNumber(value(), "--seconds");
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
            o.keyFrames = ParseWhole(value(), "--key-frames", 1, 200);
        } else if (arg == "--help" || arg == "-h") {
            throw HelpAsked{};
        } else {
            throw BadArguments{"unknown argument " + arg};
        }
    }
    return o;
}

// What the SDK delivers per camera frame, kept as a host would: a copy of what it needs.
class FrameLog final : public sdk::CTavoSDKFaceTrackingCallback {
  public:
    int64_t pushedNs = 0;
    int framesTracked = 0;
    int framesDetected = 0;
    StageLatencies latencies;

    void OnFrame(const head::Frame& frame) override {
        const int64_t now = WallNs();
        if (!frame.faces().empty())
            ++framesTracked;
        if (!frame.detectedFaces().empty())
            ++framesDetected;
        latencies.Add(frame.profiling(), pushedNs, now);
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
// The probe: the left eye's views all white, the right eye's all black; in Stereo Sliding those
// are the two images. View Sliding is not steered by the face, so which view an eye sees depends
// on where it stands: a first weave of distinct constant views finds the view each true eye sees
// most, and the views are split between the eyes halfway between those two. A view exactly
// halfway is grey, its samples nobody's own.
struct Probe {
    std::vector<Picture> views;
    int leftView = 0, rightView = 1;  // the views meant for each eye, shown as intended images
};

Probe MakeProbe(Weaver& weaver, const WeaveSettings& settings, const LensSheet& lens,
                const Head& truth, int views) {
    Probe probe;
    if (views == 2) {
        for (const uint8_t value : ProbeValues(views, 0, 1))
            probe.views.push_back(Constant(value));
        return probe;
    }
    std::vector<Picture> labelled;
    std::vector<int> values;
    for (int i = 0; i < views; ++i) {
        values.push_back(10 + i * 235 / (views - 1));
        labelled.push_back(Constant(static_cast<uint8_t>(values.back())));
    }
    const Picture labels = weaver.Weave(settings, labelled);
    auto mostSeen = [&](const glm::dvec3& eye) {
        const auto shares = SourceShares(lens, labels, eye, values, kEyeSampling);
        return static_cast<int>(std::max_element(shares.begin(), shares.end()) - shares.begin());
    };
    probe.leftView = mostSeen(truth.leftEye);
    probe.rightView = mostSeen(truth.rightEye);
    for (const uint8_t value : ProbeValues(views, probe.leftView, probe.rightView))
        probe.views.push_back(Constant(value));
    return probe;
}

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

int Run(const Options& options) {
    const auto started = std::chrono::steady_clock::now();
    fs::create_directories(options.out);
    Console console(options.out / "sdk-output.txt");
    Progress progress(console.out());

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
    trajectory << kTrajectoryHeader;
    std::vector<double> predictedErrors, nonPredictedErrors;
    std::vector<KeyFrameRecord> keys;
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
                                  truth.middle().x, truth.middle().z, Field(tracked.x),
                                  Field(tracked.z), Field(predicted.x), Field(predicted.z),
                                  script.Passer(seenAt) ? 1 : 0, key ? 1 : 0);
        if (!key)
            continue;
        keyPending = false;

        // A key frame: the host's views for the face the SDK holds, woven as the panel shows
        // them, and what the true eyes see of it.
        const auto keyStarted = std::chrono::steady_clock::now();
        progress.Say(fmt::format("Key frame {} at {:.2f} s: weaving and looking", v, seenAt));
        KeyFrameRecord kf;
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
        const Probe probe = MakeProbe(weaver, settings, lens, truth, views);
        const Picture probeWoven = weaver.Weave(settings, probe.views);
        auto shares = [&](const Picture& picture, const glm::dvec3& eye) {
            return SourceShares(lens, picture, eye, {255, 0, 128}, kEyeSampling);
        };
        kf.leftShare = 100.0 * shares(probeWoven, kf.leftEye)[0];
        kf.rightShare = 100.0 * shares(probeWoven, kf.rightEye)[1];
        // The ceiling: the same probe woven for the true eyes.
        const head::MovingPoint exact{glm::vec3(truth.middle()), glm::vec3(0.0f)};
        const Timestamp stamp{Timestamp::Space::Unknown, seenAt * 1000.0};
        sdk.SetPrimaryFace(&exact, &stamp);
        const Picture ceilingWoven = weaver.Weave(settings, probe.views);
        kf.leftCeiling = 100.0 * shares(ceilingWoven, kf.leftEye)[0];
        kf.rightCeiling = 100.0 * shares(ceilingWoven, kf.rightEye)[1];

        const auto writeStarted = std::chrono::steady_clock::now();
        const std::string number = fmt::format("{:04d}", v);
        WritePicture(woven, options.out / ("woven-" + number + ".png"));
        WritePicture(probeWoven, options.out / ("probe-" + number + ".png"));
        WritePicture(KeyFramePanel(pictures[static_cast<size_t>(probe.leftView)],
                                   pictures[static_cast<size_t>(probe.rightView)],
                                   EyePicture(lens, woven, kf.leftEye, kEyeCell, kEyeSampling),
                                   EyePicture(lens, woven, kf.rightEye, kEyeCell, kEyeSampling)),
                     options.out / ("eyes-" + number + ".png"));
        WritePicture(CameraPicture(camera), options.out / ("camera-" + number + ".png"));
        keys.push_back(kf);
        const auto keyEnded = std::chrono::steady_clock::now();
        keySeconds += std::chrono::duration<double>(keyEnded - keyStarted).count();
        writeSeconds += std::chrono::duration<double>(keyEnded - writeStarted).count();
    }
    sdk.SetFaceTrackingCallback(nullptr);
    trajectory.close();

    // The plot, from the CSV.
    progress.Say("Plotting the trajectory");
    PlotTrajectory(options.out, std::make_pair(script.passStart(), script.passEnd()));
    WriteKeyFrames(options.out / "keyframes.csv", keys);

    std::vector<double> eyeShares, ceilings;
    for (const KeyFrameRecord& k : keys) {
        eyeShares.insert(eyeShares.end(), {k.leftShare, k.rightShare});
        ceilings.insert(ceilings.end(), {k.leftCeiling, k.rightCeiling});
    }
    const Quantiles share = Of(eyeShares), ceiling = Of(ceilings);
    const Quantiles predictedError = Of(predictedErrors),
                    nonPredictedError = Of(nonPredictedErrors);
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    Summary summary;
    summary.framesIn = framesIn;
    summary.framesTracked = log.framesTracked;
    summary.keyFrames = static_cast<int>(keys.size());
    summary.eyeShareMedian = share.median;
    summary.eyeShareWorst = share.worst;
    summary.eyeShareCeilingMedian = ceiling.median;
    summary.predictionErrorMedianMm = predictedError.median;
    summary.predictionErrorP95Mm = predictedError.p95;
    summary.nonPredictedErrorMedianMm = nonPredictedError.median;
    summary.nonPredictedErrorP95Mm = nonPredictedError.p95;
    summary.latencyMs = log.latencies.Json();
    summary.wallSeconds = wallSeconds;
    WriteSummary(options.out / "summary.json", summary);

    const std::string keyList = KeyFrameList(keys);
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
        log.framesDetected, kDisplayHz, keyList, share.median, share.worst, ceiling.median,
        options.predict ? "predicted" : "used (prediction off)", predictedError.median,
        predictedError.p95, nonPredictedError.median, nonPredictedError.p95, log.latencies.Text(),
        wallSeconds, keySeconds, writeSeconds);

    std::string figures;
    for (const KeyFrameRecord& k : keys) {
        const std::string n = fmt::format("{:04d}", k.frame);
        figures += fmt::format(
            "<figure><img src=\"eyes-{0}.png\" alt=\"key frame {0}\"><figcaption>Frame {1} at "
            "{2:.2f} s: intended left and right images (top), what the true left and right eyes "
            "see (bottom). Own image seen: left {3:.1f}%, right {4:.1f}%. <a "
            "href=\"woven-{0}.png\">woven</a>, <a href=\"probe-{0}.png\">probe</a></figcaption>"
            "</figure>\n",
            n, k.frame, k.time, k.leftShare, k.rightShare);
    }
    WriteIndex(options.out / "index.html", "A viewer walks in front of the panel", text, figures);

    progress.Say("");
    std::fprintf(console.out(), "%s", text.c_str());
    std::fprintf(console.out(), "Written to %s (open index.html)\n",
                 fs::absolute(options.out).c_str());
    std::fflush(console.out());
    return 0;
}

}  // namespace

namespace tavo::apps::walk {

std::vector<uint8_t> ProbeValues(int views, int leftView, int rightView) {
    std::vector<uint8_t> values;
    for (int i = 0; i < views; ++i) {
        if (views == 2) {
            values.push_back(i == 0 ? 255 : 0);
            continue;
        }
        const int side = 2 * i - (leftView + rightView);
        const bool leftSide = leftView <= rightView ? side < 0 : side > 0;
        values.push_back(side == 0 ? 128 : leftSide ? 255 : 0);
    }
    return values;
}

int WalkMain(int argc, char** argv) {
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
    } catch (const HelpAsked&) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.realsense) {
        // Before anything starts: without a camera there is nothing to run.
        if (const std::optional<std::string> missing = MissingLiveCamera()) {
            std::fprintf(stderr, "tavo-walk: --camera realsense: %s\n", missing->c_str());
            return 2;
        }
    }
    try {
        return options.realsense ? RunLive(options) : Run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "\ntavo-walk failed: %s\n", error.what());
        return 1;
    }
}

}  // namespace tavo::apps::walk
