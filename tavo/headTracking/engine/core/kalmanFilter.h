// The speed-adaptive per-axis Kalman filter that smooths one tracked point, and its tuning.
#pragma once

#include <fmt/format.h>
#include <glm/vec3.hpp>

#include "tavo/common/export.h"
#include "tavo/headTracking/common/types.h"

namespace tavo::head {

// Gain tuning, one component per axis.
struct KalmanCoeffs {
    // Speed at which the gain lies half-way between `b` and 1.
    glm::vec3 a{0.0f};
    // Gain while the point is still, 0 to 1.
    glm::vec3 b{0.0f};
};

// A position with its velocity.
struct MovingPoint {
    glm::vec3 position{0.0f};
    glm::vec3 velocity{0.0f};
};

// Constant-velocity filter of one point whose gain grows with the point's speed: still points
// are smoothed strongly, fast ones followed almost at once. A plain value without locks, used
// by one thread at a time. Unit-agnostic: velocity is in position units per time unit.
struct TAVO_API KalmanFilter {
    // False for a default filter and after Invalidate; Predict and Update need a valid one.
    bool valid = false;
    glm::vec3 position{0.0f};
    glm::vec3 velocity{0.0f};

    // Starts afresh at `point`, at rest.
    void Reset(const glm::vec3& point);
    // Keeps position and velocity but marks the state unusable.
    void Invalidate();
    // The position `dt` ahead; throws tavo::Exception when the filter is not valid.
    glm::vec3 Predict(float dt) const;
    static glm::vec3 Predict(const MovingPoint& point, float dt);
    // One filter step towards `measurement` over `dt`. A `dt` of exactly 0 changes nothing
    // (and does not throw); otherwise throws tavo::Exception when the filter is not valid.
    void Update(const KalmanCoeffs& coeffs, const glm::vec3& measurement, float dt);
};

}  // namespace tavo::head

// {.a={...}, .b={...}}
TAVO_DECLARE_FORMATTER(tavo::head::KalmanCoeffs);
