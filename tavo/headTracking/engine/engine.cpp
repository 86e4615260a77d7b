// The head tracking engine: set-up, the host's setters, and the per-frame path.
#include "tavo/headTracking/engine/engine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <utility>

#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <glm/mat3x3.hpp>
#include <glm/matrix.hpp>

#include "tavo/common/assetManager.h"
#include "tavo/common/exception.h"
#include "tavo/common/platform.h"
#include "tavo/common/utilities.h"
#include "tavo/headTracking/camera/realsenseCamera.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/headTracking/common/frameAdapter.h"
#include "tavo/headTracking/engine/blinkDetector.h"

namespace tavo::head {

namespace {

constexpr uint32_t kTrackerConfigurationDirty = 1u;
constexpr uint32_t kMaxNumOfFacesDirty = 2u;
constexpr uint32_t kAllDirty = kTrackerConfigurationDirty | kMaxNumOfFacesDirty;

}  // namespace

// The tracking frame of one camera frame, over the live tracker and detector output; it
// exists only while the frame adapter's Push runs.
class Engine::TransientFrame final : public Frame {
  public:
    TransientFrame(const FaceTracker& tracker, const FaceDetector::Output& output,
                   Timestamp timestamp, const FrameProfiling& profiling)
        : tracker_(tracker), output_(output), timestamp_(timestamp), profiling_(profiling) {}

    Slice<const Face> faces() const override { return tracker_.faces(); }
    Timestamp timestamp() const override { return timestamp_; }
    bool faceEverTracked() const override { return tracker_.faceEverTracked(); }
    float delay() const override { return 0.0f; }
    Slice<const RawFace> rawFaces() const override { return tracker_.rawFaces(); }
    Slice<const DetectedFace> detectedFaces() const override {
        return {output_.faces.data(), static_cast<int64_t>(output_.faces.size())};
    }
    FrameProfiling profiling() const override { return profiling_; }

  private:
    const FaceTracker& tracker_;
    const FaceDetector::Output& output_;
    Timestamp timestamp_;
    FrameProfiling profiling_;
};

// One listener call. It counts itself before reading the tracking flag, and StopTracking
// clears the flag before it waits for the count to drop. The count's mutex orders the two
// (see Waitable): a call that counts itself after the waiter looked finds the flag clear, one
// that counted itself before is waited for.
class Engine::FrameScope {
  public:
    explicit FrameScope(const Engine& engine) : engine_(engine), outer_(innermost_) {
        engine_.listenerCalls_.Update([](int32_t& calls) { ++calls; });
        tracking_ = engine_.tracking_.load();
        innermost_ = this;
    }
    ~FrameScope() {
        innermost_ = outer_;
        engine_.listenerCalls_.Update([](int32_t& calls) { --calls; });
    }
    FrameScope(const FrameScope&) = delete;
    FrameScope& operator=(const FrameScope&) = delete;

    bool tracking() const { return tracking_; }

    // Whether the calling thread is inside a listener call of `engine`, however deeply (a
    // callback may push into another engine's shared camera).
    static bool Within(const Engine& engine) {
        for (const FrameScope* scope = innermost_; scope != nullptr; scope = scope->outer_) {
            if (&scope->engine_ == &engine) {
                return true;
            }
        }
        return false;
    }

  private:
    static inline thread_local const FrameScope* innermost_ = nullptr;

    const Engine& engine_;
    const FrameScope* const outer_;
    bool tracking_ = false;
};

Engine::Engine(const EngineInitArgs& args)
    : platform_(args.platform),
      assetManager_(args.assetManager),
      configuration_(args.configuration),
      frameCallback_(args.frameCallback),
      frameAdapter_(args.frameAdapter),
      virtualFaceHook_(args.virtualFaceHook),
      lazyDetector_(args.configuration.initializeFaceDetectorLazily),
      dirtyFlags_(kAllDirty),
      sharedCameraSink_(args.sharedCameraSink) {
    if (platform_ == nullptr) {
        throw Exception("Unexpected EngineInitArgs arguments: platform is not set.",
                        TAVO_LOCATION("tavo::head::Engine::Engine"));
    }
    if (!frameCallback_ && frameAdapter_ == nullptr) {
        throw Exception(
            "Unexpected EngineInitArgs arguments: neither frameCallback nor frameAdapter are "
            "specified. At least one should be.",
            TAVO_LOCATION("tavo::head::Engine::Engine"));
    }
    if (configuration_.faceDetector.backend == kTavoFaceDetectorBackendUnknown) {
        for (const tavo_face_detector_backend_e backend :
             {kTavoFaceDetectorBackendCPU, kTavoFaceDetectorBackendGPU}) {
            if (IsBlinkDetectorBackendSupported(backend)) {
                configuration_.faceDetector.backend = backend;
                break;
            }
        }
        if (configuration_.faceDetector.backend == kTavoFaceDetectorBackendUnknown) {
            throw Exception(
                "No supported face detector backends has been found. Check package integrity.",
                TAVO_LOCATION("tavo::head::Engine::Engine"));
        }
    }
    if (sharedCameraSink_ != nullptr) {
        camera_ = std::make_unique<SharedCamera>(this, sharedCameraSink_);
        cameraCreated_.store(true);
    }
    if (!lazyDetector_) {
        if (!CreateConfiguredDetector()) {
            throw Exception("Failed to create face detector",
                            TAVO_LOCATION("tavo::head::Engine::Engine"));
        }
        if (!camera_) {
            CreateCamera();
        }
    }
    profiling_.store(configuration_.enableProfiling, std::memory_order_relaxed);
    spdlog::info("[Engine] Initialized: {} shared camera",
                 sharedCameraSink_ != nullptr ? "with" : "without");
    spdlog::info("[Engine] configuration: {}", args.configuration);
}

Engine::~Engine() {
    // Frames that arrive from here on are ignored; a shared camera's host thread may still be
    // inside a call when the camera goes, so wait for it before releasing what it uses.
    tracking_.store(false, std::memory_order_seq_cst);
    std::unique_ptr<Camera> camera;
    {
        std::lock_guard<std::mutex> guard(cameraLock_);
        camera = std::move(camera_);
    }
    camera.reset();
    WaitForListenerCalls();
    pendingDetector_.reset();
    tracker_.reset();
    detector_.reset();
    frameCallback_ = nullptr;
    virtualFaceHook_ = nullptr;
    frameLog_.Flush();
}

bool Engine::StartTracking(const TrackingSessionInitArgs& args) {
    spdlog::debug("[Engine] StartTracking({})", args);
    RefuseFromListenerCall("StartTracking", TAVO_LOCATION("tavo::head::Engine::StartTracking"));
    std::unique_lock<std::mutex> state(stateLock_);
    if (tracking_.load()) {
        return false;
    }
    try {
        if (!detector_ && !CreateConfiguredDetector()) {
            throw Exception("Failed to create face detector",
                            TAVO_LOCATION("tavo::head::Engine::StartTracking"));
        }
        FaceTracker::Configuration trackerConfiguration;
        {
            // Read and clear together, so that a setter's change made meanwhile stays pending.
            std::lock_guard<std::mutex> guard(configurationLock_);
            trackerConfiguration = configuration_.faceTracker;
            dirtyFlags_.fetch_and(~kTrackerConfigurationDirty);
        }
        std::unique_ptr<FaceTracker> tracker =
            std::make_unique<FaceTracker>(*detector_, trackerConfiguration);
        {
            std::lock_guard<std::mutex> guard(detectorSwitchLock_);
            tracker->CameraDidChange(cameraIntrinsics_);
        }
        tracker_ = std::move(tracker);

        std::unique_ptr<Camera> dropped;
        bool cameraExists = false;
        {
            std::lock_guard<std::mutex> guard(cameraLock_);
            if (!cameraCreated_.load()) {
                dropped = std::move(camera_);
            }
            cameraExists = camera_ != nullptr;
        }
        // Destroyed outside the lock: a camera's destructor may wait for its thread.
        dropped.reset();
        if (!cameraExists) {
            CreateCamera();
            // A camera made here reports its intrinsics while it is created; the tracker must
            // see them before the first frame.
            std::lock_guard<std::mutex> guard(detectorSwitchLock_);
            tracker_->CameraDidChange(cameraIntrinsics_);
        }

        // Set before capture starts so that no first frame is dropped; cleared again below
        // when the camera cannot start.
        tracking_.store(true, std::memory_order_seq_cst);
        try {
            camera_->StartCapture();
        } catch (...) {
            tracking_.store(false, std::memory_order_seq_cst);
            WaitForListenerCalls();
            throw;
        }
        return true;
    } catch (const std::exception& error) {
        spdlog::error("Failed to start tracking: one of components is corrupted - {}",
                      error.what());
        state.unlock();
        StopTracking();
        throw;
    }
}

bool Engine::StartTracking() {
    spdlog::debug("[Engine] StartTracking");
    return StartTracking(TrackingSessionInitArgs{0});
}

bool Engine::StopTracking() {
    spdlog::debug("[Engine] StopTracking");
    RefuseFromListenerCall("StopTracking", TAVO_LOCATION("tavo::head::Engine::StopTracking"));
    std::lock_guard<std::mutex> state(stateLock_);
    if (!tracking_.load()) {
        return false;
    }
    tracking_.store(false, std::memory_order_seq_cst);

    std::unique_ptr<Camera> dropped;
    {
        std::lock_guard<std::mutex> guard(cameraLock_);
        if (camera_ && (lazyDetector_ || !cameraCreated_.load())) {
            dropped = std::move(camera_);
        }
    }
    try {
        if (dropped) {
            dropped.reset();
        } else if (camera_) {
            camera_->StopCapture();
        }
    } catch (const std::exception& error) {
        // Stopping must not fail; a camera that cannot stop its thread goes on ignored.
        spdlog::error("[Engine] StopTracking: {}", error.what());
    }
    WaitForListenerCalls();
    tracker_.reset();

    std::shared_ptr<FaceDetector> released[2];
    {
        std::lock_guard<std::mutex> guard(detectorSwitchLock_);
        if (lazyDetector_) {
            released[0] = std::move(detector_);
            released[1] = std::move(pendingDetector_);
        } else if (pendingDetector_) {
            // No frame took the switch over; while stopped a switch takes effect at once.
            released[0] = std::move(detector_);
            detector_ = std::move(pendingDetector_);
            detector_->SetCameraIntrinsics(cameraIntrinsics_);
        }
        detectorPending_.store(false);
    }
    // Repeats of per-frame messages still waiting for their count are told now.
    frameLog_.Flush();
    spdlog::trace("[Engine] Tracking has been stopped");
    return true;
}

void Engine::SetCameraPosition(const glm::vec3& position) {
    spdlog::trace("[Engine] SetCameraPosition({})", position);
    std::lock_guard<std::mutex> guard(configurationLock_);
    configuration_.faceTracker.cameraPosition = position;
    dirtyFlags_.fetch_or(kTrackerConfigurationDirty);
}

void Engine::SetCameraRotation(float m00, float m01, float m02, float m10, float m11, float m12,
                               float m20, float m21, float m22) {
    // Arguments are row by row; glm stores columns.
    const glm::mat3 rotation(m00, m10, m20, m01, m11, m21, m02, m12, m22);
    spdlog::trace("[Engine] SetCameraRotation({})", rotation);
    std::lock_guard<std::mutex> guard(configurationLock_);
    configuration_.faceTracker.cameraRotation = rotation;
    dirtyFlags_.fetch_or(kTrackerConfigurationDirty);
}

void Engine::SetCameraTransform(const glm::vec3& position, const glm::vec3& rotation) {
    spdlog::trace("[Engine] SetCameraTransform(position={}, rotation={})", position, rotation);
    const glm::mat3 matrix = GetRotationMatFromRodriguesNotation(rotation);
    std::lock_guard<std::mutex> guard(configurationLock_);
    configuration_.faceTracker.cameraPosition = position;
    configuration_.faceTracker.cameraRotation = matrix;
    dirtyFlags_.fetch_or(kTrackerConfigurationDirty);
}

void Engine::SetFilterProperties(const FaceTracker::FilterProperties& properties) {
    spdlog::trace("[Engine] SetFilterProperties({})", properties);
    std::lock_guard<std::mutex> guard(configurationLock_);
    configuration_.faceTracker.filterProperties = properties;
    dirtyFlags_.fetch_or(kTrackerConfigurationDirty);
}

void Engine::SetTrackedEyes(bool left, bool right) {
    spdlog::trace("[Engine] SetTrackedEyes(.l={}, .r={})", left, right);
    std::lock_guard<std::mutex> guard(configurationLock_);
    configuration_.faceTracker.trackLeftEye = left;
    configuration_.faceTracker.trackRightEye = right;
    dirtyFlags_.fetch_or(kTrackerConfigurationDirty);
}

void Engine::SetMaxNumOfDetectedFaces(int32_t count) {
    spdlog::trace("[Engine] SetMaxNumOfDetectedFaces({})", count);
    const std::shared_ptr<FaceDetector> detector = CurrentDetector();
    const int32_t limit = detector ? detector->GetMaxNumOfFacesLimit() : 0;
    if (count < 1 || !detector || count > limit) {
        throw Exception(fmt::format("Invalid max num of detected faces: must be in [1; {}] "
                                    "range, got {}",
                                    limit, count),
                        TAVO_LOCATION("tavo::head::Engine::SetMaxNumOfDetectedFaces"));
    }
    // Compared with the engine's own wish rather than asked of the detector: the detector may
    // not have received an earlier change yet, and only the frame thread may change it.
    std::lock_guard<std::mutex> guard(configurationLock_);
    if (configuration_.faceDetector.maxNumOfFaces == count) {
        return;
    }
    configuration_.faceDetector.maxNumOfFaces = count;
    dirtyFlags_.fetch_or(kMaxNumOfFacesDirty);
}

int32_t Engine::GetMaxNumOfDetectedFacesLimit() const {
    const std::shared_ptr<FaceDetector> detector = CurrentDetector();
    return detector ? detector->GetMaxNumOfFacesLimit() : 0;
}

bool Engine::SetFaceDetectorBackend(tavo_face_detector_backend_e backend) {
    spdlog::trace("[Engine] SetFaceDetectorBackend({})",
                  tavo_face_detector_backend_to_string(backend));
    if (backend == kTavoFaceDetectorBackendUnknown) {
        return false;
    }
    // From a listener call the state lock is not taken: a StopTracking holding it may be
    // waiting for this very call. The switch is then always left pending, for the next frame
    // or for that stop, which handles a pending detector after its wait; replacing the
    // detector here would free it under the frame that is using its output.
    const bool fromListenerCall = FrameScope::Within(*this);
    std::unique_lock<std::mutex> state(stateLock_, std::defer_lock);
    if (!fromListenerCall) {
        state.lock();
    }
    FaceDetectorConfiguration switched;
    {
        std::lock_guard<std::mutex> guard(configurationLock_);
        configuration_.faceDetector.backend = backend;
        switched = FaceDetectorConfiguration{configuration_.faceDetector.maxNumOfFaces, backend};
    }
    const std::shared_ptr<FaceDetector> current = CurrentDetector();
    if (!current) {
        return true;
    }
    if (current->GetBackend() == backend) {
        // Back to the running backend: a switch still waiting for the frame thread is void.
        std::shared_ptr<FaceDetector> cancelled;
        std::lock_guard<std::mutex> guard(detectorSwitchLock_);
        cancelled = std::move(pendingDetector_);
        detectorPending_.store(false);
        return true;
    }
    std::shared_ptr<FaceDetector> created = CreateDetector(switched);
    if (!created) {
        return false;
    }
    std::shared_ptr<FaceDetector> replaced;
    {
        std::lock_guard<std::mutex> guard(detectorSwitchLock_);
        if (fromListenerCall || tracking_.load()) {
            replaced = std::move(pendingDetector_);
            pendingDetector_ = std::move(created);
            detectorPending_.store(true, std::memory_order_release);
        } else {
            replaced = std::move(detector_);
            detector_ = std::move(created);
            detector_->SetCameraIntrinsics(cameraIntrinsics_);
        }
    }
    return true;
}

tavo_face_detector_backend_e Engine::GetFaceDetectorBackend() const {
    const std::shared_ptr<FaceDetector> detector = CurrentDetector();
    return detector ? detector->GetBackend() : kTavoFaceDetectorBackendUnknown;
}

void Engine::SetProfiling(bool enabled) {
    profiling_.store(enabled, std::memory_order_relaxed);
}

bool Engine::SetCameraFps(int32_t fps) {
    std::lock_guard<std::mutex> guard(cameraLock_);
    return camera_ ? camera_->SetFps(fps) : false;
}

int32_t Engine::GetCameraFps() const {
    std::lock_guard<std::mutex> guard(cameraLock_);
    return camera_ ? camera_->GetFps() : 0;
}

Slice<const int32_t> Engine::GetSupportedCameraFps() const {
    std::lock_guard<std::mutex> guard(cameraLock_);
    return camera_ ? camera_->GetSupportedFps() : Slice<const int32_t>{};
}

void Engine::OnCameraFrameAvailable(Camera* /*camera*/, const CameraFrame& frame) {
    const FrameScope scope(*this);
    const bool hasImage = !frame.imageDescs().empty();
    if (hasImage) {
        spdlog::trace("[Engine] OnCameraFrameAvailable({})", frame);
    } else {
        // The frame's text form names its first image; there is none to name.
        spdlog::trace("[Engine] OnCameraFrameAvailable({{{}}})", frame.timestamp());
    }
    if (!scope.tracking()) {
        return;
    }
    if (!hasImage) {
        if (!inImagelessRun_) {
            inImagelessRun_ = true;
            spdlog::warn("[Engine] Camera frame {} has no image; skipping frames without images",
                         frame.timestamp());
        }
        return;
    }
    inImagelessRun_ = false;
    // A time step with NaN or infinity in it would poison every filter for good.
    if (!std::isfinite(frame.timestamp().ms)) {
        frameLog_.Log(spdlog::level::warn,
                      "[Engine] Dropped camera frame with a non-finite time stamp {}",
                      frame.timestamp());
        return;
    }
    try {
        ProcessFrame(frame);
    } catch (const std::exception& error) {
        frameLog_.Log(spdlog::level::err, "Failed to process frame: {}", error.what());
    }
}

void Engine::OnCameraIntrinsicsChange(Camera* /*camera*/, const CameraIntrinsics& intrinsics) {
    spdlog::trace("[Engine] OnCameraIntrinsicsChange({})", intrinsics);
    const FrameScope scope(*this);
    std::lock_guard<std::mutex> guard(detectorSwitchLock_);
    cameraIntrinsics_ = intrinsics;
    if (scope.tracking()) {
        // Reported on the delivery thread, which owns the tracker while tracking.
        tracker_->CameraDidChange(intrinsics);
    }
    if (detector_) {
        detector_->SetCameraIntrinsics(intrinsics);
    }
}

void Engine::ProcessFrame(const CameraFrame& frame) {
    if (dirtyFlags_.load(std::memory_order_acquire) != 0) {
        ApplyPendingChanges();
    }
    if (detectorPending_.load(std::memory_order_acquire)) {
        TakeOverPendingDetector();
    }

    const Timestamp timestamp = frame.timestamp();
    FrameProfiling profiling{};
    const bool measured = frameAdapter_ != nullptr && profiling_.load(std::memory_order_relaxed);
    FaceDetector::Output* output = nullptr;
    if (measured) {
        // A time stamp too far out for nanoseconds in 64 bits gives no exposure time.
        profiling.cameraExposureTime = TruncateTo<int64_t>(timestamp.ms * 1000000.0).value_or(0);
        profiling.faceDetectorStartTime = platform_->GetTimeNs();
        output = &detector_->Detect(frame);
        profiling.faceDetectorEndTime = platform_->GetTimeNs();
    } else {
        output = &detector_->Detect(frame);
    }
    // A plug-in may return more faces than it was told; the host sized its records by the
    // maximum, and the tracker and the hook rely on it too.
    const size_t maxFaces = static_cast<size_t>(std::max(frameMaxNumOfFaces_, 0));
    if (output->faces.size() > maxFaces) {
        output->faces.resize(maxFaces);
    }

    if (virtualFaceHook_) {
        AddVirtualFaces(frame, *output);
    }
    tracker_->Update(*output, frame, 0.0f);
    if (frameCallback_) {
        frameCallback_(*tracker_, *output, frame);
    }
    if (frameAdapter_ != nullptr) {
        if (measured) {
            profiling.apiTimestamp = platform_->GetTimeNs();
            spdlog::debug("[Engine] profiling={}", profiling);
        }
        const TransientFrame transient(*tracker_, *output, timestamp, profiling);
        frameAdapter_->Push(transient);
    }
}

void Engine::ApplyPendingChanges() {
    std::lock_guard<std::mutex> guard(configurationLock_);
    const uint32_t flags = dirtyFlags_.load(std::memory_order_relaxed);
    // Each bit is cleared once applied, so that a failure leaves only the rest pending.
    if ((flags & kTrackerConfigurationDirty) != 0) {
        tracker_->UpdateConfiguration(configuration_.faceTracker);
        dirtyFlags_.fetch_and(~kTrackerConfigurationDirty);
    }
    if ((flags & kMaxNumOfFacesDirty) != 0) {
        const int32_t count = configuration_.faceDetector.maxNumOfFaces;
        detector_->SetMaxNumOfFaces(count);
        frameMaxNumOfFaces_ = count;
        if (virtualFaceHook_ && virtualFaces_.size() < static_cast<size_t>(std::max(count, 0))) {
            virtualFaces_.resize(static_cast<size_t>(count));
        }
        tracker_->OnMaxNumOfDetectedFacesChange(count);
        dirtyFlags_.fetch_and(~kMaxNumOfFacesDirty);
    }
}

void Engine::TakeOverPendingDetector() {
    std::shared_ptr<FaceDetector> previous;
    std::lock_guard<std::mutex> guard(detectorSwitchLock_);
    if (!pendingDetector_) {
        detectorPending_.store(false);
        return;
    }
    previous = std::move(detector_);
    detector_ = std::move(pendingDetector_);
    detectorPending_.store(false);
    detector_->SetCameraIntrinsics(cameraIntrinsics_);
}

void Engine::AddVirtualFaces(const CameraFrame& frame, FaceDetector::Output& output) {
    const int32_t maxFaces = std::max(frameMaxNumOfFaces_, 0);
    if (virtualFaces_.size() < static_cast<size_t>(maxFaces)) {
        virtualFaces_.resize(static_cast<size_t>(maxFaces));
    }
    VirtualFaceHookContext context;
    context.timestamp = frame.timestamp();
    context.numDetectedFaces = static_cast<int32_t>(output.faces.size());
    context.maxNumOfFaces = maxFaces;
    context.faces = virtualFaces_.data();
    context.numFaces = 0;
    context.replaceDetectedFaces = false;
    if (!virtualFaceHook_(&context)) {
        return;
    }

    const int32_t count = std::clamp(context.numFaces, 0, maxFaces);
    if (context.replaceDetectedFaces) {
        output.faces.clear();
    } else {
        // Detector faces give way so that detected and virtual faces fit the maximum.
        const int32_t detected = static_cast<int32_t>(output.faces.size());
        const int32_t excess = count - maxFaces + detected;
        if (excess > 0) {
            output.faces.resize(static_cast<size_t>(std::max(0, detected - excess)));
        }
    }

    const glm::mat3& rotation = tracker_->configuration().cameraRotation;
    const float determinant = glm::determinant(rotation);
    if (count == 0 || determinant == 0.0f) {
        // A singular camera rotation has no way back into camera space.
        return;
    }
    const glm::mat3 inverse = glm::inverse(rotation);
    const glm::vec3& cameraPosition = tracker_->configuration().cameraPosition;
    for (int32_t i = 0; i < count; ++i) {
        const VirtualFace& face = virtualFaces_[static_cast<size_t>(i)];
        const glm::vec3 offset = face.position - cameraPosition;
        const glm::vec3 point = inverse * glm::vec3(-offset.x, -offset.y, offset.z) / 1000.0f;
        const glm::vec3 halfEyes(face.interocularDistance / 1000.0f / 2.0f, 0.0f, 0.0f);
        DetectedFace detected;
        if (!frame.ProjectPointToPixel(point + halfEyes, detected.leftEyePixel,
                                       detected.leftEyeDepth) ||
            !frame.ProjectPointToPixel(point - halfEyes, detected.rightEyePixel,
                                       detected.rightEyeDepth)) {
            continue;
        }
        output.faces.push_back(detected);
    }
}

std::shared_ptr<FaceDetector> Engine::CreateDetector(
    const FaceDetectorConfiguration& configuration) {
    const BlinkDetectorConfiguration blinkConfiguration{configuration, std::string()};
    if (assetManager_ != nullptr) {
        return CreateBlinkDetector(blinkConfiguration, assetManager_);
    }
    const std::unique_ptr<AssetManager> temporary = AssetManager::Create(platform_);
    return CreateBlinkDetector(blinkConfiguration, temporary.get());
}

bool Engine::CreateConfiguredDetector() {
    FaceDetectorConfiguration configuration;
    {
        std::lock_guard<std::mutex> guard(configurationLock_);
        configuration = configuration_.faceDetector;
    }
    std::shared_ptr<FaceDetector> detector = CreateDetector(configuration);
    if (!detector) {
        return false;
    }
    // A plug-in that honoured a wish beyond its own limit is held to the limit: the first
    // frame tells it so, and frames are cut to it.
    const int32_t maxFaces =
        std::min(detector->GetMaxNumOfFaces(), detector->GetMaxNumOfFacesLimit());
    {
        std::lock_guard<std::mutex> guard(detectorSwitchLock_);
        detector_ = std::move(detector);
    }
    std::lock_guard<std::mutex> guard(configurationLock_);
    configuration_.faceDetector.maxNumOfFaces = maxFaces;
    dirtyFlags_.fetch_or(kMaxNumOfFacesDirty);
    return true;
}

void Engine::CreateCamera() {
    std::unique_ptr<Camera> camera;
    if (sharedCameraSink_ != nullptr) {
        // The host brings its own images: a new shared camera over the same sink, never the
        // RealSense camera.
        camera = std::make_unique<SharedCamera>(this, sharedCameraSink_);
    } else {
        CameraConfiguration cameraConfiguration;
        {
            std::lock_guard<std::mutex> guard(configurationLock_);
            cameraConfiguration = configuration_.camera;
        }
        RealsenseCameraConfiguration configuration;
        configuration.width = cameraConfiguration.width;
        configuration.height = cameraConfiguration.height;
        configuration.fps = cameraConfiguration.fps;
        configuration.binningFactor = cameraConfiguration.binningFactor;
        configuration.dynamicConfiguration.emitter = false;
        configuration.dynamicConfiguration.autoExposure = true;
        configuration.dynamicConfiguration.exposure = 9000.0f;
        configuration.dynamicConfiguration.gain = 50.0f;
        camera = CreateRealsenseCamera(this, configuration);
    }
    std::lock_guard<std::mutex> guard(cameraLock_);
    camera_ = std::move(camera);
    cameraCreated_.store(true);
}

std::shared_ptr<FaceDetector> Engine::CurrentDetector() const {
    std::lock_guard<std::mutex> guard(detectorSwitchLock_);
    return detector_;
}

void Engine::RefuseFromListenerCall(const char* operation, const SourceLocation& location) const {
    if (FrameScope::Within(*this)) {
        throw Exception(fmt::format("{} called from the camera delivery thread, inside this "
                                    "engine's frame or listener call; call it from a host thread",
                                    operation),
                        location);
    }
}

void Engine::WaitForListenerCalls() const {
    listenerCalls_.WaitUntil([](int32_t calls) { return calls == 0; });
}

bool IsCameraConnected() {
    return IsRealsenseCameraConnected();
}

}  // namespace tavo::head
