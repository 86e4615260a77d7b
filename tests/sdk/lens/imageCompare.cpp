// Pixel comparison with PNG output of both images on failure.
#include "sdk/lens/imageCompare.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <fmt/format.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace tavo::test {

bool WritePng(const RgbaImage& image, const std::string& path) {
    // GL rows come bottom first; a PNG starts at the top.
    stbi_flip_vertically_on_write(1);
    return stbi_write_png(path.c_str(), image.width, image.height, 4, image.pixels.data(),
                          image.width * 4) != 0;
}

Comparison CompareWeave(const RgbaImage& actual, const RgbaImage& expected,
                        const std::vector<bool>& nearBoundary, int tolerance,
                        const std::string& name) {
    Comparison result;
    if (actual.width != expected.width || actual.height != expected.height) {
        result.wrong = 1;
        result.firstWrong = "sizes differ";
        return result;
    }
    for (int y = 0; y < actual.height; ++y) {
        for (int x = 0; x < actual.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                ++result.subpixels;
                const int a = actual.at(x, y)[c], e = expected.at(x, y)[c];
                if (std::abs(a - e) <= tolerance)
                    continue;
                const size_t index = (static_cast<size_t>(y) * actual.width + x) * 3 + c;
                if (!nearBoundary.empty() && nearBoundary[index]) {
                    ++result.nearBoundaryDifferent;
                } else if (result.wrong++ == 0) {
                    result.firstWrong =
                        fmt::format("GL pixel ({}, {}) channel {}: {} expected {}", x, y, c, a, e);
                }
            }
        }
    }
    if (result.wrong > 0 || result.nearBoundaryDifferent * 1000 > result.subpixels) {
        const char* dir = std::getenv("TAVO_TEST_OUTPUT_DIR");
        const std::filesystem::path folder = dir ? dir : ".";
        std::filesystem::create_directories(folder);
        WritePng(actual, (folder / (name + ".actual.png")).string());
        WritePng(expected, (folder / (name + ".expected.png")).string());
    }
    return result;
}

}  // namespace tavo::test
