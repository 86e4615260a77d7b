/* Prints the size of every record of the head tracking C interface and the offset and size of
   each of its fields, as the C compiler lays them out, for the Python bindings' layout test:
   "<record> <field> <offset> <size>", with "-" as the field and offset 0 for the whole record. */
#include <stddef.h>
#include <stdio.h>

#include "tavo/headTracking/engine/tavoHeadTracking.h"

#define RECORD(type) printf("%s - 0 %zu\n", #type, sizeof(type))
#define FIELD(type, field) \
    printf("%s %s %zu %zu\n", #type, #field, offsetof(type, field), sizeof(((type*)0)->field))

int main(void) {
    RECORD(tavo_headtracking_vec3);
    FIELD(tavo_headtracking_vec3, x);
    FIELD(tavo_headtracking_vec3, y);
    FIELD(tavo_headtracking_vec3, z);

    RECORD(tavo_headtracking_dvec2);
    FIELD(tavo_headtracking_dvec2, x);
    FIELD(tavo_headtracking_dvec2, y);

    RECORD(tavo_headtracking_timestamp);
    FIELD(tavo_headtracking_timestamp, space);
    FIELD(tavo_headtracking_timestamp, ms);

    RECORD(tavo_headtracking_face);
    FIELD(tavo_headtracking_face, position);
    FIELD(tavo_headtracking_face, velocity);
    FIELD(tavo_headtracking_face, angles);
    FIELD(tavo_headtracking_face, rawFaceIndex);

    RECORD(tavo_headtracking_tracking_result);
    FIELD(tavo_headtracking_tracking_result, numFaces);
    FIELD(tavo_headtracking_tracking_result, faces);
    FIELD(tavo_headtracking_tracking_result, timestamp);
    FIELD(tavo_headtracking_tracking_result, faceEverTracked);

    RECORD(tavo_headtracking_raw_face);
    FIELD(tavo_headtracking_raw_face, rightEye);
    FIELD(tavo_headtracking_raw_face, leftEye);
    FIELD(tavo_headtracking_raw_face, trackedPoint);
    FIELD(tavo_headtracking_raw_face, detectionIndex);

    /* The flexible array has no size of its own: 0, as ctypes gives an empty array. */
    RECORD(tavo_headtracking_raw_faces);
    FIELD(tavo_headtracking_raw_faces, numFaces);
    printf("tavo_headtracking_raw_faces faces %zu 0\n",
           offsetof(tavo_headtracking_raw_faces, faces));

    RECORD(tavo_headtracking_detected_face);
    FIELD(tavo_headtracking_detected_face, rightEyePixel);
    FIELD(tavo_headtracking_detected_face, rightEyeDepth);
    FIELD(tavo_headtracking_detected_face, leftEyePixel);
    FIELD(tavo_headtracking_detected_face, leftEyeDepth);
    FIELD(tavo_headtracking_detected_face, auxiliary);
    FIELD(tavo_headtracking_detected_face, angles);

    RECORD(tavo_headtracking_detected_faces);
    FIELD(tavo_headtracking_detected_faces, numFaces);
    printf("tavo_headtracking_detected_faces faces %zu 0\n",
           offsetof(tavo_headtracking_detected_faces, faces));

    RECORD(tavo_headtracking_frame_profiling);
    FIELD(tavo_headtracking_frame_profiling, cameraExposureTime);
    FIELD(tavo_headtracking_frame_profiling, faceDetectorStartTime);
    FIELD(tavo_headtracking_frame_profiling, faceDetectorEndTime);
    FIELD(tavo_headtracking_frame_profiling, apiTimestamp);

    RECORD(tavo_headtracking_kalman_coeffs);
    FIELD(tavo_headtracking_kalman_coeffs, a);
    FIELD(tavo_headtracking_kalman_coeffs, b);

    RECORD(tavo_headtracking_filter_properties);
    FIELD(tavo_headtracking_filter_properties, resetThreshold);
    FIELD(tavo_headtracking_filter_properties, maxTrackGap);
    FIELD(tavo_headtracking_filter_properties, velDampingTime);
    FIELD(tavo_headtracking_filter_properties, minFitDist);
    FIELD(tavo_headtracking_filter_properties, maxFitDist);
    FIELD(tavo_headtracking_filter_properties, angleYMax);
    FIELD(tavo_headtracking_filter_properties, interocularDistanceMin);
    FIELD(tavo_headtracking_filter_properties, interocularDistanceMax);
    FIELD(tavo_headtracking_filter_properties, bufferLim);
    FIELD(tavo_headtracking_filter_properties, mainFaceSkew);
    FIELD(tavo_headtracking_filter_properties, mainFaceScale);
    FIELD(tavo_headtracking_filter_properties, kalman);

    RECORD(tavo_headtracking_virtual_face);
    FIELD(tavo_headtracking_virtual_face, position);
    FIELD(tavo_headtracking_virtual_face, interocularDistance);

    RECORD(tavo_headtracking_virtual_face_hook_context);
    FIELD(tavo_headtracking_virtual_face_hook_context, timestamp);
    FIELD(tavo_headtracking_virtual_face_hook_context, numDetectedFaces);
    FIELD(tavo_headtracking_virtual_face_hook_context, maxNumOfFaces);
    FIELD(tavo_headtracking_virtual_face_hook_context, faces);
    FIELD(tavo_headtracking_virtual_face_hook_context, numFaces);
    FIELD(tavo_headtracking_virtual_face_hook_context, replaceDetectedFaces);

    RECORD(tavo_headtracking_engine_init_args);
    FIELD(tavo_headtracking_engine_init_args, width);
    FIELD(tavo_headtracking_engine_init_args, height);
    FIELD(tavo_headtracking_engine_init_args, fps);
    FIELD(tavo_headtracking_engine_init_args, binningFactor);
    FIELD(tavo_headtracking_engine_init_args, maxNumOfFaces);
    FIELD(tavo_headtracking_engine_init_args, logLevel);
    FIELD(tavo_headtracking_engine_init_args, reserved);
    FIELD(tavo_headtracking_engine_init_args, frameCallback);
    FIELD(tavo_headtracking_engine_init_args, frameCallbackUserData);
    FIELD(tavo_headtracking_engine_init_args, enablePolling);
    FIELD(tavo_headtracking_engine_init_args, virtualFaceHook);
    FIELD(tavo_headtracking_engine_init_args, virtualFaceHookUserData);

    RECORD(tavo_headtracking_image);
    FIELD(tavo_headtracking_image, width);
    FIELD(tavo_headtracking_image, height);
    FIELD(tavo_headtracking_image, data);

    RECORD(tavo_headtracking_depth_image);
    FIELD(tavo_headtracking_depth_image, width);
    FIELD(tavo_headtracking_depth_image, height);
    FIELD(tavo_headtracking_depth_image, unitInMetres);
    FIELD(tavo_headtracking_depth_image, data);

    RECORD(tavo_headtracking_camera_intrinsics);
    FIELD(tavo_headtracking_camera_intrinsics, width);
    FIELD(tavo_headtracking_camera_intrinsics, height);
    FIELD(tavo_headtracking_camera_intrinsics, ppx);
    FIELD(tavo_headtracking_camera_intrinsics, ppy);
    FIELD(tavo_headtracking_camera_intrinsics, fx);
    FIELD(tavo_headtracking_camera_intrinsics, fy);
    FIELD(tavo_headtracking_camera_intrinsics, coeffs);
    FIELD(tavo_headtracking_camera_intrinsics, isMirrored);
    return 0;
}
