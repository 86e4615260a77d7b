// The display configuration record, its built-in default and its "Device Configuration:" report.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include "tavo/common/export.h"

namespace tavo::device {

// Optical and tracking description of the panel. A plain record copied by value; it has no
// thread affinity of its own, its holder decides who may touch it. Value-initialised, every
// field is zero.
struct Config {
    static constexpr int32_t kMaxSharpeningCoefficients = 18;

    // Depth camera stream that face tracking asks for; a request never writes it.
    struct Camera {
        int32_t width = 0;
        int32_t height = 0;
        int32_t fps = 0;
        float binningFactor = 0.0f;
    };

    glm::vec2 dotPitch{0.0f};  // mm
    glm::ivec2 panelResolution{0};
    glm::ivec2 numViews{0};
    // Entries used in the array that follows, 0 to kMaxSharpeningCoefficients.
    int32_t viewSharpeningCoefficientsXCount = 0;
    std::array<float, kMaxSharpeningCoefficients> viewSharpeningCoefficientsX{};
    int32_t viewSharpeningCoefficientsYCount = 0;
    // Newer service data carries camera values in entries 0 to 2, legacy data lens values in 0
    // to 5.
    std::array<float, kMaxSharpeningCoefficients> viewSharpeningCoefficientsY{};
    glm::ivec2 viewResolution{0};
    glm::ivec2 displaySizeMm{0};
    float actGamma = 0.0f;
    float actBeta = 0.0f;
    float reserved0 = 0.0f;
    float systemDisparityPercent = 0.0f;
    float systemDisparityPixels = 0.0f;
    glm::vec3 cameraCenter{0.0f};  // mm, relative to the panel
    // Rotation vector: direction is the axis, length the angle in degrees.
    glm::vec3 cameraTheta{0.0f};
    float centerViewNumber = 0.0f;
    float convergenceDistance = 0.0f;  // mm
    float n = 0.0f;
    float theta = 0.0f;
    float s = 0.0f;
    float dOverN = 0.0f;
    float pOverDu = 0.0f;
    float pOverDv = 0.0f;  // its sign gives the slant direction
    bool colorInversion = false;
    int32_t colorSlant = 0;  // 0 = off
    Camera camera;
    glm::vec3 kalmanA{0.0f};
    float kalmanB = 0.0f;
    float faceDelay = 0.0f;  // ms
    float reserved1 = 0.0f;
};

// The built-in 15.6" panel's values, as a request writes them when no display is connected;
// the fields a request leaves alone are zero. Any thread.
TAVO_API Config DefaultConfig();

// The multi-line "Device Configuration:" text of `config`.
std::string DescribeConfig(const Config& config);
// Logs DescribeConfig(config) at info level as one message.
void PrintConfig(const Config& config);

}  // namespace tavo::device

// Version of the display component, "0.1.1". Exported unmangled; any thread.
TAVO_EXTERN_C TAVO_API const char* tavoDeviceGetVersion();
