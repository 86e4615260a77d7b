// The Intel RealSense depth camera as a frame source.
#pragma once

#include <cstdint>
#include <memory>

#include "tavo/common/export.h"
#include "tavo/headTracking/common/types.h"

namespace tavo::head {

// Sensor settings that may change while the camera streams.
struct RealsenseCameraDynamicConfiguration {
    bool emitter = false;
    bool autoExposure = true;
    // In the sensor's unit (microseconds); written only when autoExposure is off.
    float exposure = 9000.0f;
    float gain = 50.0f;
};

// The first four fields are those of CameraConfiguration, in the same order; zeros mean
// 848 x 480 at 90 frames per second. binningFactor is carried but not read.
struct RealsenseCameraConfiguration {
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 0;
    float binningFactor = 0.0f;
    RealsenseCameraDynamicConfiguration dynamicConfiguration;
};

// Opens the camera (the left infrared imager and depth) and starts streaming; reports the
// infrared intrinsics to the listener once, on the calling thread, before returning. Frames are
// delivered on the camera's own capture thread between StartCapture and StopCapture; frames on
// the camera's clock that come before the global clock settles are held back (about a second at
// most) so that time steps never jump. An unplugged camera is waited for by the capture thread,
// and when it returns streaming starts again with the settings applied again. StartCapture,
// StopCapture, the update below and destruction belong to one controlling thread. The listener is
// not owned and must outlive the camera. Throws rs2::error (logged) or std::runtime_error when
// the device cannot be started; at once, rather than after librealsense's wait for a device,
// when neither librealsense nor the USB bus shows a camera.
TAVO_API std::unique_ptr<Camera> CreateRealsenseCamera(
    Camera::Listener* listener, const RealsenseCameraConfiguration& configuration);

// Whether a RealSense device is attached (a USB presence check; opens nothing).
TAVO_API bool IsRealsenseCameraConnected();

// Applies new sensor settings to a camera made by CreateRealsenseCamera, pausing its delivery
// thread while doing so; values outside a setting's range are clamped to it, reported once.
// The settings are kept and applied again when the camera returns after being unplugged.
// Controlling thread only. Throws rs2::error (logged) on failure; capture then stays stopped.
TAVO_API void UpdateRealsenseCameraDynamicConfiguration(
    Camera* camera, const RealsenseCameraDynamicConfiguration& configuration);

}  // namespace tavo::head
