// Panel description files: JSON members onto the configuration, and the errors that name what is
// wrong.
#include "tavo/device/panelDescription.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tavo/common/exception.h"
#include "tavo/device/device.h"

namespace tavo::device {
namespace {

TEST(PanelDescription, MembersReplaceFieldsAndTheRestKeepTheBase) {
    const Config base = DefaultConfig();
    const Config config = ParsePanelDescription(R"({
        "panelResolution": [320, 180],
        "dotPitch": [0.1, 0.1],
        "numViews": [8, 1],
        "pOverDv": -1,
        "n": 1.47,
        "colorInversion": true,
        "colorSlant": 2,
        "cameraCenter": [-150.5, 40, 1e1],
        "camera": {"width": 848, "fps": 90, "binningFactor": 0.5},
        "viewSharpeningCoefficientsX": [0.05, 0.01],
        "faceDelay": -5
    })",
                                                base);
    EXPECT_EQ(config.panelResolution, glm::ivec2(320, 180));
    EXPECT_EQ(config.dotPitch, glm::vec2(0.1f, 0.1f));
    EXPECT_EQ(config.numViews, glm::ivec2(8, 1));
    EXPECT_EQ(config.pOverDv, -1.0f);
    EXPECT_EQ(config.n, 1.47f);
    EXPECT_TRUE(config.colorInversion);
    EXPECT_EQ(config.colorSlant, 2);
    EXPECT_EQ(config.cameraCenter, glm::vec3(-150.5f, 40.0f, 10.0f));
    EXPECT_EQ(config.camera.width, 848);
    EXPECT_EQ(config.camera.height, 0);
    EXPECT_EQ(config.camera.fps, 90);
    EXPECT_EQ(config.camera.binningFactor, 0.5f);
    EXPECT_EQ(config.viewSharpeningCoefficientsXCount, 2);
    EXPECT_EQ(config.viewSharpeningCoefficientsX[1], 0.01f);
    EXPECT_EQ(config.viewSharpeningCoefficientsX[2], 0.0f) << "the array replaces all entries";
    EXPECT_EQ(config.faceDelay, -5.0f);
    // Untouched fields.
    EXPECT_EQ(config.centerViewNumber, base.centerViewNumber);
    EXPECT_EQ(config.dOverN, base.dOverN);
    EXPECT_EQ(config.viewResolution, base.viewResolution);
    EXPECT_EQ(config.viewSharpeningCoefficientsY, base.viewSharpeningCoefficientsY);
    // An empty description is the base itself; a count given beside its array wins, in any order.
    const Config same = ParsePanelDescription(" { } ", base);
    EXPECT_EQ(same.panelResolution, base.panelResolution);
    EXPECT_EQ(same.s, base.s);
    const Config counted = ParsePanelDescription(
        R"({"viewSharpeningCoefficientsXCount": 1, "viewSharpeningCoefficientsX": [0.05, 0.01]})",
        base);
    EXPECT_EQ(counted.viewSharpeningCoefficientsXCount, 1);
}

struct BadCase {
    const char* json;
    const char* message;  // a part of the error text
};

class BadDescription : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadDescription, IsRefusedNamingTheCause) {
    try {
        ParsePanelDescription(GetParam().json, DefaultConfig());
        FAIL() << "accepted " << GetParam().json;
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadDescription,
    ::testing::Values(
        // unknown fields, also inside the camera record
        BadCase{R"({"panelResolutions": [1, 2]})", "\"panelResolutions\": unknown field"},
        BadCase{R"({"camera": {"depth": 1}})", "\"camera.depth\": unknown field"},
        // wrong types
        BadCase{R"({"n": "1.6"})", "\"n\": expected a number, not a string"},
        BadCase{R"({"colorInversion": 1})", "\"colorInversion\": expected true or false"},
        BadCase{R"({"dotPitch": 0.1})", "\"dotPitch\": expected an array of 2 numbers"},
        BadCase{R"({"cameraTheta": [1, 2]})",
                "\"cameraTheta\": expected an array of 3 numbers, not 2"},
        BadCase{R"({"panelResolution": [320.5, 180]})",
                "\"panelResolution[0]\": expected a whole number"},
        BadCase{R"({"camera": [1]})", "\"camera\": expected an object"},
        BadCase{R"({"numViews": [12, null]})", "\"numViews[1]\": expected a number, not null"},
        BadCase{R"({"viewSharpeningCoefficientsY": [0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]})",
                "\"viewSharpeningCoefficientsY\": expected an array of at most 18 numbers"},
        // out of range
        BadCase{R"({"numViews": [13, 1]})", "\"numViews[0]\": 13 is out of range"},
        BadCase{R"({"dotPitch": [0, 0.1]})", "\"dotPitch[0]\": 0 is out of range"},
        BadCase{R"({"panelResolution": [0, 180]})", "\"panelResolution[0]\": 0 is out of range"},
        BadCase{R"({"n": 0.9})", "\"n\": 0.9 is out of range"},
        BadCase{R"({"convergenceDistance": -1})", "\"convergenceDistance\": -1 is out of range"},
        BadCase{R"({"viewSharpeningCoefficientsXCount": 19})",
                "\"viewSharpeningCoefficientsXCount\""},
        BadCase{R"({"actGamma": 1e39})", "\"actGamma\": too large for a float"},
        BadCase{R"({"viewSharpeningCoefficientsX": [0.3, 0.3]})",
                "\"viewSharpeningCoefficientsX\": actBeta times their sum"},
        // malformed JSON, by place
        BadCase{"{\"n\": 1.6,\n \"s\" 11}", "expected ':' at line 2 column 6"},
        BadCase{R"({"n": 1.6,})", "expected a field name"},
        BadCase{R"({"n": 01})", "malformed number"},
        BadCase{R"({"n": 1.6} x)", "unexpected text after the description"},
        BadCase{R"({"n": 1.6, "n": 1.5})", "field \"n\" given twice"},
        BadCase{R"([1, 2])", "expected an object, not an array"},
        BadCase{R"({"n": 1e999})", "number out of range"},
        BadCase{R"({"a\ud800": 1})", "unpaired surrogate"}, BadCase{"", "unexpected end of text"}));

TEST(PanelDescription, AFileIsReadOrNamedWhenItCannotBe) {
    const auto folder = std::filesystem::temp_directory_path() / "tavoPanelDescriptionTest";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "panel.json").string();
    std::ofstream(path) << R"({"panelResolution": [400, 200]})";
    EXPECT_EQ(LoadPanelDescription(path, DefaultConfig()).panelResolution, glm::ivec2(400, 200));
    for (const std::string& bad : {(folder / "missing.json").string(), folder.string()}) {
        try {
            LoadPanelDescription(bad, DefaultConfig());
            FAIL() << bad;
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
        }
    }
    std::ofstream(path) << R"({"n": true})";
    try {
        LoadPanelDescription(path, DefaultConfig());
        FAIL();
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("\"n\""), std::string::npos) << e.what();
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tavo::device
