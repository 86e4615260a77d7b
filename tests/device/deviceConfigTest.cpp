// Display configuration through Connect and RequestConfig against the stand-in display library.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "TavoDisplaySdkControl.h"
#include "device/displayTestState.h"
#include "logCapture.h"
#include "tavo/device/config.h"
#include "tavo/device/device.h"
#include "tavo/device/internal/deviceTesting.h"

namespace {

namespace display = TavoDisplaySdk;
using tavo::device::Config;
using tavo::device::test::ServiceRecord;

class DeviceConfigTest : public ::testing::Test {
  protected:
    // Installs `record` with the panel's monitor attached and connects.
    void ConnectTo(ServiceRecord& record) {
        state_.AddPanelMonitor();
        display::control::installDisplay(record.Bind(), "2.6.0", 1);
        ASSERT_TRUE(tavo::device::Connect(nullptr));
    }

    // What was logged since `from`, without the level: every message here is at info level.
    std::vector<std::string> MessagesSince(size_t from) const {
        const std::vector<std::string> lines = log_.lines();
        std::vector<std::string> messages;
        for (size_t i = from; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].rfind("info ", 0), 0u) << lines[i];
            messages.push_back(lines[i].substr(lines[i].find(' ') + 1));
        }
        return messages;
    }

    // One request; checks the callback and the single logged message, which it returns.
    std::string Request(Config& config) {
        const size_t before = log_.lines().size();
        std::vector<bool> calls;
        EXPECT_TRUE(
            tavo::device::RequestConfig(config, [&calls](bool ok) { calls.push_back(ok); }));
        EXPECT_EQ(calls, std::vector<bool>{true});
        const std::vector<std::string> messages = MessagesSince(before);
        EXPECT_EQ(messages.size(), 1u);
        return messages.empty() ? std::string() : messages.back();
    }

    tavo::test::LogCapture log_;
    tavo::device::test::DisplayTestState state_;
};

// A Config as the SDK holds it before the request: fields a request must not write are set.
Config HeldConfig() {
    Config config{};
    config.reserved0 = 0.12f;
    config.camera = {640, 480, 30, 1.5f};
    config.kalmanA = {0.02f, 0.05f, 0.2f};
    config.kalmanB = 0.1f;
    config.faceDelay = 40.0f;
    config.reserved1 = 0.6f;
    return config;
}

void ExpectUntouchedFields(const Config& config) {
    EXPECT_FLOAT_EQ(config.reserved0, 0.12f);
    EXPECT_EQ(config.camera.width, 640);
    EXPECT_EQ(config.camera.height, 480);
    EXPECT_EQ(config.camera.fps, 30);
    EXPECT_FLOAT_EQ(config.camera.binningFactor, 1.5f);
    EXPECT_EQ(config.kalmanA, glm::vec3(0.02f, 0.05f, 0.2f));
    EXPECT_FLOAT_EQ(config.kalmanB, 0.1f);
    EXPECT_FLOAT_EQ(config.faceDelay, 40.0f);
    EXPECT_FLOAT_EQ(config.reserved1, 0.6f);
}

const char* const kDefaultDescription =
    "Device Configuration:\n"
    "    Number of Views           : 12 x 1\n"
    "    Panel Resolution          : 3840 x 2160\n"
    "    View Resolution           : 1280 x 720\n"
    "    Display Size (mm)         : 344 x 120\n"
    "    Dot Pitch (mm)            : 0.08964 x 0.056\n"
    "    System Disparity Percent  : 4\n"
    "    System Disparity Pixels   : 8\n"
    "    Convergence Distance      : 521.53\n"
    "    ACT Gamma                 : 1.99562\n"
    "    ACT Beta                  : 1.99912\n"
    "    Camera Center             : [33.238, 125.224, 0]\n"
    "    Camera Theta              : [-4.6222, -1.786, 0]\n"
    "    Center View Number        : 8.69004\n"
    "    n                         : 1.6\n"
    "    Theta                     : 0.6484\n"
    "    s                         : 11.3\n"
    "    d/n                       : 0.514634\n"
    "    p/du                      : 3\n"
    "    p/dv                      : 1\n"
    "    Color Inversion           : No\n"
    "    Color Slant               : No\n"
    "    Camera                    : [width=640, height=480, fps30, binningFactor1.5]\n"
    "    Sharpening Coefficients X : [0.081, 0.009, 0.017, 0.008, 0.008, 0.004, 0, 0, 0]\n"
    "    Sharpening Coefficients Y : [0, -1.786, 0, 0.45, 0.15, -0.45, -0.15, 0.5, 0.5]\n";

TEST_F(DeviceConfigTest, WithoutDisplayEveryRequestWritesTheDefault) {
    EXPECT_FALSE(tavo::device::Connect(nullptr));
    for (int request = 0; request < 2; ++request) {
        Config config = HeldConfig();
        config.viewSharpeningCoefficientsX.fill(7.0f);
        EXPECT_EQ(Request(config),
                  "TavoService: Display not connected, returning default 15.6\" 12V "
                  "configuration\n");
        ExpectUntouchedFields(config);
        EXPECT_EQ(tavo::device::DescribeConfig(config), kDefaultDescription);
        // The unused tail of the arrays is part of the default too.
        EXPECT_EQ(config.viewSharpeningCoefficientsX[17], 0.0f);
    }
}

TEST_F(DeviceConfigTest, PrintConfigLogsTheDescriptionAsOneMessage) {
    Config config = HeldConfig();
    Request(config);
    const size_t before = log_.lines().size();
    tavo::device::PrintConfig(config);
    EXPECT_EQ(MessagesSince(before), std::vector<std::string>{kDefaultDescription});
}

TEST_F(DeviceConfigTest, ConnectNeedsBothTheServiceAndThePanelMonitor) {
    ServiceRecord record(2.6f);
    // Service without the panel's monitor: another maker's monitor, then the wrong product.
    display::control::installDisplay(record.Bind(), "2.6.0", 1);
    state_.AddMonitor("card0-HDMI-A-1", "DEL", 0x2E9A);
    EXPECT_FALSE(tavo::device::Connect(nullptr));
    state_.AddMonitor("card0-DP-1", "AUO", 0x2E9B);
    EXPECT_FALSE(tavo::device::Connect(nullptr));
    // Monitor without the service.
    state_.AddPanelMonitor();
    display::control::removeDisplay();
    EXPECT_FALSE(tavo::device::Connect(nullptr));
    // Both.
    display::control::installDisplay(record.Bind(), "2.6.0", 1);
    EXPECT_TRUE(tavo::device::Connect(nullptr));
    // The flag follows the last Connect: a failed one gives the default again.
    display::control::removeDisplay();
    EXPECT_FALSE(tavo::device::Connect(nullptr));
    Config config = HeldConfig();
    EXPECT_EQ(Request(config).rfind("TavoService: Display not connected", 0), 0u);
}

TEST_F(DeviceConfigTest, Version26ReportAndValues) {
    ServiceRecord record(2.6f);
    ConnectTo(record);
    Config config = HeldConfig();
    const std::string report = Request(config);
    EXPECT_EQ(report,
              "TavoService: Raw Values From Service\n"
              "   Config Version                 : 2.6\n"
              "   Number of Views                : 12 x 1\n"
              "   Panel Resolution               : 3840 x 2160\n"
              "   View Resolution                : 1280 x 720\n"
              "   Display Size (mm)              : 344 x 194\n"
              "   Dot Pitch (mm)                 : 0.1 x 0.05\n"
              "   Alignment Offset               : [0.5 x -0.25]\n"
              "   Platform Version               : 2.6.0\n"
              "   Display Class                  : Tavo15\n"
              "   Display Id                     : AUO2E9A-0001\n"
              "   Backlight Mode                 : 1\n"
              "   System Disparity Percent       : 4\n"
              "   System Disparity Pixels        : 8\n"
              "   Convergence Distance           : 600\n"
              "   View Box Size                  : 60 x 30\n"
              "   Slanted                        : Yes\n"
              "   View Sharpening Coefficients X : [0.1, 0.2, 0.3]\n"
              "   View Sharpening Coefficients Y : [5, 0.5, -1.25, 9]\n"
              "   Interlacing Vector             : [1, 2]\n"
              "   View Sharpening Kernel X       : [0.25]\n"
              "   View Sharpening Kernel Y       : []\n"
              "   Interlacing Matrix             : [2.6, 8.5, 1.6, 0.75]\n"
              "                                    [11.5, 0.5, 3, 1]\n"
              "                                    [1, 1, 30, 120]\n"
              "                                    [2, 2.5, -4, 0]\n"
              "TavoService: Version-Specific Values\n"
              "   n                       : 1.6\n"
              "   s                       : 11.5\n"
              "   du                      : 0.0333333\n"
              "   dv                      : 0.1\n"
              "   d/n                     : 0.5\n"
              "   p/du                    : 3\n"
              "   p/dv                    : 1\n"
              "   Theta                   : 0.75\n"
              "   Center View Number (No) : 8.5\n"
              "   cos_theta               : 1\n"
              "   sin_theta               : 0.000115741\n"
              "   Color Slant             : Yes\n"
              "   Color Inversion         : Yes\n"
              "   Camera Center           : [30, 120, 5]\n"
              "   Camera Theta            : [-4, 0.5, -1.25]\n"
              "   ACT Gamma               : 2.5\n"
              "   ACT Beta                : 2\n");
    EXPECT_EQ(config.dotPitch, glm::vec2(0.1f, 0.05f));
    EXPECT_EQ(config.displaySizeMm, glm::ivec2(344, 194));
    EXPECT_EQ(config.viewSharpeningCoefficientsXCount, 3);
    EXPECT_EQ(config.viewSharpeningCoefficientsYCount, 4);
    EXPECT_FLOAT_EQ(config.viewSharpeningCoefficientsX[2], 0.3f);
    EXPECT_FLOAT_EQ(config.systemDisparityPercent, 4.0f);
    EXPECT_FLOAT_EQ(config.systemDisparityPixels, 8.0f);
    EXPECT_FLOAT_EQ(config.centerViewNumber, 8.5f);
    EXPECT_EQ(config.colorSlant, 1);
    EXPECT_TRUE(config.colorInversion);
    EXPECT_EQ(config.cameraCenter, glm::vec3(30.0f, 120.0f, 5.0f));
    EXPECT_EQ(config.cameraTheta, glm::vec3(-4.0f, 0.5f, -1.25f));
    EXPECT_FLOAT_EQ(config.actBeta, 2.0f);
    EXPECT_FLOAT_EQ(config.actGamma, 2.5f);
    ExpectUntouchedFields(config);
}

TEST_F(DeviceConfigTest, TheServiceIsReadOncePerProcess) {
    ServiceRecord record(2.6f);
    ConnectTo(record);
    Config first = HeldConfig();
    Request(first);
    Config second = HeldConfig();
    second.n = 42.0f;
    const Config before = second;
    EXPECT_EQ(Request(second), "");
    EXPECT_EQ(tavo::device::DescribeConfig(second), tavo::device::DescribeConfig(before));
    EXPECT_EQ(second.n, 42.0f);
}

TEST_F(DeviceConfigTest, Version25SubtractsTheSlantRemainderFromTheCentreView) {
    ServiceRecord record(2.5f);
    record.matrix[1][3] = 0.5f;  // (2160 - 1) x 0.5 = 1079.5, remainder 11.5 modulo 12 views
    ConnectTo(record);
    Config config = HeldConfig();
    Request(config);
    EXPECT_FLOAT_EQ(config.centerViewNumber, 8.5f - 11.5f);
    EXPECT_FLOAT_EQ(config.pOverDv, 0.5f);
    // 2.5 carries camera data in the vertical coefficients.
    EXPECT_EQ(config.cameraCenter, glm::vec3(30.0f, 120.0f, 5.0f));
    EXPECT_EQ(config.cameraTheta, glm::vec3(-4.0f, 0.5f, -1.25f));
}

TEST_F(DeviceConfigTest, Version21ComparesInSinglePrecision) {
    ServiceRecord record(2.1f);
    ConnectTo(record);
    Config config = HeldConfig();
    const std::string report = Request(config);
    EXPECT_NE(report.find("   Config Version                 : 2.1\n"), std::string::npos);
    EXPECT_EQ(config.cameraCenter, glm::vec3(30.0f, 120.0f, 5.0f));
    EXPECT_EQ(config.cameraTheta, glm::vec3(-4.0f, 0.5f, -1.25f));
    // Below 2.6: (2160 - 1) x 1 = 2159, remainder 11.
    EXPECT_FLOAT_EQ(config.centerViewNumber, 8.5f - 11.0f);
}

TEST_F(DeviceConfigTest, Version20NegatesTheCameraAndKeepsItsOtherAxes) {
    ServiceRecord record(2.0f);
    ConnectTo(record);
    Config config = HeldConfig();
    config.cameraCenter = {1.0f, 2.0f, 77.0f};
    config.cameraTheta = {3.0f, 4.0f, 5.0f};
    Request(config);
    EXPECT_EQ(config.cameraCenter, glm::vec3(-30.0f, 120.0f, 77.0f));
    EXPECT_EQ(config.cameraTheta, glm::vec3(4.0f, 4.0f, 5.0f));
    EXPECT_FLOAT_EQ(config.centerViewNumber, 8.5f - 11.0f);
    EXPECT_FLOAT_EQ(config.n, 1.6f);
    EXPECT_FLOAT_EQ(config.s, 11.5f);
    EXPECT_FLOAT_EQ(config.theta, 0.75f);
}

// The report's slant trigonometry at an angle where cos and sin differ plainly from 1 and from
// the angle itself: the angle is Theta / (3 x panel height) = 6 / 3 = 2 rad.
TEST_F(DeviceConfigTest, ReportsCosAndSinOfALargeSlantAngle) {
    ServiceRecord record(2.6f);
    record.record.panelResolution[1] = 1;
    record.matrix[0][3] = 6.0f;
    ConnectTo(record);
    Config config = HeldConfig();
    const std::string report = Request(config);
    EXPECT_NE(report.find("   cos_theta               : -0.416147\n"
                          "   sin_theta               : 0.909297\n"),
              std::string::npos)
        << report;
}

TEST_F(DeviceConfigTest, LegacyDataCarriesLensValuesInTheVerticalCoefficients) {
    ServiceRecord record(1.0f);
    record.coefficientsY = {1470.0f, 0.25f, -37.0f, 160.0f, 2.5f, 0.0f};
    ConnectTo(record);
    Config config = HeldConfig();
    const std::string report = Request(config);
    EXPECT_FLOAT_EQ(config.n, 1.47f);
    EXPECT_FLOAT_EQ(config.theta, 0.25f);
    EXPECT_FLOAT_EQ(config.cameraCenter.x, -37.0f);
    EXPECT_FLOAT_EQ(config.cameraCenter.y, 160.0f);
    EXPECT_FLOAT_EQ(config.actBeta, 2.5f);
    // du = 0.1 / 3; view box from the record (60) since Y5 is not positive.
    EXPECT_FLOAT_EQ(config.dOverN, 0.1f / 3.0f * 600.0f / 60.0f);
    EXPECT_FLOAT_EQ(config.s, 6.4f);
    EXPECT_FLOAT_EQ(config.pOverDu, 3.0f);
    EXPECT_FLOAT_EQ(config.pOverDv, 1.0f);
    // Legacy data never touches the matrix values.
    EXPECT_FLOAT_EQ(config.centerViewNumber, 7.0f);
    EXPECT_FLOAT_EQ(config.actGamma, 2.2f);
    EXPECT_NE(report.find("   cos_theta               : 1\n"
                          "   sin_theta               : 0\n"),
              std::string::npos);
}

TEST_F(DeviceConfigTest, LegacyViewBoxFromCoefficientsAndSmallBetaIgnored) {
    ServiceRecord record(1.5f);
    record.coefficientsY = {1000.0f, 0.0f, 1.0f, 2.0f, 0.5f, 50.0f};
    ConnectTo(record);
    Config config = HeldConfig();
    Request(config);
    EXPECT_FLOAT_EQ(config.n, 1.0f);
    EXPECT_FLOAT_EQ(config.actBeta, 1.5f);
    EXPECT_FLOAT_EQ(config.dOverN, 0.4f);
    EXPECT_FLOAT_EQ(config.s, 7.68f);
}

TEST_F(DeviceConfigTest, LegacyBelow1000KeepsThePreliminaryValues) {
    ServiceRecord record(0.0f);
    record.coefficientsY = {999.0f, 0.25f, -37.0f, 160.0f, 2.5f, 3.0f};
    record.record.slanted = 0;
    ConnectTo(record);
    Config config = HeldConfig();
    config.cameraCenter.z = 9.0f;
    const std::string report = Request(config);
    EXPECT_FLOAT_EQ(config.n, 1.47f);
    EXPECT_FLOAT_EQ(config.theta, 0.0f);
    EXPECT_EQ(config.cameraCenter, glm::vec3(-37.88f, 165.57f, 9.0f));
    EXPECT_FLOAT_EQ(config.cameraTheta.x, 0.0f);
    EXPECT_FLOAT_EQ(config.s, 11.0f);
    EXPECT_FLOAT_EQ(config.dOverN, 0.5f);
    EXPECT_FLOAT_EQ(config.pOverDu, 3.0f);
    EXPECT_FLOAT_EQ(config.pOverDv, -1.0f);
    EXPECT_EQ(config.colorSlant, 0);
    EXPECT_FALSE(config.colorInversion);
    EXPECT_FLOAT_EQ(config.actBeta, 1.5f);
    EXPECT_NE(report.find("   Slanted                        : No\n"), std::string::npos);
    EXPECT_NE(report.find("   dv                      : -0.1\n"), std::string::npos);
    EXPECT_NE(report.find("   sin_theta               : 0\n"), std::string::npos);
}

TEST_F(DeviceConfigTest, CoefficientCountsAreHeldToTheArrays) {
    ServiceRecord record(2.6f);
    record.coefficientsX.clear();
    for (int i = 0; i < 20; ++i) {
        record.coefficientsX.push_back(static_cast<float>(i));
    }
    record.Bind();
    ConnectTo(record);
    Config config = HeldConfig();
    const std::string report = Request(config);
    EXPECT_EQ(config.viewSharpeningCoefficientsXCount, 18);
    EXPECT_EQ(config.viewSharpeningCoefficientsX[17], 17.0f);
    EXPECT_NE(report.find("   View Sharpening Coefficients X : [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, "
                          "11, 12, 13, 14, 15, 16, 17]\n"),
              std::string::npos);
}

TEST_F(DeviceConfigTest, NegativeCountsReadNothing) {
    ServiceRecord record(2.6f);
    display::DisplayConfig raw = record.Bind();
    raw.viewSharpeningCoefficientsXCount = -4;
    raw.viewSharpeningCoefficientsYCount = -1;
    raw.interlacingVectorCount = -2;
    state_.AddPanelMonitor();
    display::control::installDisplay(raw, "2.6.0", 1);
    ASSERT_TRUE(tavo::device::Connect(nullptr));
    Config config = HeldConfig();
    config.viewSharpeningCoefficientsY.fill(3.0f);
    const std::string report = Request(config);
    EXPECT_EQ(config.viewSharpeningCoefficientsXCount, 0);
    EXPECT_EQ(config.viewSharpeningCoefficientsYCount, 0);
    // Camera values come from the (empty) array, so they are zero rather than stale.
    EXPECT_EQ(config.cameraCenter.z, 0.0f);
    EXPECT_EQ(config.cameraTheta.y, 0.0f);
    EXPECT_NE(report.find("   View Sharpening Coefficients Y : []\n"
                          "   Interlacing Vector             : []\n"),
              std::string::npos);
}

TEST_F(DeviceConfigTest, ShortVerticalArrayLeavesNoStaleCameraValues) {
    ServiceRecord record(2.6f);
    record.coefficientsY = {6.0f};
    ConnectTo(record);
    Config config = HeldConfig();
    config.viewSharpeningCoefficientsY.fill(1234.0f);
    Request(config);
    EXPECT_EQ(config.viewSharpeningCoefficientsYCount, 1);
    EXPECT_EQ(config.cameraCenter.z, 6.0f);
    EXPECT_EQ(config.cameraTheta.y, 0.0f);
    EXPECT_EQ(config.cameraTheta.z, 0.0f);
    EXPECT_EQ(config.viewSharpeningCoefficientsY[17], 0.0f);
}

TEST_F(DeviceConfigTest, NullPointersInTheRecordReadAsEmpty) {
    ServiceRecord record(2.6f);
    display::DisplayConfig raw = record.Bind();
    raw.displayClass = nullptr;
    raw.displayId = nullptr;
    raw.viewSharpeningCoefficientsX = nullptr;  // count stays 3
    raw.viewSharpeningCoefficientsY = nullptr;  // count stays 4
    raw.interlacingVector = nullptr;
    raw.viewSharpeningKernelX = nullptr;
    raw.interlacingMatrix = nullptr;
    state_.AddPanelMonitor();
    display::control::installDisplay(raw, "", 0);
    ASSERT_TRUE(tavo::device::Connect(nullptr));
    Config config = HeldConfig();
    const std::string report = Request(config);
    EXPECT_EQ(config.viewSharpeningCoefficientsXCount, 0);
    EXPECT_EQ(config.viewSharpeningCoefficientsYCount, 0);
    // No matrix: version 0, legacy data below 1000.
    EXPECT_FLOAT_EQ(config.n, 1.47f);
    EXPECT_NE(report.find("   Config Version                 : 0\n"), std::string::npos);
    EXPECT_NE(report.find("   Display Class                  : \n"
                          "   Display Id                     : \n"),
              std::string::npos);
    EXPECT_NE(report.find("   Interlacing Matrix             : [0, 0, 0, 0]\n"), std::string::npos);
    EXPECT_NE(report.find("   View Sharpening Kernel X       : []\n"), std::string::npos);
}

TEST_F(DeviceConfigTest, NullMatrixRowReadsAsZeros) {
    ServiceRecord record(2.6f);
    display::DisplayConfig raw = record.Bind();
    const std::array<const float*, 4> rows = {record.rows[0], nullptr, record.rows[2],
                                              record.rows[3]};
    raw.interlacingMatrix = rows.data();
    state_.AddPanelMonitor();
    display::control::installDisplay(raw, "2.6.0", 1);
    ASSERT_TRUE(tavo::device::Connect(nullptr));
    Config config = HeldConfig();
    const std::string report = Request(config);
    EXPECT_FLOAT_EQ(config.s, 0.0f);
    EXPECT_FLOAT_EQ(config.pOverDv, 0.0f);
    EXPECT_FLOAT_EQ(config.n, 1.6f);
    EXPECT_NE(report.find("                                    [0, 0, 0, 0]\n"), std::string::npos);
}

// Values come as the service sends them, but extreme ones must not reach undefined
// arithmetic (the sanitizer builds stop at it): the resolution term in floating point, the
// colour slant converted only when it fits.
TEST_F(DeviceConfigTest, ExtremeServiceValuesAreReadWithoutUndefinedArithmetic) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        int32_t panelHeight;
        float colorSlant;
        int32_t expectedSlant;
    };
    const Case cases[] = {
        {std::numeric_limits<int32_t>::min(), 2.75f, 2},
        {2160, nan, 0},
        {2160, 1e30f, 0},
        {2160, -inf, 0},
        {2160, -2147483648.0f, std::numeric_limits<int32_t>::min()},
    };
    for (const Case& c : cases) {
        // The service is read once per process: start each case afresh.
        tavo::device::internal::ResetForTesting();
        tavo::device::internal::SetSysfsRootForTesting(state_.root());
        ServiceRecord record(2.5f);
        record.record.panelResolution[1] = c.panelHeight;
        record.matrix[2][0] = c.colorSlant;
        ConnectTo(record);
        Config config = HeldConfig();
        Request(config);
        EXPECT_EQ(config.panelResolution.y, c.panelHeight);
        EXPECT_EQ(config.colorSlant, c.expectedSlant) << c.colorSlant;
        const double product = static_cast<float>(static_cast<double>(c.panelHeight) - 1.0);
        EXPECT_FLOAT_EQ(config.centerViewNumber,
                        static_cast<float>(8.5 - std::fmod(product, 12.0)));
    }
}

TEST_F(DeviceConfigTest, EmptyCallbackThrowsAfterConfigIsWritten) {
    Config config = HeldConfig();
    EXPECT_THROW(tavo::device::RequestConfig(config, {}), std::bad_function_call);
    EXPECT_EQ(config.panelResolution, glm::ivec2(3840, 2160));
    EXPECT_EQ(MessagesSince(0).size(), 1u);
}

TEST_F(DeviceConfigTest, BacklightRequestsReachTheServiceOnlyWhenConnected) {
    ServiceRecord record(2.6f);
    display::control::installDisplay(record.Bind(), "2.6.0", 1);
    // Service present but Connect not yet called: dropped.
    tavo::device::SetBacklightMode(nullptr, false);
    EXPECT_TRUE(display::control::backlightRequests().empty());

    ConnectTo(record);
    tavo::device::SetBacklightMode(nullptr, false);
    tavo::device::SetBacklightMode(nullptr, true);
    tavo::device::SetBacklightMode(nullptr, false);
    EXPECT_EQ(display::control::backlightRequests(), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(display::getBacklightMode(), 0);

    state_.RemoveMonitor("card0-eDP-1");
    EXPECT_FALSE(tavo::device::Connect(nullptr));
    tavo::device::SetBacklightMode(nullptr, true);
    EXPECT_EQ(display::control::backlightRequests().size(), 3u);
}

TEST_F(DeviceConfigTest, BacklightModeIsReportedFromTheService) {
    ServiceRecord record(2.6f);
    state_.AddPanelMonitor();
    display::control::installDisplay(record.Bind(), "3.0.1-beta", 7);
    ASSERT_TRUE(tavo::device::Connect(nullptr));
    Config config = HeldConfig();
    const std::string report = Request(config);
    EXPECT_NE(report.find("   Platform Version               : 3.0.1-beta\n"), std::string::npos);
    EXPECT_NE(report.find("   Backlight Mode                 : 7\n"), std::string::npos);
}

TEST(DeviceVersion, IsExportedText) {
    EXPECT_STREQ(tavoDeviceGetVersion(), "0.1.1");
}

}  // namespace
