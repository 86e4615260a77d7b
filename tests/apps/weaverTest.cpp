// Whole frames through the SDK's interlacer, on a small panel description with the default
// panel's optics, held to the CPU reference of the weave and of the sharpen filter.
#include "apps/weave/weaver.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sdk/lens/imageCompare.h"
#include "sdk/lens/lensReference.h"
#include "tavo/device/device.h"

namespace tavo::apps {
namespace {

using namespace tavo::sdk;
using test::RgbaImage;

// 240 x 136 pixels of the default panel: the lens values that the interlacer scales by the panel's
// size are scaled with it, and the views are as large as the panel so nothing is resampled.
device::Config SmallPanel() {
    device::Config config = device::DefaultConfig();
    config.panelResolution = {240, 136};
    config.viewResolution = {240, 136};
    config.s = 11.3f * 240.0f / 3840.0f;
    config.theta = 0.6484f * 136.0f / 2160.0f;
    return config;
}

// GL rows (bottom first) to a picture (top first) and back.
Picture ToPicture(const RgbaImage& image) {
    Picture picture{image.width, image.height, {}};
    for (int y = image.height - 1; y >= 0; --y) {
        picture.rgba.insert(picture.rgba.end(), image.at(0, y), image.at(0, y) + image.width * 4);
    }
    return picture;
}

RgbaImage ToImage(const Picture& picture) {
    RgbaImage image{picture.width, picture.height, {}};
    for (int y = picture.height - 1; y >= 0; --y) {
        const auto* row = &picture.rgba[static_cast<size_t>(y) * picture.width * 4];
        image.pixels.insert(image.pixels.end(), row, row + picture.width * 4);
    }
    return image;
}

// The reference's inputs from what the interlace pass used.
test::LensInputs FromParameters(const TavoInterlaceParameters& p) {
    test::LensInputs in;
    in.width = static_cast<int>(p.displayResX);
    in.height = static_cast<int>(p.displayResY);
    in.displayResX = p.displayResX, in.displayResY = p.displayResY;
    in.viewportX = p.viewportX, in.viewportY = p.viewportY;
    in.pixelPitch = p.pixelPitch;
    in.p_over_du = p.p_over_du, in.p_over_dv = p.p_over_dv;
    in.cos_theta = p.cos_theta, in.sin_theta = p.sin_theta;
    in.n = p.n, in.d_over_n = p.d_over_n, in.s = p.s;
    in.hardwareViewsX = p.hardwareViewsX, in.softwareViews = p.softwareViews;
    in.minView = p.minView, in.maxView = p.maxView;
    in.No = p.No;
    in.faceX = p.faceX, in.faceY = p.faceY, in.faceZ = p.faceZ;
    in.colorInversion = p.colorInversion > 0.5f;
    in.blendViews = p.blendViews != 0;
    in.mode = p.interlaceMode == kTavoInterlaceModeViewPeeling   ? 1
              : p.interlaceMode == kTavoInterlaceModeViewSliding ? 0
                                                                 : 2;
    return in;
}

void ExpectMatches(const Picture& actual, const test::WeaveResult& expected,
                   const std::string& name) {
    const test::Comparison result =
        test::CompareWeave(ToImage(actual), expected.image, expected.nearBoundary, 1, name);
    EXPECT_EQ(result.wrong, 0u) << name << ": " << result.firstWrong;
    EXPECT_LT(result.nearBoundaryDifferent * 1000, result.subpixels) << name;
}

struct FrameCase {
    const char* name;
    eTavoInterlaceMode mode;
    glm::vec3 face;
    bool blend;
    bool inverted;
    float pOverDv;
    friend void PrintTo(const FrameCase& c, std::ostream* out) { *out << c.name; }
};

class WeaverFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(WeaverFrames, TheInterlacePassEqualsTheReference) {
    const FrameCase& c = GetParam();
    device::Config panel = SmallPanel();
    panel.colorInversion = c.inverted;
    panel.pOverDv = c.pOverDv;
    Weaver weaver(panel);
    const auto views = test::MakeViews(weaver.ViewsFor(c.mode), 240, 136);
    std::vector<Picture> pictures;
    for (const auto& view : views)
        pictures.push_back(ToPicture(view));
    const Picture actual = weaver.Weave(
        {.mode = c.mode, .face = c.face, .sharpen = false, .blend = c.blend}, pictures);
    const auto& p = weaver.lastParameters();
    EXPECT_EQ(p.faceZ, c.face.z);
    ExpectMatches(actual, test::Weave(FromParameters(p), views), c.name);
}

INSTANTIATE_TEST_SUITE_P(
    SmallDefaultPanel, WeaverFrames,
    ::testing::Values(
        FrameCase{
            "StereoCentre", kTavoInterlaceModeStereoSliding, {0, 0, 521.53f}, false, false, 1},
        FrameCase{
            "StereoNearLeft", kTavoInterlaceModeStereoSliding, {-150, 40, 400}, false, false, 1},
        FrameCase{
            "StereoFarRight", kTavoInterlaceModeStereoSliding, {200, -60, 900}, true, false, 1},
        FrameCase{"StereoInverted", kTavoInterlaceModeStereoSliding, {40, 0, 600}, false, true, 1},
        FrameCase{
            "StereoOtherSlant", kTavoInterlaceModeStereoSliding, {-60, 20, 550}, false, false, -1},
        FrameCase{"Sliding", kTavoInterlaceModeViewSliding, {0, 0, 521.53f}, false, false, 1},
        FrameCase{"SlidingBlended", kTavoInterlaceModeViewSliding, {0, 0, 521.53f}, true, false, 1},
        FrameCase{"Peeling", kTavoInterlaceModeViewPeeling, {-100, 30, 700}, false, false, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Weaver, TheSharpenPassFiltersTheWovenFrameLikeTheReference) {
    Weaver weaver(SmallPanel());
    const auto views = test::MakeViews(2, 240, 136);
    const Picture actual = weaver.Weave(
        {.mode = kTavoInterlaceModeStereoSliding, .face = {30, -10, 560}, .blend = false},
        {ToPicture(views[0]), ToPicture(views[1])});
    const test::WeaveResult woven = test::Weave(FromParameters(weaver.lastParameters()), views);
    const TavoSharpeningValues record = weaver.sharpening();
    test::SharpenInputs in;
    in.gamma = record.gamma;
    in.center = record.sharpeningCenter;
    for (int i = 0; i < std::min(record.sharpeningValueCount, 12); ++i) {
        const glm::vec4& v = record.sharpeningValues[i];
        in.taps.push_back({v.x, v.y, v.z});
    }
    ASSERT_EQ(in.taps.size(), 12u) << "the default panel's twelve taps";
    // Subpixels near a decision boundary spread their difference to the taps around them.
    std::vector<bool> nearBoundary(woven.nearBoundary.size(), false);
    for (int y = 0; y < 136; ++y) {
        for (int x = 0; x < 240; ++x) {
            for (int c = 0; c < 3; ++c) {
                if (!woven.nearBoundary[(static_cast<size_t>(y) * 240 + x) * 3 + c])
                    continue;
                for (int dy = -2; dy <= 2; ++dy) {
                    for (int dx = -2; dx <= 2; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx >= 0 && nx < 240 && ny >= 0 && ny < 136) {
                            nearBoundary[(static_cast<size_t>(ny) * 240 + nx) * 3 + c] = true;
                        }
                    }
                }
            }
        }
    }
    ExpectMatches(actual, {test::Sharpen(in, woven.image), nearBoundary}, "Sharpened");
}

// The calibration chart and the beer glass come from the assets beside the library.
TEST(Weaver, DebugPicturesShowWhatTheySay) {
    Weaver weaver(SmallPanel());
    const auto views = test::MakeViews(2, 240, 136);
    const std::vector<Picture> pair{ToPicture(views[0]), ToPicture(views[1])};
    const WeaveSettings base{.mode = kTavoInterlaceModeStereoSliding,
                             .face = {0, 0, 521.53f},
                             .sharpen = false,
                             .blend = false};

    WeaveSettings first = base;
    first.debugMode = kTavoShaderDebugModeFirstView;
    const Picture firstView = weaver.Weave(first, pair);
    EXPECT_EQ(firstView.rgba, pair[0].rgba) << "view 0, unwoven";

    WeaveSettings picture = base;
    picture.debugMode = kTavoShaderDebugModeStereoImage;
    ExpectMatches(weaver.Weave(picture, pair),
                  test::Weave(FromParameters(weaver.lastParameters()), views), "StereoImage");

    // The chart: wherever View Sliding would show view k, cell k's colour (its middle is free of
    // the number's strokes only in places, so compare the hue family: the dominant channel).
    WeaveSettings chart = base;
    chart.debugMode = kTavoShaderDebugModeCalibrationImage;
    const Picture calibration = weaver.Weave(chart, pair);
    int coloured = 0;
    for (size_t i = 0; i < calibration.rgba.size(); i += 4) {
        coloured += calibration.rgba[i] + calibration.rgba[i + 1] + calibration.rgba[i + 2] > 0;
    }
    EXPECT_GT(coloured, static_cast<int>(calibration.rgba.size() / 4) * 9 / 10);

    WeaveSettings beer = base;
    beer.debugMode = kTavoShaderDebugModeBeerGlass;
    const Picture glass = weaver.Weave(beer, pair);
    EXPECT_NE(glass.rgba, calibration.rgba);
}

}  // namespace
}  // namespace tavo::apps
