// Gradient-agreement eye centres, on a small patch of fixed size so the cost does not grow with
// the face.
#include "eyeCentre.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

namespace tavo::cpudetector {

namespace {

// Patch size the eye region is resampled to, columns by rows (wider than high, like an eye).
constexpr int kPatchWidth = 32;
constexpr int kPatchHeight = 22;
// Candidate centres keep this many patch pixels from the border, where gradients are one-sided.
constexpr int kMargin = 4;

// Sub-pixel offset of a peak from three samples around it.
float ParabolicOffset(float before, float at, float after) {
    const float curvature = before - 2.0f * at + after;
    if (curvature >= 0.0f) {
        return 0.0f;
    }
    return std::clamp(0.5f * (before - after) / curvature, -0.5f, 0.5f);
}

// A [1 2 1] / 4 blur in both directions, borders replicated. OpenCV's filters would build a
// filter engine, and allocate, on every call.
void Smooth(const cv::Mat& source, cv::Mat& target) {
    target.create(source.size(), CV_32F);
    const int width = source.cols;
    const int height = source.rows;
    for (int y = 0; y < height; ++y) {
        const float* above = source.ptr<float>(std::max(y - 1, 0));
        const float* row = source.ptr<float>(y);
        const float* below = source.ptr<float>(std::min(y + 1, height - 1));
        float* out = target.ptr<float>(y);
        for (int x = 0; x < width; ++x) {
            const int left = std::max(x - 1, 0);
            const int right = std::min(x + 1, width - 1);
            auto column = [&](int at) { return above[at] + 2.0f * row[at] + below[at]; };
            out[x] = (column(left) + 2.0f * column(x) + column(right)) * (1.0f / 16.0f);
        }
    }
}

}  // namespace

cv::Point2f EyeCentreLocator::Locate(const cv::Mat& image, cv::Point2f guess, float searchRadius) {
    // A coarse pass over the whole neighbourhood, then a fine one around what it found.
    cv::Point2f coarse;
    if (!Pass(image, guess, searchRadius * 1.25f, coarse)) {
        return guess;
    }
    cv::Point2f fine;
    if (!Pass(image, coarse, searchRadius * 0.6f, fine)) {
        return coarse;
    }
    return fine;
}

bool EyeCentreLocator::Pass(const cv::Mat& image, cv::Point2f centre, float halfWidth,
                            cv::Point2f& found) {
    const float halfHeight = halfWidth * kPatchHeight / kPatchWidth;
    const cv::Rect wanted(static_cast<int>(std::floor(centre.x - halfWidth)),
                          static_cast<int>(std::floor(centre.y - halfHeight)),
                          static_cast<int>(std::ceil(2.0f * halfWidth)),
                          static_cast<int>(std::ceil(2.0f * halfHeight)));
    const cv::Rect region = wanted & cv::Rect(0, 0, image.cols, image.rows);
    // Too little of the eye in the image, or too few pixels to say anything.
    if (region.width < 6 || region.height < 4 || region.area() * 2 < wanted.area()) {
        return false;
    }
    cv::resize(image(region), patch_, cv::Size(kPatchWidth, kPatchHeight), 0.0, 0.0,
               region.width > kPatchWidth ? cv::INTER_AREA : cv::INTER_LINEAR);
    patch_.convertTo(raw_, CV_32F);
    Smooth(raw_, smooth_);
    // Darkness prior: the iris and pupil are the darkest part of the eye.
    Smooth(smooth_, darkness_);

    // Central differences; keep the strong gradients as unit vectors.
    gradients_.clear();
    double sum = 0.0;
    double sumSquares = 0.0;
    int count = 0;
    for (int y = 1; y < kPatchHeight - 1; ++y) {
        const float* above = smooth_.ptr<float>(y - 1);
        const float* row = smooth_.ptr<float>(y);
        const float* below = smooth_.ptr<float>(y + 1);
        for (int x = 1; x < kPatchWidth - 1; ++x) {
            const float gx = 0.5f * (row[x + 1] - row[x - 1]);
            const float gy = 0.5f * (below[x] - above[x]);
            const float magnitude = std::sqrt(gx * gx + gy * gy);
            sum += magnitude;
            sumSquares += static_cast<double>(magnitude) * magnitude;
            ++count;
            gradients_.push_back({static_cast<float>(x), static_cast<float>(y), gx, gy});
        }
    }
    const double mean = sum / count;
    const double deviation = std::sqrt(std::max(0.0, sumSquares / count - mean * mean));
    const auto threshold = static_cast<float>(mean + 0.3 * deviation);
    if (threshold <= 1.0f) {
        return false;  // flat: no structure to read a centre from
    }
    auto strong = std::remove_if(gradients_.begin(), gradients_.end(), [&](Gradient& g) {
        const float magnitude = std::sqrt(g.gx * g.gx + g.gy * g.gy);
        if (magnitude < threshold) {
            return true;
        }
        g.gx /= magnitude;
        g.gy /= magnitude;
        return false;
    });
    gradients_.erase(strong, gradients_.end());

    // The gradients as columns of four, padded with null gradients far away, for the search
    // below to take four at a time.
    const size_t padded = (gradients_.size() + 3) / 4 * 4;
    for (std::vector<float>* column : {&xs_, &ys_, &gxs_, &gys_}) {
        column->assign(padded, 0.0f);
    }
    std::fill(xs_.begin() + static_cast<ptrdiff_t>(gradients_.size()), xs_.end(), -1e4f);
    for (size_t i = 0; i < gradients_.size(); ++i) {
        xs_[i] = gradients_[i].x;
        ys_[i] = gradients_[i].y;
        gxs_[i] = gradients_[i].gx;
        gys_[i] = gradients_[i].gy;
    }

    objective_.create(kPatchHeight, kPatchWidth, CV_32F);
    objective_.setTo(0.0f);
    float best = -1.0f;
    cv::Point bestAt(-1, -1);
    const cv::v_float32x4 zero = cv::v_setzero_f32();
    // A gradient at the candidate itself has no direction from it: its product is 0, and the
    // length is kept off 0 to give 0 rather than 0 / 0.
    const cv::v_float32x4 tiny = cv::v_setall_f32(1e-12f);
    for (int y = kMargin; y < kPatchHeight - kMargin; ++y) {
        const float* dark = darkness_.ptr<float>(y);
        float* out = objective_.ptr<float>(y);
        const cv::v_float32x4 cy = cv::v_setall_f32(static_cast<float>(y));
        for (int x = kMargin; x < kPatchWidth - kMargin; ++x) {
            const cv::v_float32x4 cx = cv::v_setall_f32(static_cast<float>(x));
            cv::v_float32x4 sum = zero;
            for (size_t i = 0; i < padded; i += 4) {
                const cv::v_float32x4 dx = cv::v_load(xs_.data() + i) - cx;
                const cv::v_float32x4 dy = cv::v_load(ys_.data() + i) - cy;
                const cv::v_float32x4 lengthSquared = cv::v_max(dx * dx + dy * dy, tiny);
                // Only gradients pointing away from the centre: dark inside, bright outside.
                const cv::v_float32x4 dot = cv::v_max(
                    dx * cv::v_load(gxs_.data() + i) + dy * cv::v_load(gys_.data() + i), zero);
                sum += dot * dot / lengthSquared;
            }
            out[x] = cv::v_reduce_sum(sum) * (255.0f - dark[x]);
            if (out[x] > best) {
                best = out[x];
                bestAt = cv::Point(x, y);
            }
        }
    }
    if (bestAt.x < 0 || best <= 0.0f) {
        return false;
    }
    float px = static_cast<float>(bestAt.x);
    float py = static_cast<float>(bestAt.y);
    const float* row = objective_.ptr<float>(bestAt.y);
    if (bestAt.x > kMargin && bestAt.x < kPatchWidth - kMargin - 1) {
        px += ParabolicOffset(row[bestAt.x - 1], row[bestAt.x], row[bestAt.x + 1]);
    }
    if (bestAt.y > kMargin && bestAt.y < kPatchHeight - kMargin - 1) {
        py += ParabolicOffset(objective_.at<float>(bestAt.y - 1, bestAt.x), row[bestAt.x],
                              objective_.at<float>(bestAt.y + 1, bestAt.x));
    }
    // Patch pixel centres back to frame coordinates.
    const float scaleX = static_cast<float>(region.width) / kPatchWidth;
    const float scaleY = static_cast<float>(region.height) / kPatchHeight;
    found = cv::Point2f(region.x + (px + 0.5f) * scaleX, region.y + (py + 0.5f) * scaleY);
    return true;
}

}  // namespace tavo::cpudetector
