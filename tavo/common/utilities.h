// Small shared functions: rotation vectors, matrix comparison, text replacement, device checks.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>

#include <glm/mat3x3.hpp>
#include <glm/vec3.hpp>

#include "tavo/common/export.h"

namespace tavo {

// All of these are reentrant and may be called from any thread; none throws or logs.

// `r` is a rotation axis whose length is the angle in degrees. The result rotates by minus that
// angle about the axis (the transpose of the right-handed rotation); identity for r near zero.
TAVO_API glm::mat3 GetRotationMatFromRodriguesNotation(const glm::vec3& r);
// True when every component differs by less than `epsilon` (so never for epsilon 0).
TAVO_API bool epsilonEqual(const glm::mat3& a, const glm::mat3& b, float epsilon);
// Replaces every occurrence of `from` left to right; text brought in by `to` is not searched.
TAVO_API void stringReplace(std::string& text, const std::string& from, const std::string& to);

// `value` truncated toward zero, or nothing when it is not a number or its truncation lies
// outside Int: the cases where a plain conversion is undefined behaviour.
template <typename Int>
std::optional<Int> TruncateTo(double value) {
    static_assert(std::is_integral_v<Int> && std::is_signed_v<Int>);
    // Both bounds are powers of two, exact in double; NaN fails the comparison.
    constexpr double lower = static_cast<double>(std::numeric_limits<Int>::min());
    const double truncated = std::trunc(value);
    if (!(truncated >= lower && truncated < -lower)) {
        return std::nullopt;
    }
    return static_cast<Int>(truncated);
}

// Whether the panel's own monitor (EDID maker "AUO", product 0x2E9A) is attached.
TAVO_API bool isMonitorConnected();
// Whether an Intel RealSense depth camera (USB 8086:0b07) is attached.
TAVO_API bool isRealSenseConnected();
// Top-left corner, in screen coordinates, of the first monitor that is not the primary one.
// False with (0, 0) when there is only one monitor or no X display can be reached.
TAVO_API bool GetNonPrimaryDisplayTopLeftCoordinate(int32_t& x, int32_t& y);
// Blocks, checking every 100 ms, until a debugger (tracer) is attached to the process.
TAVO_API void WaitForDebugger();

}  // namespace tavo
