// The interlacer of one output surface: its records, enumerations, host hooks and the object.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "tavo/common/export.h"

namespace tavo::sdk {

class TavoSDK;

enum eTavoInterlaceMode : int32_t {
    kTavoInterlaceModeViewPeeling = 0,
    kTavoInterlaceModeViewSliding = 1,
    kTavoInterlaceModeStereoSliding = 2,
};

enum eTavoShaderDebugMode : int32_t {
    kTavoShaderDebugModeOff = 0,
    kTavoShaderDebugModeTextureCoordinates = 1,
    kTavoShaderDebugModeAllViews = 2,
    kTavoShaderDebugModeFirstView = 3,
    kTavoShaderDebugModeCalibrationImage = 4,
    kTavoShaderDebugModeBeerGlass = 5,
    kTavoShaderDebugModeStereoImage = 6,
    kTavoShaderDebugModeStereoVideo = 7,
    kTavoShaderDebugModeThumbnails = 8,
};

enum eFitMode : int32_t {
    kFitModeFill = 0,
    kFitModeFitCenter = 1,
    kFitModeCropFill = 2,
    kFitModeCropFitSquare = 3,
};

// 0: the interlacer performs the task; any other value: the host does, drawing in the delegate.
enum eTavoTaskResponsibility : int32_t {
    kTavoTaskResponsibilityInterlacer = 0,
    kTavoTaskResponsibilityHost = 1,
};

enum eBufferType : int32_t {
    kBufferTypeViews = 0,
    kBufferTypeInterlaced = 1,
};

enum eTavoShaderType : int32_t {
    kTavoShaderTypeVertex = 0,
    kTavoShaderTypeFragment = 1,
    kTavoShaderTypeGeometry = 2,
};

// Host hooks around the interlacer's passes, called on its render thread inside post-processing.
// Not owned by the interlacer; must outlive it.
class TAVO_API InterlacerDelegate {
  public:
    virtual void PreInterlace(int width, int height, bool blend);
    virtual void OnInterlaceRender(int width, int height, bool blend);
    virtual void PostInterlace(int width, int height, bool blend);
    virtual void PreSharpen(int width, int height);
    virtual void OnSharpenRender(int width, int height);
    virtual void PostSharpen(int width, int height);

  protected:
    // Never deleted through this interface: the host owns its implementation.
    ~InterlacerDelegate() = default;
};

// What the SDK's CreateNewThreadedInterlacer is given.
struct ThreadedInterlacerArgs {
    // Render targets are protected textures and the sharpening pass never runs.
    bool protectedContent = false;
    // The views are rendered into one wide atlas target instead of one target each.
    bool useViewAtlas = false;
    InterlacerDelegate* delegate = nullptr;
};

// The sharpening values of the panel for one output size, filled by the SDK. Values beyond
// `sharpeningValueCount` and the fourth component of each are not written.
struct TavoSharpeningValues {
    static constexpr int32_t kMaxValues = 18;

    float gamma = 0.0f;
    float sharpeningCenter = 0.0f;
    int32_t sharpeningValueCount = 0;
    // 1 / width, 1 / height.
    glm::vec4 textureInvSize{0.0f};
    // x offset, y offset (pixels), weight.
    glm::vec4 sharpeningValues[kMaxValues] = {};
};
static_assert(sizeof(TavoSharpeningValues) == 12 + 16 + 18 * 16);

// Everything the interlace pass computes for one frame; every field is 32 bits wide.
struct TavoInterlaceParameters {
    float hardwareViewsX = 0.0f;
    float hardwareViewsY = 0.0f;
    float softwareViews = 1.0f;
    float viewResX = 0.0f;
    float viewResY = 0.0f;
    float viewportX = 0.0f;
    float viewportY = 0.0f;
    float viewportWidth = 0.0f;
    float viewportHeight = 0.0f;
    float n = 0.0f;
    float d_over_n = 0.0f;
    float p_over_du = 0.0f;
    float p_over_dv = 0.0f;
    float colorSlant = 0.0f;
    float colorInversion = 0.0f;
    float faceX = 0.0f;
    float faceY = 0.0f;
    float faceZ = 0.0f;
    float nonPredictedFaceX = 0.0f;
    float nonPredictedFaceY = 0.0f;
    float nonPredictedFaceZ = 0.0f;
    float pixelPitch = 0.0f;
    float du = 0.0f;
    float dv = 0.0f;
    float s = 0.0f;
    float cos_theta = 0.0f;
    float sin_theta = 0.0f;
    float No = 0.0f;
    float peelOffset = 0.0f;
    float displayResX = 0.0f;
    float displayResY = 0.0f;
    // A boolean 0 or 1, 32 bits wide as the shader's constant block expects.
    int32_t blendViews = 1;
    float minView = 0.0f;
    float maxView = 0.0f;
    int32_t interlaceMode = 0;
    int32_t debugMode = 0;
    int32_t perPixelCorrection = 0;
    int32_t viewTextureType = 0;
    float reconvergenceAmount = 0.0f;
    float customTextureScaleX = 1.0f;
    float customTextureScaleY = 1.0f;
    float reconvergenceZoomX = 0.0f;
    float reconvergenceZoomY = 0.0f;
    // Column-major.
    glm::mat4 textureTransform{1.0f};
    glm::mat4 rectTransform{1.0f};
};
static_assert(sizeof(TavoInterlaceParameters) == 75 * 4);

// Renders the host's views into the panel's interlaced pattern for one output surface. Made,
// listed and destroyed by the SDK object, which stays its owner.
//
// Threads: one render thread, bound by InitOnDesiredThread (or, with OpenGL set-up, by
// InitializeOpenGL); post-processing runs there. The SDK reads the no-face clocks from host
// threads and pauses the interlacer between frames from whichever thread replaces the display
// configuration (through the SDK's frame pause); the clocks are atomics for that. `mutex_` is held
// for a whole post-processed frame. IsOnSameThread and the clock getters may be called from any
// thread.
//
// Not built yet: the OpenGL set-up, render targets, shader passes, interlace parameters, view
// offsets, modes and the debug overlay. What exists is the SDK's side of the object: its
// construction arguments, the no-face clocks and test, the thread binding and the frame
// skeleton with its pause handshake.
class TAVO_API ThreadedInterlacer {
  public:
    ThreadedInterlacer(TavoSDK& sdk, const ThreadedInterlacerArgs& args);
    ThreadedInterlacer(const ThreadedInterlacer&) = delete;
    ThreadedInterlacer& operator=(const ThreadedInterlacer&) = delete;
    ~ThreadedInterlacer();

    // Loads the OpenGL entry points of the context current on the calling thread and binds
    // that thread, for hosts that set OpenGL up themselves.
    void InitOnDesiredThread();
    bool IsOnSameThread(const std::thread::id& id) const;
    // Views in use: 2 in Stereo Sliding, else the panel's views across.
    int GetNumViews() const;

    bool protectedContent() const { return protectedContent_; }
    bool useViewAtlas() const { return useViewAtlas_; }
    InterlacerDelegate* delegate() const { return delegate_; }

    // Steady clock, nanoseconds.
    int64_t creationTime() const { return creationTime_; }
    int64_t lastFaceTime() const { return lastFaceTime_.load(); }
    int64_t lastRenderTime() const { return lastRenderTime_.load(); }
    // Restarts the no-face clock, as if a usable face had been seen at `nowNs`.
    void ResetLastFaceTime(int64_t nowNs) { lastFaceTime_.store(nowNs); }
    // No-face mode on, no usable face for the SDK's threshold, older than that threshold, and
    // rendered within the last 1/30 s.
    bool IsInNoFaceState(int64_t nowNs) const;

  private:
    friend class TavoSDK;
    friend struct ThreadedInterlacerTestAccess;

    // The passes of one frame, called with `mutex_` held and the pause handshake passed.
    struct FramePasses {
        void (*run)(void* context);
        void* context;
    };

    void BindCallingThread();
    // One post-processed frame around `passes`, on the render thread: waits out a requested
    // pause, refreshes the faces (and with them the no-face clock), runs the passes, stamps the
    // render time and applies the no-face backlight policy.
    void RunFrame(FramePasses passes);
    // The face queries of a frame; updates lastFaceTime_ when the face is in the usable range.
    void RefreshFaces(int64_t nowNs);
    void ApplyNoFaceBacklightPolicy(int64_t nowNs);

    TavoSDK* sdk_;
    const bool protectedContent_;
    const bool useViewAtlas_;
    InterlacerDelegate* const delegate_;
    eTavoInterlaceMode interlaceMode_ = kTavoInterlaceModeStereoSliding;
    // Last predicted and non-predicted primary face, mm; render thread only.
    glm::vec3 predictedFace_{0.0f};
    glm::vec3 face_{0.0f};
    const int64_t creationTime_;
    std::atomic<int64_t> lastFaceTime_;
    std::atomic<int64_t> lastRenderTime_;
    std::atomic<std::thread::id> thread_{};
    std::mutex mutex_;
};

}  // namespace tavo::sdk
