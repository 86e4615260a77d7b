// MediaPipe's BlazeFace short-range face model (128x128 input) run on square windows of a grey
// image, with its anchors decoded into frame pixels and overlapping detections merged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

namespace tavo::cpudetector {

// One face in frame pixels (continuous coordinates: pixel i spans [i, i + 1)).
struct FaceCandidate {
    float score = 0.0f;
    cv::Rect2f box;
    // The subject's right eye (on the image's left), left eye, nose tip, mouth, right ear,
    // left ear.
    std::array<cv::Point2f, 6> keypoints;
};

enum Keypoint { kRightEye = 0, kLeftEye = 1, kNoseTip = 2, kMouth = 3 };

// Not thread-safe: one caller at a time. After construction, Detect reuses its buffers.
class BlazeFace {
  public:
    static constexpr int kInputSize = 128;

    // Builds the network from the ONNX file's bytes, its depthwise convolutions and additions on
    // the plug-in's own layers; throws cv::Exception when they are not the expected model.
    BlazeFace(const uint8_t* model, size_t size);

    // Runs the model on the square `window` of `image` (8-bit, one channel), which may reach
    // past the image (the outside reads as mid grey), and appends the candidates scoring at
    // least `minScore`, unmerged, in frame pixels.
    void Detect(const cv::Mat& image, const cv::Rect& window, float minScore,
                std::vector<FaceCandidate>& candidates);

  private:
    void Decode(const cv::Rect& source, const cv::Rect& target, float minScore,
                std::vector<FaceCandidate>& candidates) const;

    cv::dnn::Net net_;
    std::vector<cv::String> outputNames_;
    std::vector<cv::Mat> outputs_;
    // Which of the outputs hold the 512 and 384 scores and regressors.
    int scores512_ = -1, scores384_ = -1, regressors512_ = -1, regressors384_ = -1;
    std::vector<cv::Point2f> anchors_;
    cv::Mat window_;
    // The source shrunk by a whole factor, in the top-left of a buffer that only grows.
    cv::Mat reduced_;
    cv::Mat blob_;
    // The blob's pixels as an image.
    cv::Mat blobPixels_;
};

// Weighted non-maximum suppression: candidates overlapping the best remaining one by more than
// `overlap` (intersection over union) are averaged into it, weighted by score. `scratch` is
// working space, kept by the caller to avoid allocations.
void MergeCandidates(std::vector<FaceCandidate>& candidates, float overlap,
                     std::vector<FaceCandidate>& merged, std::vector<uint8_t>& scratch);

float IntersectionOverUnion(const cv::Rect2f& a, const cv::Rect2f& b);

}  // namespace tavo::cpudetector
