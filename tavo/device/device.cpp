// Reading the display service's record into Config, the default panel, reports and backlight.
#include "tavo/device/device.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "TavoDisplaySdkCpp.h"
#include "tavo/common/exception.h"
#include "tavo/common/internal/devicePresence.h"
#include "tavo/common/paths.h"
#include "tavo/common/utilities.h"
#include "tavo/device/internal/deviceTesting.h"
#include "tavo/device/panelDescription.h"

namespace tavo::device {

namespace {

using TavoDisplaySdk::DisplayConfig;

// Process-wide, as the service is: set by Connect, and by the first request made while connected.
bool connected = false;
bool fetched = false;
std::filesystem::path sysfsRoot = "/sys";
// Where the panel description file is looked for when TAVO_PANEL_FILE is not set.
std::filesystem::path appDataRoot = GetAppDataPath();
// The panel description file that the last Connect accepted; while set it stands in for the
// service.
std::optional<std::string> panelFile;

// Floats in the default stream format (six significant digits), as every report writes them.
template <typename T>
std::string Text(const T& value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

const char* YesNo(bool value) {
    return value ? "Yes" : "No";
}

template <typename A, typename B>
std::string Pair(const A& x, const B& y) {
    return Text(x) + " x " + Text(y);
}

// "[a, b, c]" of `count` entries; a null pointer or a count below one gives "[]".
std::string List(const float* values, int32_t count) {
    std::string text = "[";
    for (int32_t i = 0; values != nullptr && i < count; ++i) {
        if (i > 0) {
            text += ", ";
        }
        text += Text(values[i]);
    }
    return text + "]";
}

std::string Triple(const glm::vec3& v) {
    return "[" + Text(v.x) + ", " + Text(v.y) + ", " + Text(v.z) + "]";
}

// The service's matrix with absent rows read as zeros, so that a malformed record is never
// dereferenced past what it provides.
struct Matrix {
    float m[4][4] = {};
};

Matrix ReadMatrix(const DisplayConfig& record) {
    Matrix matrix;
    if (record.interlacingMatrix == nullptr) {
        return matrix;
    }
    for (int row = 0; row < 4; ++row) {
        const float* values = record.interlacingMatrix[row];
        if (values != nullptr) {
            std::copy(values, values + 4, matrix.m[row]);
        }
    }
    return matrix;
}

// Copies the used entries and zeroes the rest, so that later reads of fixed entries never see
// values left from an earlier configuration or beyond what the service sent.
void ReadCoefficients(const float* values, int32_t count, int32_t& storedCount,
                      std::array<float, Config::kMaxSharpeningCoefficients>& stored) {
    const int32_t used =
        values == nullptr ? 0 : std::clamp(count, 0, Config::kMaxSharpeningCoefficients);
    stored.fill(0.0f);
    std::copy(values, values + used, stored.begin());
    storedCount = used;
}

void WriteDefaults(Config& config) {
    config.dotPitch = {0.08964f, 0.056f};
    config.panelResolution = {3840, 2160};
    config.numViews = {12, 1};
    config.viewSharpeningCoefficientsXCount = 9;
    config.viewSharpeningCoefficientsX = {0.081f, 0.009f, 0.017f, 0.008f, 0.008f,
                                          0.004f, 0.0f,   0.0f,   0.0f};
    config.viewSharpeningCoefficientsYCount = 9;
    config.viewSharpeningCoefficientsY = {0.0f,   -1.786f, 0.0f, 0.45f, 0.15f,
                                          -0.45f, -0.15f,  0.5f, 0.5f};
    config.viewResolution = {1280, 720};
    config.displaySizeMm = {344, 120};
    config.actGamma = 1.99562f;
    config.actBeta = 1.99912f;
    config.systemDisparityPercent = 4.0f;
    config.systemDisparityPixels = 8.0f;
    config.cameraCenter = {33.238f, 125.224f, 0.0f};
    config.cameraTheta = {-4.6222f, -1.786f, 0.0f};
    config.centerViewNumber = 8.69004f;
    config.convergenceDistance = 521.53f;
    config.n = 1.6f;
    config.theta = 0.6484f;
    config.s = 11.3f;
    config.dOverN = 0.514634f;
    config.pOverDu = 3.0f;
    config.pOverDv = 1.0f;
    config.colorInversion = false;
    config.colorSlant = 0;
}

// Fills `config` from the service's record and returns the report of what was read.
std::string ReadServiceConfig(Config& config, const DisplayConfig& record,
                              const std::string& platformVersion, int backlightMode) {
    const Matrix matrix = ReadMatrix(record);
    const auto& m = matrix.m;

    config.dotPitch = {record.dotPitch[0], record.dotPitch[1]};
    config.panelResolution = {record.panelResolution[0], record.panelResolution[1]};
    config.numViews = {record.numViews[0], record.numViews[1]};
    config.viewResolution = {record.viewResolution[0], record.viewResolution[1]};
    config.displaySizeMm = {record.displaySizeMm[0], record.displaySizeMm[1]};
    config.convergenceDistance = record.convergenceDistance;
    config.centerViewNumber = record.centerViewNumber;
    config.actGamma = record.actGamma;
    config.actBeta = record.actBeta;
    ReadCoefficients(record.viewSharpeningCoefficientsX, record.viewSharpeningCoefficientsXCount,
                     config.viewSharpeningCoefficientsXCount, config.viewSharpeningCoefficientsX);
    ReadCoefficients(record.viewSharpeningCoefficientsY, record.viewSharpeningCoefficientsYCount,
                     config.viewSharpeningCoefficientsYCount, config.viewSharpeningCoefficientsY);
    config.systemDisparityPercent = static_cast<float>(record.systemDisparityPercent);
    config.systemDisparityPixels = 8.0f;
    config.n = 1.47f;
    config.theta = 0.0f;
    config.cameraCenter.x = -37.88f;
    config.cameraCenter.y = 165.57f;
    config.colorSlant = 0;
    config.colorInversion = false;
    config.pOverDu = 3.0f;
    config.pOverDv = record.slanted != 0 ? 1.0f : -1.0f;
    config.s = 11.0f;
    config.dOverN = 0.5f;
    config.cameraTheta.x = 0.0f;

    const float version = m[0][0];
    float cosTheta = 0.0f;
    float sinTheta = 0.0f;
    if (version >= 2.0f) {
        config.centerViewNumber = m[0][1];
        config.n = m[0][2];
        config.theta = m[0][3];
        config.s = m[1][0];
        config.dOverN = m[1][1];
        config.pOverDu = m[1][2];
        config.pOverDv = m[1][3];
        // A slant that no integer can hold (NaN, beyond the range) reads as off.
        config.colorSlant = TruncateTo<int32_t>(m[2][0]).value_or(0);
        config.colorInversion = std::fabs(m[2][1]) > 0.001f;
        config.cameraCenter.x = m[2][2];
        config.cameraCenter.y = m[2][3];
        config.actBeta = m[3][0];
        config.actGamma = m[3][1];
        config.cameraTheta.x = m[3][2];
        if (version < 2.6f) {
            // The subtraction in double: an int one overflows for the lowest resolution.
            const float product =
                static_cast<float>(static_cast<double>(config.panelResolution.y) - 1.0) * m[1][3];
            config.centerViewNumber = static_cast<float>(
                static_cast<double>(m[0][1]) -
                std::fmod(static_cast<double>(product), static_cast<double>(config.numViews.x)));
        }
        if (version >= 2.1f) {
            // Entries past the service's count were zeroed when the array was read.
            config.cameraCenter.z = config.viewSharpeningCoefficientsY[0];
            config.cameraTheta.y = config.viewSharpeningCoefficientsY[1];
            config.cameraTheta.z = config.viewSharpeningCoefficientsY[2];
        } else {
            config.cameraCenter.x = -config.cameraCenter.x;
            config.cameraTheta.x = -config.cameraTheta.x;
        }
        // In floats: the service's resolution is taken as it comes, and an int product could
        // overflow.
        const float angle = m[0][3] / (static_cast<float>(config.panelResolution.y) * 3.0f);
        cosTheta = std::cos(angle);
        sinTheta = std::sin(angle);
    } else if (config.viewSharpeningCoefficientsY[0] >= 1000.0f) {
        // Legacy data hides the lens values in the vertical coefficients.
        const auto& y = config.viewSharpeningCoefficientsY;
        config.n = y[0] / 1000.0f;
        config.theta = y[1];
        config.cameraCenter.x = y[2];
        config.cameraCenter.y = y[3];
        if (y[4] > 1.0f) {
            config.actBeta = y[4];
        }
        const float viewBox = y[5] > 0.0f ? y[5] : record.viewBoxSize[0];
        const float du = config.dotPitch.x / config.pOverDu;
        config.dOverN = du * config.convergenceDistance / viewBox;
        config.s = du / viewBox * static_cast<float>(config.panelResolution.x) * config.pOverDu;
        cosTheta = std::cos(0.0f);
        sinTheta = std::sin(0.0f);
    }

    const auto line = [](std::string& report, const char* label, const std::string& value) {
        report += label;
        report += value;
        report += '\n';
    };
    const auto text = [](const char* value) { return std::string(value != nullptr ? value : ""); };
    // Printed-only arrays: a negative count or null pointer prints as an empty list.
    std::string r;
    r += "TavoService: Raw Values From Service\n";
    line(r, "   Config Version                 : ", Text(version));
    line(r, "   Number of Views                : ", Pair(config.numViews.x, config.numViews.y));
    line(r, "   Panel Resolution               : ",
         Pair(config.panelResolution.x, config.panelResolution.y));
    line(r, "   View Resolution                : ",
         Pair(config.viewResolution.x, config.viewResolution.y));
    line(r, "   Display Size (mm)              : ",
         Pair(config.displaySizeMm.x, config.displaySizeMm.y));
    line(r, "   Dot Pitch (mm)                 : ", Pair(config.dotPitch.x, config.dotPitch.y));
    line(r, "   Alignment Offset               : [",
         Pair(record.alignmentOffset[0], record.alignmentOffset[1]) + "]");
    line(r, "   Platform Version               : ", platformVersion);
    line(r, "   Display Class                  : ", text(record.displayClass));
    line(r, "   Display Id                     : ", text(record.displayId));
    line(r, "   Backlight Mode                 : ", Text(backlightMode));
    line(r, "   System Disparity Percent       : ", Text(config.systemDisparityPercent));
    line(r, "   System Disparity Pixels        : ", Text(config.systemDisparityPixels));
    line(r, "   Convergence Distance           : ", Text(config.convergenceDistance));
    line(r, "   View Box Size                  : ",
         Pair(record.viewBoxSize[0], record.viewBoxSize[1]));
    line(r, "   Slanted                        : ", YesNo(record.slanted != 0));
    r += "   View Sharpening Coefficients X : " +
         List(config.viewSharpeningCoefficientsX.data(), config.viewSharpeningCoefficientsXCount) +
         "\n";
    r += "   View Sharpening Coefficients Y : " +
         List(config.viewSharpeningCoefficientsY.data(), config.viewSharpeningCoefficientsYCount) +
         "\n";
    r += "   Interlacing Vector             : " +
         List(record.interlacingVector, record.interlacingVectorCount) + "\n";
    r += "   View Sharpening Kernel X       : " +
         List(record.viewSharpeningKernelX, record.viewSharpeningKernelXCount) + "\n";
    r += "   View Sharpening Kernel Y       : " +
         List(record.viewSharpeningKernelY, record.viewSharpeningKernelYCount) + "\n";
    r += "   Interlacing Matrix             : ";
    for (int row = 0; row < 4; ++row) {
        if (row > 0) {
            r += std::string(36, ' ');
        }
        r += List(m[row], 4) + "\n";
    }
    r += "TavoService: Version-Specific Values\n";
    line(r, "   n                       : ", Text(config.n));
    line(r, "   s                       : ", Text(config.s));
    line(r, "   du                      : ", Text(config.dotPitch.x / config.pOverDu));
    line(r, "   dv                      : ", Text(config.dotPitch.x / config.pOverDv));
    line(r, "   d/n                     : ", Text(config.dOverN));
    line(r, "   p/du                    : ", Text(config.pOverDu));
    line(r, "   p/dv                    : ", Text(config.pOverDv));
    line(r, "   Theta                   : ", Text(config.theta));
    line(r, "   Center View Number (No) : ", Text(config.centerViewNumber));
    line(r, "   cos_theta               : ", Text(cosTheta));
    line(r, "   sin_theta               : ", Text(sinTheta));
    line(r, "   Color Slant             : ", YesNo(config.colorSlant != 0));
    line(r, "   Color Inversion         : ", YesNo(config.colorInversion));
    line(r, "   Camera Center           : ", Triple(config.cameraCenter));
    line(r, "   Camera Theta            : ", Triple(config.cameraTheta));
    line(r, "   ACT Gamma               : ", Text(config.actGamma));
    line(r, "   ACT Beta                : ", Text(config.actBeta));
    return r;
}

std::optional<std::string> FindPanelFile() {
    // Set but empty counts as unset, as a shell's `TAVO_PANEL_FILE= app` means.
    if (const char* named = std::getenv("TAVO_PANEL_FILE"); named != nullptr && *named != '\0') {
        return std::string(named);
    }
    const std::filesystem::path standard = appDataRoot / "tavo" / "panel.json";
    std::error_code error;
    // Present but unreadable is still the user's file: reading it reports why it fails.
    if (std::filesystem::exists(std::filesystem::symlink_status(standard, error))) {
        return standard.string();
    }
    return std::nullopt;
}

// The panel description at `path` over `base`; logs the one error that names the file
// and what is wrong in it, and gives nothing, when it cannot be used.
std::optional<Config> ReadPanelFile(const std::string& path, const Config& base) {
    try {
        return LoadPanelDescription(path, base);
    } catch (const Exception& e) {
        spdlog::error("TavoService: {}; using the default 15.6\" 12V configuration", e.what());
        return std::nullopt;
    }
}

}  // namespace

bool Connect(Platform* /*platform*/) {
    panelFile.reset();
    if (const std::optional<std::string> path = FindPanelFile()) {
        // The file is the user's statement that this panel is attached: neither the service nor
        // the monitor scan is asked, so a panel the scan does not know can be described too.
        connected = ReadPanelFile(*path, DefaultConfig()).has_value();
        if (connected) {
            panelFile = *path;
        }
        return connected;
    }
    connected =
        TavoDisplaySdk::isDisplayConnected() && tavo::internal::isMonitorConnected(sysfsRoot);
    return connected;
}

bool RequestConfig(Config& config, const std::function<void(bool)>& callback) {
    std::string report;
    if (!connected) {
        report = "TavoService: Display not connected, returning default 15.6\" 12V configuration\n";
        WriteDefaults(config);
    } else if (panelFile) {
        // Every request reads the file, unlike the service, so that a second SDK object gets the
        // same panel. It goes over the default panel and over what the caller holds in the
        // fields a request leaves alone; a file spoilt since Connect gives the default.
        WriteDefaults(config);
        if (const std::optional<Config> described = ReadPanelFile(*panelFile, config)) {
            config = *described;
            report = "TavoService: Panel described by " + *panelFile + "\n";
        }
    } else if (!fetched) {
        fetched = true;
        const DisplayConfig record = TavoDisplaySdk::getDisplayConfig();
        const std::string platformVersion = TavoDisplaySdk::getPlatformVersion();
        const int backlightMode = TavoDisplaySdk::getBacklightMode();
        report = ReadServiceConfig(config, record, platformVersion, backlightMode);
    }
    spdlog::info("{}", report);
    callback(true);
    return true;
}

void CancelConfigRequest() {}

void SetBacklightMode(Platform* /*platform*/, bool on) {
    if (connected) {
        TavoDisplaySdk::requestBacklightMode(on);
    }
}

std::string DescribeConfig(const Config& c) {
    std::string r = "Device Configuration:\n";
    const auto line = [&r](const char* label, const std::string& value) {
        r += label;
        r += value;
        r += '\n';
    };
    line("    Number of Views           : ", Pair(c.numViews.x, c.numViews.y));
    line("    Panel Resolution          : ", Pair(c.panelResolution.x, c.panelResolution.y));
    line("    View Resolution           : ", Pair(c.viewResolution.x, c.viewResolution.y));
    line("    Display Size (mm)         : ", Pair(c.displaySizeMm.x, c.displaySizeMm.y));
    line("    Dot Pitch (mm)            : ", Pair(c.dotPitch.x, c.dotPitch.y));
    line("    System Disparity Percent  : ", Text(c.systemDisparityPercent));
    line("    System Disparity Pixels   : ", Text(c.systemDisparityPixels));
    line("    Convergence Distance      : ", Text(c.convergenceDistance));
    line("    ACT Gamma                 : ", Text(c.actGamma));
    line("    ACT Beta                  : ", Text(c.actBeta));
    line("    Camera Center             : ", Triple(c.cameraCenter));
    line("    Camera Theta              : ", Triple(c.cameraTheta));
    line("    Center View Number        : ", Text(c.centerViewNumber));
    line("    n                         : ", Text(c.n));
    line("    Theta                     : ", Text(c.theta));
    line("    s                         : ", Text(c.s));
    line("    d/n                       : ", Text(c.dOverN));
    line("    p/du                      : ", Text(c.pOverDu));
    line("    p/dv                      : ", Text(c.pOverDv));
    line("    Color Inversion           : ", YesNo(c.colorInversion));
    line("    Color Slant               : ", YesNo(c.colorSlant != 0));
    line("    Camera                    : ",
         "[width=" + Text(c.camera.width) + ", height=" + Text(c.camera.height) + ", fps" +
             Text(c.camera.fps) + ", binningFactor" + Text(c.camera.binningFactor) + "]");
    // A count outside 0..18 in a hand-made Config must not read past the arrays.
    const auto used = [](int32_t count) {
        return std::clamp(count, 0, Config::kMaxSharpeningCoefficients);
    };
    line("    Sharpening Coefficients X : ",
         List(c.viewSharpeningCoefficientsX.data(), used(c.viewSharpeningCoefficientsXCount)));
    line("    Sharpening Coefficients Y : ",
         List(c.viewSharpeningCoefficientsY.data(), used(c.viewSharpeningCoefficientsYCount)));
    return r;
}

void PrintConfig(const Config& config) {
    spdlog::info("{}", DescribeConfig(config));
}

Config DefaultConfig() {
    Config config{};
    WriteDefaults(config);
    return config;
}

namespace internal {

void SetSysfsRootForTesting(const std::filesystem::path& root) {
    sysfsRoot = root;
}

void SetAppDataRootForTesting(const std::filesystem::path& root) {
    appDataRoot = root;
}

void ResetForTesting() {
    connected = false;
    fetched = false;
    sysfsRoot = "/sys";
    appDataRoot = GetAppDataPath();
    panelFile.reset();
}

}  // namespace internal

}  // namespace tavo::device

const char* tavoDeviceGetVersion() {
    return "0.1.1";
}
