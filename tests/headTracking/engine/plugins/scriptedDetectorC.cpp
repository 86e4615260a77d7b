// A C-callable script setter for the scripted detector plug-in, taking the C interface's
// packed detected-face records, so that tests written in C can drive it. Flags: bit 0 makes
// the plug-in refuse to create detectors, bit 1 makes its detectors ignore their maximum, bit 2
// makes them read the eyes' depths from the frame where it has them.
#include <cstdint>

#include "headTracking/engine/scriptedDetector.h"
#include "tavo/headTracking/engine/blinkDetectorPlugin.h"
#include "tavo/headTracking/engine/tavoHeadTracking.h"

extern "C" void ScriptedDetector_SetScript(const ScriptedDetectorScript& next);

extern "C" TAVO_PLUGIN_EXPORT void ScriptedDetector_SetScriptC(
    const tavo_headtracking_detected_face* faces, int32_t numFaces, int32_t maxNumOfFacesLimit,
    int32_t flags) {
    ScriptedDetectorScript script;
    script.maxNumOfFacesLimit = maxNumOfFacesLimit;
    script.failCreate = (flags & 1) != 0;
    script.ignoreMaximum = (flags & 2) != 0;
    script.depthFromFrame = (flags & 4) != 0;
    for (int32_t i = 0; faces != nullptr && i < numFaces; ++i) {
        tavo::head::DetectedFace face;
        face.rightEyePixel = {faces[i].rightEyePixel.x, faces[i].rightEyePixel.y};
        face.rightEyeDepth = faces[i].rightEyeDepth;
        face.leftEyePixel = {faces[i].leftEyePixel.x, faces[i].leftEyePixel.y};
        face.leftEyeDepth = faces[i].leftEyeDepth;
        face.auxiliary = {faces[i].auxiliary.x, faces[i].auxiliary.y, faces[i].auxiliary.z};
        face.angles = {faces[i].angles.x, faces[i].angles.y, faces[i].angles.z};
        script.faces.push_back(face);
    }
    ScriptedDetector_SetScript(script);
}
