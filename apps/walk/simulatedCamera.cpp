#include "apps/walk/simulatedCamera.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

#include <glm/glm.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/common/astronautFace.h"
#include "tavo/common/utilities.h"

namespace tavo::apps::walk {
namespace {

constexpr double kWallMm = 2600.0;
// A frame's noise is a window into this longer run, so frames differ without drawing
// normals for every pixel of every frame.
constexpr int kNoiseFrames = 3;
constexpr float kNoiseSigma = 4.0f;
// A D435's stereo depth: its error grows with the square of the distance, z^2 * subpixel /
// (focal length * baseline), with the 50 mm baseline and a typical 0.08 pixel disparity error;
// about 1.4 mm at 600 mm and 2.7 mm at 850 mm.
constexpr float kBaselineMm = 50.0f;
constexpr float kSubpixel = 0.08f;

}  // namespace

SimulatedCamera::SimulatedCamera(const device::Config& config, const std::string& photoPath) {
    // A D435's infrared stream at 848 x 480.
    intrinsics_.width = kWidth;
    intrinsics_.height = kHeight;
    intrinsics_.fx = 421.7f;
    intrinsics_.fy = 421.7f;
    intrinsics_.ppx = 423.6f;
    intrinsics_.ppy = 239.4f;
    rotation_ = glm::dmat3(GetRotationMatFromRodriguesNotation(config.cameraTheta));
    position_ = glm::dvec3(config.cameraCenter);

    const cv::Mat photo = cv::imread(photoPath, cv::IMREAD_GRAYSCALE);
    if (photo.empty())
        throw std::runtime_error("cannot read the face photograph " + photoPath);
    using namespace astronaut;
    const cv::Rect region(kFaceMiddleX - kCutoutSide / 2, kFaceMiddleY - kCutoutSide / 2,
                          kCutoutSide, kCutoutSide);
    face_ = photo(region).clone();
    faceAlpha_.create(kCutoutSide, kCutoutSide);
    for (int y = 0; y < kCutoutSide; ++y) {
        for (int x = 0; x < kCutoutSide; ++x) {
            const float u = (x + 0.5f) / kCutoutSide - 0.5f;
            const float v = (y + 0.5f) / kCutoutSide - 0.5f;
            const float r = std::sqrt(u * u / 0.2f + v * v / 0.23f);
            faceAlpha_(y, x) = std::clamp((1.0f - r) / 0.12f, 0.0f, 1.0f);
        }
    }

    // A dim, unevenly lit room strewn with the projector's dots; the wall behind is far.
    std::mt19937 random(7);
    background_.create(kHeight, kWidth);
    backgroundDepth_.create(kHeight, kWidth);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            background_(y, x) = 55.0f + 25.0f * static_cast<float>(x) / kWidth +
                                15.0f * std::sin(y * 0.013f + x * 0.004f);
            backgroundDepth_(y, x) = static_cast<float>(kWallMm + 150.0 * std::sin(x * 0.004));
        }
    }
    std::uniform_int_distribution<int> dotX(0, kWidth - 1), dotY(0, kHeight - 1);
    for (int dot = 0; dot < kWidth * kHeight / 150; ++dot)
        background_(dotY(random), dotX(random)) += 45.0f;
    std::normal_distribution<float> noise(0.0f, kNoiseSigma);
    noise_.resize(static_cast<size_t>(kWidth) * kHeight * kNoiseFrames);
    for (float& value : noise_)
        value = noise(random);
    image_.create(kHeight, kWidth);
    depth_.create(kHeight, kWidth);
}

glm::dvec3 SimulatedCamera::ToCamera(const glm::dvec3& display) const {
    // The tracker maps camera point c to (-(R c).x, -(R c).y, (R c).z) + position.
    const glm::dvec3 d = display - position_;
    return glm::transpose(rotation_) * glm::dvec3(-d.x, -d.y, d.z);
}

glm::dvec2 SimulatedCamera::Project(const glm::dvec3& display) const {
    const glm::dvec3 c = ToCamera(display);
    return {intrinsics_.fx * c.x / c.z + intrinsics_.ppx,
            intrinsics_.fy * c.y / c.z + intrinsics_.ppy};
}

bool SimulatedCamera::InView(const Head& head) const {
    for (const glm::dvec3& eye : {head.rightEye, head.leftEye}) {
        const glm::dvec2 p = Project(eye);
        if (ToCamera(eye).z <= 0.0 || p.x < 0.0 || p.y < 0.0 || p.x >= kWidth || p.y >= kHeight)
            return false;
    }
    return true;
}

void SimulatedCamera::Render(const std::vector<Head>& heads, uint64_t index) {
    background_.copyTo(canvas_);
    backgroundDepth_.copyTo(depthCanvas_);
    std::vector<Head> ordered = heads;
    std::sort(ordered.begin(), ordered.end(),
              [](const Head& a, const Head& b) { return a.middle().z > b.middle().z; });
    for (const Head& head : ordered)
        Paste(head);
    const size_t pixels = static_cast<size_t>(kWidth) * kHeight;
    const float* noise = noise_.data() + (index * 7919 % (pixels * (kNoiseFrames - 1)));
    const float depthNoise = kSubpixel / (intrinsics_.fx * kBaselineMm * kNoiseSigma);
    for (int y = 0; y < kHeight; ++y) {
        const float* in = canvas_[y];
        const float* n = noise + static_cast<size_t>(y) * kWidth;
        const float* z = depthCanvas_[y];
        uint8_t* out = image_[y];
        uint16_t* depthOut = depth_[y];
        for (int x = 0; x < kWidth; ++x) {
            out[x] = cv::saturate_cast<uint8_t>(in[x] + n[x]);
            depthOut[x] = cv::saturate_cast<uint16_t>(z[x] * (1.0f + z[x] * depthNoise * n[x]));
        }
    }
}

void SimulatedCamera::Paste(const Head& head) {
    const glm::dvec3 middle = ToCamera(head.middle());
    if (middle.z <= 0.0)
        return;
    // The similarity that puts the photograph's eyes on the projected eyes: in the image the
    // subject's right eye is on the left, as in the photograph.
    const glm::dvec2 right = Project(head.rightEye), left = Project(head.leftEye);
    const glm::dvec2 photoRight(astronaut::kRightEyeX, astronaut::kRightEyeY);
    const glm::dvec2 photoLeft(astronaut::kLeftEyeX, astronaut::kLeftEyeY);
    const glm::dvec2 from = photoLeft - photoRight, to = left - right;
    const double scale = glm::length(to) / glm::length(from);
    const double angle = std::atan2(to.y, to.x) - std::atan2(from.y, from.x);
    const double c = scale * std::cos(angle), s = scale * std::sin(angle);
    // Cut-out coordinates: the photograph's less the cut-out's corner.
    const glm::dvec2 corner(astronaut::kFaceMiddleX - astronaut::kCutoutSide / 2,
                            astronaut::kFaceMiddleY - astronaut::kCutoutSide / 2);
    const glm::dvec2 a = photoRight - corner;
    const double tx = right.x - (c * a.x - s * a.y);
    const double ty = right.y - (s * a.x + c * a.y);

    // Only the face's bounding box is warped.
    double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    for (double u : {0.0, double(astronaut::kCutoutSide)}) {
        for (double v : {0.0, double(astronaut::kCutoutSide)}) {
            const double x = c * u - s * v + tx, y = s * u + c * v + ty;
            minX = std::min(minX, x), maxX = std::max(maxX, x);
            minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
    }
    const cv::Rect box = cv::Rect(cv::Point(int(std::floor(minX)), int(std::floor(minY))),
                                  cv::Point(int(std::ceil(maxX)) + 1, int(std::ceil(maxY)) + 1)) &
                         cv::Rect(0, 0, kWidth, kHeight);
    if (box.empty())
        return;
    const cv::Matx23d toBox(c, -s, tx - box.x, s, c, ty - box.y);
    cv::Mat1b face;
    cv::Mat1f alpha;
    cv::warpAffine(face_, face, toBox, box.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    cv::warpAffine(faceAlpha_, alpha, toBox, box.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    // The projector lights near faces more brightly.
    const float gain = static_cast<float>(std::clamp(std::pow(650.0 / middle.z, 0.5), 0.6, 1.2));
    const float faceDepth = static_cast<float>(middle.z);
    for (int y = 0; y < box.height; ++y) {
        float* out = canvas_[box.y + y];
        float* z = depthCanvas_[box.y + y];
        for (int x = 0; x < box.width; ++x) {
            const float w = alpha(y, x);
            if (w <= 0.0f)
                continue;
            out[box.x + x] = w * gain * face(y, x) + (1.0f - w) * out[box.x + x];
            if (w > 0.5f)
                z[box.x + x] = faceDepth;
        }
    }
}

ImageDesc SimulatedCamera::infrared() const {
    ImageDesc desc;
    desc.width = kWidth;
    desc.height = kHeight;
    desc.data = image_.data;
    return desc;
}

}  // namespace tavo::apps::walk
