// Pixel comparison of a rendering against its CPU reference, writing both as PNG on failure.
#pragma once

#include <string>
#include <vector>

#include "sdk/lens/lensReference.h"

namespace tavo::test {

struct Comparison {
    size_t subpixels = 0;
    size_t nearBoundaryDifferent = 0;  // allowed: the decision sat within 1e-3 view steps
    size_t wrong = 0;                  // beyond tolerance and not near a boundary
    std::string firstWrong;            // where, when wrong > 0
};

// Compares colour channels within `tolerance` code values. `nearBoundary` (may be empty) marks the
// subpixels that may differ. When anything is wrong, or more than 0.1% sat near a boundary, writes
// "<name>.actual.png" and "<name>.expected.png" into TAVO_TEST_OUTPUT_DIR.
Comparison CompareWeave(const RgbaImage& actual, const RgbaImage& expected,
                        const std::vector<bool>& nearBoundary, int tolerance,
                        const std::string& name);

bool WritePng(const RgbaImage& image, const std::string& path);

}  // namespace tavo::test
