// Shared pieces of the SDK object and interlacer tests: a driver for render-like threads, a
// fresh display state per test, and an SDK made and released the way a host does.
#pragma once

#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "TavoDisplaySdkControl.h"
#include "device/displayTestState.h"
#include "sdk/faceTrackingTestSupport.h"
#include "tavo/sdk/interlacer.h"
#include "tavo/sdk/sdkimpl.h"
#include "tavo/sdk/tavoSDK.h"

namespace tavo::sdk {

// Drives an interlacer the way its render thread's post-processing will: bound to the calling
// thread, one frame at a time around the test's own passes.
struct ThreadedInterlacerTestAccess {
    static void Bind(ThreadedInterlacer& interlacer) { interlacer.BindCallingThread(); }

    template <typename Passes>
    static void RunFrame(ThreadedInterlacer& interlacer, Passes&& passes) {
        using Stored = std::remove_reference_t<Passes>;
        interlacer.RunFrame(ThreadedInterlacer::FramePasses{
            [](void* context) { (*static_cast<Stored*>(context))(); }, &passes});
    }
    static void RunFrame(ThreadedInterlacer& interlacer) {
        interlacer.RunFrame(ThreadedInterlacer::FramePasses{nullptr, nullptr});
    }

    static glm::vec3 face(const ThreadedInterlacer& interlacer) { return interlacer.face_; }
    static DebugMenu* menu(ThreadedInterlacer& interlacer) { return interlacer.gui_.get(); }
    static bool mediumPrecision(const ThreadedInterlacer& interlacer) {
        return interlacer.mediumPrecision_;
    }
    static bool singleViewMode(const ThreadedInterlacer& interlacer) {
        return interlacer.singleViewMode_.load();
    }
    static bool zoomX(const ThreadedInterlacer& interlacer) {
        return interlacer.reconvergenceZoomX_.load();
    }
    static bool zoomXY(const ThreadedInterlacer& interlacer) {
        return interlacer.reconvergenceZoomXY_.load();
    }
    static glm::vec3 predictedFace(const ThreadedInterlacer& interlacer) {
        return interlacer.predictedFace_;
    }
    static void SetLastRenderTime(ThreadedInterlacer& interlacer, int64_t ns) {
        interlacer.lastRenderTime_.store(ns);
    }
    // The output size the fit modes work from, as the interlaced target would set it.
    static void SetInterlacedSize(ThreadedInterlacer& interlacer, int width, int height) {
        interlacer.interlacedWidth_ = width;
        interlacer.interlacedHeight_ = height;
    }
    static opengl::Shader& interlaceShader(ThreadedInterlacer& interlacer) {
        return interlacer.interlaceShader_;
    }
    static opengl::Shader& sharpenShader(ThreadedInterlacer& interlacer) {
        return interlacer.sharpenShader_;
    }
    static opengl::Shader& sharpenLinearShader(ThreadedInterlacer& interlacer) {
        return interlacer.sharpenLinearShader_;
    }
    static unsigned viewTexture(const ThreadedInterlacer& interlacer, int view) {
        return interlacer.viewTextures_[view];
    }
    static unsigned interlacedFramebuffer(const ThreadedInterlacer& interlacer) {
        return interlacer.interlacedFramebuffer_;
    }
    static int viewsCount(const ThreadedInterlacer& interlacer) { return interlacer.viewsCount_; }
    static glm::ivec2 interlacedSize(const ThreadedInterlacer& interlacer) {
        return {interlacer.interlacedWidth_, interlacer.interlacedHeight_};
    }
};

namespace test {

using Access = ThreadedInterlacerTestAccess;

// Owns what an SDK test shares: the log, a process display state of its own (no display, a
// monitor scan of an empty tree), a USB bus without a depth camera, the scripted detector and a
// host camera. The SDK is made by
// CreateTavoSDK and released with Destroy.
class SdkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(detector_.loaded()) << TAVO_SCRIPTED_PLUGIN;
        ScriptedDetectorScript script;
        script.faces = {ScriptedFace()};
        ASSERT_TRUE(detector_.SetScript(script));
        sdk_ = CreateTavoSDK();
    }

    void TearDown() override {
        if (sdk_ != nullptr) {
            sdk_->Destroy();
        }
    }

    TavoSDK& impl() { return *static_cast<TavoSDK*>(sdk_); }

    // Trace level, so that Platform::Create keeps every line the tests look for.
    void InitializePlatform() {
        PlatformInitArgs args;
        args.logLevel = 1;
        sdk_->InitializePlatform(args);
    }

    // Set-up without face tracking, for tests about other things.
    void InitializeWithoutTracking() {
        sdk_->PrepareFaceTracking(false, nullptr);
        InitializePlatform();
        sdk_->Initialize(nullptr);
    }

    // Face tracking on the host camera, started by Initialize.
    void InitializeWithHostCamera() {
        sdk_->PrepareFaceTracking(true, &camera_.sink);
        InitializePlatform();
        sdk_->Initialize(nullptr);
    }

    // Installs the panel with its monitor, so that backlight requests reach the display.
    void ConnectPanel() {
        display_.AddPanelMonitor();
        TavoDisplaySdk::control::installDisplay(panel_.Bind(), "2.6.0", 1);
    }

    // Pushes frames stamped with the wall clock, as a host camera would.
    void PushFrames(int count) {
        for (int i = 0; i < count; ++i) {
            const double ms = static_cast<double>(impl().platform()->GetTimeNs() / 1000) / 1000.0;
            ASSERT_TRUE(camera_.PushFrame(Timestamp{Timestamp::Space::System, ms}));
        }
    }

    LogCapture log_;
    FakeCameraBus bus_{false};  // no depth camera, whatever this machine has plugged in
    device::test::DisplayTestState display_;
    ScriptedDetectorControl detector_{TAVO_SCRIPTED_PLUGIN};
    HostCamera camera_;
    device::test::ServiceRecord panel_{2.6f};
    ITavoSDK* sdk_ = nullptr;
};

}  // namespace test
}  // namespace tavo::sdk
