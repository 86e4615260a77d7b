// The engine's frame path and the RealSense capture thread's delivery latency.
//
// BM_EngineFramePath: one host image pushed through a shared camera sink, through the scripted
// detector plug-in (3 faces), the face tracker and a polling frame adapter: time and heap
// allocations per frame. BM_RealsenseCaptureLatency: from a frame set queued on the simulated
// device to the listener's call on the capture thread.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <librealsense2/simulation.h>
#include <librealsense2/rs.hpp>

#include "allocationCounter.h"
#include "headTracking/engine/scriptedDetector.h"
#include "headTracking/testCameraFrame.h"
#include "tavo/common/platform.h"
#include "tavo/headTracking/camera/realsenseCamera.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/headTracking/common/frameAdapter.h"
#include "tavo/headTracking/engine/engine.h"

namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path ScriptedPlugin() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() /
           "tavoHeadTrackingBlinkDetectorcpu.so";
}

void BM_EngineFramePath(benchmark::State& state) {
    ScriptedDetectorControl plugin(ScriptedPlugin().string());
    ScriptedDetectorScript script;
    script.maxNumOfFacesLimit = 3;
    for (int i = 0; i < 3; ++i) {
        script.faces.push_back(tavo::head::test::FaceAt({-150.0f + 150.0f * i, 0.0f, 700.0f}));
    }
    if (!plugin.SetScript(script)) {
        state.SkipWithError("the scripted detector plug-in is not beside the benchmark");
        return;
    }

    auto platform = tavo::Platform::Create(tavo::PlatformInitArgs{});
    tavo::head::FrameAdapter adapter(nullptr, true);
    tavo::SharedCameraSink sink;
    tavo::head::EngineInitArgs args;
    args.platform = platform.get();
    args.frameAdapter = &adapter;
    args.sharedCameraSink = &sink;
    args.configuration.faceDetector.backend = kTavoFaceDetectorBackendCPU;
    tavo::head::Engine engine(args);
    engine.StartTracking();

    // The detections lie in the test intrinsics' image; the detector does not read the pixels.
    const tavo::CameraIntrinsics intrinsics = tavo::head::test::TestIntrinsics();
    std::vector<uint8_t> pixels(static_cast<size_t>(intrinsics.width) * intrinsics.height, 0);
    const tavo::ImageDesc image{intrinsics.width, intrinsics.height, 0, pixels.data()};
    sink.onCameraIntrinsics(intrinsics);
    double ms = 1000.0;
    auto push = [&] {
        sink.onCameraFrame(image, tavo::Timestamp{tavo::Timestamp::Space::System, ms});
        ms += 11.0;
    };
    for (int warmUp = 0; warmUp < 200; ++warmUp) {
        push();
    }
    if (adapter.GetFrame().faces().size != 3) {
        state.SkipWithError("the engine does not track the three faces");
        return;
    }

    const long long allocationsBefore = tavo::bench::AllocationCount();
    for (auto _ : state) {
        push();
    }
    const long long allocations = tavo::bench::AllocationCount() - allocationsBefore;
    state.counters["allocs/frame"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    engine.StopTracking();
}
BENCHMARK(BM_EngineFramePath);

// Notes when each frame reaches the listener.
class ArrivalListener final : public tavo::head::Camera::Listener {
  public:
    void OnCameraFrameAvailable(tavo::head::Camera*, const tavo::head::CameraFrame&) override {
        arrivals.fetch_add(1, std::memory_order_release);
    }
    void OnCameraIntrinsicsChange(tavo::head::Camera*, const tavo::CameraIntrinsics&) override {}

    std::atomic<int> arrivals{0};
};

void BM_RealsenseCaptureLatency(benchmark::State& state) {
    rs2sim_reset();
    rs2sim_connect_default_device();
    ArrivalListener listener;
    std::unique_ptr<tavo::head::Camera> camera =
        tavo::head::CreateRealsenseCamera(&listener, tavo::head::RealsenseCameraConfiguration{});
    camera->StartCapture();

    double ms = 1000.0;
    for (auto _ : state) {
        const int before = listener.arrivals.load(std::memory_order_acquire);
        // The simulated device copies both images while queuing (see BM_SimulatedDevicePush);
        // the clock starts when the set is queued, as a camera's set is when its transfer ends.
        rs2sim_push_active_frameset(ms, 100, 700);
        const Clock::time_point start = Clock::now();
        while (listener.arrivals.load(std::memory_order_acquire) == before) {
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        ms += 11.0;
    }
    // Stopping joins the capture thread, which may sit in a long wait: keep frames coming until
    // the camera is gone.
    std::atomic<bool> stopping{true};
    std::thread feeder([&] {
        while (stopping.load()) {
            rs2sim_push_active_frameset(ms, 100, 700);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    camera.reset();
    stopping.store(false);
    feeder.join();
    rs2sim_reset();
}
// What the simulated device itself spends queuing one 848 x 480 infrared and depth set (it copies
// both images), so that the latency above can be read net of it.
void BM_SimulatedDevicePush(benchmark::State& state) {
    rs2sim_reset();
    rs2sim_connect_default_device();
    rs2::pipeline pipeline;
    rs2::config config;
    config.enable_stream(RS2_STREAM_DEPTH, -1, 0, 0, RS2_FORMAT_ANY, 0);
    config.enable_stream(RS2_STREAM_INFRARED, -1, 848, 480, RS2_FORMAT_Y8, 90);
    pipeline.start(config);
    double ms = 1000.0;
    for (auto _ : state) {
        rs2sim_push_active_frameset(ms, 100, 700);
        ms += 11.0;
        state.PauseTiming();
        pipeline.wait_for_frames(1000);
        state.ResumeTiming();
    }
    pipeline.stop();
    rs2sim_reset();
}
BENCHMARK(BM_SimulatedDevicePush)->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_RealsenseCaptureLatency)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
