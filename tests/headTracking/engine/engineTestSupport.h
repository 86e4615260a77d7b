// What the engine tests share: the scripted plug-ins beside the test program and a recording
// of what the engine delivers.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "headTracking/engine/scriptedDetector.h"
#include "logCapture.h"
#include "tavo/common/paths.h"
#include "tavo/headTracking/common/types.h"
#include "tavo/headTracking/engine/core/faceTracker.h"

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

}  // namespace tavo::head::test
