// A host of the SDK: face tracking fed from the host's own camera, one interlacer on a headless
// EGL context, and one woven frame written as PNG.
//
//   tavo-example-host OUT.png
//
// The panel is whatever the SDK finds: the display service, a panel description file
// (TAVO_PANEL_FILE, or /var/lib/tavo/panel.json) or the built-in default. The "camera" here is a
// synthetic grey picture; a real host hands its webcam's or video's 8-bit frames over the same
// way. Everything runs on the main thread, which is the host's set-up thread, the camera's
// delivery thread (it pushes the frames) and the interlacer's render thread (it owns the
// OpenGL context).
#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/sdk/tavoSDK.h"

namespace {

using namespace tavo::sdk;

// A surfaceless OpenGL 3.3 core context, current on the calling thread for its life.
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
            return;
        }
        const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                     3,
                                     EGL_CONTEXT_MINOR_VERSION,
                                     3,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                     EGL_NONE};
        context_ = eglCreateContext(display_, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
        if (context_ != EGL_NO_CONTEXT &&
            eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_FALSE) {
            eglDestroyContext(display_, context_);
            context_ = EGL_NO_CONTEXT;
        }
    }
    ~HeadlessContext() {
        if (context_ != EGL_NO_CONTEXT) {
            eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(display_, context_);
        }
        if (display_ != EGL_NO_DISPLAY) {
            eglReleaseThread();
        }
    }
    HeadlessContext(const HeadlessContext&) = delete;
    HeadlessContext& operator=(const HeadlessContext&) = delete;

    bool ok() const { return context_ != EGL_NO_CONTEXT; }

  private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
};

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

// Feeds `count` frames of a 640 x 480 camera through the sink; each push runs the detector and
// the tracker on this thread before it returns.
void PushCameraFrames(tavo::SharedCameraSink& sink, int count) {
    constexpr int kWidth = 640, kHeight = 480;
    tavo::CameraIntrinsics intrinsics;
    intrinsics.width = kWidth;
    intrinsics.height = kHeight;
    intrinsics.ppx = kWidth / 2.0f;
    intrinsics.ppy = kHeight / 2.0f;
    intrinsics.fx = intrinsics.fy = 0.6f * kWidth;
    // The members are filled when face tracking starts; a host checks them before a call.
    if (sink.onCameraIntrinsics) {
        sink.onCameraIntrinsics(intrinsics);
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight, 128);
    for (int i = 0; i < count && sink.onCameraFrame; ++i) {
        sink.onCameraFrame(tavo::ImageDesc{kWidth, kHeight, 0, pixels.data()},
                           tavo::Timestamp{tavo::Timestamp::Space::System, NowMs()});
    }
}

// One colour per view, so that the woven pattern shows which view lands where.
void DrawViews(ThreadedInterlacer& interlacer, int width, int height) {
    const int views = interlacer.GetNumViews();
    for (int view = 0; view < views; ++view) {
        const float t = views > 1 ? static_cast<float>(view) / static_cast<float>(views - 1) : 0.0f;
        glBindFramebuffer(GL_FRAMEBUFFER, interlacer.GetRenderTargetForView(view));
        glViewport(0, 0, width, height);
        glClearColor(t, 0.2f, 1.0f - t, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
}

// Renders one frame into an output target of the panel's size and writes it, top row first.
bool WeaveToPng(ThreadedInterlacer& interlacer, int width, int height, const char* path) {
    GLuint framebuffer = 0, texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;

    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    if (complete) {
        interlacer.DoPostProcess(width, height, false, framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(1, &texture);
    if (!complete) {
        return false;
    }
    // Every view has its own colour, so a frame of one colour means nothing was woven.
    bool woven = false;
    for (size_t i = 4; i < rgba.size() && !woven; i += 4) {
        woven = std::memcmp(&rgba[i], rgba.data(), 3) != 0;
    }
    if (!woven) {
        std::fprintf(stderr, "the woven frame is one colour\n");
        return false;
    }
    // OpenGL's first row is the bottom of the panel.
    stbi_flip_vertically_on_write(1);
    return stbi_write_png(path, width, height, 4, rgba.data(), width * 4) != 0;
}

int Run(const char* outPath) {
    HeadlessContext context;
    if (!context.ok()) {
        std::fprintf(stderr, "no OpenGL 3.3 context (EGL error %#x)\n", eglGetError());
        return 1;
    }

    tavo::SharedCameraSink sink;
    ITavoSDK* sdk = CreateTavoSDK();
    std::printf("tavo SDK %s\n", tavoSdkGetVersion());
    // Face tracking over the host's camera, started by Initialize.
    sdk->PrepareFaceTracking(true, &sink);
    tavo::PlatformInitArgs platformArgs;
    platformArgs.logLevel = 4;  // warnings and worse
    sdk->InitializePlatform(platformArgs);
    sdk->Initialize(nullptr);
    if (!sdk->IsInitialized()) {
        std::fprintf(stderr, "the SDK did not initialise\n");
        sdk->Destroy();
        return 1;
    }
    const tavo::device::Config& panel = sdk->GetConfig();
    std::printf("panel: %d x %d pixels, %d views\n", panel.panelResolution.x,
                panel.panelResolution.y, panel.numViews.x);
    std::printf("face tracking: %s\n", sdk->IsFaceTrackingRunning() ? "running" : "off");

    PushCameraFrames(sink, 10);
    glm::vec3 face{0.0f};
    if (sdk->GetPrimaryFace(face)) {
        std::printf("viewer at (%.1f, %.1f, %.1f) mm\n", face.x, face.y, face.z);
    } else {
        std::printf("no viewer tracked: the views are woven for the default position\n");
    }

    ThreadedInterlacer* interlacer = sdk->CreateNewThreadedInterlacer({});
    // Binds the interlacer to this thread, whose context is current, and makes its targets.
    interlacer->InitializeOpenGL(nullptr, kTavoTaskResponsibilityInterlacer,
                                 kTavoTaskResponsibilityInterlacer,
                                 kTavoTaskResponsibilityInterlacer);
    DrawViews(*interlacer, sdk->GetViewResolutionX(), sdk->GetViewResolutionY());
    const bool written =
        WeaveToPng(*interlacer, sdk->GetPanelResolutionX(), sdk->GetPanelResolutionY(), outPath);
    interlacer->Shutdown();
    sdk->Shutdown();
    sdk->Destroy();
    if (!written) {
        std::fprintf(stderr, "no woven frame written to %s\n", outPath);
        return 1;
    }
    std::printf("woven frame written to %s\n", outPath);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    try {
        return Run(argv[1]);
    } catch (const std::exception& e) {
        // The object interfaces throw tavo::Exception for misuse and failed set-up.
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
}
