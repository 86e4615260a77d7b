// Eye-centre localisation by means of gradients (Timm and Barth, 2011): the centre of a dark
// round iris is the point whose displacement directions agree best with the image gradients
// around it.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace tavo::cpudetector {

// Not thread-safe: one caller at a time. Reuses its buffers from call to call.
class EyeCentreLocator {
  public:
    // The eye centre near `guess` (frame pixels, continuous coordinates) in an 8-bit grey
    // `image`, searched within `searchRadius` pixels horizontally and 2/3 of that vertically.
    // Returns `guess` when the neighbourhood is too small or too flat to decide.
    cv::Point2f Locate(const cv::Mat& image, cv::Point2f guess, float searchRadius);

  private:
    // One pass over the patch around `centre`, of half-width `halfWidth`.
    bool Pass(const cv::Mat& image, cv::Point2f centre, float halfWidth, cv::Point2f& found);

    struct Gradient {
        float x, y, gx, gy;
    };

    cv::Mat patch_;
    cv::Mat raw_;
    cv::Mat smooth_;
    cv::Mat darkness_;
    cv::Mat objective_;
    std::vector<Gradient> gradients_;
    std::vector<float> xs_, ys_, gxs_, gys_;
};

}  // namespace tavo::cpudetector
