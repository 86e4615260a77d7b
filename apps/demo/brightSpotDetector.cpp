// The demo's detector plug-in: finds a viewer's eyes as the two bright blobs of an infrared
// image and estimates their depth from the pixel distance between them.
#include <cmath>
#include <cstdint>

#include "tavo/headTracking/engine/blinkDetectorPlugin.h"

namespace {

// Millimetres between a typical viewer's eyes, the ruler for the depth estimate.
constexpr double kInterocularDistanceMm = 63.0;
constexpr uint8_t kBrightThreshold = 128;
constexpr int64_t kMinBlobPixels = 3;

class BrightSpotDetector final : public tavo::head::FaceDetector {
  public:
    explicit BrightSpotDetector(tavo_face_detector_backend_e backend) : backend_(backend) {
        output_.faces.reserve(1);
    }

    int32_t GetMaxNumOfFacesLimit() const override { return 1; }
    int32_t GetMaxNumOfFaces() const override { return 1; }
    void SetMaxNumOfFaces(int32_t) override {}
    tavo_face_detector_backend_e GetBackend() const override { return backend_; }
    void SetCameraIntrinsics(const tavo::CameraIntrinsics& intrinsics) override {
        if (intrinsics.fx > 0.0f) {
            focalLength_ = intrinsics.fx;
        }
    }

    Output& Detect(const tavo::head::CameraFrame& frame) override {
        output_.faces.clear();
        const auto images = frame.imageDescs();
        if (images.empty() || images[0].data == nullptr) {
            return output_;
        }
        const tavo::ImageDesc& image = images[0];
        Cluster left;
        Cluster right;
        if (!FindEyes(image, left, right)) {
            return output_;
        }
        const double separation = std::hypot(right.x - left.x, right.y - left.y);
        if (separation < 1.0) {
            return output_;
        }
        const auto depth =
            static_cast<float>(focalLength_ * kInterocularDistanceMm / separation / 1000.0);
        tavo::head::DetectedFace face;
        // Facing the camera, the viewer's right eye is the one on the image's left.
        face.rightEyePixel = {left.x, left.y};
        face.rightEyeDepth = depth;
        face.leftEyePixel = {right.x, right.y};
        face.leftEyeDepth = depth;
        output_.faces.push_back(face);
        return output_;
    }

  private:
    struct Cluster {
        double x = 0.0;
        double y = 0.0;
        int64_t count = 0;
    };

    // Two-means on the bright pixels' columns, seeded with the leftmost and rightmost ones.
    static bool FindEyes(const tavo::ImageDesc& image, Cluster& left, Cluster& right) {
        double minX = image.width;
        double maxX = -1.0;
        ForEachBright(image, [&](int32_t x, int32_t) {
            minX = std::fmin(minX, x);
            maxX = std::fmax(maxX, x);
        });
        if (maxX < minX) {
            return false;
        }
        double split = (minX + maxX) / 2.0;
        for (int iteration = 0; iteration < 4; ++iteration) {
            left = {};
            right = {};
            ForEachBright(image, [&](int32_t x, int32_t y) {
                Cluster& cluster = x < split ? left : right;
                cluster.x += x + 0.5;
                cluster.y += y + 0.5;
                ++cluster.count;
            });
            if (left.count < kMinBlobPixels || right.count < kMinBlobPixels) {
                return false;
            }
            left.x /= static_cast<double>(left.count);
            left.y /= static_cast<double>(left.count);
            right.x /= static_cast<double>(right.count);
            right.y /= static_cast<double>(right.count);
            split = (left.x + right.x) / 2.0;
        }
        return true;
    }

    template <typename Visit>
    static void ForEachBright(const tavo::ImageDesc& image, Visit&& visit) {
        for (int32_t y = 0; y < image.height; ++y) {
            const uint8_t* row = image.data + static_cast<int64_t>(y) * image.width;
            for (int32_t x = 0; x < image.width; ++x) {
                if (row[x] >= kBrightThreshold) {
                    visit(x, y);
                }
            }
        }
    }

    tavo_face_detector_backend_e backend_;
    double focalLength_ = 420.0;
    Output output_;
};

}  // namespace

extern "C" {

tavo::head::FaceDetector* Plugin_CreateBlinkDetector(
    const tavo::head::BlinkDetectorConfiguration& configuration, tavo::AssetManager*) {
    return new BrightSpotDetector(configuration.faceDetector.backend);
}

void Plugin_DeleteBlinkDetector(tavo::head::FaceDetector* detector) {
    delete static_cast<BrightSpotDetector*>(detector);
}
}
