// Runs the tracking pipeline on a synthetic viewer: images are pushed through a shared camera
// sink into the engine, the demo detector plug-in finds the eyes, the tracker filters them, and
// the latest frame is polled as a host would. Prints the tracked face against the true one.
//
//   tavoTrackingDemo [seconds]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "syntheticScene.h"
#include "tavo/common/platform.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/headTracking/common/frameAdapter.h"
#include "tavo/headTracking/engine/engine.h"

namespace {

constexpr double kFps = 90.0;
constexpr double kAcceptableMeanErrorMm = 20.0;
// Every image shows the viewer; only the first frames, before the tracker has a face, may miss.
constexpr double kMinTrackedShare = 0.9;

// The viewer sways left and right and leans in and out, camera space, millimetres.
glm::vec3 ViewerAt(double seconds) {
    return {static_cast<float>(120.0 * std::sin(seconds * 1.3)),
            static_cast<float>(30.0 * std::sin(seconds * 0.7)),
            static_cast<float>(650.0 + 150.0 * std::sin(seconds * 0.5))};
}

int Run(double seconds) {
    auto platform = tavo::Platform::Create(tavo::PlatformInitArgs{});
    tavo::head::FrameAdapter adapter(nullptr, true);
    tavo::SharedCameraSink sink;

    tavo::head::EngineInitArgs args;
    args.platform = platform.get();
    args.frameAdapter = &adapter;
    args.sharedCameraSink = &sink;
    args.configuration.faceDetector.backend = kTavoFaceDetectorBackendCPU;
    tavo::head::Engine engine(args);

    tavo::demo::SyntheticScene scene;
    if (sink.onCameraIntrinsics) {
        sink.onCameraIntrinsics(scene.intrinsics());
    }
    engine.StartTracking();

    const int frames = static_cast<int>(seconds * kFps);
    const double startMs = static_cast<double>(platform->GetTimeNs()) / 1e6;
    double errorSum = 0.0;
    int tracked = 0;
    std::printf("%6s  %-28s  %-28s  %s\n", "frame", "viewer (display mm)", "tracked (display mm)",
                "error mm");
    for (int i = 0; i < frames; ++i) {
        const double t = i / kFps;
        const glm::vec3 viewer = ViewerAt(t);
        const tavo::ImageDesc image = scene.Render(viewer);
        if (sink.onCameraFrame) {
            sink.onCameraFrame(
                image, tavo::Timestamp{tavo::Timestamp::Space::System, startMs + t * 1000.0});
        }
        const tavo::head::BufferedFrame frame = adapter.GetFrame();
        const auto faces = frame.faces();
        // Identity camera pose: display space mirrors x and y of camera space.
        const glm::vec3 expected(-viewer.x, -viewer.y, viewer.z);
        if (faces.empty()) {
            continue;
        }
        const glm::vec3 position = faces[0].position;
        const double error = glm::length(position - expected);
        errorSum += error;
        ++tracked;
        if (i % 45 == 0) {
            std::printf("%6d  (%7.1f, %7.1f, %7.1f)   (%7.1f, %7.1f, %7.1f)   %7.1f\n", i,
                        expected.x, expected.y, expected.z, position.x, position.y, position.z,
                        error);
        }
    }
    engine.StopTracking();

    if (tracked == 0) {
        std::printf("No face was tracked in %d frames.\n", frames);
        return 1;
    }
    const double meanError = errorSum / tracked;
    std::printf("Tracked %d of %d frames, mean error %.1f mm.\n", tracked, frames, meanError);
    if (tracked < kMinTrackedShare * frames) {
        std::printf("Fewer than %.0f%% of the frames were tracked.\n", kMinTrackedShare * 100.0);
        return 1;
    }
    // Well above the filter's lag on this smooth path: more means the pipeline is broken.
    return meanError < kAcceptableMeanErrorMm ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    if (!(seconds > 0.0)) {
        std::fprintf(stderr, "usage: %s [seconds > 0]\n", argv[0]);
        return 2;
    }
    try {
        return Run(seconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Demo failed: %s\n", error.what());
        return 1;
    }
}
