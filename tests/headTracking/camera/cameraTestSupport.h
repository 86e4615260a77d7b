// What the camera tests share: a listener that records deliveries from the capture thread and
// lets a test wait for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <librealsense2/simulation.h>

#include "logCapture.h"
#include "tavo/headTracking/common/types.h"

namespace tavo::head::test {

using CameraLogCapture = tavo::test::LogCapture;

// What one delivery showed, read inside the listener call while the frame was valid.
struct DeliveredFrame {
    Camera* camera = nullptr;
    std::thread::id thread;
    Timestamp timestamp;
    std::vector<ImageDesc> images;
    uint8_t firstPixel = 0;
};

// Records deliveries; an optional hook runs inside each delivery with the live frame.
class RecordingCameraListener final : public Camera::Listener {
  public:
    void OnCameraFrameAvailable(Camera* camera, const CameraFrame& frame) override {
        DeliveredFrame record;
        record.camera = camera;
        record.thread = std::this_thread::get_id();
        record.timestamp = frame.timestamp();
        const Slice<const ImageDesc> images = frame.imageDescs();
        record.images.assign(images.begin(), images.end());
        if (!images.empty() && images[0].data && images[0].width > 0 && images[0].height > 0) {
            record.firstPixel = images[0].data[0];
        }
        std::function<void(Camera*, const CameraFrame&)> hook;
        {
            std::lock_guard lock(mutex_);
            hook = hook_;
        }
        // Recorded before the hook runs, so a hook that throws still counts as a delivery.
        {
            std::lock_guard lock(mutex_);
            frames_.push_back(record);
        }
        changed_.notify_all();
        if (hook) {
            hook(camera, frame);
        }
    }
    void OnCameraIntrinsicsChange(Camera* camera, const CameraIntrinsics& intrinsics) override {
        std::lock_guard lock(mutex_);
        intrinsics_.push_back(intrinsics);
        intrinsicsCameras_.push_back(camera);
        intrinsicsThreads_.push_back(std::this_thread::get_id());
        intrinsicsBeforeFrames_ = intrinsicsBeforeFrames_ && frames_.empty();
    }

    void SetHook(std::function<void(Camera*, const CameraFrame&)> hook) {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }
    // True once `count` frames have been delivered; false after `timeout`.
    bool WaitForFrames(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
    }
    std::vector<DeliveredFrame> frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    size_t frameCount() const {
        std::lock_guard lock(mutex_);
        return frames_.size();
    }
    std::vector<CameraIntrinsics> intrinsics() const {
        std::lock_guard lock(mutex_);
        return intrinsics_;
    }
    std::vector<Camera*> intrinsicsCameras() const {
        std::lock_guard lock(mutex_);
        return intrinsicsCameras_;
    }
    std::vector<std::thread::id> intrinsicsThreads() const {
        std::lock_guard lock(mutex_);
        return intrinsicsThreads_;
    }
    bool intrinsicsBeforeFrames() const {
        std::lock_guard lock(mutex_);
        return intrinsicsBeforeFrames_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DeliveredFrame> frames_;
    std::vector<CameraIntrinsics> intrinsics_;
    std::vector<Camera*> intrinsicsCameras_;
    std::vector<std::thread::id> intrinsicsThreads_;
    bool intrinsicsBeforeFrames_ = true;
    std::function<void(Camera*, const CameraFrame&)> hook_;
};

// Polls `condition` until it holds or `timeout` passes.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace tavo::head::test
