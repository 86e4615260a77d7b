// The SDK's bridge to head tracking: builds the engine from the display configuration and
// keeps the primary face of the latest tracking frame for the renderers.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include <glm/glm.hpp>

#include "tavo/headTracking/common/types.h"
#include "tavo/headTracking/engine/core/kalmanFilter.h"

namespace tavo {
class Platform;
class AssetManager;
struct SharedCameraSink;
}  // namespace tavo

namespace tavo::device {
struct Config;
}  // namespace tavo::device

namespace tavo::head {
class BufferedFrame;
class Engine;
class FrameAdapter;
}  // namespace tavo::head

namespace tavo::sdk {

class CTavoSDKFaceTrackingCallback;

// Threads: Start, InitBackend, Stop and SetRunning are serialised by the SDK's face tracking
// lock and come from host threads. The face queries (GetPredictedPrimaryFace,
// GetNonPredictedPrimaryFace, SetPrimaryFace) may come from any thread, render threads
// included; the frame handler runs on the engine's delivery thread. The face lock keeps the
// face fields consistent; the host callback runs under the callback lock only.
class FaceTracking {
  public:
    FaceTracking();
    FaceTracking(const FaceTracking&) = delete;
    FaceTracking& operator=(const FaceTracking&) = delete;
    ~FaceTracking();

    // True when started (or already running); false after logging when the engine cannot be
    // built, leaving the service stopped.
    bool Start(Platform* platform, AssetManager* assetManager, const device::Config& config);
    // Builds and, when running, starts the engine; an engine already there is destroyed first.
    // Without a shared camera sink an attached RealSense camera is needed. Throws on failure.
    void InitBackend(Platform* platform, AssetManager* assetManager, const device::Config& config);
    // Destroys the engine and the frame adapter; forgets the sink and the face.
    void Stop();
    // Pauses or resumes tracking without destroying the engine; pausing forgets the face.
    void SetRunning(bool run);

    // The primary face `delayMs` ahead, plus the frame's age when its time stamp is on the
    // platform clock (millimetres; velocities are per millisecond). False without a face, with
    // `out` untouched.
    bool GetPredictedPrimaryFace(Platform& platform, float delayMs, glm::vec3& out) const;
    // The primary face as delivered; false without a face, with `out` untouched.
    bool GetNonPredictedPrimaryFace(glm::vec3& out) const;
    // Hands a face in from outside; a null pointer clears the face.
    void SetPrimaryFace(const head::MovingPoint* movingPoint, const Timestamp* timestamp);

    // Null removes it. Waits for a running OnFrame to return, so it must not be called from
    // inside OnFrame.
    void SetCallback(CTavoSDKFaceTrackingCallback* callback);
    // Used by the next start instead of the depth camera; forgotten by Stop. Not owned.
    void SetSharedCameraSink(SharedCameraSink* sink);
    void SetFaceDetectorBackend(tavo_face_detector_backend_e backend);
    // Throws tavo::Exception without an engine.
    tavo_face_detector_backend_e GetFaceDetectorBackend() const;
    void SetProfiling(bool on);
    // The latest frame's timings; true when the engine measured them.
    bool GetProfiling(head::FrameProfiling& out) const;
    // A copy of the latest tracking frame (empty before the first); false while stopped.
    bool GetLatestFrame(head::BufferedFrame& out) const;
    int32_t GetCameraFps() const;
    bool SetCameraFps(int32_t fps);
    Slice<const int32_t> GetSupportedCameraFps() const;
    uint32_t GetSupportedBackends() const;
    void SetSupportedBackends(uint32_t backends);

  private:
    void OnFrame(const head::Frame& frame);

    std::unique_ptr<head::FrameAdapter> frameAdapter_;
    std::unique_ptr<head::Engine> engine_;
    tavo_face_detector_backend_e backend_ = kTavoFaceDetectorBackendUnknown;
    mutable std::mutex faceLock_;
    head::MovingPoint primaryFace_{};
    Timestamp faceTimestamp_{};
    bool hasFace_ = false;
    SharedCameraSink* sharedCameraSink_ = nullptr;
    uint32_t supportedBackends_ = 0;
    std::mutex callbackLock_;
    CTavoSDKFaceTrackingCallback* callback_ = nullptr;
    bool profiling_ = false;
    bool running_ = true;
};

}  // namespace tavo::sdk
