// The camera used when the host owns the camera: images the host pushes through a sink.
#pragma once

#include <functional>
#include <memory>

#include "tavo/common/export.h"
#include "tavo/headTracking/common/types.h"

namespace tavo {

namespace head {
class CameraFrame;
}

// Hand-over point between the host's camera and a SharedCamera. Owned by the host. The first
// shared camera made over the sink fills its members, and from then on they stay filled for
// the sink's life: later cameras over the same sink take the same members over, and a call
// while no camera is attached (before the next one is made, or after the last one went) is
// dropped. So a host thread may go on calling while the SDK replaces its camera; only the
// first fill must come before the host's first call, and the host checks a member before
// calling it. Whichever host thread calls a member runs the listener.
struct SharedCameraSink {
    std::function<void(const ImageDesc& image, Timestamp timestamp)> onCameraFrame;
    std::function<void(const CameraIntrinsics& intrinsics)> onCameraIntrinsics;
    // A frame the host made itself, for what an image alone cannot carry (depth, its own
    // projection); handed to the listener as it is, valid while the call lasts.
    std::function<void(const head::CameraFrame& frame)> onHostCameraFrame;
};

}  // namespace tavo

namespace tavo::head {

// One pushed image with its time stamp, copied by value; the pixels stay the host's and must
// stay valid while the listener call lasts. Like every CameraFrame it is read on the delivery
// thread, here the host thread that pushed the image. Without depth or calibration: the projection
// operations answer false so the tracker falls back to its pinhole model.
class TAVO_API TrivialCameraFrame final : public CameraFrame {
  public:
    TrivialCameraFrame(const ImageDesc& image, Timestamp timestamp);

    Timestamp timestamp() const override;
    Slice<const ImageDesc> imageDescs() const override;
    bool GetDepth(const glm::dvec2& pixel, float& depth) const override;
    bool DeprojectPixelToPoint(const glm::dvec2& pixel, float depth,
                               glm::vec3& point) const override;
    bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2& pixel,
                             float& depth) const override;

  private:
    ImageDesc image_;
    Timestamp timestamp_;
};

// A camera without a thread: the host thread that calls the sink delivers to the listener at
// once. Construction and destruction belong to the controlling (host) thread; destruction
// waits for the sink calls under way and must not run inside one of them. Listener and sink
// are not owned; the listener must outlive the camera, the sink every call of its members.
class SharedCameraRelay;
class TAVO_API SharedCamera final : public Camera {
  public:
    SharedCamera(Listener* listener, SharedCameraSink* sink);
    SharedCamera(const SharedCamera&) = delete;
    SharedCamera& operator=(const SharedCamera&) = delete;
    ~SharedCamera() override;

    void StartCapture() override;
    void StopCapture() override;
    int32_t GetFps() const override;
    bool SetFps(int32_t fps) override;
    Slice<const int32_t> GetSupportedFps() const override;

  private:
    Listener* listener_;
    SharedCameraSink* sink_;
    // The sink's members call through it; shared with them, so it outlives this camera.
    std::shared_ptr<SharedCameraRelay> relay_;
};

}  // namespace tavo::head
