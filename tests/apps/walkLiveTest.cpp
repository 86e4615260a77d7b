// The walk demo on a live RealSense camera, run in-process through its command line: the
// stand-in's simulated device streams the walk's infrared and depth images, the library's own
// RealSense camera reads them, the CPU detector plug-in finds the face, the SDK tracks it, and key
// frames are woven for the face it holds.
#include <gtest/gtest.h>

#include <librealsense2/simulation.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core/utility.hpp>

#include "apps/walk/report.h"
#include "apps/walk/simulatedCamera.h"
#include "apps/walk/walk.h"
#include "apps/walk/walkScript.h"
#include "sdk/faceTrackingTestSupport.h"
#include "tavo/device/config.h"

namespace tavo::apps::walk {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A D435 whose left infrared imager and depth stream have the simulated camera's pinhole model,
// streaming while this lives. It plays the part of the walk in which the viewer stands in the
// camera's view (from the stop at 600 mm until just before leaving, the second person passing
// behind) over `seconds` of wall time, stamped on the host's clock as a camera with global time
// does, at up to 90 frames a second and never ahead of the library's reading.
class SimulatedRealsense {
  public:
    static constexpr double kFromNatural = 2.2;
    static constexpr double kToNatural = 13.2;

    explicit SimulatedRealsense(double seconds,
                                double unplugAfter = std::numeric_limits<double>::infinity())
        : seconds_(seconds),
          unplugAfter_(unplugAfter),
          camera_(device::DefaultConfig(), TAVO_WALK_FACE_PHOTO) {
        rs2sim_stream_profile profiles[2] = {};
        rs2_intrinsics intrinsics{};
        const CameraIntrinsics model = camera_.intrinsics();
        intrinsics.width = model.width;
        intrinsics.height = model.height;
        intrinsics.ppx = model.ppx;
        intrinsics.ppy = model.ppy;
        intrinsics.fx = model.fx;
        intrinsics.fy = model.fy;
        intrinsics.model = RS2_DISTORTION_BROWN_CONRADY;
        profiles[0] = {RS2_STREAM_DEPTH, 0, RS2_FORMAT_Z16, 90, intrinsics};
        profiles[1] = {RS2_STREAM_INFRARED, 1, RS2_FORMAT_Y8, 90, intrinsics};
        // The simulated depth is in millimetres.
        const rs2sim_device_desc desc{profiles, 2, 1, 0.001f};
        rs2sim_connect_device(&desc);
        thread_ = std::thread([this] { Stream(); });
    }
    ~SimulatedRealsense() {
        stop_ = true;
        thread_.join();
    }
    SimulatedRealsense(const SimulatedRealsense&) = delete;
    SimulatedRealsense& operator=(const SimulatedRealsense&) = delete;

    int pushed() const { return pushed_; }

  private:
    void Stream() {
        while (!stop_ && rs2sim_is_streaming() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double scale = seconds_ / (kToNatural - kFromNatural);
        const WalkScript script(WalkScript::kNaturalSeconds * scale);
        const auto start = Clock::now();
        auto next = start;
        for (uint64_t index = 0; !stop_; ++index) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            if (elapsed >= unplugAfter_) {
                rs2sim_disconnect_device();
                return;
            }
            const double t = std::min(kFromNatural * scale + elapsed, kToNatural * scale);
            std::vector<Head> heads{script.Viewer(t)};
            if (auto passer = script.Passer(t))
                heads.push_back(*passer);
            camera_.Render(heads, index);
            const double nowMs = static_cast<double>(WallNs()) / 1e6;
            const auto us = static_cast<rs2_metadata_type>(nowMs * 1000.0);
            const rs2sim_metadata metadata[2] = {{RS2_FRAME_METADATA_FRAME_TIMESTAMP, us},
                                                 {RS2_FRAME_METADATA_SENSOR_TIMESTAMP, us}};
            const rs2sim_frame frames[2] = {
                {RS2_STREAM_DEPTH, 0, RS2_FORMAT_Z16, SimulatedCamera::kWidth,
                 SimulatedCamera::kHeight, camera_.depth().data, nowMs,
                 RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME, metadata, 2},
                {RS2_STREAM_INFRARED, 1, RS2_FORMAT_Y8, SimulatedCamera::kWidth,
                 SimulatedCamera::kHeight, camera_.infraredPixels().data, nowMs,
                 RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME, metadata, 2}};
            if (rs2sim_push_frameset(frames, 2) == 1)
                ++pushed_;
            // A camera that fell behind does not catch up in a burst.
            next = std::max(next + std::chrono::microseconds(11111), Clock::now());
            while (!stop_ && (Clock::now() < next || rs2sim_pending_framesets() > 0))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    double seconds_;
    double unplugAfter_;
    SimulatedCamera camera_;
    std::atomic<bool> stop_{false};
    std::atomic<int> pushed_{0};
    std::thread thread_;
};

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A top-level member of summary.json: its text, "null" when not measured.
std::string Member(const std::string& json, const std::string& key) {
    std::smatch match;
    const std::regex pattern("\n  \"" + key + "\": ([^,\n]+)");
    return std::regex_search(json, match, pattern) ? match[1].str() : "absent";
}

class WalkLiveTest : public testing::Test {
  protected:
    void SetUp() override {
        rs2sim_reset();
        const char* dir = std::getenv("TAVO_TEST_OUTPUT_DIR");
        out_ = fs::path(dir != nullptr ? dir : fs::temp_directory_path().string()) /
               testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(out_);
    }
    void TearDown() override { rs2sim_reset(); }

    int Walk(std::vector<std::string> args) {
        args.insert(args.begin(), {"tavo-walk", "--camera", "realsense", "--out", out_.string()});
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        return WalkMain(static_cast<int>(args.size()), argv.data());
    }

    void ExpectFilesWritten() {
        for (const char* name : {"summary.json", "keyframes.csv", "trajectory.csv",
                                 "trajectory.png", "index.html", "sdk-output.txt"})
            EXPECT_TRUE(fs::exists(out_ / name)) << name;
    }

    // The rows of trajectory.csv as numbers, not a number where empty.
    std::vector<std::vector<double>> Trajectory() {
        std::ifstream csv(out_ / "trajectory.csv");
        std::string line;
        std::getline(csv, line);
        EXPECT_EQ(line + "\n", kTrajectoryHeader);
        std::vector<std::vector<double>> rows;
        while (std::getline(csv, line)) {
            std::vector<double> row;
            std::stringstream fields(line);
            for (std::string field; std::getline(fields, field, ',');)
                row.push_back(field.empty() ? NAN : std::stod(field));
            rows.push_back(row);
        }
        return rows;
    }

    fs::path out_;
};

TEST_F(WalkLiveTest, TracksTheStreamedWalkWeavesKeyFramesAndLeavesTruthMeasuresNull) {
    const sdk::test::FakeCameraBus bus(true);
    int code = -1;
    {
        SimulatedRealsense camera(2.0);
        code = Walk({"--seconds", "2", "--key-frames", "1"});
    }
    ASSERT_EQ(code, 0);
    ExpectFilesWritten();
    const std::string summary = Read(out_ / "summary.json");
    const int framesIn = std::stoi(Member(summary, "framesIn"));
    const int framesTracked = std::stoi(Member(summary, "framesTracked"));
    // A sanitizer's build reads only a few frames a second.
    EXPECT_GE(framesIn, 5) << summary;
    EXPECT_GT(framesTracked * 10, framesIn * 9) << summary;
    // Without true head positions these are not measured, and say so.
    for (const char* key :
         {"eyeShareMedian", "eyeShareWorst", "eyeShareCeilingMedian", "predictionErrorMedianMm",
          "predictionErrorP95Mm", "nonPredictedErrorMedianMm", "nonPredictedErrorP95Mm"})
        EXPECT_EQ(Member(summary, key), "null") << key;
    EXPECT_NE(Member(summary, "wallSeconds"), "null");
    // Frames stamped on the host's clock: every stage is measured, the hand-over too.
    EXPECT_TRUE(std::regex_search(
        summary, std::regex(R"("latencyMs": \{"handOver": \{"median": [0-9.]+, "p95": [0-9.]+\}, )"
                            R"("detection": \{"median": [0-9.]+)")))
        << summary;
    EXPECT_NE(Read(out_ / "index.html").find("no true head positions"), std::string::npos);

    // The faces went through the RealSense camera's depth and pinhole model to display space:
    // the viewer stood between 450 and 850 mm from the panel, within a hand's breadth of its
    // middle.
    std::vector<double> z, x;
    for (const std::vector<double>& row : Trajectory()) {
        ASSERT_EQ(row.size(), 9u);
        EXPECT_TRUE(std::isnan(row[1]) && std::isnan(row[2])) << "no true position to write";
        if (!std::isnan(row[4])) {
            x.push_back(row[3]);
            z.push_back(row[4]);
        }
    }
    ASSERT_FALSE(z.empty());
    const Quantiles zq = Of(z), xq = Of(x);
    EXPECT_GT(zq.median, 430.0);
    EXPECT_LT(zq.median, 900.0);
    EXPECT_LT(std::abs(xq.median), 120.0);

    // The key frame: its woven picture at the panel's 3840 x 2160, and the detections.
    const std::string keyFrames = Member(summary, "keyFrames");
    std::ifstream csv(out_ / "keyframes.csv");
    std::string row;
    std::getline(csv, row);
    int rows = 0;
    while (std::getline(csv, row)) {
        ++rows;
        char number[8];
        std::snprintf(number, sizeof number, "%04d", std::stoi(row.substr(0, row.find(','))));
        const std::string woven = Read(out_ / (std::string("woven-") + number + ".png"));
        ASSERT_GE(woven.size(), 24u) << number;
        EXPECT_EQ(woven.substr(16, 8), std::string("\x00\x00\x0f\x00\x00\x00\x08\x70", 8));
        EXPECT_TRUE(fs::exists(out_ / (std::string("detections-") + number + ".png")));
    }
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(keyFrames, "1");
}

TEST_F(WalkLiveTest, ACameraUnpluggedMidRunEndsItWithWhatWasMeasured) {
    const sdk::test::FakeCameraBus bus(true);
    int code = -1;
    testing::internal::CaptureStderr();
    {
        SimulatedRealsense camera(2.0, 0.8);
        // The library's capture thread waits for an unplugged camera's frames up to 15 s before
        // it can stop; the stand-in's waits are cut short so that the run's end does not.
        rs2sim_set_max_wait_ms(100);
        code = Walk({"--seconds", "4", "--key-frames", "1"});
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 1);
    EXPECT_NE(errors.find("the RealSense camera disappeared"), std::string::npos) << errors;
    ExpectFilesWritten();
    const std::string summary = Read(out_ / "summary.json");
    EXPECT_GT(std::stoi(Member(summary, "framesIn")), 0) << summary;
    EXPECT_NE(Read(out_ / "index.html").find("ended early"), std::string::npos);
    // Ended soon after the camera went, not when the time ran out.
    EXPECT_LT(std::stod(Member(summary, "wallSeconds")), 30.0);
}

TEST_F(WalkLiveTest, WithoutACameraItExits2BeforeWritingAnything) {
    struct Case {
        bool listed;
        bool onTheBus;
        const char* says;
    };
    for (const Case& c :
         {Case{false, true, "no RealSense camera"}, Case{true, false, "USB 8086:0b07"}}) {
        SCOPED_TRACE(c.says);
        rs2sim_reset();
        if (c.listed)
            rs2sim_connect_default_device();
        const sdk::test::FakeCameraBus bus(c.onTheBus);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Walk({"--seconds", "2"}), 2);
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_NE(errors.find(c.says), std::string::npos) << errors;
        EXPECT_NE(errors.find("librealsense2"), std::string::npos) << errors;
        EXPECT_FALSE(fs::exists(out_)) << "nothing is started or written";
    }
}

}  // namespace
}  // namespace tavo::apps::walk
