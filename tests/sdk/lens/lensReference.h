// CPU reference of the interlace weave and of the sharpen filter, in double precision, written from
// the lens model (docs/optics.md) and not from the shader text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavo::test {

// The values the interlace pass hands its shader, as the floats the shader receives.
struct LensInputs {
    int width = 0;  // output size, pixels
    int height = 0;
    float displayResX = 0.0f, displayResY = 0.0f;
    float viewportX = 0.0f, viewportY = 0.0f;  // output's top-left pixel on the panel
    float pixelPitch = 0.0f;
    float p_over_du = 0.0f, p_over_dv = 0.0f;
    float cos_theta = 1.0f, sin_theta = 0.0f;
    float n = 0.0f, d_over_n = 0.0f, s = 0.0f;
    float hardwareViewsX = 0.0f, softwareViews = 0.0f;
    float minView = 0.0f, maxView = 0.0f;
    float No = 0.0f;
    float faceX = 0.0f, faceY = 0.0f, faceZ = 0.0f;
    bool colorInversion = false;
    bool blendViews = false;
    int mode = 0;  // 0 View Sliding, 1 View Peeling, 2 Stereo Sliding
    bool singleView = false;
};

// An RGBA8 image, bottom row first (as GL reads it back).
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
    uint8_t* at(int x, int y) { return &pixels[(static_cast<size_t>(y) * width + x) * 4]; }
    const uint8_t* at(int x, int y) const {
        return &pixels[(static_cast<size_t>(y) * width + x) * 4];
    }
};

// Views whose every channel differs from view to view, pixel to pixel and channel to channel, so
// that a wrong choice of view, pixel or channel shows.
std::vector<RgbaImage> MakeViews(int count, int width, int height);

struct WeaveResult {
    RgbaImage image;
    // Per subpixel (pixel index * 3 + channel): the decision sits within 1e-3 view steps of a
    // boundary, so float arithmetic may take either side.
    std::vector<bool> nearBoundary;
};

// Phase of a display-space point (mm), in view steps.
double Psi(const LensInputs& in, double x, double y);
// t(P, E) of the model: wrapped tracked phase of the point P seen from eye E.
double TrackedPhase(const LensInputs& in, double px, double py, const std::array<double, 3>& eye);

// Weaves `views` (each the output's size, read at pixel centres) into an image of the output's
// size; alpha is 255.
WeaveResult Weave(const LensInputs& in, const std::vector<RgbaImage>& views);

struct SharpenInputs {
    float gamma = 1.0f;
    float center = 1.0f;
    // x offset, y offset (pixels, y counted in GL rows), weight
    std::vector<std::array<float, 3>> taps;
};

// The crosstalk compensation filter in linear light; alpha is 255.
RgbaImage Sharpen(const SharpenInputs& in, const RgbaImage& source);

}  // namespace tavo::test
