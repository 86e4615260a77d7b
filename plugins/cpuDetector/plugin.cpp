// The CPU detector plug-in's two entry points: the model from the asset manager, or the Haar
// cascades when the model is not there.
#include <exception>
#include <memory>
#include <string>

#include <spdlog/spdlog.h>
#include <opencv2/core/utility.hpp>

#include "cpuFaceDetector.h"
#include "tavo/common/assetManager.h"
#include "tavo/headTracking/engine/blinkDetectorPlugin.h"

namespace {

using tavo::cpudetector::BlazeFace;
using tavo::cpudetector::CpuFaceDetector;

constexpr const char* kModelAsset = "models/face_detection_front_128x128_barracuda.onnx";

std::unique_ptr<BlazeFace> LoadModel(tavo::AssetManager* assetManager, std::string& whyNot) {
    if (assetManager == nullptr) {
        whyNot = "no asset manager was given";
        return nullptr;
    }
    try {
        const tavo::AssetBuffer model = assetManager->Read(kModelAsset, nullptr);
        return std::make_unique<BlazeFace>(model.data.get(), static_cast<size_t>(model.size));
    } catch (const std::exception& e) {
        whyNot = e.what();
        return nullptr;
    }
}

std::unique_ptr<CpuFaceDetector::Cascades> LoadCascades(std::string& whyNot) {
    const std::string directory = TAVO_HAAR_CASCADE_DIR;
    auto cascades = std::make_unique<CpuFaceDetector::Cascades>();
    try {
        if (!directory.empty() &&
            cascades->face.load(directory + "/haarcascade_frontalface_default.xml") &&
            cascades->eye.load(directory + "/haarcascade_eye.xml")) {
            return cascades;
        }
        whyNot = "the Haar cascades are not in \"" + directory + "\"";
    } catch (const std::exception& e) {
        whyNot = e.what();
    }
    return nullptr;
}

}  // namespace

extern "C" {

tavo::head::FaceDetector* Plugin_CreateBlinkDetector(
    const tavo::head::BlinkDetectorConfiguration& configuration, tavo::AssetManager* assetManager) {
    try {
        // OpenCV's own parallel loops stay on the calling thread. The detector runs on the camera
        // thread of a machine whose few cores the tracking, rendering and the host's own threads
        // share: a model run split into stripes waits for its slowest worker, which on a busy
        // machine is not scheduled (measured: 12 ms a run with two workers, 3.5 ms on one). On
        // one thread a frame costs the same CPU time and keeps it off the other threads. The
        // setting is OpenCV's, process-wide.
        cv::setNumThreads(1);
        std::string modelProblem;
        std::unique_ptr<BlazeFace> model = LoadModel(assetManager, modelProblem);
        std::unique_ptr<CpuFaceDetector::Cascades> cascades;
        if (!model) {
            std::string cascadeProblem;
            cascades = LoadCascades(cascadeProblem);
            if (!cascades) {
                spdlog::error(
                    "[CpuFaceDetector] No face detector: the face model is unusable ({}) and {}",
                    modelProblem, cascadeProblem);
                return nullptr;
            }
            spdlog::warn(
                "[CpuFaceDetector] Face model \"{}\" unusable ({}); falling back to Haar "
                "cascades, which are slower and place eyes less well. Run "
                "scripts/install-deps.sh to fetch the model.",
                kModelAsset, modelProblem);
        }
        auto* detector = new CpuFaceDetector(configuration.faceDetector.backend,
                                             configuration.faceDetector.maxNumOfFaces,
                                             std::move(model), std::move(cascades));
        spdlog::info("[CpuFaceDetector] Created with {}, up to {} faces",
                     cascades ? "Haar cascades" : "the BlazeFace model",
                     detector->GetMaxNumOfFaces());
        return detector;
    } catch (const std::exception& e) {
        spdlog::error("[CpuFaceDetector] Failed to create: {}", e.what());
        return nullptr;
    }
}

void Plugin_DeleteBlinkDetector(tavo::head::FaceDetector* detector) {
    delete static_cast<CpuFaceDetector*>(detector);
}
}
