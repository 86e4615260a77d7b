// The CPU face detector plug-in on 848 x 480 infrared-like frames.
//
// BM_CpuDetectorTracking: a face found earlier is followed (one model run around it, two eye
// refinements, depths, angles). BM_CpuDetectorAcquisition: nobody tracked, the whole frame is
// searched every frame. Both report heap allocations per frame, by any route (OpenCV's too).
// Real time is the figure that counts on a machine shared with other work; the CPU column is
// the whole process's. BM_BlazeFaceWindow: one run of the model on a window alone, the share
// of the above that is the model's.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>

#include "blazeFace.h"
#include "heapCallCounter.h"
#include "plugins/cpuDetector/cpuDetectorTestSupport.h"

namespace {

using namespace tavo::cpudetector::test;

void RunDetector(benchmark::State& state, const std::vector<PastedFace>& faces,
                 size_t expectedFaces) {
    CpuDetectorPlugin plugin;
    FolderAssetManager assets(BuiltAssets());
    if (!plugin.loaded()) {
        state.SkipWithError("the CPU detector plug-in cannot be loaded");
        return;
    }
    auto detector = plugin.Create(&assets);
    if (!detector) {
        state.SkipWithError("no detector: is the face model installed?");
        return;
    }
    const SyntheticFrame synthetic = InfraredFrame(faces);
    auto frame = FrameOf(synthetic.image);
    detector->SetCameraIntrinsics(frame->intrinsics);
    for (int warmUp = 0; warmUp < 5; ++warmUp) {
        detector->Detect(*frame);
    }
    if (detector->Detect(*frame).faces.size() != expectedFaces) {
        state.SkipWithError("the detector does not see the expected faces");
        return;
    }
    const long long before = tavo::bench::HeapAllocationCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector->Detect(*frame).faces.data());
    }
    state.counters["allocations/frame"] =
        static_cast<double>(tavo::bench::HeapAllocationCount() - before) /
        static_cast<double>(state.iterations());
}

void BM_CpuDetectorTracking(benchmark::State& state) {
    RunDetector(state, {{static_cast<float>(state.range(0)), {424.0f, 240.0f}}}, 1);
}
BENCHMARK(BM_CpuDetectorTracking)
    ->Arg(60)
    ->Arg(120)
    ->Arg(250)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_CpuDetectorAcquisition(benchmark::State& state) {
    RunDetector(state, {}, 0);
}
BENCHMARK(BM_CpuDetectorAcquisition)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_BlazeFaceWindow(benchmark::State& state) {
    std::ifstream file(BuiltAssets() / "models/face_detection_front_128x128_barracuda.onnx",
                       std::ios::binary);
    const std::vector<uint8_t> model{std::istreambuf_iterator<char>(file), {}};
    if (model.empty()) {
        state.SkipWithError("the face model is not installed");
        return;
    }
    cv::setNumThreads(1);  // as the plug-in runs it
    tavo::cpudetector::BlazeFace blazeFace(model.data(), model.size());
    const SyntheticFrame synthetic = InfraredFrame({{120.0f, {424.0f, 240.0f}}});
    std::vector<tavo::cpudetector::FaceCandidate> candidates;
    candidates.reserve(256);
    const cv::Rect window(224, 40, 400, 400);
    const long long before = tavo::bench::HeapAllocationCount();
    for (auto _ : state) {
        candidates.clear();
        blazeFace.Detect(synthetic.image, window, 0.5f, candidates);
        benchmark::DoNotOptimize(candidates.data());
    }
    state.counters["allocations/run"] =
        static_cast<double>(tavo::bench::HeapAllocationCount() - before) /
        static_cast<double>(state.iterations());
}
BENCHMARK(BM_BlazeFaceWindow)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
