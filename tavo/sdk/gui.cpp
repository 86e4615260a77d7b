// The debug overlay's ImGui wrapper: its context, the platform backend that turns window
// messages of the Win32 numeric convention into ImGui 1.86 input, ImGui's OpenGL 3 renderer,
// and the process-wide lock under which overlays use ImGui.
#include "tavo/sdk/gui.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include <backends/imgui_impl_opengl3.h>
#include <fmt/format.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <spdlog/spdlog.h>

#include "tavo/common/exception.h"
#include "tavo/sdk/windowMessages.h"

namespace tavo::sdk {

namespace {

constexpr float kDefaultScale = 5.0f;
constexpr int kMouseButtons = 5;
constexpr int kKeys = 512;
static_assert(kKeys == IM_ARRAYSIZE(ImGuiIO{}.KeysDown));
constexpr float kFirstFrameSeconds = 1.0f / 60.0f;
// ImGui requires a positive time step; two frames within one clock tick still get one.
constexpr float kMinFrameSeconds = 1e-6f;

// The ImGui archive keeps its current context in one process-wide pointer, not one per thread,
// so overlays on different render threads take turns: a frame holds this lock from NewFrame to
// Render, and every other use of ImGui takes it for its own duration. Recursive, so that a
// message forwarded or an overlay made while a frame is open on the same thread goes through.
// Never destroyed: an overlay may outlive static destruction in a host that leaks its SDK.
std::recursive_mutex& ImGuiLock() {
    static auto* lock = new std::recursive_mutex();
    return *lock;
}

// Makes `context` current for a scope and puts back what was current before.
class ScopedImGuiContext {
  public:
    explicit ScopedImGuiContext(ImGuiContext* context) : previous_(ImGui::GetCurrentContext()) {
        ImGui::SetCurrentContext(context);
    }
    ScopedImGuiContext(const ScopedImGuiContext&) = delete;
    ScopedImGuiContext& operator=(const ScopedImGuiContext&) = delete;
    ~ScopedImGuiContext() { ImGui::SetCurrentContext(previous_); }

  private:
    ImGuiContext* previous_;
};

void LogRecovery(void* /*userData*/, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    spdlog::warn("[Gui] {}", text);
}

}  // namespace

// The platform backend's state: what the window told us and what ImGui has not seen yet.
struct Gui::Backend {
    // Held from NewFrame to Render.
    std::unique_lock<std::recursive_mutex> frameLock;
    bool frameOpen = false;
    ImGuiContext* previousContext = nullptr;
    bool platformReady = false;
    bool rendererReady = false;

    WindowHandle window = nullptr;
    // From the last size message; used when a frame is started without a size.
    int windowWidth = 0;
    int windowHeight = 0;
    std::chrono::steady_clock::time_point lastFrame{};

    // ImGui 1.86 samples button and key states once per frame, so a press released before
    // the next frame would never be seen. A release of a press no frame has seen yet is held
    // back until the frame after the one that sees the press.
    bool buttonUnseen[kMouseButtons] = {};
    bool buttonReleasePending[kMouseButtons] = {};
    bool keyUnseen[kKeys] = {};
    bool keyReleasePending[kKeys] = {};

    void Press(bool& down, bool& unseen, bool& releasePending) {
        down = true;
        unseen = true;
        releasePending = false;
    }
    void Release(bool& down, bool unseen, bool& releasePending) {
        if (unseen) {
            releasePending = true;
        } else {
            down = false;
        }
    }
    // At each frame: apply the releases held back, then mark every press as seen.
    static void Settle(bool& down, bool& unseen, bool& releasePending) {
        if (releasePending && !unseen) {
            down = false;
            releasePending = false;
        }
        unseen = false;
    }
};

namespace {

void UpdateModifiers(ImGuiIO& io) {
    io.KeyCtrl = io.KeysDown[win32::kVkControl];
    io.KeyShift = io.KeysDown[win32::kVkShift];
    io.KeyAlt = io.KeysDown[win32::kVkMenu];
    io.KeySuper = io.KeysDown[win32::kVkLWin] || io.KeysDown[win32::kVkRWin];
}

int MouseButtonOf(unsigned message) {
    switch (message) {
        case win32::kWmLButtonDown:
        case win32::kWmLButtonDblClk:
        case win32::kWmLButtonUp:
            return 0;
        case win32::kWmRButtonDown:
        case win32::kWmRButtonDblClk:
        case win32::kWmRButtonUp:
            return 1;
        case win32::kWmMButtonDown:
        case win32::kWmMButtonDblClk:
        case win32::kWmMButtonUp:
            return 2;
        default:
            return -1;
    }
}

bool IsButtonDown(unsigned message) {
    switch (message) {
        case win32::kWmLButtonDown:
        case win32::kWmLButtonDblClk:
        case win32::kWmRButtonDown:
        case win32::kWmRButtonDblClk:
        case win32::kWmMButtonDown:
        case win32::kWmMButtonDblClk:
            return true;
        default:
            return false;
    }
}

// Turns one message into ImGui input on the current context; true when it was one of ours.
bool HandleMessage(Gui::Backend& b, unsigned message, unsigned long long wParam, long long lParam) {
    ImGuiIO& io = ImGui::GetIO();
    if (const int button = MouseButtonOf(message); button >= 0) {
        // Win32 button messages carry the pointer position too.
        io.MousePos = ImVec2(static_cast<float>(win32::PointX(lParam)),
                             static_cast<float>(win32::PointY(lParam)));
        if (IsButtonDown(message)) {
            b.Press(io.MouseDown[button], b.buttonUnseen[button], b.buttonReleasePending[button]);
        } else {
            b.Release(io.MouseDown[button], b.buttonUnseen[button], b.buttonReleasePending[button]);
        }
        return true;
    }
    switch (message) {
        case win32::kWmMouseMove:
            io.MousePos = ImVec2(static_cast<float>(win32::PointX(lParam)),
                                 static_cast<float>(win32::PointY(lParam)));
            return true;
        case win32::kWmMouseLeave:
            io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
            return true;
        case win32::kWmMouseWheel:
            io.MouseWheel += static_cast<float>(win32::WheelDelta(wParam)) /
                             static_cast<float>(win32::kWheelDelta);
            return true;
        case win32::kWmMouseHWheel:
            io.MouseWheelH += static_cast<float>(win32::WheelDelta(wParam)) /
                              static_cast<float>(win32::kWheelDelta);
            return true;
        case win32::kWmKeyDown:
        case win32::kWmSysKeyDown:
        case win32::kWmKeyUp:
        case win32::kWmSysKeyUp: {
            if (wParam >= static_cast<unsigned long long>(kKeys)) {
                return false;
            }
            const size_t key = static_cast<size_t>(wParam);
            if (message == win32::kWmKeyDown || message == win32::kWmSysKeyDown) {
                b.Press(io.KeysDown[key], b.keyUnseen[key], b.keyReleasePending[key]);
            } else {
                b.Release(io.KeysDown[key], b.keyUnseen[key], b.keyReleasePending[key]);
            }
            UpdateModifiers(io);
            return true;
        }
        case win32::kWmChar:
            if (wParam == 0 || wParam >= 0x10000) {
                return false;
            }
            io.AddInputCharacterUTF16(static_cast<ImWchar16>(wParam));
            return true;
        case win32::kWmSize:
            b.windowWidth = win32::SizeWidth(lParam);
            b.windowHeight = win32::SizeHeight(lParam);
            return true;
        case win32::kWmKillFocus:
            // Keys released while another window had the focus never reach us.
            std::fill(std::begin(io.KeysDown), std::end(io.KeysDown), false);
            std::fill(std::begin(b.keyReleasePending), std::end(b.keyReleasePending), false);
            UpdateModifiers(io);
            return true;
        default:
            return false;
    }
}

void PlatformNewFrame(Gui::Backend& b, int width, int height) {
    ImGuiIO& io = ImGui::GetIO();
    const int w = width > 0 ? width : b.windowWidth;
    const int h = height > 0 ? height : b.windowHeight;
    io.DisplaySize = ImVec2(static_cast<float>(std::max(w, 0)), static_cast<float>(std::max(h, 0)));

    const auto now = std::chrono::steady_clock::now();
    if (b.lastFrame == std::chrono::steady_clock::time_point{}) {
        io.DeltaTime = kFirstFrameSeconds;
    } else {
        io.DeltaTime =
            std::max(std::chrono::duration<float>(now - b.lastFrame).count(), kMinFrameSeconds);
    }
    b.lastFrame = now;

    for (int i = 0; i < kMouseButtons; ++i) {
        Gui::Backend::Settle(io.MouseDown[i], b.buttonUnseen[i], b.buttonReleasePending[i]);
    }
    for (int i = 0; i < kKeys; ++i) {
        Gui::Backend::Settle(io.KeysDown[i], b.keyUnseen[i], b.keyReleasePending[i]);
    }
    UpdateModifiers(io);
}

void ShutdownImGuiPlatformBackend() {
    ImGuiIO& io = ImGui::GetIO();
    io.BackendPlatformName = nullptr;
    io.BackendPlatformUserData = nullptr;
}

}  // namespace

// The platform backend in place of ImGui's Win32 one, on the current context. Throws when the
// context has no room for it or no window is given.
static void InitializeImGuiPlatformBackend(Gui::Backend& backend, WindowHandle surface) {
    constexpr const char* kFunction = "tavo::sdk::InitializeImGuiPlatformBackend";
    if (surface == nullptr) {
        throw Exception("Failed to initialize win32 ImGui impl: surface must be set",
                        TAVO_LOCATION(kFunction));
    }
    ImGuiIO& io = ImGui::GetIO();
    if (io.BackendPlatformUserData != nullptr) {
        throw Exception("Failed to initialize win32 ImGui impl", TAVO_LOCATION(kFunction));
    }
    backend.window = surface;
    io.BackendPlatformUserData = &backend;
    io.BackendPlatformName = "tavo_win32_messages";
    const std::pair<ImGuiKey_, unsigned> keys[] = {
        {ImGuiKey_Tab, win32::kVkTab},
        {ImGuiKey_LeftArrow, win32::kVkLeft},
        {ImGuiKey_RightArrow, win32::kVkRight},
        {ImGuiKey_UpArrow, win32::kVkUp},
        {ImGuiKey_DownArrow, win32::kVkDown},
        {ImGuiKey_PageUp, win32::kVkPrior},
        {ImGuiKey_PageDown, win32::kVkNext},
        {ImGuiKey_Home, win32::kVkHome},
        {ImGuiKey_End, win32::kVkEnd},
        {ImGuiKey_Insert, win32::kVkInsert},
        {ImGuiKey_Delete, win32::kVkDelete},
        {ImGuiKey_Backspace, win32::kVkBack},
        {ImGuiKey_Space, win32::kVkSpace},
        {ImGuiKey_Enter, win32::kVkReturn},
        {ImGuiKey_Escape, win32::kVkEscape},
        {ImGuiKey_KeyPadEnter, win32::kVkReturn},
        {ImGuiKey_A, 'A'},
        {ImGuiKey_C, 'C'},
        {ImGuiKey_V, 'V'},
        {ImGuiKey_X, 'X'},
        {ImGuiKey_Y, 'Y'},
        {ImGuiKey_Z, 'Z'},
    };
    for (const auto& [imguiKey, virtualKey] : keys) {
        io.KeyMap[imguiKey] = static_cast<int>(virtualKey);
    }
}

Gui::Gui(const GuiInitArgs& args)
    : thread_(std::this_thread::get_id()), backend_(std::make_unique<Backend>()) {
    const float scale = args.scale == 0.0f ? kDefaultScale : args.scale;
    if (!std::isfinite(scale) || scale < 0.0f) {
        // ImGui would stop the process on the sizes this gives.
        throw Exception(fmt::format("GUI scale must be a positive number, not {}", args.scale),
                        TAVO_LOCATION("tavo::sdk::Gui::Gui"));
    }
    std::lock_guard lock(ImGuiLock());
    ScopedImGuiContext restore(nullptr);
    context_ = ImGui::CreateContext();
    ImGui::SetCurrentContext(context_);
    // A failure below leaves nothing behind.
    struct Undo {
        Gui& gui;
        bool done = false;
        ~Undo() {
            if (done) {
                return;
            }
            if (gui.backend_->rendererReady) {
                ImGui_ImplOpenGL3_Shutdown();
            }
            if (gui.backend_->platformReady) {
                ShutdownImGuiPlatformBackend();
            }
            ImGui::DestroyContext(gui.context_);
            gui.context_ = nullptr;
        }
    } undo{*this};

    ImGuiIO& io = ImGui::GetIO();
    // Nothing is written beside the host: no settings file, no log file.
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    io.FontGlobalScale = scale;
    ImGui::GetStyle().ScaleAllSizes(scale);
    ImGui::StyleColorsDark();

    InitializeImGuiPlatformBackend(*backend_, args.surface);
    backend_->platformReady = true;
    if (!ImGui_ImplOpenGL3_Init("#version 330 core")) {
        throw Exception("Failed to initialize OpenGL 3 ImGui impl: no OpenGL 3 context current",
                        TAVO_LOCATION("tavo::sdk::Gui::Gui"));
    }
    backend_->rendererReady = true;
    undo.done = true;
}

Gui::~Gui() {
    if (std::this_thread::get_id() != thread_) {
        spdlog::critical("{} being used on incorrect thread.", __PRETTY_FUNCTION__);
    } else if (backend_->frameOpen) {
        AbandonFrame();
    }
    std::lock_guard lock(ImGuiLock());
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(context_);
    ImGui_ImplOpenGL3_Shutdown();
    ShutdownImGuiPlatformBackend();
    ImGui::DestroyContext(context_);
    ImGui::SetCurrentContext(previous == context_ ? nullptr : previous);
}

void Gui::RequireOwnThread(const char* signature, int line) const {
    if (std::this_thread::get_id() != thread_) {
        throw Exception(fmt::format("{} being used on incorrect thread.", signature),
                        SourceLocation{__FILE__, line, signature});
    }
}

bool Gui::NewFrame(int width, int height) {
    RequireOwnThread(__PRETTY_FUNCTION__, __LINE__);
    if (!visible_.load()) {
        return false;
    }
    Backend& b = *backend_;
    if (b.frameOpen) {
        // A frame started and never rendered (its drawing failed): ImGui needs it closed.
        AbandonFrame();
    }
    b.frameLock = std::unique_lock(ImGuiLock());
    b.previousContext = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(context_);
    try {
        ImGui_ImplOpenGL3_NewFrame();
        PlatformNewFrame(b, width, height);
        ImGui::NewFrame();
    } catch (...) {
        ImGui::SetCurrentContext(b.previousContext);
        b.frameLock.unlock();
        throw;
    }
    b.frameOpen = true;
    return true;
}

void Gui::Render() {
    RequireOwnThread(__PRETTY_FUNCTION__, __LINE__);
    Backend& b = *backend_;
    if (!b.frameOpen) {
        return;
    }
    struct Close {
        Backend& b;
        ~Close() {
            b.frameOpen = false;
            ImGui::SetCurrentContext(b.previousContext);
            b.frameLock.unlock();
        }
    } close{b};
    ImGui::SetCurrentContext(context_);
    ImGui::Render();
    ImDrawData* data = ImGui::GetDrawData();
    if (data != nullptr && data->Valid) {
        ImGui_ImplOpenGL3_RenderDrawData(data);
    }
}

void Gui::AbandonFrame() {
    Backend& b = *backend_;
    if (!b.frameOpen) {
        return;
    }
    ImGui::SetCurrentContext(context_);
    ImGui::ErrorCheckEndFrameRecover(LogRecovery, nullptr);
    ImGui::EndFrame();
    b.frameOpen = false;
    ImGui::SetCurrentContext(b.previousContext);
    b.frameLock.unlock();
}

Gui::InputState Gui::ProcessInput(WindowHandle /*window*/, unsigned message,
                                  unsigned long long wParam, long long lParam) {
    InputState state;
    if (!visible_.load()) {
        return state;
    }
    std::lock_guard lock(ImGuiLock());
    ScopedImGuiContext use(context_);
    state.handled = HandleMessage(*backend_, message, wParam, lParam);
    const ImGuiIO& io = ImGui::GetIO();
    state.wantCaptureMouse = io.WantCaptureMouse;
    state.wantCaptureKeyboard = io.WantCaptureKeyboard;
    state.wantTextInput = io.WantTextInput;
    return state;
}

}  // namespace tavo::sdk
