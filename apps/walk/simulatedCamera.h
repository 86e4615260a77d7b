// The host's own depth camera, simulated: D400-like intrinsics at the display configuration's
// camera pose, 8-bit infrared-like images (grey background, noise, the projector's dots) with a
// real face photograph pasted where each head's eyes project, and a matching depth image.
//
// One thread at a time; the images stay valid until the next Render.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <glm/mat3x3.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <opencv2/core.hpp>

#include "apps/walk/walkScript.h"
#include "tavo/device/config.h"
#include "tavo/headTracking/common/types.h"

namespace tavo::apps::walk {

class SimulatedCamera {
  public:
    static constexpr int kWidth = 848;
    static constexpr int kHeight = 480;

    // Reads the face photograph (scikit-image's astronaut.png) from `photoPath`; throws
    // std::runtime_error when it cannot.
    SimulatedCamera(const device::Config& config, const std::string& photoPath);

    CameraIntrinsics intrinsics() const { return intrinsics_; }

    // Display space (mm) to camera space (mm) and back, the inverse of the tracker's mapping.
    glm::dvec3 ToCamera(const glm::dvec3& display) const;
    // The pixel (continuous coordinates) where a display-space point lands.
    glm::dvec2 Project(const glm::dvec3& display) const;
    bool InView(const Head& head) const;

    // Draws the heads (nearest last, so it covers the others) for frame `index`.
    void Render(const std::vector<Head>& heads, uint64_t index);
    ImageDesc infrared() const;
    // Depth in millimetres (0 where nothing was measured), the same pixel grid.
    const cv::Mat1w& depth() const { return depth_; }
    const cv::Mat1b& infraredPixels() const { return image_; }

  private:
    void Paste(const Head& head);

    CameraIntrinsics intrinsics_;
    glm::dmat3 rotation_;  // the tracker's camera rotation
    glm::dvec3 position_;  // camera position, display space
    cv::Mat1b face_;       // the photograph's face, grey
    cv::Mat1f faceAlpha_;  // a feathered ellipse, so no square outline gives the face away
    cv::Mat1f background_;
    cv::Mat1f backgroundDepth_;
    std::vector<float> noise_;
    cv::Mat1f canvas_;
    cv::Mat1f depthCanvas_;
    cv::Mat1b image_;
    cv::Mat1w depth_;
};

}  // namespace tavo::apps::walk
