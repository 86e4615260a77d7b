// The per-eye simulator on pictures made by hand: the rays it traces, where they land, what
// they read and how it summarises them.
#include <cmath>
#include <map>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>
#include <glm/geometric.hpp>

#include "apps/eyeview/eyeSimulator.h"
#include "tavo/device/device.h"

namespace tavo::apps {
namespace {

// A small panel with the default lens: fast enough for the sanitizer builds.
device::Config SmallPanel() {
    auto config = device::DefaultConfig();
    config.panelResolution = {240, 60};
    return config;
}

Picture Filled(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    Picture picture{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    for (size_t i = 0; i < picture.rgba.size(); i += 4) {
        picture.rgba[i] = r;
        picture.rgba[i + 1] = g;
        picture.rgba[i + 2] = b;
        picture.rgba[i + 3] = 255;
    }
    return picture;
}

// Vector Snell through a surface with normal +z: an independent form of the chief ray.
glm::dvec2 SnellHit(const glm::dvec3& eye, const glm::dvec2& vertex, double n, double d) {
    const glm::dvec3 in = glm::normalize(glm::dvec3(vertex, d) - eye);  // points down into glass
    const glm::dvec3 normal(0.0, 0.0, 1.0);
    const double cosI = -glm::dot(normal, in);
    const double ratio = 1.0 / n;
    const double cosT = std::sqrt(1.0 - ratio * ratio * (1.0 - cosI * cosI));
    const glm::dvec3 out = ratio * in + (ratio * cosI - cosT) * normal;
    const double travel = d / -out.z;
    return vertex + travel * glm::dvec2(out.x, out.y);
}

TEST(EyeSimulator, RaysLeaveVertexLinesAndLandWhereSnellSends) {
    const auto config = SmallPanel();
    const auto lens = LensSheet::FromConfig(config);
    const Picture woven = Filled(240, 60, 10, 20, 30);
    const double pp = config.dotPitch.x;
    const double theta = config.theta / (3.0 * 60);
    const double s = config.s / (240.0 * config.pOverDu);
    for (const glm::dvec3 eye :
         {glm::dvec3(0, 0, 521.53), glm::dvec3(-200, 60, 400), glm::dvec3(180, -60, 900)}) {
        SCOPED_TRACE(eye.x);
        int count = 0;
        TraceEye(lens, woven, eye, EyeSampling{3}, [&](const EyeSample& sample) {
            ++count;
            // On a vertex line: (1 + s)·ψ is a whole multiple of N.
            const double xr = sample.x * std::cos(theta) + sample.y * std::sin(theta);
            const double yr = -sample.x * std::sin(theta) + sample.y * std::cos(theta);
            const double psi = (1.0 + s) * (xr * config.pOverDu / pp + yr * config.pOverDv / pp);
            const double k = psi / config.numViews.x;
            ASSERT_NEAR(k, std::round(k), 1e-9);
            const glm::dvec2 hit =
                SnellHit(eye, {sample.x, sample.y}, config.n, config.n * config.dOverN);
            const double px = (hit.x + 120 * pp) / pp;
            const double py = (30 * pp - hit.y) / pp;
            // Exact to well below a subpixel; only hits on an edge may fall either side.
            const double slotEdge = std::abs(px * 3 - std::round(px * 3));
            if (slotEdge > 1e-6) {
                ASSERT_EQ(sample.column, static_cast<int>(std::floor(px)));
                ASSERT_EQ(sample.slot, static_cast<int>(std::floor((px - sample.column) * 3)));
            }
            if (std::abs(py - std::round(py)) > 1e-6) {
                ASSERT_EQ(sample.row, static_cast<int>(std::floor(py)));
            }
            ASSERT_EQ(sample.channel, sample.slot);
            ASSERT_EQ(sample.value, 10 * (sample.slot + 1));
        });
        // Every row, three heights, about W/(lens pitch) lenticules a height, less the few rays
        // the lens layer bends off the panel's edges.
        const double expected = 60 * 3 * 240 * 3 * (1 + s) / config.numViews.x;
        EXPECT_NEAR(count, expected, 0.04 * expected);
    }
}

TEST(EyeSimulator, HeightsInsideARowAreSpreadNotStacked) {
    const auto lens = LensSheet::FromConfig(SmallPanel());
    const Picture woven = Filled(240, 60, 0, 0, 0);
    const double pp = lens.pitch;
    std::map<int, std::vector<double>> heightsByRow;
    TraceEye(lens, woven, {0, 0, 600}, EyeSampling{4}, [&](const EyeSample& sample) {
        const double fromTop = (30 * pp - sample.y) / pp;
        heightsByRow[static_cast<int>(std::floor(fromTop))].push_back(fromTop -
                                                                      std::floor(fromTop));
    });
    ASSERT_EQ(heightsByRow.size(), 60u);
    for (const auto& [row, heights] : heightsByRow) {
        // The edge rows lose the rays the lens layer bends off the panel.
        if (row == 0 || row == 59)
            continue;
        // Stratified: each quarter of the row holds a quarter of its samples, none at the centre
        // alone.
        int quarters[4] = {};
        for (double f : heights)
            ++quarters[static_cast<int>(f * 4)];
        for (int q = 0; q < 4; ++q)
            EXPECT_NEAR(quarters[q], heights.size() / 4.0, 3.0) << "row " << row;
    }
}

TEST(EyeSimulator, SharesCountNearestSourcesAndColourOrderFollowsThePanel) {
    auto config = SmallPanel();
    // Red stripes 200, green 60, blue 0: with colour inversion the left stripe shows blue.
    const Picture woven = Filled(240, 60, 200, 60, 0);
    for (const bool inverted : {false, true}) {
        config.colorInversion = inverted;
        const auto lens = LensSheet::FromConfig(config);
        const auto shares = SourceShares(lens, woven, {0, 0, 521.53}, {255, 0, 100});
        ASSERT_EQ(shares.size(), 3u);
        // The three stripes are hit equally often; 200 is nearest 255, 60 nearest 100.
        EXPECT_NEAR(shares[0], 1.0 / 3, 0.02);
        EXPECT_NEAR(shares[1], 1.0 / 3, 0.02);
        EXPECT_NEAR(shares[2], 1.0 / 3, 0.02);
        int slotZeroValue = -1;
        TraceEye(lens, woven, {0, 0, 521.53}, {}, [&](const EyeSample& sample) {
            if (sample.slot == 0)
                slotZeroValue = sample.value;
        });
        EXPECT_EQ(slotZeroValue, inverted ? 0 : 200);
    }
}

TEST(EyeSimulator, EyePictureShowsTheHalfOfThePanelEachSampleCameFrom) {
    const auto lens = LensSheet::FromConfig(SmallPanel());
    // Left half white, right half black: the eye sees the same split, shifted only by the
    // lens layer's small parallax.
    Picture woven = Filled(240, 60, 0, 0, 0);
    for (int row = 0; row < 60; ++row)
        for (int column = 0; column < 120; ++column)
            for (int c = 0; c < 3; ++c)
                woven.rgba[(static_cast<size_t>(row) * 240 + column) * 4 + c] = 255;
    const Picture eyeView = EyePicture(lens, woven, {0, 0, 521.53}, 4);
    ASSERT_EQ(eyeView.width, 60);
    ASSERT_EQ(eyeView.height, 15);
    for (int row = 0; row < 15; ++row) {
        for (int column : {0, 10, 28, 32, 50, 59}) {
            const uint8_t expected = column < 30 ? 255 : 0;
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(eyeView.rgba[(static_cast<size_t>(row) * 60 + column) * 4 + c], expected)
                    << row << "," << column;
        }
    }
}

TEST(EyeSimulator, RefusesWhatItCannotTrace) {
    auto config = SmallPanel();
    const auto lens = LensSheet::FromConfig(config);
    const auto none = [](const EyeSample&) {};
    EXPECT_THROW(TraceEye(lens, Filled(239, 60, 0, 0, 0), {0, 0, 500}, {}, none),
                 std::invalid_argument);
    EXPECT_THROW(TraceEye(lens, Filled(240, 60, 0, 0, 0), {0, 0, 0.5}, {}, none),
                 std::invalid_argument);
    EXPECT_THROW(TraceEye(lens, Filled(240, 60, 0, 0, 0), {NAN, 0, 500}, {}, none),
                 std::invalid_argument);
    EXPECT_THROW(TraceEye(lens, Filled(240, 60, 0, 0, 0), {0, 0, 500}, EyeSampling{0}, none),
                 std::invalid_argument);
    EXPECT_THROW(EyePicture(lens, Filled(240, 60, 0, 0, 0), {0, 0, 500}, 0), std::invalid_argument);
    for (auto broken : {&device::Config::n, &device::Config::pOverDu, &device::Config::dOverN}) {
        auto bad = config;
        bad.*broken = broken == &device::Config::pOverDu ? 0.0f : NAN;
        EXPECT_THROW(LensSheet::FromConfig(bad), std::invalid_argument);
    }
}

}  // namespace
}  // namespace tavo::apps
