// The binary contract of a face detector plug-in library: what a plug-in author includes.
//
// A plug-in is a shared library named tavoHeadTrackingBlinkDetector<backend>.so (backend "cpu"
// or "gpu"), placed beside the SDK library or anywhere the system loader's search finds it,
// and built with the same compiler and standard library as the SDK. It defines both entry
// points below with C linkage and default visibility.
//
// Plugin_CreateBlinkDetector receives a configuration and an asset manager that are valid only
// during the call: the plug-in copies what it needs. `configuration.faceDetector.backend` is
// the backend the library was loaded for, `maxNumOfFaces` the engine's wish (0 when none was
// set), `extraArgs` is empty. It returns a new detector, or null when it cannot make one.
//
// Plugin_DeleteBlinkDetector destroys a detector made by the same library, exactly once per
// detector, on whichever thread releases it last, while the library is still loaded.
//
// The engine calls the detector from one thread at a time: GetMaxNumOfFaces after creation;
// SetMaxNumOfFaces and Detect on the camera delivery thread, never concurrently with each
// other; SetCameraIntrinsics when the camera reports them or when the detector takes over;
// GetMaxNumOfFacesLimit and GetBackend as queries from host threads.
#pragma once

#include "tavo/headTracking/common/types.h"

namespace tavo {
class AssetManager;
}  // namespace tavo

#define TAVO_PLUGIN_EXPORT __attribute__((visibility("default")))

namespace tavo::head {

using PluginCreateBlinkDetectorFunction = FaceDetector*(const BlinkDetectorConfiguration&,
                                                        AssetManager*);
using PluginDeleteBlinkDetectorFunction = void(FaceDetector*);

inline constexpr const char* kPluginCreateBlinkDetectorSymbol = "Plugin_CreateBlinkDetector";
inline constexpr const char* kPluginDeleteBlinkDetectorSymbol = "Plugin_DeleteBlinkDetector";

}  // namespace tavo::head

extern "C" {
// Defined by the plug-in, never by the SDK.
TAVO_PLUGIN_EXPORT tavo::head::FaceDetector* Plugin_CreateBlinkDetector(
    const tavo::head::BlinkDetectorConfiguration& configuration, tavo::AssetManager* assetManager);
TAVO_PLUGIN_EXPORT void Plugin_DeleteBlinkDetector(tavo::head::FaceDetector* detector);
}
