// Shared pieces of the face tracking service tests: a clock the test sets, log checks, and a
// host camera that pushes frames through a shared camera sink.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <glm/glm.hpp>

#include "headTracking/engine/scriptedDetector.h"
#include "logCapture.h"
#include "tavo/common/platform.h"
#include "tavo/common/utilities.h"
#include "tavo/device/config.h"
#include "tavo/headTracking/camera/internal/cameraTesting.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/headTracking/common/types.h"

namespace tavo::sdk::test {

// A platform whose wall clock only moves when the test says so.
class TestPlatform final : public Platform {
  public:
    int64_t GetTimeNs() override { return nowNs.load(); }
    std::atomic<int64_t> nowNs{1'700'000'000'000'000'000};
};

using tavo::test::LogCapture;

// The USB bus that face tracking looks at for a depth camera, faked while this lives: with a
// RealSense camera (8086:0b07) on it or with nothing, whatever this machine has plugged in.
class FakeCameraBus {
  public:
    explicit FakeCameraBus(bool withCamera)
        : root_(std::filesystem::temp_directory_path() /
                ("tavo-sdk-usb-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(root_ / "bus" / "usb" / "devices");
        if (withCamera) {
            const std::filesystem::path device = root_ / "bus" / "usb" / "devices" / "2-1";
            std::filesystem::create_directories(device);
            std::ofstream(device / "idVendor") << "8086\n";
            std::ofstream(device / "idProduct") << "0b07\n";
        }
        head::internal::SetCameraSysfsRootForTesting(root_);
    }
    FakeCameraBus(const FakeCameraBus&) = delete;
    FakeCameraBus& operator=(const FakeCameraBus&) = delete;
    ~FakeCameraBus() {
        head::internal::SetCameraSysfsRootForTesting("/sys");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

  private:
    std::filesystem::path root_;
};

// The host's camera: 640 x 480 images and a pinhole model with a 500-pixel focal length.
class HostCamera {
  public:
    static constexpr int32_t kWidth = 640;
    static constexpr int32_t kHeight = 480;

    HostCamera() : pixels_(static_cast<size_t>(kWidth) * kHeight, 0) {}

    SharedCameraSink sink;

    static CameraIntrinsics Intrinsics() {
        CameraIntrinsics intrinsics;
        intrinsics.width = kWidth;
        intrinsics.height = kHeight;
        intrinsics.ppx = 320.0f;
        intrinsics.ppy = 240.0f;
        intrinsics.fx = 500.0f;
        intrinsics.fy = 500.0f;
        return intrinsics;
    }

    // False when no shared camera is listening.
    bool PushIntrinsics() {
        if (!sink.onCameraIntrinsics) {
            return false;
        }
        sink.onCameraIntrinsics(Intrinsics());
        return true;
    }
    bool PushFrame(Timestamp timestamp) {
        if (!sink.onCameraFrame) {
            return false;
        }
        sink.onCameraFrame(ImageDesc{kWidth, kHeight, 0, pixels_.data()}, timestamp);
        return true;
    }

  private:
    std::vector<uint8_t> pixels_;
};

// One face 600 mm in front of the camera: eyes 50 pixels (60 mm) apart, their midpoint 5
// pixels left of and 10 pixels above the image centre.
inline head::DetectedFace ScriptedFace() {
    head::DetectedFace face;
    face.rightEyePixel = {290.0, 230.0};
    face.leftEyePixel = {340.0, 230.0};
    face.rightEyeDepth = 0.6f;
    face.leftEyeDepth = 0.6f;
    return face;
}

// Where a point in the host camera's space (millimetres) lies in display space for the camera
// pose of `config`.
inline glm::vec3 DisplayPositionOf(const device::Config& config, const glm::vec3& camera) {
    const glm::vec3 rotated = GetRotationMatFromRodriguesNotation(config.cameraTheta) * camera;
    return glm::vec3(-rotated.x, -rotated.y, rotated.z) + config.cameraCenter;
}

// Where ScriptedFace ends up in display space for the camera pose of `config`.
inline glm::vec3 ExpectedDisplayPosition(const device::Config& config) {
    return DisplayPositionOf(config, glm::vec3(-6.0f, -12.0f, 600.0f));  // the eye midpoint
}

// A configuration with a tilted camera off the panel's centre.
inline device::Config TrackingConfig() {
    device::Config config{};
    config.cameraCenter = {30.0f, 120.0f, 5.0f};
    config.cameraTheta = {10.0f, 0.0f, 0.0f};
    config.kalmanA = {0.02f, 0.05f, 0.2f};
    config.kalmanB = 0.1f;
    config.faceDelay = 40.0f;
    return config;
}

inline bool Near(const glm::vec3& a, const glm::vec3& b, float tolerance = 1e-3f) {
    return glm::all(glm::lessThanEqual(glm::abs(a - b), glm::vec3(tolerance)));
}

}  // namespace tavo::sdk::test
