// BlazeFace: window sampling into the model's input, anchor decoding and merging.
#include "blazeFace.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <opencv2/imgproc.hpp>

#include "ownLayers.h"

namespace tavo::cpudetector {

namespace {

constexpr int kAnchorCount = 896;
constexpr int kRegressorWidth = 16;
// Grey 128 reads as 0 after the model's scaling to [-1, 1].
constexpr uint8_t kOutsideGrey = 128;

// The model takes RGB; a grey image gives it three equal channels, and a convolution over
// three equal channels is one over a single channel with the three weights summed. The first
// convolution is the model's only one on three channels.
void TakeOneChannel(cv::dnn::Net& net) {
    int first = -1;
    for (const cv::String& name : net.getLayerNames()) {
        const int id = net.getLayerId(name);
        const cv::Ptr<cv::dnn::Layer> layer = net.getLayer(id);
        if (layer->type == "Convolution" && !layer->blobs.empty() && layer->blobs[0].dims == 4 &&
            layer->blobs[0].size[1] == 3) {
            if (first >= 0) {
                first = -1;
                break;
            }
            first = id;
        }
    }
    if (first < 0) {
        CV_Error(cv::Error::StsBadArg,
                 "not the BlazeFace model: expected one convolution on the RGB input");
    }
    const cv::Mat rgb = net.getParam(first, 0);
    const int shape[] = {rgb.size[0], 1, rgb.size[2], rgb.size[3]};
    cv::Mat grey(4, shape, CV_32F);
    const size_t taps = static_cast<size_t>(rgb.size[2]) * rgb.size[3];
    for (int out = 0; out < rgb.size[0]; ++out) {
        const float* from = rgb.ptr<float>(out);
        float* to = grey.ptr<float>(out);
        for (size_t tap = 0; tap < taps; ++tap) {
            to[tap] = from[tap] + from[taps + tap] + from[2 * taps + tap];
        }
    }
    net.setParam(first, 0, grey);
}

}  // namespace

BlazeFace::BlazeFace(const uint8_t* model, size_t size) {
    // OpenCV creates the layers while reading the model and running it the first time.
    const OwnLayersRegistered registered;
    int replaced = 0;
    const std::string rewritten = WithOwnLayers(model, size, replaced);
    net_ = cv::dnn::readNetFromONNX(rewritten.data(), rewritten.size());
    net_.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net_.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    TakeOneChannel(net_);
    outputNames_ = net_.getUnconnectedOutLayersNames();

    // Two grids of anchors over the input, 16x16 with 2 per cell then 8x8 with 6 per cell.
    anchors_.reserve(kAnchorCount);
    for (const auto& [grid, perCell] : {std::pair{16, 2}, std::pair{8, 6}}) {
        for (int y = 0; y < grid; ++y) {
            for (int x = 0; x < grid; ++x) {
                for (int k = 0; k < perCell; ++k) {
                    anchors_.emplace_back((x + 0.5f) / grid, (y + 0.5f) / grid);
                }
            }
        }
    }

    window_.create(kInputSize, kInputSize, CV_8UC1);
    const int blobShape[] = {1, kInputSize, kInputSize, 1};
    blob_.create(4, blobShape, CV_32F);
    blob_.setTo(0.0f);
    blobPixels_ = cv::Mat(kInputSize, kInputSize, CV_32F, blob_.ptr<float>());
    net_.setInput(blob_);
    net_.forward(outputs_, outputNames_);

    // Tell the outputs apart by shape: 1x512x1, 1x384x1, 1x512x16, 1x384x16.
    for (int i = 0; i < static_cast<int>(outputs_.size()); ++i) {
        const cv::Mat& output = outputs_[static_cast<size_t>(i)];
        if (output.dims != 3 || output.type() != CV_32F) {
            continue;
        }
        const int count = output.size[1];
        const int width = output.size[2];
        int* slot = nullptr;
        if (width == 1) {
            slot = count == 512 ? &scores512_ : count == 384 ? &scores384_ : nullptr;
        } else if (width == kRegressorWidth) {
            slot = count == 512 ? &regressors512_ : count == 384 ? &regressors384_ : nullptr;
        }
        if (slot != nullptr) {
            *slot = i;
        }
    }
    if (outputs_.size() != 4 || scores512_ < 0 || scores384_ < 0 || regressors512_ < 0 ||
        regressors384_ < 0) {
        CV_Error(cv::Error::StsBadArg,
                 "not the BlazeFace model: expected scores 1x512x1, 1x384x1 and regressors "
                 "1x512x16, 1x384x16");
    }
}

void BlazeFace::Detect(const cv::Mat& image, const cv::Rect& window, float minScore,
                       std::vector<FaceCandidate>& candidates) {
    cv::Rect source = window & cv::Rect(0, 0, image.cols, image.rows);
    if (source.width < 2 || source.height < 2 || window.width <= 0) {
        return;
    }
    const double scale = static_cast<double>(kInputSize) / window.width;
    cv::Rect target(static_cast<int>(std::lround((source.x - window.x) * scale)),
                    static_cast<int>(std::lround((source.y - window.y) * scale)),
                    static_cast<int>(std::lround(source.width * scale)),
                    static_cast<int>(std::lround(source.height * scale)));
    target &= cv::Rect(0, 0, kInputSize, kInputSize);
    if (target.width < 1 || target.height < 1) {
        return;
    }
    if (target.width != kInputSize || target.height != kInputSize) {
        window_.setTo(kOutsideGrey);
    }
    cv::Mat into = window_(target);
    // Area averaging keeps small details from aliasing when shrinking. OpenCV averages areas
    // by a whole factor several times faster than by any other, so a large shrink first takes
    // that whole factor, the source trimmed by under a factor's pixels to a multiple of it
    // (decoding maps through the trimmed source).
    const int factor = std::min(source.width / target.width, source.height / target.height);
    cv::Mat from = image(source);
    if (factor >= 2) {
        source.width -= source.width % factor;
        source.height -= source.height % factor;
        const cv::Size reduced(source.width / factor, source.height / factor);
        if (reduced.width > reduced_.cols || reduced.height > reduced_.rows) {
            reduced_.create(std::max(reduced.height, reduced_.rows),
                            std::max(reduced.width, reduced_.cols), CV_8UC1);
        }
        from = reduced_(cv::Rect(cv::Point(0, 0), reduced));
        cv::resize(image(source), from, reduced, 0.0, 0.0, cv::INTER_AREA);
    }
    cv::resize(from, into, target.size(), 0.0, 0.0,
               from.cols > target.width ? cv::INTER_AREA : cv::INTER_LINEAR);

    // The grey value scaled to [-1, 1], one channel (see TakeOneChannel).
    window_.convertTo(blobPixels_, CV_32F, 1.0 / 127.5, -1.0);
    net_.setInput(blob_);
    net_.forward(outputs_, outputNames_);
    Decode(source, target, minScore, candidates);
}

void BlazeFace::Decode(const cv::Rect& source, const cv::Rect& target, float minScore,
                       std::vector<FaceCandidate>& candidates) const {
    // Input pixels back to frame pixels, through the rectangles the resize really mapped.
    const float scaleX = static_cast<float>(source.width) / static_cast<float>(target.width);
    const float scaleY = static_cast<float>(source.height) / static_cast<float>(target.height);
    auto toFrame = [&](float x, float y) {
        return cv::Point2f(source.x + (x - target.x) * scaleX, source.y + (y - target.y) * scaleY);
    };
    // score >= minScore  <=>  logit >= log(minScore / (1 - minScore)).
    const float clampedMin = std::clamp(minScore, 1e-6f, 1.0f - 1e-6f);
    const float minLogit = std::log(clampedMin / (1.0f - clampedMin));

    int anchor = 0;
    for (const auto& [scoresIndex, regressorsIndex] :
         {std::pair{scores512_, regressors512_}, std::pair{scores384_, regressors384_}}) {
        const cv::Mat& scores = outputs_[static_cast<size_t>(scoresIndex)];
        const cv::Mat& regressors = outputs_[static_cast<size_t>(regressorsIndex)];
        const float* logits = scores.ptr<float>();
        const float* values = regressors.ptr<float>();
        const int count = scores.size[1];
        for (int i = 0; i < count; ++i, ++anchor) {
            const float logit = std::clamp(logits[i], -100.0f, 100.0f);
            if (logit < minLogit) {
                continue;
            }
            const float* v = values + static_cast<ptrdiff_t>(i) * kRegressorWidth;
            const cv::Point2f base = anchors_[static_cast<size_t>(anchor)] * kInputSize;
            FaceCandidate candidate;
            candidate.score = 1.0f / (1.0f + std::exp(-logit));
            const cv::Point2f centre = toFrame(base.x + v[0], base.y + v[1]);
            const float width = v[2] * scaleX;
            const float height = v[3] * scaleY;
            candidate.box = cv::Rect2f(centre.x - width / 2, centre.y - height / 2, width, height);
            for (size_t k = 0; k < candidate.keypoints.size(); ++k) {
                candidate.keypoints[k] = toFrame(base.x + v[4 + 2 * k], base.y + v[5 + 2 * k]);
            }
            candidates.push_back(candidate);
        }
    }
}

float IntersectionOverUnion(const cv::Rect2f& a, const cv::Rect2f& b) {
    const float intersection = (a & b).area();
    const float united = a.area() + b.area() - intersection;
    return united > 0.0f ? intersection / united : 0.0f;
}

void MergeCandidates(std::vector<FaceCandidate>& candidates, float overlap,
                     std::vector<FaceCandidate>& merged, std::vector<uint8_t>& scratch) {
    merged.clear();
    std::sort(candidates.begin(), candidates.end(),
              [](const FaceCandidate& a, const FaceCandidate& b) { return a.score > b.score; });
    scratch.assign(candidates.size(), 0);
    for (size_t best = 0; best < candidates.size(); ++best) {
        if (scratch[best] != 0) {
            continue;
        }
        const FaceCandidate& top = candidates[best];
        float weight = 0.0f;
        cv::Point2f corner(0.0f, 0.0f);
        cv::Point2f extent(0.0f, 0.0f);
        std::array<cv::Point2f, 6> keypoints{};
        for (size_t other = best; other < candidates.size(); ++other) {
            const FaceCandidate& candidate = candidates[other];
            if (scratch[other] != 0 || IntersectionOverUnion(top.box, candidate.box) <= overlap) {
                continue;
            }
            scratch[other] = 1;
            weight += candidate.score;
            corner += candidate.score * candidate.box.tl();
            extent += candidate.score * cv::Point2f(candidate.box.width, candidate.box.height);
            for (size_t k = 0; k < keypoints.size(); ++k) {
                keypoints[k] += candidate.score * candidate.keypoints[k];
            }
        }
        FaceCandidate result;
        result.score = top.score;
        result.box = cv::Rect2f(corner / weight, cv::Size2f(extent.x / weight, extent.y / weight));
        for (size_t k = 0; k < keypoints.size(); ++k) {
            result.keypoints[k] = keypoints[k] / weight;
        }
        merged.push_back(result);
    }
}

}  // namespace tavo::cpudetector
