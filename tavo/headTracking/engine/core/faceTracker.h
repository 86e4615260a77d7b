// The face tracker: detections in, filtered faces in display space out, main face first.
#pragma once

#include <cstdint>
#include <vector>

#include <fmt/format.h>
#include <glm/mat3x3.hpp>
#include <glm/vec3.hpp>

#include "tavo/common/export.h"
#include "tavo/headTracking/common/types.h"
#include "tavo/headTracking/engine/core/kalmanFilter.h"

namespace tavo::head {

// Filtering and selection parameters. Millimetres, milliseconds and radians.
struct FilterProperties {
    // When above 0 and an update's delay exceeds it, tracking history is not used.
    float resetThreshold = 0.5f;
    // A filter is carried over only when the time since the previous frame is below this.
    float maxTrackGap = 600.0f;
    // Time constant of the velocity decay of an extrapolated main face.
    float velDampingTime = 100.0f;
    // A face's weighted distance from `mainFaceSkew` must lie strictly between these two.
    float minFitDist = 40.0f;
    float maxFitDist = 2000.0f;
    // Largest accepted yaw of a face relative to its line of sight to the display.
    float angleYMax = 0.7853982f;
    // Eye distances at or outside these bounds are rejected.
    float interocularDistanceMin = 30.0f;
    float interocularDistanceMax = 80.0f;
    // Longest time the main face is held against the natural order, or extrapolated.
    float bufferLim = 600.0f;
    // Preferred viewing point in display space, the centre of the weighted distance.
    glm::vec3 mainFaceSkew{0.0f, 0.0f, 0.0f};
    // Per-axis weights of the squared offsets in the weighted distance.
    glm::vec3 mainFaceScale{4.0f, 4.0f, 1.0f};
    KalmanCoeffs kalman{{0.02f, 0.05f, 0.2f}, {0.1f, 0.1f, 0.1f}};
};

// Follows faces from frame to frame: deprojects each detection's eyes, associates them with
// last frame's Kalman filters, moves the result into display space, keeps the faces in the
// working range and keeps the main face stable.
//
// No lock: it must never be entered twice at once. The engine sets it up on a host thread
// before capture starts; afterwards every call comes from the camera's delivery thread.
// The slices it returns stay valid until the next Update, UpdateConfiguration or
// OnMaxNumOfDetectedFacesChange.
class TAVO_API FaceTracker {
  public:
    using FilterProperties = ::tavo::head::FilterProperties;

    struct Configuration {
        // Both set: the tracked point is the midpoint of the eyes.
        bool trackRightEye = true;
        bool trackLeftEye = true;
        FilterProperties filterProperties;
        // Camera space into display space.
        glm::mat3 cameraRotation{1.0f};
        // Camera position in display space, millimetres.
        glm::vec3 cameraPosition{0.0f};
    };

    // Throws tavo::Exception when the configuration is invalid.
    FaceTracker(const FaceDetector& detector, const Configuration& configuration);

    // Applies a valid configuration and forgets the tracking history; an invalid one is
    // logged and ignored.
    void UpdateConfiguration(const Configuration& configuration);
    // Used only for frames that cannot deproject their own pixels.
    void CameraDidChange(const CameraIntrinsics& intrinsics);
    // Grows the lists' capacity so that frames with up to `count` faces do not allocate.
    void OnMaxNumOfDetectedFacesChange(int32_t count);
    // One tracking step; `delay` is compared with the reset threshold only.
    void Update(const FaceDetector::Output& output, const CameraFrame& frame, float delay);

    // Main face first, display space.
    Slice<const Face> faces() const;
    // Accepted detections of the last processed frame, camera space.
    Slice<const RawFace> rawFaces() const;
    // True once a frame has yielded a face while the main-face choice started afresh.
    bool faceEverTracked() const { return faceEverTracked_; }
    const Configuration& configuration() const { return configuration_; }

  private:
    struct Candidate {
        float weightedDistance;
        int32_t index;
    };

    void ForgetHistory();
    bool DeprojectEye(const CameraFrame& frame, const ImageDesc& image, const glm::dvec2& pixel,
                      float depth, glm::vec3& point) const;
    void BuildRawFaces(const FaceDetector::Output& output, const CameraFrame& frame,
                       const ImageDesc* image);
    void UpdateFilters(float dt, float delay);
    void BuildMovingPoints();
    void BuildFaces(const FaceDetector::Output& output);
    void ChooseMainFace(float dt);
    void DropNonFiniteFaces();

    Configuration configuration_;
    CameraIntrinsics intrinsics_{};
    int32_t lastImageRotation_ = -1;
    Timestamp lastTimestamp_{Timestamp::Space::Unknown, -1.0};
    std::vector<RawFace> rawFaces_;
    // Double buffered: one list is this frame's, the other the previous frame's history.
    std::vector<KalmanFilter> filters_[2];
    int currentFilters_ = 0;
    std::vector<MovingPoint> movingPoints_;
    std::vector<Face> faceLists_[2];
    int currentFaces_ = 0;
    float mainFaceTimer_ = 0.0f;
    bool faceEverTracked_ = false;

    // Per-frame scratch, kept here with its capacity so that steady-state frames do not
    // touch the heap.
    std::vector<glm::vec3> predictions_;
    std::vector<float> distances_;
    std::vector<uint8_t> rawFaceFree_;
    std::vector<uint8_t> filterFree_;
    std::vector<int32_t> assignments_;
    std::vector<Candidate> candidates_;
};

}  // namespace tavo::head

// The reset threshold and the track gap are left out of the text form.
TAVO_DECLARE_FORMATTER(tavo::head::FilterProperties);
TAVO_DECLARE_FORMATTER(tavo::head::FaceTracker::Configuration);
