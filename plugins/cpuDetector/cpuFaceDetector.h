// The CPU backend's face detector: faces with two eye centres, eye depths and head angles in
// 8-bit single-channel images (infrared, or grey photographs).
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include "blazeFace.h"
#include "eyeCentre.h"
#include "tavo/headTracking/common/types.h"

namespace tavo::cpudetector {

// Finds faces either with the BlazeFace model (acquisition over the whole frame in overlapping
// windows, then tracking each face in a window around where it was) or, without the model,
// with OpenCV's Haar cascades on every frame. Eye points are refined to the iris centre on the
// full-resolution image.
//
// Threads: the engine's contract for detectors. Detect, SetMaxNumOfFaces and
// SetCameraIntrinsics come from one thread at a time; GetMaxNumOfFacesLimit, GetBackend and
// GetMaxNumOfFaces may be asked from any thread.
//
// `auxiliary` of each face holds (detection score, face width in pixels, 0 for the model or 1
// for the cascades); `angles` holds (0, yaw, roll) in radians, yaw positive when the face turns
// towards the image's left, roll positive when its left eye (image right) is lower.
class CpuFaceDetector final : public head::FaceDetector {
  public:
    static constexpr int32_t kMaxNumOfFacesLimit = 4;

    struct Cascades {
        cv::CascadeClassifier face;
        cv::CascadeClassifier eye;
    };

    // With the model: `blazeFace` set. Without: `cascades` loaded.
    CpuFaceDetector(tavo_face_detector_backend_e backend, int32_t maxNumOfFaces,
                    std::unique_ptr<BlazeFace> blazeFace, std::unique_ptr<Cascades> cascades);

    int32_t GetMaxNumOfFacesLimit() const override { return kMaxNumOfFacesLimit; }
    int32_t GetMaxNumOfFaces() const override {
        return maxNumOfFaces_.load(std::memory_order_relaxed);
    }
    void SetMaxNumOfFaces(int32_t count) override;
    tavo_face_detector_backend_e GetBackend() const override { return backend_; }
    void SetCameraIntrinsics(const CameraIntrinsics& intrinsics) override;
    Output& Detect(const head::CameraFrame& frame) override;

  private:
    struct Track {
        FaceCandidate face;
        cv::Point2f velocity{0.0f, 0.0f};
    };

    void TrackFaces(const cv::Mat& image);
    // The face in a window of its own size around `predicted`, the best scoring at least
    // `minScore`; false when there is none.
    bool FollowFace(const cv::Mat& image, const cv::Rect2f& box, cv::Point2f predicted,
                    float minScore, FaceCandidate& found);
    static void AddTrack(std::vector<Track>& tracks, const Track& track);
    void Acquire(const cv::Mat& image, bool wholeFrame);
    void DetectWithCascades(const cv::Mat& image, const head::CameraFrame& frame);
    void Report(const cv::Mat& image, const head::CameraFrame& frame, const FaceCandidate& face,
                bool fromModel);
    float EyeDepth(const head::CameraFrame& frame, cv::Point2f eye, const cv::Rect2f& faceBox,
                   float eyeDistance, float focalLength);
    float FocalLength(int imageWidth) const;

    const tavo_face_detector_backend_e backend_;
    // Set on the camera thread, read by host queries too.
    std::atomic<int32_t> maxNumOfFaces_;
    std::unique_ptr<BlazeFace> blazeFace_;
    std::unique_ptr<Cascades> cascades_;
    CameraIntrinsics intrinsics_{};
    bool hasIntrinsics_ = false;

    Output output_;
    std::vector<Track> tracks_;
    std::vector<Track> nextTracks_;
    std::vector<FaceCandidate> candidates_;
    std::vector<FaceCandidate> merged_;
    std::vector<FaceCandidate> found_;
    std::vector<uint8_t> mergeScratch_;
    std::vector<cv::Rect> windows_;
    cv::Size windowsFor_;
    size_t nextWindow_ = 0;
    std::vector<float> depthSamples_;
    std::vector<cv::Rect> cascadeFaces_;
    std::vector<cv::Rect> cascadeEyes_;
    EyeCentreLocator eyeLocator_;
};

}  // namespace tavo::cpudetector
