// The face model's 3x3 depthwise convolutions and its additions on this plug-in's own OpenCV
// dnn layers.
//
// OpenCV 4.6 runs a depthwise convolution on a small feature map (16x16 or 8x8, most of the
// face model's) at about one multiply a nanosecond, a third of a model run, and adds two
// blobs several times slower than memory allows. The model's bytes are rewritten so those
// nodes name this plug-in's layer types instead, which OpenCV's ONNX importer then builds
// through its layer registry, the weights as the layer's blobs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace tavo::cpudetector {

// The ONNX model's bytes with every convolution that is depthwise (grouped), 3x3, stride 1,
// padded by 1 on all sides and not dilated, and every addition of two inputs, handed to the
// plug-in's layers; `replaced` counts them. Bytes that do not parse as a model come back
// unchanged, for OpenCV to reject as before. The addition layer refuses, when the net is
// built, inputs of two shapes or a constant one.
std::string WithOwnLayers(const uint8_t* model, size_t size, int& replaced);

// While one is alive, OpenCV dnn can build the layers: a net using it is read and run for the
// first time (when OpenCV creates its layers) inside one. OpenCV's layer registry is
// process-wide, so one at a time, whichever thread; nothing is left registered afterwards.
class OwnLayersRegistered {
  public:
    OwnLayersRegistered();
    ~OwnLayersRegistered();
    OwnLayersRegistered(const OwnLayersRegistered&) = delete;
    OwnLayersRegistered& operator=(const OwnLayersRegistered&) = delete;

  private:
    std::lock_guard<std::mutex> lock_;
};

}  // namespace tavo::cpudetector
