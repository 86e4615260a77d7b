// Tests of the exception type, log levels, paths and the small shared utilities.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <glm/glm.hpp>

#include "tavo/common/exception.h"
#include "tavo/common/internal/devicePresence.h"
#include "tavo/common/log.h"
#include "tavo/common/paths.h"
#include "tavo/common/platform.h"
#include "tavo/common/utilities.h"

namespace fs = std::filesystem;

namespace {

TEST(Exception, MessageCarriesFunctionFileAndLine) {
    const int line = __LINE__ + 1;
    const tavo::Exception e("Bad size", TAVO_LOCATION("tavo::Test::Run"));
    EXPECT_EQ(
        std::string(e.what()),
        "Bad size in tavo::Test::Run tests/common/foundationTest.cpp:" + std::to_string(line));
}

TEST(Exception, NullFunctionOrNoLocationKeepsMessageAlone) {
    EXPECT_STREQ(tavo::Exception("alone", tavo::SourceLocation{"a.cpp", 3, nullptr}).what(),
                 "alone");
    EXPECT_STREQ(tavo::Exception("plain").what(), "plain");
    try {
        throw tavo::Exception("thrown", TAVO_LOCATION("f"));
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("thrown in f tests/common/foundationTest.cpp:", 0),
                  0u);
    }
}

TEST(LogLevel, NamesAndSpdlogMapping) {
    const char* names[] = {"Default", "Trace", "Debug", "Info", "Warn", "Error", "Critical", "Off"};
    for (int level = 0; level < 8; ++level) {
        EXPECT_STREQ(tavo_log_level_to_string(level), names[level]);
    }
    EXPECT_STREQ(tavo_log_level_to_string(8), "Unknown");
    EXPECT_STREQ(tavo_log_level_to_string(-1), "Unknown");
    EXPECT_EQ(tavo::ToSpdlog(0), spdlog::level::info);
    EXPECT_EQ(tavo::ToSpdlog(1), spdlog::level::trace);
    EXPECT_EQ(tavo::ToSpdlog(5), spdlog::level::err);
    EXPECT_EQ(tavo::ToSpdlog(7), spdlog::level::off);
    EXPECT_EQ(tavo::ToSpdlog(8), spdlog::level::info);
    EXPECT_EQ(tavo::ToSpdlog(-1), spdlog::level::info);
    EXPECT_EQ(tavo::FromSpdlog(tavo::ToSpdlog(5)), 5);
    EXPECT_EQ(tavo::FromSpdlog(tavo::ToSpdlog(0)), 3);
}

TEST(LinuxPlatform, TimeIsRealtimeNanoseconds) {
    tavo::LinuxPlatform platform;
    const int64_t before = static_cast<int64_t>(::time(nullptr));
    const int64_t ns = platform.GetTimeNs();
    EXPECT_NEAR(static_cast<double>(ns / 1'000'000'000), static_cast<double>(before), 2.0);
}

void ExpectMatNear(const glm::mat3& m, const glm::mat3& expected) {
    EXPECT_TRUE(tavo::epsilonEqual(m, expected, 1e-5f));
}

TEST(Rodrigues, TinyVectorIsIdentity) {
    EXPECT_EQ(tavo::GetRotationMatFromRodriguesNotation(glm::vec3(0, 0, 1e-7f)), glm::mat3(1.0f));
}

TEST(Rodrigues, RotatesByMinusTheAngle) {
    const glm::mat3 r = tavo::GetRotationMatFromRodriguesNotation(glm::vec3(0, 0, 90));
    const glm::vec3 v = r * glm::vec3(1, 0, 0);
    EXPECT_NEAR(v.x, 0.0f, 1e-6f);
    EXPECT_NEAR(v.y, -1.0f, 1e-6f);
    EXPECT_NEAR(v.z, 0.0f, 1e-6f);

    // (3, 4, 0): -5 degrees about (0.6, 0.8, 0); the axis stays fixed, the rest turns by 5.
    const glm::mat3 m = tavo::GetRotationMatFromRodriguesNotation(glm::vec3(3, 4, 0));
    const glm::vec3 axis(0.6f, 0.8f, 0.0f);
    const glm::vec3 onAxis = m * axis;
    EXPECT_NEAR(glm::length(onAxis - axis), 0.0f, 1e-6f);
    const glm::vec3 z = m * glm::vec3(0, 0, 1);
    EXPECT_NEAR(z.z, std::cos(glm::radians(5.0f)), 1e-6f);
    // Rotating by -5 degrees: z turns towards -(axis x z) = -(0.8, -0.6, 0).
    const float s = std::sin(glm::radians(5.0f));
    EXPECT_NEAR(z.x, -0.8f * s, 1e-6f);
    EXPECT_NEAR(z.y, 0.6f * s, 1e-6f);
    ExpectMatNear(glm::transpose(m) * m, glm::mat3(1.0f));
}

TEST(EpsilonEqual, StrictComparison) {
    const glm::mat3 a(1, 2, 3, 4, 5, 6, 7, 8, 9);
    EXPECT_FALSE(tavo::epsilonEqual(a, a, 0.0f));
    EXPECT_TRUE(tavo::epsilonEqual(a, a, 1e-9f));
    glm::mat3 b = a;
    b[2][1] += 0.5f;
    EXPECT_FALSE(tavo::epsilonEqual(a, b, 0.5f));
    EXPECT_TRUE(tavo::epsilonEqual(a, b, 0.51f));
}

TEST(StringReplace, LeftToRightWithoutRescanning) {
    std::string text = "abcabc";
    tavo::stringReplace(text, "b", "");
    EXPECT_EQ(text, "acac");
    text = "aa";
    tavo::stringReplace(text, "a", "aa");
    EXPECT_EQ(text, "aaaa");
    text = "aaa";
    tavo::stringReplace(text, "aa", "b");
    EXPECT_EQ(text, "ba");
    text = "unchanged";
    tavo::stringReplace(text, "", "x");
    EXPECT_EQ(text, "unchanged");
    text = "";
    tavo::stringReplace(text, "a", "b");
    EXPECT_EQ(text, "");
}

class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tavoSysfsXXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    void Write(const fs::path& relative, const std::string& content) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative, std::ios::binary) << content;
    }
    static std::string Edid(char a, char b, char c, unsigned product) {
        std::string edid(128, '\0');
        const unsigned maker = ((a - 'A' + 1u) << 10) | ((b - 'A' + 1u) << 5) | (c - 'A' + 1u);
        edid[8] = static_cast<char>(maker >> 8);
        edid[9] = static_cast<char>(maker & 0xff);
        edid[10] = static_cast<char>(product & 0xff);
        edid[11] = static_cast<char>(product >> 8);
        return edid;
    }

    fs::path root_;
};

TEST_F(FakeSysfs, MissingTreeFindsNothing) {
    EXPECT_FALSE(tavo::internal::isMonitorConnected(root_ / "absent"));
    EXPECT_FALSE(tavo::internal::isRealSenseConnected(root_ / "absent"));
}

TEST_F(FakeSysfs, RealSenseNeedsVendorAndProduct) {
    Write("bus/usb/devices/1-1/idVendor", "8086\n");
    Write("bus/usb/devices/1-1/idProduct", "0b3a\n");
    Write("bus/usb/devices/usb1/idVendor", "1d6b\n");  // a hub: no product file at all
    EXPECT_FALSE(tavo::internal::isRealSenseConnected(root_));
    Write("bus/usb/devices/2-3/idVendor", "8086\n");
    Write("bus/usb/devices/2-3/idProduct", "0b07\n");
    EXPECT_TRUE(tavo::internal::isRealSenseConnected(root_));
}

TEST_F(FakeSysfs, MonitorMatchesMakerAndProductFromEdid) {
    Write("class/drm/card0-HDMI-A-1/edid", "");  // disconnected: empty
    Write("class/drm/card0-DP-1/edid", Edid('A', 'U', 'O', 0x2E9B));
    Write("class/drm/card0-DP-2/edid", Edid('B', 'U', 'O', 0x2E9A));
    EXPECT_FALSE(tavo::internal::isMonitorConnected(root_));
    Write("class/drm/card1-eDP-1/edid", Edid('A', 'U', 'O', 0x2E9A));
    EXPECT_TRUE(tavo::internal::isMonitorConnected(root_));
}

TEST(Paths, ExecutableAndLibrary) {
    const fs::path exe = tavo::GetExecutablePath();
    EXPECT_TRUE(exe.is_absolute());
    EXPECT_EQ(exe.filename(), "common_foundation_test");
    EXPECT_TRUE(fs::equivalent(exe, "/proc/self/exe"));
    // Linked statically, this library is the executable itself.
    EXPECT_EQ(tavo::GetLibraryPath(), exe);
    EXPECT_EQ(tavo::GetDefaultLogsDirectory(), exe.parent_path() / "ORBIXLogs");
    // An address inside libc names libc's file, absolute.
    const fs::path libc = tavo::GetLibraryPath(reinterpret_cast<const void*>(&::getpid));
    EXPECT_TRUE(libc.is_absolute());
    EXPECT_NE(libc.filename().string().find("libc"), std::string::npos);
    EXPECT_EQ(tavo::GetAppDataPath(), "/var/lib");
}

TEST(Paths, LongExecutablePathComesBackWhole) {
    char pattern[] = "/tmp/tavoLongXXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    fs::path dir = pattern;
    while (dir.string().size() < 1500) {
        dir /= std::string(200, 'd');
    }
    fs::create_directories(dir);
    const fs::path copy = dir / "probe";
    fs::copy_file("/proc/self/exe", copy);
    const fs::path result = dir / "result.txt";
    const std::string command =
        "'" + copy.string() +
        "' --gtest_also_run_disabled_tests --gtest_filter=Paths.DISABLED_WritesExecutablePath"
        " > /dev/null 2>&1";
    ::setenv("TAVO_LONG_PATH_RESULT", result.c_str(), 1);
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::string reported;
    std::getline(std::ifstream(result), reported);
    EXPECT_EQ(reported, copy.string());
    fs::remove_all(pattern);
}

// Helper run by the long-path test in the copied executable; disabled in ordinary runs.
TEST(Paths, DISABLED_WritesExecutablePath) {
    const char* result = std::getenv("TAVO_LONG_PATH_RESULT");
    ASSERT_NE(result, nullptr) << "run only by Paths.LongExecutablePathComesBackWhole";
    std::ofstream(result) << tavo::GetExecutablePath().string() << '\n';
}

TEST(Paths, LastErrorPrefersLoaderThenErrno) {
    (void)::dlerror();
    errno = 0;
    EXPECT_EQ(tavo::GetLastErrorAsString(), "");
    errno = ENOENT;
    EXPECT_EQ(tavo::GetLastErrorAsString(), "No such file or directory");
    EXPECT_EQ(::dlopen("/nonexistent/libnothing.so", RTLD_NOW), nullptr);
    const std::string loader = tavo::GetLastErrorAsString();
    EXPECT_NE(loader.find("libnothing.so"), std::string::npos);
}

TEST(Utilities, NoDisplayMeansNoSecondMonitor) {
    ::unsetenv("DISPLAY");
    int32_t x = 5;
    int32_t y = 7;
    EXPECT_FALSE(tavo::GetNonPrimaryDisplayTopLeftCoordinate(x, y));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

}  // namespace
