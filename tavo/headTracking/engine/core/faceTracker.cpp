// The face tracker's per-frame step: deprojection, association, filtering and main-face choice.
#include "tavo/headTracking/engine/core/faceTracker.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>

#include <spdlog/spdlog.h>
#include <glm/geometric.hpp>

#include "tavo/common/exception.h"
#include "tavo/headTracking/engine/core/engineConfiguration.h"

namespace tavo::head {

namespace {

// A main face found this far or farther from its prediction counts as lost.
constexpr float kMainFaceSearchRadius = 100.0f;

bool IsValid(const FaceTracker::Configuration& configuration) {
    const FilterProperties& filter = configuration.filterProperties;
    return (configuration.trackRightEye || configuration.trackLeftEye) &&
           filter.interocularDistanceMin > 0.0f &&
           filter.interocularDistanceMax > filter.interocularDistanceMin;
}

// Display space mirrors x and y of the rotated camera space.
glm::vec3 MirrorXY(const glm::vec3& point) {
    return {-point.x, -point.y, point.z};
}

}  // namespace

FaceTracker::FaceTracker(const FaceDetector& detector, const Configuration& configuration) {
    if (!IsValid(configuration)) {
        throw Exception("invalid configuration",
                        TAVO_LOCATION("tavo::head::FaceTracker::FaceTracker"));
    }
    UpdateConfiguration(configuration);
    OnMaxNumOfDetectedFacesChange(detector.GetMaxNumOfFaces());
}

void FaceTracker::UpdateConfiguration(const Configuration& configuration) {
    spdlog::trace("[FaceTracker] UpdateConfiguration: {}", configuration);
    if (!IsValid(configuration)) {
        spdlog::error("[FaceTracker] UpdateConfiguration failed: invalid config");
        return;
    }
    configuration_ = configuration;
    ForgetHistory();
}

void FaceTracker::CameraDidChange(const CameraIntrinsics& intrinsics) {
    intrinsics_ = intrinsics;
}

void FaceTracker::OnMaxNumOfDetectedFacesChange(int32_t count) {
    if (count <= 0) {
        return;
    }
    const size_t n = static_cast<size_t>(count);
    rawFaces_.reserve(n);
    movingPoints_.reserve(n);
    for (int list = 0; list < 2; ++list) {
        filters_[list].reserve(n);
        // One more for the extrapolated main face.
        faceLists_[list].reserve(n + 1);
    }
    predictions_.reserve(n);
    distances_.reserve(n * n);
    rawFaceFree_.reserve(n);
    filterFree_.reserve(n);
    assignments_.reserve(n);
    candidates_.reserve(n);
}

Slice<const Face> FaceTracker::faces() const {
    const std::vector<Face>& list = faceLists_[currentFaces_];
    return {list.data(), static_cast<int64_t>(list.size())};
}

Slice<const RawFace> FaceTracker::rawFaces() const {
    return {rawFaces_.data(), static_cast<int64_t>(rawFaces_.size())};
}

void FaceTracker::ForgetHistory() {
    mainFaceTimer_ = 0.0f;
    faceLists_[currentFaces_].clear();
    filters_[currentFilters_].clear();
    // The next frame only starts the clock; raw faces left from before would be published
    // with it as if they were that frame's detections.
    rawFaces_.clear();
    lastTimestamp_ = Timestamp{Timestamp::Space::Unknown, -1.0};
}

void FaceTracker::Update(const FaceDetector::Output& output, const CameraFrame& frame,
                         float delay) {
    spdlog::debug("[FaceTracker] Update");

    // A frame without images cannot be searched for eyes, but its time step still counts.
    const Slice<const ImageDesc> images = frame.imageDescs();
    const ImageDesc* image = images.size > 0 ? images.data : nullptr;
    if (image != nullptr && image->rotation != lastImageRotation_) {
        lastImageRotation_ = image->rotation;
        ForgetHistory();
    }

    const Timestamp timestamp = frame.timestamp();
    // Kept out of the clock, a NaN or infinite time stamp cannot poison every later step.
    if (!std::isfinite(timestamp.ms)) {
        return;
    }
    if (lastTimestamp_.ms < 0.0) {
        lastTimestamp_ = timestamp;
        return;
    }
    const float dt = static_cast<float>(timestamp.ms - lastTimestamp_.ms);
    lastTimestamp_ = timestamp;

    BuildRawFaces(output, frame, image);
    UpdateFilters(dt, delay);
    BuildMovingPoints();
    BuildFaces(output);
    ChooseMainFace(dt);
    DropNonFiniteFaces();
}

void FaceTracker::DropNonFiniteFaces() {
    // Finite inputs can still overflow (a time step of 1e300 ms extrapolates to infinity); a
    // face that is not a point in space is never reported.
    std::vector<Face>& faces = faceLists_[currentFaces_];
    const auto finite = [](const glm::vec3& v) {
        return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
    };
    faces.erase(std::remove_if(faces.begin(), faces.end(),
                               [&](const Face& face) {
                                   return !finite(face.position) || !finite(face.velocity);
                               }),
                faces.end());
}

bool FaceTracker::DeprojectEye(const CameraFrame& frame, const ImageDesc& image,
                               const glm::dvec2& pixel, float depth, glm::vec3& point) const {
    const double x = std::trunc(pixel.x);
    const double y = std::trunc(pixel.y);
    // Written so that a NaN coordinate fails too.
    if (!(x >= 0.0 && x < image.width && y >= 0.0 && y < image.height)) {
        return false;
    }
    const glm::dvec2 truncated(x, y);
    glm::vec3 metres;
    if (!frame.DeprojectPixelToPoint(truncated, depth, metres)) {
        // Without intrinsics (none given yet, or a zero focal length) there is no pinhole
        // model to fall back on.
        if (intrinsics_.fx == 0.0f || intrinsics_.fy == 0.0f) {
            return false;
        }
        metres =
            glm::vec3(static_cast<float>((x - intrinsics_.ppx) / intrinsics_.fx * depth),
                      static_cast<float>((y - intrinsics_.ppy) / intrinsics_.fy * depth), depth);
    }
    point = metres * 1000.0f;
    // A NaN or infinite depth (or camera calibration) is as implausible as an eye off the
    // image.
    return std::isfinite(point.x) && std::isfinite(point.y) && std::isfinite(point.z);
}

void FaceTracker::BuildRawFaces(const FaceDetector::Output& output, const CameraFrame& frame,
                                const ImageDesc* image) {
    rawFaces_.clear();
    if (image == nullptr) {
        return;
    }
    const FilterProperties& filter = configuration_.filterProperties;
    for (size_t i = 0; i < output.faces.size(); ++i) {
        const DetectedFace& detection = output.faces[i];
        RawFace raw;
        if (!DeprojectEye(frame, *image, detection.rightEyePixel, detection.rightEyeDepth,
                          raw.rightEye) ||
            !DeprojectEye(frame, *image, detection.leftEyePixel, detection.leftEyeDepth,
                          raw.leftEye)) {
            continue;
        }
        const float eyeDistance = glm::distance(raw.rightEye, raw.leftEye);
        if (!(filter.interocularDistanceMin < eyeDistance &&
              eyeDistance < filter.interocularDistanceMax)) {
            continue;
        }
        if (configuration_.trackRightEye && configuration_.trackLeftEye) {
            raw.trackedPoint = (raw.rightEye + raw.leftEye) * 0.5f;
        } else if (configuration_.trackRightEye) {
            raw.trackedPoint = raw.rightEye;
        } else {
            raw.trackedPoint = raw.leftEye;
        }
        raw.detectionIndex = static_cast<int32_t>(i);
        rawFaces_.push_back(raw);
    }
}

void FaceTracker::UpdateFilters(float dt, float delay) {
    const FilterProperties& filter = configuration_.filterProperties;
    const std::vector<KalmanFilter>& previous = filters_[currentFilters_];
    currentFilters_ ^= 1;
    std::vector<KalmanFilter>& current = filters_[currentFilters_];
    current.clear();

    const size_t m = rawFaces_.size();
    const size_t n = previous.size();
    KalmanFilter fresh;
    if (n == 0 || (filter.resetThreshold > 0.0f && delay > filter.resetThreshold)) {
        for (const RawFace& raw : rawFaces_) {
            fresh.Reset(raw.trackedPoint);
            current.push_back(fresh);
        }
        return;
    }

    predictions_.clear();
    for (const KalmanFilter& previousFilter : previous) {
        predictions_.push_back(previousFilter.Predict(dt));
    }
    distances_.resize(m * n);
    for (size_t i = 0; i < m; ++i) {
        for (size_t j = 0; j < n; ++j) {
            distances_[i * n + j] = glm::distance(rawFaces_[i].trackedPoint, predictions_[j]);
        }
    }

    // Greedy: the globally nearest free pair first; of equal distances the first found in
    // (raw face, filter) order wins. No distance limit.
    rawFaceFree_.assign(m, 1);
    filterFree_.assign(n, 1);
    assignments_.assign(m, -1);
    for (;;) {
        float best = FLT_MAX;
        size_t bestRaw = m;
        size_t bestFilter = n;
        for (size_t i = 0; i < m; ++i) {
            if (!rawFaceFree_[i]) {
                continue;
            }
            for (size_t j = 0; j < n; ++j) {
                if (filterFree_[j] && distances_[i * n + j] < best) {
                    best = distances_[i * n + j];
                    bestRaw = i;
                    bestFilter = j;
                }
            }
        }
        if (bestRaw == m) {
            break;
        }
        assignments_[bestRaw] = static_cast<int32_t>(bestFilter);
        rawFaceFree_[bestRaw] = 0;
        filterFree_[bestFilter] = 0;
    }

    for (size_t k = 0; k < m; ++k) {
        const glm::vec3& measurement = rawFaces_[k].trackedPoint;
        if (assignments_[k] >= 0 && dt < filter.maxTrackGap) {
            KalmanFilter continued = previous[static_cast<size_t>(assignments_[k])];
            continued.Update(filter.kalman, measurement, dt);
            current.push_back(continued);
        } else {
            fresh.Reset(measurement);
            current.push_back(fresh);
        }
    }
}

void FaceTracker::BuildMovingPoints() {
    const glm::mat3& rotation = configuration_.cameraRotation;
    movingPoints_.clear();
    for (const KalmanFilter& filter : filters_[currentFilters_]) {
        movingPoints_.push_back(
            MovingPoint{MirrorXY(rotation * filter.position) + configuration_.cameraPosition,
                        MirrorXY(rotation * filter.velocity)});
    }
}

void FaceTracker::BuildFaces(const FaceDetector::Output& output) {
    const FilterProperties& filter = configuration_.filterProperties;
    const glm::vec3& centre = filter.mainFaceSkew;
    const glm::vec3& scale = filter.mainFaceScale;

    candidates_.clear();
    for (size_t k = 0; k < movingPoints_.size(); ++k) {
        const glm::vec3 offset = movingPoints_[k].position - centre;
        const float weightedDistance =
            std::sqrt(scale.x * (offset.x * offset.x) + scale.y * (offset.y * offset.y) +
                      scale.z * (offset.z * offset.z));
        const glm::vec3& position = movingPoints_[k].position;
        const double bearing = std::atan2(position.x, position.z);
        const double yaw = output.faces[static_cast<size_t>(rawFaces_[k].detectionIndex)].angles.y;
        const double angleLimit = filter.angleYMax;
        if (filter.minFitDist < weightedDistance && weightedDistance < filter.maxFitDist &&
            -angleLimit - bearing <= yaw && yaw <= angleLimit - bearing) {
            candidates_.push_back(Candidate{weightedDistance, static_cast<int32_t>(k)});
        }
    }
    std::sort(candidates_.begin(), candidates_.end(),
              [](const Candidate& left, const Candidate& right) {
                  return left.weightedDistance < right.weightedDistance;
              });

    currentFaces_ ^= 1;
    std::vector<Face>& faces = faceLists_[currentFaces_];
    faces.clear();
    for (const Candidate& candidate : candidates_) {
        const size_t k = static_cast<size_t>(candidate.index);
        const DetectedFace& detection =
            output.faces[static_cast<size_t>(rawFaces_[k].detectionIndex)];
        faces.push_back(Face{movingPoints_[k].position, movingPoints_[k].velocity, detection.angles,
                             candidate.index});
    }
}

void FaceTracker::ChooseMainFace(float dt) {
    const FilterProperties& filter = configuration_.filterProperties;
    const std::vector<Face>& previous = faceLists_[currentFaces_ ^ 1];
    std::vector<Face>& faces = faceLists_[currentFaces_];

    if (mainFaceTimer_ > filter.bufferLim || previous.empty()) {
        mainFaceTimer_ = 0.0f;
        if (!movingPoints_.empty()) {
            faceEverTracked_ = true;
        }
        return;
    }

    const Face& previousMain = previous.front();
    const glm::vec3 predicted =
        KalmanFilter::Predict(MovingPoint{previousMain.position, previousMain.velocity}, dt);
    float best = kMainFaceSearchRadius;
    std::ptrdiff_t found = -1;
    for (size_t index = 0; index < faces.size(); ++index) {
        const float distance = glm::distance(faces[index].position, predicted);
        if (distance < best) {
            best = distance;
            found = static_cast<std::ptrdiff_t>(index);
        }
    }

    if (found == 0) {
        mainFaceTimer_ = 0.0f;
        return;
    }
    mainFaceTimer_ += dt;
    if (found > 0) {
        std::rotate(faces.begin(), faces.begin() + found, faces.begin() + found + 1);
        return;
    }
    // No time passing means no decay; this also keeps a zero damping time from giving 0/0.
    const float damping = dt == 0.0f ? 1.0f : std::exp(-dt / filter.velDampingTime);
    faces.push_back(Face{predicted, previousMain.velocity * damping, previousMain.angles, -1});
    if (faces.size() >= 2) {
        std::swap(faces.front(), faces.back());
    }
}

}  // namespace tavo::head

using fmt::format_context;

format_context::iterator fmt::formatter<tavo::head::FilterProperties>::format(
    const tavo::head::FilterProperties& value, format_context& context) const {
    return fmt::format_to(context.out(),
                          "{{.velDampingTime={}, .minFitDist={}, .maxFitDist={}, .angleYMax={}, "
                          ".interocularDistanceMin={}, .interocularDistanceMax={}, .bufferLim={}, "
                          ".mainFaceSkew={}, .mainFaceScale={}, .kalman={}}}",
                          value.velDampingTime, value.minFitDist, value.maxFitDist, value.angleYMax,
                          value.interocularDistanceMin, value.interocularDistanceMax,
                          value.bufferLim, value.mainFaceSkew, value.mainFaceScale, value.kalman);
}

format_context::iterator fmt::formatter<tavo::head::FaceTracker::Configuration>::format(
    const tavo::head::FaceTracker::Configuration& value, format_context& context) const {
    return fmt::format_to(context.out(),
                          "{{.trackRightEye={}, .trackLeftEye={}, .filterProperties={}, "
                          ".cameraRotation={}, .cameraPosition={}}}",
                          value.trackRightEye, value.trackLeftEye, value.filterProperties,
                          value.cameraRotation, value.cameraPosition);
}

format_context::iterator fmt::formatter<tavo::head::EngineConfiguration>::format(
    const tavo::head::EngineConfiguration& value, format_context& context) const {
    return fmt::format_to(context.out(),
                          "{{.faceTracker={}, .camera={}, faceDetector={}, "
                          ".initializeFaceDetectorLazily={}}}",
                          value.faceTracker, value.camera, value.faceDetector,
                          value.initializeFaceDetectorLazily);
}
