// Tests of the speed-adaptive Kalman filter's numbers and guards.
#include "tavo/headTracking/engine/core/kalmanFilter.h"

#include <functional>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tavo/common/exception.h"

namespace tavo::head {
namespace {

const KalmanCoeffs kDefaults{{0.02f, 0.05f, 0.2f}, {0.1f, 0.1f, 0.1f}};

std::string ThrownMessage(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& error) {
        return error.what();
    }
    return "";
}

TEST(KalmanFilterTest, StillFilterTakesGainBOfTheInnovation) {
    KalmanFilter filter;
    filter.Reset({0.0f, 0.0f, 0.0f});
    filter.Update(kDefaults, {10.0f, 0.0f, 0.0f}, 33.0f);
    EXPECT_TRUE(filter.valid);
    EXPECT_FLOAT_EQ(filter.position.x, 1.0f);
    EXPECT_FLOAT_EQ(filter.velocity.x, 1.0f / 33.0f);
    EXPECT_FLOAT_EQ(filter.position.y, 0.0f);
    EXPECT_FLOAT_EQ(filter.velocity.z, 0.0f);
}

TEST(KalmanFilterTest, GainGrowsWithSpeedPerAxis) {
    KalmanFilter filter;
    filter.Reset({0.0f, 0.0f, 0.0f});
    // x moves at exactly a.x: half-way gain (1 + b) / 2. y moves far faster than a.y.
    filter.velocity = {0.02f, 50.0f, 0.0f};
    const float dt = 10.0f;
    filter.Update(kDefaults, {1.2f, 600.0f, 0.0f}, dt);
    // x: predicted 0.2, innovation 1.0, gain 0.55.
    EXPECT_NEAR(filter.position.x, 0.2f + 0.55f, 1e-5f);
    EXPECT_NEAR(filter.velocity.x, 0.02f + 0.55f / dt, 1e-5f);
    // y: predicted 500, innovation 100, gain very close to 1.
    EXPECT_NEAR(filter.position.y, 600.0f, 1e-3f);
    EXPECT_GT(filter.position.y, 599.99f);
    EXPECT_LT(filter.position.y, 600.0f);
    // z: at rest with no innovation stays put.
    EXPECT_FLOAT_EQ(filter.position.z, 0.0f);
}

// The gain follows the square of the speed, whatever its sign: speeds 0, a and far above a
// cannot tell v² from |v| apart, 2a can ((4 + b) / 5 against (2 + b) / 3).
TEST(KalmanFilterTest, GainFollowsTheSquaredSpeedOfEitherSign) {
    const float a = kDefaults.a.x;
    const float b = kDefaults.b.x;
    const struct {
        float speed;
        float gain;
    } cases[] = {
        {2.0f * a, (4.0f + b) / 5.0f},
        {-a, (1.0f + b) / 2.0f},
        {-2.0f * a, (4.0f + b) / 5.0f},
        {3.0f * a, (9.0f + b) / 10.0f},
    };
    const float dt = 10.0f;
    for (const auto& c : cases) {
        KalmanFilter filter;
        filter.Reset({0.0f, 0.0f, 0.0f});
        filter.velocity = {c.speed, 0.0f, 0.0f};
        // Innovation of exactly 1 past the prediction.
        const float predicted = c.speed * dt;
        filter.Update(kDefaults, {predicted + 1.0f, 0.0f, 0.0f}, dt);
        EXPECT_NEAR(filter.position.x, predicted + c.gain, 1e-5f) << "speed " << c.speed;
        EXPECT_NEAR(filter.velocity.x, c.speed + c.gain / dt, 1e-6f) << "speed " << c.speed;
    }
}

TEST(KalmanFilterTest, ZeroSpeedScaleAtRestUsesGainB) {
    const KalmanCoeffs coeffs{{0.0f, 0.05f, 0.2f}, {0.25f, 0.1f, 0.1f}};
    KalmanFilter filter;
    filter.Reset({0.0f, 0.0f, 0.0f});
    filter.Update(coeffs, {8.0f, 0.0f, 0.0f}, 4.0f);
    EXPECT_FLOAT_EQ(filter.position.x, 2.0f);
    EXPECT_FLOAT_EQ(filter.velocity.x, 0.5f);
    // Once moving, a zero speed scale follows the measurement at once.
    filter.Update(coeffs, {20.0f, 0.0f, 0.0f}, 4.0f);
    EXPECT_FLOAT_EQ(filter.position.x, 20.0f);
}

TEST(KalmanFilterTest, ZeroStepChangesNothingEvenWhenInvalid) {
    KalmanFilter filter;
    filter.Reset({1.0f, 2.0f, 3.0f});
    filter.velocity = {0.5f, 0.5f, 0.5f};
    filter.Update(kDefaults, {100.0f, 100.0f, 100.0f}, 0.0f);
    EXPECT_EQ(filter.position, glm::vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(filter.velocity, glm::vec3(0.5f));

    KalmanFilter invalid;
    EXPECT_NO_THROW(invalid.Update(kDefaults, {1.0f, 1.0f, 1.0f}, 0.0f));
    EXPECT_FALSE(invalid.valid);
    EXPECT_EQ(invalid.position, glm::vec3(0.0f));
}

TEST(KalmanFilterTest, PredictLeavesTheStateAlone) {
    KalmanFilter filter;
    filter.Reset({1.0f, 2.0f, 3.0f});
    filter.velocity = {1.0f, -1.0f, 0.5f};
    const glm::vec3 first = filter.Predict(2.0f);
    EXPECT_EQ(first, glm::vec3(3.0f, 0.0f, 4.0f));
    EXPECT_EQ(filter.Predict(2.0f), first);
    EXPECT_EQ(filter.position, glm::vec3(1.0f, 2.0f, 3.0f));

    const MovingPoint point{{5.0f, 6.0f, 7.0f}, {1.0f, 1.0f, 1.0f}};
    EXPECT_EQ(KalmanFilter::Predict(point, 0.0f), point.position);
    EXPECT_EQ(KalmanFilter::Predict(point, 3.0f), glm::vec3(8.0f, 9.0f, 10.0f));
}

TEST(KalmanFilterTest, InvalidFilterThrowsUntilReset) {
    KalmanFilter filter;
    EXPECT_FALSE(filter.valid);
    filter.Reset({1.0f, 1.0f, 1.0f});
    filter.velocity = {2.0f, 2.0f, 2.0f};
    filter.Invalidate();
    EXPECT_FALSE(filter.valid);
    EXPECT_EQ(filter.position, glm::vec3(1.0f));
    EXPECT_EQ(filter.velocity, glm::vec3(2.0f));

    const std::string predictMessage = ThrownMessage([&] { filter.Predict(1.0f); });
    EXPECT_EQ(predictMessage.rfind("[KalmanFilter] Predict failed: invalid instance in "
                                   "tavo::head::KalmanFilter::Predict "
                                   "tavo/headTracking/engine/core/kalmanFilter.cpp:",
                                   0),
              0u)
        << predictMessage;
    const std::string updateMessage = ThrownMessage([&] {
        filter.Update(kDefaults, {0.0f, 0.0f, 0.0f}, 1.0f);
    });
    EXPECT_EQ(updateMessage.rfind("[KalmanFilter] Update failed: invalid instance in "
                                  "tavo::head::KalmanFilter::Update "
                                  "tavo/headTracking/engine/core/kalmanFilter.cpp:",
                                  0),
              0u)
        << updateMessage;
    EXPECT_EQ(filter.position, glm::vec3(1.0f));

    filter.Reset({4.0f, 4.0f, 4.0f});
    EXPECT_EQ(filter.Predict(1.0f), glm::vec3(4.0f));
    EXPECT_EQ(filter.velocity, glm::vec3(0.0f));
}

TEST(KalmanFilterTest, CoefficientsTextForm) {
    EXPECT_EQ(fmt::format("{}", kDefaults), "{.a={0.02, 0.05, 0.2}, .b={0.1, 0.1, 0.1}}");
    EXPECT_EQ(sizeof(KalmanFilter), 28u);
}

}  // namespace
}  // namespace tavo::head
