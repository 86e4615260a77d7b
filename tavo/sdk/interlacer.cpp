// The interlacer's thread binding, no-face clocks, frame skeleton and pause handshake.
#include "tavo/sdk/interlacer.h"

#include <spdlog/spdlog.h>

#include "tavo/common/exception.h"
#include "tavo/opengl/glLoader.h"
#include "tavo/sdk/sdkimpl.h"

namespace tavo::sdk {

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
// An interlacer counts as being rendered while frames come at least this often.
constexpr int64_t kRenderingWindowNs = kNsPerSecond / 30;
// Interocular distance behind the usable-range test, mm.
constexpr float kEyeSeparationMm = 63.0f;

int64_t ThresholdNs(double seconds) {
    return static_cast<int64_t>(seconds * static_cast<double>(kNsPerSecond));
}

}  // namespace

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

void ThreadedInterlacer::InitOnDesiredThread() {
    OVR::GLEContext* context = OVR::GLEContext::GetCurrentContext();
    if (context == nullptr) {
        throw Exception("no OpenGL function table for this thread",
                        TAVO_LOCATION("tavo::sdk::ThreadedInterlacer::InitOnDesiredThread"));
    }
    context->Init();
    BindCallingThread();
}

bool ThreadedInterlacer::IsOnSameThread(const std::thread::id& id) const {
    return thread_.load() == id;
}

int ThreadedInterlacer::GetNumViews() const {
    return interlaceMode_ == kTavoInterlaceModeStereoSliding ? 2 : sdk_->config().numViews.x;
}

bool ThreadedInterlacer::IsInNoFaceState(int64_t nowNs) const {
    if (!sdk_->noFaceModeEnabled()) {
        return false;
    }
    const int64_t threshold = ThresholdNs(sdk_->noFaceTimeThreshold());
    return nowNs - lastFaceTime_.load() >= threshold && nowNs - creationTime_ > threshold &&
           nowNs - lastRenderTime_.load() < kRenderingWindowNs;
}

void ThreadedInterlacer::BindCallingThread() {
    thread_.store(std::this_thread::get_id());
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
            self.lastRenderTime_.store(SteadyNowNs());
            self.sdk_->LeaveFrame();
        }
    };
    {
        LeaveFrame leave{*this};
        RefreshFaces(SteadyNowNs());
        if (passes.run != nullptr) {
            passes.run(passes.context);
        }
    }
    ApplyNoFaceBacklightPolicy(SteadyNowNs());
}

void ThreadedInterlacer::RefreshFaces(int64_t nowNs) {
    FaceTracking& faceTracking = sdk_->faceTracking();
    const device::Config& config = sdk_->config();

    glm::vec3 face;
    if (faceTracking.GetNonPredictedPrimaryFace(face)) {
        face_ = face;
    }
    Platform* platform = sdk_->platform();
    glm::vec3 predicted;
    if (platform != nullptr &&
        faceTracking.GetPredictedPrimaryFace(*platform, config.faceDelay, predicted)) {
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
