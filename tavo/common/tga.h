// Truevision TGA decoding (true-colour, uncompressed and run-length encoded) and pixel helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tavo/common/export.h"

namespace tavo {

// A decoded image. Uncompressed sources keep the file's blue-first byte order, run-length
// encoded ones come out red-first; SwapRedAndBlue converts. Run-length images always hold
// width x height x 4 bytes with 24-bit pixels packed at 3 bytes at the front. Short or
// malformed data leaves a partly or wholly empty image without error. No decode allocates
// more than its data can fill: uncompressed data shorter than its stored image, and run-length
// images larger than 8192 x 8192 pixels or than their packets could ever produce (128 pixels
// per packet), give an empty image. The only exception is "File Not Found.". One thread at a
// time.
class TAVO_API Tga {
  public:
    std::vector<uint8_t> pixels;
    bool compressed = false;
    uint32_t width = 0;
    uint32_t height = 0;
    // Rows counted in whole 32-bit words: ((width * bitsPerPixel + 31) / 32) * height * 4;
    // after Resize, width * height * bytes per pixel.
    uint32_t imageSize = 0;
    uint32_t bitsPerPixel = 0;
    std::string path;

    Tga();
    // Throws std::invalid_argument("File Not Found.") when the file cannot be opened.
    explicit Tga(const std::string& path);

    // Decodes an image held in memory, starting with its 18-byte header; never reads past
    // `size` bytes. Uncompressed rows are reversed unless `keepRowOrder`. True when the header
    // was accepted at 24 or 32 bits per pixel and the data held every pixel (uncompressed rows
    // stored tightly, run-length packets up to width x height pixels).
    bool ReadFromData(const uint8_t* data, size_t size, bool keepRowOrder);
    // For callers holding a whole image: reads the header, then as many bytes as it implies.
    void ReadFromData(const uint8_t* data, bool keepRowOrder);

    // Nearest-neighbour scaling; a width or height below 1 leaves the image unchanged.
    void Resize(int32_t newWidth, int32_t newHeight);
    // Exchanges the first and third byte of every pixel (24 and 32 bits per pixel only).
    void SwapRedAndBlue();
    // At 32 bits per pixel, pixels of this colour become transparent and all others opaque.
    void RemoveColor(uint8_t red, uint8_t green, uint8_t blue);
};

}  // namespace tavo
