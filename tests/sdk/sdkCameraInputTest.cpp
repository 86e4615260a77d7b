// Which camera feeds face tracking after starts that fail: the host's camera handed in, or the
// depth camera (the librealsense2 stand-in's simulated device on a faked USB bus).
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include <librealsense2/simulation.h>

#include "sdk/sdkTestSupport.h"
#include "tavo/headTracking/engine/engine.h"

namespace tavo::sdk {
namespace {

class SdkCameraInputTest : public test::SdkTest {
  protected:
    void SetUp() override {
        SdkTest::SetUp();
        rs2sim_reset();
        rs2sim_connect_default_device();
        // Keeps a capture thread with nothing to deliver from holding up a stop.
        rs2sim_set_max_wait_ms(5);
    }
    void TearDown() override {
        SdkTest::TearDown();
        rs2sim_reset();
    }

    // True once the depth camera streams; bounded, since its capture thread starts it.
    static bool DepthCameraStreams() {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (rs2sim_is_streaming() == 0) {
            if (std::chrono::steady_clock::now() > limit) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }

    // True when frames pushed from the host's camera reach face tracking.
    bool HostCameraFeedsTracking() {
        glm::vec3 face;
        sdk_->SetPrimaryFace(nullptr, nullptr);
        if (!camera_.PushIntrinsics()) {
            return false;
        }
        PushFrames(2);
        return sdk_->GetNonPredictedPrimaryFace(face);
    }

    test::FakeCameraBus cameraOnTheBus_{true};
};

// The host's camera is handed in but the start fails; tracking is then started on the depth
// camera. A later SetConfig restart must keep the depth camera, not switch back to the host's
// camera that the failed start was told to forget.
TEST_F(SdkCameraInputTest, AfterAFailedStartARestartKeepsTheDepthCamera) {
    ASSERT_TRUE(head::IsCameraConnected());
    // No GPU detector plug-in exists: the start with the host's camera fails.
    sdk_->SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU);
    InitializeWithHostCamera();
    ASSERT_FALSE(sdk_->IsFaceTrackingEnabled()) << log_.Dump();
    ASSERT_TRUE(log_.HasLineStartingWith(
        "error Failed to initialize face tracking backend: Failed to create face detector"))
        << log_.Dump();

    // Started again without a camera handed in: the depth camera it is.
    sdk_->SetFaceDetectorBackend(kTavoFaceDetectorBackendCPU);
    ASSERT_TRUE(sdk_->EnableFaceTracking(true)) << log_.Dump();
    ASSERT_TRUE(DepthCameraStreams());
    EXPECT_FALSE(HostCameraFeedsTracking());
    const int depthStarts = rs2sim_start_count();

    // A tracking value changes: face tracking restarts, on the same camera.
    device::Config config = sdk_->GetConfig();
    config.kalmanB = 0.2f;
    sdk_->SetConfig(config);
    ASSERT_TRUE(sdk_->IsFaceTrackingEnabled()) << log_.Dump();
    EXPECT_EQ(log_.CountExact("info Starting face tracking"), 3);
    EXPECT_TRUE(DepthCameraStreams());
    EXPECT_GT(rs2sim_start_count(), depthStarts) << "the restart did not open the depth camera";
    EXPECT_FALSE(HostCameraFeedsTracking()) << "the restart switched to the host's camera";
}

}  // namespace
}  // namespace tavo::sdk
