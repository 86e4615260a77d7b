// Synthetic infrared images of a head moving in front of the camera: two bright eye discs on a
// dark background, sized and spaced by the head's distance.
#pragma once

#include <cstdint>
#include <vector>

#include <glm/glm.hpp>

#include "tavo/headTracking/common/types.h"

namespace tavo::demo {

class SyntheticScene {
  public:
    static constexpr int32_t kWidth = 848;
    static constexpr int32_t kHeight = 480;
    static constexpr float kFocalLength = 420.0f;
    // Millimetres between the eyes of the synthetic viewer.
    static constexpr float kInterocularDistance = 63.0f;

    CameraIntrinsics intrinsics() const;
    // Draws the head whose eye midpoint is at `head` (camera space, millimetres) and returns
    // the image; the pixels stay valid until the next Render.
    ImageDesc Render(const glm::vec3& head);

  private:
    void DrawDisc(const glm::dvec2& centre, double radius);

    std::vector<uint8_t> pixels_ = std::vector<uint8_t>(kWidth * kHeight);
};

}  // namespace tavo::demo
