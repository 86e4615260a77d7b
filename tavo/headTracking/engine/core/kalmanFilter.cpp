// The speed-adaptive Kalman filter's steps.
#include "tavo/headTracking/engine/core/kalmanFilter.h"

#include "tavo/common/exception.h"

namespace tavo::head {

namespace {

// Gain on one axis for speed `v`: `b` at rest, (1 + b) / 2 at |v| = a, towards 1 beyond.
float Gain(float a, float b, float v) {
    const float aSquared = a * a;
    const float vSquared = v * v;
    const float denominator = aSquared + vSquared;
    // a = 0 at rest is 0/0; the limit of the formula there is `b`.
    if (denominator == 0.0f) {
        return b;
    }
    return (aSquared * b + vSquared) / denominator;
}

}  // namespace

void KalmanFilter::Reset(const glm::vec3& point) {
    position = point;
    velocity = glm::vec3(0.0f);
    valid = true;
}

void KalmanFilter::Invalidate() {
    valid = false;
}

glm::vec3 KalmanFilter::Predict(float dt) const {
    if (!valid) {
        throw Exception("[KalmanFilter] Predict failed: invalid instance",
                        TAVO_LOCATION("tavo::head::KalmanFilter::Predict"));
    }
    return position + velocity * dt;
}

glm::vec3 KalmanFilter::Predict(const MovingPoint& point, float dt) {
    return point.position + point.velocity * dt;
}

void KalmanFilter::Update(const KalmanCoeffs& coeffs, const glm::vec3& measurement, float dt) {
    // Checked before validity on purpose: a zero step is a no-op even for an invalid filter.
    if (dt == 0.0f) {
        return;
    }
    if (!valid) {
        throw Exception("[KalmanFilter] Update failed: invalid instance",
                        TAVO_LOCATION("tavo::head::KalmanFilter::Update"));
    }
    for (int axis = 0; axis < 3; ++axis) {
        const float v = velocity[axis];
        const float predicted = position[axis] + v * dt;
        const float innovation = measurement[axis] - predicted;
        const float correction = Gain(coeffs.a[axis], coeffs.b[axis], v) * innovation;
        position[axis] = predicted + correction;
        velocity[axis] = v + correction / dt;
    }
}

}  // namespace tavo::head

fmt::format_context::iterator fmt::formatter<tavo::head::KalmanCoeffs>::format(
    const tavo::head::KalmanCoeffs& value, fmt::format_context& context) const {
    return fmt::format_to(context.out(), "{{.a={}, .b={}}}", value.a, value.b);
}
