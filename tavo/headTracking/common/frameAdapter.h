// Delivery of tracking frames to the host: owning frame copies, the callback and polling
// adapter, and the frame handles of the C interface.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "tavo/common/export.h"
#include "tavo/headTracking/common/types.h"

namespace tavo::head {

// A tracking frame that owns copies of everything it exposes. Its slices stay valid while the
// object lives and is not assigned to. A value: one thread at a time, copied between threads.
class TAVO_API BufferedFrame final : public Frame {
  public:
    // No faces, time stamp {System, 0}, flag false, delay 0, zero profiling.
    BufferedFrame();
    // Deep copy of `frame`, read through its operations in slot order.
    explicit BufferedFrame(const Frame& frame);
    BufferedFrame(const BufferedFrame&) = default;
    BufferedFrame& operator=(const BufferedFrame&) = default;
    // The source is left with empty arrays.
    BufferedFrame(BufferedFrame&& other) noexcept;
    BufferedFrame& operator=(BufferedFrame&& other) noexcept;
    ~BufferedFrame() = default;

    // Replaces the contents with a deep copy of `frame`, reusing this object's array capacity
    // so that a copy of a frame no larger than earlier ones allocates nothing.
    void Assign(const Frame& frame);

    Slice<const Face> faces() const override { return {faces_.data(), Size(faces_)}; }
    Timestamp timestamp() const override { return timestamp_; }
    bool faceEverTracked() const override { return faceEverTracked_; }
    float delay() const override { return delay_; }
    Slice<const RawFace> rawFaces() const override { return {rawFaces_.data(), Size(rawFaces_)}; }
    Slice<const DetectedFace> detectedFaces() const override {
        return {detectedFaces_.data(), Size(detectedFaces_)};
    }
    FrameProfiling profiling() const override { return profiling_; }

  private:
    template <typename T>
    static int64_t Size(const std::vector<T>& records) {
        return static_cast<int64_t>(records.size());
    }

    std::vector<Face> faces_;
    Timestamp timestamp_{};
    bool faceEverTracked_ = false;
    float delay_ = 0.0f;
    std::vector<RawFace> rawFaces_;
    std::vector<DetectedFace> detectedFaces_;
    FrameProfiling profiling_{};
};

// Hands each tracking frame to the host: to a callback on the delivery thread, and, when
// polling is enabled, into a double buffer that any number of host threads read with
// GetFrame. Push belongs to the camera's delivery thread alone; the slot lock guards the
// current index and the slot it names while a reader copies it. Not copyable or movable.
class TAVO_API FrameAdapter {
  public:
    using Callback = std::function<void(const Frame&)>;

    // Throws tavo::Exception when `callback` is empty and polling is off.
    FrameAdapter(Callback callback, bool enablePolling);
    FrameAdapter(const FrameAdapter&) = delete;
    FrameAdapter& operator=(const FrameAdapter&) = delete;
    ~FrameAdapter();

    // Delivery thread only. Runs the callback, then publishes a copy for polling. An
    // exception from the callback leaves the polled frame unchanged.
    void Push(const Frame& frame);

    // Any thread: a copy of the latest pushed frame (the empty frame before the first push).
    // Throws tavo::Exception when polling is not enabled.
    BufferedFrame GetFrame() const;

  private:
    struct PollingSlots {
        // Written only by the delivery thread, under the lock.
        int current = 0;
        BufferedFrame slots[2];
        mutable std::mutex lock;
    };

    Callback callback_;
    std::unique_ptr<PollingSlots> polling_;
};

// An owner handle of a tracking frame, as the C interface passes frames to C callers. Read-only
// once made: any thread may read the frame while the handle lives (a reference handle, only
// while its frame does); one thread destroys it.
class WrappedFrame {
  public:
    virtual ~WrappedFrame() = default;
    virtual const Frame& frame() const = 0;
};

// Refers to a frame it does not own; valid only as long as that frame, so, for a frame handed
// to the frame callback, only on the delivery thread during that call.
class WrappedFrameReference final : public WrappedFrame {
  public:
    explicit WrappedFrameReference(const Frame& frame) : frame_(&frame) {}
    const Frame& frame() const override { return *frame_; }

  private:
    const Frame* frame_;
};

// Owns its frame: it outlives the engine, and any thread may hold it.
class WrappedBufferedFrame final : public WrappedFrame {
  public:
    explicit WrappedBufferedFrame(BufferedFrame&& frame) : frame_(std::move(frame)) {}
    const Frame& frame() const override { return frame_; }

  private:
    BufferedFrame frame_;
};

// Takes the frame's arrays over; the source is left empty.
TAVO_API std::unique_ptr<WrappedFrame> WrapFrame(BufferedFrame&& frame);
// Non-owning: valid only as long as `frame`.
TAVO_API std::unique_ptr<WrappedFrame> WrapFrame(const Frame& frame);

}  // namespace tavo::head
