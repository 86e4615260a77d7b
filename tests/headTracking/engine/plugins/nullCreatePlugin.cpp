// A plug-in for tests that never makes a detector.
#include "tavo/headTracking/engine/blinkDetectorPlugin.h"

tavo::head::FaceDetector* Plugin_CreateBlinkDetector(const tavo::head::BlinkDetectorConfiguration&,
                                                     tavo::AssetManager*) {
    return nullptr;
}

void Plugin_DeleteBlinkDetector(tavo::head::FaceDetector*) {}
