// The CPU detector's frame path: acquisition, tracking, eye refinement, depth and angles.
#include "cpuFaceDetector.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace tavo::cpudetector {

namespace {

// The model's own threshold for a face, enough to keep following one.
constexpr float kMinScore = 0.5f;
// A new face must convince more: other things score up to about 0.65 in photographs.
constexpr float kAcquireScore = 0.75f;
// Faces tilted further than this are not faces this model finds; such detections are noise.
constexpr float kMaxRoll = 0.8f;
// Detections of one face from several windows overlap at least this much.
constexpr float kMergeOverlap = 0.3f;
// The model finds faces reliably from about this share of its window's width up to about 0.8.
constexpr float kMinFaceShare = 0.18f;
constexpr float kMaxFaceShare = 0.8f;
// The largest face acquisition looks for, as a share of the frame's shorter side: 264 pixels in
// a 480-row infrared frame, a viewer about 25 cm from the camera. Tracking follows a face that
// grows larger.
constexpr float kMaxFaceHeightShare = 0.55f;
// The smallest face acquisition looks for: this share of the frame width, at least this many
// pixels (60 pixels in an 848-pixel-wide infrared frame).
constexpr float kMinFaceWidthShare = 0.07f;
constexpr float kMinFaceWidthPixels = 48.0f;
// Neighbouring acquisition windows overlap by this much more than the largest face they must
// hold whole: the model's box reaches beyond the face's width.
constexpr float kWindowOverlapMargin = 1.25f;
// A tracked face fills this share of its window: room to move between frames, and the model's
// most confident scale.
constexpr float kTrackedFaceShare = 0.3f;
// Eyes are searched within this share of the interocular distance of the model's eye points.
constexpr float kEyeSearchShare = 0.3f;
// The average adult's interocular distance, for depth without a depth image.
constexpr float kInterocularDistanceMetres = 0.063f;
// Horizontal field of view assumed before the camera reports its intrinsics (RealSense D435
// infrared).
constexpr float kNominalFieldOfViewDegrees = 87.0f;
// Depth of the nose tip in front of the eyes, as a share of the interocular distance.
constexpr float kNoseDepthShare = 0.5f;

bool ValidDepth(float depth) {
    return std::isfinite(depth) && depth > 0.0f;
}

float Median(std::vector<float>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

cv::Point2f Centre(const cv::Rect2f& box) {
    return {box.x + box.width / 2, box.y + box.height / 2};
}

// Eyes side by side, subject's right on the image's left, inside the box.
bool Plausible(const FaceCandidate& face) {
    const cv::Point2f eyeLine = face.keypoints[kLeftEye] - face.keypoints[kRightEye];
    return eyeLine.x > 0.0f && std::abs(std::atan2(eyeLine.y, eyeLine.x)) < kMaxRoll &&
           face.box.contains(face.keypoints[kRightEye]) &&
           face.box.contains(face.keypoints[kLeftEye]);
}

// Square windows of one size covering a length, evenly spaced, neighbours overlapping by at
// least `overlap`; a window longer than the length is centred on it.
template <typename Add>
void ForEachWindowStart(int length, int size, float overlap, Add&& add) {
    if (size >= length) {
        add((length - size) / 2);
        return;
    }
    const int span = length - size;
    const float step = std::max(1.0f, static_cast<float>(size) - overlap);
    const int count = static_cast<int>(std::ceil(static_cast<float>(span) / step)) + 1;
    for (int i = 0; i < count; ++i) {
        add(static_cast<int>(std::lround(static_cast<double>(span) * i / (count - 1))));
    }
}

int WindowCount(int length, int size, float overlap) {
    int count = 0;
    ForEachWindowStart(length, size, overlap, [&](int) { ++count; });
    return count;
}

// Acquisition searches two scales, each window costing one model run. Small windows find the
// smallest faces, and their neighbours overlap by more than the faces the large windows take
// over, so every such face lies whole in one of them. Large windows find the rest up to the
// largest face, which lies whole in one of them too. Of the ways to split the frame's width
// into large windows, the one needing the fewest runs in all.
void AcquisitionWindows(cv::Size frame, std::vector<cv::Rect>& windows) {
    windows.clear();
    const float shorterSide = static_cast<float>(std::min(frame.width, frame.height));
    const float longerSide = static_cast<float>(std::max(frame.width, frame.height));
    const float minFace =
        std::max(kMinFaceWidthPixels, kMinFaceWidthShare * static_cast<float>(frame.width));
    const float maxFace = kMaxFaceHeightShare * shorterSide;
    const float maxFaceOverlap = maxFace * kWindowOverlapMargin;
    // Not below the model's own input size, unless the frame is smaller still.
    const int small = static_cast<int>(std::lround(
        std::min(std::max(minFace / kMinFaceShare, static_cast<float>(BlazeFace::kInputSize)),
                 shorterSide)));
    auto add = [&](int size, float overlap) {
        ForEachWindowStart(frame.height, size, overlap, [&](int y) {
            ForEachWindowStart(frame.width, size, overlap,
                               [&](int x) { windows.emplace_back(x, y, size, size); });
        });
    };
    auto runsOf = [&](int size, float overlap) {
        return WindowCount(frame.width, size, overlap) * WindowCount(frame.height, size, overlap);
    };
    // Small windows alone, where they hold the largest face too, overlapping by it.
    const bool oneScale = static_cast<float>(small) * kMaxFaceShare >= maxFace;
    int bestLarge = 0;
    float bestHandOver = 0.0f;
    int bestRuns = oneScale ? runsOf(small, maxFaceOverlap) : 0;
    for (int across = 1; across <= 4; ++across) {
        // The smallest window of which `across` side by side overlap enough for the largest face.
        const float side = std::max(
            {shorterSide, (longerSide + static_cast<float>(across - 1) * maxFaceOverlap) / across,
             maxFace / kMaxFaceShare});
        const int large = static_cast<int>(std::ceil(side));
        const float handOver = kMinFaceShare * static_cast<float>(large) * kWindowOverlapMargin;
        const int runs = runsOf(large, maxFaceOverlap) + runsOf(small, handOver);
        if (bestRuns == 0 || runs < bestRuns) {
            bestLarge = large;
            bestHandOver = handOver;
            bestRuns = runs;
        }
    }
    if (bestLarge == 0) {
        add(small, maxFaceOverlap);
        return;
    }
    add(small, bestHandOver);
    add(bestLarge, maxFaceOverlap);
}

}  // namespace

CpuFaceDetector::CpuFaceDetector(tavo_face_detector_backend_e backend, int32_t maxNumOfFaces,
                                 std::unique_ptr<BlazeFace> blazeFace,
                                 std::unique_ptr<Cascades> cascades)
    : backend_(backend),
      // None asked for: the one viewer a 3D display serves.
      maxNumOfFaces_(maxNumOfFaces < 1 ? 1 : std::min(maxNumOfFaces, kMaxNumOfFacesLimit)),
      blazeFace_(std::move(blazeFace)),
      cascades_(std::move(cascades)) {
    output_.faces.reserve(kMaxNumOfFacesLimit);
    tracks_.reserve(kMaxNumOfFacesLimit);
    nextTracks_.reserve(kMaxNumOfFacesLimit);
    candidates_.reserve(256);
    merged_.reserve(64);
    found_.reserve(64);
    mergeScratch_.reserve(256);
    depthSamples_.reserve(128);
}

void CpuFaceDetector::SetMaxNumOfFaces(int32_t count) {
    const int32_t limited = std::clamp(count, 1, kMaxNumOfFacesLimit);
    maxNumOfFaces_.store(limited, std::memory_order_relaxed);
    if (tracks_.size() > static_cast<size_t>(limited)) {
        tracks_.resize(static_cast<size_t>(limited));
    }
}

void CpuFaceDetector::SetCameraIntrinsics(const CameraIntrinsics& intrinsics) {
    intrinsics_ = intrinsics;
    hasIntrinsics_ = intrinsics.width > 0 && intrinsics.fx > 0.0f;
}

head::FaceDetector::Output& CpuFaceDetector::Detect(const head::CameraFrame& frame) {
    output_.faces.clear();
    const Slice<const ImageDesc> images = frame.imageDescs();
    if (images.empty() || images[0].data == nullptr || images[0].width < 16 ||
        images[0].height < 16) {
        tracks_.clear();
        return output_;
    }
    const ImageDesc& desc = images[0];
    // The frame's pixels, not copied: rows of `width` bytes.
    const cv::Mat image(desc.height, desc.width, CV_8UC1, const_cast<uint8_t*>(desc.data));

    if (!blazeFace_) {
        DetectWithCascades(image, frame);
        return output_;
    }
    TrackFaces(image);
    if (tracks_.size() < static_cast<size_t>(GetMaxNumOfFaces())) {
        // With nobody tracked, the whole frame at once; otherwise one window a frame, so a
        // newcomer is found within a sweep while the tracked faces stay cheap.
        Acquire(image, tracks_.empty());
    }
    for (const Track& track : tracks_) {
        Report(image, frame, track.face, true);
    }
    return output_;
}

bool CpuFaceDetector::FollowFace(const cv::Mat& image, const cv::Rect2f& box, cv::Point2f predicted,
                                 float minScore, FaceCandidate& found) {
    const float side = std::max(box.width, box.height) / kTrackedFaceShare;
    const cv::Rect window(static_cast<int>(std::lround(predicted.x - side / 2)),
                          static_cast<int>(std::lround(predicted.y - side / 2)),
                          static_cast<int>(std::lround(side)), static_cast<int>(std::lround(side)));
    candidates_.clear();
    blazeFace_->Detect(image, window, minScore, candidates_);
    MergeCandidates(candidates_, kMergeOverlap, merged_, mergeScratch_);
    // The most confident face near where this one should be; others are left to acquisition.
    const FaceCandidate* best = nullptr;
    for (const FaceCandidate& candidate : merged_) {
        const cv::Point2f offset = Centre(candidate.box) - predicted;
        if (std::hypot(offset.x, offset.y) < 0.35f * side && Plausible(candidate) &&
            (best == nullptr || candidate.score > best->score)) {
            best = &candidate;
        }
    }
    if (best == nullptr) {
        return false;
    }
    found = *best;
    return true;
}

void CpuFaceDetector::TrackFaces(const cv::Mat& image) {
    nextTracks_.clear();
    for (const Track& track : tracks_) {
        const cv::Rect2f& box = track.face.box;
        Track next;
        if (!FollowFace(image, box, Centre(box) + track.velocity, kMinScore, next.face)) {
            continue;  // lost
        }
        next.velocity = Centre(next.face.box) - Centre(box);
        const float limit = 0.5f * next.face.box.width;
        const float speed = std::hypot(next.velocity.x, next.velocity.y);
        if (speed > limit) {
            next.velocity *= limit / speed;
        }
        AddTrack(nextTracks_, next);
    }
    std::swap(tracks_, nextTracks_);
}

void CpuFaceDetector::AddTrack(std::vector<Track>& tracks, const Track& track) {
    // Two tracks that have run onto the same face become one.
    const bool duplicate = std::any_of(tracks.begin(), tracks.end(), [&](const Track& kept) {
        return IntersectionOverUnion(kept.face.box, track.face.box) > kMergeOverlap;
    });
    if (!duplicate) {
        tracks.push_back(track);
    }
}

void CpuFaceDetector::Acquire(const cv::Mat& image, bool wholeFrame) {
    if (windowsFor_ != image.size()) {
        AcquisitionWindows(image.size(), windows_);
        windowsFor_ = image.size();
        nextWindow_ = 0;
    }
    candidates_.clear();
    if (wholeFrame) {
        for (const cv::Rect& window : windows_) {
            blazeFace_->Detect(image, window, kMinScore, candidates_);
        }
    } else {
        nextWindow_ %= windows_.size();
        blazeFace_->Detect(image, windows_[nextWindow_++], kMinScore, candidates_);
    }
    MergeCandidates(candidates_, kMergeOverlap, merged_, mergeScratch_);
    // Found at a window's coarse scale; looked at again in a window of its own size, which
    // places its points better and must confirm it with more confidence than tracking needs.
    found_.assign(merged_.begin(), merged_.end());
    for (const FaceCandidate& candidate : found_) {
        if (tracks_.size() >= static_cast<size_t>(GetMaxNumOfFaces())) {
            break;
        }
        const bool known = std::any_of(tracks_.begin(), tracks_.end(), [&](const Track& track) {
            return IntersectionOverUnion(track.face.box, candidate.box) > kMergeOverlap;
        });
        if (known) {
            continue;  // already followed
        }
        Track track;
        if (FollowFace(image, candidate.box, Centre(candidate.box), kAcquireScore, track.face)) {
            AddTrack(tracks_, track);
        }
    }
}

void CpuFaceDetector::DetectWithCascades(const cv::Mat& image, const head::CameraFrame& frame) {
    const int minFace = static_cast<int>(
        std::max(kMinFaceWidthPixels, kMinFaceWidthShare * static_cast<float>(image.cols)));
    cascades_->face.detectMultiScale(image, cascadeFaces_, 1.1, 5, 0, cv::Size(minFace, minFace));
    std::sort(cascadeFaces_.begin(), cascadeFaces_.end(),
              [](const cv::Rect& a, const cv::Rect& b) { return a.area() > b.area(); });
    const size_t count = std::min(cascadeFaces_.size(), static_cast<size_t>(GetMaxNumOfFaces()));
    for (size_t i = 0; i < count; ++i) {
        const cv::Rect face = cascadeFaces_[i];
        FaceCandidate candidate;
        candidate.score = 1.0f;
        candidate.box = cv::Rect2f(face);
        // Where eyes sit in the cascade's face box, unless the eye cascade says better.
        cv::Point2f right(face.x + 0.3f * face.width, face.y + 0.38f * face.height);
        cv::Point2f left(face.x + 0.7f * face.width, face.y + 0.38f * face.height);
        const cv::Rect upper(face.x, face.y + face.height / 5, face.width, face.height * 2 / 5);
        cascades_->eye.detectMultiScale(image(upper & cv::Rect(0, 0, image.cols, image.rows)),
                                        cascadeEyes_, 1.1, 3, 0,
                                        cv::Size(face.width / 8, face.width / 8));
        int rightArea = 0;
        int leftArea = 0;
        for (const cv::Rect& eye : cascadeEyes_) {
            const cv::Point2f centre(upper.x + eye.x + eye.width / 2.0f,
                                     upper.y + eye.y + eye.height / 2.0f);
            const bool onLeft = centre.x < face.x + face.width / 2.0f;
            int& area = onLeft ? rightArea : leftArea;
            if (eye.area() > area) {
                area = eye.area();
                (onLeft ? right : left) = centre;
            }
        }
        candidate.keypoints[kRightEye] = right;
        candidate.keypoints[kLeftEye] = left;
        // No nose point: the face is taken to look along the line of sight.
        candidate.keypoints[kNoseTip] = (right + left) * 0.5f;
        Report(image, frame, candidate, false);
    }
}

void CpuFaceDetector::Report(const cv::Mat& image, const head::CameraFrame& frame,
                             const FaceCandidate& face, bool fromModel) {
    const cv::Point2f coarseRight = face.keypoints[kRightEye];
    const cv::Point2f coarseLeft = face.keypoints[kLeftEye];
    const float coarseDistance = static_cast<float>(cv::norm(coarseLeft - coarseRight));
    if (coarseDistance < 4.0f) {
        return;  // no usable eyes
    }
    const float radius = kEyeSearchShare * coarseDistance;
    const cv::Point2f right = eyeLocator_.Locate(image, coarseRight, radius);
    const cv::Point2f left = eyeLocator_.Locate(image, coarseLeft, radius);
    const cv::Point2f eyeLine = left - right;
    const float eyeDistance = std::max(1.0f, static_cast<float>(cv::norm(eyeLine)));
    const float focalLength = FocalLength(image.cols);

    head::DetectedFace detected;
    detected.rightEyePixel = {right.x, right.y};
    detected.leftEyePixel = {left.x, left.y};
    detected.rightEyeDepth = EyeDepth(frame, right, face.box, eyeDistance, focalLength);
    detected.leftEyeDepth = EyeDepth(frame, left, face.box, eyeDistance, focalLength);

    // Yaw: the nose tip leaves the eye midpoint sideways as the head turns (read on the model's
    // own points, which err alike), plus the bearing of the line of sight, so that a face
    // looking at the camera from the side has the yaw of that bearing.
    const cv::Point2f coarseMidpoint = (coarseRight + coarseLeft) * 0.5f;
    const cv::Point2f coarseAxis = (coarseLeft - coarseRight) / coarseDistance;
    const float noseShift =
        (face.keypoints[kNoseTip] - coarseMidpoint).dot(coarseAxis) / coarseDistance;
    const float principalX = hasIntrinsics_ && intrinsics_.ppx > 0.0f
                                 ? intrinsics_.ppx * image.cols / intrinsics_.width
                                 : image.cols / 2.0f;
    const float midpointX = (right.x + left.x) / 2.0f;
    const float yaw =
        std::atan2(-noseShift, kNoseDepthShare) + std::atan2(midpointX - principalX, focalLength);
    const float roll = std::atan2(eyeLine.y, eyeLine.x);
    detected.angles = {0.0f, yaw, roll};
    detected.auxiliary = {face.score, face.box.width, fromModel ? 0.0f : 1.0f};
    output_.faces.push_back(detected);
}

float CpuFaceDetector::EyeDepth(const head::CameraFrame& frame, cv::Point2f eye,
                                const cv::Rect2f& faceBox, float eyeDistance, float focalLength) {
    float depth = 0.0f;
    if (frame.GetDepth({eye.x, eye.y}, depth) && ValidDepth(depth)) {
        return depth;
    }
    // A hole at the eye (glasses, the pupil itself): the median over the eye's
    // neighbourhood, then over the face.
    auto medianOver = [&](cv::Point2f centre, float halfWidth, float halfHeight, int steps) {
        depthSamples_.clear();
        for (int j = -steps; j <= steps; ++j) {
            for (int i = -steps; i <= steps; ++i) {
                const glm::dvec2 at(centre.x + halfWidth * i / steps,
                                    centre.y + halfHeight * j / steps);
                float sample = 0.0f;
                if (frame.GetDepth(at, sample) && ValidDepth(sample)) {
                    depthSamples_.push_back(sample);
                }
            }
        }
        return depthSamples_.empty() ? 0.0f : Median(depthSamples_);
    };
    depth = medianOver(eye, 0.2f * eyeDistance, 0.2f * eyeDistance, 2);
    if (ValidDepth(depth)) {
        return depth;
    }
    depth = medianOver(Centre(faceBox), 0.4f * faceBox.width, 0.4f * faceBox.height, 4);
    if (ValidDepth(depth)) {
        return depth;
    }
    // No depth image: the eyes' pixel distance against an average adult's.
    return focalLength * kInterocularDistanceMetres / eyeDistance;
}

float CpuFaceDetector::FocalLength(int imageWidth) const {
    if (hasIntrinsics_) {
        // The image may be binned or scaled relative to the calibration.
        return intrinsics_.fx * static_cast<float>(imageWidth) / intrinsics_.width;
    }
    return 0.5f * static_cast<float>(imageWidth) /
           std::tan(kNominalFieldOfViewDegrees * 0.5f * static_cast<float>(CV_PI) / 180.0f);
}

}  // namespace tavo::cpudetector
