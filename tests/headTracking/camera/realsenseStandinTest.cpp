// The librealsense2 stand-in against the real library's behaviour: projection for every lens
// model, unplugging and reconnecting, device change callbacks, option ranges and late devices.
#include <gtest/gtest.h>

#include <librealsense2/rsutil.h>
#include <librealsense2/simulation.h>
#include <librealsense2/rs.hpp>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "headTracking/camera/cameraTestSupport.h"

namespace {

using tavo::head::test::Eventually;

// Values worked out by hand with fx = fy = 100 and the principal point at (50, 50), so that a
// pixel is 50 + 100 x its normalised coordinate.
struct ProjectionCase {
    const char* name;
    rs2_distortion model;
    float coeffs[5];
    // Projection of `point`.
    float point[3];
    float pixel[2];
    // Deprojection of `fromPixel` at `depth`.
    float fromPixel[2];
    float depth;
    float deprojected[3];
};

const ProjectionCase kProjectionCases[] = {
    {"none: the pinhole alone",
     RS2_DISTORTION_NONE,
     {0.1f, 0.0f, 0.01f, 0.02f, 0.0f},
     {0.4f, 0.2f, 2.0f},
     {70.0f, 60.0f},
     {70.0f, 60.0f},
     2.0f,
     {0.4f, 0.2f, 2.0f}},
    // u = (0.2, 0.1), r2 = 0.05, radial 1 + 0.1 r2 = 1.005; tangential of u:
    // x 2 p1 x y + p2 (r2 + 2 x^2) = 0.0004 + 0.0026, y 2 p2 x y + p1 (r2 + 2 y^2) = 0.0008 +
    // 0.0007; d = (0.201 + 0.003, 0.1005 + 0.0015) = (0.204, 0.102). Deprojection steps back to u.
    {"Brown-Conrady",
     RS2_DISTORTION_BROWN_CONRADY,
     {0.1f, 0.0f, 0.01f, 0.02f, 0.0f},
     {0.2f, 0.1f, 1.0f},
     {70.4f, 60.2f},
     {70.4f, 60.2f},
     1.0f,
     {0.2f, 0.1f, 1.0f}},
    // Radial first: s = 1.005 u = (0.201, 0.1005); tangential of s with u's r2 = 0.05:
    // x 0.00040401 + 0.02 (0.05 + 0.080802) = 0.00302005, y 0.00080802 + 0.01 (0.05 +
    // 0.0202005) = 0.001510025; d = (0.20402005, 0.102010025). Not undistorted: the pixel
    // (70.4, 60.2) deprojects as by the pinhole.
    {"modified Brown-Conrady",
     RS2_DISTORTION_MODIFIED_BROWN_CONRADY,
     {0.1f, 0.0f, 0.01f, 0.02f, 0.0f},
     {0.2f, 0.1f, 1.0f},
     {70.402005f, 60.2010025f},
     {70.4f, 60.2f},
     2.0f,
     {0.408f, 0.204f, 2.0f}},
    // Projects as modified Brown-Conrady; deprojection steps back to u.
    {"inverse Brown-Conrady",
     RS2_DISTORTION_INVERSE_BROWN_CONRADY,
     {0.1f, 0.0f, 0.01f, 0.02f, 0.0f},
     {0.2f, 0.1f, 1.0f},
     {70.402005f, 60.2010025f},
     {70.402005f, 60.2010025f},
     1.0f,
     {0.2f, 0.1f, 1.0f}},
    // w = pi / 2, tan(w / 2) = 1. r = sqrt(3) / 2: rd = atan(sqrt(3)) / w = (pi / 3) / (pi / 2)
    // = 2 / 3. Back from rd = 0.5: tan(w rd) / atan(2 tan(w / 2)) = 1 / atan(2) = 0.9032210.
    {"F-theta",
     RS2_DISTORTION_FTHETA,
     {1.5707963f, 0.0f, 0.0f, 0.0f, 0.0f},
     {0.8660254f, 0.0f, 1.0f},
     {116.666667f, 50.0f},
     {100.0f, 50.0f},
     1.0f,
     {0.9032210f, 0.0f, 1.0f}},
    // u = (0.6, 0.8), r = 1, theta = pi / 4; rd = theta (1 + 0.1 theta^2) = 0.8338455;
    // d = (0.6 rd, 0.8 rd). Newton's steps on theta lead back to u.
    {"Kannala-Brandt",
     RS2_DISTORTION_KANNALA_BRANDT4,
     {0.1f, 0.0f, 0.0f, 0.0f, 0.0f},
     {0.6f, 0.8f, 1.0f},
     {100.030728f, 116.707638f},
     {100.030728f, 116.707638f},
     1.0f,
     {0.6f, 0.8f, 1.0f}},
};

TEST(RealsenseStandinProjection, EveryLensModelProjectsAndDeprojectsAsTheRealLibrary) {
    for (const ProjectionCase& each : kProjectionCases) {
        SCOPED_TRACE(each.name);
        rs2_intrinsics intrinsics{640, 480, 50.0f, 50.0f, 100.0f, 100.0f, each.model, {}};
        std::copy(std::begin(each.coeffs), std::end(each.coeffs), intrinsics.coeffs);

        float pixel[2] = {};
        rs2_project_point_to_pixel(pixel, &intrinsics, each.point);
        EXPECT_NEAR(pixel[0], each.pixel[0], 1e-4);
        EXPECT_NEAR(pixel[1], each.pixel[1], 1e-4);

        float point[3] = {};
        rs2_deproject_pixel_to_point(point, &intrinsics, each.fromPixel, each.depth);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(point[i], each.deprojected[i], 1e-5) << i;
        }
    }
}

class RealsenseStandinTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rs2sim_reset();
        rs2sim_connect_default_device();
        rs2sim_set_max_wait_ms(5);
    }
    void TearDown() override { rs2sim_reset(); }
};

TEST_F(RealsenseStandinTest, UnpluggingNeverRaisesTheDisconnectedErrorAndAWaitRestartsOnTheReturn) {
    rs2::pipeline pipeline;
    pipeline.start();
    rs2sim_disconnect_device();
    try {
        pipeline.wait_for_frames(100);
        FAIL() << "expected rs2::error";
    } catch (const rs2::camera_disconnected_error&) {
        FAIL() << "the real library never raises it from a wait";
    } catch (const rs2::error& error) {
        EXPECT_STREQ(error.what(), "Device disconnected. Failed to reconnect: No device connected");
    }

    rs2sim_reconnect_device();
    EXPECT_FALSE(rs2sim_is_streaming()) << "only a wait restarts the pipeline";
    rs2sim_set_max_wait_ms(10'000);
    std::thread pusher([] {
        if (Eventually([] { return rs2sim_is_streaming() == 1; })) {
            rs2sim_push_active_frameset(1.0, 9, 9);
        }
    });
    const rs2::frameset frames = pipeline.wait_for_frames(100);
    pusher.join();
    EXPECT_TRUE(frames);
    EXPECT_EQ(rs2sim_start_count(), 2);
    EXPECT_EQ(rs2sim_option_log_size(), 0) << "the returned device starts with its defaults";
}

TEST_F(RealsenseStandinTest, ContextsHearOfRemovedAndAddedDevices) {
    rs2::context context;
    const rs2::device_list before = context.query_devices();
    ASSERT_EQ(before.size(), 1u);
    const rs2::device original = before.front();
    struct Event {
        bool removedOriginal;
        uint32_t added;
    };
    std::vector<Event> events;
    context.set_devices_changed_callback([&](rs2::event_information& info) {
        events.push_back({info.was_removed(original), info.get_new_devices().size()});
    });

    rs2sim_disconnect_device();
    EXPECT_EQ(context.query_devices().size(), 0u);
    rs2sim_reconnect_device();
    EXPECT_EQ(context.query_devices().size(), 1u);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(events[0].removedOriginal);
    EXPECT_EQ(events[0].added, 0u);
    EXPECT_FALSE(events[1].removedOriginal);
    EXPECT_EQ(events[1].added, 1u);
}

TEST_F(RealsenseStandinTest, OptionsRefuseValuesOutsideTheirRangeOrBetweenSteps) {
    rs2::pipeline pipeline;
    const rs2::depth_sensor sensor = pipeline.start().get_device().first<rs2::depth_sensor>();
    const rs2::option_range exposure = sensor.get_option_range(RS2_OPTION_EXPOSURE);
    EXPECT_FLOAT_EQ(exposure.min, 1.0f);
    EXPECT_FLOAT_EQ(exposure.max, 165000.0f);
    EXPECT_FLOAT_EQ(exposure.step, 1.0f);
    EXPECT_FLOAT_EQ(exposure.def, 8500.0f);
    EXPECT_THROW(sensor.set_option(RS2_OPTION_EXPOSURE, 165001.0f), rs2::invalid_value_error);
    EXPECT_THROW(sensor.set_option(RS2_OPTION_EXPOSURE, 0.5f), rs2::invalid_value_error);
    EXPECT_THROW(sensor.set_option(RS2_OPTION_EXPOSURE, 100.5f), rs2::invalid_value_error);
    EXPECT_NO_THROW(sensor.set_option(RS2_OPTION_EXPOSURE, 100.0f));
    EXPECT_FLOAT_EQ(rs2sim_get_option_value(RS2_OPTION_EXPOSURE, -1.0f), 100.0f);
    EXPECT_THROW(sensor.set_option(RS2_OPTION_LASER_POWER, 45.0f), rs2::invalid_value_error);
    EXPECT_NO_THROW(sensor.set_option(RS2_OPTION_LASER_POWER, 60.0f));
}

TEST_F(RealsenseStandinTest, AStartWaitsForADeviceThatAppearsLateAndFailsWithoutOne) {
    rs2sim_disconnect_device();
    EXPECT_THROW(rs2::pipeline().start(), rs2::error);

    rs2sim_set_max_wait_ms(10'000);
    std::thread plug([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        rs2sim_reconnect_device();
    });
    rs2::pipeline pipeline;
    EXPECT_NO_THROW(pipeline.start());
    plug.join();
    EXPECT_TRUE(rs2sim_is_streaming());
}

}  // namespace
