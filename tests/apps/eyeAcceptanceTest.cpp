// The weave judged by the physics: stereo pairs and view sets woven on Mesa through tavo-weave's
// code (default panel, blending and sharpening off), then traced eye by eye by the simulator,
// which shares nothing with the weave's own view formula.
//
// Two heights a row on every pixel row keep a 4K frame quick in the sanitizer builds; the
// stratified heights keep the shares within a few tenths of a point of a dense sampling.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apps/eyeview/eyeSimulator.h"
#include "tavo/common/internal/assetTesting.h"
#include "tavo/device/device.h"

namespace tavo::apps {
namespace {

constexpr EyeSampling kSampling{2};
constexpr double kHalfEyes = 31.5;

Picture Constant(uint8_t value) {
    Picture picture{8, 8, std::vector<uint8_t>(8 * 8 * 4, value)};
    for (size_t i = 3; i < picture.rgba.size(); i += 4)
        picture.rgba[i] = 255;
    return picture;
}

struct StereoShares {
    double left;   // share of the left eye's samples showing the left image
    double right;  // share of the right eye's samples showing the right image
};

// Weaves the pair for `wovenPanel` (a wrong one makes a wrong weave) and looks
// with the default panel's eyes.
StereoShares WeaveAndLook(const glm::vec3& face, const device::Config& wovenPanel,
                          bool swapEyes = false) {
    Weaver weaver(wovenPanel);
    WeaveSettings settings;
    settings.mode = sdk::kTavoInterlaceModeStereoSliding;
    settings.face = face;
    settings.sharpen = false;
    settings.blend = false;
    const Picture woven = swapEyes ? weaver.Weave(settings, {Constant(0), Constant(255)})
                                   : weaver.Weave(settings, {Constant(255), Constant(0)});
    const auto lens = LensSheet::FromConfig(device::DefaultConfig());
    const glm::dvec3 f(face);
    const auto left =
        SourceShares(lens, woven, f - glm::dvec3(kHalfEyes, 0, 0), {255, 0}, kSampling);
    const auto right =
        SourceShares(lens, woven, f + glm::dvec3(kHalfEyes, 0, 0), {255, 0}, kSampling);
    return {left[0], right[1]};
}

class StereoSliding : public testing::TestWithParam<glm::vec3> {};

TEST_P(StereoSliding, EachEyeSeesItsOwnImage) {
    const glm::vec3 face = GetParam();
    const auto shares = WeaveAndLook(face, device::DefaultConfig());
    const double floor = AcceptedStereoShare(face.z);
    EXPECT_GE(shares.left, floor) << "left eye, face " << face.x << "," << face.y << "," << face.z;
    EXPECT_GE(shares.right, floor)
        << "right eye, face " << face.x << "," << face.y << "," << face.z;
}

// Corners and centre of the grid at every distance band; the full grid is in tavo-eyegrid.
INSTANTIATE_TEST_SUITE_P(GridPositions, StereoSliding,
                         testing::Values(glm::vec3(0, 0, 521.53f), glm::vec3(-200, 60, 400),
                                         glm::vec3(200, -60, 600), glm::vec3(100, 60, 700),
                                         glm::vec3(-100, -60, 800), glm::vec3(200, 0, 900)));

TEST(ViewSliding, EyesOnTheDesignDistanceSeeTheirViewsMost) {
    Weaver weaver;
    const auto& config = weaver.config();
    const int views = config.numViews.x;
    ASSERT_EQ(views, 12);
    std::vector<Picture> pictures;
    std::vector<int> values;
    for (int v = 0; v < views; ++v) {
        values.push_back(10 + 20 * v);
        pictures.push_back(Constant(static_cast<uint8_t>(values.back())));
    }
    WeaveSettings settings;
    settings.mode = sdk::kTavoInterlaceModeViewSliding;
    settings.sharpen = false;
    settings.blend = false;
    const Picture woven = weaver.Weave(settings, pictures);
    const auto lens = LensSheet::FromConfig(config);
    const double no = weaver.lastParameters().No;
    const double viewBox = lens.pitch / config.pOverDu / lens.s;
    const double distance = lens.dOverN / lens.s;
    // A few points below the shares measured for an eye centred on view No + m, m = -3 ... 3
    // (64.0, 67.7, 70.3, 71.9, 72.6, 72.4, 70.6%).
    const double centreFloor[7] = {0.61, 0.645, 0.67, 0.69, 0.695, 0.69, 0.675};
    for (int m = -3; m <= 3; ++m) {
        SCOPED_TRACE(m);
        // Labels run with the eye: an eye m view boxes to the right sees view No + m.
        const int expected = ((static_cast<int>(std::lround(no + m)) % views) + views) % views;
        const auto shares =
            SourceShares(lens, woven, {m * viewBox, 0, distance}, values, kSampling);
        int most = 0;
        for (int v = 1; v < views; ++v)
            most = shares[v] > shares[most] ? v : most;
        EXPECT_EQ(most, expected);
        const double centre = (m + std::round(no) - no) * viewBox;
        const auto centred = SourceShares(lens, woven, {centre, 0, distance}, values, kSampling);
        EXPECT_GE(centred[expected], centreFloor[m + 3]);
    }
}

// Depth must not come out inverted: of the two eyes of a face, the right one must see most the
// view whose camera (GetViewOffset) sits further right. The faces stay clear of the place where
// the view numbers wrap round, where every N-view panel swaps its neighbours.
struct DepthCase {
    eTavoInterlaceMode mode;
    glm::vec3 face;
    friend void PrintTo(const DepthCase& c, std::ostream* out) {
        *out << sdk::ToUiStr(c.mode) << " face " << c.face.x << "," << c.face.y << "," << c.face.z;
    }
};

class NViewDepth : public testing::TestWithParam<DepthCase> {};

TEST_P(NViewDepth, RightEyeSeesTheCameraFurtherRight) {
    const DepthCase c = GetParam();
    Weaver weaver;
    const int views = weaver.config().numViews.x;
    std::vector<Picture> pictures;
    std::vector<int> values;
    for (int v = 0; v < views; ++v) {
        values.push_back(10 + 20 * v);
        pictures.push_back(Constant(static_cast<uint8_t>(values.back())));
    }
    WeaveSettings settings;
    settings.mode = c.mode;
    settings.face = c.face;
    settings.sharpen = false;
    settings.blend = false;
    const Picture woven = weaver.Weave(settings, pictures);
    const auto offsets = weaver.ViewOffsets(c.mode);
    const auto lens = LensSheet::FromConfig(weaver.config());
    const auto mostSeen = [&](double dx) {
        const auto shares =
            SourceShares(lens, woven, glm::dvec3(c.face) + glm::dvec3(dx, 0, 0), values, kSampling);
        return static_cast<int>(std::max_element(shares.begin(), shares.end()) - shares.begin());
    };
    const int left = mostSeen(-kHalfEyes);
    const int right = mostSeen(kHalfEyes);
    EXPECT_NE(left, right);
    EXPECT_LT(offsets[static_cast<size_t>(left)].x, offsets[static_cast<size_t>(right)].x)
        << "left eye sees view " << left << ", right eye view " << right;
}

INSTANTIATE_TEST_SUITE_P(
    Faces, NViewDepth,
    testing::Values(DepthCase{sdk::kTavoInterlaceModeViewSliding, {0, 0, 521.53f}},
                    DepthCase{sdk::kTavoInterlaceModeViewSliding, {-40, 30, 521.53f}},
                    DepthCase{sdk::kTavoInterlaceModeViewSliding, {25, -40, 600}},
                    DepthCase{sdk::kTavoInterlaceModeViewPeeling, {0, 0, 521.53f}},
                    DepthCase{sdk::kTavoInterlaceModeViewPeeling, {-150, 40, 450}},
                    DepthCase{sdk::kTavoInterlaceModeViewPeeling, {120, -30, 700}}));

// Weaves that are wrong in ways a weave and its own reference could share: each must lose the
// eyes a clear part of their images somewhere on the grid. A fault is a wrong panel
// configuration, the eyes' images swapped, or a copy of the interlace shader altered at build
// time (cmake/DeriveWrongWeave.cmake) that the interlacer loads instead of the real one.
struct Fault {
    const char* name;
    void (*spoil)(device::Config&);
    bool swapEyes;
    const char* shader;  // the altered shader's asset folder under TAVO_WRONG_WEAVES_DIR
    // Where to look: bit i stands for kFaultFaces[i]. A shift by a fraction of a view step shows
    // most where the eyes are fewest view steps apart, far away.
    unsigned faces = 0b011;
};

const glm::vec3 kFaultFaces[] = {glm::vec3(0, 0, 521.53f), glm::vec3(-200, 60, 400),
                                 glm::vec3(200, 0, 900)};

// Points the interlacers made while it lives at another asset folder.
class AssetFolder {
  public:
    explicit AssetFolder(const char* fault) {
        if (fault != nullptr)
            internal::SetAssetDirectoryForTesting(std::string(TAVO_WRONG_WEAVES_DIR) + "/" + fault);
    }
    ~AssetFolder() { internal::SetAssetDirectoryForTesting({}); }
    AssetFolder(const AssetFolder&) = delete;
    AssetFolder& operator=(const AssetFolder&) = delete;
};

class WrongWeave : public testing::TestWithParam<Fault> {};

TEST_P(WrongWeave, IsCaught) {
    const Fault fault = GetParam();
    auto panel = device::DefaultConfig();
    if (fault.spoil != nullptr)
        fault.spoil(panel);
    // The correct weave's shares, the same for every fault: woven once at each face.
    static std::optional<StereoShares> right[std::size(kFaultFaces)];
    double worstDrop = 0.0;
    for (size_t i = 0; i < std::size(kFaultFaces); ++i) {
        if ((fault.faces & (1u << i)) == 0)
            continue;
        const glm::vec3 face = kFaultFaces[i];
        if (!right[i])
            right[i] = WeaveAndLook(face, device::DefaultConfig());
        StereoShares wrong{};
        {
            const AssetFolder assets(fault.shader);
            wrong = WeaveAndLook(face, panel, fault.swapEyes);
        }
        const double drop =
            std::min(right[i]->left, right[i]->right) - std::min(wrong.left, wrong.right);
        worstDrop = std::max(worstDrop, drop);
        RecordProperty(std::string("drop_") + std::to_string(static_cast<int>(face.x)) + "_" +
                           std::to_string(static_cast<int>(face.z)),
                       std::to_string(drop));
    }
    EXPECT_GE(worstDrop, 0.2) << fault.name;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WrongWeave,
    testing::Values(
        Fault{"flipped slant sign", [](device::Config& c) { c.pOverDv = -c.pOverDv; }, false,
              nullptr},
        Fault{"colour order swapped",
              [](device::Config& c) { c.colorInversion = !c.colorInversion; }, false, nullptr},
        Fault{"eyes swapped", nullptr, true, nullptr},
        Fault{"paraxial refraction", nullptr, false, "paraxial"},
        Fault{"convergence factor dropped", nullptr, false, "no-convergence"},
        Fault{"subpixel centres shifted half a subpixel", nullptr, false, "half-subpixel", 0b111},
        Fault{"rows counted from the bottom", nullptr, false, "rows-from-bottom"}),
    [](const testing::TestParamInfo<Fault>& info) {
        std::string name;
        for (const char* c = info.param.name; *c != 0; ++c)
            if (std::isalpha(static_cast<unsigned char>(*c)))
                name += *c;
        return name;
    });

}  // namespace
}  // namespace tavo::apps
