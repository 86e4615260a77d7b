// Truevision TGA decoding and the small pixel operations on decoded images.
#include "tavo/common/tga.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <stdexcept>
#include <utility>

namespace tavo {

namespace {

constexpr size_t kHeaderSize = 18;
// Bytes 0-11 of the two accepted headers: no image id, no colour map, origin (0, 0).
constexpr uint8_t kUncompressedTemplate[12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kRunLengthTemplate[12] = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};

enum class Coding { None, Uncompressed, RunLength };

struct Header {
    Coding coding = Coding::None;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
};

Header ParseHeader(const uint8_t* data, size_t size) {
    Header header;
    if (size < kHeaderSize) {
        return header;
    }
    if (std::memcmp(data, kUncompressedTemplate, sizeof(kUncompressedTemplate)) == 0) {
        header.coding = Coding::Uncompressed;
    } else if (std::memcmp(data, kRunLengthTemplate, sizeof(kRunLengthTemplate)) == 0) {
        header.coding = Coding::RunLength;
    } else {
        return header;
    }
    header.width = static_cast<uint32_t>(data[12]) | (static_cast<uint32_t>(data[13]) << 8);
    header.height = static_cast<uint32_t>(data[14]) | (static_cast<uint32_t>(data[15]) << 8);
    header.bitsPerPixel = data[16];
    return header;
}

bool IsDecodedDepth(uint32_t bitsPerPixel) {
    return bitsPerPixel == 24 || bitsPerPixel == 32;
}

// Rows are counted in whole 32-bit words. Computed wide: 16-bit sides at 32 bits per pixel
// exceed 32 bits only at the very top of the range, where the field keeps the low bits.
uint32_t PaddedImageSize(const Header& header) {
    const uint64_t wordsPerRow = (uint64_t{header.width} * header.bitsPerPixel + 31) / 32;
    return static_cast<uint32_t>(wordsPerRow * header.height * 4);
}

// Expands run-length packets from `data` into `pixels` (already sized and zeroed), writing
// each pixel red first. Stops at width x height pixels or when the data runs out; true when
// every pixel was produced.
bool DecodeRunLength(const uint8_t* data, size_t size, uint32_t bitsPerPixel, uint64_t pixelCount,
                     std::vector<uint8_t>& pixels) {
    const size_t bytesPerPixel = bitsPerPixel / 8;
    size_t in = 0;
    size_t out = 0;
    uint64_t produced = 0;
    auto writePixel = [&](const uint8_t* pixel) {
        pixels[out + 0] = pixel[2];
        pixels[out + 1] = pixel[1];
        pixels[out + 2] = pixel[0];
        if (bytesPerPixel == 4) {
            pixels[out + 3] = pixel[3];
        }
        out += bytesPerPixel;
        ++produced;
    };
    while (produced < pixelCount && in < size) {
        const uint8_t packet = data[in++];
        const uint64_t count =
            std::min<uint64_t>(packet < 128 ? packet + 1u : packet - 127u, pixelCount - produced);
        if (packet < 128) {
            for (uint64_t i = 0; i < count; ++i) {
                if (size - in < bytesPerPixel) {
                    return false;
                }
                writePixel(data + in);
                in += bytesPerPixel;
            }
        } else {
            if (size - in < bytesPerPixel) {
                return false;
            }
            for (uint64_t i = 0; i < count; ++i) {
                writePixel(data + in);
            }
            in += bytesPerPixel;
        }
    }
    return produced == pixelCount;
}

// Run-length data can claim any number of pixels in a few bytes; an image beyond this many
// pixels (8192 x 8192, 256 MiB decoded, more than an 8K panel) is refused instead of
// allocated.
constexpr uint64_t kMaxRunLengthPixels = uint64_t{8192} * 8192;

// An image left as the default constructor makes it, except for the file path.
void MakeEmpty(Tga& image) {
    std::string path = std::move(image.path);
    image = Tga();
    image.path = std::move(path);
}

// Shared by both decoders. Files never reverse rows and, at an unsupported depth, still get
// zeroed pixels; memory decoding then leaves the pixels as they were. No allocation exceeds
// what the data present can fill (uncompressed) or kMaxRunLengthPixels (run-length): data
// that falls short of its stored image, or a run-length image larger than the cap or than its
// data could ever produce, gives an empty image. True when the image was decoded and the data
// held all of its pixels (uncompressed rows stored tightly, as TGA does).
bool Decode(Tga& image, const uint8_t* data, size_t size, bool keepRowOrder, bool fromFile) {
    const Header header = ParseHeader(data, size);
    if (header.coding == Coding::None) {
        return false;
    }
    image.width = header.width;
    image.height = header.height;
    image.bitsPerPixel = header.bitsPerPixel;
    image.imageSize = PaddedImageSize(header);
    const bool supported = IsDecodedDepth(header.bitsPerPixel);
    if (!supported && !fromFile) {
        return false;
    }
    image.compressed = header.coding == Coding::RunLength;
    const uint8_t* body = data + kHeaderSize;
    const size_t bodySize = supported ? size - kHeaderSize : 0;
    const size_t bytesPerPixel = header.bitsPerPixel / 8;
    const uint64_t pixelCount = uint64_t{header.width} * header.height;
    const size_t rowLength = size_t{header.width} * bytesPerPixel;

    // A packet of 1 + bytesPerPixel bytes gives at most 128 pixels: an image its data could
    // never produce is refused like one above the cap.
    const uint64_t producible = (size - kHeaderSize) / (1 + bytesPerPixel) * 128;
    if (header.coding == Coding::RunLength &&
        (pixelCount > kMaxRunLengthPixels || pixelCount > producible)) {
        MakeEmpty(image);
        return false;
    }
    // Stored rows are tightly packed; only the padding that imageSize counts in (a small
    // multiple at most) lies beyond them. Unsupported depths get zeros, but no more of them
    // than a whole stored image would have brought.
    const uint64_t storedSize =
        (uint64_t{header.width} * header.bitsPerPixel + 7) / 8 * header.height;
    if (header.coding == Coding::Uncompressed && size - kHeaderSize < storedSize) {
        MakeEmpty(image);
        return false;
    }

    bool complete =
        supported && (header.coding == Coding::RunLength || bodySize >= pixelCount * bytesPerPixel);
    std::vector<uint8_t> pixels;
    if (header.coding == Coding::RunLength) {
        pixels.assign(pixelCount * 4, 0);
        complete =
            DecodeRunLength(body, bodySize, header.bitsPerPixel, pixelCount, pixels) && complete;
    } else if (keepRowOrder) {
        pixels.assign(image.imageSize, 0);
        std::copy_n(body, std::min<size_t>(bodySize, pixels.size()), pixels.begin());
    } else {
        // The padding the size allows for stays at the end.
        pixels.assign(image.imageSize, 0);
        for (size_t row = 0; row < header.height; ++row) {
            const size_t source = (header.height - 1 - row) * rowLength;
            const size_t target = row * rowLength;
            if (source >= bodySize || target >= pixels.size()) {
                continue;
            }
            const size_t length = std::min({rowLength, bodySize - source, pixels.size() - target});
            std::copy_n(body + source, length, pixels.begin() + static_cast<ptrdiff_t>(target));
        }
    }
    image.pixels = std::move(pixels);
    return complete;
}

// How many bytes a whole image with this header needs, so the unsized entry can bound itself.
size_t WholeImageSize(const uint8_t* data) {
    const Header header = ParseHeader(data, kHeaderSize);
    if (header.coding == Coding::None || !IsDecodedDepth(header.bitsPerPixel)) {
        return kHeaderSize;
    }
    if (header.coding == Coding::Uncompressed) {
        return kHeaderSize + PaddedImageSize(header);
    }
    // The longest valid encoding spends one packet byte on every pixel.
    const uint64_t pixelCount = uint64_t{header.width} * header.height;
    return kHeaderSize + pixelCount * (1 + header.bitsPerPixel / 8);
}

}  // namespace

Tga::Tga() = default;

Tga::Tga(const std::string& filePath) : path(filePath) {
    std::ifstream file(filePath, std::ios::binary);
    if (!file.is_open()) {
        throw std::invalid_argument("File Not Found.");
    }
    // A folder opens but cannot be read, and a huge file may not fit in memory: both give an
    // empty image, as other unreadable images do.
    try {
        const std::vector<uint8_t> contents{std::istreambuf_iterator<char>(file),
                                            std::istreambuf_iterator<char>()};
        Decode(*this, contents.data(), contents.size(), true, true);
    } catch (const std::exception&) {
        MakeEmpty(*this);
    }
}

bool Tga::ReadFromData(const uint8_t* data, size_t size, bool keepRowOrder) {
    if (data == nullptr) {
        return false;
    }
    try {
        return Decode(*this, data, size, keepRowOrder, false);
    } catch (const std::bad_alloc&) {
        MakeEmpty(*this);
        return false;
    }
}

void Tga::ReadFromData(const uint8_t* data, bool keepRowOrder) {
    if (data == nullptr) {
        return;
    }
    ReadFromData(data, WholeImageSize(data), keepRowOrder);
}

void Tga::Resize(int32_t newWidth, int32_t newHeight) {
    if (newWidth < 1 || newHeight < 1) {
        return;
    }
    const size_t bytesPerPixel = bitsPerPixel / 8;
    const size_t targetWidth = static_cast<size_t>(newWidth);
    const size_t targetHeight = static_cast<size_t>(newHeight);
    std::vector<uint8_t> resized(bytesPerPixel * targetWidth * targetHeight, 0);
    const double xRatio = static_cast<double>(width) / newWidth;
    const double yRatio = static_cast<double>(height) / newHeight;
    // Three bytes are always copied, so depths below 24 bits would read past a pixel.
    const size_t copied = bytesPerPixel > 3 ? 4 : 3;
    if (bytesPerPixel >= 3) {
        for (size_t y = 0; y < targetHeight; ++y) {
            const size_t sourceRow = static_cast<size_t>(static_cast<double>(y) * yRatio);
            for (size_t x = 0; x < targetWidth; ++x) {
                const size_t sourceColumn = static_cast<size_t>(static_cast<double>(x) * xRatio);
                const size_t source = (sourceColumn + size_t{width} * sourceRow) * bytesPerPixel;
                const size_t target = (x + targetWidth * y) * bytesPerPixel;
                // A partly decoded image may hold fewer pixels than its size says.
                if (source + copied <= pixels.size()) {
                    std::copy_n(pixels.begin() + static_cast<ptrdiff_t>(source), copied,
                                resized.begin() + static_cast<ptrdiff_t>(target));
                }
            }
        }
    }
    width = static_cast<uint32_t>(newWidth);
    height = static_cast<uint32_t>(newHeight);
    imageSize = static_cast<uint32_t>(resized.size());
    pixels = std::move(resized);
}

void Tga::SwapRedAndBlue() {
    if (!IsDecodedDepth(bitsPerPixel)) {
        return;
    }
    const size_t step = bitsPerPixel / 8;
    for (size_t i = 0; i + step <= pixels.size(); i += step) {
        std::swap(pixels[i], pixels[i + 2]);
    }
}

void Tga::RemoveColor(uint8_t red, uint8_t green, uint8_t blue) {
    if (bitsPerPixel != 32) {
        return;
    }
    const size_t end = std::min<size_t>(imageSize, pixels.size());
    for (size_t i = 0; i + 4 <= end; i += 4) {
        const bool match = pixels[i + 2] == red && pixels[i + 1] == green && pixels[i] == blue;
        pixels[i + 3] = match ? 0 : 255;
    }
}

}  // namespace tavo
