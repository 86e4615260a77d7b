// The threaded interlacer: OpenGL set-up, render targets, interlace parameters, view offsets,
// modes, the interlace and sharpen passes, post-processing, the pause handshake and the no-face
// backlight policy.
#include "tavo/sdk/interlacer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "tavo/common/assetManager.h"
#include "tavo/common/exception.h"
#include "tavo/common/logRateLimiter.h"
#include "tavo/common/tga.h"
#include "tavo/opengl/gl.h"
#include "tavo/opengl/glHelpers.h"
#include "tavo/opengl/glLoader.h"
#include "tavo/sdk/internal/debugMenu.h"
#include "tavo/sdk/sdkimpl.h"

// The signature in the message is the operation's own, as the compiler writes it.
#define TAVO_REQUIRE_RENDER_THREAD() RequireRenderThread(__PRETTY_FUNCTION__, __LINE__)

namespace tavo::sdk {

namespace {

namespace gl = tavo::gl;

constexpr int64_t kNsPerSecond = 1'000'000'000;
// An interlacer counts as being rendered while frames come at least this often.
constexpr int64_t kRenderingWindowNs = kNsPerSecond / 30;
// Interocular distance behind the usable-range test, mm.
constexpr float kEyeSeparationMm = 63.0f;
// From OES_EGL_image_external; the desktop headers do not carry it.
constexpr GLenum kTextureExternalOes = 0x8D65;
// A lost context can report errors without end; a check never loops longer than this.
constexpr int kMaxErrorsPerCheck = 32;
// Per-frame checks log at most this many lines per second, so a persistent error does not
// flood the log at the frame rate.
constexpr int kFrameErrorLinesPerSecond = 10;

constexpr const char* kDebugImageNames[2] = {"DebugViewsImage.tga", "DebugStereoImage.tga"};

// Interlace variants, in creation order; the index is the variant number.
constexpr const char* kInterlaceVariantDefines[] = {
    "#define SHOW_CALIBRATION_IMAGE\n",
    "#define ATLAS_VIEWS\n",
    "#define SHOW_THUMBNAILS\n",
    "#define STEREO_INDIVIDUAL_VIEWS\n",
    "#define ATLAS_VIEWS\n",
    "#define INDIVIDUAL_VIEWS\n",
    "#define ATLAS_VIEWS\n",
    "#define SHOW_ALL_VIEWS\n",
    "#define SHOW_FIRST_VIEW\n",
    "#define SHOW_TEXTURE_COORDINATES\n",
};
constexpr int kInterlaceVariantCount =
    static_cast<int>(sizeof(kInterlaceVariantDefines) / sizeof(kInterlaceVariantDefines[0]));
// The stereo image variant, which the stereo video mode also renders with (its own number, 10,
// lies past the list).
constexpr int kStereoImageVariant = 1;

constexpr const char* kSharpenVariantDefines[] = {"#define ACT_OPTIMIZED 0",
                                                  "#define ACT_OPTIMIZED 1"};

const opengl::Shader::PermutationDefinition kInterlacePermutations[] = {
    {3, "#define PIXELCORRECTION %d\n"},  {2, "#define ENABLE_RECONVERGENCE %d\n"},
    {2, "#define UV_TOP_LEFT %d\n"},      {2, "#define HORIZONTAL_SOURCE_VIEWS %d\n"},
    {2, "#define SINGLE_VIEW_MODE %d\n"}, {2, "#define USE_HLSL %d\n"},
    {2, "#define MEDIUM_P %d\n"},
};
const opengl::Shader::PermutationDefinition kSharpenPermutations[] = {
    {2, "#define UV_TOP_LEFT %d\n"},
    {2, "#define USE_HLSL %d\n"},
};

int64_t ThresholdNs(double seconds) {
    return static_cast<int64_t>(seconds * static_cast<double>(kNsPerSecond));
}

bool GlReady() {
    const OVR::GLEContext* context = OVR::GLEContext::GetCurrentContext();
    return context != nullptr && context->IsInitialized();
}

// Logs every pending OpenGL error under `label`.
void CheckGlErrors(const char* label) {
    for (int i = 0; i < kMaxErrorsPerCheck; ++i) {
        const GLenum error = gl::GetError();
        if (error == GL_NO_ERROR) {
            return;
        }
        spdlog::error("[SDK] OpenGL Error {}: {}", label, error);
    }
}

// The same for the checks of every frame, within the per-second budget; errors beyond it are
// still drained so that the next check reports only its own.
void CheckFrameGlErrors(const char* label) {
    static std::atomic<int64_t> windowStart{0};
    static std::atomic<int> linesInWindow{0};
    for (int i = 0; i < kMaxErrorsPerCheck; ++i) {
        const GLenum error = gl::GetError();
        if (error == GL_NO_ERROR) {
            return;
        }
        const int64_t now = SteadyNowNs();
        int64_t start = windowStart.load();
        if (now - start >= kNsPerSecond && windowStart.compare_exchange_strong(start, now)) {
            linesInWindow.store(0);
        }
        if (linesInWindow.fetch_add(1) < kFrameErrorLinesPerSecond) {
            spdlog::error("[SDK] OpenGL Error {}: {}", label, error);
        }
    }
}

// Saves the host's bindings on construction and puts them back on Restore or, at the latest,
// when the scope ends, so that no early exit leaves them changed.
class ScopedGlState {
  public:
    ScopedGlState(int attributeCount, int textureUnitCount) {
        opengl::SaveOpenGLState(state_, attributeCount, textureUnitCount);
    }
    ScopedGlState(const ScopedGlState&) = delete;
    ScopedGlState& operator=(const ScopedGlState&) = delete;
    ~ScopedGlState() { Restore(); }

    void Restore() {
        if (!restored_) {
            restored_ = true;
            opengl::RestoreOpenGLState(state_);
        }
    }

  private:
    opengl::SavedOpenGLState state_{};
    bool restored_ = false;
};

// Capability flags a pass changes and gives back as it found them.
class ScopedCapability {
  public:
    explicit ScopedCapability(GLenum capability)
        : capability_(capability), wasEnabled_(gl::IsEnabled(capability) == GL_TRUE) {}
    ScopedCapability(const ScopedCapability&) = delete;
    ScopedCapability& operator=(const ScopedCapability&) = delete;
    ~ScopedCapability() {
        if (wasEnabled_) {
            gl::Enable(capability_);
        } else {
            gl::Disable(capability_);
        }
    }

  private:
    GLenum capability_;
    bool wasEnabled_;
};

const char* ModeLabel(eTavoInterlaceMode mode) {
    switch (mode) {
        case kTavoInterlaceModeViewPeeling:
            return "[View Peeling]";
        case kTavoInterlaceModeViewSliding:
            return "[View Sliding]";
        case kTavoInterlaceModeStereoSliding:
            return "[Stereo Sliding]";
    }
    return "[Unknown Interlace Mode]";
}

const char* DebugLabel(eTavoShaderDebugMode mode) {
    constexpr const char* kLabels[] = {
        "[Debug Off]",         "[Show Texture Coordinates]", "[Show All Views]",
        "[Show First View]",   "[Show Calibration Image]",   "[Show Beer Glass]",
        "[Show Stereo Image]", "[Show Stereo Video]",        "[Show Thumbnails]",
    };
    const int index = static_cast<int>(mode);
    return index >= 0 && index < 9 ? kLabels[index] : "[Unknown Debug Mode]";
}

void PrintInterlaceParameters(const TavoInterlaceParameters& p) {
    std::string text;
    auto line = [&text](auto&&... parts) {
        (fmt::format_to(std::back_inserter(text), "{}", parts), ...);
        text += '\n';
    };
    line("Interlace Values:");
    line("    Number of HW Views  : ", p.hardwareViewsX, " x ", p.hardwareViewsY);
    line("    Number of SW Views  : ", p.softwareViews, " x ");
    line("    View Resolution  : ", p.viewResX, " x ", p.viewResY);
    line("    n                : ", p.n);
    line("    d/n              : ", p.d_over_n);
    line("    Face Position    : [", p.faceX, ", ", p.faceY, ", ", p.faceZ, "]");
    line("    Pixel Pitch      : ", p.pixelPitch);
    line("    du               : ", p.du);
    line("    dv               : ", p.dv);
    line("    s                : ", p.s);
    line("    Cos(Theta)       : ", p.cos_theta);
    line("    Sin(Theta)       : ", p.sin_theta);
    line("    No               : ", p.No);
    line("    Peel Offset      : ", p.peelOffset);
    line("    Panel Resolution : ", p.displayResX, " x ", p.displayResY);
    line("    Blend Views      : ", p.blendViews != 0 ? "Yes" : "No");
    line("    Minimim View     : ", p.minView);
    line("    Maximum View     : ", p.maxView);
    line("    Interlace Mode   : ", p.interlaceMode);
    line("    Debug Mode       : ", p.debugMode);
    std::fputs(text.c_str(), stdout);
}

void PrintSharpeningValues(const TavoSharpeningValues& values) {
    std::string text = fmt::format(
        "Sharpening Values:\n    Center          : {}\n"
        "    Gamma           : {}\n    OffsetXY|Weight : ",
        values.sharpeningCenter, values.gamma);
    const int count = std::clamp(values.sharpeningValueCount, 0, TavoSharpeningValues::kMaxValues);
    for (int i = 0; i < count; ++i) {
        const glm::vec4& v = values.sharpeningValues[i];
        if (i > 0) {
            text.append(22, ' ');
        }
        text += fmt::format("[{}, {}, {}]\n", v.x, v.y, v.z);
    }
    if (count == 0) {
        text += '\n';
    }
    std::fputs(text.c_str(), stdout);
}

}  // namespace

const char* ToUiStr(eTavoInterlaceMode mode) {
    switch (mode) {
        case kTavoInterlaceModeViewPeeling:
            return "View Peeling";
        case kTavoInterlaceModeViewSliding:
            return "View Sliding";
        case kTavoInterlaceModeStereoSliding:
            return "Stereo Sliding";
    }
    return "Unknown";
}

const char* ToUiStr(eTavoShaderDebugMode mode) {
    constexpr const char* kTexts[] = {"None",         "Texture Coordinates", "All Views",
                                      "First View",   "Calibration Image",   "Beer Glass",
                                      "Stereo Image", "Stereo Video",        "Thumbnails"};
    const int index = static_cast<int>(mode);
    return index >= 0 && index < 9 ? kTexts[index] : "Unknown";
}

void InterlacerDelegate::PreInterlace(int, int, bool) {}
void InterlacerDelegate::OnInterlaceRender(int, int, bool) {}
void InterlacerDelegate::PostInterlace(int, int, bool) {}
void InterlacerDelegate::PreSharpen(int, int) {}
void InterlacerDelegate::OnSharpenRender(int, int) {}
void InterlacerDelegate::PostSharpen(int, int) {}

ThreadedInterlacer::ThreadedInterlacer(TavoSDK& sdk, const ThreadedInterlacerArgs& args)
    : sdk_(&sdk),
      protectedContent_(args.protectedContent),
      useViewAtlas_(args.useViewAtlas),
      delegate_(args.delegate),
      creationTime_(SteadyNowNs()),
      lastFaceTime_(creationTime_),
      lastRenderTime_(creationTime_) {}

ThreadedInterlacer::~ThreadedInterlacer() = default;

void ThreadedInterlacer::RequireRenderThread(const char* signature, int line) const {
    if (thread_.load() != std::this_thread::get_id()) {
        throw Exception(fmt::format("{} being used on incorrect thread.", signature),
                        SourceLocation{__FILE__, line, signature});
    }
}

// ---------------------------------------------------------------------------------------------
// Set-up and lifecycle

void ThreadedInterlacer::InitializeOpenGL(void* /*context*/, eTavoTaskResponsibility renderTargets,
                                          eTavoTaskResponsibility shader,
                                          eTavoTaskResponsibility draw) {
    std::lock_guard lock(mutex_);
    try {
        if (!sdk_->IsInitialized()) {
            throw Exception("[SDK] is not initialized");
        }
        OVR::GLEContext* context = OVR::GLEContext::GetCurrentContext();
        if (context == nullptr) {
            throw Exception("no OpenGL function table for this thread");
        }
        context->Init();
        BindCallingThread();
        renderTargetsResponsibility_ = renderTargets;
        shaderResponsibility_ = shader;
        drawResponsibility_ = draw;

        ScopedGlState saved(1, 16);
        CheckGlErrors("[InitializeOpenGL] save state");

        SetUpShaders();
        CheckGlErrors("[InitializeOpenGL] Setup Shader Variants");

        if (renderTargetsResponsibility_ == kTavoTaskResponsibilityInterlacer) {
            RebuildViewTargets();
            CheckGlErrors("[InitializeOpenGL] views buffers setup");
            if (interlacedWidth_ == 0 && interlacedHeight_ == 0) {
                const glm::ivec2 panel = sdk_->config().panelResolution;
                ResizeTargets(GetNumViews(), kBufferTypeInterlaced, panel.x, panel.y);
            }
            CheckGlErrors("[InitializeOpenGL] interlace buffers setup");
        }

        if (quadVertexArray_ == 0) {
            opengl::CreateRectangularTexCoordVertexArray(0.0f, 0.0f, 1.0f, 1.0f, quadVertexArray_,
                                                         quadVertexBuffer_, quadIndexBuffer_);
        }
        CheckGlErrors("[InitializeOpenGL] fullscreen quad geometry");

        TavoInterlaceParameters parameters;
        GetInterlaceParameters(parameters);
        PrintInterlaceParameters(parameters);
        TavoSharpeningValues sharpening;
        const glm::ivec2 panel = sdk_->config().panelResolution;
        sdk_->GetSharpeningValues(sharpening, panel.x, panel.y);
        PrintSharpeningValues(sharpening);
        const glm::vec3 atConvergence(0.0f, 0.0f, sdk_->config().convergenceDistance);
        face_ = atConvergence;
        predictedFace_ = atConvergence;

        saved.Restore();
        CheckGlErrors("[InitializeOpenGL] restore state");
    } catch (const std::exception& e) {
        spdlog::error("[SDK] failed to init OpenGL: {}", e.what());
    }
}

void ThreadedInterlacer::SetUpShaders() {
    AssetManager* assets = sdk_->GetAssetManager();
    if (assets == nullptr) {
        throw Exception("no asset manager: InitializePlatform has not run");
    }
    const std::string interlaceVertex = assets->ReadText("shaders/interlace.vshader", nullptr);
    const std::string interlaceFragment = assets->ReadText("shaders/interlace.pshader", nullptr);
    const std::string sharpenVertex = assets->ReadText("shaders/sharpen.vshader", nullptr);
    const std::string sharpenFragment = assets->ReadText("shaders/sharpen.pshader", nullptr);

    // A second set-up starts the families afresh rather than appending a second variant list.
    interlaceShader_ = opengl::Shader{};
    sharpenShader_ = opengl::Shader{};
    sharpenLinearShader_ = opengl::Shader{};
    for (opengl::Shader* shader : {&interlaceShader_, &sharpenShader_, &sharpenLinearShader_}) {
        shader->vertexPrefix = "#version 330 core";
        shader->fragmentPrefix = "#version 330 core";
    }
    // The same sharpen program over the interlacer's own intermediate, which holds linear light.
    sharpenLinearShader_.fragmentPrefix += "\n#define LINEAR_INPUT 1";
    for (int i = 0; i < kInterlaceVariantCount; ++i) {
        interlaceShader_.CreateVariant(i, kInterlaceVariantDefines[i], false);
    }
    for (opengl::Shader* shader : {&sharpenShader_, &sharpenLinearShader_}) {
        for (int i = 0; i < 2; ++i) {
            shader->CreateVariant(i, kSharpenVariantDefines[i], false);
        }
        shader->SetPermutationTableForVariants(kSharpenPermutations,
                                               static_cast<int>(std::size(kSharpenPermutations)));
        shader->CacheShaderText(sharpenVertex, sharpenFragment);
    }
    interlaceShader_.SetPermutationTableForVariants(
        kInterlacePermutations, static_cast<int>(std::size(kInterlacePermutations)));
    interlaceShader_.CacheShaderText(interlaceVertex, interlaceFragment);
}

void ThreadedInterlacer::InitOnDesiredThread() {
    OVR::GLEContext* context = OVR::GLEContext::GetCurrentContext();
    if (context == nullptr) {
        throw Exception("no OpenGL function table for this thread",
                        TAVO_LOCATION("tavo::sdk::ThreadedInterlacer::InitOnDesiredThread"));
    }
    context->Init();
    BindCallingThread();
    // As after InitializeOpenGL: until a face is reported the views converge at the panel's
    // design distance, never at z = 0, where the lens model divides by zero.
    if (face_.z == 0.0f && predictedFace_.z == 0.0f && sdk_->IsInitialized()) {
        const glm::vec3 atConvergence(0.0f, 0.0f, sdk_->config().convergenceDistance);
        face_ = atConvergence;
        predictedFace_ = atConvergence;
    }
}

bool ThreadedInterlacer::IsOnSameThread(const std::thread::id& id) const {
    return thread_.load() == id;
}

void ThreadedInterlacer::Shutdown() {
    // The targets live in the render thread's context; elsewhere the names mean nothing.
    if (thread_.load() == std::this_thread::get_id() && GlReady() &&
        renderTargetsResponsibility_ == kTavoTaskResponsibilityInterlacer) {
        // Under the frame's lock, as every rebuild: a lookup from another thread must never
        // read the names while they are deleted.
        struct Release {
            ThreadedInterlacer& self;
            void Run() {
                ScopedGlState saved(1, 16);
                self.ResizeTargets(self.viewsCount_, kBufferTypeViews, 0, 0);
                self.ResizeTargets(self.viewsCount_, kBufferTypeInterlaced, 0, 0);
            }
        } release{*this};
        RunBetweenFrames(
            FramePasses{[](void* context) { static_cast<Release*>(context)->Run(); }, &release});
    }
    {
        std::lock_guard lock(mutex_);
        outputRenderTarget_ = 0;
        viewTextureAtlas_.store(0);
    }
    // The overlay's GL objects go while this thread's context is still current.
    ReleaseGui();
    if (OVR::GLEContext* context = OVR::GLEContext::GetCurrentContext()) {
        context->Shutdown();
    }
}

void ThreadedInterlacer::BindCallingThread() {
    thread_.store(std::this_thread::get_id());
}

int ThreadedInterlacer::GetNumViews() const {
    return interlaceMode_.load() == kTavoInterlaceModeStereoSliding ? 2 : sdk_->config().numViews.x;
}

// ---------------------------------------------------------------------------------------------
// Render targets

bool ThreadedInterlacer::UpdateBuffers(int count, eBufferType type, int width, int height) {
    TAVO_REQUIRE_RENDER_THREAD();
    struct Resize {
        ThreadedInterlacer& self;
        int count;
        eBufferType type;
        int width;
        int height;
        void Run() { self.ResizeTargets(count, type, width, height); }
    } resize{*this, count, type, width, height};
    RunBetweenFrames(
        FramePasses{[](void* context) { static_cast<Resize*>(context)->Run(); }, &resize});
    return true;
}

void ThreadedInterlacer::ResizeTargets(int count, eBufferType type, int width, int height) {
    if (type == kBufferTypeViews) {
        // The name arrays hold 12 targets; more would write past them.
        opengl::UpdateBuffers(width, height, std::min(count, kMaxViews), viewsWidth_, viewsHeight_,
                              viewsCount_, viewTextures_, viewDepthBuffers_, viewFramebuffers_,
                              protectedContent_);
    } else if (type == kBufferTypeInterlaced) {
        int currentCount = interlacedWidth_ > 0 ? 1 : 0;
        opengl::UpdateBuffers(width, height, 1, interlacedWidth_, interlacedHeight_, currentCount,
                              &interlacedTexture_, &interlacedDepthBuffer_, &interlacedFramebuffer_,
                              protectedContent_);
        if (interlacedTexture_ != 0) {
            // The sharpen pass reads this image only at texel centres, where nearest sampling
            // gives the same values as linear for a fraction of the work.
            gl::BindTexture(GL_TEXTURE_2D, interlacedTexture_);
            if (!protectedContent_) {
                // Linear light, as the interlace pass writes it for the sharpen pass, needs
                // more than 8 bits to keep the dark codes apart.
                gl::TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA16, interlacedWidth_, interlacedHeight_, 0,
                               GL_RGBA, GL_UNSIGNED_SHORT, nullptr);
            }
            gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        }
    }
}

void ThreadedInterlacer::RebuildViewTargets() {
    const glm::ivec2 view = sdk_->config().viewResolution;
    const int views = GetNumViews();
    if (useViewAtlas_) {
        ResizeTargets(1, kBufferTypeViews, views * view.x, view.y);
        viewTextureAtlas_.store(viewTextures_[0]);
    } else {
        ResizeTargets(views, kBufferTypeViews, view.x, view.y);
    }
}

void ThreadedInterlacer::OnWindowSizeChanged(int width, int height) {
    TAVO_REQUIRE_RENDER_THREAD();
    if (renderTargetsResponsibility_ != kTavoTaskResponsibilityInterlacer) {
        return;
    }
    struct Resize {
        ThreadedInterlacer& self;
        int width;
        int height;
        void Run() {
            ScopedGlState saved(1, 16);
            self.ResizeTargets(self.GetNumViews(), kBufferTypeInterlaced, width, height);
        }
    } resize{*this, width, height};
    RunBetweenFrames(
        FramePasses{[](void* context) { static_cast<Resize*>(context)->Run(); }, &resize});
}

unsigned ThreadedInterlacer::GetRenderTargetForView(int view) {
    std::lock_guard lock(mutex_);
    if (renderTargetsResponsibility_ != kTavoTaskResponsibilityInterlacer || view < 0 ||
        view >= kMaxViews) {
        return 0;
    }
    return viewFramebuffers_[view];
}

// ---------------------------------------------------------------------------------------------
// Interlace parameters and view offsets

void ThreadedInterlacer::RefreshNonPredictedFace() const {
    glm::vec3 face;
    if (sdk_->faceTracking().GetNonPredictedPrimaryFace(face)) {
        face_ = face;
    }
}

void ThreadedInterlacer::RefreshFaces(int64_t nowNs) const {
    RefreshNonPredictedFace();
    const device::Config& config = sdk_->config();
    Platform* platform = sdk_->platform();
    glm::vec3 predicted;
    if (platform != nullptr &&
        sdk_->faceTracking().GetPredictedPrimaryFace(*platform, sdk_->faceDelay(), predicted)) {
        predictedFace_ = predicted;
        // Views between the two eyes: too many means too close, too few too far to see 3D.
        const float k =
            kEyeSeparationMm / face_.z * config.dOverN * config.pOverDu / config.dotPitch.x;
        if (k <= static_cast<float>(config.numViews.x - 2) &&
            static_cast<double>(k) >= sdk_->noFaceRange()) {
            lastFaceTime_.store(nowNs);
        }
    }
}

void ThreadedInterlacer::GetInterlaceParameters(TavoInterlaceParameters& parameters) const {
    TAVO_REQUIRE_RENDER_THREAD();
    RefreshFaces(SteadyNowNs());
    FillInterlaceParameters(parameters);
}

void ThreadedInterlacer::FillInterlaceParameters(TavoInterlaceParameters& p) const {
    const device::Config& config = sdk_->config();
    const eTavoInterlaceMode mode = interlaceMode_.load();
    const float views = static_cast<float>(GetNumViews());
    const glm::vec2 panel(config.panelResolution);

    p.hardwareViewsX = static_cast<float>(config.numViews.x);
    p.hardwareViewsY = static_cast<float>(config.numViews.y);
    p.softwareViews = views;
    p.viewResX = static_cast<float>(config.viewResolution.x);
    p.viewResY = static_cast<float>(config.viewResolution.y);
    p.viewportX = static_cast<float>(viewportX_.load());
    p.viewportY = static_cast<float>(viewportY_.load());
    p.viewportWidth = panel.x;
    p.viewportHeight = panel.y;
    p.n = config.n;
    p.d_over_n = config.dOverN;
    p.p_over_du = config.pOverDu;
    p.p_over_dv = config.pOverDv;
    p.colorSlant = static_cast<float>(config.colorSlant);
    p.colorInversion = config.colorInversion ? 1.0f : 0.0f;
    p.faceX = predictedFace_.x;
    p.faceY = predictedFace_.y;
    p.faceZ = predictedFace_.z;
    p.nonPredictedFaceX = face_.x;
    p.nonPredictedFaceY = face_.y;
    p.nonPredictedFaceZ = face_.z;
    p.pixelPitch = config.dotPitch.x;
    p.du = p.pixelPitch / p.p_over_du;
    p.dv = p.pixelPitch / p.p_over_dv;
    p.s = config.s / (panel.x * config.pOverDu);
    const float theta = config.theta / (3.0f * panel.y);
    p.cos_theta = std::cos(theta);
    p.sin_theta = std::sin(theta);
    p.No = config.centerViewNumber + sdk_->centerViewOffset();

    // The refraction offset at the panel centre, in view steps (the view number at pixel
    // (0, 0) with the centre view added and taken away again).
    const float x = p.faceX;
    const float y = p.faceY;
    const float z = p.faceZ;
    const float r = std::sqrt((1.0f - 1.0f / (p.n * p.n)) * (x * x + y * y) + z * z);
    // An eye in the panel plane at its centre sees no offset; without this the offset is 0/0.
    p.peelOffset = r > 0.0f ? (p.d_over_n * x / r) / p.du + (p.d_over_n * y / r) / p.dv : 0.0f;
    if (mode == kTavoInterlaceModeViewPeeling) {
        p.peelOffset = std::round(p.peelOffset);
    }

    p.displayResX = panel.x;
    p.displayResY = panel.y;
    p.blendViews = sdk_->viewBlending() ? 1 : 0;
    p.minView = 0.0f;
    p.maxView = static_cast<float>(config.numViews.x - 1);
    p.interlaceMode = mode;
    p.debugMode = shaderDebugMode_.load();
    p.perPixelCorrection = mode == kTavoInterlaceModeViewPeeling     ? 1
                           : mode == kTavoInterlaceModeStereoSliding ? 2
                                                                     : 0;
    p.viewTextureType = viewTextureAtlas_.load() != 0 ? 1 : 0;
    p.reconvergenceAmount = reconvergence_.load();

    p.textureTransform = glm::mat4(1.0f);
    p.rectTransform = glm::mat4(1.0f);
    const eFitMode fit = fitMode_.load();
    if (fit != kFitModeFill) {
        const float W = static_cast<float>(interlacedWidth_);
        const float H = static_cast<float>(interlacedHeight_);
        float w = sourceViewsWidth_ != 0 ? static_cast<float>(sourceViewsWidth_) : p.viewResX;
        float h = sourceViewsHeight_ != 0 ? static_cast<float>(sourceViewsHeight_) : p.viewResY;
        if (horizontalSourceViews_ && sourceViewsWidth_ != 0) {
            w = static_cast<float>(sourceViewsWidth_) / views;
        } else if (!horizontalSourceViews_ && sourceViewsHeight_ != 0) {
            h = static_cast<float>(sourceViewsHeight_) / views;
        }
        const float a = w / h;
        const float A = W / H;
        auto place = [](glm::mat4& m, float sx, float sy, float ox, float oy) {
            m[0][0] = sx;
            m[1][1] = sy;
            m[3][0] = ox;
            m[3][1] = oy;
        };
        if (fit == kFitModeFitCenter) {
            if (a > A) {
                const float fitted = static_cast<float>(static_cast<int>(W / w * h));
                place(p.rectTransform, 1.0f, fitted / H, 0.0f, (H - fitted) * 0.5f / H);
            } else {
                const float fitted = static_cast<float>(static_cast<int>(H / h * w));
                place(p.rectTransform, fitted / W, 1.0f, (W - fitted) * 0.5f / W, 0.0f);
            }
        } else if (fit == kFitModeCropFill) {
            if (a > A) {
                place(p.textureTransform, A / a, 1.0f, (1.0f - A / a) * 0.5f, 0.0f);
            } else {
                place(p.textureTransform, 1.0f, a / A, 0.0f, (1.0f - a / A) * 0.5f);
            }
        } else if (fit == kFitModeCropFitSquare) {
            const float m = std::min(W, H);
            const float sx = w >= h ? h / w : 1.0f;
            const float sy = w >= h ? 1.0f : a;
            place(p.textureTransform, sx, sy, (1.0f - sx) * 0.5f, (1.0f - sy) * 0.5f);
            place(p.rectTransform, m / W, m / H, (W - m) * 0.5f / W, (H - m) * 0.5f / H);
        }
    } else if (const float offset = aspectRatioOffset_.load(); offset != 0.0f) {
        const float Wp = panel.x;
        const float Hp = panel.y;
        glm::mat4& m = p.rectTransform;
        if (offset > 0.0f) {
            const float fitted = static_cast<float>(static_cast<int>(Hp / (offset + 1.0f)));
            m[1][1] = fitted / Hp;
            m[3][1] = (Hp - fitted) * 0.5f / Hp;
        } else {
            const float fitted = static_cast<float>(static_cast<int>(Wp * (offset + 1.0f)));
            m[0][0] = fitted / Wp;
            m[3][0] = (Wp - fitted) * 0.5f / Wp;
        }
    }

    p.customTextureScaleX = customTextureMatrix_[0][0];
    p.customTextureScaleY = customTextureMatrix_[1][1];
    const bool zoomXY = reconvergenceZoomXY_.load();
    p.reconvergenceZoomX = reconvergenceZoomX_.load() || zoomXY ? 1.0f : 0.0f;
    p.reconvergenceZoomY = zoomXY ? 1.0f : 0.0f;
}

glm::vec3 ThreadedInterlacer::GetViewOffset(int view) {
    const int views = GetNumViews();
    const float centre = static_cast<float>(views - 1) * 0.5f;
    const float baseline = sdk_->GetBaselineScaling();
    const float step = static_cast<float>(view) - centre;
    switch (interlaceMode_.load()) {
        case kTavoInterlaceModeViewSliding:
            return {step * baseline, 0.0f, 0.0f};
        case kTavoInterlaceModeViewPeeling: {
            TavoInterlaceParameters p;
            GetInterlaceParameters(p);
            return {(step + p.peelOffset) * baseline, 0.0f, 0.0f};
        }
        case kTavoInterlaceModeStereoSliding: {
            RefreshNonPredictedFace();
            const float gain = std::max(1.0f, 6.0f * sdk_->tickValue());
            const float unit = 0.01f / sdk_->config().dotPitch.y;
            const float stereoGain = sdk_->stereoGain();
            return {face_.x * gain * unit * stereoGain + step * baseline,
                    face_.y * gain * unit * stereoGain + sdk_->stereoOffsetY(), 0.0f};
        }
    }
    return glm::vec3(0.0f);
}

// ---------------------------------------------------------------------------------------------
// Modes and settings

void ThreadedInterlacer::PrintStateLine() const {
    std::fputs(fmt::format("Threaded Interlacer State: {} {}", ModeLabel(interlaceMode_.load()),
                           DebugLabel(shaderDebugMode_.load()))
                   .c_str(),
               stdout);
}

void ThreadedInterlacer::SetInterlaceMode(eTavoInterlaceMode mode) {
    if (thread_.load() != std::this_thread::get_id()) {
        throw Exception(
            "Changing interlace mode from another thread that the ThreadedInterlacer was "
            "initialized on is currently not supported.",
            TAVO_LOCATION(__PRETTY_FUNCTION__));
    }
    if (mode == interlaceMode_.load()) {
        return;
    }
    struct Change {
        ThreadedInterlacer& self;
        eTavoInterlaceMode mode;
        void Run() {
            self.interlaceMode_.store(mode);
            // Only with a loaded function table: a host that bound the thread without OpenGL
            // has no targets to rebuild yet.
            if (self.renderTargetsResponsibility_ == kTavoTaskResponsibilityInterlacer &&
                GlReady()) {
                ScopedGlState saved(1, 16);
                self.RebuildViewTargets();
            }
            self.PrintStateLine();
            // The settings line reads the configuration too.
            self.sdk_->PrintSettings();
        }
    } change{*this, mode};
    RunBetweenFrames(
        FramePasses{[](void* context) { static_cast<Change*>(context)->Run(); }, &change});
}

void ThreadedInterlacer::ToggleInterlaceMode(const ITavoSDK& /*sdk*/) {
    SetInterlaceMode(static_cast<eTavoInterlaceMode>((interlaceMode_.load() + 1) % 3));
}

void ThreadedInterlacer::SetShaderDebugMode(eTavoShaderDebugMode mode) {
    std::lock_guard lock(mutex_);
    if (mode != shaderDebugMode_.load()) {
        shaderDebugMode_.store(mode);
        PrintStateLine();
    }
}

void ThreadedInterlacer::ToggleShaderDebugMode() {
    std::lock_guard lock(mutex_);
    shaderDebugMode_.store(static_cast<eTavoShaderDebugMode>((shaderDebugMode_.load() + 1) % 9));
    PrintStateLine();
}

void ThreadedInterlacer::SetSourceViewsSize(int width, int height, bool horizontal) {
    sourceViewsWidth_ = width;
    sourceViewsHeight_ = height;
    horizontalSourceViews_ = horizontal;
}

void ThreadedInterlacer::SetReconvergenceZoom(bool zoomX, bool zoomXY) {
    reconvergenceZoomX_.store(zoomX);
    reconvergenceZoomXY_.store(zoomXY);
}

void ThreadedInterlacer::SetViewportPosition(int x, int y) {
    viewportX_.store(x);
    viewportY_.store(y);
}

void ThreadedInterlacer::SetInterlaceViewTextureAtlas(unsigned texture) {
    std::lock_guard lock(mutex_);
    viewTextureAtlas_.store(texture);
}

void ThreadedInterlacer::SetOutputRenderTarget(unsigned framebuffer) {
    std::lock_guard lock(mutex_);
    outputRenderTarget_ = framebuffer;
}

void ThreadedInterlacer::SetViewTextureId(int texture) {
    std::lock_guard lock(mutex_);
    viewTextureId_ = static_cast<unsigned>(texture);
}

std::string ThreadedInterlacer::GetInterlaceShaderText(eTavoShaderType type) {
    TAVO_REQUIRE_RENDER_THREAD();
    switch (type) {
        case kTavoShaderTypeVertex:
            return interlaceShader_.vertexText;
        case kTavoShaderTypeFragment:
            return interlaceShader_.fragmentText;
        case kTavoShaderTypeGeometry:
            return interlaceShader_.geometryText;
    }
    return {};
}

std::string ThreadedInterlacer::GetSharpenShaderText(eTavoShaderType type) {
    TAVO_REQUIRE_RENDER_THREAD();
    switch (type) {
        case kTavoShaderTypeVertex:
            return sharpenShader_.vertexText;
        case kTavoShaderTypeFragment:
            return sharpenShader_.fragmentText;
        case kTavoShaderTypeGeometry:
            return sharpenShader_.geometryText;
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Textures

unsigned ThreadedInterlacer::CreateGLTexture(const tavo_sdk_image_desc& image) {
    GLuint texture = 0;
    gl::GenTextures(1, &texture);
    gl::BindTexture(GL_TEXTURE_2D, texture);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    const GLint filter = sdk_->IsBilinearFilteringEnabled() ? GL_LINEAR : GL_NEAREST;
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    // Rows are not padded: a 3-byte RGB row of odd width is not a multiple of 4.
    GLint alignment = 4;
    gl::GetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    gl::PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl::TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width, image.height, 0,
                   tavo_sdk_image_format_to_gl(image.format),
                   tavo_sdk_image_component_type_to_gl(image.componentType), image.data);
    gl::PixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    CheckGlErrors("CreateTexture");
    return texture;
}

unsigned ThreadedInterlacer::DebugTexture(int index) {
    if (index < 0 || index > 1) {
        return 0;
    }
    if (debugTextures_[index] != 0 || debugTextureFailed_[index]) {
        return debugTextures_[index];
    }
    try {
        AssetManager* assets = sdk_->GetAssetManager();
        if (assets == nullptr) {
            throw Exception("no asset manager");
        }
        const AssetBuffer file = assets->Read(kDebugImageNames[index], nullptr);
        Tga tga;
        tga.ReadFromData(file.data.get(), static_cast<size_t>(file.size), true);
        tavo_sdk_image_desc image{};
        image.width = static_cast<int32_t>(tga.width);
        image.height = static_cast<int32_t>(tga.height);
        image.format = tga.bitsPerPixel == 24 ? kTavoSdkImageFormatBGR : kTavoSdkImageFormatBGRA;
        image.componentType = kTavoSdkImageComponentTypeUInt8;
        image.data = tga.pixels.data();
        debugTextures_[index] = CreateGLTexture(image);
    } catch (const std::exception& e) {
        debugTextureFailed_[index] = true;
        spdlog::error("[SDK] debug image {} could not be loaded: {}", kDebugImageNames[index],
                      e.what());
    }
    return debugTextures_[index];
}

// ---------------------------------------------------------------------------------------------
// The passes

bool ThreadedInterlacer::SharpenPassRuns() const {
    return !IsInNoFaceState(FrameTimeNs()) && sdk_->IsSharpeningEnabled() && !protectedContent_;
}

int64_t ThreadedInterlacer::FrameTimeNs() const {
    const int64_t frameTime = frameTimeNs_.load();
    return frameTime != 0 ? frameTime : SteadyNowNs();
}

void ThreadedInterlacer::RequireOpenGL(const char* signature) const {
    if (!GlReady()) {
        throw Exception("OpenGL is not set up on the render thread", TAVO_LOCATION(signature));
    }
}

void ThreadedInterlacer::BindInterlaceTextures(eTavoShaderDebugMode mode) {
    auto bind = [](int unit, GLenum target, GLuint texture) {
        gl::ActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + unit));
        gl::BindTexture(target, texture);
    };
    auto clearUnits = [&bind](int from) {
        for (int unit = from; unit < kMaxViews; ++unit) {
            bind(unit, GL_TEXTURE_2D, 0);
        }
    };
    switch (mode) {
        case kTavoShaderDebugModeCalibrationImage:
        case kTavoShaderDebugModeBeerGlass:
            bind(0, GL_TEXTURE_2D, DebugTexture(mode == kTavoShaderDebugModeBeerGlass ? 1 : 0));
            clearUnits(1);
            break;
        case kTavoShaderDebugModeStereoImage:
            bind(0, GL_TEXTURE_2D, viewTextureId_);
            break;
        case kTavoShaderDebugModeStereoVideo: {
            // A desktop context has no external target; a video texture there is a 2D one.
            const bool external = OVR::GLEContext::GetCurrentContext()->gle_OES_EGL_image_external;
            const GLenum target = external ? kTextureExternalOes : GL_TEXTURE_2D;
            bind(0, target, viewTextureId_);
            const GLint filter = sdk_->IsBilinearFilteringEnabled() ? GL_LINEAR : GL_NEAREST;
            gl::TexParameteri(target, GL_TEXTURE_MIN_FILTER, filter);
            gl::TexParameteri(target, GL_TEXTURE_MAG_FILTER, filter);
            gl::TexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            gl::TexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            break;
        }
        case kTavoShaderDebugModeThumbnails:
            break;
        default:
            if (const unsigned atlas = viewTextureAtlas_.load(); atlas != 0) {
                bind(0, GL_TEXTURE_2D, atlas);
                clearUnits(1);
            } else {
                const int views = GetNumViews();
                for (int unit = 0; unit < kMaxViews; ++unit) {
                    bind(unit, GL_TEXTURE_2D, unit < views ? viewTextures_[unit] : 0);
                }
            }
            break;
    }
}

void ThreadedInterlacer::DrawQuad(bool disableCulling) {
    // Culling is given back as found; depth testing too, which the host may rely on as well.
    ScopedCapability cull(GL_CULL_FACE);
    ScopedCapability depth(GL_DEPTH_TEST);
    if (disableCulling) {
        gl::Disable(GL_CULL_FACE);
    }
    gl::Disable(GL_DEPTH_TEST);
    gl::BindVertexArray(quadVertexArray_);
    gl::DrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
    gl::BindVertexArray(0);
}

void ThreadedInterlacer::ApplyInterlacing(int width, int height, bool blend) {
    TAVO_REQUIRE_RENDER_THREAD();
    RequireOpenGL(__PRETTY_FUNCTION__);
    CheckFrameGlErrors("[ApplyInterlacing Entry]");
    ScopedGlState saved(1, 16);
    TavoInterlaceParameters p;
    GetInterlaceParameters(p);
    const bool sharpen = SharpenPassRuns();
    const bool noFace = IsInNoFaceState(FrameTimeNs());

    if (interlacedWidth_ != width || interlacedHeight_ != height) {
        UpdateBuffers(GetNumViews(), kBufferTypeInterlaced, width, height);
        // The transforms of the fit modes are relative to the output size just set.
        FillInterlaceParameters(p);
    }
    p.viewportWidth = static_cast<float>(width);
    p.viewportHeight = static_cast<float>(height);

    const eTavoShaderDebugMode debugMode = shaderDebugMode_.load();
    if (shaderResponsibility_ == kTavoTaskResponsibilityInterlacer) {
        int variant = kStereoImageVariant;
        switch (debugMode) {
            case kTavoShaderDebugModeOff:
                variant = (interlaceMode_.load() == kTavoInterlaceModeStereoSliding ? 3 : 5) +
                          (viewTextureAtlas_.load() != 0 ? 1 : 0);
                break;
            case kTavoShaderDebugModeTextureCoordinates:
                variant = 9;
                break;
            case kTavoShaderDebugModeAllViews:
                variant = 7;
                break;
            case kTavoShaderDebugModeFirstView:
                variant = 8;
                break;
            case kTavoShaderDebugModeCalibrationImage:
                variant = 0;
                break;
            case kTavoShaderDebugModeThumbnails:
                variant = 2;
                break;
            default:
                // Beer glass, stereo image and stereo video (whose own number lies past the
                // list) all show one picture from unit 0.
                variant = kStereoImageVariant;
                break;
        }
        const std::vector<unsigned> permutation = {
            static_cast<unsigned>(p.perPixelCorrection),
            reconvergenceEnabled_.load() ? 1u : 0u,
            flipInputUVVertical_.load() ? 1u : 0u,
            horizontalSourceViews_ ? 1u : 0u,
            singleViewMode_.load() || noFace ? 1u : 0u,
            0u,
            mediumPrecision_ ? 1u : 0u,
        };
        interlaceShader_.UseVariantWithPermutations(variant, permutation);
        CheckFrameGlErrors("[ApplyInterlacing After Use Variant]");

        opengl::Shader& s = interlaceShader_;
        s.SetFloat("blendViews", p.blendViews != 0 ? 1.0f : 0.0f, false);
        const std::pair<const char*, float> floats[] = {
            {"hardwareViewsX", p.hardwareViewsX},
            {"hardwareViewsY", p.hardwareViewsY},
            {"softwareViews", p.softwareViews},
            {"viewResX", p.viewResX},
            {"viewResY", p.viewResY},
            {"viewportX", p.viewportX},
            {"viewportY", p.viewportY},
            {"viewportWidth", p.viewportWidth},
            {"viewportHeight", p.viewportHeight},
            {"minView", p.minView},
            {"maxView", p.maxView},
            {"n", p.n},
            {"d_over_n", p.d_over_n},
            {"p_over_du", p.p_over_du},
            {"p_over_dv", p.p_over_dv},
            {"colorSlant", p.colorSlant},
            {"colorInversion", p.colorInversion},
            {"faceX", p.faceX},
            {"faceY", p.faceY},
            {"faceZ", p.faceZ},
            {"pixelPitch", p.pixelPitch},
            {"du", p.du},
            {"dv", p.dv},
            {"s", p.s},
            {"cos_theta", p.cos_theta},
            {"sin_theta", p.sin_theta},
            {"peelOffset", p.peelOffset},
            {"No", p.No},
            {"displayResX", p.displayResX},
            {"displayResY", p.displayResY},
        };
        for (const auto& [name, value] : floats) {
            s.SetFloat(name, value, false);
        }
        s.SetInteger("interlaceMode", p.interlaceMode, false);
        s.SetInteger("debugMode", p.debugMode, false);
        s.SetInteger("perPixelCorrection", p.perPixelCorrection, false);
        s.SetInteger("viewTextureType", p.viewTextureType, false);
        s.SetFloat("reconvergenceAmount", p.reconvergenceAmount, false);
        s.SetFloat("absReconvergenceAmount", std::fabs(p.reconvergenceAmount), false);
        s.SetMatrix4("textureTransform", p.textureTransform, false);
        s.SetMatrix4("rectTransform", p.rectTransform, false);
        s.SetFloat("customTextureScaleX", p.customTextureScaleX, false);
        s.SetFloat("customTextureScaleY", p.customTextureScaleY, false);
        s.SetFloat("reconvergenceZoomX", p.reconvergenceZoomX, false);
        s.SetFloat("reconvergenceZoomY", p.reconvergenceZoomY, false);
        // With sharpening to follow, the opacity is applied there, once.
        s.SetFloat("alpha", sharpen ? 1.0f : alpha_.load(), false);
        // Into its own intermediate the pass writes linear light, so that the sharpen pass
        // decodes nothing; a host's intermediate gets the codes, as any host shader expects.
        // The gamma is the sharpening record's, which is the configuration's; the record itself
        // is built once, by the sharpen pass.
        float gamma = 0.0f;
        if (sharpen && renderTargetsResponsibility_ == kTavoTaskResponsibilityInterlacer &&
            !protectedContent_) {
            const float actGamma = sdk_->config().actGamma;
            gamma = std::isfinite(actGamma) && actGamma > 0.0f ? actGamma : 0.0f;
        }
        s.SetFloat("linearGamma", gamma, false);
        intermediateLinear_ = gamma > 0.0f;
    } else {
        intermediateLinear_ = false;
    }
    CheckFrameGlErrors("[ApplyInterlacing After Setting cb data]");

    if (renderTargetsResponsibility_ == kTavoTaskResponsibilityInterlacer) {
        // The clear is for the final image (letterbox bars, a transparent background), so it
        // goes to the output target whichever framebuffer the host had bound.
        const bool fill = fitMode_.load() == kFitModeFill;
        if (blend || !fill) {
            gl::BindFramebuffer(GL_FRAMEBUFFER, outputRenderTarget_);
            gl::Viewport(0, 0, width, height);
            gl::ClearColor(0.0f, 0.0f, 0.0f, blend ? 0.0f : 1.0f);
            gl::Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        }
        if (blend) {
            gl::Enable(GL_BLEND);
            gl::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        }
        gl::BindFramebuffer(GL_FRAMEBUFFER, sharpen ? interlacedFramebuffer_ : outputRenderTarget_);
        gl::Viewport(0, 0, width, height);
        BindInterlaceTextures(debugMode);
    }
    CheckFrameGlErrors("[ApplyInterlacing After Bind Textures]");

    if (delegate_ != nullptr) {
        delegate_->PreInterlace(width, height, blend);
    }
    if (drawResponsibility_ != kTavoTaskResponsibilityInterlacer) {
        if (delegate_ != nullptr) {
            delegate_->OnInterlaceRender(width, height, blend);
        }
    } else if (debugMode != kTavoShaderDebugModeThumbnails) {
        DrawQuad(true);
    }
    if (delegate_ != nullptr) {
        delegate_->PostInterlace(width, height, blend);
    }
    saved.Restore();
    CheckFrameGlErrors("[ApplyInterlacing End]");
}

void ThreadedInterlacer::ApplySharpening(int width, int height) {
    TAVO_REQUIRE_RENDER_THREAD();
    RequireOpenGL(__PRETTY_FUNCTION__);
    CheckFrameGlErrors("[ApplySharpening Entry]");
    if (!sdk_->IsSharpeningEnabled()) {
        return;
    }
    ScopedGlState saved(1, 16);
    CheckFrameGlErrors("[ApplySharpening Before Use Permutation]");
    if (shaderResponsibility_ == kTavoTaskResponsibilityInterlacer) {
        opengl::Shader& s = intermediateLinear_ ? sharpenLinearShader_ : sharpenShader_;
        s.UseVariantWithPermutations(sdk_->newAct() ? 1 : 0, {0u, 0u});
        TavoSharpeningValues values;
        sdk_->GetSharpeningValues(values, width, height);
        // The faces were refreshed by this frame's interlace pass; asking again would only
        // move the prediction between the two passes.
        TavoInterlaceParameters p;
        FillInterlaceParameters(p);
        s.SetFloat("gamma", values.gamma, false);
        s.SetFloat("sharpeningCenter", values.sharpeningCenter, false);
        s.SetInteger("sharpeningValueCount", values.sharpeningValueCount, false);
        s.SetMatrix4("rectTransform", p.rectTransform, false);
        s.SetVector4f("textureInvSize", values.textureInvSize, false);
        s.SetVector4fArray("sharpeningValues", values.sharpeningValues, values.sharpeningValueCount,
                           false);
        s.SetFloat("alpha", alpha_.load(), false);
        CheckFrameGlErrors("[ApplySharpening After setting cbuffers]");
    }
    if (renderTargetsResponsibility_ == kTavoTaskResponsibilityInterlacer) {
        gl::BindFramebuffer(GL_FRAMEBUFFER, outputRenderTarget_);
        gl::Viewport(0, 0, width, height);
        CheckFrameGlErrors("[ApplySharpening Binding frame buffer]");
        gl::ActiveTexture(GL_TEXTURE0);
        gl::BindTexture(GL_TEXTURE_2D, interlacedTexture_);
        CheckFrameGlErrors("[ApplySharpening binding interlaced target]");
    }
    if (delegate_ != nullptr) {
        delegate_->PreSharpen(width, height);
    }
    if (drawResponsibility_ == kTavoTaskResponsibilityInterlacer) {
        DrawQuad(false);
        CheckFrameGlErrors("[ApplySharpening After Draw]");
    } else if (delegate_ != nullptr) {
        delegate_->OnSharpenRender(width, height);
    }
    if (delegate_ != nullptr) {
        delegate_->PostSharpen(width, height);
    }
    saved.Restore();
    CheckFrameGlErrors("[ApplySharpening End]");
}

void ThreadedInterlacer::DoPostProcess(int width, int height, bool blend,
                                       unsigned outputFramebuffer) {
    TAVO_REQUIRE_RENDER_THREAD();
    RequireOpenGL(__PRETTY_FUNCTION__);
    struct Passes {
        ThreadedInterlacer& self;
        int width;
        int height;
        bool blend;
        unsigned output;
        void Run() {
            // The host's own target comes back however the passes end.
            struct RestoreOutput {
                ThreadedInterlacer& self;
                unsigned saved;
                ~RestoreOutput() { self.outputRenderTarget_ = saved; }
            } restoreOutput{self, self.outputRenderTarget_};
            self.outputRenderTarget_ = output;
            self.ApplyInterlacing(width, height, blend);
            if (self.SharpenPassRuns()) {
                self.ApplySharpening(width, height);
            }
            self.RenderGui(width, height);
            if (blend) {
                gl::Disable(GL_BLEND);
            }
        }
    } passes{*this, width, height, blend, outputFramebuffer};
    RunFrame(FramePasses{[](void* context) { static_cast<Passes*>(context)->Run(); }, &passes});
}

void ThreadedInterlacer::DoPostProcessPicture(int width, int height, unsigned texture) {
    TAVO_REQUIRE_RENDER_THREAD();
    {
        std::lock_guard lock(mutex_);
        if (shaderDebugMode_.load() != kTavoShaderDebugModeStereoImage) {
            shaderDebugMode_.store(kTavoShaderDebugModeStereoImage);
            PrintStateLine();
        }
        viewTextureId_ = texture;
    }
    DoPostProcess(width, height, alpha_.load() != 1.0f, 0);
}

void ThreadedInterlacer::DoPostProcessVideo(int width, int height, unsigned texture) {
    TAVO_REQUIRE_RENDER_THREAD();
    {
        std::lock_guard lock(mutex_);
        if (shaderDebugMode_.load() != kTavoShaderDebugModeStereoVideo) {
            shaderDebugMode_.store(kTavoShaderDebugModeStereoVideo);
            PrintStateLine();
        }
        viewTextureId_ = texture;
    }
    DoPostProcess(width, height, alpha_.load() != 1.0f, 0);
}

// ---------------------------------------------------------------------------------------------
// Debug overlay

void ThreadedInterlacer::InitializeGui(const DebugMenuInitArgs& args) {
    TAVO_REQUIRE_RENDER_THREAD();
    if (gui_) {
        guiShutdownPending_ = false;
        return;
    }
    auto menu = std::make_unique<DebugMenu>(*this, *sdk_, args);
    std::lock_guard lock(guiLock_);
    gui_ = std::move(menu);
}

void ThreadedInterlacer::ShutdownGui() {
    TAVO_REQUIRE_RENDER_THREAD();
    ReleaseGui();
}

void ThreadedInterlacer::ReleaseGui() {
    if (drawingGui_) {
        // Called from inside the menu's own drawing: the menu goes once it has finished.
        guiShutdownPending_ = true;
        return;
    }
    std::unique_ptr<DebugMenu> menu;
    {
        std::lock_guard lock(guiLock_);
        menu = std::move(gui_);
    }
}

bool ThreadedInterlacer::ToggleGui() {
    TAVO_REQUIRE_RENDER_THREAD();
    if (!gui_) {
        return false;
    }
    const bool visible = !gui_->gui().IsVisible();
    gui_->gui().SetVisible(visible);
    return visible;
}

bool ThreadedInterlacer::IsGuiVisible() const {
    std::lock_guard lock(guiLock_);
    return gui_ != nullptr && gui_->gui().IsVisible();
}

Gui::InputState ThreadedInterlacer::ProcessGuiInput(WindowHandle window, unsigned message,
                                                    unsigned long long wParam, long long lParam) {
    TAVO_REQUIRE_RENDER_THREAD();
    if (!gui_) {
        return {};
    }
    return gui_->gui().ProcessInput(window, message, wParam, lParam);
}

void ThreadedInterlacer::RenderGui(int width, int height) {
    TAVO_REQUIRE_RENDER_THREAD();
    if (!gui_ || !gui_->gui().IsVisible()) {
        return;
    }
    RequireOpenGL(__PRETTY_FUNCTION__);
    if (!gui_->gui().NewFrame(width, height)) {
        return;
    }
    ScopedGlState saved(1, 16);
    if (renderTargetsResponsibility_ == kTavoTaskResponsibilityInterlacer) {
        gl::BindFramebuffer(GL_FRAMEBUFFER, outputRenderTarget_);
    }
    drawingGui_ = true;
    try {
        gui_->Draw();
    } catch (const std::exception& e) {
        // The frame itself goes on; a control that fails keeps failing, so the log is limited.
        static LogRateLimiter limiter;
        limiter.Log(spdlog::level::err, "[SDK] debug menu failed: {}", e.what());
    }
    drawingGui_ = false;
    if (guiShutdownPending_) {
        guiShutdownPending_ = false;
        ReleaseGui();
    }
}

// ---------------------------------------------------------------------------------------------
// Frame skeleton, no-face policy and pause handshake

bool ThreadedInterlacer::IsInNoFaceState(int64_t nowNs) const {
    if (!sdk_->noFaceModeEnabled()) {
        return false;
    }
    const int64_t threshold = ThresholdNs(sdk_->noFaceTimeThreshold());
    return nowNs - lastFaceTime_.load() >= threshold && nowNs - creationTime_ > threshold &&
           nowNs - lastRenderTime_.load() < kRenderingWindowNs;
}

void ThreadedInterlacer::RunFrame(FramePasses passes) {
    std::lock_guard lock(mutex_);

    // Waits out a configuration change of another thread, and holds the next one back until
    // the passes are done.
    sdk_->EnterFrame();
    // A pass that throws must not leave the SDK waiting for this frame forever.
    struct LeaveFrame {
        ThreadedInterlacer& self;
        ~LeaveFrame() {
            self.frameTimeNs_.store(0);
            self.lastRenderTime_.store(SteadyNowNs());
            self.sdk_->LeaveFrame();
        }
    };
    {
        LeaveFrame leave{*this};
        // Both passes decide on the no-face state at one instant, so that the interlace pass
        // never draws into the intermediate target for a sharpen pass that then does not run.
        frameTimeNs_.store(SteadyNowNs());
        if (passes.run != nullptr) {
            passes.run(passes.context);
        }
    }
    ApplyNoFaceBacklightPolicy(SteadyNowNs());
}

void ThreadedInterlacer::RunBetweenFrames(FramePasses work) {
    // Inside a frame (a control of the debug menu) this thread holds both already.
    if (frameTimeNs_.load() != 0) {
        work.run(work.context);
        return;
    }
    std::lock_guard lock(mutex_);
    sdk_->EnterFrame();
    struct LeaveFrame {
        TavoSDK& sdk;
        ~LeaveFrame() { sdk.LeaveFrame(); }
    } leave{*sdk_};
    work.run(work.context);
}

void ThreadedInterlacer::ApplyNoFaceBacklightPolicy(int64_t nowNs) {
    if (!sdk_->noFaceModeEnabled() ||
        nowNs - creationTime_ <= ThresholdNs(sdk_->noFaceTimeThreshold())) {
        return;
    }
    const bool noFace = IsInNoFaceState(nowNs);
    if (noFace && sdk_->backlightOn()) {
        spdlog::info("[TavoSDK] NoFaceMode turning off backlight");
        sdk_->ForceSetBacklight(false);
        sdk_->SetNoFaceBacklightOff(true);
    } else if (sdk_->noFaceBacklightOff() && !noFace) {
        if (!sdk_->backlightOn()) {
            spdlog::info("[TavoSDK] NoFaceMode attempting to to turn on");
            sdk_->ForceSetBacklight(true);
        }
        sdk_->SetNoFaceBacklightOff(false);
    }
}

}  // namespace tavo::sdk
