// Small shared functions: rotation vectors, matrix comparison, text replacement, device checks.
#include "tavo/common/utilities.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>
#include <vector>

#include "tavo/common/internal/devicePresence.h"

namespace tavo {

glm::mat3 GetRotationMatFromRodriguesNotation(const glm::vec3& r) {
    if (std::fabs(r.x) < 1e-6f && std::fabs(r.y) < 1e-6f && std::fabs(r.z) < 1e-6f) {
        return glm::mat3(1.0f);
    }
    const float theta = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
    const glm::vec3 u = r / theta;
    const float phi = -theta * 0.017453292f;
    const float c = std::cos(phi);
    const float s = std::sin(phi);
    const float k[3][3] = {{0.0f, -u.z, u.y}, {u.z, 0.0f, -u.x}, {-u.y, u.x, 0.0f}};
    glm::mat3 result(0.0f);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const float delta = row == col ? 1.0f : 0.0f;
            // glm indexes column first.
            result[col][row] = c * delta + (1.0f - c) * u[row] * u[col] + s * k[row][col];
        }
    }
    return result;
}

bool epsilonEqual(const glm::mat3& a, const glm::mat3& b, float epsilon) {
    for (int col = 0; col < 3; ++col) {
        for (int row = 0; row < 3; ++row) {
            if (std::fabs(a[col][row] - b[col][row]) >= epsilon) {
                return false;
            }
        }
    }
    return true;
}

void stringReplace(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty() || text.empty()) {
        return;
    }
    size_t position = 0;
    while ((position = text.find(from, position)) != std::string::npos) {
        text.replace(position, from.size(), to);
        position += to.size();
    }
}

namespace {

// Sysfs attribute text without its trailing line break; empty when unreadable.
std::string ReadAttribute(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string value;
    if (!in || !std::getline(in, value)) {
        return {};
    }
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())) != 0) {
        value.pop_back();
    }
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return value;
}

// Sub-folders of `folder`; none when it is missing or unreadable.
std::vector<std::filesystem::path> Entries(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> entries;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        entries.push_back(it->path());
    }
    return entries;
}

bool IsPanelEdid(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::array<unsigned char, 12> header{};
    if (!in.read(reinterpret_cast<char*>(header.data()), header.size())) {
        return false;
    }
    // Maker id: three 5-bit letters, 1 = 'A', big endian in bytes 8 and 9.
    const unsigned maker = (static_cast<unsigned>(header[8]) << 8) | header[9];
    const char letters[3] = {static_cast<char>('A' - 1 + ((maker >> 10) & 0x1f)),
                             static_cast<char>('A' - 1 + ((maker >> 5) & 0x1f)),
                             static_cast<char>('A' - 1 + (maker & 0x1f))};
    const unsigned product = header[10] | (static_cast<unsigned>(header[11]) << 8);
    return letters[0] == 'A' && letters[1] == 'U' && letters[2] == 'O' && product == 0x2E9A;
}

}  // namespace

namespace internal {

bool isMonitorConnected(const std::filesystem::path& sysRoot) {
    for (const auto& connector : Entries(sysRoot / "class" / "drm")) {
        if (IsPanelEdid(connector / "edid")) {
            return true;
        }
    }
    return false;
}

bool isRealSenseConnected(const std::filesystem::path& sysRoot) {
    for (const auto& device : Entries(sysRoot / "bus" / "usb" / "devices")) {
        if (ReadAttribute(device / "idVendor") == "8086" &&
            ReadAttribute(device / "idProduct") == "0b07") {
            return true;
        }
    }
    return false;
}

}  // namespace internal

bool isMonitorConnected() {
    return internal::isMonitorConnected("/sys");
}

bool isRealSenseConnected() {
    return internal::isRealSenseConnected("/sys");
}

namespace {

// The few Xlib and XRandR declarations needed, so that the SDK does not depend on X11 at all
// unless a display is there to be asked.
struct XRRMonitorInfo {
    unsigned long name;
    int primary;
    int automatic;
    int noutput;
    int x;
    int y;
    int width;
    int height;
    int mwidth;
    int mheight;
    unsigned long* outputs;
};
using XOpenDisplayFn = void* (*)(const char*);
using XCloseDisplayFn = int (*)(void*);
using XDefaultRootWindowFn = unsigned long (*)(void*);
using XRRGetMonitorsFn = XRRMonitorInfo* (*)(void*, unsigned long, int, int*);
using XRRFreeMonitorsFn = void (*)(XRRMonitorInfo*);

struct Library {
    explicit Library(const char* name) : handle(::dlopen(name, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle != nullptr) {
            ::dlclose(handle);
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    template <typename Fn>
    Fn Get(const char* symbol) const {
        return handle != nullptr ? reinterpret_cast<Fn>(::dlsym(handle, symbol)) : nullptr;
    }
    void* handle;
};

}  // namespace

bool GetNonPrimaryDisplayTopLeftCoordinate(int32_t& x, int32_t& y) {
    x = 0;
    y = 0;
    Library x11("libX11.so.6");
    Library xrandr("libXrandr.so.2");
    const auto openDisplay = x11.Get<XOpenDisplayFn>("XOpenDisplay");
    const auto closeDisplay = x11.Get<XCloseDisplayFn>("XCloseDisplay");
    const auto rootWindow = x11.Get<XDefaultRootWindowFn>("XDefaultRootWindow");
    const auto getMonitors = xrandr.Get<XRRGetMonitorsFn>("XRRGetMonitors");
    const auto freeMonitors = xrandr.Get<XRRFreeMonitorsFn>("XRRFreeMonitors");
    if (openDisplay == nullptr || closeDisplay == nullptr || rootWindow == nullptr ||
        getMonitors == nullptr || freeMonitors == nullptr) {
        return false;
    }
    void* display = openDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    bool found = false;
    int count = 0;
    XRRMonitorInfo* monitors = getMonitors(display, rootWindow(display), 1, &count);
    if (monitors != nullptr) {
        for (int i = 0; count > 1 && i < count; ++i) {
            if (monitors[i].primary == 0) {
                x = monitors[i].x;
                y = monitors[i].y;
                found = true;
                break;
            }
        }
        freeMonitors(monitors);
    }
    closeDisplay(display);
    return found;
}

namespace {

bool IsTraced() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) {
            return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
        }
    }
    return false;
}

}  // namespace

void WaitForDebugger() {
    while (!IsTraced()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace tavo
