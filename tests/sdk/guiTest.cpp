// The debug overlay on Mesa: the frame protocol and ImGui contexts (two render threads at
// once), a hidden overlay, input routing, and the debug menu's controls driven by clicks fed as
// window messages at the places ImGui reports for its widgets.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <spdlog/spdlog.h>

#include "opengl/eglContext.h"
#include "sdk/sdkTestSupport.h"
#include "tavo/common/log.h"
#include "tavo/opengl/gl.h"
#include "tavo/sdk/gui.h"
#include "tavo/sdk/internal/debugMenu.h"
#include "tavo/sdk/windowMessages.h"

namespace tavo::sdk {
namespace {

namespace gl = tavo::gl;
namespace win32 = tavo::sdk::win32;
using tavo::test::Image;
using test::Access;

constexpr int kWidth = 360;
constexpr int kHeight = 520;
constexpr eTavoTaskResponsibility kOurs = kTavoTaskResponsibilityInterlacer;
const std::string kTitle = std::string("TavoSDK [") + tavoSdkGetVersion() + "]";

device::Config SmallPanel(device::Config config) {
    config.panelResolution = {kWidth, kHeight};
    config.viewResolution = {32, 16};
    return config;
}

struct Output {
    GLuint framebuffer = 0;
    GLuint texture = 0;

    void Make() {
        gl::GenFramebuffers(1, &framebuffer);
        gl::BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl::GenTextures(1, &texture);
        gl::BindTexture(GL_TEXTURE_2D, texture);
        gl::TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kWidth, kHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                       nullptr);
        gl::FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        gl::BindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    Image Read() const {
        gl::BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        Image image = tavo::test::ReadPixels(kWidth, kHeight);
        gl::BindFramebuffer(GL_FRAMEBUFFER, 0);
        return image;
    }
};

// Counts the pixels that differ between two images inside and outside a rectangle given in
// window coordinates (top-left origin, as ImGui places things).
struct Difference {
    int inside = 0;
    int outside = 0;
};

Difference Compare(const Image& a, const Image& b, const DebugMenu::Item& rect) {
    Difference d;
    for (int row = 0; row < a.height; ++row) {
        const int y = a.height - 1 - row;  // the read rows start at the bottom
        for (int x = 0; x < a.width; ++x) {
            const size_t at = static_cast<size_t>((row * a.width + x) * 4);
            const bool same = a.pixels.compare(at, 4, b.pixels, at, 4) == 0;
            const bool in = x >= rect.minX - 1 && x <= rect.maxX + 1 && y >= rect.minY - 1 &&
                            y <= rect.maxY + 1;
            if (!same) {
                (in ? d.inside : d.outside) += 1;
            }
        }
    }
    return d;
}

// A render thread's side of the overlay: its interlacer, output and the messages it feeds.
class Overlay {
  public:
    // `quiet` keeps the set-up's printout out of the test's output; only one thread at a time
    // may capture it.
    explicit Overlay(ITavoSDK& sdk, float scale = 1.0f, bool quiet = true) : sdk_(sdk) {
        interlacer_ = sdk.CreateNewThreadedInterlacer({});
        if (quiet) {
            ::testing::internal::CaptureStdout();
        }
        interlacer_->InitializeOpenGL(nullptr, kOurs, kOurs, kOurs);
        if (quiet) {
            ::testing::internal::GetCapturedStdout();
        }
        output_.Make();
        DebugMenuInitArgs args;
        args.scale = scale;
        args.surface = &window_;
        interlacer_->InitializeGui(args);
        menu()->RecordItems(true);
        // ImGui sizes a new auto-resizing window in its first frame without showing it.
        Frame();
        Frame();
    }
    ~Overlay() {
        interlacer_->Shutdown();
        sdk_.DestroyThreadedInterlacer(interlacer_);
    }

    ThreadedInterlacer& interlacer() { return *interlacer_; }
    DebugMenu* menu() { return Access::menu(*interlacer_); }
    Image Read() const { return output_.Read(); }

    void Frame() { interlacer_->DoPostProcess(kWidth, kHeight, false, output_.framebuffer); }

    Gui::InputState Send(unsigned message, unsigned long long wParam = 0, long long lParam = 0) {
        return interlacer_->ProcessGuiInput(&window_, message, wParam, lParam);
    }

    // The widget of the last frame whose label is `label`, or starts with it when `prefix`.
    const DebugMenu::Item* Find(const std::string& label, bool prefix = false) {
        for (const DebugMenu::Item& item : menu()->items()) {
            if (prefix ? item.label.rfind(label, 0) == 0 : item.label == label) {
                return &item;
            }
        }
        return nullptr;
    }

    // A left click at the middle of `label`'s widget in the last frame, pressed and released
    // between two frames as a quick click comes; the menu acts on it within the two frames
    // that follow, and a third shows the result.
    ::testing::AssertionResult Click(const std::string& label, bool prefix = false) {
        const DebugMenu::Item* item = Find(label, prefix);
        if (item == nullptr) {
            return ::testing::AssertionFailure() << "no widget \"" << label << "\" in " << Labels();
        }
        const int x = static_cast<int>((item->minX + item->maxX) / 2);
        const int y = static_cast<int>((item->minY + item->maxY) / 2);
        Send(win32::kWmMouseMove, 0, win32::MakePointLParam(x, y));
        Send(win32::kWmLButtonDown, 0, win32::MakePointLParam(x, y));
        Send(win32::kWmLButtonUp, 0, win32::MakePointLParam(x, y));
        Frame();
        Frame();
        Frame();
        return ::testing::AssertionSuccess();
    }

    std::string Labels() {
        std::string all;
        for (const DebugMenu::Item& item : menu()->items()) {
            all += "\"" + item.label + "\" ";
        }
        return all;
    }

  private:
    ITavoSDK& sdk_;
    ThreadedInterlacer* interlacer_ = nullptr;
    Output output_;
    int window_ = 0;
};

class GuiTest : public test::SdkTest {
  protected:
    void SetUp() override {
        test::SdkTest::SetUp();
        ASSERT_TRUE(egl_.ok()) << egl_.error();
        ConnectPanel();
        InitializeWithoutTracking();
        // Slow sanitizer runs would otherwise reach the no-face state, which changes the
        // output and refuses backlight requests.
        impl().SetNoFaceModeEnabled(false);
        ::testing::internal::CaptureStdout();
        sdk_->SetConfig(SmallPanel(sdk_->GetConfig()));
        ::testing::internal::GetCapturedStdout();
        overlay_ = std::make_unique<Overlay>(*sdk_);
        previousLevel_ = spdlog::get_level();
    }

    void TearDown() override {
        overlay_.reset();
        spdlog::set_level(previousLevel_);
        test::SdkTest::TearDown();
    }

    tavo::test::EglContext egl_;
    std::unique_ptr<Overlay> overlay_;
    spdlog::level::level_enum previousLevel_ = spdlog::level::info;
};

TEST_F(GuiTest, SetUpNeedsASurfaceAndKeepsTheFirstMenu) {
    ThreadedInterlacer& interlacer = overlay_->interlacer();
    DebugMenu* first = overlay_->menu();
    interlacer.InitializeGui(DebugMenuInitArgs{{2.0f, &interlacer}, {}});
    EXPECT_EQ(overlay_->menu(), first);

    interlacer.ShutdownGui();
    EXPECT_EQ(overlay_->menu(), nullptr);
    EXPECT_FALSE(interlacer.ToggleGui());
    EXPECT_FALSE(interlacer.IsGuiVisible());
    EXPECT_FALSE(interlacer.ProcessGuiInput(nullptr, win32::kWmMouseMove, 0, 0).handled);

    try {
        interlacer.InitializeGui(DebugMenuInitArgs{});
        FAIL() << "a menu without a surface";
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find(
                      "Failed to initialize win32 ImGui impl: surface must be set in "
                      "tavo::sdk::InitializeImGuiPlatformBackend tavo/sdk/gui"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(overlay_->menu(), nullptr);
    EXPECT_THROW(Gui(GuiInitArgs{-1.0f, &interlacer}), Exception);
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr) << "a failed set-up leaves nothing current";

    // A scale of 0 means 5.
    Gui gui(GuiInitArgs{0.0f, &interlacer});
    EXPECT_FLOAT_EQ(gui.context()->IO.FontGlobalScale, 5.0f);
    EXPECT_FLOAT_EQ(gui.context()->Style.FramePadding.x, 4.0f * 5.0f);

    // The overlay belongs to its render thread.
    std::thread([&] {
        EXPECT_THROW(gui.NewFrame(10, 10), Exception);
        EXPECT_THROW(gui.Render(), Exception);
        EXPECT_THROW(interlacer.ToggleGui(), Exception);
        EXPECT_THROW(interlacer.RenderGui(10, 10), Exception);
        EXPECT_THROW(interlacer.InitializeGui(DebugMenuInitArgs{{1.0f, &interlacer}, {}}),
                     Exception);
    }).join();
}

TEST_F(GuiTest, TheOverlayDrawsItsWindowOverTheOutputAndNothingWhileHidden) {
    overlay_->Frame();
    const DebugMenu::Item* window = overlay_->Find(kTitle);
    ASSERT_NE(window, nullptr) << overlay_->Labels();
    const DebugMenu::Item rect = *window;
    ImGuiContext* context = overlay_->menu()->gui().context();
    const Image shown = overlay_->Read();

    EXPECT_FALSE(overlay_->interlacer().ToggleGui());
    EXPECT_FALSE(overlay_->interlacer().IsGuiVisible());
    const int frames = context->FrameCount;
    const ImVec2 mouse = context->IO.MousePos;
    const Gui::InputState state =
        overlay_->Send(win32::kWmMouseMove, 0, win32::MakePointLParam(100, 100));
    EXPECT_FALSE(state.handled || state.wantCaptureMouse || state.wantCaptureKeyboard ||
                 state.wantTextInput);
    EXPECT_EQ(context->IO.MousePos.x, mouse.x) << "input passes a hidden overlay untouched";
    overlay_->Frame();
    EXPECT_EQ(context->FrameCount, frames) << "a hidden overlay starts no ImGui frame";
    const Image hidden = overlay_->Read();

    // Without an overlay at all the output is the same as with a hidden one.
    overlay_->interlacer().ShutdownGui();
    overlay_->Frame();
    EXPECT_EQ(tavo::test::CompareImages(overlay_->Read(), hidden, 0, "GuiHiddenVsNone"), "");

    const Difference d = Compare(shown, hidden, rect);
    EXPECT_GT(d.inside, static_cast<int>((rect.maxX - rect.minX) * (rect.maxY - rect.minY) / 2))
        << "the window covers its place";
    EXPECT_EQ(d.outside, 0) << "and nothing else";
}

TEST_F(GuiTest, MessagesBecomeInputAndTheOverlaySaysWhatItWants) {
    overlay_->Frame();
    const DebugMenu::Item* header = overlay_->Find("Toggles");
    ASSERT_NE(header, nullptr);
    const long long onHeader = win32::MakePointLParam(static_cast<int>(header->minX) + 5,
                                                      static_cast<int>(header->minY) + 5);
    ImGuiContext* context = overlay_->menu()->gui().context();

    Gui::InputState s = overlay_->Send(win32::kWmMouseMove, 0, onHeader);
    EXPECT_TRUE(s.handled);
    EXPECT_EQ(context->IO.MousePos.x, header->minX + 5);
    EXPECT_EQ(context->IO.MousePos.y, header->minY + 5);
    overlay_->Frame();
    s = overlay_->Send(win32::kWmMouseMove, 0, onHeader);
    EXPECT_TRUE(s.wantCaptureMouse) << "over the window";
    EXPECT_FALSE(s.wantTextInput);

    // Held on a widget, the overlay wants the keyboard as well.
    EXPECT_TRUE(overlay_->Send(win32::kWmLButtonDown, 0, onHeader).handled);
    overlay_->Frame();
    overlay_->Frame();
    s = overlay_->Send(win32::kWmMouseMove, 0, onHeader);
    EXPECT_TRUE(s.wantCaptureMouse);
    EXPECT_TRUE(s.wantCaptureKeyboard);
    EXPECT_TRUE(overlay_->Send(win32::kWmLButtonUp, 0, onHeader).handled);
    overlay_->Frame();
    overlay_->Frame();
    EXPECT_NE(overlay_->Find("Backlight", true), nullptr) << "the header opened on release";

    s = overlay_->Send(win32::kWmMouseMove, 0, win32::MakePointLParam(kWidth - 3, kHeight - 3));
    overlay_->Frame();
    s = overlay_->Send(win32::kWmMouseMove, 0, win32::MakePointLParam(kWidth - 3, kHeight - 3));
    EXPECT_FALSE(s.wantCaptureMouse) << "away from the window";
    EXPECT_FALSE(s.wantCaptureKeyboard);

    // Wheel, keys and characters reach ImGui's input; other messages are not ours.
    EXPECT_TRUE(overlay_->Send(win32::kWmMouseWheel, win32::MakeWheelWParam(-240)).handled);
    EXPECT_FLOAT_EQ(context->IO.MouseWheel, -2.0f);
    EXPECT_TRUE(overlay_->Send(win32::kWmKeyDown, win32::kVkControl).handled);
    EXPECT_TRUE(context->IO.KeyCtrl);
    EXPECT_TRUE(context->IO.KeysDown[win32::kVkControl]);
    EXPECT_TRUE(overlay_->Send(win32::kWmKillFocus).handled);
    EXPECT_FALSE(context->IO.KeyCtrl) << "keys are released with the focus";
    EXPECT_TRUE(overlay_->Send(win32::kWmChar, 'q').handled);
    EXPECT_EQ(context->IO.InputQueueCharacters.Size, 1);
    EXPECT_FALSE(overlay_->Send(win32::kWmKeyDown, 5000).handled) << "no such key";
    EXPECT_FALSE(overlay_->Send(0x0400 /* WM_USER */).handled);
    EXPECT_TRUE(overlay_->Send(win32::kWmSize, 0, win32::MakeSizeLParam(300, 200)).handled);

    // Win32 packing: coordinates are signed 16-bit values.
    EXPECT_EQ(win32::PointX(win32::MakePointLParam(-5, 7)), -5);
    EXPECT_EQ(win32::PointY(win32::MakePointLParam(-5, -7)), -7);
    EXPECT_EQ(win32::WheelDelta(win32::MakeWheelWParam(120)), 120);
}

TEST_F(GuiTest, FramesLeaveNoContextCurrentAndTwoRenderThreadsDrawAtOnce) {
    overlay_->Frame();
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);

    // Two more render threads, each with its own context, interlacer and overlay, drawing
    // frames at the same time as each other.
    constexpr int kFrames = 12;
    std::atomic<int> ready{0};
    std::vector<std::string> failures(2);
    auto renderThread = [&](int index) {
        tavo::test::EglContext context;
        if (!context.ok()) {
            failures[index] = context.error();
            ready.fetch_add(1);
            return;
        }
        Overlay overlay(*sdk_, 1.0f + static_cast<float>(index), false);
        ready.fetch_add(1);
        while (ready.load() < 2) {
            std::this_thread::yield();
        }
        // The current context is one process-wide pointer, and the other thread may be inside
        // its own frame right now; what this thread's frame must not leave behind is its own.
        ImGuiContext* const own = overlay.menu()->gui().context();
        for (int frame = 0; frame < kFrames; ++frame) {
            overlay.Frame();
            if (ImGui::GetCurrentContext() == own) {
                failures[index] += "this overlay's context stayed current after a frame; ";
            }
            overlay.Send(win32::kWmMouseMove, 0, win32::MakePointLParam(70 + frame, 70));
        }
        const DebugMenu::Item* window = overlay.Find(kTitle);
        if (window == nullptr) {
            failures[index] += "no window; ";
            return;
        }
        // The window reached this thread's own output, at this overlay's scale.
        const Image image = overlay.Read();
        const int x = static_cast<int>(window->minX) + 3;
        const int y = kHeight - 1 - (static_cast<int>(window->minY) + 3);
        const unsigned char* pixel = reinterpret_cast<const unsigned char*>(
            &image.pixels[static_cast<size_t>(y * kWidth + x) * 4]);
        if (pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0) {
            failures[index] += "title bar not drawn; ";
        }
        const float titleHeight = 13.0f * (1.0f + static_cast<float>(index)) +
                                  2.0f * 3.0f * (1.0f + static_cast<float>(index));
        if (window->maxY - window->minY < titleHeight) {
            failures[index] += "window smaller than its title bar; ";
        }
    };
    std::thread a(renderThread, 0);
    std::thread b(renderThread, 1);
    a.join();
    b.join();
    EXPECT_EQ(failures[0], "");
    EXPECT_EQ(failures[1], "");
    overlay_->Frame();
    EXPECT_NE(overlay_->Find(kTitle), nullptr) << "this thread's overlay is undisturbed";
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);
}

TEST_F(GuiTest, TogglesActOnTheSdkAndTheInterlacer) {
    TavoSDK& sdk = impl();
    ThreadedInterlacer& interlacer = overlay_->interlacer();
    ASSERT_TRUE(overlay_->Click("Toggles"));
    struct Case {
        const char* label;
        std::function<bool()> state;
    };
    const Case cases[] = {
        {"Backlight", [&] { return sdk.backlightOn(); }},
        {"ACT/Sharpening", [&] { return sdk.IsSharpeningEnabled(); }},
        {"New ACT", [&] { return sdk.newAct(); }},
        {"Bilinear Filtering", [&] { return sdk.IsBilinearFilteringEnabled(); }},
        {"Profiling", [&] { return sdk.profiling(); }},
        {"Med Shader Prec", [&] { return Access::mediumPrecision(interlacer); }},
        {"Single View Mode", [&] { return Access::singleViewMode(interlacer); }},
    };
    for (const Case& c : cases) {
        const bool before = c.state();
        const std::string label = std::string(c.label) + (before ? " [true]" : " [false]");
        EXPECT_TRUE(overlay_->Click(label)) << c.label;
        EXPECT_NE(c.state(), before) << c.label;
        EXPECT_TRUE(overlay_->Click(std::string(c.label) + (before ? " [false]" : " [true]")));
        EXPECT_EQ(c.state(), before) << c.label << " back";
    }
    EXPECT_EQ(log_.Count("NoFaceMode ForceSetBacklight forced on"), 1) << log_.Dump();
}

TEST_F(GuiTest, ModesScaleTypeAndInterlaceModeFollowTheDebugMode) {
    ThreadedInterlacer& interlacer = overlay_->interlacer();
    ASSERT_TRUE(overlay_->Click("Toggles"));
    for (int mode = 0; mode <= 8; ++mode) {
        ::testing::internal::CaptureStdout();
        interlacer.SetShaderDebugMode(static_cast<eTavoShaderDebugMode>(mode));
        ::testing::internal::GetCapturedStdout();
        overlay_->Frame();
        EXPECT_EQ(overlay_->Find("Interlace Mode", true) != nullptr, mode == 0) << mode;
        EXPECT_EQ(overlay_->Find("ScaleType [0]") != nullptr, mode == 6 || mode == 7) << mode;
    }

    // The popup of the stereo modes picks a fit mode.
    ::testing::internal::CaptureStdout();
    interlacer.SetShaderDebugMode(kTavoShaderDebugModeStereoImage);
    ::testing::internal::GetCapturedStdout();
    overlay_->Frame();
    ASSERT_TRUE(overlay_->Click("ScaleType [0]"));
    ASSERT_TRUE(overlay_->Click("CropFill [false]")) << overlay_->Labels();
    EXPECT_EQ(interlacer.GetFitMode(), kFitModeCropFill);
    overlay_->Frame();
    EXPECT_NE(overlay_->Find("ScaleType [2]"), nullptr);
    EXPECT_EQ(overlay_->Find("Fill [false]"), nullptr) << "the popup closed";

    ::testing::internal::CaptureStdout();
    interlacer.SetShaderDebugMode(kTavoShaderDebugModeOff);
    ::testing::internal::GetCapturedStdout();
    overlay_->Frame();
    ASSERT_TRUE(overlay_->Click("Interlace Mode [2]"));
    ASSERT_TRUE(overlay_->Click("View Sliding"));
    EXPECT_EQ(interlacer.GetInterlaceMode(), kTavoInterlaceModeViewSliding);
    overlay_->Frame();
    EXPECT_NE(overlay_->Find("Interlace Mode [1]"), nullptr);
}

TEST_F(GuiTest, ArrowsStepTheirValues) {
    TavoSDK& sdk = impl();
    ThreadedInterlacer& interlacer = overlay_->interlacer();
    struct Case {
        const char* header;  // the section holding the arrow, opened alone
        const char* arrow;
        std::function<double()> value;
        double step;
    };
    const Case cases[] = {
        {nullptr, "centerViewDecrease", [&] { return sdk.GetCenterView(); }, -0.05},
        {nullptr, "centerViewIncrease", [&] { return sdk.GetCenterView(); }, 0.05},
        {nullptr, "baselineScalingDecrease", [&] { return sdk.GetBaselineScaling(); }, -0.1},
        // The right arrow raises the value although its identifier reads "Decrease".
        {nullptr, "baseLineScalingDecrease", [&] { return sdk.GetBaselineScaling(); }, 0.1},
        {"Reconvergence", "reconvergenceIncrease", [&] { return interlacer.GetReconvergence(); },
         0.01},
        {"Reconvergence", "reconvergenceDecrease", [&] { return interlacer.GetReconvergence(); },
         -0.01},
        {"NoFace Mode", "noFaceTimeDecrease", [&] { return sdk.noFaceTimeThreshold(); }, -1.0},
        {"NoFace Mode", "noFaceTimeIncrease", [&] { return sdk.noFaceTimeThreshold(); }, 1.0},
        {"NoFace Mode", "noFaceRangeIncrease", [&] { return sdk.noFaceRange(); }, 0.1},
        {"NoFace Mode", "noFaceRangeDecrease", [&] { return sdk.noFaceRange(); }, -0.1},
        {"Face Tracking", "faceDelayIncrease", [&] { return sdk.faceDelay(); }, 1.0},
        {"Face Tracking", "faceDelayDecrease", [&] { return sdk.faceDelay(); }, -1.0},
    };
    const char* open = nullptr;
    for (const Case& c : cases) {
        if (c.header != nullptr && (open == nullptr || std::string(open) != c.header)) {
            if (open != nullptr) {
                ASSERT_TRUE(overlay_->Click(open));
            }
            ASSERT_TRUE(overlay_->Click(c.header));
            open = c.header;
        }
        const double before = c.value();
        ::testing::internal::CaptureStdout();
        const bool clicked = overlay_->Click(c.arrow);
        ::testing::internal::GetCapturedStdout();
        EXPECT_TRUE(clicked) << c.arrow << " in " << overlay_->Labels();
        EXPECT_NEAR(c.value() - before, c.step, 1e-4) << c.arrow;
    }
    ASSERT_TRUE(overlay_->Click(open));
    ASSERT_TRUE(overlay_->Click("Reconvergence"));
    EXPECT_TRUE(interlacer.IsReconvergenceEnabled()) << "the amount arrows enable reconvergence";
    EXPECT_FLOAT_EQ(sdk.GetConfig().faceDelay, 40.0f);

    // The zoom toggles flip their own switch and enable reconvergence too.
    interlacer.EnableReconvergence(false);
    overlay_->Frame();
    ASSERT_TRUE(overlay_->Click("ZoomX [false]"));
    EXPECT_TRUE(Access::zoomX(interlacer));
    EXPECT_TRUE(Access::zoomXY(interlacer));
    EXPECT_TRUE(interlacer.IsReconvergenceEnabled());
    ASSERT_TRUE(overlay_->Click("ZoomXY [true]"));
    EXPECT_FALSE(Access::zoomXY(interlacer));
}

TEST_F(GuiTest, NoFaceModeAndLogLevel) {
    TavoSDK& sdk = impl();
    ThreadedInterlacer& interlacer = overlay_->interlacer();
    ASSERT_TRUE(overlay_->Click("NoFace Mode"));
    EXPECT_EQ(overlay_->Find("No Faces", true), nullptr);
    // Enabling restarts the no-face time at 0.
    const int64_t before = SteadyNowNs();
    ASSERT_TRUE(overlay_->Click("Enabled [false]"));
    EXPECT_TRUE(sdk.noFaceModeEnabled());
    EXPECT_GE(interlacer.lastFaceTime(), before);
    EXPECT_NE(overlay_->Find("No Faces"), nullptr);
    ASSERT_TRUE(overlay_->Click("Enabled [true]"));
    EXPECT_FALSE(sdk.noFaceModeEnabled());

    ASSERT_TRUE(overlay_->Click("Logging"));
    spdlog::set_level(spdlog::level::info);  // "Info", level 3
    overlay_->Frame();
    ASSERT_TRUE(overlay_->Click("##r"));
    EXPECT_EQ(spdlog::get_level(), spdlog::level::warn);
    ASSERT_TRUE(overlay_->Click("##l"));
    ASSERT_TRUE(overlay_->Click("##l"));
    EXPECT_EQ(spdlog::get_level(), spdlog::level::debug);
    spdlog::set_level(ToSpdlog(7));
    overlay_->Frame();
    ASSERT_TRUE(overlay_->Click("##r"));
    EXPECT_EQ(FromSpdlog(spdlog::get_level()), 7) << "not above Off";
    ASSERT_TRUE(overlay_->Click("##logLevelCombo"));
    ASSERT_TRUE(overlay_->Click(tavo_log_level_to_string(2))) << overlay_->Labels();
    EXPECT_EQ(FromSpdlog(spdlog::get_level()), 2);
}

TEST_F(GuiTest, CameraRatesLayOutInRowsOfFourThenThree) {
    std::vector<int32_t> chosen;
    overlay_->menu()->SetStatusSource([](FaceTrackingStatus& status) {
        status.enabled = true;
        status.running = true;
        status.cameraFps = 30;
        status.supportedCameraFps = {6, 15, 30, 60, 90, 100, 300};
        status.hasBackend = true;
        status.backend = kTavoFaceDetectorBackendCPU;
        status.supportedBackends = kTavoFaceDetectorBackendCPU | kTavoFaceDetectorBackendGPU;
    });
    overlay_->Frame();
    ASSERT_TRUE(overlay_->Click("Face Tracking"));
    ASSERT_TRUE(overlay_->Click("Camera FPS"));
    overlay_->Frame();
    std::vector<float> rows;
    std::vector<int> perRow;
    for (const char* rate : {"6", "15", "30", "60", "90", "100", "300"}) {
        const DebugMenu::Item* item = overlay_->Find(rate);
        ASSERT_NE(item, nullptr) << rate << " in " << overlay_->Labels();
        if (rows.empty() || std::fabs(rows.back() - item->minY) > 0.5f) {
            rows.push_back(item->minY);
            perRow.push_back(0);
        }
        ++perRow.back();
    }
    EXPECT_EQ(perRow, (std::vector<int>{4, 3}));
    ASSERT_TRUE(overlay_->Click("90"));
    EXPECT_EQ(overlay_->Find("90"), nullptr) << "a choice closes the popup";

    // More than one backend: a button opening the backend popup.
    ASSERT_TRUE(overlay_->Click("Backend"));
    overlay_->Frame();
    EXPECT_NE(overlay_->Find("GPU"), nullptr) << overlay_->Labels();
}

TEST_F(GuiTest, FaceTrackingButtonsAndTheFacesOfTheLatestFrame) {
    sdk_->EnableFaceTracking(false);
    ASSERT_TRUE(overlay_->Click("Face Tracking"));
    EXPECT_EQ(overlay_->Find("Faces"), nullptr) << "no faces while disabled";
    ASSERT_TRUE(overlay_->Click("Stop"));
    EXPECT_FALSE(sdk_->IsFaceTrackingRunning());
    ASSERT_TRUE(overlay_->Click("Start"));
    EXPECT_TRUE(sdk_->IsFaceTrackingRunning());

    // Enabling on the host's camera, as a host with its own images does.
    sdk_->PrepareFaceTracking(false, &camera_.sink);
    overlay_->Frame();
    ASSERT_TRUE(overlay_->Click("Enable"));
    ASSERT_TRUE(sdk_->IsFaceTrackingEnabled()) << log_.Dump();
    sdk_->SetProfiling(true);
    ASSERT_TRUE(camera_.PushIntrinsics());
    PushFrames(3);
    overlay_->Frame();
    ASSERT_TRUE(overlay_->Click("Faces"));
    overlay_->Frame();
    EXPECT_NE(overlay_->Find("Num Faces: 1"), nullptr) << overlay_->Labels();
    EXPECT_NE(overlay_->Find("Face Delay"), nullptr) << "profiled frames show their delay";
    ASSERT_TRUE(overlay_->Click("Disable"));
    EXPECT_FALSE(sdk_->IsFaceTrackingEnabled());
    EXPECT_EQ(overlay_->Find("Faces"), nullptr);
    EXPECT_EQ(overlay_->Find("Face Delay"), nullptr) << "no frame without face tracking";
}

TEST_F(GuiTest, ClosingTheWindowHidesTheOverlayUntilToggled) {
    ThreadedInterlacer& interlacer = overlay_->interlacer();
    overlay_->Frame();
    const DebugMenu::Item* window = overlay_->Find(kTitle);
    ASSERT_NE(window, nullptr);
    ImGuiContext* context = overlay_->menu()->gui().context();
    // The close button sits at the right end of the title bar, a font size square inside the
    // frame padding.
    const float size = context->FontSize;
    const int x = static_cast<int>(window->maxX - context->Style.FramePadding.x - size / 2);
    const int y = static_cast<int>(window->minY + context->Style.FramePadding.y + size / 2);
    overlay_->Send(win32::kWmMouseMove, 0, win32::MakePointLParam(x, y));
    overlay_->Frame();
    overlay_->Send(win32::kWmLButtonDown, 0, win32::MakePointLParam(x, y));
    overlay_->Frame();
    overlay_->Send(win32::kWmLButtonUp, 0, win32::MakePointLParam(x, y));
    overlay_->Frame();
    EXPECT_FALSE(interlacer.IsGuiVisible());
    const int frames = context->FrameCount;
    overlay_->Frame();
    EXPECT_EQ(context->FrameCount, frames) << "hidden";
    EXPECT_TRUE(interlacer.ToggleGui());
    overlay_->Frame();
    EXPECT_EQ(context->FrameCount, frames + 1);
    EXPECT_NE(overlay_->Find(kTitle), nullptr);
}

}  // namespace
}  // namespace tavo::sdk
