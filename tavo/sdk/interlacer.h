// The interlacer of one output surface: its records, enumerations, host hooks and the object.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "tavo/common/export.h"
#include "tavo/opengl/shader.h"
#include "tavo/sdk/gui.h"

struct tavo_sdk_image_desc;

namespace tavo::sdk {

class DebugMenu;
class ITavoSDK;
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
// Threads: one render thread, bound by InitializeOpenGL or InitOnDesiredThread. The operations
// that touch OpenGL or the per-frame state check that they run there and throw tavo::Exception
// otherwise ("... being used on incorrect thread."): InitializeOpenGL's set-up, UpdateBuffers,
// OnWindowSizeChanged, GetInterlaceParameters, SetInterlaceMode, the shader texts and the five
// passes. `mutex_` is held for a whole post-processed frame and for every target rebuild
// (SetInterlaceMode, OnWindowSizeChanged, UpdateBuffers, Shutdown); SetShaderDebugMode,
// ToggleShaderDebugMode, SetInterlaceViewTextureAtlas, SetOutputRenderTarget, SetViewTextureId
// and GetRenderTargetForView take it, so from another thread they wait for the frame to end.
// The plain value setters (fit mode, aspect offset, flip, reconvergence, single view, alpha,
// viewport position) store atomics and may be called from any thread; the frame reads each once.
// SetCustomTextureMatrix and SetSourceViewsSize belong to the render thread. IsOnSameThread,
// GetNumViews, the getters and the no-face clocks may be called from any thread. Frames pass
// the SDK's frame pause, by which the thread that replaces the display configuration holds them
// back between frames. The debug overlay belongs to the render thread (InitializeGui,
// ShutdownGui, ToggleGui, ProcessGuiInput, RenderGui check it); IsGuiVisible may be asked from
// any thread.
class TAVO_API ThreadedInterlacer {
  public:
    static constexpr int kMaxViews = 12;

    ThreadedInterlacer(TavoSDK& sdk, const ThreadedInterlacerArgs& args);
    ThreadedInterlacer(const ThreadedInterlacer&) = delete;
    ThreadedInterlacer& operator=(const ThreadedInterlacer&) = delete;
    ~ThreadedInterlacer();

    // Binds the calling thread and sets OpenGL up in the context current on it; `context` is
    // not used. Never throws: failures are logged ("[SDK] failed to init OpenGL: ...").
    void InitializeOpenGL(void* context, eTavoTaskResponsibility renderTargets,
                          eTavoTaskResponsibility shader, eTavoTaskResponsibility draw);
    // Loads the OpenGL entry points of the context current on the calling thread and binds
    // that thread, for hosts that set OpenGL up themselves.
    void InitOnDesiredThread();
    bool IsOnSameThread(const std::thread::id& id) const;
    // Releases the render targets and the calling thread's OpenGL entry points.
    void Shutdown();

    // Type 0: `count` per-view targets (at most 12); type 1: the one interlaced target. Other
    // types do nothing. Always true.
    bool UpdateBuffers(int count, eBufferType type, int width, int height);
    void OnWindowSizeChanged(int width, int height);
    // 0 when the host owns the render targets or `view` is not 0 ... 11.
    unsigned GetRenderTargetForView(int view);
    // Camera offset of view `view` (0 ... N-1) in the current mode.
    glm::vec3 GetViewOffset(int view);
    // Refreshes the faces from the SDK and fills every field of `parameters`.
    void GetInterlaceParameters(TavoInterlaceParameters& parameters) const;
    // Views in use: 2 in Stereo Sliding, else the panel's views across.
    int GetNumViews() const;

    void SetInterlaceMode(eTavoInterlaceMode mode);
    eTavoInterlaceMode GetInterlaceMode() const { return interlaceMode_.load(); }
    void ToggleInterlaceMode(const ITavoSDK& sdk);
    void SetShaderDebugMode(eTavoShaderDebugMode mode);
    eTavoShaderDebugMode GetShaderDebugMode() const { return shaderDebugMode_.load(); }
    void ToggleShaderDebugMode();
    void SetFitMode(eFitMode mode) { fitMode_.store(mode); }
    eFitMode GetFitMode() const { return fitMode_.load(); }
    void SetAspectRatioOffset(float offset) { aspectRatioOffset_.store(offset); }
    float GetAspectRatioOffset() const { return aspectRatioOffset_.load(); }
    void SetCustomTextureMatrix(const glm::mat4& matrix) { customTextureMatrix_ = matrix; }
    void SetFlipInputUVVertical(bool flip) { flipInputUVVertical_.store(flip); }
    // Size of the host's source image holding all views; 0 uses the view resolution.
    void SetSourceViewsSize(int width, int height, bool horizontal);
    void EnableReconvergence(bool enable) { reconvergenceEnabled_.store(enable); }
    bool IsReconvergenceEnabled() const { return reconvergenceEnabled_.load(); }
    void SetReconvergence(float amount) { reconvergence_.store(amount); }
    float GetReconvergence() const { return reconvergence_.load(); }
    void SetReconvergenceZoom(bool zoomX, bool zoomXY);
    void SetSingleViewMode(bool on) { singleViewMode_.store(on); }
    void SetAlpha(float alpha) { alpha_.store(alpha); }
    void SetViewportPosition(int x, int y);
    void SetInterlaceViewTextureAtlas(unsigned texture);
    void SetOutputRenderTarget(unsigned framebuffer);
    void SetViewTextureId(int texture);
    std::string GetInterlaceShaderText(eTavoShaderType type);
    std::string GetSharpenShaderText(eTavoShaderType type);
    // A 2D texture holding `image`, filtered as the SDK's bilinear switch says. Render thread.
    unsigned CreateGLTexture(const tavo_sdk_image_desc& image);

    // One frame: the interlace pass, the sharpen pass, bookkeeping and the no-face backlight
    // policy. `outputFramebuffer` receives the result.
    void DoPostProcess(int width, int height, bool blend, unsigned outputFramebuffer);
    // Shows the host's side-by-side stereo picture `texture` (debug mode 6).
    void DoPostProcessPicture(int width, int height, unsigned texture);
    // Shows the host's stereo video texture (debug mode 7). An external (OES) texture is bound
    // as such where the context offers external textures; elsewhere it is a 2D texture.
    void DoPostProcessVideo(int width, int height, unsigned texture);
    void ApplyInterlacing(int width, int height, bool blend);
    void ApplySharpening(int width, int height);

    // The debug overlay. InitializeGui makes the debug menu with its Gui (throwing what Gui's
    // constructor throws) unless one exists; it needs this thread's OpenGL context current.
    void InitializeGui(const DebugMenuInitArgs& args);
    void ShutdownGui();
    // Shows or hides the overlay; the new state, false without a menu.
    bool ToggleGui();
    bool IsGuiVisible() const;
    // For the host's window procedure: all false without a menu or while hidden.
    Gui::InputState ProcessGuiInput(WindowHandle window, unsigned message,
                                    unsigned long long wParam, long long lParam);
    // Draws the menu over the output; post-processing calls it, hosts need not.
    void RenderGui(int width, int height);

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
    friend class DebugMenu;
    friend struct ThreadedInterlacerTestAccess;

    // The passes of one frame, called with `mutex_` held and the pause handshake passed.
    struct FramePasses {
        void (*run)(void* context);
        void* context;
    };

    void BindCallingThread();
    // Throws "{signature} being used on incorrect thread." unless called on the bound thread.
    void RequireRenderThread(const char* signature, int line) const;
    // One post-processed frame around `passes`, on the render thread: waits out a requested
    // pause, runs the passes, stamps the render time and applies the no-face backlight policy.
    void RunFrame(FramePasses passes);
    // `work` on the render thread as a frame would run it: under `mutex_` and outside any
    // configuration change, so that a target lookup from another thread never sees the targets
    // half rebuilt and a rebuild never reads a half-replaced configuration.
    void RunBetweenFrames(FramePasses work);
    // The face queries of a frame; updates lastFaceTime_ when the face is in the usable range.
    void RefreshFaces(int64_t nowNs) const;
    void RefreshNonPredictedFace() const;
    // Fills `p` from the current faces, settings and configuration, without querying faces.
    void FillInterlaceParameters(TavoInterlaceParameters& p) const;
    void ApplyNoFaceBacklightPolicy(int64_t nowNs);
    // Whether the sharpen pass runs in the frame being rendered.
    bool SharpenPassRuns() const;
    // The instant the frame under way started, or now outside a frame.
    int64_t FrameTimeNs() const;
    // Throws unless the calling thread's OpenGL entry points are loaded (a pass after Shutdown
    // would otherwise call through null pointers).
    void RequireOpenGL(const char* signature) const;
    // UpdateBuffers' work, with `mutex_` held (or inside a frame) by the caller.
    void ResizeTargets(int count, eBufferType type, int width, int height);
    void RebuildViewTargets();
    // Destroys the debug menu now, or after its drawing when called from inside it.
    void ReleaseGui();
    void SetUpShaders();
    unsigned DebugTexture(int index);
    void BindInterlaceTextures(eTavoShaderDebugMode mode);
    void DrawQuad(bool disableCulling);
    void PrintStateLine() const;

    TavoSDK* sdk_;
    const bool protectedContent_;
    const bool useViewAtlas_;
    InterlacerDelegate* const delegate_;

    opengl::Shader interlaceShader_;
    opengl::Shader sharpenShader_;
    // The sharpen family again, reading an intermediate that holds linear light.
    opengl::Shader sharpenLinearShader_;
    // The last interlace pass wrote linear light into the interlacer's own intermediate; the
    // sharpen pass reads it with sharpenLinearShader_. Render thread.
    bool intermediateLinear_ = false;
    unsigned viewFramebuffers_[kMaxViews] = {};
    unsigned viewTextures_[kMaxViews] = {};
    unsigned viewDepthBuffers_[kMaxViews] = {};
    unsigned interlacedFramebuffer_ = 0;
    unsigned interlacedTexture_ = 0;
    unsigned interlacedDepthBuffer_ = 0;
    unsigned viewTextureId_ = 0;
    unsigned quadVertexArray_ = 0;
    unsigned quadVertexBuffer_ = 0;
    unsigned quadIndexBuffer_ = 0;
    unsigned outputRenderTarget_ = 0;
    std::atomic<unsigned> viewTextureAtlas_{0};
    std::atomic<eTavoShaderDebugMode> shaderDebugMode_{kTavoShaderDebugModeOff};
    eTavoTaskResponsibility renderTargetsResponsibility_ = kTavoTaskResponsibilityInterlacer;
    eTavoTaskResponsibility shaderResponsibility_ = kTavoTaskResponsibilityInterlacer;
    eTavoTaskResponsibility drawResponsibility_ = kTavoTaskResponsibilityInterlacer;
    std::atomic<eTavoInterlaceMode> interlaceMode_{kTavoInterlaceModeStereoSliding};
    int interlacedWidth_ = 0;
    int interlacedHeight_ = 0;
    int viewsWidth_ = 0;
    int viewsHeight_ = 0;
    int viewsCount_ = 0;
    int sourceViewsWidth_ = 0;
    int sourceViewsHeight_ = 0;
    bool horizontalSourceViews_ = true;
    std::atomic<eFitMode> fitMode_{kFitModeFill};
    std::atomic<bool> flipInputUVVertical_{false};
    std::atomic<float> aspectRatioOffset_{0.0f};
    std::atomic<bool> singleViewMode_{false};
    std::atomic<bool> reconvergenceEnabled_{false};
    std::atomic<float> reconvergence_{0.0f};
    std::atomic<bool> reconvergenceZoomX_{false};
    std::atomic<bool> reconvergenceZoomXY_{true};
    std::atomic<float> alpha_{1.0f};
    std::atomic<int> viewportX_{0};
    std::atomic<int> viewportY_{0};
    bool mediumPrecision_ = false;
    glm::mat4 customTextureMatrix_{1.0f};
    unsigned debugTextures_[2] = {};
    // A debug image that could not be read is not tried again every frame.
    bool debugTextureFailed_[2] = {};
    // Last predicted and non-predicted primary face, mm; render thread only. Refreshed by
    // GetInterlaceParameters, which the interface makes const.
    mutable glm::vec3 predictedFace_{0.0f};
    mutable glm::vec3 face_{0.0f};
    const int64_t creationTime_;
    mutable std::atomic<int64_t> lastFaceTime_;
    std::atomic<int64_t> lastRenderTime_;
    // Start of the frame under way, 0 outside frames; render thread.
    std::atomic<int64_t> frameTimeNs_{0};
    std::atomic<std::thread::id> thread_{};
    std::mutex mutex_;
    // The debug menu; made, drawn and destroyed on the render thread. `guiLock_` guards the
    // pointer for IsGuiVisible on other threads.
    std::unique_ptr<DebugMenu> gui_;
    mutable std::mutex guiLock_;
    // While the menu draws, a ShutdownGui from inside it (the host's menu section) waits for
    // the drawing to end.
    bool drawingGui_ = false;
    bool guiShutdownPending_ = false;
};

// Texts of the enumerations, "Unknown" for other values.
TAVO_API const char* ToUiStr(eTavoInterlaceMode mode);
TAVO_API const char* ToUiStr(eTavoShaderDebugMode mode);

}  // namespace tavo::sdk
