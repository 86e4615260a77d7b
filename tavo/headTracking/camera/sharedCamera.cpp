// The host-fed camera and its frames.
#include "tavo/headTracking/camera/sharedCamera.h"

#include <utility>

#include "tavo/common/exception.h"
#include "tavo/common/waitable.h"

namespace tavo::head {

// Between a sink's members and the camera attached to the sink now. A call counts itself in
// while it delivers, so that a camera going away waits for the calls that reached it and new
// calls find no camera and are dropped.
class SharedCameraRelay {
  public:
    void Attach(Camera* camera, Camera::Listener* listener) {
        state_.Update([&](State& state) {
            state.camera = camera;
            state.listener = listener;
        });
    }

    void Detach(Camera* camera) {
        state_.Update([camera](State& state) {
            if (state.camera == camera) {
                state.camera = nullptr;
                state.listener = nullptr;
            }
        });
        state_.WaitUntil([](const State& state) { return state.calls == 0; });
    }

    // Runs `deliver(camera, listener)` for the attached camera; without one the call is dropped.
    template <typename Deliver>
    void Call(Deliver&& deliver) {
        Camera* camera = nullptr;
        Camera::Listener* listener = nullptr;
        state_.Update([&](State& state) {
            if (state.camera != nullptr) {
                ++state.calls;
                camera = state.camera;
                listener = state.listener;
            }
        });
        if (camera == nullptr) {
            return;
        }
        struct Leave {
            Waitable<State>& state;
            ~Leave() {
                state.Update([](State& counted) { --counted.calls; });
            }
        } leave{state_};
        deliver(camera, listener);
    }

  private:
    struct State {
        Camera* camera = nullptr;
        Camera::Listener* listener = nullptr;
        int32_t calls = 0;
    };
    Waitable<State> state_;
};

namespace {

// The callables stored in a sink; their types tell a sink filled by a shared camera.
struct FrameForwarder {
    std::shared_ptr<SharedCameraRelay> relay;
    void operator()(const ImageDesc& image, Timestamp timestamp) const {
        relay->Call([&](Camera* camera, Camera::Listener* listener) {
            const TrivialCameraFrame frame(image, timestamp);
            listener->OnCameraFrameAvailable(camera, frame);
        });
    }
};

struct IntrinsicsForwarder {
    std::shared_ptr<SharedCameraRelay> relay;
    void operator()(const CameraIntrinsics& intrinsics) const {
        relay->Call([&](Camera* camera, Camera::Listener* listener) {
            listener->OnCameraIntrinsicsChange(camera, intrinsics);
        });
    }
};

struct HostFrameForwarder {
    std::shared_ptr<SharedCameraRelay> relay;
    void operator()(const CameraFrame& frame) const {
        relay->Call([&](Camera* camera, Camera::Listener* listener) {
            listener->OnCameraFrameAvailable(camera, frame);
        });
    }
};

}  // namespace

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
    // Reading the members races with no host call (both only read); writing them would, so
    // they are written only while the sink has never had a shared camera.
    const FrameForwarder* frames = sink_->onCameraFrame.target<FrameForwarder>();
    const IntrinsicsForwarder* intrinsics = sink_->onCameraIntrinsics.target<IntrinsicsForwarder>();
    const HostFrameForwarder* hostFrames = sink_->onHostCameraFrame.target<HostFrameForwarder>();
    if (frames != nullptr && intrinsics != nullptr && hostFrames != nullptr &&
        frames->relay == intrinsics->relay && frames->relay == hostFrames->relay) {
        relay_ = frames->relay;
    } else {
        relay_ = std::make_shared<SharedCameraRelay>();
        sink_->onCameraFrame = FrameForwarder{relay_};
        sink_->onCameraIntrinsics = IntrinsicsForwarder{relay_};
        sink_->onHostCameraFrame = HostFrameForwarder{relay_};
    }
    relay_->Attach(this, listener_);
}

SharedCamera::~SharedCamera() {
    relay_->Detach(this);
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
