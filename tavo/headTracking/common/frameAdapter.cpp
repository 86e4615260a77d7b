// Delivery of tracking frames to the host: owning frame copies, the callback and polling
// adapter, and the frame handles of the C interface.
#include "tavo/headTracking/common/frameAdapter.h"

#include <utility>

#include "tavo/common/exception.h"

namespace tavo::head {

namespace {

template <typename T>
void AssignRecords(std::vector<T>& target, Slice<const T> source) {
    if (source.size <= 0 || source.data == nullptr) {
        target.clear();
        return;
    }
    // assign keeps the capacity when the new records fit.
    target.assign(source.data, source.data + source.size);
}

}  // namespace

BufferedFrame::BufferedFrame() = default;

BufferedFrame::BufferedFrame(const Frame& frame) {
    Assign(frame);
}

BufferedFrame::BufferedFrame(BufferedFrame&& other) noexcept
    : faces_(std::exchange(other.faces_, {})),
      timestamp_(other.timestamp_),
      faceEverTracked_(other.faceEverTracked_),
      delay_(other.delay_),
      rawFaces_(std::exchange(other.rawFaces_, {})),
      detectedFaces_(std::exchange(other.detectedFaces_, {})),
      profiling_(other.profiling_) {}

BufferedFrame& BufferedFrame::operator=(BufferedFrame&& other) noexcept {
    if (this != &other) {
        faces_ = std::exchange(other.faces_, {});
        timestamp_ = other.timestamp_;
        faceEverTracked_ = other.faceEverTracked_;
        delay_ = other.delay_;
        rawFaces_ = std::exchange(other.rawFaces_, {});
        detectedFaces_ = std::exchange(other.detectedFaces_, {});
        profiling_ = other.profiling_;
    }
    return *this;
}

void BufferedFrame::Assign(const Frame& frame) {
    AssignRecords(faces_, frame.faces());
    timestamp_ = frame.timestamp();
    faceEverTracked_ = frame.faceEverTracked();
    delay_ = frame.delay();
    AssignRecords(rawFaces_, frame.rawFaces());
    AssignRecords(detectedFaces_, frame.detectedFaces());
    profiling_ = frame.profiling();
}

FrameAdapter::FrameAdapter(Callback callback, bool enablePolling) : callback_(std::move(callback)) {
    if (enablePolling) {
        polling_ = std::make_unique<PollingSlots>();
    }
    if (!callback_ && !polling_) {
        throw Exception(
            "FrameAdapter incorrect configuration: neither callback set nor polling enabled. "
            "What's the point then?",
            TAVO_LOCATION("tavo::head::FrameAdapter::FrameAdapter"));
    }
}

FrameAdapter::~FrameAdapter() = default;

void FrameAdapter::Push(const Frame& frame) {
    if (callback_) {
        callback_(frame);
    }
    if (polling_) {
        // Only this thread writes the index, so reading it unlocked is safe; readers copy only
        // the current slot, and cannot be inside the other one.
        const int next = (polling_->current + 1) % 2;
        polling_->slots[next].Assign(frame);
        std::lock_guard<std::mutex> guard(polling_->lock);
        polling_->current = next;
    }
}

BufferedFrame FrameAdapter::GetFrame() const {
    if (!polling_) {
        throw Exception("FrameAdapter::GetFrame: polling API is not enabled",
                        TAVO_LOCATION("tavo::head::FrameAdapter::GetFrame"));
    }
    std::lock_guard<std::mutex> guard(polling_->lock);
    return polling_->slots[polling_->current];
}

std::unique_ptr<WrappedFrame> WrapFrame(BufferedFrame&& frame) {
    return std::make_unique<WrappedBufferedFrame>(std::move(frame));
}

std::unique_ptr<WrappedFrame> WrapFrame(const Frame& frame) {
    return std::make_unique<WrappedFrameReference>(frame);
}

}  // namespace tavo::head
