// What the CPU detector's tests share: the plug-in loaded as the engine loads it, assets from
// a chosen folder, scikit-image's photographs in grey, and synthetic infrared frames with a
// pasted face whose eye centres are known.
#pragma once

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/common/astronautFace.h"
#include "headTracking/testCameraFrame.h"
#include "tavo/common/assetManager.h"
#include "tavo/headTracking/engine/blinkDetectorPlugin.h"

namespace tavo::cpudetector::test {

// The hand-measured eye centres in scikit-image's astronaut.png, continuous pixel coordinates.
inline const cv::Point2f kAstronautRightEye(apps::astronaut::kRightEyeX,
                                            apps::astronaut::kRightEyeY);
inline const cv::Point2f kAstronautLeftEye(apps::astronaut::kLeftEyeX, apps::astronaut::kLeftEyeY);

inline float EyeError(const glm::dvec2& found, cv::Point2f expected, float eyeDistance) {
    return static_cast<float>(std::hypot(found.x - expected.x, found.y - expected.y)) / eyeDistance;
}

// A photograph of scikit-image's data, in grey; empty when missing.
inline cv::Mat Photo(const std::string& name) {
    return cv::imread(std::string(TAVO_SKIMAGE_DATA_DIR) + "/" + name, cv::IMREAD_GRAYSCALE);
}

// Reads assets from one folder, whatever root the caller names.
class FolderAssetManager final : public AssetManager {
  public:
    explicit FolderAssetManager(std::filesystem::path folder)
        : inner_(AssetManager::Create(nullptr)) {
        root_.directory = std::move(folder);
    }
    AssetBuffer Read(const std::string& name, AssetRoot*) override {
        return inner_->Read(name, &root_);
    }
    std::string ReadText(const std::string& name, AssetRoot*) override {
        return inner_->ReadText(name, &root_);
    }
    std::filesystem::path ResolvePath(const std::string& name, AssetRoot*) override {
        return inner_->ResolvePath(name, &root_);
    }

  private:
    std::unique_ptr<AssetManager> inner_;
    AssetRoot root_;
};

// The built assets, where the install script put the model.
inline std::filesystem::path BuiltAssets() {
    return TAVO_TEST_ASSETS_DIR;
}

// The real plug-in, loaded from its file; detectors are released through its delete function.
class CpuDetectorPlugin {
  public:
    CpuDetectorPlugin() : handle_(::dlopen(TAVO_CPU_DETECTOR_PLUGIN, RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ != nullptr) {
            create_ = reinterpret_cast<head::PluginCreateBlinkDetectorFunction*>(
                ::dlsym(handle_, head::kPluginCreateBlinkDetectorSymbol));
            destroy_ = reinterpret_cast<head::PluginDeleteBlinkDetectorFunction*>(
                ::dlsym(handle_, head::kPluginDeleteBlinkDetectorSymbol));
        }
    }
    ~CpuDetectorPlugin() {
        if (handle_ != nullptr) {
            ::dlclose(handle_);
        }
    }
    CpuDetectorPlugin(const CpuDetectorPlugin&) = delete;
    CpuDetectorPlugin& operator=(const CpuDetectorPlugin&) = delete;

    bool loaded() const { return create_ != nullptr && destroy_ != nullptr; }

    using Detector = std::unique_ptr<head::FaceDetector, head::PluginDeleteBlinkDetectorFunction*>;
    Detector Create(AssetManager* assets, int32_t maxNumOfFaces = 0) const {
        const head::FaceDetectorConfiguration faceDetector{maxNumOfFaces,
                                                           kTavoFaceDetectorBackendCPU};
        const head::BlinkDetectorConfiguration configuration{faceDetector, {}};
        return Detector(create_(configuration, assets), destroy_);
    }

  private:
    void* handle_;
    head::PluginCreateBlinkDetectorFunction* create_ = nullptr;
    head::PluginDeleteBlinkDetectorFunction* destroy_ = nullptr;
};

// A camera frame holding a copy of `image`, without depth unless a script gives some.
inline std::unique_ptr<head::test::TestCameraFrame> FrameOf(const cv::Mat& image, double ms = 0.0) {
    CameraIntrinsics intrinsics;
    intrinsics.width = image.cols;
    intrinsics.height = image.rows;
    intrinsics.ppx = image.cols / 2.0f;
    intrinsics.ppy = image.rows / 2.0f;
    intrinsics.fx = intrinsics.fy = 420.0f;
    auto frame = std::make_unique<head::test::TestCameraFrame>(ms, intrinsics);
    frame->SetImage(image.cols, image.rows);
    cv::Mat into(image.rows, image.cols, CV_8UC1, frame->pixels.data());
    image.copyTo(into);
    return frame;
}

// The astronaut's face in a square around it, and where it lies in the photograph.
struct FaceCutout {
    cv::Mat pixels;
    cv::Rect region;
    // The face's own width inside the cutout, the unit of the pasted widths.
    float faceWidth;
};

inline FaceCutout AstronautFace() {
    using namespace apps::astronaut;
    const cv::Rect region(kFaceMiddleX - kCutoutSide / 2, kFaceMiddleY - kCutoutSide / 2,
                          kCutoutSide, kCutoutSide);
    return {Photo("astronaut.png")(region).clone(), region, kFaceWidth};
}

// An 848 x 480 frame like the depth camera's infrared image: dim, uneven, noisy, strewn with
// the projector's dots, the faces pasted in with feathered edges. Each face has a width in
// pixels and a centre; their eye centres are returned in the same order.
struct PastedFace {
    float width;
    cv::Point2f centre;
};
struct SyntheticFrame {
    cv::Mat image;
    std::vector<std::pair<cv::Point2f, cv::Point2f>> eyes;  // right, left
};

inline SyntheticFrame InfraredFrame(const std::vector<PastedFace>& faces, unsigned seed = 1) {
    constexpr int kWidth = 848;
    constexpr int kHeight = 480;
    std::mt19937 random(seed);
    cv::Mat1f image(kHeight, kWidth);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            image(y, x) = 55.0f + 25.0f * static_cast<float>(x) / kWidth +
                          15.0f * std::sin(y * 0.013f + x * 0.004f);
        }
    }
    const FaceCutout cutout = AstronautFace();
    SyntheticFrame result;
    for (const PastedFace& face : faces) {
        const int side =
            static_cast<int>(std::lround(cutout.region.width * face.width / cutout.faceWidth));
        const float scale = static_cast<float>(side) / static_cast<float>(cutout.region.width);
        cv::Mat scaled;
        cv::resize(cutout.pixels, scaled, cv::Size(side, side), 0, 0,
                   scale < 1.0f ? cv::INTER_AREA : cv::INTER_LINEAR);
        const cv::Point2f faceMiddle(
            static_cast<float>(apps::astronaut::kFaceMiddleX - cutout.region.x),
            static_cast<float>(apps::astronaut::kFaceMiddleY - cutout.region.y));
        const cv::Point2f origin = face.centre - faceMiddle * scale;
        const int left = static_cast<int>(std::lround(origin.x));
        const int top = static_cast<int>(std::lround(origin.y));
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const int fx = left + x;
                const int fy = top + y;
                if (fx < 0 || fy < 0 || fx >= kWidth || fy >= kHeight) {
                    continue;
                }
                // A soft-edged ellipse, so no square outline gives the face away.
                const float u = (x + 0.5f) / side - 0.5f;
                const float v = (y + 0.5f) / side - 0.5f;
                const float r = std::sqrt(u * u / 0.2f + v * v / 0.23f);
                const float alpha = std::clamp((1.0f - r) / 0.12f, 0.0f, 1.0f);
                image(fy, fx) = alpha * scaled.at<uint8_t>(y, x) + (1.0f - alpha) * image(fy, fx);
            }
        }
        auto place = [&](cv::Point2f eye) {
            return cv::Point2f(static_cast<float>(left), static_cast<float>(top)) +
                   (eye - cv::Point2f(cutout.region.tl())) * scale;
        };
        result.eyes.emplace_back(place(kAstronautRightEye), place(kAstronautLeftEye));
    }
    std::normal_distribution<float> noise(0.0f, 4.0f);
    std::uniform_int_distribution<int> dotX(0, kWidth - 2);
    std::uniform_int_distribution<int> dotY(0, kHeight - 2);
    for (int dot = 0; dot < kWidth * kHeight / 150; ++dot) {
        image(dotY(random), dotX(random)) += 45.0f;
    }
    for (float& pixel : image) {
        pixel += noise(random);
    }
    image.convertTo(result.image, CV_8U);
    return result;
}

// Writes an image for a person to look at when a test fails, into the test's output folder.
inline void WriteForInspection(const cv::Mat& image, const std::string& name) {
    const char* folder = std::getenv("TAVO_TEST_OUTPUT_DIR");
    const std::filesystem::path directory =
        folder != nullptr ? std::filesystem::path(folder) : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(directory);
    const std::filesystem::path path = directory / name;
    cv::imwrite(path.string(), image);
    std::printf("wrote %s\n", path.c_str());
}

}  // namespace tavo::cpudetector::test
