// A broken plug-in for tests: exports the create function but not the delete function.
#include "tavo/headTracking/engine/blinkDetectorPlugin.h"

tavo::head::FaceDetector* Plugin_CreateBlinkDetector(const tavo::head::BlinkDetectorConfiguration&,
                                                     tavo::AssetManager*) {
    return nullptr;
}
