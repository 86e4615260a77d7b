// Steady-state cost of one face tracker step with 1, 3 and 8 faces: time and heap allocations.
#include <vector>

#include <benchmark/benchmark.h>

#include "allocationCounter.h"
#include "headTracking/testCameraFrame.h"
#include "tavo/headTracking/engine/core/faceTracker.h"

namespace {

using tavo::head::DetectedFace;
using tavo::head::FaceDetector;
using tavo::head::FaceTracker;
using tavo::head::test::FaceAt;
using tavo::head::test::TestCameraFrame;

class BenchDetector final : public FaceDetector {
  public:
    int32_t GetMaxNumOfFacesLimit() const override { return 8; }
    int32_t GetMaxNumOfFaces() const override { return 8; }
    void SetMaxNumOfFaces(int32_t) override {}
    tavo_face_detector_backend_e GetBackend() const override { return kTavoFaceDetectorBackendCPU; }
    void SetCameraIntrinsics(const tavo::CameraIntrinsics&) override {}
    Output& Detect(const tavo::head::CameraFrame&) override { return output; }

    Output output;
};

void BM_FaceTrackerUpdate(benchmark::State& state) {
    const int faceCount = static_cast<int>(state.range(0));
    BenchDetector detector;
    FaceTracker tracker(detector, FaceTracker::Configuration{});
    TestCameraFrame frame;

    // Faces side by side that jitter by a few millimetres from frame to frame, as still
    // viewers do.
    std::vector<FaceDetector::Output> outputs(4);
    for (size_t variant = 0; variant < outputs.size(); ++variant) {
        for (int i = 0; i < faceCount; ++i) {
            const float x = (static_cast<float>(i) - (faceCount - 1) / 2.0f) * 150.0f;
            const float jitter = static_cast<float>(variant % 2) * 3.0f;
            outputs[variant].faces.push_back(
                FaceAt({x + jitter, jitter, 1000.0f + 50.0f * static_cast<float>(i % 3)}));
        }
    }

    double ms = 0.0;
    size_t step = 0;
    auto update = [&] {
        frame.stamp.ms = ms;
        ms += 11.0;
        tracker.Update(outputs[step++ % outputs.size()], frame, 0.0f);
    };
    for (int warmUp = 0; warmUp < 100; ++warmUp) {
        update();
    }
    if (tracker.faces().size != faceCount) {
        state.SkipWithError("not every face is tracked");
        return;
    }

    const long long before = tavo::bench::AllocationCount();
    for (auto _ : state) {
        update();
        benchmark::DoNotOptimize(tracker.faces().data);
    }
    const long long allocations = tavo::bench::AllocationCount() - before;
    state.counters["allocs_per_frame"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FaceTrackerUpdate)->Arg(1)->Arg(3)->Arg(8);

}  // namespace

BENCHMARK_MAIN();
