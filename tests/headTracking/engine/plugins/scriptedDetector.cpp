// A detector plug-in for tests: reports the faces, limit and backend its script sets.
#include "headTracking/engine/scriptedDetector.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "tavo/headTracking/engine/blinkDetectorPlugin.h"

namespace {

std::mutex scriptLock;
ScriptedDetectorScript script;

class ScriptedDetector final : public tavo::head::FaceDetector {
  public:
    ScriptedDetector(const ScriptedDetectorScript& current, tavo_face_detector_backend_e loadedFor,
                     int32_t maxNumOfFaces)
        : script_(current),
          backend_(current.backend != kTavoFaceDetectorBackendUnknown ? current.backend
                                                                      : loadedFor),
          maxNumOfFaces_(maxNumOfFaces > 0 ? maxNumOfFaces : current.maxNumOfFacesLimit) {}

    int32_t GetMaxNumOfFacesLimit() const override { return script_.maxNumOfFacesLimit; }
    int32_t GetMaxNumOfFaces() const override { return maxNumOfFaces_; }
    void SetMaxNumOfFaces(int32_t count) override {
        maxNumOfFaces_ = count;
        if (script_.stats != nullptr) {
            script_.stats->setMaxNumOfFacesCalls.fetch_add(1);
            script_.stats->lastMaxNumOfFaces.store(count);
        }
    }
    tavo_face_detector_backend_e GetBackend() const override { return backend_; }
    void SetCameraIntrinsics(const tavo::CameraIntrinsics& intrinsics) override {
        intrinsics_ = intrinsics;
        if (script_.stats != nullptr) {
            script_.stats->setCameraIntrinsicsCalls.fetch_add(1);
            script_.stats->lastIntrinsicsWidth.store(intrinsics.width);
        }
    }
    Output& Detect(const tavo::head::CameraFrame& frame) override {
        if (script_.stats != nullptr) {
            script_.stats->detectCalls.fetch_add(1);
            const auto images = frame.imageDescs();
            if (!images.empty() && images[0].data != nullptr) {
                script_.stats->lastFirstPixel.store(images[0].data[0]);
            }
            int failing = script_.stats->failingDetects.load();
            while (failing > 0 &&
                   !script_.stats->failingDetects.compare_exchange_weak(failing, failing - 1)) {
            }
            if (failing > 0) {
                throw std::runtime_error("scripted detection failure");
            }
        }
        output_.faces = script_.faces;
        const glm::dvec2 offset = script_.pixelStepPerDetect * static_cast<double>(detections_++);
        for (tavo::head::DetectedFace& face : output_.faces) {
            face.rightEyePixel += offset;
            face.leftEyePixel += offset;
            float depth = 0.0f;
            if (script_.depthFromFrame && frame.GetDepth(face.rightEyePixel, depth)) {
                face.rightEyeDepth = depth;
            }
            if (script_.depthFromFrame && frame.GetDepth(face.leftEyePixel, depth)) {
                face.leftEyeDepth = depth;
            }
        }
        if (!script_.ignoreMaximum &&
            output_.faces.size() > static_cast<size_t>(std::max(maxNumOfFaces_, 0))) {
            output_.faces.resize(static_cast<size_t>(std::max(maxNumOfFaces_, 0)));
        }
        return output_;
    }

    const ScriptedDetectorScript& script() const { return script_; }

  private:
    ScriptedDetectorScript script_;
    tavo_face_detector_backend_e backend_;
    int32_t maxNumOfFaces_;
    int64_t detections_ = 0;  // the engine calls Detect from one thread at a time
    tavo::CameraIntrinsics intrinsics_{};
    Output output_;
};

__attribute__((destructor)) void ReportUnload() {
    if (script.onUnload != nullptr) {
        script.onUnload(script.context);
    }
}

}  // namespace

extern "C" {

TAVO_PLUGIN_EXPORT void ScriptedDetector_SetScript(const ScriptedDetectorScript& next) {
    std::lock_guard<std::mutex> guard(scriptLock);
    script = next;
}

tavo::head::FaceDetector* Plugin_CreateBlinkDetector(
    const tavo::head::BlinkDetectorConfiguration& configuration, tavo::AssetManager*) {
    std::lock_guard<std::mutex> guard(scriptLock);
    if (script.failCreate) {
        return nullptr;
    }
    return new ScriptedDetector(script, configuration.faceDetector.backend,
                                configuration.faceDetector.maxNumOfFaces);
}

void Plugin_DeleteBlinkDetector(tavo::head::FaceDetector* detector) {
    auto* scripted = static_cast<ScriptedDetector*>(detector);
    if (scripted->script().onDelete != nullptr) {
        scripted->script().onDelete(scripted->script().context);
    }
    delete scripted;
}
}
