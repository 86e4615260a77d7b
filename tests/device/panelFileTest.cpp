// A panel description file standing in for the display service: where it is looked for, what a
// connected panel then holds, and the one error a bad file gives before the default is used.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "TavoDisplaySdkControl.h"
#include "device/displayTestState.h"
#include "logCapture.h"
#include "tavo/device/config.h"
#include "tavo/device/device.h"
#include "tavo/device/panelDescription.h"

namespace {

namespace display = TavoDisplaySdk;
using tavo::device::Config;
using tavo::device::DefaultConfig;
using tavo::device::DescribeConfig;
using tavo::device::test::ServiceRecord;

constexpr const char* kSmallPanel =
    R"({"panelResolution": [400, 225], "viewResolution": [400, 225], "s": 1.177083,
        "theta": 0.0675417, "kalmanB": 0.5})";

class PanelFileTest : public ::testing::Test {
  protected:
    std::filesystem::path Write(const std::filesystem::path& relative, const std::string& text) {
        const std::filesystem::path path = state_.root() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
        return path;
    }
    std::filesystem::path StandardPlace() const { return state_.root() / "tavo" / "panel.json"; }

    // A Config as the SDK holds it: values in fields a request does not otherwise write.
    static Config Held() {
        Config config{};
        config.camera = {640, 480, 30, 1.5f};
        config.kalmanB = 0.1f;
        config.faceDelay = 40.0f;
        return config;
    }
    static Config Request() {
        Config config = Held();
        bool called = false;
        EXPECT_TRUE(tavo::device::RequestConfig(config, [&called](bool ok) { called = ok; }));
        EXPECT_TRUE(called);
        return config;
    }
    // Lines at `level`, from the level's name on.
    std::vector<std::string> Lines(const std::string& level) const {
        std::vector<std::string> found;
        for (const std::string& line : log_.lines()) {
            if (line.rfind(level + " ", 0) == 0)
                found.push_back(line.substr(level.size() + 1));
        }
        return found;
    }

    tavo::test::LogCapture log_;
    tavo::device::test::DisplayTestState state_;
};

TEST_F(PanelFileTest, AGoodFileIsTheConnectedPanelWithoutServiceOrMonitor) {
    const std::string path = Write("tavo/panel.json", kSmallPanel).string();
    ASSERT_TRUE(tavo::device::Connect(nullptr));

    Config expected = tavo::device::LoadPanelDescription(path, DefaultConfig());
    expected.camera = Held().camera;
    expected.faceDelay = Held().faceDelay;
    for (int request = 0; request < 2; ++request) {
        // Unlike the service, the file is read again: a second SDK object gets the same panel.
        const Config config = Request();
        EXPECT_EQ(config.panelResolution, glm::ivec2(400, 225));
        EXPECT_EQ(config.theta, 0.0675417f);
        EXPECT_EQ(config.kalmanB, 0.5f) << "fields the service never writes come from the file";
        EXPECT_EQ(config.faceDelay, 40.0f) << "and otherwise stay the caller's";
        EXPECT_EQ(DescribeConfig(config), DescribeConfig(expected));
    }
    EXPECT_EQ(Lines("info"),
              std::vector<std::string>(2, "TavoService: Panel described by " + path + "\n"));
    EXPECT_TRUE(Lines("error").empty());
    // Backlight requests still go to the maker's library, which switches the panel if it can.
    tavo::device::SetBacklightMode(nullptr, true);
    EXPECT_EQ(display::control::backlightRequests(), std::vector<bool>{true});

    // The file wins over a service and monitor that are there too.
    ServiceRecord record(2.6f);
    display::control::installDisplay(record.Bind(), "2.6.0", 1);
    state_.AddPanelMonitor();
    ASSERT_TRUE(tavo::device::Connect(nullptr));
    EXPECT_EQ(Request().panelResolution, glm::ivec2(400, 225));

    // Removed, the service takes over again; spoilt after Connect, the default is used.
    std::filesystem::remove(path);
    ASSERT_TRUE(tavo::device::Connect(nullptr));
    EXPECT_EQ(Request().dotPitch, glm::vec2(0.1f, 0.05f));
    Write("tavo/panel.json", kSmallPanel);
    ASSERT_TRUE(tavo::device::Connect(nullptr));
    Write("tavo/panel.json", "{");
    EXPECT_EQ(DescribeConfig(Request()), DescribeConfig([] {
                  Config config = DefaultConfig();
                  config.camera = Held().camera;
                  return config;
              }()));
    EXPECT_EQ(Lines("error").size(), 1u);
}

TEST_F(PanelFileTest, TheEnvironmentVariableNamesTheFileAndWins) {
    Write("tavo/panel.json", R"({"numViews": [8, 1]})");
    const std::string named = Write("elsewhere/my panel.json", R"({"numViews": [6, 1]})").string();
    ::setenv("TAVO_PANEL_FILE", named.c_str(), 1);
    ASSERT_TRUE(tavo::device::Connect(nullptr));
    EXPECT_EQ(Request().numViews, glm::ivec2(6, 1));
    // Set but empty is unset.
    ::setenv("TAVO_PANEL_FILE", "", 1);
    ASSERT_TRUE(tavo::device::Connect(nullptr));
    EXPECT_EQ(Request().numViews, glm::ivec2(8, 1));
    // Without any file and any service there is no panel.
    ::unsetenv("TAVO_PANEL_FILE");
    std::filesystem::remove(StandardPlace());
    EXPECT_FALSE(tavo::device::Connect(nullptr));
}

struct BadFile {
    const char* what;
    const char* text;  // null: no file is written at the place named
    const char* message;
};

void PrintTo(const BadFile& bad, std::ostream* out) {
    *out << bad.what;
}

class BadPanelFileTest : public PanelFileTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadPanelFileTest, LogsOneErrorNamingFileAndFieldAndUsesTheDefault) {
    const BadFile& bad = GetParam();
    // A service and monitor are there: a bad file still gives the default, not the service.
    ServiceRecord record(2.6f);
    display::control::installDisplay(record.Bind(), "2.6.0", 1);
    state_.AddPanelMonitor();
    std::filesystem::path path = state_.root() / "named" / "panel.json";
    if (bad.text != nullptr) {
        path = Write("named/panel.json", bad.text);
    } else if (std::string(bad.what) == "a folder") {
        std::filesystem::create_directories(path);
    }
    ::setenv("TAVO_PANEL_FILE", path.c_str(), 1);

    EXPECT_FALSE(tavo::device::Connect(nullptr));
    const Config config = Request();
    Config expected = DefaultConfig();
    expected.camera = Held().camera;
    expected.kalmanB = Held().kalmanB;
    expected.faceDelay = Held().faceDelay;
    EXPECT_EQ(DescribeConfig(config), DescribeConfig(expected));
    EXPECT_EQ(config.kalmanB, expected.kalmanB);

    const std::vector<std::string> errors = Lines("error");
    ASSERT_EQ(errors.size(), 1u) << bad.what;
    EXPECT_NE(errors[0].find(path.string()), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find(bad.message), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("using the default"), std::string::npos) << errors[0];
    tavo::device::SetBacklightMode(nullptr, true);
    EXPECT_TRUE(display::control::backlightRequests().empty()) << "not connected";
}

INSTANTIATE_TEST_SUITE_P(
    EachKind, BadPanelFileTest,
    ::testing::Values(BadFile{"missing", nullptr, "cannot read the panel description"},
                      BadFile{"a folder", nullptr, "cannot read the panel description"},
                      BadFile{"wrong JSON", "{\"n\": 1.6,\n \"s\" 11}",
                              "expected ':' at line 2 column 6"},
                      BadFile{"unknown field", R"({"n": 1.6, "lensPitch": 0.3})",
                              "field \"lensPitch\": unknown field"},
                      BadFile{"wrong type", R"({"numViews": "12"})",
                              "field \"numViews\": expected an array of 2 numbers, not a string"},
                      BadFile{"out of range", R"({"numViews": [13, 1]})",
                              "field \"numViews[0]\": 13 is out of range [1, 12]"}),
    [](const ::testing::TestParamInfo<BadFile>& info) {
        std::string name = info.param.what;
        for (char& c : name)
            c = c == ' ' ? '_' : c;
        return name;
    });

}  // namespace
