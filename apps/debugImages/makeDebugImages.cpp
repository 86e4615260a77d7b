// Writes the interlacer's two debug images: "DebugViewsImage.tga", a chart of twelve numbered
// cells in twelve colours (cell k is what view k shows in the calibration mode), and
// "DebugStereoImage.tga", a left/right test card (left half for the left eye).
//
//   tavo-debug-images OUTPUT_FOLDER
//
// The images are uncompressed 24-bit TGA with the origin at the bottom left, which is how the
// interlacer uploads them, row order kept.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Rgb {
    uint8_t r, g, b;
};

class Canvas {
  public:
    Canvas(int width, int height) : width_(width), height_(height), pixels_(width * height) {}

    // (x, y) from the top left.
    void Fill(int x0, int y0, int x1, int y1, Rgb colour) {
        for (int y = std::max(y0, 0); y < std::min(y1, height_); ++y) {
            for (int x = std::max(x0, 0); x < std::min(x1, width_); ++x) {
                pixels_[y * width_ + x] = colour;
            }
        }
    }

    void Disc(int cx, int cy, int radius, Rgb colour) {
        for (int y = cy - radius; y <= cy + radius; ++y) {
            for (int x = cx - radius; x <= cx + radius; ++x) {
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) {
                    Fill(x, y, x + 1, y + 1, colour);
                }
            }
        }
    }

    // Text in a 5 x 7 font, `scale` pixels per font dot, top left at (x, y).
    void Text(const std::string& text, int x, int y, int scale, Rgb colour);

    bool WriteTga(const std::string& path) const {
        std::ofstream out(path, std::ios::binary);
        const uint8_t header[18] = {0,
                                    0,
                                    2,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    0,
                                    static_cast<uint8_t>(width_ & 0xff),
                                    static_cast<uint8_t>(width_ >> 8),
                                    static_cast<uint8_t>(height_ & 0xff),
                                    static_cast<uint8_t>(height_ >> 8),
                                    24,
                                    0};
        out.write(reinterpret_cast<const char*>(header), sizeof header);
        for (int y = height_ - 1; y >= 0; --y) {  // bottom row first
            for (int x = 0; x < width_; ++x) {
                const Rgb& p = pixels_[y * width_ + x];
                const char bgr[3] = {static_cast<char>(p.b), static_cast<char>(p.g),
                                     static_cast<char>(p.r)};
                out.write(bgr, 3);
            }
        }
        return static_cast<bool>(out);
    }

  private:
    int width_, height_;
    std::vector<Rgb> pixels_;
};

// Rows of 5 bits, most significant bit on the left.
const std::array<uint8_t, 7>* Glyph(char c) {
    static const std::array<uint8_t, 7> kDigits[10] = {
        {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}, {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e},
        {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}, {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e},
        {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}, {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e},
        {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e}, {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
        {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e}, {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c},
    };
    static const std::array<uint8_t, 7> kL = {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1f};
    static const std::array<uint8_t, 7> kR = {0x1e, 0x11, 0x11, 0x1e, 0x14, 0x12, 0x11};
    if (c >= '0' && c <= '9')
        return &kDigits[c - '0'];
    if (c == 'L')
        return &kL;
    if (c == 'R')
        return &kR;
    return nullptr;
}

void Canvas::Text(const std::string& text, int x, int y, int scale, Rgb colour) {
    for (char c : text) {
        if (const auto* glyph = Glyph(c)) {
            for (int row = 0; row < 7; ++row) {
                for (int column = 0; column < 5; ++column) {
                    if ((*glyph)[row] & (0x10 >> column)) {
                        Fill(x + column * scale, y + row * scale, x + (column + 1) * scale,
                             y + (row + 1) * scale, colour);
                    }
                }
            }
        }
        x += 6 * scale;
    }
}

// Fully saturated colour of hue `h` in [0, 1).
Rgb Hue(double h) {
    const double r = std::clamp(std::abs(h * 6.0 - 3.0) - 1.0, 0.0, 1.0);
    const double g = std::clamp(2.0 - std::abs(h * 6.0 - 2.0), 0.0, 1.0);
    const double b = std::clamp(2.0 - std::abs(h * 6.0 - 4.0), 0.0, 1.0);
    return {static_cast<uint8_t>(std::lround(r * 255)), static_cast<uint8_t>(std::lround(g * 255)),
            static_cast<uint8_t>(std::lround(b * 255))};
}

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

bool WriteViewsChart(const std::string& path) {
    constexpr int kViews = 12, kCellWidth = 128, kCellHeight = 72;
    Canvas chart(kViews * kCellWidth, kCellHeight);
    for (int v = 0; v < kViews; ++v) {
        const int x0 = v * kCellWidth;
        chart.Fill(x0, 0, x0 + kCellWidth, kCellHeight, Hue(v / static_cast<double>(kViews)));
        const std::string number = std::to_string(v);
        const int scale = 7;
        const int textWidth = static_cast<int>(number.size()) * 6 * scale - scale;
        const int tx = x0 + (kCellWidth - textWidth) / 2, ty = (kCellHeight - 7 * scale) / 2;
        chart.Text(number, tx + 2, ty + 2, scale, kBlack);  // shadow keeps it legible on yellow
        chart.Text(number, tx, ty, scale, kWhite);
    }
    return chart.WriteTga(path);
}

bool WriteStereoCard(const std::string& path) {
    constexpr int kHalfWidth = 320, kHeight = 180;
    Canvas card(2 * kHalfWidth, kHeight);
    const Rgb backgrounds[2] = {{200, 40, 40}, {40, 80, 200}};
    for (int eye = 0; eye < 2; ++eye) {
        const int x0 = eye * kHalfWidth;
        card.Fill(x0, 0, x0 + kHalfWidth, kHeight, backgrounds[eye]);
        // A grid at screen depth, identical for both eyes.
        for (int x = 0; x < kHalfWidth; x += 40)
            card.Fill(x0 + x, 0, x0 + x + 2, kHeight, kWhite);
        for (int y = 0; y < kHeight; y += 40)
            card.Fill(x0, y, x0 + kHalfWidth, y + 2, kWhite);
        // A disc shifted towards the nose in each eye: crossed disparity, in front of the screen.
        card.Disc(x0 + kHalfWidth / 2 + (eye == 0 ? 12 : -12), kHeight / 2, 40, {250, 220, 40});
        card.Text(eye == 0 ? "L" : "R", x0 + 16, 16, 8, kWhite);
    }
    return card.WriteTga(path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tavo-debug-images OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const bool ok = WriteViewsChart(folder + "/DebugViewsImage.tga") &&
                    WriteStereoCard(folder + "/DebugStereoImage.tga");
    if (!ok) {
        std::fprintf(stderr, "cannot write the images into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
