// Example host with a real window: renders a small scene into the interlacer's views, weaves
// them with the SDK's interlacer, shows the debug overlay and forwards the window's events to it
// as Win32-convention messages. F1 shows and hides the overlay; Escape quits.
//
//     tavo-window-example [--frames N] [--screenshot file.png] [--width W] [--height H]
//
// It prints "ready" once the first frame is on screen, and one line whenever the overlay's
// visibility or the SDK's sharpening switch changes ("overlay: shown", "sharpening: off"), so
// that a script driving it can see what its input did.
#include <GL/gl.h>
#include <GLFW/glfw3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "tavo/sdk/tavoSDK.h"
#include "tavo/sdk/windowMessages.h"

namespace {

namespace win32 = tavo::sdk::win32;

struct Options {
    long frames = -1;  // until the window closes
    std::string screenshot;
    int width = 800;
    int height = 600;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s needs a value\n", arg.c_str());
            return false;
        }
        const char* value = argv[++i];
        if (arg == "--frames") {
            options.frames = std::strtol(value, nullptr, 10);
        } else if (arg == "--screenshot") {
            options.screenshot = value;
        } else if (arg == "--width") {
            options.width = std::atoi(value);
        } else if (arg == "--height") {
            options.height = std::atoi(value);
        } else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            return false;
        }
    }
    if (options.width <= 0 || options.height <= 0) {
        std::fprintf(stderr, "the window size must be positive\n");
        return false;
    }
    return true;
}

// What the event callbacks reach through the window's user pointer.
struct Host {
    tavo::sdk::ThreadedInterlacer* interlacer = nullptr;
    GLFWwindow* window = nullptr;
    double mouseX = 0.0;
    double mouseY = 0.0;

    void Forward(unsigned message, unsigned long long wParam, long long lParam) {
        interlacer->ProcessGuiInput(window, message, wParam, lParam);
    }
    long long MousePosition() const {
        return win32::MakePointLParam(static_cast<int>(mouseX), static_cast<int>(mouseY));
    }
};

Host& HostOf(GLFWwindow* window) {
    return *static_cast<Host*>(glfwGetWindowUserPointer(window));
}

// GLFW key to Win32 virtual-key code; 0 for keys the overlay has no use for.
unsigned VirtualKey(int key) {
    if ((key >= GLFW_KEY_A && key <= GLFW_KEY_Z) || (key >= GLFW_KEY_0 && key <= GLFW_KEY_9)) {
        return static_cast<unsigned>(key);  // the same ASCII codes
    }
    if (key >= GLFW_KEY_F1 && key <= GLFW_KEY_F12) {
        return win32::kVkF1 + static_cast<unsigned>(key - GLFW_KEY_F1);
    }
    switch (key) {
        case GLFW_KEY_SPACE:
            return win32::kVkSpace;
        case GLFW_KEY_ESCAPE:
            return win32::kVkEscape;
        case GLFW_KEY_ENTER:
        case GLFW_KEY_KP_ENTER:
            return win32::kVkReturn;
        case GLFW_KEY_TAB:
            return win32::kVkTab;
        case GLFW_KEY_BACKSPACE:
            return win32::kVkBack;
        case GLFW_KEY_INSERT:
            return win32::kVkInsert;
        case GLFW_KEY_DELETE:
            return win32::kVkDelete;
        case GLFW_KEY_RIGHT:
            return win32::kVkRight;
        case GLFW_KEY_LEFT:
            return win32::kVkLeft;
        case GLFW_KEY_DOWN:
            return win32::kVkDown;
        case GLFW_KEY_UP:
            return win32::kVkUp;
        case GLFW_KEY_PAGE_UP:
            return win32::kVkPrior;
        case GLFW_KEY_PAGE_DOWN:
            return win32::kVkNext;
        case GLFW_KEY_HOME:
            return win32::kVkHome;
        case GLFW_KEY_END:
            return win32::kVkEnd;
        case GLFW_KEY_LEFT_SHIFT:
        case GLFW_KEY_RIGHT_SHIFT:
            return win32::kVkShift;
        case GLFW_KEY_LEFT_CONTROL:
        case GLFW_KEY_RIGHT_CONTROL:
            return win32::kVkControl;
        case GLFW_KEY_LEFT_ALT:
        case GLFW_KEY_RIGHT_ALT:
            return win32::kVkMenu;
        case GLFW_KEY_LEFT_SUPER:
            return win32::kVkLWin;
        case GLFW_KEY_RIGHT_SUPER:
            return win32::kVkRWin;
        default:
            return 0;
    }
}

void OnCursor(GLFWwindow* window, double x, double y) {
    Host& host = HostOf(window);
    host.mouseX = x;
    host.mouseY = y;
    host.Forward(win32::kWmMouseMove, 0, host.MousePosition());
}

void OnCursorEnter(GLFWwindow* window, int entered) {
    if (!entered) {
        HostOf(window).Forward(win32::kWmMouseLeave, 0, 0);
    }
}

void OnMouseButton(GLFWwindow* window, int button, int action, int /*mods*/) {
    static constexpr unsigned kDown[] = {win32::kWmLButtonDown, win32::kWmRButtonDown,
                                         win32::kWmMButtonDown};
    static constexpr unsigned kUp[] = {win32::kWmLButtonUp, win32::kWmRButtonUp,
                                       win32::kWmMButtonUp};
    if (button < 0 || button > 2) {
        return;
    }
    Host& host = HostOf(window);
    host.Forward(action == GLFW_RELEASE ? kUp[button] : kDown[button], 0, host.MousePosition());
}

void OnScroll(GLFWwindow* window, double x, double y) {
    Host& host = HostOf(window);
    if (y != 0.0) {
        host.Forward(win32::kWmMouseWheel,
                     win32::MakeWheelWParam(static_cast<int>(y * win32::kWheelDelta)),
                     host.MousePosition());
    }
    if (x != 0.0) {
        host.Forward(win32::kWmMouseHWheel,
                     win32::MakeWheelWParam(static_cast<int>(x * win32::kWheelDelta)),
                     host.MousePosition());
    }
}

void OnKey(GLFWwindow* window, int key, int /*scancode*/, int action, int /*mods*/) {
    Host& host = HostOf(window);
    if (action == GLFW_PRESS && key == GLFW_KEY_F1) {
        host.interlacer->ToggleGui();
        return;
    }
    if (action == GLFW_PRESS && key == GLFW_KEY_ESCAPE) {
        glfwSetWindowShouldClose(window, GLFW_TRUE);
        return;
    }
    const unsigned vk = VirtualKey(key);
    if (vk != 0) {
        host.Forward(action == GLFW_RELEASE ? win32::kWmKeyUp : win32::kWmKeyDown, vk, 0);
    }
}

void OnChar(GLFWwindow* window, unsigned codepoint) {
    Host& host = HostOf(window);
    // WM_CHAR carries UTF-16 code units: characters beyond the basic plane come as two.
    if (codepoint >= 0x10000) {
        const unsigned v = codepoint - 0x10000;
        host.Forward(win32::kWmChar, 0xD800 + (v >> 10), 0);
        host.Forward(win32::kWmChar, 0xDC00 + (v & 0x3FF), 0);
    } else {
        host.Forward(win32::kWmChar, codepoint, 0);
    }
}

void OnFocus(GLFWwindow* window, int focused) {
    if (!focused) {
        HostOf(window).Forward(win32::kWmKillFocus, 0, 0);
    }
}

void OnFramebufferSize(GLFWwindow* window, int width, int height) {
    Host& host = HostOf(window);
    host.Forward(win32::kWmSize, 0, win32::MakeSizeLParam(width, height));
    host.interlacer->OnWindowSizeChanged(width, height);
}

using BindFramebufferFn = void (*)(GLenum, GLuint);

// The scene: a floor band and three boxes at different depths, each shifted by the view's
// camera offset in proportion to its nearness, so that the views differ as a stereo pair would.
void RenderView(BindFramebufferFn bindFramebuffer, unsigned framebuffer, int width, int height,
                float offsetX, double time) {
    bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.08f, 0.10f, 0.16f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    auto box = [&](float cx, float cy, float w, float h, float nearness, float r, float g,
                   float b) {
        const float x = (cx + offsetX * nearness * 0.01f) * static_cast<float>(width);
        glScissor(static_cast<int>(x - w * width / 2), static_cast<int>((cy - h / 2) * height),
                  static_cast<int>(w * width), static_cast<int>(h * height));
        glClearColor(r, g, b, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    };
    box(0.5f, 0.12f, 1.0f, 0.24f, 0.0f, 0.20f, 0.22f, 0.25f);
    const float swing = static_cast<float>(0.15 * std::sin(time));
    box(0.25f, 0.45f, 0.18f, 0.30f, 0.5f, 0.85f, 0.35f, 0.20f);
    box(0.5f + swing, 0.50f, 0.16f, 0.26f, 1.5f, 0.25f, 0.70f, 0.40f);
    box(0.75f, 0.40f, 0.14f, 0.22f, 3.0f, 0.30f, 0.45f, 0.90f);
    glDisable(GL_SCISSOR_TEST);
    bindFramebuffer(GL_FRAMEBUFFER, 0);
}

bool SaveScreenshot(const std::string& path, int width, int height) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    // OpenGL's rows start at the bottom, PNG's at the top.
    stbi_flip_vertically_on_write(1);
    return stbi_write_png(path.c_str(), width, height, 3, pixels.data(), width * 3) != 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        return 2;
    }
    if (!glfwInit()) {
        std::fprintf(stderr, "GLFW could not start (is there a display?)\n");
        return 1;
    }
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_TRUE);
    GLFWwindow* window =
        glfwCreateWindow(options.width, options.height, "tavo-window-example", nullptr, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "no OpenGL 3.3 window\n");
        glfwTerminate();
        return 1;
    }
    glfwMakeContextCurrent(window);
    glfwSwapInterval(0);
    auto bindFramebuffer =
        reinterpret_cast<BindFramebufferFn>(glfwGetProcAddress("glBindFramebuffer"));

    int exitCode = 0;
    tavo::sdk::ITavoSDK* sdk = tavo::sdk::CreateTavoSDK();
    try {
        // No camera here: the overlay still shows and changes everything else.
        sdk->PrepareFaceTracking(false, nullptr);
        tavo::PlatformInitArgs platformArgs;
        platformArgs.logLevel = 3;
        sdk->InitializePlatform(platformArgs);
        sdk->Initialize(nullptr);
        int fbWidth = 0;
        int fbHeight = 0;
        glfwGetFramebufferSize(window, &fbWidth, &fbHeight);
        tavo::device::Config config = sdk->GetConfig();
        config.panelResolution = {fbWidth, fbHeight};
        config.viewResolution = {fbWidth / 2, fbHeight / 2};
        sdk->SetConfig(config);

        Host host;
        host.window = window;
        host.interlacer = sdk->CreateNewThreadedInterlacer({});
        host.interlacer->InitializeOpenGL(nullptr, tavo::sdk::kTavoTaskResponsibilityInterlacer,
                                          tavo::sdk::kTavoTaskResponsibilityInterlacer,
                                          tavo::sdk::kTavoTaskResponsibilityInterlacer);
        tavo::sdk::DebugMenuInitArgs guiArgs;
        guiArgs.scale = 1.0f;
        guiArgs.surface = window;
        host.interlacer->InitializeGui(guiArgs);

        glfwSetWindowUserPointer(window, &host);
        glfwSetCursorPosCallback(window, OnCursor);
        glfwSetCursorEnterCallback(window, OnCursorEnter);
        glfwSetMouseButtonCallback(window, OnMouseButton);
        glfwSetScrollCallback(window, OnScroll);
        glfwSetKeyCallback(window, OnKey);
        glfwSetCharCallback(window, OnChar);
        glfwSetWindowFocusCallback(window, OnFocus);
        glfwSetFramebufferSizeCallback(window, OnFramebufferSize);

        bool shown = host.interlacer->IsGuiVisible();
        bool sharpening = sdk->IsSharpeningEnabled();
        std::printf("overlay: %s\nsharpening: %s\n", shown ? "shown" : "hidden",
                    sharpening ? "on" : "off");
        auto render = [&] {
            glfwGetFramebufferSize(window, &fbWidth, &fbHeight);
            const int views = host.interlacer->GetNumViews();
            for (int view = 0; view < views; ++view) {
                RenderView(bindFramebuffer, host.interlacer->GetRenderTargetForView(view),
                           sdk->GetViewResolutionX(), sdk->GetViewResolutionY(),
                           host.interlacer->GetViewOffset(view).x, glfwGetTime());
            }
            host.interlacer->DoPostProcess(fbWidth, fbHeight, false, 0);
        };
        for (long frame = 0; options.frames < 0 || frame < options.frames; ++frame) {
            glfwPollEvents();
            if (glfwWindowShouldClose(window)) {
                break;
            }
            render();
            glfwSwapBuffers(window);
            if (frame == 0) {
                std::printf("ready\n");
            }
            if (host.interlacer->IsGuiVisible() != shown) {
                shown = !shown;
                std::printf("overlay: %s\n", shown ? "shown" : "hidden");
            }
            if (sdk->IsSharpeningEnabled() != sharpening) {
                sharpening = !sharpening;
                std::printf("sharpening: %s\n", sharpening ? "on" : "off");
            }
            std::fflush(stdout);
        }
        // The screenshot is of one more frame, whatever ended the loop.
        if (!options.screenshot.empty()) {
            render();
            if (!SaveScreenshot(options.screenshot, fbWidth, fbHeight)) {
                std::fprintf(stderr, "could not write %s\n", options.screenshot.c_str());
                exitCode = 1;
            }
        }
        host.interlacer->Shutdown();
        sdk->Shutdown();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavo-window-example: %s\n", e.what());
        exitCode = 1;
    }
    sdk->Destroy();
    glfwDestroyWindow(window);
    glfwTerminate();
    return exitCode;
}
