// Control of the scripted test detector plug-in: what it detects, its limits and its hooks.
#pragma once

#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tavo/headTracking/common/types.h"

// What the detectors of one script saw, counted from whichever thread calls them.
struct ScriptedDetectorStats {
    std::atomic<int> detectCalls{0};
    std::atomic<int> setMaxNumOfFacesCalls{0};
    std::atomic<int> lastMaxNumOfFaces{0};
    std::atomic<int> setCameraIntrinsicsCalls{0};
    std::atomic<int> lastIntrinsicsWidth{0};
    // The first pixel of the last image Detect saw.
    std::atomic<int> lastFirstPixel{-1};
    // Detect throws std::runtime_error("scripted detection failure") while this is above 0,
    // counting it down.
    std::atomic<int> failingDetects{0};
};

// What the scripted plug-in's detectors report. Copied by the set function.
struct ScriptedDetectorScript {
    std::vector<tavo::head::DetectedFace> faces;
    int32_t maxNumOfFacesLimit = 4;
    // kTavoFaceDetectorBackendUnknown reports the backend the library was loaded for.
    tavo_face_detector_backend_e backend = kTavoFaceDetectorBackendUnknown;
    // Called from the plug-in's delete function and when the library is unloaded.
    void (*onDelete)(void* context) = nullptr;
    void (*onUnload)(void* context) = nullptr;
    void* context = nullptr;
    // The create function returns null, as a plug-in that cannot make a detector does.
    bool failCreate = false;
    // Detect returns every scripted face, beyond the maximum it was told: a careless plug-in.
    bool ignoreMaximum = false;
    // Each eye's depth is the frame's depth at the eye's pixel where the frame has one.
    bool depthFromFrame = false;
    // Each detection moves every face by this many pixels (both eyes) from the one before, so
    // detection k of a detector reports the scripted pixels plus k times this step.
    glm::dvec2 pixelStepPerDetect{0.0};
    // Not owned; must outlive the detectors made from this script.
    ScriptedDetectorStats* stats = nullptr;
};

using ScriptedDetectorSetScriptFunction = void(const ScriptedDetectorScript& script);
inline constexpr const char* kScriptedDetectorSetScriptSymbol = "ScriptedDetector_SetScript";

// Loads the plug-in at `path` and sets its script. The handle keeps the library (and so the
// script) loaded until Release; the detectors made meanwhile keep it loaded after that.
class ScriptedDetectorControl {
  public:
    explicit ScriptedDetectorControl(const std::string& path)
        : handle_(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~ScriptedDetectorControl() { Release(); }
    ScriptedDetectorControl(const ScriptedDetectorControl&) = delete;
    ScriptedDetectorControl& operator=(const ScriptedDetectorControl&) = delete;

    bool loaded() const { return handle_ != nullptr; }

    bool SetScript(const ScriptedDetectorScript& script) const {
        if (handle_ == nullptr) {
            return false;
        }
        auto* set = reinterpret_cast<ScriptedDetectorSetScriptFunction*>(
            ::dlsym(handle_, kScriptedDetectorSetScriptSymbol));
        if (set == nullptr) {
            return false;
        }
        set(script);
        return true;
    }

    void Release() {
        if (handle_ != nullptr) {
            ::dlclose(handle_);
            handle_ = nullptr;
        }
    }

  private:
    void* handle_;
};
