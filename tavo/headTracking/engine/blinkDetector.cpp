// Loading of face detector plug-ins by backend, and the detectors made from them.
#include "tavo/headTracking/engine/blinkDetector.h"

#include <exception>
#include <string>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

namespace tavo::head {

namespace {

std::string LibraryBaseName(tavo_face_detector_backend_e backend) {
    const char* word = "cpu";
    if (backend == kTavoFaceDetectorBackendGPU) {
        word = "gpu";
    } else if (backend != kTavoFaceDetectorBackendCPU) {
        spdlog::error("[BlinkDetectorLoader] unsupported backend: {}. Falling back to CPU.",
                      static_cast<int>(backend));
    }
    return fmt::format("tavoHeadTrackingBlinkDetector{}{}", word, "");
}

}  // namespace

BlinkDetectorPlugin::BlinkDetectorPlugin(tavo_face_detector_backend_e backend)
    : library(LibraryBaseName(backend)),
      create(library, kPluginCreateBlinkDetectorSymbol),
      destroy(library, kPluginDeleteBlinkDetectorSymbol) {}

std::shared_ptr<FaceDetector> CreateBlinkDetector(const BlinkDetectorConfiguration& configuration,
                                                  AssetManager* assetManager) {
    try {
        auto plugin = std::make_shared<BlinkDetectorPlugin>(configuration.faceDetector.backend);
        FaceDetector* detector = plugin->create(configuration, assetManager);
        if (detector == nullptr) {
            return {};
        }
        // The deleter owns the plug-in, so the library is unloaded only after the plug-in
        // has destroyed its detector.
        return std::shared_ptr<FaceDetector>(
            detector, [plugin = std::move(plugin)](FaceDetector* released) mutable {
                plugin->destroy(released);
                plugin.reset();
            });
    } catch (const std::exception& error) {
        spdlog::error("[BlinkDetectorLoader] Failed to load: {}", error.what());
        return {};
    }
}

bool IsBlinkDetectorBackendSupported(tavo_face_detector_backend_e backend) {
    try {
        BlinkDetectorPlugin plugin(backend);
        return true;
    } catch (const std::exception& error) {
        spdlog::debug("[BlinkDetectorLoader] {} backend is not supported: {}",
                      tavo_face_detector_backend_to_string(backend), error.what());
        return false;
    }
}

uint32_t GetSupportedFaceDetectorBackends() {
    uint32_t mask = 0;
    for (const uint32_t value : {1u, 2u}) {
        if (IsBlinkDetectorBackendSupported(static_cast<tavo_face_detector_backend_e>(value))) {
            mask |= value;
        }
    }
    return mask;
}

}  // namespace tavo::head
