// What the engine tests share: the scripted plug-ins beside the test program and a recording
// of what the engine delivers.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "headTracking/engine/scriptedDetector.h"
#include "logCapture.h"
#include "tavo/common/paths.h"
#include "tavo/headTracking/common/frameAdapter.h"
#include "tavo/headTracking/common/types.h"
#include "tavo/headTracking/engine/core/faceTracker.h"
#include "tavo/headTracking/engine/engine.h"

namespace tavo::head::test {

using tavo::test::LogCapture;

inline std::filesystem::path PluginBesideTests(const std::string& backendWord) {
    return GetLibraryPath().parent_path() / ("tavoHeadTrackingBlinkDetector" + backendWord + ".so");
}

// The scripted CPU and GPU plug-ins beside the test program, each with its own script and
// counters. The engine loads the same files, so it sees these scripts.
class ScriptedPlugins {
  public:
    ScriptedPlugins()
        : cpu_(PluginBesideTests("cpu").string()), gpu_(PluginBesideTests("gpu").string()) {
        cpuScript.stats = &cpuStats;
        gpuScript.stats = &gpuStats;
    }

    bool loaded() const { return cpu_.loaded() && gpu_.loaded(); }
    // Detectors copy their script when they are made: apply before making the engine.
    void Apply() const {
        cpu_.SetScript(cpuScript);
        gpu_.SetScript(gpuScript);
    }

    ScriptedDetectorScript cpuScript;
    ScriptedDetectorScript gpuScript;
    ScriptedDetectorStats cpuStats;
    ScriptedDetectorStats gpuStats;

  private:
    ScriptedDetectorControl cpu_;
    ScriptedDetectorControl gpu_;
};

// What the frame callback saw on its last call.
struct DeliveredFrame {
    int calls = 0;
    std::vector<DetectedFace> detected;
    std::vector<Face> faces;
    std::vector<RawFace> rawFaces;
    FaceTracker::Configuration configuration;
    Timestamp timestamp;

    void Record(const FaceTracker& tracker, const FaceDetector::Output& output,
                const CameraFrame& frame) {
        ++calls;
        detected = output.faces;
        faces.assign(tracker.faces().begin(), tracker.faces().end());
        rawFaces.assign(tracker.rawFaces().begin(), tracker.rawFaces().end());
        configuration = tracker.configuration();
        timestamp = frame.timestamp();
    }
};

// What a host stress run expects of the engine's camera and frames.
struct HostStress {
    int startStopCycles = 15;
    std::chrono::microseconds trackingPerCycle{3000};
    std::chrono::microseconds stoppedPerCycle{0};
    int32_t cameraFps = 0;
    int64_t maxPolledFaces = 3;
    // Frames delivered so far, counted by the test's own callback or adapter.
    std::function<int()> frames;
};

// Host threads set every setting, switch backends and poll frames while this thread starts and
// stops tracking; then tracking stays on until 20 more frames arrived (true) or 20 s passed
// (false), and the host threads end. The engine's detectors have a face limit of 4.
inline bool RunHostStress(Engine& engine, FrameAdapter& adapter, const HostStress& stress) {
    using namespace std::chrono_literals;
    std::atomic<bool> stopHosts{false};
    std::thread setters([&] {
        for (int i = 0; !stopHosts.load(); ++i) {
            engine.SetCameraPosition(glm::vec3(static_cast<float>(i % 50), 0.0f, 0.0f));
            engine.SetCameraRotation(1, 0, 0, 0, 1, 0, 0, 0, 1);
            engine.SetCameraTransform(glm::vec3(0.0f), glm::vec3(0.0f, 0.0f, i % 5));
            FilterProperties properties;
            properties.bufferLim = 300.0f + static_cast<float>(i % 7);
            engine.SetFilterProperties(properties);
            engine.SetTrackedEyes(i % 3 != 0, i % 3 == 0 || i % 4 != 0);  // never neither
            engine.SetMaxNumOfDetectedFaces(1 + i % 3);
            engine.SetProfiling(i % 2 == 0);
            EXPECT_NE(engine.GetFaceDetectorBackend(), kTavoFaceDetectorBackendUnknown);
            EXPECT_EQ(engine.GetMaxNumOfDetectedFacesLimit(), 4);
            EXPECT_EQ(engine.GetCameraFps(), stress.cameraFps);
            EXPECT_FALSE(engine.SetCameraFps(60));
            std::this_thread::sleep_for(100us);
        }
    });
    std::thread switcher([&] {
        for (int i = 0; !stopHosts.load(); ++i) {
            EXPECT_TRUE(engine.SetFaceDetectorBackend(i % 2 == 0 ? kTavoFaceDetectorBackendGPU
                                                                 : kTavoFaceDetectorBackendCPU));
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread poller([&] {
        while (!stopHosts.load()) {
            EXPECT_LE(adapter.GetFrame().faces().size, stress.maxPolledFaces);
            std::this_thread::yield();
        }
    });

    for (int cycle = 0; cycle < stress.startStopCycles; ++cycle) {
        EXPECT_TRUE(engine.StartTracking());
        std::this_thread::sleep_for(stress.trackingPerCycle);
        EXPECT_TRUE(engine.StopTracking());
        std::this_thread::sleep_for(stress.stoppedPerCycle);
    }
    EXPECT_TRUE(engine.StartTracking());
    const int target = stress.frames() + 20;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (stress.frames() < target && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    stopHosts.store(true);
    setters.join();
    switcher.join();
    poller.join();
    return stress.frames() >= target;
}

}  // namespace tavo::head::test
