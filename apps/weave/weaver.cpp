// Headless weaving: a surfaceless EGL context, the SDK with one interlacer, a textured pass that
// draws each picture into its view target, and the frame read back.
#include "apps/weave/weaver.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "tavo/headTracking/common/types.h"
#include "tavo/headTracking/engine/core/kalmanFilter.h"
#include "tavo/opengl/gl.h"
#include "tavo/opengl/glHelpers.h"
#include "tavo/opengl/glLoader.h"
#include "tavo/opengl/shader.h"
#include "tavo/sdk/tavoSDK.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace tavo::apps {

namespace gl = tavo::gl;
using namespace tavo::sdk;

Picture LoadPicture(const std::string& path) {
    int width = 0, height = 0, channels = 0;
    stbi_set_flip_vertically_on_load(0);
    uint8_t* data = stbi_load(path.c_str(), &width, &height, &channels, 4);
    if (data == nullptr) {
        throw std::runtime_error(
            fmt::format("cannot read the picture {}: {}", path, stbi_failure_reason()));
    }
    Picture picture{width, height, {data, data + static_cast<size_t>(width) * height * 4}};
    stbi_image_free(data);
    return picture;
}

bool WritePng(const Picture& picture, const std::string& path, int compression) {
    stbi_flip_vertically_on_write(0);
    stbi_write_png_compression_level = compression;
    return stbi_write_png(path.c_str(), picture.width, picture.height, 4, picture.rgba.data(),
                          picture.width * 4) != 0;
}

namespace {

// The pictures are drawn upright into GL's bottom-up targets: row 0 of a picture is its top.
constexpr const char* kCopyVertex = R"(
layout(location = 0) in vec2 corner;
out vec2 texCoord;
void main() {
    texCoord = vec2(corner.x, 1.0 - corner.y);
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}
)";
constexpr const char* kCopyFragment = R"(
in vec2 texCoord;
out vec4 fragColor;
uniform sampler2D picture;
void main() {
    fragColor = texture(picture, texCoord);
}
)";

class HeadlessContext {
  public:
    HeadlessContext() {
        auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay != nullptr) {
            display_ =
                getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        }
        if (display_ == EGL_NO_DISPLAY || eglInitialize(display_, nullptr, nullptr) == EGL_FALSE ||
            eglBindAPI(EGL_OPENGL_API) == EGL_FALSE) {
            throw std::runtime_error("no headless EGL display");
        }
        const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                     3,
                                     EGL_CONTEXT_MINOR_VERSION,
                                     3,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                     EGL_NONE};
        context_ = eglCreateContext(display_, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
        if (context_ == EGL_NO_CONTEXT ||
            eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_FALSE) {
            throw std::runtime_error(
                fmt::format("no OpenGL 3.3 context (EGL error {:#x})", eglGetError()));
        }
    }
    ~HeadlessContext() {
        if (context_ != EGL_NO_CONTEXT) {
            eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(display_, context_);
        }
        // Not eglTerminate: Mesa would unload its driver with allocations still held there,
        // which leak checkers report; releasing the thread's EGL state is enough.
        if (display_ != EGL_NO_DISPLAY) {
            eglReleaseThread();
        }
    }
    HeadlessContext(const HeadlessContext&) = delete;
    HeadlessContext& operator=(const HeadlessContext&) = delete;

  private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
};

unsigned Upload(const Picture& picture) {
    unsigned texture = 0;
    gl::GenTextures(1, &texture);
    gl::BindTexture(GL_TEXTURE_2D, texture);
    gl::PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl::TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, picture.width, picture.height, 0, GL_RGBA,
                   GL_UNSIGNED_BYTE, picture.rgba.data());
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return texture;
}

// The two views side by side, as the stereo picture modes read them: bottom row first, as the
// view targets hold their pictures, so that no flip is needed.
Picture SideBySide(const Picture& left, const Picture& right) {
    Picture out{left.width + right.width, std::max(left.height, right.height), {}};
    out.rgba.assign(static_cast<size_t>(out.width) * out.height * 4, 0);
    for (int y = 0; y < out.height; ++y) {
        const int row = out.height - 1 - y;
        if (y < left.height) {
            std::memcpy(&out.rgba[static_cast<size_t>(row) * out.width * 4],
                        &left.rgba[static_cast<size_t>(y) * left.width * 4],
                        static_cast<size_t>(left.width) * 4);
        }
        if (y < right.height) {
            std::memcpy(&out.rgba[(static_cast<size_t>(row) * out.width + left.width) * 4],
                        &right.rgba[static_cast<size_t>(y) * right.width * 4],
                        static_cast<size_t>(right.width) * 4);
        }
    }
    return out;
}

}  // namespace

struct Weaver::State {
    HeadlessContext context;
    ITavoSDK* sdk = nullptr;
    ThreadedInterlacer* interlacer = nullptr;
    opengl::Shader copy;
    unsigned quadArray = 0, quadVertices = 0, quadIndices = 0;
    bool blending = true;  // the SDK's view blending starts on
};

Weaver::Weaver(const std::optional<device::Config>& panel, SharedCameraSink* camera)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    // The library keeps its OpenGL entry points to itself: this side loads its own on the
    // headless context.
    OVR::GLEContext::GetCurrentContext()->Init();
    s.sdk = CreateTavoSDK();
    s.sdk->PrepareFaceTracking(camera != nullptr, camera);
    if (camera != nullptr) {
        s.sdk->SetFaceDetectorBackend(kTavoFaceDetectorBackendCPU);
        s.sdk->SetProfiling(true);
    }
    s.sdk->InitializePlatform({});
    s.sdk->Initialize(nullptr);
    if (!s.sdk->IsInitialized()) {
        s.sdk->Destroy();
        throw std::runtime_error("the SDK did not initialise");
    }
    if (panel)
        s.sdk->SetConfig(*panel);
    if (camera != nullptr && !s.sdk->IsFaceTrackingEnabled()) {
        s.sdk->Shutdown();
        s.sdk->Destroy();
        throw std::runtime_error(
            "face tracking did not start: is the CPU detector plug-in beside the library or on "
            "the library path? (the log says why)");
    }
    s.interlacer = s.sdk->CreateNewThreadedInterlacer({});
    s.interlacer->InitializeOpenGL(nullptr, kTavoTaskResponsibilityInterlacer,
                                   kTavoTaskResponsibilityInterlacer,
                                   kTavoTaskResponsibilityInterlacer);
    s.copy.vertexPrefix = s.copy.fragmentPrefix = "#version 330 core";
    s.copy.CompileFromText(kCopyVertex, kCopyFragment, nullptr, 0, {});
    s.copy.SetInteger("picture", 0, true);
    opengl::CreateRectangularTexCoordVertexArray(0, 0, 1, 1, s.quadArray, s.quadVertices,
                                                 s.quadIndices);
    gl::BindVertexArray(0);
}

Weaver::~Weaver() {
    State& s = *state_;
    gl::DeleteVertexArrays(1, &s.quadArray);
    gl::DeleteBuffers(1, &s.quadVertices);
    gl::DeleteBuffers(1, &s.quadIndices);
    if (s.copy.programId != 0)
        gl::DeleteProgram(s.copy.programId);
    s.interlacer->Shutdown();
    s.sdk->Shutdown();
    s.sdk->Destroy();
}

const device::Config& Weaver::config() const {
    return state_->sdk->GetConfig();
}

ITavoSDK& Weaver::sdk() const {
    return *state_->sdk;
}

TavoSharpeningValues Weaver::sharpening() const {
    TavoSharpeningValues values;
    state_->sdk->GetSharpeningValues(values, config().panelResolution.x,
                                     config().panelResolution.y);
    return values;
}

int Weaver::ViewsFor(eTavoInterlaceMode mode) const {
    return mode == kTavoInterlaceModeStereoSliding ? 2 : config().numViews.x;
}

std::vector<glm::vec3> Weaver::ViewOffsets(eTavoInterlaceMode mode) {
    state_->interlacer->SetInterlaceMode(mode);
    std::vector<glm::vec3> offsets;
    for (int i = 0; i < ViewsFor(mode); ++i)
        offsets.push_back(state_->interlacer->GetViewOffset(i));
    return offsets;
}

Picture Weaver::Weave(const WeaveSettings& settings, const std::vector<Picture>& views) {
    State& s = *state_;
    const int count = ViewsFor(settings.mode);
    if (static_cast<int>(views.size()) != count) {
        throw std::invalid_argument(
            fmt::format("{} needs {} views, not {}", ToUiStr(settings.mode), count, views.size()));
    }
    s.interlacer->SetInterlaceMode(settings.mode);
    s.interlacer->SetShaderDebugMode(settings.debugMode);
    s.sdk->EnableSharpening(settings.sharpen);
    if (s.blending != settings.blend) {
        s.sdk->ToggleViewBlending();
        s.blending = settings.blend;
    }
    if (!settings.heldFace) {
        const head::MovingPoint face{settings.face, glm::vec3(0.0f)};
        const Timestamp stamp{Timestamp::Space::Unknown, 0.0};
        s.sdk->SetPrimaryFace(&face, &stamp);
    }

    // Each picture into its view target, stretched to the target's size.
    const glm::ivec2 viewSize = config().viewResolution;
    std::vector<unsigned> textures;
    s.copy.Use();
    gl::BindVertexArray(s.quadArray);
    gl::Disable(GL_BLEND);
    gl::Disable(GL_DEPTH_TEST);
    gl::Disable(GL_CULL_FACE);
    for (int i = 0; i < count; ++i) {
        textures.push_back(Upload(views[static_cast<size_t>(i)]));
        gl::BindFramebuffer(GL_FRAMEBUFFER, s.interlacer->GetRenderTargetForView(i));
        gl::Viewport(0, 0, viewSize.x, viewSize.y);
        gl::ActiveTexture(GL_TEXTURE0);
        gl::BindTexture(GL_TEXTURE_2D, textures.back());
        gl::DrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
    }
    gl::BindVertexArray(0);
    if (settings.debugMode == kTavoShaderDebugModeStereoImage ||
        settings.debugMode == kTavoShaderDebugModeStereoVideo) {
        // The stereo picture modes read the host's texture, the first two views side by side.
        const Picture pair = SideBySide(views[0], views[std::min<size_t>(1, views.size() - 1)]);
        textures.push_back(Upload(pair));
        s.interlacer->SetViewTextureId(static_cast<int>(textures.back()));
    }

    const int width = config().panelResolution.x, height = config().panelResolution.y;
    unsigned framebuffer = 0, texture = 0, depth = 0;
    if (!opengl::CreateRenderTarget(width, height, false, &framebuffer, &texture, &depth, false)) {
        throw std::runtime_error(fmt::format("cannot make a {}x{} output target", width, height));
    }
    gl::Viewport(0, 0, width, height);
    gl::ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl::Clear(GL_COLOR_BUFFER_BIT);
    s.interlacer->DoPostProcess(width, height, false, framebuffer);
    s.interlacer->GetInterlaceParameters(parameters_);

    Picture out{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    gl::BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl::PixelStorei(GL_PACK_ALIGNMENT, 1);
    gl::ReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, out.rgba.data());
    // GL's row 0 is the bottom of the panel; a picture starts at the top.
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height / 2; ++y) {
        std::swap_ranges(out.rgba.begin() + static_cast<std::ptrdiff_t>(y * stride),
                         out.rgba.begin() + static_cast<std::ptrdiff_t>((y + 1) * stride),
                         out.rgba.begin() + static_cast<std::ptrdiff_t>((height - 1 - y) * stride));
    }
    gl::BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl::DeleteFramebuffers(1, &framebuffer);
    gl::DeleteTextures(1, &texture);
    s.interlacer->SetViewTextureId(0);
    gl::DeleteTextures(static_cast<int>(textures.size()), textures.data());
    return out;
}

}  // namespace tavo::apps
