/* The flat C interface of head tracking: opaque engine and frame handles, packed records and
 * status codes, usable from C99 and C++.
 *
 * Threads: create, release, start and stop from one host thread (start and stop never
 * concurrently with each other); setters and getters from host threads; GetLatestFrame and the
 * frame getters from any thread. The frame callback and the virtual face hook run on the
 * camera's delivery thread and must return quickly; neither may start, stop or release the
 * engine. No function lets an exception escape; failures are status codes, logged once.
 *
 * Frames: a frame handed to the frame callback belongs to the library and is valid only during
 * that call (never release it). A frame from tavoHeadTrackingEngineGetLatestFrame is an
 * independent copy owned by the caller: it outlives the engine and is released exactly once
 * with tavoHeadTrackingFrameRelease.
 *
 * Pointers to records and out values must not be null; a null one is refused with
 * kTavoHeadTrackingStatusErrorUnknown after a log line rather than dereferenced. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tavo/common/export.h"

#ifdef __cplusplus
#define TAVO_HEADTRACKING_STATIC_ASSERT(condition, message) static_assert(condition, message)
#elif (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L) || defined(__GNUC__)
#define TAVO_HEADTRACKING_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#else
/* Plain C99 without the C11 keyword: a negative array size fails the build instead. */
#define TAVO_HEADTRACKING_CONCAT_(a, b) a##b
#define TAVO_HEADTRACKING_CONCAT(a, b) TAVO_HEADTRACKING_CONCAT_(a, b)
#define TAVO_HEADTRACKING_STATIC_ASSERT(condition, message) \
    typedef char TAVO_HEADTRACKING_CONCAT(tavo_headtracking_assert_, __LINE__)[(condition) ? 1 : -1]
#endif

/* The face arrays end their records with a C99 flexible array member, which C++ compilers take
 * as an extension; this keeps pedantic C++ builds of hosts quiet. */
#if defined(__cplusplus) && defined(__GNUC__)
#define TAVO_HEADTRACKING_FLEXIBLE_ARRAY_MEMBER __extension__
#else
#define TAVO_HEADTRACKING_FLEXIBLE_ARRAY_MEMBER
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum tavo_headtracking_status_e {
    kTavoHeadTrackingStatusSuccess = 0,
    /* The engine or frame handle is null. */
    kTavoHeadTrackingStatusErrorInvalidInstance = 1,
    /* The operation failed; the cause was logged. */
    kTavoHeadTrackingStatusErrorUnknown = 2,
} tavo_headtracking_status_e;

typedef struct tavo_headtracking_engine_t* tavo_headtracking_engine;
typedef struct tavo_headtracking_frame_t* tavo_headtracking_frame;

/* Every record has 4-byte packing: doubles and pointers may sit at any multiple of 4. */
#pragma pack(push, 4)

typedef struct tavo_headtracking_vec3 {
    float x;
    float y;
    float z;
} tavo_headtracking_vec3;

typedef struct tavo_headtracking_dvec2 {
    double x;
    double y;
} tavo_headtracking_dvec2;

typedef struct tavo_headtracking_timestamp {
    /* 0: the host's wall clock (milliseconds since 1970-01-01 UTC); -1: a device clock. */
    int32_t space;
    double ms;
} tavo_headtracking_timestamp;

/* A tracked face in display space: millimetres, millimetres per millisecond, radians. */
typedef struct tavo_headtracking_face {
    tavo_headtracking_vec3 position;
    tavo_headtracking_vec3 velocity;
    tavo_headtracking_vec3 angles;
    /* Index into the same frame's raw faces; -1 for an extrapolated face. */
    int32_t rawFaceIndex;
} tavo_headtracking_face;

#define TAVO_HEADTRACKING_MAX_TRACKED_FACES 3

typedef struct tavo_headtracking_tracking_result {
    int32_t numFaces;
    /* Main face first; entries from numFaces on are left as the caller had them. */
    tavo_headtracking_face faces[TAVO_HEADTRACKING_MAX_TRACKED_FACES];
    tavo_headtracking_timestamp timestamp;
    /* 0 or 1. */
    int32_t faceEverTracked;
} tavo_headtracking_tracking_result;

/* An accepted detection in camera space, millimetres. */
typedef struct tavo_headtracking_raw_face {
    tavo_headtracking_vec3 rightEye;
    tavo_headtracking_vec3 leftEye;
    tavo_headtracking_vec3 trackedPoint;
    int32_t detectionIndex;
} tavo_headtracking_raw_face;

/* Variable length: allocate TAVO_HEADTRACKING_RAW_FACES_SIZE(n) bytes with n at least the
 * engine's tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit. */
typedef struct tavo_headtracking_raw_faces {
    int32_t numFaces;
    TAVO_HEADTRACKING_FLEXIBLE_ARRAY_MEMBER tavo_headtracking_raw_face faces[];
} tavo_headtracking_raw_faces;

#define TAVO_HEADTRACKING_RAW_FACES_SIZE(capacity) \
    (sizeof(tavo_headtracking_raw_faces) + (size_t)(capacity) * sizeof(tavo_headtracking_raw_face))

/* A face as the detector reported it: pixels, depths in metres, angles in radians. */
typedef struct tavo_headtracking_detected_face {
    tavo_headtracking_dvec2 rightEyePixel;
    float rightEyeDepth;
    tavo_headtracking_dvec2 leftEyePixel;
    float leftEyeDepth;
    tavo_headtracking_vec3 auxiliary;
    tavo_headtracking_vec3 angles;
} tavo_headtracking_detected_face;

/* Variable length, sized like tavo_headtracking_raw_faces. */
typedef struct tavo_headtracking_detected_faces {
    int32_t numFaces;
    TAVO_HEADTRACKING_FLEXIBLE_ARRAY_MEMBER tavo_headtracking_detected_face faces[];
} tavo_headtracking_detected_faces;

#define TAVO_HEADTRACKING_DETECTED_FACES_SIZE(capacity) \
    (sizeof(tavo_headtracking_detected_faces) +         \
     (size_t)(capacity) * sizeof(tavo_headtracking_detected_face))

/* Nanoseconds; all zero when profiling is off. */
typedef struct tavo_headtracking_frame_profiling {
    int64_t cameraExposureTime;
    int64_t faceDetectorStartTime;
    int64_t faceDetectorEndTime;
    int64_t apiTimestamp;
} tavo_headtracking_frame_profiling;

typedef struct tavo_headtracking_kalman_coeffs {
    tavo_headtracking_vec3 a;
    tavo_headtracking_vec3 b;
} tavo_headtracking_kalman_coeffs;

/* The face tracker's filter values; their meaning is the engine's. */
typedef struct tavo_headtracking_filter_properties {
    float resetThreshold;
    float maxTrackGap;
    float velDampingTime;
    float minFitDist;
    float maxFitDist;
    float angleYMax;
    float interocularDistanceMin;
    float interocularDistanceMax;
    float bufferLim;
    tavo_headtracking_vec3 mainFaceSkew;
    tavo_headtracking_vec3 mainFaceScale;
    tavo_headtracking_kalman_coeffs kalman;
} tavo_headtracking_filter_properties;

/* A face the host injects, display space, millimetres. */
typedef struct tavo_headtracking_virtual_face {
    tavo_headtracking_vec3 position;
    float interocularDistance;
} tavo_headtracking_virtual_face;

typedef struct tavo_headtracking_virtual_face_hook_context {
    /* In. */
    tavo_headtracking_timestamp timestamp;
    int32_t numDetectedFaces;
    int32_t maxNumOfFaces;
    /* Room for maxNumOfFaces entries, zeroed before each call; valid during the call only. */
    tavo_headtracking_virtual_face* faces;
    /* Out, start at 0: entries written, and non-zero to drop the detector's faces. */
    int32_t numFaces;
    int32_t replaceDetectedFaces;
} tavo_headtracking_virtual_face_hook_context;

/* Called on the camera's delivery thread with a frame valid only during the call. */
typedef void (*tavo_headtracking_frame_callback)(tavo_headtracking_frame frame, void* userData);
/* Called on the camera's delivery thread; 0 leaves the frame's faces unchanged. */
typedef int32_t (*tavo_headtracking_virtual_face_hook)(
    tavo_headtracking_virtual_face_hook_context* context, void* userData);

typedef struct tavo_headtracking_engine_init_args {
    /* The camera stream; 0 leaves the choice to the camera. */
    int32_t width;
    int32_t height;
    int32_t fps;
    float binningFactor;
    /* 0 leaves the detector's own maximum. */
    int32_t maxNumOfFaces;
    /* 1 trace ... 7 off; other values mean info. */
    int32_t logLevel;
    /* Not read by this library. */
    uint8_t reserved[84];
    /* At least one of frameCallback and enablePolling must be set. */
    tavo_headtracking_frame_callback frameCallback;
    void* frameCallbackUserData;
    int32_t enablePolling;
    tavo_headtracking_virtual_face_hook virtualFaceHook;
    void* virtualFaceHookUserData;
} tavo_headtracking_engine_init_args;

#pragma pack(pop)

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_status_e) == 4, "status size");
TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_vec3) == 12, "vec3 size");
TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_dvec2) == 16, "dvec2 size");

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_engine_init_args) == 144,
                                "init args size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args, width) == 0, "width");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args, height) == 4,
                                "height");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args, fps) == 8, "fps");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args, binningFactor) == 12,
                                "binningFactor");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args, maxNumOfFaces) == 16,
                                "maxNumOfFaces");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args, logLevel) == 20,
                                "logLevel");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args, reserved) == 24,
                                "reserved");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args, frameCallback) == 108,
                                "frameCallback");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args,
                                         frameCallbackUserData) == 116,
                                "frameCallbackUserData");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args, enablePolling) == 124,
                                "enablePolling");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args, virtualFaceHook) ==
                                    128,
                                "virtualFaceHook");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_engine_init_args,
                                         virtualFaceHookUserData) == 136,
                                "virtualFaceHookUserData");
TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(((tavo_headtracking_engine_init_args*)0)->reserved) ==
                                    sizeof(tavo_headtracking_filter_properties),
                                "reserved room");

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_timestamp) == 12, "timestamp size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_timestamp, space) == 0, "space");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_timestamp, ms) == 4, "ms");

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_face) == 40, "face size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_face, position) == 0, "position");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_face, velocity) == 12, "velocity");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_face, angles) == 24, "angles");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_face, rawFaceIndex) == 36,
                                "rawFaceIndex");

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_tracking_result) == 140,
                                "tracking result size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_tracking_result, numFaces) == 0,
                                "numFaces");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_tracking_result, faces) == 4, "faces");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_tracking_result, faces[1]) == 44,
                                "faces[1]");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_tracking_result, faces[2]) == 84,
                                "faces[2]");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_tracking_result, timestamp) == 124,
                                "timestamp");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_tracking_result, faceEverTracked) == 136,
                                "faceEverTracked");

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_raw_face) == 40, "raw face size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_raw_face, rightEye) == 0, "rightEye");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_raw_face, leftEye) == 12, "leftEye");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_raw_face, trackedPoint) == 24,
                                "trackedPoint");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_raw_face, detectionIndex) == 36,
                                "detectionIndex");
TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_raw_faces) == 4, "raw faces size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_raw_faces, faces) == 4,
                                "raw faces array");

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_detected_face) == 64,
                                "detected face size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_detected_face, rightEyePixel) == 0,
                                "rightEyePixel");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_detected_face, rightEyeDepth) == 16,
                                "rightEyeDepth");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_detected_face, leftEyePixel) == 20,
                                "leftEyePixel");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_detected_face, leftEyeDepth) == 36,
                                "leftEyeDepth");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_detected_face, auxiliary) == 40,
                                "auxiliary");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_detected_face, angles) == 52,
                                "detected angles");
TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_detected_faces) == 4,
                                "detected faces size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_detected_faces, faces) == 4,
                                "detected faces array");

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_frame_profiling) == 32, "profiling size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_frame_profiling, apiTimestamp) == 24,
                                "apiTimestamp");

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_filter_properties) == 84,
                                "filter properties size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_filter_properties, bufferLim) == 32,
                                "bufferLim");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_filter_properties, mainFaceSkew) == 36,
                                "mainFaceSkew");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_filter_properties, mainFaceScale) == 48,
                                "mainFaceScale");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_filter_properties, kalman) == 60,
                                "kalman");

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_virtual_face) == 16, "virtual face size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_virtual_face, interocularDistance) == 12,
                                "interocularDistance");

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_virtual_face_hook_context) == 36,
                                "hook context size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_virtual_face_hook_context, timestamp) ==
                                    0,
                                "hook timestamp");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_virtual_face_hook_context,
                                         numDetectedFaces) == 12,
                                "numDetectedFaces");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_virtual_face_hook_context,
                                         maxNumOfFaces) == 16,
                                "hook maxNumOfFaces");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_virtual_face_hook_context, faces) == 20,
                                "hook faces");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_virtual_face_hook_context, numFaces) ==
                                    28,
                                "hook numFaces");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_virtual_face_hook_context,
                                         replaceDetectedFaces) == 32,
                                "replaceDetectedFaces");

/* Sets *engine to null, then builds the engine with its detector and RealSense camera. Fails
 * (2, *engine null, error logged) when no detector plug-in or camera is usable or when neither
 * frameCallback nor enablePolling is set. */
TAVO_API tavo_headtracking_status_e tavoHeadTrackingEngineInitArgs(
    const tavo_headtracking_engine_init_args* args, tavo_headtracking_engine* engine);
/* Null: nothing. Stops frame delivery and destroys the engine. */
TAVO_API void tavoHeadTrackingEngineRelease(tavo_headtracking_engine engine);

/* Starting while tracking is not an error. */
TAVO_API tavo_headtracking_status_e
tavoHeadTrackingEngineStartTracking(tavo_headtracking_engine engine);
TAVO_API tavo_headtracking_status_e
tavoHeadTrackingEngineStopTracking(tavo_headtracking_engine engine);

/* The setters take effect at the start of the next frame. */
TAVO_API tavo_headtracking_status_e
tavoHeadTrackingEngineSetCameraPosition(tavo_headtracking_engine engine, float x, float y, float z);
/* The rotation matrix row by row. */
TAVO_API tavo_headtracking_status_e tavoHeadTrackingEngineSetCameraRotation(
    tavo_headtracking_engine engine, float m00, float m01, float m02, float m10, float m11,
    float m12, float m20, float m21, float m22);
/* The rotation vector is in degrees (Rodrigues notation). */
TAVO_API tavo_headtracking_status_e tavoHeadTrackingEngineSetCameraTransform(
    tavo_headtracking_engine engine, const tavo_headtracking_vec3* position,
    const tavo_headtracking_vec3* rotation);
TAVO_API tavo_headtracking_status_e tavoHeadTrackingEngineSetFilterProperties(
    tavo_headtracking_engine engine, const tavo_headtracking_filter_properties* properties);
/* Out of [1; limit]: 2. */
TAVO_API tavo_headtracking_status_e
tavoHeadTrackingEngineSetMaxNumOfDetectedFaces(tavo_headtracking_engine engine, int32_t count);
/* Non-zero tracks the eye. */
TAVO_API tavo_headtracking_status_e
tavoHeadTrackingEngineSetTrackedEyes(tavo_headtracking_engine engine, int32_t left, int32_t right);
TAVO_API tavo_headtracking_status_e tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(
    tavo_headtracking_engine engine, int32_t* limit);
/* Sets *frame to null, then to a copy of the latest frame (an empty one before the first),
 * owned by the caller. Without polling: 2. */
TAVO_API tavo_headtracking_status_e tavoHeadTrackingEngineGetLatestFrame(
    tavo_headtracking_engine engine, tavo_headtracking_frame* frame);

/* At most TAVO_HEADTRACKING_MAX_TRACKED_FACES faces; later ones are not reported. */
TAVO_API tavo_headtracking_status_e tavoHeadTrackingFrameGetTrackingResult(
    tavo_headtracking_frame frame, tavo_headtracking_tracking_result* result);
TAVO_API tavo_headtracking_status_e tavoHeadTrackingFrameGetRawFaces(
    tavo_headtracking_frame frame, tavo_headtracking_raw_faces* rawFaces);
TAVO_API tavo_headtracking_status_e tavoHeadTrackingFrameGetDetectedFaces(
    tavo_headtracking_frame frame, tavo_headtracking_detected_faces* detectedFaces);
TAVO_API tavo_headtracking_status_e tavoHeadTrackingFrameGetProfiling(
    tavo_headtracking_frame frame, tavo_headtracking_frame_profiling* profiling);
/* Null: nothing. Only for frames from tavoHeadTrackingEngineGetLatestFrame. */
TAVO_API void tavoHeadTrackingFrameRelease(tavo_headtracking_frame frame);

/* The library's version text; never null. */
TAVO_API const char* tavoHeadTrackingGetVersion(void);

/* ---- Extension: images from the host's own camera ----
 *
 * For a host with a camera other than the RealSense one (a webcam, a video file, a recorded
 * sequence). An engine made by tavoHeadTrackingEngineInitWithSharedCamera opens no camera;
 * the host pushes each 8-bit image with its time stamp, optionally with a depth image aligned
 * to it, and reports the camera's intrinsics. Everything else (start, stop, setters, polling,
 * the frame callback, release) works as for any engine.
 *
 * Threads: the thread that pushes is the camera's delivery thread: the detector, the tracker,
 * the frame callback and the hook run on it before the push returns. Push from one thread at
 * a time, never concurrently with tavoHeadTrackingEngineRelease. Pushes while not tracking
 * are dropped and still succeed.
 *
 * Intrinsics: the tracker places a face in space through the camera's pinhole model, so push
 * them before the first image; until then frames are delivered without tracked faces. */

#pragma pack(push, 4)

/* One grey image: height rows of width bytes, no padding between rows. Read during the push
 * only. */
typedef struct tavo_headtracking_image {
    int32_t width;
    int32_t height;
    const uint8_t* data;
} tavo_headtracking_image;

/* Distances along the optical axis for the pixels of the image it comes with (same width and
 * height): data[y * width + x] * unitInMetres metres, 0 where there is no distance. Read
 * during the push only. */
typedef struct tavo_headtracking_depth_image {
    int32_t width;
    int32_t height;
    /* Metres per unit, greater than 0: 0.001 for millimetres. */
    float unitInMetres;
    const uint16_t* data;
} tavo_headtracking_depth_image;

/* The pinhole model of the pushed images, in pixels of an image of width x height. */
typedef struct tavo_headtracking_camera_intrinsics {
    int32_t width;
    int32_t height;
    float ppx;
    float ppy;
    float fx;
    float fy;
    /* Lens distortion, as the camera reports it. */
    float coeffs[5];
    /* Non-zero when the image is mirrored. */
    int32_t isMirrored;
} tavo_headtracking_camera_intrinsics;

#pragma pack(pop)

TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_image) == 16, "image size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_image, data) == 8, "image data");
TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_depth_image) == 20, "depth image size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_depth_image, unitInMetres) == 8,
                                "depth unit");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_depth_image, data) == 12, "depth data");
TAVO_HEADTRACKING_STATIC_ASSERT(sizeof(tavo_headtracking_camera_intrinsics) == 48,
                                "intrinsics size");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_camera_intrinsics, coeffs) == 24,
                                "intrinsics coeffs");
TAVO_HEADTRACKING_STATIC_ASSERT(offsetof(tavo_headtracking_camera_intrinsics, isMirrored) == 44,
                                "intrinsics isMirrored");

/* As tavoHeadTrackingEngineInitArgs, but over the host's camera: no RealSense camera is
 * opened, and width, height, fps and binningFactor of the arguments are not read. */
TAVO_API tavo_headtracking_status_e tavoHeadTrackingEngineInitWithSharedCamera(
    const tavo_headtracking_engine_init_args* args, tavo_headtracking_engine* engine);
/* Reports the camera's intrinsics to the tracker and the detector. Width and height above 0,
 * fx and fy above 0, every value finite; otherwise 2. An engine not made over the host's
 * camera: 2. */
TAVO_API tavo_headtracking_status_e tavoHeadTrackingEnginePushCameraIntrinsics(
    tavo_headtracking_engine engine, const tavo_headtracking_camera_intrinsics* intrinsics);
/* Processes one image (depth may be null) captured at *timestamp: space 0 (milliseconds of
 * the host's wall clock since 1970-01-01 UTC) or -1 (a clock of the camera's own), finite
 * ms. Returns when the frame has been tracked and delivered, or dropped while not tracking.
 * A missing or empty image, a depth image of another size or without a positive unit, or an
 * engine not made over the host's camera: 2, and nothing is processed. */
TAVO_API tavo_headtracking_status_e tavoHeadTrackingEnginePushCameraImage(
    tavo_headtracking_engine engine, const tavo_headtracking_image* image,
    const tavo_headtracking_depth_image* depth, const tavo_headtracking_timestamp* timestamp);

#ifdef __cplusplus
}
#endif
