// The interlace and sharpen programs against the CPU reference, subpixel by subpixel, on small
// panel descriptions with the default panel's optics and on the full default panel.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <glm/gtc/matrix_transform.hpp>

#include "sdk/lens/imageCompare.h"
#include "sdk/lens/shaderHarness.h"

namespace tavo::test {
namespace {

// The default 15.6" panel's optics; `columns` x `rows` pixels of it.
LensInputs DefaultOptics(int columns, int rows) {
    LensInputs in;
    in.width = columns;
    in.height = rows;
    in.displayResX = static_cast<float>(columns);
    in.displayResY = static_cast<float>(rows);
    in.pixelPitch = 0.08964f;
    in.p_over_du = 3.0f;
    in.p_over_dv = 1.0f;
    // The interlacer scales these by the 3840 x 2160 panel; a cut-out keeps the same lens.
    in.s = 11.3f / (3840.0f * 3.0f);
    in.cos_theta = std::cos(0.6484f / (3.0f * 2160.0f));
    in.sin_theta = std::sin(0.6484f / (3.0f * 2160.0f));
    in.n = 1.6f;
    in.d_over_n = 0.514634f;
    in.hardwareViewsX = 12.0f;
    in.softwareViews = 12.0f;
    in.maxView = 11.0f;
    in.No = 8.69004f;
    in.faceZ = 521.53f;
    return in;
}

// A configuration derived from legacy service data: n from the first vertical coefficient, no lens
// rotation, unslanted service flag (p/dv = -1), d/n and s from a 60 mm view box at 600 mm.
LensInputs LegacyOptics(int columns, int rows) {
    LensInputs in = DefaultOptics(columns, rows);
    in.pixelPitch = 0.1f;
    in.p_over_dv = -1.0f;
    const float du = in.pixelPitch / 3.0f;
    in.d_over_n = du * 600.0f / 60.0f;
    in.s = du / 60.0f;
    in.cos_theta = 1.0f;
    in.sin_theta = 0.0f;
    in.n = 1.47f;
    in.hardwareViewsX = in.softwareViews = 8.0f;
    in.maxView = 7.0f;
    in.No = 3.3f;
    return in;
}

struct WeaveCase {
    const char* name;
    LensInputs in;
    friend void PrintTo(const WeaveCase& c, std::ostream* out) { *out << c.name; }
};

LensInputs With(LensInputs in, int mode, float x, float y, float z, bool blend = false) {
    in.mode = mode;
    if (mode == 2)
        in.softwareViews = 2.0f, in.maxView = 1.0f;
    in.faceX = x, in.faceY = y, in.faceZ = z;
    in.blendViews = blend;
    return in;
}

LensInputs Inverted(LensInputs in) {
    in.colorInversion = true;
    return in;
}

LensInputs Slanted(LensInputs in, float pOverDv) {
    in.p_over_dv = pOverDv;
    return in;
}

LensInputs Single(LensInputs in) {
    in.singleView = true;
    return in;
}

LensInputs OffsetOnPanel(LensInputs in, float x, float y, int width, int height) {
    in.viewportX = x, in.viewportY = y, in.width = width, in.height = height;
    return in;
}

// The images side by side in one, as an atlas or a stereo picture holds them.
RgbaImage SideBySide(const std::vector<RgbaImage>& images) {
    const int width = images[0].width, height = images[0].height;
    RgbaImage all;
    all.width = width * static_cast<int>(images.size());
    all.height = height;
    all.pixels.resize(static_cast<size_t>(all.width) * height * 4);
    for (size_t v = 0; v < images.size(); ++v) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                std::copy_n(images[v].at(x, y), 4, all.at(static_cast<int>(v) * width + x, y));
        }
    }
    return all;
}

class WeaveTest : public ShaderHarness, public ::testing::WithParamInterface<WeaveCase> {};

void ExpectMatches(const RgbaImage& actual, const WeaveResult& expected, const std::string& name) {
    const Comparison result = CompareWeave(actual, expected.image, expected.nearBoundary, 1, name);
    EXPECT_EQ(result.wrong, 0u) << result.firstWrong;
    EXPECT_LT(result.nearBoundaryDifferent * 1000, result.subpixels)
        << result.nearBoundaryDifferent << " subpixels near a boundary went the other way";
}

TEST_P(WeaveTest, EverySubpixelMatchesTheReference) {
    const LensInputs& in = GetParam().in;
    const int views = in.mode == 2 ? 2 : static_cast<int>(in.softwareViews);
    const auto images = MakeViews(views, in.width, in.height);
    const int variant = in.mode == 2 ? kStereoViews : kViews;
    const RgbaImage actual = Interlace(in, Upload(images), {.variant = variant});
    ExpectMatches(actual, Weave(in, images), GetParam().name);
}

const LensInputs kSmall = DefaultOptics(240, 136);
const LensInputs kLegacy = LegacyOptics(200, 120);

INSTANTIATE_TEST_SUITE_P(
    Panels, WeaveTest,
    ::testing::Values(
        WeaveCase{"DefaultSliding", With(kSmall, 0, 0, 0, 521.53f)},
        WeaveCase{"DefaultSlidingBlended", With(kSmall, 0, 0, 0, 521.53f, true)},
        WeaveCase{"DefaultPeeling", With(kSmall, 1, -150, 40, 480)},
        WeaveCase{"DefaultPeelingBlendedFar", With(kSmall, 1, 120, -50, 900, true)},
        WeaveCase{"DefaultStereoCentre", With(kSmall, 2, 0, 0, 521.53f)},
        WeaveCase{"DefaultStereoNearLeft", With(kSmall, 2, -150, 40, 400)},
        WeaveCase{"DefaultStereoRightLow", With(kSmall, 2, 200, -60, 700)},
        WeaveCase{"DefaultStereoFar", With(kSmall, 2, 80, 30, 900)},
        WeaveCase{"DefaultStereoBlended", With(kSmall, 2, -40, 10, 600, true)},
        WeaveCase{"InvertedColoursStereo", Inverted(With(kSmall, 2, 30, 0, 480))},
        WeaveCase{"InvertedColoursSliding", Inverted(With(kSmall, 0, 0, 0, 521.53f))},
        WeaveCase{"NegativeSlantStereo", Slanted(With(kSmall, 2, -60, 20, 550), -1.0f)},
        WeaveCase{"NegativeSlantSliding", Slanted(With(kSmall, 0, 0, 0, 521.53f), -1.0f)},
        WeaveCase{"LegacySliding", With(kLegacy, 0, 0, 0, 600)},
        WeaveCase{"LegacyPeeling", With(kLegacy, 1, 50, 0, 650)},
        WeaveCase{"LegacyStereo", With(kLegacy, 2, 60, -20, 600)},
        WeaveCase{"SingleViewSliding", Single(With(kSmall, 0, 0, 0, 521.53f))},
        WeaveCase{"SingleViewStereo", Single(With(kSmall, 2, 0, 0, 521.53f))},
        // A window far from the panel's centre: the phase is large there.
        WeaveCase{"WindowNearTheCorner",
                  OffsetOnPanel(With(DefaultOptics(3840, 2160), 2, 150, -50, 480), 3500, 1900, 300,
                                200)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShaderHarness, TheFullDefaultPanelMatchesTheReference) {
    const LensInputs in = With(DefaultOptics(3840, 2160), 2, -150, 40, 480);
    const auto images = MakeViews(2, in.width, in.height);
    const RgbaImage actual = Interlace(in, Upload(images), {.variant = kStereoViews});
    ExpectMatches(actual, Weave(in, images), "FullDefaultPanel");
}

// Views side by side in one texture weave like separate textures.
TEST_F(ShaderHarness, AnAtlasWeavesLikeSeparateViews) {
    const LensInputs in = With(kSmall, 0, 0, 0, 521.53f);
    const auto images = MakeViews(12, in.width, in.height);
    const RgbaImage actual =
        Interlace(in, Upload({SideBySide(images)}), {.variant = 6, .atlas = true});
    ExpectMatches(actual, Weave(in, images), "Atlas");
}

// Views are whole: a fractional bound clamps to the view below it, and the view read there is
// shifted by reconvergence as that whole view, from separate textures and from an atlas alike.
TEST_F(ShaderHarness, FractionalViewBoundsClampToWholeViews) {
    LensInputs in = With(kSmall, 0, 0, 0, 521.53f);
    const auto images = MakeViews(12, in.width, in.height);
    const auto textures = Upload(images);
    const auto atlasTexture = Upload({SideBySide(images)});
    for (const bool blend : {false, true}) {
        for (const bool inAtlas : {false, true}) {
            const std::string name = std::string(inAtlas ? "Atlas" : "Views") +
                                     (blend ? "Blended" : "") + "FractionalBounds";
            DrawOptions options{.variant = inAtlas ? 6 : kViews, .atlas = inAtlas};
            in.blendViews = blend;
            in.minView = 2.5f, in.maxView = 8.5f;
            // Without reconvergence the reference holds the views to the bounds.
            ExpectMatches(Interlace(in, inAtlas ? atlasTexture : textures, options),
                          Weave(in, images), name);
            options.reconvergence = true;
            options.reconvergenceAmount = 0.04f;
            options.zoomX = true;
            const RgbaImage fractional = Interlace(in, inAtlas ? atlasTexture : textures, options);
            in.minView = 2.0f, in.maxView = 8.0f;
            const RgbaImage whole = Interlace(in, inAtlas ? atlasTexture : textures, options);
            const Comparison result = CompareWeave(fractional, whole, {}, 0, name + "Shifted");
            EXPECT_EQ(result.wrong, 0u) << name << ": " << result.firstWrong;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Debug modes

RgbaImage Uniform(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    RgbaImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < image.pixels.size(); i += 4) {
        image.pixels[i] = r, image.pixels[i + 1] = g, image.pixels[i + 2] = b;
        image.pixels[i + 3] = 255;
    }
    return image;
}

std::vector<RgbaImage> UniformViews(int count, int width, int height) {
    std::vector<RgbaImage> views;
    for (int v = 0; v < count; ++v) {
        views.push_back(Uniform(width, height, static_cast<uint8_t>(20 * v + 10),
                                static_cast<uint8_t>(250 - 20 * v), static_cast<uint8_t>(v * 7)));
    }
    return views;
}

TEST_F(ShaderHarness, TextureCoordinatesShowUAndV) {
    const LensInputs in = With(kSmall, 2, 0, 0, 521.53f);
    const RgbaImage actual = Interlace(in, {}, {.variant = kTextureCoordinates});
    RgbaImage expected = Uniform(in.width, in.height, 0, 0, 0);
    for (int y = 0; y < in.height; ++y) {
        for (int x = 0; x < in.width; ++x) {
            expected.at(x, y)[0] = static_cast<uint8_t>(std::lround((x + 0.5) / in.width * 255));
            expected.at(x, y)[1] = static_cast<uint8_t>(std::lround((y + 0.5) / in.height * 255));
        }
    }
    const Comparison result = CompareWeave(actual, expected, {}, 1, "TextureCoordinates");
    EXPECT_EQ(result.wrong, 0u) << result.firstWrong;
}

TEST_F(ShaderHarness, FirstViewAndAllViewsShowTheViewsWithoutALens) {
    LensInputs in = With(kSmall, 0, 0, 0, 521.53f);
    in.height = 120;  // four columns and three rows of whole pixels
    const auto images = MakeViews(12, in.width, in.height);
    const auto textures = Upload(images);
    const RgbaImage first = Interlace(in, textures, {.variant = kFirstView});
    const Comparison firstResult = CompareWeave(first, images[0], {}, 1, "FirstView");
    EXPECT_EQ(firstResult.wrong, 0u) << firstResult.firstWrong;

    const auto flat = UniformViews(12, in.width, in.height);
    const auto flatTextures = Upload(flat);
    RgbaImage grid = Uniform(in.width, in.height, 0, 0, 0);
    for (int y = 0; y < in.height; ++y) {
        for (int x = 0; x < in.width; ++x) {
            const int rowFromTop = (in.height - 1 - y) / 40, column = x / 60;
            std::copy_n(flat[static_cast<size_t>(rowFromTop * 4 + column)].at(0, 0), 4,
                        grid.at(x, y));
        }
    }
    for (const int variant : {kAllViews, kThumbnails}) {
        const RgbaImage actual = Interlace(in, flatTextures, {.variant = variant});
        const Comparison result = CompareWeave(actual, grid, {}, 1, "ViewGrid");
        EXPECT_EQ(result.wrong, 0u) << variant << ": " << result.firstWrong;
    }
}

// The chart's cell k appears where View Sliding shows view k, never blended.
TEST_F(ShaderHarness, TheCalibrationImageShowsEachViewsCellUnderItsLabel) {
    LensInputs in = With(kSmall, 0, 0, 0, 521.53f);
    in.blendViews = true;  // the chart ignores it
    const auto cells = UniformViews(12, 16, 8);
    RgbaImage chart = Uniform(16 * 12, 8, 0, 0, 0);
    for (int v = 0; v < 12; ++v) {
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 16; ++x)
                std::copy_n(cells[v].at(0, 0), 4, chart.at(v * 16 + x, y));
        }
    }
    const RgbaImage actual =
        Interlace(in, Upload({chart}), {.variant = kCalibration, .debugMode = 4});
    LensInputs reference = in;
    reference.blendViews = false;
    ExpectMatches(actual, Weave(reference, UniformViews(12, in.width, in.height)), "Calibration");
}

// A side-by-side picture on unit 0 weaves as the stereo pair, whatever the interlace mode.
TEST_F(ShaderHarness, AStereoPictureWeavesItsHalvesToTheEyes) {
    const LensInputs stereo = With(kSmall, 2, -70, 15, 560);
    const auto halves = MakeViews(2, stereo.width, stereo.height);
    const auto texture = Upload({SideBySide(halves)});
    for (const int debugMode : {5, 6, 7}) {
        LensInputs sliding = stereo;
        sliding.mode = 0;  // the picture decides, not the mode
        const RgbaImage actual =
            Interlace(sliding, texture, {.variant = kStereoPicture, .debugMode = debugMode});
        ExpectMatches(actual, Weave(stereo, halves), "StereoPicture" + std::to_string(debugMode));
    }
}

// ---------------------------------------------------------------------------------------------
// Placement: fit rectangle, crop, alpha

TEST_F(ShaderHarness, TheRectangleAndTheCropPlaceTheImage) {
    LensInputs in = With(kSmall, 0, 0, 0, 521.53f);
    in.height = 120;
    // Left half of the view red, right half blue.
    RgbaImage split = Uniform(in.width, in.height, 255, 0, 0);
    for (int y = 0; y < in.height; ++y) {
        for (int x = in.width / 2; x < in.width; ++x)
            split.at(x, y)[0] = 0, split.at(x, y)[2] = 255;
    }
    const auto textures = Upload({split});
    DrawOptions options{.variant = kFirstView};
    // Letterbox: the middle half of the rows; crop: the right half of the texture.
    options.rectTransform = glm::translate(glm::mat4(1.0f), {0.0f, 0.25f, 0.0f}) *
                            glm::scale(glm::mat4(1.0f), {1.0f, 0.5f, 1.0f});
    options.textureTransform = glm::translate(glm::mat4(1.0f), {0.5f, 0.0f, 0.0f}) *
                               glm::scale(glm::mat4(1.0f), {0.5f, 1.0f, 1.0f});
    options.alpha = 0.5f;
    const RgbaImage actual = Interlace(in, textures, options);
    for (int y : {0, 29, 30, 60, 89, 90, 119}) {
        const bool inside = y >= 30 && y < 90;
        for (int x : {10, 100, 200, 239}) {
            EXPECT_EQ(actual.at(x, y)[2], inside ? 255 : 0) << x << ", " << y;
            EXPECT_EQ(actual.at(x, y)[0], 0) << x << ", " << y;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Sharpening

RgbaImage Noise(int width, int height, uint32_t seed) {
    RgbaImage image = Uniform(width, height, 0, 0, 0);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        if (i % 4 != 3)
            image.pixels[i] = static_cast<uint8_t>(seed >> 24);
    }
    return image;
}

// The default panel's record: coefficients c1..c6 with beta ~2, offsets (i / 3, i mod 3).
SharpenInputs DefaultSharpening() {
    const float c[] = {0.081f, 0.009f, 0.017f, 0.008f, 0.008f, 0.004f};
    const float beta = 1.99912f;
    float total = 1.0f;
    for (float ci : c)
        total -= beta * ci;
    SharpenInputs in;
    in.gamma = 1.99562f;
    in.center = 1.0f / total;
    for (int i = 1; i <= 6; ++i) {
        const float x = static_cast<float>(i / 3), y = static_cast<float>(i % 3);
        in.taps.push_back({x, y, c[i - 1] / total});
        in.taps.push_back({-x, -y, c[i - 1] / total});
    }
    return in;
}

TEST_F(ShaderHarness, SharpeningMatchesTheReferenceInBothVariants) {
    const RgbaImage source = Noise(64, 48, 7);
    const SharpenInputs in = DefaultSharpening();
    const RgbaImage expected = Sharpen(in, source);
    for (const bool optimized : {false, true}) {
        const RgbaImage actual = SharpenImage(in, source, optimized);
        const Comparison result =
            CompareWeave(actual, expected, {}, 1, optimized ? "SharpenOptimized" : "Sharpen");
        EXPECT_EQ(result.wrong, 0u) << result.firstWrong;
    }
}

// Into its own intermediate the interlacer weaves linear light, 16 bits a channel, and sharpens
// without decoding: the output must be the reference filter over the 8-bit weave of the same
// views, as when every tap was decoded.
TEST_F(ShaderHarness, ALinearIntermediateSharpensAsTheEncodedWeaveDoes) {
    const SharpenInputs sharpen = DefaultSharpening();
    for (const LensInputs& in : {With(kSmall, 0, 0, 0, 521.53f), With(kSmall, 2, -150, 40, 400)}) {
        const auto images = MakeViews(in.mode == 2 ? 2 : 12, in.width, in.height);
        const auto textures = Upload(images);
        const DrawOptions options{.variant = in.mode == 2 ? kStereoViews : kViews};
        const RgbaImage expected = Sharpen(sharpen, Interlace(in, textures, options));
        for (const bool optimized : {false, true}) {
            const RgbaImage actual = InterlaceAndSharpen(in, textures, options, sharpen, optimized);
            const Comparison result = CompareWeave(actual, expected, {}, 1,
                                                   in.mode == 2 ? "LinearStereo" : "LinearSliding");
            EXPECT_EQ(result.wrong, 0u) << result.firstWrong;
        }
    }
}

TEST(SharpenReference, AFlatFieldPassesAndAnEdgeOvershootsInLinearLight) {
    SharpenInputs in;
    in.gamma = 2.0f;
    in.center = 1.0f / (1.0f - 2.0f * 0.1f);
    in.taps = {{1, 0, 0.1f / 0.8f}, {-1, 0, 0.1f / 0.8f}};
    const RgbaImage flat = Sharpen(in, Uniform(8, 2, 100, 100, 100));
    EXPECT_EQ(flat.at(3, 1)[0], 100);
    RgbaImage edge = Uniform(8, 1, 100, 100, 100);
    for (int x = 4; x < 8; ++x)
        edge.at(x, 0)[0] = 180;
    const RgbaImage out = Sharpen(in, edge);
    // Decoded, filtered and encoded: sqrt(1.25 L(100) - 0.125 (L(100) + L(180))) * 255 with
    // L(v) = (v / 255)^2. Subtracting codes instead would give 90 and 190.
    EXPECT_EQ(out.at(3, 0)[0], 85);
    EXPECT_EQ(out.at(4, 0)[0], 188);
    EXPECT_EQ(out.at(0, 0)[0], 100) << "the edge pixel repeats past the border";
}

}  // namespace
}  // namespace tavo::test
