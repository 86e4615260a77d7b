// The debug overlay's Dear ImGui wrapper and the records a host sets the overlay up with.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "tavo/common/export.h"

struct ImGuiContext;

namespace tavo::sdk {

// The host window that receives the overlay's input (the HWND of Win32 hosts). The overlay only
// requires it to be set; what it points to is the host's.
using WindowHandle = void*;

// What a host gives the overlay.
struct GuiInitArgs {
    // UI scale of fonts and sizes; 0 means 5.0.
    float scale = 0.0f;
    // Must be set.
    WindowHandle surface = nullptr;
};

// The debug menu's set-up: the overlay's arguments and the host's own menu section.
struct DebugMenuInitArgs : GuiInitArgs {
    // Called once per drawn frame inside the menu's window after its own sections, on the
    // render thread with the menu's frame open. May be empty. It must not wait for another
    // render thread: overlays draw one at a time.
    std::function<void()> customMenuCallback;
};

// One Dear ImGui context with the overlay's platform backend (window messages in the Win32
// numeric convention, tavo/sdk/windowMessages.h) and ImGui's OpenGL 3 renderer.
//
// Threads: made, framed and destroyed on one render thread, whose OpenGL context must be
// current for the constructor, NewFrame, Render and the destructor. NewFrame and Render throw
// tavo::Exception on any other thread. ProcessInput and the visibility may come from any
// thread. The ImGui library in use keeps one current context per process, so every overlay of
// the process draws under one process-wide lock, taken by NewFrame and released by Render;
// no context is current outside a frame.
class TAVO_API Gui {
  public:
    // What a forwarded message did: `handled` when the overlay turned it into input, and the
    // overlay's wishes after it (a host leaves captured mouse and keyboard input to it).
    struct InputState {
        bool handled = false;
        bool wantCaptureMouse = false;
        bool wantCaptureKeyboard = false;
        bool wantTextInput = false;
    };

    // The platform backend's state; opaque outside the implementation.
    struct Backend;

    // Throws tavo::Exception without a surface or when a backend cannot be set up.
    explicit Gui(const GuiInitArgs& args);
    Gui(const Gui&) = delete;
    Gui& operator=(const Gui&) = delete;
    ~Gui();

    // Starts a UI frame of `width` x `height` pixels when visible; false (and nothing started)
    // when hidden. A true result must be followed by Render on this thread.
    bool NewFrame(int width, int height);
    // Ends the frame and draws it into the bound framebuffer; nothing without an open frame.
    void Render();
    // Forwards one window message; all false while hidden.
    InputState ProcessInput(WindowHandle window, unsigned message, unsigned long long wParam,
                            long long lParam);

    bool IsVisible() const { return visible_.load(); }
    void SetVisible(bool visible) { visible_.store(visible); }

    // The ImGui context, for code that draws inside an open frame.
    ImGuiContext* context() const { return context_; }

  private:
    friend class DebugMenu;

    void RequireOwnThread(const char* signature, int line) const;
    // Closes an open frame without drawing it, after a failure inside it.
    void AbandonFrame();

    std::atomic<bool> visible_{true};
    ImGuiContext* context_ = nullptr;
    std::thread::id thread_;
    std::unique_ptr<Backend> backend_;
};

}  // namespace tavo::sdk
