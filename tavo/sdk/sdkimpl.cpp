// The SDK object: platform, display configuration, face tracking, interlacers, view settings and
// the no-face backlight policy.
#include "tavo/sdk/sdkimpl.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <iostream>
#include <sstream>
#include <thread>

#include <GL/gl.h>
#include <GL/glext.h>
#include <spdlog/spdlog.h>

#include "tavo/device/device.h"
#include "tavo/headTracking/engine/blinkDetector.h"

#ifndef TAVO_VERSION_TEXT
#error "TAVO_VERSION_TEXT must come from the build: the project's one version."
#endif

namespace tavo::sdk {

namespace {

constexpr size_t kInterlacerListCapacity = 20;

const char* OnOff(bool on) {
    return on ? "on" : "off";
}

double Seconds(int64_t ns) {
    return static_cast<double>(ns) / 1e9;
}

// Values that the running tracking engine was built from: a change needs a new engine.
bool TrackingValuesDiffer(const device::Config& a, const device::Config& b) {
    return a.cameraCenter != b.cameraCenter || a.cameraTheta != b.cameraTheta ||
           a.camera.width != b.camera.width || a.camera.height != b.camera.height ||
           a.camera.fps != b.camera.fps || a.camera.binningFactor != b.camera.binningFactor ||
           a.kalmanA != b.kalmanA || a.kalmanB != b.kalmanB;
}

}  // namespace

MLImage::~MLImage() = default;

void Delegate::DidInitialize(ITavoSDK*) {}

ITavoSDK::~ITavoSDK() = default;

TavoSDK::TavoSDK() {
    interlacers_.reserve(kInterlacerListCapacity);
    framePause_.Update([](FramePause& pause) { pause.rendering.reserve(kInterlacerListCapacity); });
    config_.reserved0 = 0.12f;
    config_.kalmanA = glm::vec3(0.02f, 0.05f, 0.2f);
    config_.kalmanB = 0.1f;
    config_.faceDelay = 40.0f;
    config_.reserved1 = 0.6f;
    faceTracking_.SetSupportedBackends(head::GetSupportedFaceDetectorBackends());
}

// Members go in reverse order: face tracking (and its engine) before the interlacers, the
// asset manager and the platform the engine was made with.
TavoSDK::~TavoSDK() = default;

void TavoSDK::RequireInitialized(const char* message, const SourceLocation& location) const {
    if (initialized_.load() == 0) {
        throw Exception(message, location);
    }
}

void TavoSDK::DestroyThreadedInterlacer(ThreadedInterlacer* interlacer) {
    if (interlacer == nullptr) {
        return;
    }
    std::unique_ptr<ThreadedInterlacer> removed;
    {
        std::lock_guard lock(interlacerListLock_);
        const auto found =
            std::find_if(interlacers_.begin(), interlacers_.end(),
                         [interlacer](const auto& p) { return p.get() == interlacer; });
        if (found != interlacers_.end()) {
            removed = std::move(*found);
            interlacers_.erase(found);
        }
    }
    if (!removed) {
        // Deleting what this object never made would corrupt the host's memory.
        spdlog::warn("[TavoSDK] DestroyThreadedInterlacer: interlacer {} is not one of this SDK's",
                     static_cast<const void*>(interlacer));
    }
}

void TavoSDK::Destroy() {
    delete this;
}

void TavoSDK::EnableSharpening(bool enable) {
    sharpening_.store(enable, std::memory_order_relaxed);
    PrintSettings();
}

float TavoSDK::GetBaselineScaling() {
    return baselineScaling_.load(std::memory_order_relaxed);
}

float TavoSDK::GetCenterView() {
    return config_.centerViewNumber + centerViewOffset_.load(std::memory_order_relaxed);
}

float TavoSDK::GetConvergenceDistance() {
    return config_.convergenceDistance;
}

int32_t TavoSDK::GetPanelResolutionX() {
    return config_.panelResolution.x;
}

int32_t TavoSDK::GetPanelResolutionY() {
    return config_.panelResolution.y;
}

int32_t TavoSDK::GetNumViews() {
    return config_.numViews.x;
}

void TavoSDK::GetSharpeningValues(TavoSharpeningValues& values, int32_t width, int32_t height) {
    values.gamma = config_.actGamma;
    values.textureInvSize.x = 1.0f / static_cast<float>(width);
    values.textureInvSize.y = 1.0f / static_cast<float>(height);
    const float beta = config_.actBeta;
    // Lens ratios are small numbers. Beyond this limit (or not a number) they have no integer
    // offsets that a conversion could give without undefined behaviour, or that times 18 fit
    // an int.
    constexpr float kLensRatioLimit = 16777216.0f;
    const bool usableRatios = std::fabs(config_.pOverDu) < kLensRatioLimit &&
                              std::fabs(config_.pOverDv) < kLensRatioLimit;
    const int32_t p = usableRatios ? static_cast<int32_t>(config_.pOverDu) : 0;
    const int32_t q = usableRatios ? static_cast<int32_t>(config_.pOverDv) : 0;
    const int32_t count = std::clamp(config_.viewSharpeningCoefficientsXCount, 0,
                                     device::Config::kMaxSharpeningCoefficients);
    const auto& coefficients = config_.viewSharpeningCoefficientsX;

    float total = 1.0f;
    for (int32_t i = 0; i < count; ++i) {
        total -= beta * coefficients[i];
    }
    values.sharpeningCenter = 1.0f / total;

    values.sharpeningValueCount = 0;
    // Without whole views per pixel column there is no offset to place a weight at.
    if (p == 0) {
        return;
    }
    for (int32_t i = 1; i <= count; ++i) {
        const float weight = coefficients[i - 1] / total;
        if (weight == 0.0f) {
            continue;
        }
        const float x = static_cast<float>(i / p);
        const float y = static_cast<float>((i % p) * q);
        for (const float sign : {1.0f, -1.0f}) {
            if (values.sharpeningValueCount >= TavoSharpeningValues::kMaxValues) {
                return;
            }
            glm::vec4& value = values.sharpeningValues[values.sharpeningValueCount++];
            value.x = sign * x;
            value.y = sign * y;
            value.z = weight;
        }
    }
}

int32_t TavoSDK::GetViewResolutionY() {
    return config_.viewResolution.y;
}

int32_t TavoSDK::GetViewResolutionX() {
    return config_.viewResolution.x;
}

bool TavoSDK::IsBilinearFilteringEnabled() {
    return bilinearFiltering_.load(std::memory_order_relaxed);
}

bool TavoSDK::IsSharpeningEnabled() {
    return sharpening_.load(std::memory_order_relaxed);
}

void TavoSDK::SetBaselineScaling(float scaling) {
    // Negative and NaN alike become 0: std::max would pass NaN through.
    baselineScaling_.store(scaling > 0.0f ? scaling : 0.0f, std::memory_order_relaxed);
    PrintSettings();
}

void TavoSDK::SetCenterView(float centerView) {
    centerViewOffset_.store(centerView - config_.centerViewNumber, std::memory_order_relaxed);
    PrintSettings();
}

void TavoSDK::Shutdown() {
    std::vector<std::unique_ptr<ThreadedInterlacer>> interlacers;
    {
        std::lock_guard lock(interlacerListLock_);
        interlacers.swap(interlacers_);
        interlacers_.reserve(kInterlacerListCapacity);
    }
    interlacers.clear();
    {
        // Whatever was last requested, the panel goes dark.
        std::lock_guard lock(backlightLock_);
        device::SetBacklightMode(platform_.get(), false);
        backlightOn_.store(false);
    }
    std::lock_guard lock(faceTrackingLock_);
    faceTracking_.Stop();
    sharedCameraSink_ = nullptr;
}

void TavoSDK::Tick(float value) {
    RequireInitialized("not initialized", TAVO_LOCATION("tavo::sdk::TavoSDK::Tick"));
    tickValue_.store(value, std::memory_order_relaxed);
}

void TavoSDK::ToggleViewBlending() {
    viewBlending_.store(!viewBlending_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    PrintSettings();
}

void TavoSDK::EnterFrame() {
    const std::thread::id self = std::this_thread::get_id();
    framePause_.WaitThenUpdate([](const FramePause& pause) { return !pause.paused; },
                               [self](FramePause& pause) { pause.rendering.push_back(self); });
}

void TavoSDK::LeaveFrame() {
    const std::thread::id self = std::this_thread::get_id();
    framePause_.Update([self](FramePause& pause) {
        const auto found = std::find(pause.rendering.begin(), pause.rendering.end(), self);
        if (found != pause.rendering.end()) {
            pause.rendering.erase(found);
        }
    });
}

void TavoSDK::PauseFrames() {
    const std::thread::id self = std::this_thread::get_id();
    framePause_.Update([](FramePause& pause) { pause.paused = true; });
    framePause_.WaitUntil([self](const FramePause& pause) {
        return std::all_of(pause.rendering.begin(), pause.rendering.end(),
                           [self](std::thread::id thread) { return thread == self; });
    });
}

void TavoSDK::ResumeFrames() {
    framePause_.Update([](FramePause& pause) { pause.paused = false; });
}

void TavoSDK::SetConfig(const device::Config& config) {
    RequireInitialized("not initialized", TAVO_LOCATION("tavo::sdk::TavoSDK::SetConfig"));
    std::lock_guard serial(setConfigLock_);
    // `config` may be this object's own configuration; compare and copy before it changes.
    const device::Config incoming = config;
    const bool trackingChanged = TrackingValuesDiffer(config_, incoming);

    // Not under the list lock: a frame being waited for may itself need the list (a backlight
    // request, an interlacer made or destroyed), and the frame gate covers every interlacer,
    // whenever it was made.
    PauseFrames();
    // The interlacers must come back even when face tracking throws on its way.
    struct Resume {
        TavoSDK& self;
        ~Resume() { self.ResumeFrames(); }
    };
    {
        Resume resume{*this};
        std::lock_guard lock(faceTrackingLock_);
        const bool restart =
            trackingChanged && !IsFaceTrackingInService() && faceTrackingEnabled_.load();
        if (restart) {
            faceTracking_.Stop();
        }
        config_ = incoming;
        if (restart) {
            // A stop forgets the host's camera; this restart is the SDK's own, so the host's
            // camera stays in use.
            faceTracking_.SetSharedCameraSink(sharedCameraSink_);
            faceTrackingEnabled_.store(StartFaceTrackingLocked());
        }
    }
    PrintSettings();
}

const device::Config& TavoSDK::GetConfig() {
    RequireInitialized("not initialized", TAVO_LOCATION("tavo::sdk::TavoSDK::GetConfig"));
    return config_;
}

void TavoSDK::StartTracking() {
    SetFaceTrackingRunning(true);
    RestartNoFaceClocks();
}

void TavoSDK::StopTracking() {
    SetFaceTrackingRunning(false);
    RestartNoFaceClocks();
}

void TavoSDK::RestartNoFaceClocks() {
    std::lock_guard lock(interlacerListLock_);
    const int64_t now = SteadyNowNs();
    for (const auto& interlacer : interlacers_) {
        interlacer->ResetLastFaceTime(now);
    }
}

void TavoSDK::SetBacklight(bool on) {
    bool refused = false;
    {
        std::lock_guard lock(interlacerListLock_);
        spdlog::info("[TavoSDK] NoFaceMode active interlacers {}", interlacers_.size());
        const int64_t now = SteadyNowNs();
        for (size_t i = 0; i < interlacers_.size(); ++i) {
            const ThreadedInterlacer& interlacer = *interlacers_[i];
            if (interlacer.IsInNoFaceState(now)) {
                spdlog::info(
                    "[TavoSDK] NoFaceMode interlacer {} has reached noface threshold, time since "
                    "last face {} time since last render {}",
                    i, Seconds(now - interlacer.lastFaceTime()),
                    Seconds(now - interlacer.lastRenderTime()));
                refused = true;
                break;
            }
        }
    }
    if (refused) {
        spdlog::info("[TavoSDK] SetBacklight - NoFaceMode preventing backlight from turning {}",
                     OnOff(on));
        return;
    }
    spdlog::info("[TavoSDK] SetBacklight - NoFaceMode not active setting backlight to {}",
                 OnOff(on));
    ForceSetBacklight(on);
}

void TavoSDK::ForceSetBacklight(bool on) {
    std::lock_guard lock(backlightLock_);
    if (backlightOn_.load() == on) {
        return;
    }
    spdlog::info("[TavoSDK] NoFaceMode ForceSetBacklight forced {}", OnOff(on));
    device::SetBacklightMode(platform_.get(), on);
    backlightOn_.store(on);
}

void TavoSDK::SetProfiling(bool enable) {
    std::lock_guard lock(faceTrackingLock_);
    faceTracking_.SetProfiling(enable);
    profiling_.store(enable, std::memory_order_relaxed);
}

void TavoSDK::PrepareFaceTracking(bool enable, SharedCameraSink* sink) {
    std::lock_guard lock(faceTrackingLock_);
    sharedCameraSink_ = sink;
    faceTracking_.SetSharedCameraSink(sink);
    faceTrackingEnabled_.store(enable);
}

void TavoSDK::StartFaceTracking(bool enable, int32_t /*logLevel*/) {
    spdlog::warn("In-app face tracking implementation uses the same log level as the SDK.");
    std::lock_guard lock(faceTrackingLock_);
    faceTrackingEnabled_.store(enable);
    if (enable) {
        faceTrackingEnabled_.store(StartFaceTrackingLocked());
    }
}

void TavoSDK::SetFaceTrackingCallback(CTavoSDKFaceTrackingCallback* callback) {
    faceTracking_.SetCallback(callback);
}

bool TavoSDK::StartFaceTrackingLocked() {
    const bool started = faceTracking_.Start(platform_.get(), assetManager_.get(), config_);
    if (!started) {
        // The failed start forgot the host's camera; so does this copy, or a later restart by
        // SetConfig would switch a depth-camera session over to it.
        sharedCameraSink_ = nullptr;
    }
    return started;
}

bool TavoSDK::EnableFaceTracking(bool enable) {
    RequireInitialized("SDK is not initialized",
                       TAVO_LOCATION("tavo::sdk::TavoSDK::EnableFaceTracking"));
    bool changed = false;
    bool enabled = false;
    {
        std::lock_guard lock(faceTrackingLock_);
        if (enable != faceTrackingEnabled_.load()) {
            changed = true;
            if (enable) {
                faceTrackingEnabled_.store(StartFaceTrackingLocked());
            } else {
                faceTracking_.Stop();
                sharedCameraSink_ = nullptr;
                faceTrackingEnabled_.store(false);
            }
        }
        enabled = faceTrackingEnabled_.load();
    }
    if (changed) {
        PrintSettings();
    }
    return enabled;
}

bool TavoSDK::IsFaceTrackingEnabled() {
    return faceTrackingEnabled_.load();
}

void TavoSDK::SetFaceTrackingRunning(bool run) {
    std::lock_guard lock(faceTrackingLock_);
    faceTracking_.SetRunning(run);
    faceTrackingRunning_.store(run);
}

bool TavoSDK::IsFaceTrackingRunning() {
    return faceTrackingRunning_.load();
}

void TavoSDK::SetFaceDetectorBackend(tavo_face_detector_backend_e backend) {
    std::lock_guard lock(faceTrackingLock_);
    faceTracking_.SetFaceDetectorBackend(backend);
}

tavo_face_detector_backend_e TavoSDK::GetFaceDetectorBackend() {
    std::lock_guard lock(faceTrackingLock_);
    return faceTracking_.GetFaceDetectorBackend();
}

bool TavoSDK::IsUsingGpuFaceDetector() {
    return GetFaceDetectorBackend() == kTavoFaceDetectorBackendGPU;
}

bool TavoSDK::GetPrimaryFace(glm::vec3& face) {
    RequireInitialized("SDK is not initialized",
                       TAVO_LOCATION("tavo::sdk::TavoSDK::GetPrimaryFace"));
    return faceTracking_.GetPredictedPrimaryFace(*platform_, faceDelay(), face);
}

bool TavoSDK::GetNonPredictedPrimaryFace(glm::vec3& face) {
    RequireInitialized("SDK is not initialized",
                       TAVO_LOCATION("tavo::sdk::TavoSDK::GetNonPredictedPrimaryFace"));
    return faceTracking_.GetNonPredictedPrimaryFace(face);
}

float TavoSDK::faceDelay() const {
    // Only ever changed through an atomic reference while readers may run; see SetFaceDelay.
    return std::atomic_ref<float>(const_cast<float&>(config_.faceDelay))
        .load(std::memory_order_relaxed);
}

void TavoSDK::SetFaceDelay(float ms) {
    std::atomic_ref<float>(config_.faceDelay).store(ms, std::memory_order_relaxed);
}

void TavoSDK::ReadFaceTrackingStatus(FaceTrackingStatus& status) {
    std::lock_guard lock(faceTrackingLock_);
    status.enabled = faceTrackingEnabled_.load();
    status.running = faceTrackingRunning_.load();
    status.hasFrame = faceTracking_.GetLatestFrame(status.frame);
    try {
        status.backend = faceTracking_.GetFaceDetectorBackend();
        status.hasBackend = true;
    } catch (const std::exception&) {
        // Not started: the menu leaves the backend out.
        status.hasBackend = false;
    }
    status.supportedBackends = faceTracking_.GetSupportedBackends();
    status.cameraFps = faceTracking_.GetCameraFps();
    const Slice<const int32_t> rates = faceTracking_.GetSupportedCameraFps();
    status.supportedCameraFps.assign(rates.begin(), rates.end());
}

bool TavoSDK::SetCameraFps(int32_t fps) {
    std::lock_guard lock(faceTrackingLock_);
    return faceTracking_.SetCameraFps(fps);
}

bool TavoSDK::GetFaceTrackingProfiling(head::FrameProfiling& profiling) {
    // The frame adapter read here goes away with a stop.
    std::lock_guard lock(faceTrackingLock_);
    return faceTracking_.GetProfiling(profiling);
}

void TavoSDK::SetPrimaryFace(const head::MovingPoint* face, const Timestamp* timestamp) {
    faceTracking_.SetPrimaryFace(face, timestamp);
}

void TavoSDK::InitializePlatform(const PlatformInitArgs& args) {
    // Both are made before either is replaced, so a failure keeps a working pair.
    try {
        std::unique_ptr<Platform> platform = Platform::Create(args);
        std::unique_ptr<AssetManager> assetManager = AssetManager::Create(platform.get());
        assetManager_ = std::move(assetManager);
        platform_ = std::move(platform);
    } catch (const std::exception& error) {
        spdlog::error("[TavoSDK] failed to initialize platform: {}", error.what());
        return;
    }
    // No machine-learning image component exists in this library.
    mlImage_.reset();
}

void TavoSDK::Initialize(Delegate* delegate) {
    if (!platform_) {
        throw Exception("Platform is not initialized",
                        TAVO_LOCATION("tavo::sdk::TavoSDK::Initialize"));
    }
    delegate_ = delegate;
    device::Connect(platform_.get());
    const bool requested = device::RequestConfig(config_, [this](bool) {
        device::PrintConfig(config_);
        initialized_.store(1);
        {
            std::lock_guard lock(faceTrackingLock_);
            if (faceTrackingEnabled_.load()) {
                faceTrackingEnabled_.store(StartFaceTrackingLocked());
            }
        }
        if (delegate_ != nullptr) {
            delegate_->DidInitialize(this);
        }
    });
    if (!requested) {
        throw Exception("Failed to request display config",
                        TAVO_LOCATION("tavo::sdk::TavoSDK::Initialize"));
    }
    PrintSettings();
}

bool TavoSDK::IsInitialized() {
    return initialized_.load() != 0;
}

AssetManager* TavoSDK::GetAssetManager() {
    return assetManager_.get();
}

ThreadedInterlacer* TavoSDK::CreateNewThreadedInterlacer(const ThreadedInterlacerArgs& args) {
    auto interlacer = std::make_unique<ThreadedInterlacer>(*this, args);
    ThreadedInterlacer* result = interlacer.get();
    std::lock_guard lock(interlacerListLock_);
    interlacers_.push_back(std::move(interlacer));
    return result;
}

MLImage* TavoSDK::GetMLImage() {
    return mlImage_.get();
}

void TavoSDK::PrintSettings() {
    std::ostringstream line;
    line << (faceTrackingEnabled_.load() ? " [Face Tracking Enabled]" : " [Face Tracking Disabled]")
         << " [Baseline Scaling: " << baselineScaling_.load(std::memory_order_relaxed) << "]"
         << " [Center View: " << GetCenterView() << "]"
         << " [View Blending: " << (viewBlending_.load(std::memory_order_relaxed) ? "Yes" : "No")
         << "]"
         << " [Sharpening: " << (sharpening_.load(std::memory_order_relaxed) ? "On" : "Off")
         << "]\n";
    // One write, so that lines from several threads do not interleave.
    std::cout << line.str() << std::flush;
}

ITavoSDK* CreateTavoSDK() {
    return new TavoSDK();
}

bool IsFaceTrackingInService() {
    return false;
}

}  // namespace tavo::sdk

int32_t tavo_sdk_image_component_type_size(int32_t componentType) {
    switch (componentType) {
        case kTavoSdkImageComponentTypeUInt8:
            return 1;
        case kTavoSdkImageComponentTypeFloat32:
            return 4;
        default:
            return 0;
    }
}

uint32_t tavo_sdk_image_component_type_to_gl(int32_t componentType) {
    switch (componentType) {
        case kTavoSdkImageComponentTypeUInt8:
            return GL_UNSIGNED_BYTE;
        case kTavoSdkImageComponentTypeFloat32:
            return GL_FLOAT;
        default:
            return 0;
    }
}

int32_t tavo_sdk_image_format_num_components(int32_t format) {
    switch (format) {
        case kTavoSdkImageFormatRGB:
        case kTavoSdkImageFormatBGR:
            return 3;
        case kTavoSdkImageFormatRGBA:
        case kTavoSdkImageFormatBGRA:
            return 4;
        default:
            return 0;
    }
}

uint32_t tavo_sdk_image_format_to_gl(int32_t format) {
    switch (format) {
        case kTavoSdkImageFormatRGB:
            return GL_RGB;
        case kTavoSdkImageFormatRGBA:
            return GL_RGBA;
        case kTavoSdkImageFormatBGR:
            return GL_BGR;
        case kTavoSdkImageFormatBGRA:
            return GL_BGRA;
        default:
            return 0;
    }
}

const char* tavoSdkGetVersion() {
    return TAVO_VERSION_TEXT;
}
