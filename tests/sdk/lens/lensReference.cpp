// The lens model in plain double-precision arithmetic, one subpixel at a time.
#include "sdk/lens/lensReference.h"

#include <algorithm>
#include <cmath>

namespace tavo::test {
namespace {

constexpr double kHalfEyeDistance = 31.5;
constexpr double kBlendBand = 0.1;
constexpr double kAmbiguity = 1e-3;

double Mod(double u, double n) {
    return u - n * std::floor(u / n);
}

double Wrap(double u, double n) {
    return u - n * std::floor(u / n + 0.5);
}

double Smoothstep(double e0, double e1, double x) {
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

uint8_t ToCode(double v) {
    return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

}  // namespace

double Psi(const LensInputs& in, double x, double y) {
    const double c = in.cos_theta, s = in.sin_theta;
    const double pp = in.pixelPitch;
    const double xl = x * c + y * s;
    const double yl = -x * s + y * c;
    // du = pp / p_over_du and dv = pp / p_over_dv, written as products so that p_over_dv = 0 works.
    return xl * in.p_over_du / pp + yl * in.p_over_dv / pp;
}

double TrackedPhase(const LensInputs& in, double px, double py, const std::array<double, 3>& eye) {
    const double n = in.n;
    const double dOverN = in.d_over_n;
    const double dx = eye[0] - px, dy = eye[1] - py;
    const double h = std::max(eye[2] - n * dOverN, 1.0);
    const double root = std::sqrt((1.0 - 1.0 / (n * n)) * (dx * dx + dy * dy) + h * h);
    const double ax = px + dOverN * dx / root;
    const double ay = py + dOverN * dy / root;
    return Wrap((1.0 + static_cast<double>(in.s)) * Psi(in, ax, ay),
                std::floor(in.hardwareViewsX + 0.5));
}

WeaveResult Weave(const LensInputs& in, const std::vector<RgbaImage>& views) {
    WeaveResult out;
    out.image.width = in.width;
    out.image.height = in.height;
    out.image.pixels.assign(static_cast<size_t>(in.width) * in.height * 4, 255);
    out.nearBoundary.assign(static_cast<size_t>(in.width) * in.height * 3, false);
    const double N = std::max(std::floor(in.hardwareViewsX + 0.5), 1.0);
    const bool stereo = in.mode == 2;
    const double count = stereo ? 2.0 : std::max<double>(in.softwareViews, 1.0);
    const double pp = in.pixelPitch;
    const double W = in.displayResX * pp, H = in.displayResY * pp;
    const auto clampView = [&](double v) {
        return static_cast<int>(std::clamp(v, std::max<double>(in.minView, 0.0),
                                           std::min<double>(in.maxView, count - 1.0)));
    };
    for (int row = 0; row < in.height; ++row) {  // GL row, bottom first
        const int jTop = in.height - 1 - row;    // output row from the top
        const double j = in.viewportY + jTop;    // panel row from the top
        for (int col = 0; col < in.width; ++col) {
            const double i = in.viewportX + col;
            uint8_t* pixel = out.image.at(col, row);
            for (int channel = 0; channel < 3; ++channel) {
                const int slot = in.colorInversion ? 2 - channel : channel;
                const double x = (i + (slot + 0.5) / 3.0) * pp - W / 2.0;
                const double y = H / 2.0 - (j + 0.5) * pp;
                const auto value = [&](int view) {
                    return views[static_cast<size_t>(view)].at(col, row)[channel] / 255.0;
                };
                double result = 0.0;
                bool ambiguous = false;
                if (in.singleView) {
                    result = value(stereo ? 0 : static_cast<int>(std::floor((count - 1.0) / 2.0)));
                } else if (stereo) {
                    const std::array<double, 3> left{in.faceX - kHalfEyeDistance, in.faceY,
                                                     in.faceZ};
                    const std::array<double, 3> right{in.faceX + kHalfEyeDistance, in.faceY,
                                                      in.faceZ};
                    const double margin = std::abs(TrackedPhase(in, x, y, left)) -
                                          std::abs(TrackedPhase(in, x, y, right));
                    if (in.blendViews) {
                        const double w = Smoothstep(-kBlendBand, kBlendBand, margin);
                        result = (1.0 - w) * value(0) + w * value(1);
                    } else {
                        result = margin <= 0.0 ? value(0) : value(1);
                        ambiguous = std::abs(margin) < kAmbiguity;
                    }
                } else {
                    const double label =
                        in.mode == 1
                            ? Mod(in.No - TrackedPhase(in, x, y, {in.faceX, in.faceY, in.faceZ}), N)
                            : Mod(in.No - Psi(in, x, y), N);
                    if (in.blendViews) {
                        const double first = std::floor(label);
                        const double w = label - first;
                        result = (1.0 - w) * value(clampView(Mod(first, N))) +
                                 w * value(clampView(Mod(first + 1.0, N)));
                    } else {
                        result = value(clampView(Mod(std::floor(label + 0.5), N)));
                        ambiguous = std::abs(label - std::floor(label) - 0.5) < kAmbiguity;
                    }
                }
                pixel[channel] = ToCode(result);
                out.nearBoundary[(static_cast<size_t>(row) * in.width + col) * 3 + channel] =
                    ambiguous;
            }
        }
    }
    return out;
}

RgbaImage Sharpen(const SharpenInputs& in, const RgbaImage& source) {
    RgbaImage out = source;
    const double gamma = in.gamma;
    const auto linear = [&](int x, int y, int channel) {
        x = std::clamp(x, 0, source.width - 1);
        y = std::clamp(y, 0, source.height - 1);
        return std::pow(source.at(x, y)[channel] / 255.0, gamma);
    };
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            for (int channel = 0; channel < 3; ++channel) {
                double sum = in.center * linear(x, y, channel);
                for (const auto& tap : in.taps) {
                    sum -= tap[2] * linear(x + static_cast<int>(tap[0]),
                                           y + static_cast<int>(tap[1]), channel);
                }
                out.at(x, y)[channel] = ToCode(std::pow(std::clamp(sum, 0.0, 1.0), 1.0 / gamma));
            }
            out.at(x, y)[3] = 255;
        }
    }
    return out;
}

std::vector<RgbaImage> MakeViews(int count, int width, int height) {
    std::vector<RgbaImage> views(static_cast<size_t>(count));
    for (int v = 0; v < count; ++v) {
        RgbaImage& image = views[static_cast<size_t>(v)];
        image.width = width;
        image.height = height;
        image.pixels.resize(static_cast<size_t>(width) * height * 4);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                uint8_t* p = image.at(x, y);
                for (int c = 0; c < 3; ++c) {
                    p[c] = static_cast<uint8_t>((37 * v + 11 * x + 5 * y + 83 * c) % 256);
                }
                p[3] = 255;
            }
        }
    }
    return views;
}

}  // namespace tavo::test
