// The SDK object behind ITavoSDK, and what the interlacers and the debug menu read from it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tavo/common/assetManager.h"
#include "tavo/common/exception.h"
#include "tavo/common/platform.h"
#include "tavo/common/waitable.h"
#include "tavo/device/config.h"
#include "tavo/headTracking/common/frameAdapter.h"
#include "tavo/sdk/faceTracking.h"
#include "tavo/sdk/tavoSDK.h"

namespace tavo::sdk {

// The steady clock of the no-face clocks, nanoseconds.
inline int64_t SteadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the debug menu shows of face tracking, copied in one go.
struct FaceTrackingStatus {
    bool enabled = false;
    bool running = false;
    // Whether a latest tracking frame exists (face tracking started); `frame` is empty if not.
    bool hasFrame = false;
    head::BufferedFrame frame;
    // False when the engine cannot say (face tracking not started).
    bool hasBackend = false;
    tavo_face_detector_backend_e backend = kTavoFaceDetectorBackendUnknown;
    // Bit mask of tavo_face_detector_backend_e values.
    uint32_t supportedBackends = 0;
    // 0 without a camera.
    int32_t cameraFps = 0;
    std::vector<int32_t> supportedCameraFps;
};

// Threads and locks: as ITavoSDK says. The settings the render threads read each frame are
// relaxed atomics written by host threads; `config_` is written only by Initialize (before any
// interlacer renders) and by SetConfig (with every interlacer paused). The accessors below are
// for the interlacers and the debug menu.
class TavoSDK final : public ITavoSDK {
  public:
    TavoSDK();
    TavoSDK(const TavoSDK&) = delete;
    TavoSDK& operator=(const TavoSDK&) = delete;
    ~TavoSDK() override;

    void DestroyThreadedInterlacer(ThreadedInterlacer* interlacer) override;
    void Destroy() override;
    void EnableSharpening(bool enable) override;
    float GetBaselineScaling() override;
    float GetCenterView() override;
    float GetConvergenceDistance() override;
    int32_t GetPanelResolutionX() override;
    int32_t GetPanelResolutionY() override;
    int32_t GetNumViews() override;
    void GetSharpeningValues(TavoSharpeningValues& values, int32_t width, int32_t height) override;
    int32_t GetViewResolutionY() override;
    int32_t GetViewResolutionX() override;
    bool IsBilinearFilteringEnabled() override;
    bool IsSharpeningEnabled() override;
    void SetBaselineScaling(float scaling) override;
    void SetCenterView(float centerView) override;
    void Shutdown() override;
    void Tick(float value) override;
    void ToggleViewBlending() override;
    void SetConfig(const device::Config& config) override;
    const device::Config& GetConfig() override;
    void StartTracking() override;
    void StopTracking() override;
    void SetBacklight(bool on) override;
    void SetProfiling(bool enable) override;
    void PrepareFaceTracking(bool enable, SharedCameraSink* sink) override;
    void StartFaceTracking(bool enable, int32_t logLevel) override;
    void SetFaceTrackingCallback(CTavoSDKFaceTrackingCallback* callback) override;
    bool EnableFaceTracking(bool enable) override;
    bool IsFaceTrackingEnabled() override;
    void SetFaceTrackingRunning(bool run) override;
    bool IsFaceTrackingRunning() override;
    void SetFaceDetectorBackend(tavo_face_detector_backend_e backend) override;
    tavo_face_detector_backend_e GetFaceDetectorBackend() override;
    bool IsUsingGpuFaceDetector() override;
    bool GetPrimaryFace(glm::vec3& face) override;
    bool GetNonPredictedPrimaryFace(glm::vec3& face) override;
    bool GetFaceTrackingProfiling(head::FrameProfiling& profiling) override;
    void SetPrimaryFace(const head::MovingPoint* face, const Timestamp* timestamp) override;
    void InitializePlatform(const PlatformInitArgs& args) override;
    void Initialize(Delegate* delegate) override;
    bool IsInitialized() override;
    AssetManager* GetAssetManager() override;
    ThreadedInterlacer* CreateNewThreadedInterlacer(const ThreadedInterlacerArgs& args) override;
    MLImage* GetMLImage() override;

    // The settings line on standard output.
    void PrintSettings();
    // Switches the backlight when `on` differs from the state last requested.
    void ForceSetBacklight(bool on);

    // The interlacers' side of the pause by which SetConfig replaces the configuration between
    // frames, on a render thread around the passes of one frame: EnterFrame waits while another
    // thread holds the frames paused; LeaveFrame lets a waiting SetConfig go on.
    void EnterFrame();
    void LeaveFrame();

    // For the debug menu on a render thread. Both run under the face tracking lock, so a host
    // thread that stops face tracking meanwhile cannot destroy what they read or call.
    void ReadFaceTrackingStatus(FaceTrackingStatus& status);
    bool SetCameraFps(int32_t fps);

    // The configuration's faceDelay (ms), the prediction's look-ahead. SetFaceDelay changes only
    // that field, atomically, for the debug menu's slider: it runs inside a frame of a render
    // thread, where SetConfig (which waits for that frame) cannot be replacing the record.
    float faceDelay() const;
    void SetFaceDelay(float ms);

    // Unchecked views for the render threads, which only run after initialisation.
    const device::Config& config() const { return config_; }
    Platform* platform() const { return platform_.get(); }
    FaceTracking& faceTracking() { return faceTracking_; }

    float stereoGain() const { return stereoGain_.load(std::memory_order_relaxed); }
    float stereoOffsetY() const { return stereoOffsetY_.load(std::memory_order_relaxed); }
    bool viewBlending() const { return viewBlending_.load(std::memory_order_relaxed); }
    float centerViewOffset() const { return centerViewOffset_.load(std::memory_order_relaxed); }
    float tickValue() const { return tickValue_.load(std::memory_order_relaxed); }
    bool newAct() const { return newAct_.load(std::memory_order_relaxed); }
    void SetNewAct(bool on) { newAct_.store(on, std::memory_order_relaxed); }
    void SetBilinearFiltering(bool on) { bilinearFiltering_.store(on, std::memory_order_relaxed); }
    bool profiling() const { return profiling_.load(std::memory_order_relaxed); }

    bool noFaceModeEnabled() const { return noFaceModeEnabled_.load(std::memory_order_relaxed); }
    void SetNoFaceModeEnabled(bool on) { noFaceModeEnabled_.store(on, std::memory_order_relaxed); }
    // Seconds.
    double noFaceTimeThreshold() const {
        return noFaceTimeThreshold_.load(std::memory_order_relaxed);
    }
    void SetNoFaceTimeThreshold(double seconds) {
        noFaceTimeThreshold_.store(seconds, std::memory_order_relaxed);
    }
    double noFaceRange() const { return noFaceRange_.load(std::memory_order_relaxed); }
    void SetNoFaceRange(double range) { noFaceRange_.store(range, std::memory_order_relaxed); }
    // Whether the no-face policy itself switched the backlight off.
    bool noFaceBacklightOff() const { return noFaceBacklightOff_.load(); }
    void SetNoFaceBacklightOff(bool off) { noFaceBacklightOff_.store(off); }
    bool backlightOn() const { return backlightOn_.load(); }

  private:
    void RequireInitialized(const char* message, const SourceLocation& location) const;
    // Holds every interlacer out of its passes: frames not begun wait, frames under way are
    // waited for, except those of the calling thread (SetConfig from inside a frame).
    void PauseFrames();
    void ResumeFrames();
    // Under the face tracking lock.
    bool StartFaceTrackingLocked();
    // A tracking switch starts every interlacer's no-face time afresh.
    void RestartNoFaceClocks();

    std::unique_ptr<Platform> platform_;
    std::unique_ptr<AssetManager> assetManager_;
    std::vector<std::unique_ptr<ThreadedInterlacer>> interlacers_;
    std::mutex interlacerListLock_;
    // Frames under way, by render thread, and whether SetConfig holds new ones back. One gate
    // for all interlacers, so an interlacer made or destroyed during a pause needs no care.
    struct FramePause {
        bool paused = false;
        std::vector<std::thread::id> rendering;
    };
    Waitable<FramePause> framePause_;
    std::mutex backlightLock_;
    std::atomic<int32_t> initialized_{0};
    device::Config config_{};
    FaceTracking faceTracking_;
    std::atomic<float> stereoGain_{3.0f};
    std::atomic<float> stereoOffsetY_{-60.0f};
    std::atomic<bool> viewBlending_{true};
    std::atomic<float> baselineScaling_{10.0f};
    std::atomic<float> centerViewOffset_{0.0f};
    std::atomic<bool> noFaceModeEnabled_{true};
    std::atomic<double> noFaceTimeThreshold_{3.0};
    std::atomic<double> noFaceRange_{1.4};
    std::atomic<bool> noFaceBacklightOff_{false};
    std::atomic<float> tickValue_{0.0f};
    Delegate* delegate_ = nullptr;
    std::atomic<bool> sharpening_{true};
    std::atomic<bool> bilinearFiltering_{true};
    std::atomic<bool> newAct_{false};
    std::atomic<bool> faceTrackingEnabled_{true};
    std::mutex faceTrackingLock_;
    // Mirrors the service's running flag, which it applies at every start; guarded by the
    // face tracking lock for writes.
    std::atomic<bool> faceTrackingRunning_{true};
    // The host's camera from PrepareFaceTracking, handed in again when SetConfig restarts face
    // tracking; forgotten with every stop the host asks for. Guarded by the face tracking lock.
    SharedCameraSink* sharedCameraSink_ = nullptr;
    // Serialises whole SetConfig calls; taken before, never inside, the other locks.
    std::mutex setConfigLock_;
    std::unique_ptr<MLImage> mlImage_;
    std::atomic<bool> backlightOn_{false};
    std::atomic<bool> profiling_{false};
};

}  // namespace tavo::sdk
