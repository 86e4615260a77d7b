// Stand-in display library: one installable display held in process memory.
#include "TavoDisplaySdkCpp.h"

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "TavoDisplaySdkControl.h"

namespace TavoDisplaySdk {

namespace {

// Owns every piece of storage the installed record points into, so that the record handed out
// by getDisplayConfig stays valid until the next install or removal.
struct InstalledDisplay {
    DisplayConfig record{};
    std::optional<std::string> displayClass;
    std::optional<std::string> displayId;
    std::vector<float> coefficientsX, coefficientsY, interlacingVector, kernelX, kernelY;
    std::array<std::array<float, 4>, 4> matrixRows{};
    std::array<const float*, 4> matrixRowPointers{};
    std::string platformVersion;
    int backlightMode = 0;
};

struct State {
    std::mutex mutex;
    std::unique_ptr<InstalledDisplay> display;
    std::vector<bool> requests;
};

State& GetState() {
    static State state;
    return state;
}

const float* CopyArray(const float* source, int32_t count, std::vector<float>& storage) {
    if (source == nullptr) {
        return nullptr;
    }
    if (count > 0) {
        storage.assign(source, source + count);
    }
    // A non-null pointer stays non-null even when nothing is to be read behind it.
    static const float kNothing[1] = {0.0f};
    return storage.empty() ? kNothing : storage.data();
}

const char* CopyText(const char* source, std::optional<std::string>& storage) {
    if (source == nullptr) {
        return nullptr;
    }
    storage = source;
    return storage->c_str();
}

}  // namespace

bool isDisplayConnected() {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    return state.display != nullptr;
}

DisplayConfig getDisplayConfig() {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    return state.display ? state.display->record : DisplayConfig{};
}

std::string getPlatformVersion() {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    return state.display ? state.display->platformVersion : std::string();
}

int getBacklightMode() {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    return state.display ? state.display->backlightMode : 0;
}

bool requestBacklightMode(bool on) {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    state.requests.push_back(on);
    if (!state.display) {
        return false;
    }
    state.display->backlightMode = on ? 1 : 0;
    return true;
}

namespace control {

void installDisplay(const DisplayConfig& record, const std::string& platformVersion,
                    int backlightMode) {
    auto display = std::make_unique<InstalledDisplay>();
    DisplayConfig& copy = display->record;
    copy = record;
    copy.displayClass = CopyText(record.displayClass, display->displayClass);
    copy.displayId = CopyText(record.displayId, display->displayId);
    copy.viewSharpeningCoefficientsX =
        CopyArray(record.viewSharpeningCoefficientsX, record.viewSharpeningCoefficientsXCount,
                  display->coefficientsX);
    copy.viewSharpeningCoefficientsY =
        CopyArray(record.viewSharpeningCoefficientsY, record.viewSharpeningCoefficientsYCount,
                  display->coefficientsY);
    copy.interlacingVector = CopyArray(record.interlacingVector, record.interlacingVectorCount,
                                       display->interlacingVector);
    copy.viewSharpeningKernelX = CopyArray(record.viewSharpeningKernelX,
                                           record.viewSharpeningKernelXCount, display->kernelX);
    copy.viewSharpeningKernelY = CopyArray(record.viewSharpeningKernelY,
                                           record.viewSharpeningKernelYCount, display->kernelY);
    if (record.interlacingMatrix != nullptr) {
        for (size_t row = 0; row < 4; ++row) {
            const float* source = record.interlacingMatrix[row];
            if (source != nullptr) {
                std::copy(source, source + 4, display->matrixRows[row].begin());
                display->matrixRowPointers[row] = display->matrixRows[row].data();
            }
        }
        copy.interlacingMatrix = display->matrixRowPointers.data();
    }
    display->platformVersion = platformVersion;
    display->backlightMode = backlightMode;

    State& state = GetState();
    std::lock_guard lock(state.mutex);
    state.display = std::move(display);
    state.requests.clear();
}

void removeDisplay() {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    state.display.reset();
    state.requests.clear();
}

std::vector<bool> backlightRequests() {
    State& state = GetState();
    std::lock_guard lock(state.mutex);
    return state.requests;
}

}  // namespace control

}  // namespace TavoDisplaySdk
