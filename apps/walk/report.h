// What both runs of the walk demo share: the options, the terminal, the latency of the frames'
// stages, and the files it writes (pictures, trajectory plot, key frame list, summary, page).
//
// Console, Progress and StageLatencies belong to one thread at a time; the rest are functions.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <glm/vec3.hpp>

#include "apps/weave/weaver.h"
#include "tavo/headTracking/common/types.h"

namespace tavo::apps::walk {

constexpr double kDisplayHz = 60.0;
// A displayed frame's picture reaches the eyes one display period after the frame starts.
constexpr double kScanOutMs = 1000.0 / kDisplayHz;

struct RunOptions {
    double seconds = 15.0;
    sdk::eTavoInterlaceMode mode = sdk::kTavoInterlaceModeStereoSliding;
    std::filesystem::path out = "demo-out";
    bool predict = true;
    bool realsense = false;
    int keyFrames = 6;
};

// The wall clock, nanoseconds since 1970, the clock of the frames' profiling.
int64_t WallNs();

// Not a number where nothing was measured.
struct Quantiles {
    double median = NAN;
    double p95 = NAN;
    double worst = NAN;
};
Quantiles Of(std::vector<double> values);

// A JSON number with three decimals, null when not finite.
std::string Json(double value);

// The demo's own terminal. The SDK writes its reports to standard output too; while this lives
// they go to `libraryOutput` instead, so that the progress line stays readable.
class Console {
  public:
    // Throws std::runtime_error when the file cannot be written.
    explicit Console(const std::filesystem::path& libraryOutput);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    FILE* out() const { return out_; }

  private:
    int savedStdout_ = -1;
    FILE* out_ = nullptr;
};

// The stage and frame count, rewritten in place on a terminal, as plain lines otherwise.
class Progress {
  public:
    explicit Progress(FILE* console);
    void Show(const std::string& stage, int done, int total);
    void Say(const std::string& text);

  private:
    FILE* console_;
    bool interactive_;
    std::string last_;
    int lastDone_ = 0;
};

// Latency per stage of the frames' profiling, milliseconds: handOver (from `handedOverNs`, when
// the frame left the camera, to the detector's start), detection, tracking and delivery (to the
// host's callback).
class StageLatencies {
  public:
    static constexpr const char* kStages[] = {"handOver", "detection", "tracking", "delivery"};

    // `handedOverNs` 0 leaves the hand-over out (not known); frames without profiling add
    // nothing.
    void Add(const head::FrameProfiling& profiling, int64_t handedOverNs, int64_t deliveredNs);
    // {"handOver": {"median": m, "p95": p}, ...}, null where a stage has no samples.
    std::string Json() const;
    // One line per stage.
    std::string Text() const;

  private:
    std::map<std::string, std::vector<double>> stagesMs_;
};

// PNG with quick compression (the woven frames are large); throws std::runtime_error naming the
// file when it cannot be written.
void WritePicture(const Picture& picture, const std::filesystem::path& path);

// The trajectory CSV's header; both runs write these columns, empty where unknown.
inline constexpr const char* kTrajectoryHeader =
    "time,trueX,trueZ,trackedX,trackedZ,predictedX,predictedZ,passer,keyFrame\n";
// "{:.2f}" of a finite value, empty otherwise.
std::string Field(double value);

// trajectory.png from DIR/trajectory.csv, shading the second person's passage when given.
// Throws std::runtime_error when the plot fails.
void PlotTrajectory(const std::filesystem::path& out,
                    std::optional<std::pair<double, double>> passage);

struct KeyFrameRecord {
    int frame = 0;                           // display frame
    double time = 0.0;                       // seconds
    glm::dvec3 leftEye{NAN}, rightEye{NAN};  // the true eyes, not a number where unknown
    glm::dvec3 faceUsed{NAN};
    double leftShare = NAN, rightShare = NAN;
    double leftCeiling = NAN, rightCeiling = NAN;
};
void WriteKeyFrames(const std::filesystem::path& path, const std::vector<KeyFrameRecord>& keys);
// "12, 40, 95": the key frames' display frame numbers; "none" without any.
std::string KeyFrameList(const std::vector<KeyFrameRecord>& keys);

// summary.json's twelve keys; not a number is written as null (not measured).
struct Summary {
    int framesIn = 0;
    int framesTracked = 0;
    int keyFrames = 0;
    double eyeShareMedian = NAN;
    double eyeShareWorst = NAN;
    double eyeShareCeilingMedian = NAN;
    double predictionErrorMedianMm = NAN;
    double predictionErrorP95Mm = NAN;
    double nonPredictedErrorMedianMm = NAN;
    double nonPredictedErrorP95Mm = NAN;
    std::string latencyMs;  // StageLatencies::Json()
    double wallSeconds = NAN;
};
void WriteSummary(const std::filesystem::path& path, const Summary& summary);

// index.html: the heading, the terminal's summary text, the trajectory plot, then `figures`.
void WriteIndex(const std::filesystem::path& path, const std::string& heading,
                const std::string& text, const std::string& figures);

}  // namespace tavo::apps::walk
