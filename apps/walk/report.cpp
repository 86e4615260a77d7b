#include "apps/walk/report.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include <fmt/format.h>

namespace tavo::apps::walk {

namespace fs = std::filesystem;

int64_t WallNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

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

std::string Json(double value) {
    return std::isfinite(value) ? fmt::format("{:.3f}", value) : "null";
}

std::string Field(double value) {
    return std::isfinite(value) ? fmt::format("{:.2f}", value) : "";
}

Console::Console(const fs::path& libraryOutput) {
    std::fflush(stdout);
    savedStdout_ = ::dup(STDOUT_FILENO);
    const int console = savedStdout_ < 0 ? -1 : ::dup(savedStdout_);
    FILE* library = std::fopen(libraryOutput.c_str(), "w");
    out_ = console < 0 ? nullptr : ::fdopen(console, "w");
    if (out_ == nullptr || library == nullptr) {
        if (library != nullptr)
            std::fclose(library);
        if (out_ != nullptr)
            std::fclose(out_);
        else if (console >= 0)
            ::close(console);
        if (savedStdout_ >= 0)
            ::close(savedStdout_);
        throw std::runtime_error("cannot write " + libraryOutput.string());
    }
    ::dup2(::fileno(library), STDOUT_FILENO);
    std::fclose(library);
}

Console::~Console() {
    std::fflush(stdout);
    std::fflush(out_);
    ::dup2(savedStdout_, STDOUT_FILENO);
    ::close(savedStdout_);
    std::fclose(out_);
}

Progress::Progress(FILE* console)
    : console_(console), interactive_(::isatty(::fileno(console)) == 1) {}

void Progress::Show(const std::string& stage, int done, int total) {
    const std::string line = fmt::format("[{}] frame {}/{}", stage, done, total);
    if (interactive_) {
        std::fprintf(console_, "\r%-60s", line.c_str());
        std::fflush(console_);
    } else if (stage != last_ || done == total || done - lastDone_ >= total / 10) {
        std::fprintf(console_, "%s\n", line.c_str());
        std::fflush(console_);
        lastDone_ = done;
    }
    last_ = stage;
}

void Progress::Say(const std::string& text) {
    if (text.empty() && !interactive_)
        return;
    std::fprintf(console_, "%s%s\n", interactive_ ? "\r" : "", fmt::format("{:<60}", text).c_str());
    std::fflush(console_);
}

void StageLatencies::Add(const head::FrameProfiling& p, int64_t handedOverNs, int64_t deliveredNs) {
    if (p.faceDetectorStartTime == 0 || p.apiTimestamp == 0)
        return;
    auto ms = [](int64_t ns) { return static_cast<double>(ns) / 1e6; };
    if (handedOverNs != 0)
        stagesMs_["handOver"].push_back(ms(p.faceDetectorStartTime - handedOverNs));
    stagesMs_["detection"].push_back(ms(p.faceDetectorEndTime - p.faceDetectorStartTime));
    stagesMs_["tracking"].push_back(ms(p.apiTimestamp - p.faceDetectorEndTime));
    stagesMs_["delivery"].push_back(ms(deliveredNs - p.apiTimestamp));
}

std::string StageLatencies::Json() const {
    std::string json = "{";
    for (const char* stage : kStages) {
        const auto found = stagesMs_.find(stage);
        const Quantiles q = found == stagesMs_.end() ? Quantiles{} : Of(found->second);
        json +=
            fmt::format("{}\"{}\": {{\"median\": {}, \"p95\": {}}}", json.size() > 1 ? ", " : "",
                        stage, walk::Json(q.median), walk::Json(q.p95));
    }
    return json + "}";
}

std::string StageLatencies::Text() const {
    std::string text;
    for (const char* stage : kStages) {
        const auto found = stagesMs_.find(stage);
        if (found == stagesMs_.end()) {
            text += fmt::format("  {:<10} not measured\n", stage);
            continue;
        }
        const Quantiles q = Of(found->second);
        text += fmt::format("  {:<10} median {:6.2f} ms, 95th percentile {:6.2f} ms\n", stage,
                            q.median, q.p95);
    }
    return text;
}

void WritePicture(const Picture& picture, const fs::path& path) {
    if (!WritePng(picture, path.string(), 1))
        throw std::runtime_error("cannot write " + path.string());
}

void PlotTrajectory(const fs::path& out, std::optional<std::pair<double, double>> passage) {
    std::string command =
        fmt::format("{} '{}' '{}' '{}'", TAVO_WALK_PYTHON, TAVO_WALK_PLOT_SCRIPT,
                    (out / "trajectory.csv").string(), (out / "trajectory.png").string());
    if (passage)
        command += fmt::format(" {:.4f} {:.4f}", passage->first, passage->second);
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("the trajectory plot failed (is python3-matplotlib installed?)");
}

void WriteKeyFrames(const fs::path& path, const std::vector<KeyFrameRecord>& keys) {
    std::ofstream csv(path);
    csv << "frame,time,leftEyeX,leftEyeY,leftEyeZ,rightEyeX,rightEyeY,rightEyeZ,faceUsedX,"
           "faceUsedY,faceUsedZ,leftShare,rightShare,leftCeiling,rightCeiling\n";
    for (const KeyFrameRecord& k : keys) {
        csv << fmt::format("{},{:.4f},{},{},{},{},{},{},{},{},{},{},{},{},{}\n", k.frame, k.time,
                           Field(k.leftEye.x), Field(k.leftEye.y), Field(k.leftEye.z),
                           Field(k.rightEye.x), Field(k.rightEye.y), Field(k.rightEye.z),
                           Field(k.faceUsed.x), Field(k.faceUsed.y), Field(k.faceUsed.z),
                           Field(k.leftShare), Field(k.rightShare), Field(k.leftCeiling),
                           Field(k.rightCeiling));
    }
    if (!csv)
        throw std::runtime_error("cannot write " + path.string());
}

std::string KeyFrameList(const std::vector<KeyFrameRecord>& keys) {
    std::string list;
    for (const KeyFrameRecord& k : keys)
        list += fmt::format("{}{}", list.empty() ? "" : ", ", k.frame);
    return list.empty() ? "none" : list;
}

void WriteSummary(const fs::path& path, const Summary& s) {
    std::ofstream json(path);
    json << fmt::format(
        "{{\n  \"framesIn\": {},\n  \"framesTracked\": {},\n  \"keyFrames\": {},\n"
        "  \"eyeShareMedian\": {},\n  \"eyeShareWorst\": {},\n  \"eyeShareCeilingMedian\": {},\n"
        "  \"predictionErrorMedianMm\": {},\n  \"predictionErrorP95Mm\": {},\n"
        "  \"nonPredictedErrorMedianMm\": {},\n  \"nonPredictedErrorP95Mm\": {},\n"
        "  \"latencyMs\": {},\n  \"wallSeconds\": {}\n}}\n",
        s.framesIn, s.framesTracked, s.keyFrames, Json(s.eyeShareMedian), Json(s.eyeShareWorst),
        Json(s.eyeShareCeilingMedian), Json(s.predictionErrorMedianMm),
        Json(s.predictionErrorP95Mm), Json(s.nonPredictedErrorMedianMm),
        Json(s.nonPredictedErrorP95Mm), s.latencyMs, Json(s.wallSeconds));
    if (!json)
        throw std::runtime_error("cannot write " + path.string());
}

void WriteIndex(const fs::path& path, const std::string& heading, const std::string& text,
                const std::string& figures) {
    std::ofstream page(path);
    page
        << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>tavo-walk</title>"
           "<style>body{font-family:sans-serif;max-width:1100px;margin:auto}img{max-width:100%}"
           "pre{background:#eee;padding:8px}</style></head><body>\n<h1>"
        << heading << "</h1>\n<pre>" << text
        << "</pre>\n<img src=\"trajectory.png\" alt=\"trajectory\">\n"
        << figures << "<p><a href=\"summary.json\">summary.json</a>, <a href=\"keyframes.csv\">"
        << "keyframes.csv</a>, <a href=\"trajectory.csv\">trajectory.csv</a></p>\n</body></html>\n";
    if (!page)
        throw std::runtime_error("cannot write " + path.string());
}

}  // namespace tavo::apps::walk
