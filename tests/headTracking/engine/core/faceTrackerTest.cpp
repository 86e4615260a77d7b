// Tests of the face tracker: deprojection, association, filtering, selection, main face.
#include "tavo/headTracking/engine/core/faceTracker.h"

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "headTracking/testCameraFrame.h"
#include "tavo/common/exception.h"
#include "tavo/headTracking/engine/core/engineConfiguration.h"

namespace tavo::head {
namespace {

using test::DetectionAt;
using test::FaceAt;
using test::TestCameraFrame;

class TestDetector final : public FaceDetector {
  public:
    int32_t GetMaxNumOfFacesLimit() const override { return 16; }
    int32_t GetMaxNumOfFaces() const override { return maxFaces; }
    void SetMaxNumOfFaces(int32_t count) override { maxFaces = count; }
    tavo_face_detector_backend_e GetBackend() const override { return kTavoFaceDetectorBackendCPU; }
    void SetCameraIntrinsics(const CameraIntrinsics&) override {}
    Output& Detect(const CameraFrame&) override { return output; }

    int32_t maxFaces = 4;
    Output output;
};

// Display space of a camera-space point under the identity camera pose.
glm::vec3 Display(const glm::vec3& camera) {
    return {-camera.x, -camera.y, camera.z};
}

void ExpectNear(const glm::vec3& actual, const glm::vec3& expected, float tolerance = 1e-3f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

class FaceTrackerTest : public testing::Test {
  protected:
    void Make(const FaceTracker::Configuration& configuration = {}) {
        tracker = std::make_unique<FaceTracker>(detector, configuration);
    }

    // One frame at `ms` with these detections.
    void Step(double ms, const std::vector<DetectedFace>& detections) {
        detector.output.faces = detections;
        frame.stamp.ms = ms;
        tracker->Update(detector.output, frame, 0.0f);
    }

    std::vector<Face> Faces() const {
        const Slice<const Face> faces = tracker->faces();
        return {faces.begin(), faces.end()};
    }

    // A configuration in which every filter restarts each frame, so that faces sit exactly
    // on their measurements and the main-face logic can be watched alone.
    static FaceTracker::Configuration Unfiltered() {
        FaceTracker::Configuration configuration;
        configuration.filterProperties.maxTrackGap = 0.0f;
        return configuration;
    }

    TestDetector detector;
    TestCameraFrame frame;
    std::unique_ptr<FaceTracker> tracker;
};

// --- set-up and configuration ---

TEST_F(FaceTrackerTest, InvalidConfigurationsAreRefused) {
    FaceTracker::Configuration noEye;
    noEye.trackRightEye = false;
    noEye.trackLeftEye = false;
    FaceTracker::Configuration zeroMin;
    zeroMin.filterProperties.interocularDistanceMin = 0.0f;
    FaceTracker::Configuration maxNotAboveMin;
    maxNotAboveMin.filterProperties.interocularDistanceMax = 30.0f;

    for (const FaceTracker::Configuration& invalid : {noEye, zeroMin, maxNotAboveMin}) {
        try {
            FaceTracker refused(detector, invalid);
            ADD_FAILURE() << "constructed with an invalid configuration";
        } catch (const Exception& error) {
            EXPECT_EQ(std::string(error.what())
                          .rfind("invalid configuration in tavo::head::FaceTracker::FaceTracker "
                                 "tavo/headTracking/engine/core/faceTracker.cpp:",
                                 0),
                      0u)
                << error.what();
        }
    }

    // An invalid update keeps the configuration and the tracking history.
    Make(Unfiltered());
    Step(0, {});
    Step(100, {FaceAt({0, 0, 1500})});
    for (const FaceTracker::Configuration& invalid : {noEye, zeroMin, maxNotAboveMin}) {
        tracker->UpdateConfiguration(invalid);
    }
    EXPECT_EQ(tracker->configuration().filterProperties.maxTrackGap, 0.0f);
    EXPECT_TRUE(tracker->configuration().trackRightEye);
    ASSERT_EQ(tracker->faces().size, 1);
    Step(200, {FaceAt({0, 0, 1500})});
    EXPECT_EQ(tracker->faces().size, 1);
}

TEST_F(FaceTrackerTest, ValidConfigurationUpdateForgetsHistory) {
    Make();
    Step(0, {});
    Step(33, {FaceAt({0, 0, 1000})});
    ASSERT_EQ(tracker->faces().size, 1);
    FaceTracker::Configuration moved;
    moved.cameraPosition = {0, 0, 100};
    tracker->UpdateConfiguration(moved);
    EXPECT_EQ(tracker->faces().size, 0);
    EXPECT_EQ(tracker->rawFaces().size, 0);
    // The next frame only restarts the clock.
    Step(66, {FaceAt({0, 0, 1000})});
    EXPECT_EQ(tracker->faces().size, 0);
    Step(99, {FaceAt({10, 0, 1000})});
    ASSERT_EQ(tracker->faces().size, 1);
    ExpectNear(tracker->faces()[0].position, {-10, 0, 1100});
    ExpectNear(tracker->faces()[0].velocity, {0, 0, 0});
}

TEST_F(FaceTrackerTest, CapacityIsPreparedFromTheDetector) {
    detector.maxFaces = 2;
    Make();
    Step(0, {});
    // More detections than the detector announced still all count.
    Step(33, {FaceAt({-300, 0, 1000}), FaceAt({0, 0, 1000}), FaceAt({300, 0, 1000})});
    EXPECT_EQ(tracker->rawFaces().size, 3);
    EXPECT_EQ(tracker->faces().size, 3);
    tracker->OnMaxNumOfDetectedFacesChange(-5);
    tracker->OnMaxNumOfDetectedFacesChange(8);
    EXPECT_EQ(tracker->faces().size, 3);
    // Prepared for eight, the tracker keeps its raw records in place through a frame of eight:
    // nothing is allocated while tracking.
    Step(66, {FaceAt({0, 0, 1000})});
    const RawFace* storage = tracker->rawFaces().data;
    std::vector<DetectedFace> eight;
    for (int i = 0; i < 8; ++i) {
        eight.push_back(FaceAt({-875.0f + 250.0f * static_cast<float>(i), 0, 1000}));
    }
    Step(99, eight);
    ASSERT_EQ(tracker->rawFaces().size, 8);
    EXPECT_EQ(tracker->rawFaces().data, storage);
}

TEST_F(FaceTrackerTest, FirstFrameOnlyStartsTheClockAndDtIsTheTimestampDifference) {
    Make();
    Step(1000, {FaceAt({0, 0, 1000})});
    EXPECT_EQ(tracker->faces().size, 0);
    EXPECT_EQ(tracker->rawFaces().size, 0);
    EXPECT_FALSE(tracker->faceEverTracked());

    Step(1033, {FaceAt({0, 0, 1000})});
    ASSERT_EQ(tracker->faces().size, 1);
    EXPECT_TRUE(tracker->faceEverTracked());
    ExpectNear(tracker->faces()[0].position, {0, 0, 1000});
    ExpectNear(tracker->faces()[0].velocity, {0, 0, 0});

    // 10 mm along camera x in 33 ms: still filter, gain 0.1 on every axis with the defaults.
    Step(1066, {FaceAt({10, 0, 1000})});
    ASSERT_EQ(tracker->faces().size, 1);
    const Face face = tracker->faces()[0];
    ExpectNear(face.position, {-1.0f, 0, 1000});
    ExpectNear(face.velocity, {-1.0f / 33.0f, 0, 0}, 1e-5f);
    EXPECT_EQ(face.rawFaceIndex, 0);
}

// --- raw faces ---

TEST_F(FaceTrackerTest, EyeDistanceBoundsAreStrict) {
    Make();
    Step(0, {});
    auto pair = [](double pixels, float depth) {
        DetectedFace face;
        face.rightEyePixel = {1000, 1000};
        face.leftEyePixel = {1000 + pixels, 1000};
        face.rightEyeDepth = depth;
        face.leftEyeDepth = depth;
        return face;
    };
    // At 1 m one pixel is 1 mm; at 0.5 m half of one.
    Step(33, {pair(30, 1.0f), pair(80, 1.0f), pair(61, 0.5f), pair(159, 0.5f)});
    const Slice<const RawFace> raw = tracker->rawFaces();
    ASSERT_EQ(raw.size, 2);
    EXPECT_EQ(raw[0].detectionIndex, 2);
    EXPECT_EQ(raw[1].detectionIndex, 3);
    EXPECT_NEAR(glm::distance(raw[0].rightEye, raw[0].leftEye), 30.5f, 1e-3f);
    EXPECT_NEAR(glm::distance(raw[1].rightEye, raw[1].leftEye), 79.5f, 1e-3f);
}

TEST_F(FaceTrackerTest, TrackedPointFollowsTheTrackedEyes) {
    const glm::vec3 right(-30, 10, 1000);
    const glm::vec3 left(30, 20, 1000);
    struct Case {
        bool trackRight;
        bool trackLeft;
        glm::vec3 expected;
    };
    for (const Case& c : {Case{true, true, (right + left) * 0.5f}, Case{true, false, right},
                          Case{false, true, left}}) {
        FaceTracker::Configuration configuration;
        configuration.trackRightEye = c.trackRight;
        configuration.trackLeftEye = c.trackLeft;
        Make(configuration);
        Step(0, {});
        Step(33, {DetectionAt(right, left)});
        ASSERT_EQ(tracker->rawFaces().size, 1);
        const RawFace raw = tracker->rawFaces()[0];
        ExpectNear(raw.rightEye, right);
        ExpectNear(raw.leftEye, left);
        ExpectNear(raw.trackedPoint, c.expected);
        ASSERT_EQ(tracker->faces().size, 1);
        ExpectNear(tracker->faces()[0].position, Display(c.expected));
    }
}

TEST_F(FaceTrackerTest, EyesOutsideTheImageAreDroppedAndIndicesCountThem) {
    Make();
    Step(0, {});
    DetectedFace left = FaceAt({0, 0, 1000});
    left.rightEyePixel.x = -1.0;
    DetectedFace right = FaceAt({0, 0, 1000});
    right.leftEyePixel.x = 2000.0;
    DetectedFace below = FaceAt({0, 0, 1000});
    below.leftEyePixel.y = 2000.0;
    DetectedFace nan = FaceAt({0, 0, 1000});
    nan.rightEyePixel.y = std::nan("");
    // Fractions are cut towards zero, so the last column still lies inside.
    DetectedFace edge;
    edge.rightEyePixel = {1939.0, 1999.9};
    edge.leftEyePixel = {1999.9, 1999.9};
    edge.rightEyeDepth = edge.leftEyeDepth = 1.0f;
    Step(33, {left, right, below, nan, edge, FaceAt({0, 0, 1000})});
    const Slice<const RawFace> raw = tracker->rawFaces();
    ASSERT_EQ(raw.size, 2);
    EXPECT_EQ(raw[0].detectionIndex, 4);
    ExpectNear(raw[0].leftEye, {999, 999, 1000});
    EXPECT_EQ(raw[1].detectionIndex, 5);
}

TEST_F(FaceTrackerTest, FrameDeprojectionComesFirstAndIntrinsicsAreTheFallback) {
    Make();
    // The frame's own model puts a pixel at 1 mm per metre of depth.
    Step(0, {});
    Step(33, {FaceAt({40, 0, 1000})});
    ASSERT_EQ(tracker->rawFaces().size, 1);
    ExpectNear(tracker->rawFaces()[0].trackedPoint, {40, 0, 1000});

    // A frame that declines, with no intrinsics given yet: nothing can be deprojected.
    frame.deprojects = false;
    Step(66, {FaceAt({40, 0, 1000})});
    EXPECT_EQ(tracker->rawFaces().size, 0);

    // A zero focal length is no model either.
    CameraIntrinsics zeroFocal = test::TestIntrinsics();
    zeroFocal.fy = 0.0f;
    tracker->CameraDidChange(zeroFocal);
    Step(99, {FaceAt({40, 0, 1000})});
    EXPECT_EQ(tracker->rawFaces().size, 0);

    // The pinhole fallback with the given intrinsics: half the focal length, twice the size.
    CameraIntrinsics wide = test::TestIntrinsics();
    wide.fx = 500.0f;
    wide.fy = 500.0f;
    wide.ppx = 990.0f;
    tracker->CameraDidChange(wide);
    Step(132, {DetectionAt({0, 0, 1000}, {30, 20, 1000})});
    ASSERT_EQ(tracker->rawFaces().size, 1);
    const RawFace raw = tracker->rawFaces()[0];
    ExpectNear(raw.rightEye, {20, 0, 1000});
    ExpectNear(raw.leftEye, {80, 40, 1000});
}

TEST_F(FaceTrackerTest, FrameWithoutImagesCountsAsFrameWithoutDetections) {
    Make();
    Step(0, {});
    Step(100, {FaceAt({0, 0, 1000})});
    Step(200, {FaceAt({20, 0, 1000})});
    ASSERT_EQ(tracker->faces().size, 1);
    const Face before = tracker->faces()[0];
    ASSERT_NE(before.velocity.x, 0.0f);

    frame.images.clear();
    Step(300, {FaceAt({40, 0, 1000})});
    EXPECT_EQ(tracker->rawFaces().size, 0);
    ASSERT_EQ(tracker->faces().size, 1);
    const Face extrapolated = tracker->faces()[0];
    EXPECT_EQ(extrapolated.rawFaceIndex, -1);
    ExpectNear(extrapolated.position, before.position + before.velocity * 100.0f);
    ExpectNear(extrapolated.velocity, before.velocity * std::exp(-1.0f), 1e-6f);
}

// --- association and filtering ---

TEST_F(FaceTrackerTest, GreedyMatchingTakesTheNearestPairFirst) {
    Make();
    Step(0, {});
    Step(33, {FaceAt({0, 0, 1000}), FaceAt({100, 0, 1000})});
    // Raw 1 is nearer filter 0 (20 mm) than filter 1 (120 mm), but raw 0 takes filter 0 at
    // 5 mm first.
    Step(66, {FaceAt({5, 0, 1000}), FaceAt({-20, 0, 1000})});
    const std::vector<Face> faces = Faces();
    ASSERT_EQ(faces.size(), 2u);
    for (const Face& face : faces) {
        if (face.rawFaceIndex == 0) {
            ExpectNear(face.position, Display({0.5f, 0, 1000}));
        } else {
            EXPECT_EQ(face.rawFaceIndex, 1);
            ExpectNear(face.position, Display({100 - 12.0f, 0, 1000}));
            ExpectNear(face.velocity, Display({-12.0f / 33.0f, 0, 0}), 1e-5f);
        }
    }
}

TEST_F(FaceTrackerTest, ExtraRawFacesStartNewFiltersAndTiesGoToTheFirst) {
    Make();
    Step(0, {});
    Step(33, {FaceAt({0, 0, 1000})});
    // Raw 0 and raw 1 are equally far from the one filter: the first found wins.
    Step(66, {FaceAt({-10, 0, 1000}), FaceAt({10, 0, 1000}), FaceAt({0, 0, 1300})});
    const std::vector<Face> faces = Faces();
    ASSERT_EQ(faces.size(), 3u);
    int moving = 0;
    for (const Face& face : faces) {
        if (face.rawFaceIndex == 0) {
            ExpectNear(face.position, Display({-1, 0, 1000}));
            EXPECT_NE(face.velocity.x, 0.0f);
            ++moving;
        } else {
            ExpectNear(face.velocity, {0, 0, 0}, 0.0f);
        }
    }
    EXPECT_EQ(moving, 1);
}

TEST_F(FaceTrackerTest, LongGapResetsEveryFilter) {
    Make();
    Step(0, {});
    Step(33, {FaceAt({0, 0, 1000})});
    Step(66, {FaceAt({10, 0, 1000})});
    ASSERT_NE(tracker->faces()[0].velocity.x, 0.0f);
    Step(666, {FaceAt({20, 0, 1000})});
    ASSERT_EQ(tracker->faces().size, 1);
    ExpectNear(tracker->faces()[0].position, Display({20, 0, 1000}));
    ExpectNear(tracker->faces()[0].velocity, {0, 0, 0}, 0.0f);
    EXPECT_EQ(tracker->faces()[0].rawFaceIndex, 0);
}

TEST_F(FaceTrackerTest, CameraPoseMovesPositionsAndRotatesVelocities) {
    FaceTracker::Configuration configuration;
    // A quarter turn about z: camera x becomes y.
    configuration.cameraRotation = glm::mat3(0, 1, 0, -1, 0, 0, 0, 0, 1);
    configuration.cameraPosition = {10, 20, 30};
    configuration.filterProperties.mainFaceSkew = {10, 20, 30};
    Make(configuration);
    Step(0, {});
    Step(33, {FaceAt({100, 0, 1000})});
    ASSERT_EQ(tracker->faces().size, 1);
    ExpectNear(tracker->faces()[0].position, {10, -80, 1030});
    Step(66, {FaceAt({110, 0, 1000})});
    ASSERT_EQ(tracker->faces().size, 1);
    ExpectNear(tracker->faces()[0].position, {10, -81, 1030});
    ExpectNear(tracker->faces()[0].velocity, {0, -1.0f / 33.0f, 0}, 1e-5f);
}

// --- candidates ---

TEST_F(FaceTrackerTest, WeightedDistanceSelectsAndOrdersFaces) {
    Make();
    Step(0, {});
    Step(33, {FaceAt({-600, 0, 1500}), FaceAt({0, 0, 2100}), FaceAt({0, 0, 1500}),
              FaceAt({0, 0, 35}, 0.0f, 31.0f)});
    EXPECT_EQ(tracker->rawFaces().size, 4);
    const std::vector<Face> faces = Faces();
    ASSERT_EQ(faces.size(), 2u);
    EXPECT_EQ(faces[0].rawFaceIndex, 2);
    ExpectNear(faces[0].position, {0, 0, 1500});
    EXPECT_EQ(faces[1].rawFaceIndex, 0);
    ExpectNear(faces[1].position, {600, 0, 1500});
}

TEST_F(FaceTrackerTest, YawMustFaceTheDisplay) {
    Make();
    const float quarter = 0.7853982f;
    // Display x = z tan(0.5) puts the face at a bearing of 0.5 rad.
    const float cameraX = -1000.0f * std::tan(0.5f);
    const float yaws[] = {quarter - 0.5f - 0.01f, quarter - 0.5f + 0.01f, -quarter - 0.5f + 0.01f,
                          -quarter - 0.5f - 0.01f, 0.5f};
    const bool accepted[] = {true, false, true, false, false};
    for (int i = 0; i < 5; ++i) {
        Make();
        Step(0, {});
        Step(33, {FaceAt({cameraX, 0, 1000}, yaws[i])});
        EXPECT_EQ(tracker->faces().size, accepted[i] ? 1 : 0) << "yaw " << yaws[i];
        if (accepted[i]) {
            EXPECT_NEAR(std::atan2(tracker->faces()[0].position.x, tracker->faces()[0].position.z),
                        0.5f, 1e-3f);
            EXPECT_EQ(tracker->faces()[0].angles.y, yaws[i]);
        }
    }
}

// --- main face ---

TEST_F(FaceTrackerTest, LostMainFaceDriftsToAStopThenDisappears) {
    Make();
    Step(0, {});
    Step(100, {FaceAt({0, 0, 1000})});
    Step(200, {FaceAt({20, 0, 1000})});
    Face expected = tracker->faces()[0];
    ASSERT_LT(expected.velocity.x, 0.0f);

    // Accumulated time 100, 200, ..., 700: the face is held while the timer at the start of
    // a frame is at most 600.
    for (double ms = 300; ms <= 900; ms += 100) {
        Step(ms, {});
        ASSERT_EQ(tracker->faces().size, 1) << ms;
        const Face face = tracker->faces()[0];
        EXPECT_EQ(face.rawFaceIndex, -1);
        ExpectNear(face.position, expected.position + expected.velocity * 100.0f);
        ExpectNear(face.velocity, expected.velocity * std::exp(-1.0f), 1e-6f);
        EXPECT_LT(std::abs(face.velocity.x), std::abs(expected.velocity.x));
        expected = face;
    }
    Step(1000, {});
    EXPECT_EQ(tracker->faces().size, 0);
    EXPECT_TRUE(tracker->faceEverTracked());
    Step(1100, {});
    EXPECT_EQ(tracker->faces().size, 0);
}

// No NaN or infinity is ever reported as a face: not after a non-finite time stamp (which
// once poisoned the clock for good), a non-finite depth, or a time step that overflows.
TEST_F(FaceTrackerTest, NonFiniteInputsNeverReachTheFaces) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const auto finite = [](const glm::vec3& v) {
        return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
    };
    for (const double badMs : {nan, inf, -inf}) {
        Make();
        Step(0, {});
        Step(100, {FaceAt({0, 0, 1000})});
        Step(badMs, {FaceAt({0, 0, 1000})});
        Step(200, {FaceAt({10, 0, 1000})});
        ASSERT_EQ(tracker->faces().size, 1) << badMs;
        EXPECT_TRUE(finite(tracker->faces()[0].position)) << badMs;
        EXPECT_TRUE(finite(tracker->faces()[0].velocity)) << badMs;
        EXPECT_EQ(tracker->faces()[0].rawFaceIndex, 0);
    }

    for (const float badDepth :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        Make();
        Step(0, {});
        DetectedFace face = FaceAt({0, 0, 1000});
        face.leftEyeDepth = badDepth;
        Step(100, {face, FaceAt({200, 0, 1000})});
        ASSERT_EQ(tracker->rawFaces().size, 1);
        EXPECT_EQ(tracker->rawFaces()[0].detectionIndex, 1);
    }

    // A main face lost across a step of 1e300 ms would be extrapolated to infinity.
    Make();
    Step(0, {});
    Step(100, {FaceAt({0, 0, 1000})});
    Step(200, {FaceAt({20, 0, 1000})});
    Step(1e300, {});
    EXPECT_EQ(tracker->faces().size, 0);
}

TEST_F(FaceTrackerTest, LostMainFaceStaysFirstBesideAnotherFace) {
    Make(Unfiltered());
    Step(0, {});
    Step(100, {FaceAt({0, 0, 1000}), FaceAt({0, 0, 1400})});
    ASSERT_EQ(tracker->faces().size, 2);
    EXPECT_EQ(tracker->faces()[0].rawFaceIndex, 0);

    for (double ms = 200; ms <= 800; ms += 100) {
        Step(ms, {FaceAt({0, 0, 1400})});
        const std::vector<Face> faces = Faces();
        ASSERT_EQ(faces.size(), 2u) << ms;
        EXPECT_EQ(faces[0].rawFaceIndex, -1);
        ExpectNear(faces[0].position, {0, 0, 1000});
        EXPECT_EQ(faces[1].rawFaceIndex, 0);
        ExpectNear(faces[1].position, {0, 0, 1400});
    }
    Step(900, {FaceAt({0, 0, 1400})});
    ASSERT_EQ(tracker->faces().size, 1);
    EXPECT_EQ(tracker->faces()[0].rawFaceIndex, 0);
}

TEST_F(FaceTrackerTest, MainFaceKeepsFirstPlaceAgainstTheNaturalOrder) {
    Make(Unfiltered());
    Step(0, {});
    Step(100, {FaceAt({0, 0, 1500})});
    // The main face moves 50 mm while two nearer faces arrive.
    const std::vector<DetectedFace> crowd = {FaceAt({0, 0, 1200}), FaceAt({0, 0, 1550}),
                                             FaceAt({0, 0, 1000})};
    Step(200, crowd);
    std::vector<Face> faces = Faces();
    ASSERT_EQ(faces.size(), 3u);
    EXPECT_EQ(faces[0].rawFaceIndex, 1);
    EXPECT_EQ(faces[1].rawFaceIndex, 2);
    EXPECT_EQ(faces[2].rawFaceIndex, 0);

    // Timer 100 after that frame; held while it is at most 600 at the start of a frame.
    for (double ms = 300; ms <= 800; ms += 100) {
        Step(ms, crowd);
        EXPECT_EQ(tracker->faces()[0].rawFaceIndex, 1) << ms;
    }
    Step(900, crowd);
    faces = Faces();
    ASSERT_EQ(faces.size(), 3u);
    EXPECT_EQ(faces[0].rawFaceIndex, 2);
    EXPECT_EQ(faces[1].rawFaceIndex, 0);
    EXPECT_EQ(faces[2].rawFaceIndex, 1);
    // Now first in the natural order, the new main face stays first with the timer at 0.
    for (double ms = 1000; ms <= 2000; ms += 100) {
        Step(ms, crowd);
        EXPECT_EQ(tracker->faces()[0].rawFaceIndex, 2) << ms;
    }
}

TEST_F(FaceTrackerTest, MainFaceFarFromItsPredictionCountsAsLost) {
    Make(Unfiltered());
    Step(0, {});
    Step(100, {FaceAt({0, 0, 1500})});
    Step(200, {FaceAt({0, 0, 1599})});
    ASSERT_EQ(tracker->faces().size, 1);
    EXPECT_EQ(tracker->faces()[0].rawFaceIndex, 0);

    Step(300, {FaceAt({0, 0, 1699})});
    const std::vector<Face> faces = Faces();
    ASSERT_EQ(faces.size(), 2u);
    EXPECT_EQ(faces[0].rawFaceIndex, -1);
    ExpectNear(faces[0].position, {0, 0, 1599});
    EXPECT_EQ(faces[1].rawFaceIndex, 0);
}

TEST_F(FaceTrackerTest, RotationChangeForgetsAllTracks) {
    Make();
    Step(0, {});
    Step(33, {FaceAt({0, 0, 1000})});
    Step(66, {FaceAt({10, 0, 1000})});
    ASSERT_EQ(tracker->faces().size, 1);

    frame.images[0].rotation = 90;
    Step(99, {FaceAt({20, 0, 1000})});
    EXPECT_EQ(tracker->faces().size, 0);
    EXPECT_EQ(tracker->rawFaces().size, 0);
    Step(132, {FaceAt({30, 0, 1000})});
    ASSERT_EQ(tracker->faces().size, 1);
    ExpectNear(tracker->faces()[0].position, Display({30, 0, 1000}));
    ExpectNear(tracker->faces()[0].velocity, {0, 0, 0}, 0.0f);
}

TEST_F(FaceTrackerTest, FaceEverTrackedStaysSetOnceAFaceWasSeen) {
    Make();
    Step(0, {FaceAt({0, 0, 1000})});
    Step(33, {});
    EXPECT_FALSE(tracker->faceEverTracked());
    // A face outside the working range is still a tracked face for this flag.
    Step(66, {FaceAt({0, 0, 2500})});
    EXPECT_EQ(tracker->faces().size, 0);
    EXPECT_TRUE(tracker->faceEverTracked());
    Step(99, {});
    Step(1099, {});
    EXPECT_TRUE(tracker->faceEverTracked());
    tracker->UpdateConfiguration(FaceTracker::Configuration{});
    EXPECT_TRUE(tracker->faceEverTracked());
}

// --- text forms ---

TEST(FaceTrackerTextTest, ConfigurationTextForms) {
    const EngineConfiguration defaults;
    EXPECT_EQ(fmt::format("{}", defaults.faceTracker.filterProperties),
              "{.velDampingTime=100, .minFitDist=40, .maxFitDist=2000, .angleYMax=0.7853982, "
              ".interocularDistanceMin=30, .interocularDistanceMax=80, .bufferLim=600, "
              ".mainFaceSkew={0, 0, 0}, .mainFaceScale={4, 4, 1}, "
              ".kalman={.a={0.02, 0.05, 0.2}, .b={0.1, 0.1, 0.1}}}");
    const std::string tracker = fmt::format("{}", defaults.faceTracker);
    EXPECT_EQ(tracker.rfind("{.trackRightEye=true, .trackLeftEye=true, .filterProperties={", 0),
              0u);
    EXPECT_NE(tracker.find(".cameraRotation={{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, "
                           ".cameraPosition={0, 0, 0}}"),
              std::string::npos);
    EXPECT_EQ(fmt::format("{}", defaults),
              fmt::format("{{.faceTracker={}, .camera={{.width=0, .height=0, .fps=0, "
                          ".binningFactor=0}}, faceDetector={{.maxNumOfFaces=0}}, "
                          ".initializeFaceDetectorLazily=false}}",
                          tracker));
    EXPECT_FALSE(defaults.enableProfiling);
    EXPECT_EQ(defaults.faceDetector.backend, kTavoFaceDetectorBackendUnknown);
    EXPECT_FLOAT_EQ(defaults.faceTracker.filterProperties.resetThreshold, 0.5f);
    EXPECT_FLOAT_EQ(defaults.faceTracker.filterProperties.maxTrackGap, 600.0f);
}

}  // namespace
}  // namespace tavo::head
