// libFuzzer target over the face model's byte rewriter: the plug-in reads the model file from
// the assets folder, where a damaged or replaced file can lie, and rewrites it before OpenCV
// sees it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plugins/cpuDetector/ownLayers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int replaced = -1;
    const std::string once = tavo::cpudetector::WithOwnLayers(data, size, replaced);
    if (replaced < 0)
        std::abort();
    // What was handed over stays handed over: a second pass finds nothing more to replace.
    int again = -1;
    const std::string twice = tavo::cpudetector::WithOwnLayers(
        reinterpret_cast<const uint8_t*>(once.data()), once.size(), again);
    if (again != 0 || twice != once) {
        std::abort();
    }
    return 0;
}
