// The camera used when the host owns the camera: images the host pushes through a sink.
#pragma once

#include <functional>

#include "tavo/common/export.h"
#include "tavo/headTracking/common/types.h"

namespace tavo {

// Hand-over point between the host's camera and a SharedCamera. Owned by the host; the shared
// camera fills both members at construction and empties them at destruction, so the host must
// check a member before calling it. Whichever host thread calls a member runs the listener.
struct SharedCameraSink {
    std::function<void(const ImageDesc& image, Timestamp timestamp)> onCameraFrame;
    std::function<void(const CameraIntrinsics& intrinsics)> onCameraIntrinsics;
};

}  // namespace tavo

namespace tavo::head {

// One pushed image with its time stamp, copied by value; the pixels stay the host's and must
// stay valid while the listener call lasts. Without depth or calibration: the projection
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
// once. Construction and destruction belong to the controlling (host) thread and must not run
// while a sink member is being called. Listener and sink are not owned and must outlive it.
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
};

}  // namespace tavo::head
