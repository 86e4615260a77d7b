// Display pieces of tests: a fresh display state (no display in the stand-in library, cleared
// process flags, a sysfs tree of the test's own where Connect looks for the panel's monitor, the
// same folder as the application data folder where it looks for a panel file) and a service
// record to install.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TavoDisplaySdkControl.h"
#include "tavo/device/internal/deviceTesting.h"

namespace tavo::device::test {

// A valid 128-byte EDID block with the given maker letters and product code.
inline std::vector<char> MakeEdid(const char maker[3], unsigned product) {
    std::vector<unsigned char> edid(128, 0);
    const unsigned char header[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    std::copy(header, header + 8, edid.begin());
    const unsigned id =
        ((maker[0] - 'A' + 1) << 10) | ((maker[1] - 'A' + 1) << 5) | (maker[2] - 'A' + 1);
    edid[8] = static_cast<unsigned char>(id >> 8);
    edid[9] = static_cast<unsigned char>(id & 0xff);
    edid[10] = static_cast<unsigned char>(product & 0xff);
    edid[11] = static_cast<unsigned char>(product >> 8);
    unsigned sum = 0;
    for (size_t i = 0; i < 127; ++i) {
        sum += edid[i];
    }
    edid[127] = static_cast<unsigned char>((256 - sum % 256) % 256);
    return {edid.begin(), edid.end()};
}

// Storage behind a DisplayConfig built by a test; the stand-in copies it on install.
struct ServiceRecord {
    std::array<std::array<float, 4>, 4> matrix{};
    std::array<const float*, 4> rows{};
    std::vector<float> coefficientsX, coefficientsY, interlacingVector, kernelX, kernelY;
    TavoDisplaySdk::DisplayConfig record{};

    // The record of a slanted 15.6" panel whose matrix says `version`.
    explicit ServiceRecord(float version) {
        record.displayClass = "Tavo15";
        record.displayId = "AUO2E9A-0001";
        record.actBeta = 1.5f;
        record.dotPitch[0] = 0.1f;
        record.dotPitch[1] = 0.05f;
        record.panelResolution[0] = 3840;
        record.panelResolution[1] = 2160;
        record.numViews[0] = 12;
        record.numViews[1] = 1;
        record.alignmentOffset[0] = 0.5f;
        record.alignmentOffset[1] = -0.25f;
        coefficientsX = {0.1f, 0.2f, 0.3f};
        coefficientsY = {5.0f, 0.5f, -1.25f, 9.0f};
        record.systemDisparityPercent = 4;
        matrix = {{{version, 8.5f, 1.6f, 0.75f},
                   {11.5f, 0.5f, 3.0f, 1.0f},
                   {1.0f, 1.0f, 30.0f, 120.0f},
                   {2.0f, 2.5f, -4.0f, 0.0f}}};
        interlacingVector = {1.0f, 2.0f};
        record.displaySizeMm[0] = 344;
        record.displaySizeMm[1] = 194;
        record.viewResolution[0] = 1280;
        record.viewResolution[1] = 720;
        kernelX = {0.25f};
        record.convergenceDistance = 600.0f;
        record.centerViewNumber = 7.0f;
        record.viewBoxSize[0] = 60.0f;
        record.viewBoxSize[1] = 30.0f;
        record.actGamma = 2.2f;
        record.slanted = 1;
    }

    // Points the record at the current storage (after tests changed it).
    const TavoDisplaySdk::DisplayConfig& Bind() {
        for (size_t i = 0; i < 4; ++i) {
            rows[i] = matrix[i].data();
        }
        record.interlacingMatrix = rows.data();
        const auto bind = [](const std::vector<float>& values, const float*& pointer,
                             int32_t& count) {
            pointer = values.empty() ? nullptr : values.data();
            count = static_cast<int32_t>(values.size());
        };
        bind(coefficientsX, record.viewSharpeningCoefficientsX,
             record.viewSharpeningCoefficientsXCount);
        bind(coefficientsY, record.viewSharpeningCoefficientsY,
             record.viewSharpeningCoefficientsYCount);
        bind(interlacingVector, record.interlacingVector, record.interlacingVectorCount);
        bind(kernelX, record.viewSharpeningKernelX, record.viewSharpeningKernelXCount);
        bind(kernelY, record.viewSharpeningKernelY, record.viewSharpeningKernelYCount);
        return record;
    }
};

// Made as a fixture member, before anything connects; on destruction the state is as at load.
class DisplayTestState {
  public:
    DisplayTestState()
        : root_(std::filesystem::temp_directory_path() /
                ("tavo-display-test-" + std::to_string(::getpid()) + "-" + TestName())) {
        Reset();
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "class" / "drm");
        internal::SetSysfsRootForTesting(root_);
        // No panel file of the machine's or the caller's environment: tests place their own.
        internal::SetAppDataRootForTesting(root_);
        ::unsetenv("TAVO_PANEL_FILE");
    }
    ~DisplayTestState() {
        ::unsetenv("TAVO_PANEL_FILE");
        Reset();
        std::filesystem::remove_all(root_);
    }
    DisplayTestState(const DisplayTestState&) = delete;
    DisplayTestState& operator=(const DisplayTestState&) = delete;

    const std::filesystem::path& root() const { return root_; }

    void AddMonitor(const std::string& connector, const char maker[3], unsigned product) {
        const std::filesystem::path folder = root_ / "class" / "drm" / connector;
        std::filesystem::create_directories(folder);
        const std::vector<char> edid = MakeEdid(maker, product);
        std::ofstream(folder / "edid", std::ios::binary)
            .write(edid.data(), static_cast<std::streamsize>(edid.size()));
    }
    // The 15.6" panel's own monitor.
    void AddPanelMonitor() { AddMonitor("card0-eDP-1", "AUO", 0x2E9A); }
    void RemoveMonitor(const std::string& connector) {
        std::filesystem::remove_all(root_ / "class" / "drm" / connector);
    }

  private:
    static void Reset() {
        internal::ResetForTesting();
        TavoDisplaySdk::control::removeDisplay();
    }
    static std::string TestName() {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return info == nullptr ? std::string("none")
                               : std::string(info->test_suite_name()) + "." + info->name();
    }

    std::filesystem::path root_;
};

}  // namespace tavo::device::test
