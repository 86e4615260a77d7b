// The host-fed camera and its frames.
#include "tavo/headTracking/camera/sharedCamera.h"

#include "tavo/common/exception.h"

namespace tavo::head {

TrivialCameraFrame::TrivialCameraFrame(const ImageDesc& image, Timestamp timestamp)
    : image_(image), timestamp_(timestamp) {}

Timestamp TrivialCameraFrame::timestamp() const {
    return timestamp_;
}

Slice<const ImageDesc> TrivialCameraFrame::imageDescs() const {
    return {&image_, 1};
}

bool TrivialCameraFrame::GetDepth(const glm::dvec2&, float&) const {
    return false;
}

bool TrivialCameraFrame::DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3&) const {
    return false;
}

bool TrivialCameraFrame::ProjectPointToPixel(const glm::vec3&, glm::dvec2&, float&) const {
    return false;
}

SharedCamera::SharedCamera(Listener* listener, SharedCameraSink* sink)
    : listener_(listener), sink_(sink) {
    if (!listener_ || !sink_) {
        throw Exception("A shared camera needs a listener and a sink",
                        TAVO_LOCATION("tavo::head::SharedCamera::SharedCamera"));
    }
    sink_->onCameraFrame = [this](const ImageDesc& image, Timestamp timestamp) {
        const TrivialCameraFrame frame(image, timestamp);
        listener_->OnCameraFrameAvailable(this, frame);
    };
    sink_->onCameraIntrinsics = [this](const CameraIntrinsics& intrinsics) {
        listener_->OnCameraIntrinsicsChange(this, intrinsics);
    };
}

SharedCamera::~SharedCamera() {
    sink_->onCameraFrame = nullptr;
    sink_->onCameraIntrinsics = nullptr;
}

void SharedCamera::StartCapture() {}

void SharedCamera::StopCapture() {}

int32_t SharedCamera::GetFps() const {
    return 0;
}

bool SharedCamera::SetFps(int32_t) {
    return false;
}

Slice<const int32_t> SharedCamera::GetSupportedFps() const {
    return {};
}

}  // namespace tavo::head
