// The face tracking service: the engine built from the display configuration, and the
// primary face that rendering asks for.
#include "tavo/sdk/faceTracking.h"

#include <exception>

#include <spdlog/spdlog.h>

#include "tavo/common/exception.h"
#include "tavo/common/platform.h"
#include "tavo/common/utilities.h"
#include "tavo/device/config.h"
#include "tavo/headTracking/common/frameAdapter.h"
#include "tavo/headTracking/engine/engine.h"
#include "tavo/sdk/faceTrackingCallback.h"

namespace tavo::sdk {

FaceTracking::FaceTracking() = default;

// The engine goes first, before any member: a frame still arriving (a host camera pushing
// during destruction) runs the frame handler, which uses the locks, the face and the callback.
// Destroying the engine stops delivery and waits for the frame under way.
FaceTracking::~FaceTracking() {
    engine_.reset();
    frameAdapter_.reset();
}

bool FaceTracking::Start(Platform* platform, AssetManager* assetManager,
                         const device::Config& config) {
    if (engine_) {
        return true;
    }
    spdlog::info("Starting face tracking");
    try {
        InitBackend(platform, assetManager, config);
    } catch (const std::exception& error) {
        spdlog::error("Failed to initialize face tracking backend: {}", error.what());
        Stop();
        return false;
    }
    return true;
}

void FaceTracking::InitBackend(Platform* platform, AssetManager* assetManager,
                               const device::Config& config) {
    // An engine still running here would keep pushing into the adapter about to be replaced,
    // and its shared camera would empty the sink that the new engine's camera has just filled.
    engine_.reset();

    head::EngineInitArgs args;
    frameAdapter_ = std::make_unique<head::FrameAdapter>(
        [this](const head::Frame& frame) { OnFrame(frame); }, true);
    args.frameAdapter = frameAdapter_.get();

    spdlog::info("[FaceTracking] using in-app implementation");
    // Frames from the host's own camera need no RealSense attached.
    if (sharedCameraSink_ == nullptr && !head::IsCameraConnected()) {
        throw Exception("camera is not connected",
                        TAVO_LOCATION("tavo::sdk::FaceTracking::InitBackend"));
    }

    args.platform = platform;
    args.assetManager = assetManager;
    args.sharedCameraSink = sharedCameraSink_;
    head::EngineConfiguration& configuration = args.configuration;
    configuration.faceTracker.cameraPosition = config.cameraCenter;
    configuration.faceTracker.cameraRotation =
        GetRotationMatFromRodriguesNotation(config.cameraTheta);
    configuration.faceTracker.filterProperties.kalman.a = config.kalmanA;
    configuration.faceTracker.filterProperties.kalman.b = glm::vec3(config.kalmanB);
    configuration.faceDetector.maxNumOfFaces = 0;
    configuration.faceDetector.backend = backend_;
    configuration.camera.width = config.camera.width;
    configuration.camera.height = config.camera.height;
    configuration.camera.fps = config.camera.fps;
    configuration.camera.binningFactor = config.camera.binningFactor;
    configuration.enableProfiling = profiling_;

    engine_ = std::make_unique<head::Engine>(args);
    if (running_) {
        engine_->StartTracking();
    }
}

void FaceTracking::Stop() {
    engine_.reset();
    frameAdapter_.reset();
    sharedCameraSink_ = nullptr;
    std::lock_guard lock(faceLock_);
    hasFace_ = false;
}

void FaceTracking::SetRunning(bool run) {
    if (engine_) {
        if (run) {
            engine_->StartTracking();
        } else {
            engine_->StopTracking();
            std::lock_guard lock(faceLock_);
            hasFace_ = false;
        }
    }
    running_ = run;
}

void FaceTracking::OnFrame(const head::Frame& frame) {
    {
        std::lock_guard lock(faceLock_);
        const Slice<const head::Face> faces = frame.faces();
        hasFace_ = !faces.empty();
        if (hasFace_) {
            primaryFace_.position = faces[0].position;
            primaryFace_.velocity = faces[0].velocity;
            faceTimestamp_ = frame.timestamp();
        }
    }
    std::lock_guard lock(callbackLock_);
    if (callback_ != nullptr) {
        callback_->OnFrame(frame);
    }
}

bool FaceTracking::GetPredictedPrimaryFace(Platform& platform, float delayMs,
                                           glm::vec3& out) const {
    head::MovingPoint face;
    Timestamp timestamp;
    {
        std::lock_guard lock(faceLock_);
        if (!hasFace_) {
            return false;
        }
        face = primaryFace_;
        timestamp = faceTimestamp_;
    }
    float dt = delayMs;
    // Only the platform clock can be compared with the frame's time stamp.
    if (timestamp.space == Timestamp::Space::System) {
        const double now = static_cast<double>(platform.GetTimeNs() / 1000) / 1000.0;
        const double latency = now - timestamp.ms;
        spdlog::debug("[FaceTracking] Frame latency: {}", latency);
        dt = static_cast<float>(latency) + delayMs;
    }
    out = face.position + face.velocity * dt;
    return true;
}

bool FaceTracking::GetNonPredictedPrimaryFace(glm::vec3& out) const {
    std::lock_guard lock(faceLock_);
    if (hasFace_) {
        out = primaryFace_.position;
    }
    return hasFace_;
}

void FaceTracking::SetPrimaryFace(const head::MovingPoint* movingPoint,
                                  const Timestamp* timestamp) {
    std::lock_guard lock(faceLock_);
    if (movingPoint != nullptr && timestamp != nullptr) {
        primaryFace_ = *movingPoint;
        faceTimestamp_ = *timestamp;
        hasFace_ = true;
    } else {
        hasFace_ = false;
    }
}

void FaceTracking::SetCallback(CTavoSDKFaceTrackingCallback* callback) {
    std::lock_guard lock(callbackLock_);
    callback_ = callback;
}

void FaceTracking::SetSharedCameraSink(SharedCameraSink* sink) {
    sharedCameraSink_ = sink;
}

void FaceTracking::SetFaceDetectorBackend(tavo_face_detector_backend_e backend) {
    backend_ = backend;
    if (engine_) {
        engine_->SetFaceDetectorBackend(backend);
    }
}

tavo_face_detector_backend_e FaceTracking::GetFaceDetectorBackend() const {
    if (!engine_) {
        throw Exception("Face tracking must be enabled to determine backend.",
                        TAVO_LOCATION("tavo::sdk::FaceTracking::GetFaceDetectorBackend"));
    }
    return engine_->GetFaceDetectorBackend();
}

void FaceTracking::SetProfiling(bool on) {
    profiling_ = on;
    if (engine_) {
        engine_->SetProfiling(on);
    }
}

bool FaceTracking::GetProfiling(head::FrameProfiling& out) const {
    if (!frameAdapter_) {
        return false;
    }
    const head::BufferedFrame frame = frameAdapter_->GetFrame();
    out = frame.profiling();
    return out.apiTimestamp > 0;
}

bool FaceTracking::GetLatestFrame(head::BufferedFrame& out) const {
    if (!frameAdapter_) {
        out = head::BufferedFrame();
        return false;
    }
    out = frameAdapter_->GetFrame();
    return true;
}

int32_t FaceTracking::GetCameraFps() const {
    return engine_ ? engine_->GetCameraFps() : 0;
}

bool FaceTracking::SetCameraFps(int32_t fps) {
    return engine_ ? engine_->SetCameraFps(fps) : false;
}

Slice<const int32_t> FaceTracking::GetSupportedCameraFps() const {
    return engine_ ? engine_->GetSupportedCameraFps() : Slice<const int32_t>{};
}

uint32_t FaceTracking::GetSupportedBackends() const {
    return supportedBackends_;
}

void FaceTracking::SetSupportedBackends(uint32_t backends) {
    supportedBackends_ = backends;
}

}  // namespace tavo::sdk
