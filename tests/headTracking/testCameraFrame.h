// A scripted camera frame for tests: pinhole deprojection, scripted depth, an owned image.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include "tavo/headTracking/common/types.h"

namespace tavo::head::test {

// Pinhole model whose pixels are 1 mm apart at 1 m depth, centred in a 2000 × 2000 image.
inline CameraIntrinsics TestIntrinsics() {
    CameraIntrinsics intrinsics;
    intrinsics.width = 2000;
    intrinsics.height = 2000;
    intrinsics.ppx = 1000.0f;
    intrinsics.ppy = 1000.0f;
    intrinsics.fx = 1000.0f;
    intrinsics.fy = 1000.0f;
    return intrinsics;
}

// A CameraFrame that deprojects with its own pinhole intrinsics (or declines, to exercise a
// consumer's fallback), answers depth queries from a script, and owns one 8-bit image.
class TestCameraFrame : public CameraFrame {
  public:
    explicit TestCameraFrame(double ms = 0.0,
                             const CameraIntrinsics& frameIntrinsics = TestIntrinsics())
        : intrinsics(frameIntrinsics) {
        stamp = Timestamp{Timestamp::Space::System, ms};
        SetImage(intrinsics.width, intrinsics.height);
    }

    // Replaces the image with a width × height one whose pixels are `fill`.
    void SetImage(int32_t width, int32_t height, uint8_t fill = 0, int32_t rotation = 0) {
        pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fill);
        images.assign(1, ImageDesc{width, height, rotation, pixels.data()});
    }

    Timestamp timestamp() const override { return stamp; }
    Slice<const ImageDesc> imageDescs() const override {
        return {images.data(), static_cast<int64_t>(images.size())};
    }
    bool GetDepth(const glm::dvec2& pixel, float& depth) const override {
        return depthScript ? depthScript(pixel, depth) : false;
    }
    bool DeprojectPixelToPoint(const glm::dvec2& pixel, float depth,
                               glm::vec3& point) const override {
        ++deprojectCalls;
        if (!deprojects) {
            return false;
        }
        point = glm::vec3(static_cast<float>((pixel.x - intrinsics.ppx) / intrinsics.fx * depth),
                          static_cast<float>((pixel.y - intrinsics.ppy) / intrinsics.fy * depth),
                          depth);
        return true;
    }
    bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2& pixel,
                             float& depth) const override {
        if (!deprojects || point.z <= 0.0f) {
            return false;
        }
        pixel = ProjectWith(intrinsics, point);
        depth = point.z;
        return true;
    }

    // The pixel (rounded to whole pixels, which is what a tracker reads back) of a camera-space
    // point in metres.
    static glm::dvec2 ProjectWith(const CameraIntrinsics& model, const glm::vec3& point) {
        return {std::round(static_cast<double>(point.x) / point.z * model.fx + model.ppx),
                std::round(static_cast<double>(point.y) / point.z * model.fy + model.ppy)};
    }

    Timestamp stamp;
    CameraIntrinsics intrinsics;
    std::vector<uint8_t> pixels;
    std::vector<ImageDesc> images;
    // False: DeprojectPixelToPoint and ProjectPointToPixel decline.
    bool deprojects = true;
    std::function<bool(const glm::dvec2&, float&)> depthScript;
    mutable int deprojectCalls = 0;
};

// A detection whose eyes sit at the given camera-space points (millimetres) as seen through
// `model`.
inline DetectedFace DetectionAt(const glm::vec3& rightEyeMm, const glm::vec3& leftEyeMm,
                                float yaw = 0.0f,
                                const CameraIntrinsics& model = TestIntrinsics()) {
    DetectedFace face;
    const glm::vec3 right = rightEyeMm / 1000.0f;
    const glm::vec3 left = leftEyeMm / 1000.0f;
    face.rightEyePixel = TestCameraFrame::ProjectWith(model, right);
    face.rightEyeDepth = right.z;
    face.leftEyePixel = TestCameraFrame::ProjectWith(model, left);
    face.leftEyeDepth = left.z;
    face.angles = glm::vec3(0.0f, yaw, 0.0f);
    return face;
}

// A detection of a face whose eye midpoint is `midpointMm` (camera space), eyes level and
// `eyeDistance` apart along x.
inline DetectedFace FaceAt(const glm::vec3& midpointMm, float yaw = 0.0f,
                           float eyeDistance = 60.0f) {
    const glm::vec3 half(eyeDistance / 2.0f, 0.0f, 0.0f);
    return DetectionAt(midpointMm - half, midpointMm + half, yaw);
}

}  // namespace tavo::head::test
