#include "syntheticScene.h"

#include <algorithm>
#include <cmath>

namespace tavo::demo {

CameraIntrinsics SyntheticScene::intrinsics() const {
    CameraIntrinsics intrinsics;
    intrinsics.width = kWidth;
    intrinsics.height = kHeight;
    intrinsics.ppx = kWidth / 2.0f;
    intrinsics.ppy = kHeight / 2.0f;
    intrinsics.fx = kFocalLength;
    intrinsics.fy = kFocalLength;
    return intrinsics;
}

ImageDesc SyntheticScene::Render(const glm::vec3& head) {
    std::fill(pixels_.begin(), pixels_.end(), uint8_t{16});
    const auto project = [&](const glm::vec3& point) {
        return glm::dvec2(kFocalLength * point.x / point.z + kWidth / 2.0,
                          kFocalLength * point.y / point.z + kHeight / 2.0);
    };
    const glm::vec3 halfEyes(kInterocularDistance / 2.0f, 0.0f, 0.0f);
    // An eye of about 12 mm, so the discs shrink as the viewer moves away.
    const double radius = std::max(1.5, kFocalLength * 6.0 / head.z);
    DrawDisc(project(head - halfEyes), radius);
    DrawDisc(project(head + halfEyes), radius);
    return ImageDesc{kWidth, kHeight, 0, pixels_.data()};
}

void SyntheticScene::DrawDisc(const glm::dvec2& centre, double radius) {
    const int32_t x0 = std::max(0, static_cast<int32_t>(std::floor(centre.x - radius)));
    const int32_t x1 = std::min(kWidth - 1, static_cast<int32_t>(std::ceil(centre.x + radius)));
    const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(centre.y - radius)));
    const int32_t y1 = std::min(kHeight - 1, static_cast<int32_t>(std::ceil(centre.y + radius)));
    for (int32_t y = y0; y <= y1; ++y) {
        for (int32_t x = x0; x <= x1; ++x) {
            const double dx = x + 0.5 - centre.x;
            const double dy = y + 0.5 - centre.y;
            if (dx * dx + dy * dy <= radius * radius) {
                pixels_[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)] = 240;
            }
        }
    }
}

}  // namespace tavo::demo
