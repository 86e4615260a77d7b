// The head tracking engine: camera frames in, tracked faces out.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <glm/glm.hpp>

#include "tavo/common/export.h"
#include "tavo/common/logRateLimiter.h"
#include "tavo/common/waitable.h"
#include "tavo/headTracking/common/types.h"
#include "tavo/headTracking/engine/core/engineConfiguration.h"
#include "tavo/headTracking/engine/core/faceTracker.h"

namespace tavo {
struct SourceLocation;
class Platform;
class AssetManager;
struct SharedCameraSink;
}  // namespace tavo

namespace tavo::head {

class FrameAdapter;

// A face the host injects, in display space (millimetres, the space of a Face position).
struct VirtualFace {
    glm::vec3 position{0.0f};
    float interocularDistance = 0.0f;
};

// Built on the frame thread's stack for one hook call.
struct VirtualFaceHookContext {
    Timestamp timestamp;
    int32_t numDetectedFaces = 0;
    int32_t maxNumOfFaces = 0;
    // Engine-owned, with room for maxNumOfFaces entries.
    VirtualFace* faces = nullptr;
    // Out: entries written.
    int32_t numFaces = 0;
    // Out: drop every detector face of this frame.
    bool replaceDetectedFaces = false;
};

struct EngineInitArgs {
    using FrameCallback = std::function<void(
        const FaceTracker& tracker, const FaceDetector::Output& output, const CameraFrame& frame)>;
    using VirtualFaceHook = std::function<bool(VirtualFaceHookContext* context)>;

    EngineConfiguration configuration;
    // Required; must outlive the engine.
    Platform* platform = nullptr;
    // Optional; handed to detector plug-ins. Without one the engine makes a temporary one for
    // each detector creation.
    AssetManager* assetManager = nullptr;
    // At least one of frameCallback and frameAdapter must be set. Both run on the camera's
    // delivery thread.
    FrameCallback frameCallback;
    FrameAdapter* frameAdapter = nullptr;
    // When set, frames come from the host through this sink instead of the RealSense camera.
    SharedCameraSink* sharedCameraSink = nullptr;
    VirtualFaceHook virtualFaceHook;
};

// Owns the camera, the detector and the tracker, and is the camera's listener.
// Threads: construction, destruction, StartTracking, StopTracking, setters and getters belong to
// host threads (start and stop from one thread, never concurrently with each other); setters
// reach the frame thread through atomic dirty flags under the configuration lock, applied at the
// start of the next frame. The listener operations run on the camera's delivery thread. The
// frame callback and frame adapter run inside frame processing and must not start, stop or
// destroy the engine: start and stop refuse such a call with an exception. The setters and a
// backend switch may be called from there; such a switch takes effect from the next frame.
// Locks: the configuration lock guards the configuration between setters and the frame thread
// (which takes it only while a change is pending); the detector-switch lock guards the detector
// pointer, the pending detector and the stored intrinsics; a state lock serialises start, stop
// and backend switches of host threads; a camera lock guards the camera pointer for the fps calls.
// With a shared camera the host may go on pushing while tracking starts and stops; StopTracking
// waits for a frame in progress. Destruction, and StopTracking of a lazily initialised engine
// (which destroys its shared camera), must not run while a sink member is being called.
class TAVO_API Engine final : public Camera::Listener {
  public:
    explicit Engine(const EngineInitArgs& args);
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine();

    // Both throw tavo::Exception when called from inside one of this engine's listener calls
    // (the frame callback, the frame adapter, the hook), which they would wait for.
    bool StartTracking(const TrackingSessionInitArgs& args);
    bool StartTracking();
    bool StopTracking();

    void SetCameraPosition(const glm::vec3& position);
    void SetCameraRotation(float m00, float m01, float m02, float m10, float m11, float m12,
                           float m20, float m21, float m22);
    // The rotation vector is in degrees (Rodrigues notation).
    void SetCameraTransform(const glm::vec3& position, const glm::vec3& rotation);
    void SetFilterProperties(const FaceTracker::FilterProperties& properties);
    void SetTrackedEyes(bool left, bool right);
    // Throws tavo::Exception unless 1 <= count <= GetMaxNumOfDetectedFacesLimit().
    void SetMaxNumOfDetectedFaces(int32_t count);
    int32_t GetMaxNumOfDetectedFacesLimit() const;
    bool SetFaceDetectorBackend(tavo_face_detector_backend_e backend);
    tavo_face_detector_backend_e GetFaceDetectorBackend() const;
    void SetProfiling(bool enabled);
    // Without a camera (lazy mode before StartTracking, or after StopTracking): false, 0 and an
    // empty slice.
    bool SetCameraFps(int32_t fps);
    int32_t GetCameraFps() const;
    Slice<const int32_t> GetSupportedCameraFps() const;

    void OnCameraFrameAvailable(Camera* camera, const CameraFrame& frame) override;
    void OnCameraIntrinsicsChange(Camera* camera, const CameraIntrinsics& intrinsics) override;

  private:
    class TransientFrame;
    class FrameScope;

    void ProcessFrame(const CameraFrame& frame);
    void ApplyPendingChanges();
    void TakeOverPendingDetector();
    void AddVirtualFaces(const CameraFrame& frame, FaceDetector::Output& output);
    // Creates a detector for `configuration` with the engine's (or a temporary) asset manager.
    std::shared_ptr<FaceDetector> CreateDetector(const FaceDetectorConfiguration& configuration);
    // Creates a detector for the configured backend and installs it; false when none was made.
    // Not while tracking.
    bool CreateConfiguredDetector();
    void CreateCamera();
    // The installed detector, safe against a take-over on the frame thread.
    std::shared_ptr<FaceDetector> CurrentDetector() const;
    // Throws when the calling thread is inside one of this engine's listener calls, where
    // starting or stopping would wait for (or join) that very call.
    void RefuseFromListenerCall(const char* operation, const SourceLocation& location) const;
    // Waits until no listener call that saw the tracking flag set is still running.
    void WaitForListenerCalls() const;

    Platform* platform_;
    AssetManager* assetManager_;
    // Guarded by configurationLock_.
    EngineConfiguration configuration_;
    EngineInitArgs::FrameCallback frameCallback_;
    FrameAdapter* frameAdapter_;
    EngineInitArgs::VirtualFaceHook virtualFaceHook_;
    const bool lazyDetector_;

    // Frame thread only.
    std::vector<VirtualFace> virtualFaces_;
    int32_t frameMaxNumOfFaces_ = 0;
    bool inImagelessRun_ = false;
    // Per-frame failures and drops, which a bad camera or plug-in repeats at frame rate.
    LogRateLimiter frameLog_;

    // Guarded by detectorSwitchLock_.
    CameraIntrinsics cameraIntrinsics_{};
    std::atomic<bool> profiling_{false};
    // Set between a successful StartTracking and StopTracking. The listener calls enter
    // processing only while it is set, and count themselves in listenerCalls_ so that
    // StopTracking can wait for them before it releases what they use.
    std::atomic<bool> tracking_{false};
    mutable Waitable<int32_t> listenerCalls_{0};
    // Serialises start, stop and backend switches of the host threads.
    std::mutex stateLock_;
    std::mutex configurationLock_;
    // Bit 0: tracker configuration changed; bit 1: face maximum changed.
    std::atomic<uint32_t> dirtyFlags_;
    // Replaced by the host only while not tracking, or by the frame thread on a take-over;
    // both write it under detectorSwitchLock_, the frame thread reads it without.
    std::shared_ptr<FaceDetector> detector_;
    // Present only while tracking.
    std::unique_ptr<FaceTracker> tracker_;
    mutable std::mutex detectorSwitchLock_;
    std::shared_ptr<FaceDetector> pendingDetector_;
    // Lets the frame thread see a pending detector without taking the lock.
    std::atomic<bool> detectorPending_{false};
    SharedCameraSink* sharedCameraSink_;
    std::atomic<bool> cameraCreated_{false};
    // Guards the camera pointer against the host's getters while start and stop replace it.
    mutable std::mutex cameraLock_;
    std::unique_ptr<Camera> camera_;
};

// Whether a RealSense camera is attached.
TAVO_API bool IsCameraConnected();

}  // namespace tavo::head
