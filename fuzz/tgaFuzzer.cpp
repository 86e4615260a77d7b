// libFuzzer target over both TGA decoders and the pixel operations that follow a decode.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "tavo/common/tga.h"

namespace {

void Exercise(tavo::Tga& image, const uint8_t* data, size_t size) {
    image.SwapRedAndBlue();
    image.RemoveColor(size > 0 ? data[0] : 0, 1, 2);
    const int32_t newWidth = size > 1 ? static_cast<int8_t>(data[size - 1]) % 33 : 1;
    const int32_t newHeight = size > 2 ? static_cast<int8_t>(data[size - 2]) % 33 : 1;
    image.Resize(newWidth, newHeight);
    image.SwapRedAndBlue();
}

}  // namespace

// Huge declared sizes are fuzzed too: the decoders must refuse what the data cannot fill
// instead of allocating it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const bool keepRowOrder : {true, false}) {
        tavo::Tga image;
        image.ReadFromData(data, size, keepRowOrder);
        Exercise(image, data, size);
    }

    const int fd = ::memfd_create("tga-fuzz", 0);
    if (fd < 0) {
        return 0;
    }
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n <= 0) {
            break;
        }
        written += static_cast<size_t>(n);
    }
    try {
        tavo::Tga image("/proc/self/fd/" + std::to_string(fd));
        Exercise(image, data, size);
    } catch (const std::invalid_argument&) {
    }
    ::close(fd);
    return 0;
}
