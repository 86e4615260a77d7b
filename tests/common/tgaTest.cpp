// Tests of TGA decoding from files and memory and of the pixel operations.
#include "tavo/common/tga.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavo {
namespace {

using Bytes = std::vector<uint8_t>;

std::string DataFile(const std::string& name) {
    return std::string(TAVO_TGA_DATA_DIR) + "/" + name;
}

Bytes ReadFile(const std::string& name) {
    std::ifstream file(DataFile(name), std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

Bytes Header(uint8_t type, uint16_t width, uint16_t height, uint8_t bitsPerPixel) {
    Bytes header(18, 0);
    header[2] = type;
    header[12] = static_cast<uint8_t>(width & 0xFF);
    header[13] = static_cast<uint8_t>(width >> 8);
    header[14] = static_cast<uint8_t>(height & 0xFF);
    header[15] = static_cast<uint8_t>(height >> 8);
    header[16] = bitsPerPixel;
    return header;
}

Bytes Sequence(uint8_t first, size_t count) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(TgaFile, MissingFileThrowsInvalidArgument) {
    try {
        Tga image(DataFile("no-such-image.tga"));
        FAIL() << "expected an exception";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "File Not Found.");
    }
}

TEST(TgaFile, Uncompressed24KeepsFileOrderAndPaddedSize) {
    Tga image(DataFile("uncompressed24_3x2.tga"));
    EXPECT_EQ(image.path, DataFile("uncompressed24_3x2.tga"));
    EXPECT_FALSE(image.compressed);
    EXPECT_EQ(image.width, 3u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.bitsPerPixel, 24u);
    // 9 stored bytes per row count as 12.
    EXPECT_EQ(image.imageSize, 24u);
    // The file ends before imageSize bytes: the rest stays zero.
    EXPECT_EQ(image.pixels, Concat(Sequence(1, 18), Bytes(6, 0)));
}

TEST(TgaFile, Uncompressed32) {
    Tga image(DataFile("uncompressed32_2x2.tga"));
    EXPECT_EQ(image.imageSize, 16u);
    EXPECT_EQ(image.pixels, Sequence(1, 16));
}

TEST(TgaFile, RunLength24PacksThreeBytesRedFirst) {
    Tga image(DataFile("rle24_4x1.tga"));
    EXPECT_TRUE(image.compressed);
    EXPECT_EQ(image.bitsPerPixel, 24u);
    const Bytes expected{0x30, 0x20, 0x10, 0x30, 0x20, 0x10, 0x60, 0x50,
                         0x40, 0x90, 0x80, 0x70, 0,    0,    0,    0};
    EXPECT_EQ(image.pixels, expected);
}

TEST(TgaFile, RunLength32RunsOfOneAndCutAtPixelCount) {
    // 0x80 gives one pixel; 0xFF would give 128 but only 4 remain.
    Tga image(DataFile("rle32_3x2.tga"));
    const Bytes expected{3,  2,  1, 4,  7,  6,  5, 8,  11, 10, 9, 12,
                         11, 10, 9, 12, 11, 10, 9, 12, 11, 10, 9, 12};
    EXPECT_EQ(image.pixels, expected);
}

TEST(TgaFile, TruncatedRunLengthLeavesRestZero) {
    Tga image(DataFile("truncated_rle32_4x4.tga"));
    ASSERT_EQ(image.pixels.size(), 64u);
    Bytes expected(64, 0);
    for (size_t i = 0; i < 4; ++i) {
        expected[i * 4 + 0] = 3;
        expected[i * 4 + 1] = 2;
        expected[i * 4 + 2] = 1;
        expected[i * 4 + 3] = 4;
    }
    EXPECT_EQ(image.pixels, expected);
}

TEST(TgaFile, GreyImageIsNotDecoded) {
    Tga image(DataFile("grey8_2x2.tga"));
    EXPECT_EQ(image.width, 0u);
    EXPECT_TRUE(image.pixels.empty());
}

TEST(TgaFile, UnsupportedDepthGivesZeroPixels) {
    const std::string path = ::testing::TempDir() + "tga16.tga";
    {
        const Bytes bytes = Concat(Header(2, 2, 2, 16), Sequence(1, 8));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    Tga image(path);
    EXPECT_EQ(image.bitsPerPixel, 16u);
    EXPECT_EQ(image.imageSize, 8u);
    EXPECT_EQ(image.pixels, Bytes(8, 0));
}

TEST(TgaData, RowOrderKeptOrReversed) {
    const Bytes file = ReadFile("uncompressed24_3x2.tga");
    Tga kept;
    // Complete although shorter than the padded size: TGA rows are stored tightly.
    EXPECT_TRUE(kept.ReadFromData(file.data(), file.size(), true));
    EXPECT_EQ(kept.pixels, Concat(Sequence(1, 18), Bytes(6, 0)));

    Tga reversed;
    reversed.ReadFromData(file.data(), file.size(), false);
    EXPECT_EQ(reversed.pixels, Concat(Concat(Sequence(10, 9), Sequence(1, 9)), Bytes(6, 0)));
}

TEST(TgaData, RunLengthIsNeverReversed) {
    const Bytes file = ReadFile("rle32_3x2.tga");
    Tga fromFile(DataFile("rle32_3x2.tga"));
    Tga fromData;
    EXPECT_TRUE(fromData.ReadFromData(file.data(), file.size(), false));
    EXPECT_EQ(fromData.pixels, fromFile.pixels);
    EXPECT_TRUE(fromData.compressed);
}

TEST(TgaData, UnsizedMatchesSizedForWholeImages) {
    for (const char* name : {"uncompressed32_2x2.tga", "rle24_4x1.tga", "rle32_3x2.tga"}) {
        Bytes file = ReadFile(name);
        Tga sized;
        sized.ReadFromData(file.data(), file.size(), true);
        // Pad to the longest the header allows, so the unsized form stays within the buffer.
        file.resize(18 + 6 * 5 + 64, 0);
        Tga unsized;
        unsized.ReadFromData(file.data(), true);
        EXPECT_EQ(unsized.pixels, sized.pixels) << name;
        EXPECT_EQ(unsized.imageSize, sized.imageSize) << name;
    }
}

TEST(TgaData, TruncatedUncompressedGivesAnEmptyImage) {
    // Padding to imageSize would allocate what the data cannot fill: no pixels instead.
    const Bytes file = ReadFile("uncompressed32_2x2.tga");
    for (const bool keepRowOrder : {true, false}) {
        Tga image;
        EXPECT_FALSE(image.ReadFromData(file.data(), 18 + 5, keepRowOrder));
        EXPECT_TRUE(image.pixels.empty());
        EXPECT_EQ(image.width, 0u);
        EXPECT_EQ(image.imageSize, 0u);
    }
}

// A header alone may declare gigabytes; the decoder must allocate no more than the data can
// fill (uncompressed) or than its documented cap (run-length), and never throw.
TEST(TgaData, HugeDeclaredSizesAllocateNothingTheyCannotFill) {
    const struct {
        uint8_t type;
        uint16_t width;
        uint16_t height;
        uint8_t bitsPerPixel;
    } cases[] = {
        {2, 4096, 4096, 32},  {2, 65535, 65535, 32}, {2, 65535, 65535, 1},
        {10, 8193, 8192, 32}, {10, 4096, 4096, 32},  {10, 65535, 65535, 24},
    };
    const std::string path = ::testing::TempDir() + "tgaHuge.tga";
    for (const auto& c : cases) {
        const Bytes data = Concat(Header(c.type, c.width, c.height, c.bitsPerPixel), Bytes(64, 1));
        Tga image;
        image.ReadFromData(data.data(), data.size(), true);
        EXPECT_TRUE(image.pixels.empty()) << c.width << "x" << c.height;

        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::streamsize>(data.size()));
        Tga fromFile(path);
        EXPECT_TRUE(fromFile.pixels.empty()) << c.width << "x" << c.height;
        EXPECT_EQ(fromFile.path, path);
    }
}

TEST(TgaFile, AFolderGivesAnEmptyImage) {
    Tga image(std::string(TAVO_TGA_DATA_DIR));
    EXPECT_TRUE(image.pixels.empty());
    EXPECT_EQ(image.width, 0u);
}

TEST(TgaData, TruncatedRunLengthStopsAtDataEnd) {
    const Bytes file = ReadFile("rle32_3x2.tga");
    // Cut inside the second packet's pixel: only the first pixel is decoded.
    Tga image;
    EXPECT_FALSE(image.ReadFromData(file.data(), 5 + 18 + 3, true));
    Bytes expected(24, 0);
    expected[0] = 3;
    expected[1] = 2;
    expected[2] = 1;
    expected[3] = 4;
    EXPECT_EQ(image.pixels, expected);
}

TEST(TgaData, ShortHeaderOrForeignTemplateLeavesImageUntouched) {
    Tga image(DataFile("uncompressed32_2x2.tga"));
    const Bytes before = image.pixels;
    const Bytes file = ReadFile("rle24_4x1.tga");
    image.ReadFromData(file.data(), 17, true);
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(image.width, 2u);

    Bytes colourMapped = file;
    colourMapped[1] = 1;
    image.ReadFromData(colourMapped.data(), colourMapped.size(), true);
    EXPECT_EQ(image.pixels, before);
    EXPECT_FALSE(image.compressed);
}

TEST(TgaData, UnsupportedDepthSetsHeaderKeepsPixels) {
    Tga image(DataFile("uncompressed32_2x2.tga"));
    const Bytes before = image.pixels;
    const Bytes data = Concat(Header(2, 5, 1, 16), Sequence(1, 10));
    EXPECT_FALSE(image.ReadFromData(data.data(), data.size(), true));
    EXPECT_EQ(image.width, 5u);
    EXPECT_EQ(image.bitsPerPixel, 16u);
    EXPECT_EQ(image.pixels, before);
}

TEST(TgaOperations, ResizeNearestNeighbour) {
    Tga image;
    const Bytes data = Concat(Header(2, 4, 2, 32), Sequence(0, 32));
    image.ReadFromData(data.data(), data.size(), true);
    image.Resize(2, 1);
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 1u);
    EXPECT_EQ(image.imageSize, 8u);
    // Source pixels (0, 0) and (2, 0).
    EXPECT_EQ(image.pixels, (Bytes{0, 1, 2, 3, 8, 9, 10, 11}));

    image.Resize(4, 2);
    EXPECT_EQ(image.pixels, (Bytes{0, 1, 2, 3, 0, 1, 2, 3, 8, 9, 10, 11, 8, 9, 10, 11,
                                   0, 1, 2, 3, 0, 1, 2, 3, 8, 9, 10, 11, 8, 9, 10, 11}));
}

TEST(TgaOperations, Resize24BitUsesThreeBytesPerPixel) {
    Tga image(DataFile("rle24_4x1.tga"));
    image.Resize(2, 2);
    EXPECT_EQ(image.imageSize, 12u);
    EXPECT_EQ(image.pixels,
              (Bytes{0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0x30, 0x20, 0x10, 0x60, 0x50, 0x40}));
}

TEST(TgaOperations, ResizeBelowOneOrOfEmptyImageIsSafe) {
    Tga image(DataFile("uncompressed32_2x2.tga"));
    const Bytes before = image.pixels;
    image.Resize(0, 5);
    image.Resize(3, -1);
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.pixels, before);

    Tga empty;
    empty.Resize(3, 3);
    EXPECT_TRUE(empty.pixels.empty());
}

TEST(TgaOperations, SwapRedAndBlue) {
    Tga image(DataFile("uncompressed24_3x2.tga"));
    image.SwapRedAndBlue();
    // Steps of 3 over the whole buffer, padding included.
    EXPECT_EQ(image.pixels, (Bytes{3,  2,  1,  6,  5,  4,  9, 8, 7, 12, 11, 10,
                                   15, 14, 13, 18, 17, 16, 0, 0, 0, 0,  0,  0}));
    Tga image32(DataFile("uncompressed32_2x2.tga"));
    image32.SwapRedAndBlue();
    EXPECT_EQ(image32.pixels, (Bytes{3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12, 15, 14, 13, 16}));
}

TEST(TgaOperations, RemoveColorSetsAlpha) {
    Tga image;
    const Bytes data =
        Concat(Header(2, 3, 1, 32), Bytes{10, 20, 30, 77, 11, 20, 30, 0, 10, 20, 30, 5});
    image.ReadFromData(data.data(), data.size(), true);
    // Blue-first storage: red 30, green 20, blue 10.
    image.RemoveColor(30, 20, 10);
    EXPECT_EQ(image.pixels, (Bytes{10, 20, 30, 0, 11, 20, 30, 255, 10, 20, 30, 0}));

    Tga image24(DataFile("uncompressed24_3x2.tga"));
    const Bytes before = image24.pixels;
    image24.RemoveColor(3, 2, 1);
    EXPECT_EQ(image24.pixels, before);
}

}  // namespace
}  // namespace tavo
