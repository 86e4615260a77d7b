// Loading of face detector plug-ins by backend, and the detectors made from them.
#pragma once

#include <cstdint>
#include <memory>

#include "tavo/common/export.h"
#include "tavo/common/plugin.h"
#include "tavo/headTracking/common/types.h"
#include "tavo/headTracking/engine/blinkDetectorPlugin.h"

namespace tavo {
class AssetManager;
}  // namespace tavo

namespace tavo::head {

// One loaded detector plug-in with its two entry points, held by shared reference: every
// detector made from it keeps it loaded. Construction and destruction may run on any thread.
class BlinkDetectorPlugin {
  public:
    // Loads the backend's library and resolves both entry points; a backend other than CPU
    // and GPU is loaded as CPU after an error line. Throws tavo::Exception and leaves nothing
    // loaded on any failure.
    explicit BlinkDetectorPlugin(tavo_face_detector_backend_e backend);

    PluginLibrary library;
    PluginFunction<PluginCreateBlinkDetectorFunction> create;
    PluginFunction<PluginDeleteBlinkDetectorFunction> destroy;
};

// These keep no state and may be called from any thread; each call loads its own handle.

// A detector from the plug-in of `configuration.faceDetector.backend`, released through that
// plug-in's delete function; the plug-in stays loaded as long as the detector lives. Empty
// when the plug-in cannot be loaded (logged) or makes no detector.
TAVO_API std::shared_ptr<FaceDetector> CreateBlinkDetector(
    const BlinkDetectorConfiguration& configuration, AssetManager* assetManager);
// Whether the backend's plug-in loads with both entry points. Loads and unloads it.
TAVO_API bool IsBlinkDetectorBackendSupported(tavo_face_detector_backend_e backend);
// Bit 1 for a supported CPU plug-in, bit 2 for GPU. Meant for set-up: probes every call.
TAVO_API uint32_t GetSupportedFaceDetectorBackends();

}  // namespace tavo::head
