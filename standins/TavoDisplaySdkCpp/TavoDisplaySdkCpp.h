// Our stand-in for the display maker's closed library: its record and the calls the SDK makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#define TAVO_DISPLAY_SDK_API __attribute__((visibility("default")))

namespace TavoDisplaySdk {

// The display service's configuration record. Its binary layout is shared with the service and
// must not move: every offset is pinned below. Pointers belong to the library and stay valid
// until the next display is installed or removed.
struct DisplayConfig {
    const char* displayClass;
    const char* displayId;
    float actBeta;
    float dotPitch[2];
    int32_t panelResolution[2];
    int32_t numViews[2];
    float alignmentOffset[2];
    uint8_t padding0[4];
    const float* viewSharpeningCoefficientsX;
    int32_t viewSharpeningCoefficientsXCount;
    uint8_t padding1[4];
    const float* viewSharpeningCoefficientsY;
    int32_t viewSharpeningCoefficientsYCount;
    uint8_t padding2[4];
    int32_t systemDisparityPercent;
    uint8_t padding3[4];
    // Four row pointers, each to four floats.
    const float* const* interlacingMatrix;
    uint8_t unused0[8];
    const float* interlacingVector;
    int32_t interlacingVectorCount;
    uint8_t padding4[4];
    int32_t displaySizeMm[2];
    int32_t viewResolution[2];
    const float* viewSharpeningKernelX;
    int32_t viewSharpeningKernelXCount;
    uint8_t padding5[4];
    const float* viewSharpeningKernelY;
    int32_t viewSharpeningKernelYCount;
    uint8_t padding6[4];
    float convergenceDistance;
    float centerViewNumber;
    float viewBoxSize[2];
    float actGamma;
    // Non-zero means slanted; a byte rather than bool so that any value the service sends is valid.
    uint8_t slanted;
    uint8_t padding7[3];
};

static_assert(offsetof(DisplayConfig, displayClass) == 0);
static_assert(offsetof(DisplayConfig, displayId) == 8);
static_assert(offsetof(DisplayConfig, actBeta) == 16);
static_assert(offsetof(DisplayConfig, dotPitch) == 20);
static_assert(offsetof(DisplayConfig, panelResolution) == 28);
static_assert(offsetof(DisplayConfig, numViews) == 36);
static_assert(offsetof(DisplayConfig, alignmentOffset) == 44);
static_assert(offsetof(DisplayConfig, viewSharpeningCoefficientsX) == 56);
static_assert(offsetof(DisplayConfig, viewSharpeningCoefficientsXCount) == 64);
static_assert(offsetof(DisplayConfig, viewSharpeningCoefficientsY) == 72);
static_assert(offsetof(DisplayConfig, viewSharpeningCoefficientsYCount) == 80);
static_assert(offsetof(DisplayConfig, systemDisparityPercent) == 88);
static_assert(offsetof(DisplayConfig, interlacingMatrix) == 96);
static_assert(offsetof(DisplayConfig, unused0) == 104);
static_assert(offsetof(DisplayConfig, interlacingVector) == 112);
static_assert(offsetof(DisplayConfig, interlacingVectorCount) == 120);
static_assert(offsetof(DisplayConfig, displaySizeMm) == 128);
static_assert(offsetof(DisplayConfig, viewResolution) == 136);
static_assert(offsetof(DisplayConfig, viewSharpeningKernelX) == 144);
static_assert(offsetof(DisplayConfig, viewSharpeningKernelXCount) == 152);
static_assert(offsetof(DisplayConfig, viewSharpeningKernelY) == 160);
static_assert(offsetof(DisplayConfig, viewSharpeningKernelYCount) == 168);
static_assert(offsetof(DisplayConfig, convergenceDistance) == 176);
static_assert(offsetof(DisplayConfig, centerViewNumber) == 180);
static_assert(offsetof(DisplayConfig, viewBoxSize) == 184);
static_assert(offsetof(DisplayConfig, actGamma) == 192);
static_assert(offsetof(DisplayConfig, slanted) == 196);
static_assert(sizeof(DisplayConfig) == 200);

// Every call may come from any thread; the library serialises them.

// True when the service reports a connected panel.
TAVO_DISPLAY_SDK_API bool isDisplayConnected();
// The panel's record; all fields zero and all pointers null when no display is connected.
TAVO_DISPLAY_SDK_API DisplayConfig getDisplayConfig();
// Version text of the service platform; empty when no display is connected.
TAVO_DISPLAY_SDK_API std::string getPlatformVersion();
// Current backlight mode: 1 for the 3D backlight on, 0 for off.
TAVO_DISPLAY_SDK_API int getBacklightMode();
// Asks the panel to switch its 3D backlight; false when no display is connected.
TAVO_DISPLAY_SDK_API bool requestBacklightMode(bool on);

}  // namespace TavoDisplaySdk
