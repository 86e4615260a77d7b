// The model rewrite (protocol buffer wire format, just deep enough to reach the graph's nodes)
// and the layers themselves.
#include "ownLayers.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <vector>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/dnn/all_layers.hpp>

namespace tavo::cpudetector {

namespace {

constexpr const char* kDepthwiseType = "TavoDepthwiseConv3x3";
constexpr const char* kAddType = "TavoAdd";

// ONNX's field numbers: ModelProto.graph, GraphProto.node / initializer, NodeProto.input /
// op_type / attribute, AttributeProto.name / i / ints.
constexpr int kModelGraph = 7;
constexpr int kGraphNode = 1;
constexpr int kNodeInput = 1;
constexpr int kNodeOpType = 4;
constexpr int kNodeAttribute = 5;
constexpr int kAttributeName = 1;
constexpr int kAttributeInt = 3;
constexpr int kAttributeInts = 8;
constexpr int kVarint = 0;
constexpr int kFixed64 = 1;
constexpr int kLengthDelimited = 2;
constexpr int kFixed32 = 5;

bool ReadVarint(const uint8_t*& at, const uint8_t* end, uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && at < end; shift += 7) {
        const uint8_t byte = *at++;
        value |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

void WriteVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

struct Field {
    int number;
    int wireType;
    std::string_view whole;  // key and payload, as they stand
    std::string_view payload;
    uint64_t varint;
};

// Calls `visit` for each field of a message; false when the bytes are not a message.
template <typename Visit>
bool ForEachField(std::string_view message, Visit&& visit) {
    const auto* at = reinterpret_cast<const uint8_t*>(message.data());
    const uint8_t* end = at + message.size();
    while (at < end) {
        const uint8_t* start = at;
        uint64_t key = 0;
        if (!ReadVarint(at, end, key)) {
            return false;
        }
        Field field{static_cast<int>(key >> 3), static_cast<int>(key & 7), {}, {}, 0};
        const uint8_t* payload = at;
        switch (field.wireType) {
            case kVarint:
                if (!ReadVarint(at, end, field.varint)) {
                    return false;
                }
                break;
            case kFixed64:
            case kFixed32: {
                const ptrdiff_t length = field.wireType == kFixed64 ? 8 : 4;
                if (end - at < length) {
                    return false;
                }
                at += length;
                break;
            }
            case kLengthDelimited: {
                uint64_t length = 0;
                if (!ReadVarint(at, end, length) || length > static_cast<uint64_t>(end - at)) {
                    return false;
                }
                payload = at;
                at += length;
                break;
            }
            default:
                return false;
        }
        field.whole = {reinterpret_cast<const char*>(start), static_cast<size_t>(at - start)};
        field.payload = {reinterpret_cast<const char*>(payload), static_cast<size_t>(at - payload)};
        visit(field);
    }
    return true;
}

void WriteField(std::string& out, int number, std::string_view payload) {
    WriteVarint(out, static_cast<uint64_t>(number) << 3 | kLengthDelimited);
    WriteVarint(out, payload.size());
    out.append(payload);
}

struct Attribute {
    std::string name;
    int64_t value = 0;
    std::vector<int64_t> values;
};

// Packed repeated integers are a run of varints without keys.
bool ReadPacked(std::string_view bytes, std::vector<int64_t>& values) {
    const auto* at = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint8_t* end = at + bytes.size();
    while (at < end) {
        uint64_t value = 0;
        if (!ReadVarint(at, end, value)) {
            return false;
        }
        values.push_back(static_cast<int64_t>(value));
    }
    return true;
}

bool ReadAttribute(std::string_view bytes, Attribute& attribute) {
    bool packedRead = true;
    const bool parsed = ForEachField(bytes, [&](const Field& field) {
        if (field.number == kAttributeName && field.wireType == kLengthDelimited) {
            attribute.name = field.payload;
        } else if (field.number == kAttributeInt && field.wireType == kVarint) {
            attribute.value = static_cast<int64_t>(field.varint);
        } else if (field.number == kAttributeInts && field.wireType == kVarint) {
            attribute.values.push_back(static_cast<int64_t>(field.varint));
        } else if (field.number == kAttributeInts && field.wireType == kLengthDelimited) {
            packedRead = packedRead && ReadPacked(field.payload, attribute.values);
        }
    });
    return parsed && packedRead;
}

bool AllEqual(const std::vector<int64_t>& values, size_t count, int64_t expected) {
    return values.size() == count &&
           std::all_of(values.begin(), values.end(), [&](int64_t v) { return v == expected; });
}

// The type of the plug-in's layer that runs a node exactly as ONNX defines it; null when none
// does. Additions qualify with two inputs, which the layer checks are computed and of one shape
// when the net is built.
const char* OwnType(std::string_view node) {
    std::string_view opType;
    bool readable = true;
    int inputs = 0;
    int64_t group = 1;
    std::vector<int64_t> kernel, strides, pads, dilations{1, 1};
    bool autoPad = false;
    const bool parsed = ForEachField(node, [&](const Field& field) {
        if (field.number == kNodeInput && field.wireType == kLengthDelimited) {
            ++inputs;
        } else if (field.number == kNodeOpType && field.wireType == kLengthDelimited) {
            opType = field.payload;
        } else if (field.number == kNodeAttribute && field.wireType == kLengthDelimited) {
            Attribute attribute;
            readable = ReadAttribute(field.payload, attribute) && readable;
            if (attribute.name == "group") {
                group = attribute.value;
            } else if (attribute.name == "kernel_shape") {
                kernel = attribute.values;
            } else if (attribute.name == "strides") {
                strides = attribute.values;
            } else if (attribute.name == "pads") {
                pads = attribute.values;
            } else if (attribute.name == "dilations") {
                dilations = attribute.values;
            } else if (attribute.name == "auto_pad") {
                autoPad = true;
            }
        }
    });
    if (!parsed || !readable) {
        return nullptr;
    }
    if (opType == "Conv" && group > 1 && !autoPad && AllEqual(kernel, 2, 3) &&
        AllEqual(strides, 2, 1) && AllEqual(pads, 4, 1) && AllEqual(dilations, 2, 1)) {
        return kDepthwiseType;
    }
    if (opType == "Add" && inputs == 2) {
        return kAddType;
    }
    return nullptr;
}

// out = depthwise 3x3 convolution of each channel, zero padding of 1, stride 1, plus bias.
class DepthwiseConv3x3Layer final : public cv::dnn::Layer {
  public:
    explicit DepthwiseConv3x3Layer(const cv::dnn::LayerParams& params) : Layer(params) {
        CV_Assert(!blobs.empty() && blobs[0].type() == CV_32F && blobs[0].dims == 4 &&
                  blobs[0].size[1] == 1 && blobs[0].size[2] == 3 && blobs[0].size[3] == 3);
        channels_ = blobs[0].size[0];
        CV_Assert(blobs.size() == 1 ||
                  (blobs[1].type() == CV_32F && static_cast<int>(blobs[1].total()) == channels_));
        CV_Assert(params.get<int>("group", channels_) == channels_);
    }

    static cv::Ptr<cv::dnn::Layer> Create(cv::dnn::LayerParams& params) {
        return cv::makePtr<DepthwiseConv3x3Layer>(params);
    }

    bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int,
                         std::vector<cv::dnn::MatShape>& outputs,
                         std::vector<cv::dnn::MatShape>&) const override {
        CV_Assert(inputs.size() == 1 && inputs[0].size() == 4 && inputs[0][1] == channels_);
        outputs.assign(1, inputs[0]);
        return false;
    }

    void forward(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray,
                 cv::OutputArrayOfArrays) override {
        inputsArray.getMatVector(inputs_);
        outputsArray.getMatVector(outputs_);
        const cv::Mat& input = inputs_[0];
        cv::Mat& output = outputs_[0];
        CV_Assert(input.type() == CV_32F && input.isContinuous() && output.isContinuous());
        const int batch = input.size[0];
        const int height = input.size[2];
        const int width = input.size[3];
        // One channel at a time in a buffer with a border of zeros, so that every output pixel
        // takes the same nine products and four of them go at once.
        const int stride = width + 2;
        const size_t paddedSize = static_cast<size_t>(stride) * (height + 2);
        if (padded_.size() != paddedSize) {
            padded_.assign(paddedSize, 0.0f);
        }
        const float* weights = blobs[0].ptr<float>();
        const float* biases = blobs.size() > 1 ? blobs[1].ptr<float>() : nullptr;
        const size_t plane = static_cast<size_t>(height) * width;
        for (int n = 0; n < batch; ++n) {
            for (int c = 0; c < channels_; ++c) {
                const size_t offset = (static_cast<size_t>(n) * channels_ + c) * plane;
                const float* from = input.ptr<float>() + offset;
                float* to = output.ptr<float>() + offset;
                for (int y = 0; y < height; ++y) {
                    std::copy(from + static_cast<ptrdiff_t>(y) * width,
                              from + static_cast<ptrdiff_t>(y + 1) * width,
                              padded_.data() + static_cast<ptrdiff_t>(y + 1) * stride + 1);
                }
                Channel(weights + 9 * c, biases != nullptr ? biases[c] : 0.0f, height, width, to);
            }
        }
    }

  private:
    void Channel(const float* k, float bias, int height, int width, float* to) const {
        const int stride = width + 2;
        const cv::v_float32x4 k0 = cv::v_setall_f32(k[0]), k1 = cv::v_setall_f32(k[1]),
                              k2 = cv::v_setall_f32(k[2]), k3 = cv::v_setall_f32(k[3]),
                              k4 = cv::v_setall_f32(k[4]), k5 = cv::v_setall_f32(k[5]),
                              k6 = cv::v_setall_f32(k[6]), k7 = cv::v_setall_f32(k[7]),
                              k8 = cv::v_setall_f32(k[8]), b = cv::v_setall_f32(bias);
        for (int y = 0; y < height; ++y) {
            const float* r0 = padded_.data() + static_cast<ptrdiff_t>(y) * stride;
            const float* r1 = r0 + stride;
            const float* r2 = r1 + stride;
            float* out = to + static_cast<ptrdiff_t>(y) * width;
            int x = 0;
            for (; x + 4 <= width; x += 4) {
                cv::v_float32x4 sum = cv::v_fma(k0, cv::v_load(r0 + x), b);
                sum = cv::v_fma(k1, cv::v_load(r0 + x + 1), sum);
                sum = cv::v_fma(k2, cv::v_load(r0 + x + 2), sum);
                sum = cv::v_fma(k3, cv::v_load(r1 + x), sum);
                sum = cv::v_fma(k4, cv::v_load(r1 + x + 1), sum);
                sum = cv::v_fma(k5, cv::v_load(r1 + x + 2), sum);
                sum = cv::v_fma(k6, cv::v_load(r2 + x), sum);
                sum = cv::v_fma(k7, cv::v_load(r2 + x + 1), sum);
                sum = cv::v_fma(k8, cv::v_load(r2 + x + 2), sum);
                cv::v_store(out + x, sum);
            }
            for (; x < width; ++x) {
                out[x] = bias + k[0] * r0[x] + k[1] * r0[x + 1] + k[2] * r0[x + 2] + k[3] * r1[x] +
                         k[4] * r1[x + 1] + k[5] * r1[x + 2] + k[6] * r2[x] + k[7] * r2[x + 1] +
                         k[8] * r2[x + 2];
            }
        }
    }

    int channels_ = 0;
    std::vector<float> padded_;
    std::vector<cv::Mat> inputs_;
    std::vector<cv::Mat> outputs_;
};

// out = a + b, then max(out, 0) where OpenCV hands over the ReLU that follows.
class AddLayer final : public cv::dnn::Layer {
  public:
    explicit AddLayer(const cv::dnn::LayerParams& params) : Layer(params) {}

    static cv::Ptr<cv::dnn::Layer> Create(cv::dnn::LayerParams& params) {
        return cv::makePtr<AddLayer>(params);
    }

    bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int,
                         std::vector<cv::dnn::MatShape>& outputs,
                         std::vector<cv::dnn::MatShape>&) const override {
        if (!blobs.empty() || inputs.size() != 2 || inputs[0] != inputs[1]) {
            CV_Error(cv::Error::StsNotImplemented,
                     "only the sum of two computed inputs of one shape is supported");
        }
        outputs.assign(1, inputs[0]);
        return false;
    }

    bool setActivation(const cv::Ptr<cv::dnn::ActivationLayer>& layer) override {
        const cv::Ptr<cv::dnn::ReLULayer> relu = layer.dynamicCast<cv::dnn::ReLULayer>();
        relu_ = !relu.empty() && relu->negativeSlope == 0.0f;
        return relu_;
    }

    void forward(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray,
                 cv::OutputArrayOfArrays) override {
        inputsArray.getMatVector(inputs_);
        outputsArray.getMatVector(outputs_);
        CV_Assert(inputs_[0].type() == CV_32F && inputs_[1].type() == CV_32F &&
                  inputs_[0].isContinuous() && inputs_[1].isContinuous() &&
                  outputs_[0].isContinuous());
        const float* a = inputs_[0].ptr<float>();
        const float* b = inputs_[1].ptr<float>();
        float* out = outputs_[0].ptr<float>();
        const size_t count = inputs_[0].total();
        // No lower bound without a ReLU.
        const float floor = relu_ ? 0.0f : -std::numeric_limits<float>::infinity();
        const cv::v_float32x4 floors = cv::v_setall_f32(floor);
        size_t i = 0;
        for (; i + 4 <= count; i += 4) {
            cv::v_store(out + i, cv::v_max(cv::v_load(a + i) + cv::v_load(b + i), floors));
        }
        for (; i < count; ++i) {
            out[i] = std::max(a[i] + b[i], floor);
        }
    }

  private:
    bool relu_ = false;
    std::vector<cv::Mat> inputs_;
    std::vector<cv::Mat> outputs_;
};

// Copies a graph's fields, the nodes that the plug-in's layers run naming their types.
bool RewriteGraph(std::string_view graph, std::string& out, int& replaced) {
    return ForEachField(graph, [&](const Field& field) {
        const char* type = field.number == kGraphNode && field.wireType == kLengthDelimited
                               ? OwnType(field.payload)
                               : nullptr;
        if (type == nullptr) {
            out.append(field.whole);
            return;
        }
        std::string node;
        ForEachField(field.payload, [&](const Field& part) {
            if (part.number == kNodeOpType) {
                WriteField(node, kNodeOpType, type);
            } else {
                node.append(part.whole);
            }
        });
        WriteField(out, kGraphNode, node);
        ++replaced;
    });
}

std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

std::string WithOwnLayers(const uint8_t* model, size_t size, int& replaced) {
    replaced = 0;
    const std::string_view bytes(reinterpret_cast<const char*>(model), size);
    std::string out;
    out.reserve(size + 1024);
    bool graphParsed = true;
    const bool parsed = ForEachField(bytes, [&](const Field& field) {
        if (field.number != kModelGraph || field.wireType != kLengthDelimited) {
            out.append(field.whole);
            return;
        }
        std::string graph;
        graph.reserve(field.payload.size() + 1024);
        graphParsed = RewriteGraph(field.payload, graph, replaced) && graphParsed;
        WriteField(out, kModelGraph, graph);
    });
    if (!parsed || !graphParsed) {
        replaced = 0;
        return std::string(bytes);
    }
    return out;
}

OwnLayersRegistered::OwnLayersRegistered() : lock_(RegistryMutex()) {
    cv::dnn::LayerFactory::registerLayer(kDepthwiseType, DepthwiseConv3x3Layer::Create);
    cv::dnn::LayerFactory::registerLayer(kAddType, AddLayer::Create);
}

OwnLayersRegistered::~OwnLayersRegistered() {
    cv::dnn::LayerFactory::unregisterLayer(kAddType);
    cv::dnn::LayerFactory::unregisterLayer(kDepthwiseType);
}

}  // namespace tavo::cpudetector
