// The stand-in display library as a process finds it, its controls, and the exported version.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TavoDisplaySdkControl.h"
#include "TavoDisplaySdkCpp.h"

namespace {

namespace display = TavoDisplaySdk;

bool IsAllZero(const display::DisplayConfig& record) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < sizeof(record); ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

// Declared first so that it sees the state at load; removeDisplay restores that state anyway.
TEST(DisplayStandin, ReportsNoDisplayUntilOneIsInstalled) {
    EXPECT_FALSE(display::isDisplayConnected());
    EXPECT_TRUE(IsAllZero(display::getDisplayConfig()));
    EXPECT_EQ(display::getPlatformVersion(), "");
    EXPECT_EQ(display::getBacklightMode(), 0);
    EXPECT_FALSE(display::requestBacklightMode(true));
    // Requests are logged even without a display, so tests can see a dropped one got through.
    EXPECT_EQ(display::control::backlightRequests(), std::vector<bool>{true});
    display::control::removeDisplay();
    EXPECT_TRUE(display::control::backlightRequests().empty());
}

TEST(DisplayStandin, InstalledRecordIsADeepCopy) {
    std::string displayClass = "Tavo15";
    std::vector<float> coefficients = {0.5f, 0.25f};
    std::array<std::array<float, 4>, 4> matrix = {
        {{2.6f, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}, {12, 13, 14, 15}}};
    std::array<const float*, 4> rows = {matrix[0].data(), matrix[1].data(), nullptr,
                                        matrix[3].data()};
    display::DisplayConfig record{};
    record.displayClass = displayClass.c_str();
    record.viewSharpeningCoefficientsX = coefficients.data();
    record.viewSharpeningCoefficientsXCount = 2;
    // A negative count with a pointer is kept as given, and nothing is read behind it.
    record.viewSharpeningCoefficientsY = coefficients.data();
    record.viewSharpeningCoefficientsYCount = -3;
    record.interlacingMatrix = rows.data();
    record.panelResolution[0] = 3840;
    record.slanted = 1;
    display::requestBacklightMode(false);
    display::control::installDisplay(record, "2.6.0", 1);
    EXPECT_TRUE(display::control::backlightRequests().empty());

    // The caller's storage changes after the install; the library's copy does not.
    displayClass.assign("Changed");
    coefficients.assign({9.0f, 9.0f});
    matrix[0][0] = 99.0f;

    const display::DisplayConfig copy = display::getDisplayConfig();
    EXPECT_TRUE(display::isDisplayConnected());
    ASSERT_NE(copy.displayClass, nullptr);
    EXPECT_STREQ(copy.displayClass, "Tavo15");
    EXPECT_EQ(copy.displayId, nullptr);
    ASSERT_NE(copy.viewSharpeningCoefficientsX, nullptr);
    EXPECT_EQ(copy.viewSharpeningCoefficientsXCount, 2);
    EXPECT_EQ(copy.viewSharpeningCoefficientsX[0], 0.5f);
    EXPECT_EQ(copy.viewSharpeningCoefficientsX[1], 0.25f);
    EXPECT_NE(copy.viewSharpeningCoefficientsY, nullptr);
    EXPECT_EQ(copy.viewSharpeningCoefficientsYCount, -3);
    EXPECT_EQ(copy.interlacingVector, nullptr);
    ASSERT_NE(copy.interlacingMatrix, nullptr);
    EXPECT_EQ(copy.interlacingMatrix[0][0], 2.6f);
    EXPECT_EQ(copy.interlacingMatrix[1][3], 7.0f);
    EXPECT_EQ(copy.interlacingMatrix[2], nullptr);
    EXPECT_EQ(copy.interlacingMatrix[3][2], 14.0f);
    EXPECT_EQ(copy.panelResolution[0], 3840);
    EXPECT_EQ(copy.slanted, 1);
    EXPECT_EQ(display::getPlatformVersion(), "2.6.0");
    EXPECT_EQ(display::getBacklightMode(), 1);

    EXPECT_TRUE(display::requestBacklightMode(false));
    EXPECT_EQ(display::getBacklightMode(), 0);
    EXPECT_TRUE(display::requestBacklightMode(true));
    EXPECT_EQ(display::getBacklightMode(), 1);
    EXPECT_EQ(display::control::backlightRequests(), (std::vector<bool>{false, true}));

    display::control::removeDisplay();
    EXPECT_FALSE(display::isDisplayConnected());
    EXPECT_TRUE(IsAllZero(display::getDisplayConfig()));
    EXPECT_TRUE(display::control::backlightRequests().empty());
}

// The product exports the version under its plain C name. Loaded in a child that leaves with
// _exit, so that the library's unload handlers never run behind the test's own exit handlers.
TEST(DeviceLibrary, ExportsTheVersionUnmangled) {
    const char* library = std::getenv("TAVO_TEST_LIBRARY");
    ASSERT_NE(library, nullptr) << "TAVO_TEST_LIBRARY is not set";
    enum Outcome { kExported = 0, kNotLoaded = 1, kNoSymbol = 2, kWrongText = 3 };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        void* handle = ::dlopen(library, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            ::_exit(kNotLoaded);
        }
        using Version = const char*();
        auto* version = reinterpret_cast<Version*>(::dlsym(handle, "tavoDeviceGetVersion"));
        if (version == nullptr) {
            ::_exit(kNoSymbol);
        }
        ::_exit(std::strcmp(version(), "0.1.1") == 0 ? kExported : kWrongText);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), kExported) << "1: not loaded, 2: no symbol, 3: other text";
}

}  // namespace
