/* The head tracking C interface driven from C: a scripted detector plug-in supplies the
   detections, the simulated RealSense device supplies the frames. */
#include <dirent.h>
#include <dlfcn.h>
#include <math.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <librealsense2/simulation.h>

#include "cCheck.h"
#include "tavo/headTracking/engine/tavoHeadTracking.h"

/* ---- assertion harness ---- */

#define CHECK_INT(actual, expected)                                                            \
    do {                                                                                       \
        long long checkActual = (long long)(actual);                                           \
        long long checkExpected = (long long)(expected);                                       \
        if (checkActual != checkExpected) {                                                    \
            fprintf(stderr, "%s:%d: %s is %lld, expected %lld\n", __FILE__, __LINE__, #actual, \
                    checkActual, checkExpected);                                               \
            ++failures;                                                                        \
        }                                                                                      \
    } while (0)

#define CHECK_NEAR(actual, expected, tolerance)                                            \
    do {                                                                                   \
        double checkActual = (double)(actual);                                             \
        double checkExpected = (double)(expected);                                         \
        if (!(fabs(checkActual - checkExpected) <= (tolerance))) {                         \
            fprintf(stderr, "%s:%d: %s is %g, expected %g\n", __FILE__, __LINE__, #actual, \
                    checkActual, checkExpected);                                           \
            ++failures;                                                                    \
        }                                                                                  \
    } while (0)

/* Stops the current case: later steps would only report follow-on failures. */
#define REQUIRE(condition)                                                                      \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            fprintf(stderr, "%s:%d: requirement failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                                         \
            return;                                                                             \
        }                                                                                       \
    } while (0)

/* ---- scripted detector and simulated camera ---- */

/* flags: 1 the plug-in cannot create detectors, 2 its detectors ignore their maximum. */
typedef void (*SetScriptFunction)(const tavo_headtracking_detected_face* faces, int32_t numFaces,
                                  int32_t maxNumOfFacesLimit, int32_t flags);
static SetScriptFunction setScript = NULL;

/* The plug-in's own default limit is 4; another value shows that the script reached the
   detectors the library made. */
enum { kWidth = 640, kHeight = 480, kFps = 30, kLimit = 6 };
static const float kDepth = 0.6f;
/* Half the eye distance in pixels: 20 px at 0.6 m give 62.5 mm between the eyes. */
static const int kHalfEyePixels = 20;
/* Within a pixel of truncation, in millimetres, at kDepth. */
static const double kPositionTolerance = 2.5;

static rs2_intrinsics intrinsics;
static double nextTimestamp = 1000.0;

static tavo_headtracking_detected_face MakeFace(int centreU, int v) {
    tavo_headtracking_detected_face face;
    memset(&face, 0, sizeof face);
    face.rightEyePixel.x = centreU - kHalfEyePixels;
    face.rightEyePixel.y = v;
    face.rightEyeDepth = kDepth;
    face.leftEyePixel.x = centreU + kHalfEyePixels;
    face.leftEyePixel.y = v;
    face.leftEyeDepth = kDepth;
    face.auxiliary.x = 0.25f;
    face.angles.y = 0.125f;
    return face;
}

/* Scripts one face per centre column, all on image row v. */
static void ScriptFaces(const int* centres, int count, int v) {
    tavo_headtracking_detected_face faces[kLimit];
    for (int i = 0; i < count && i < kLimit; ++i) {
        faces[i] = MakeFace(centres[i], v);
    }
    setScript(faces, count, kLimit, 0);
}

/* Camera-space millimetres of an integer pixel at kDepth, as the camera deprojects it. */
static tavo_headtracking_vec3 PixelToMillimetres(double u, double v) {
    tavo_headtracking_vec3 point;
    point.x = (float)((u - intrinsics.ppx) / intrinsics.fx * kDepth * 1000.0);
    point.y = (float)((v - intrinsics.ppy) / intrinsics.fy * kDepth * 1000.0);
    point.z = kDepth * 1000.0f;
    return point;
}

static void CheckVec3(const char* what, tavo_headtracking_vec3 actual, float x, float y, float z,
                      double tolerance, int line) {
    if (!(fabs(actual.x - x) <= tolerance && fabs(actual.y - y) <= tolerance &&
          fabs(actual.z - z) <= tolerance)) {
        fprintf(stderr, "%s:%d: %s is {%g, %g, %g}, expected {%g, %g, %g}\n", __FILE__, line, what,
                actual.x, actual.y, actual.z, x, y, z);
        ++failures;
    }
}
#define CHECK_VEC3(actual, x, y, z, tolerance) \
    CheckVec3(#actual, (actual), (x), (y), (z), (tolerance), __LINE__)

static void SetUp(void) {
    rs2sim_reset();
    rs2sim_connect_default_device();
    /* Lets a stopping capture thread leave its wait quickly. */
    rs2sim_set_max_wait_ms(100);
    rs2sim_default_intrinsics(kWidth, kHeight, &intrinsics);
    setScript(NULL, 0, kLimit, 0);
}

static void TearDown(void) {
    rs2sim_reset();
}

static tavo_headtracking_engine_init_args DefaultArgs(void) {
    tavo_headtracking_engine_init_args args;
    memset(&args, 0, sizeof args);
    args.width = kWidth;
    args.height = kHeight;
    args.fps = kFps;
    args.binningFactor = 1.0f;
    args.logLevel = 3;
    args.enablePolling = 1;
    return args;
}

static void SleepMs(long ms) {
    struct timespec pause;
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&pause, NULL);
}

/* Threads of this process now: a stopped engine must have left none of its own running, which
   shows that no callback can come, where waiting a while would only make one unlikely. */
static int ThreadCount(void) {
    DIR* tasks = opendir("/proc/self/task");
    int count = 0;
    if (tasks == NULL) {
        return -1;
    }
    for (struct dirent* entry = readdir(tasks); entry != NULL; entry = readdir(tasks)) {
        count += entry->d_name[0] != '.';
    }
    closedir(tasks);
    return count;
}

/* Pushes one frame set and returns the polled frame that carries its time stamp, or null when
   it does not arrive within five seconds. */
static tavo_headtracking_frame PushAndPoll(tavo_headtracking_engine engine) {
    const double timestamp = nextTimestamp;
    nextTimestamp += 33.0;
    if (rs2sim_push_active_frameset(timestamp, 128, 600) != 1) {
        fprintf(stderr, "%s:%d: the simulated device is not streaming\n", __FILE__, __LINE__);
        return NULL;
    }
    for (int attempt = 0; attempt < 5000; ++attempt) {
        tavo_headtracking_frame frame = NULL;
        tavo_headtracking_tracking_result result;
        if (tavoHeadTrackingEngineGetLatestFrame(engine, &frame) == 0 &&
            tavoHeadTrackingFrameGetTrackingResult(frame, &result) == 0 &&
            result.timestamp.ms == timestamp) {
            return frame;
        }
        tavoHeadTrackingFrameRelease(frame);
        SleepMs(1);
    }
    fprintf(stderr, "%s:%d: frame %g was not delivered\n", __FILE__, __LINE__, timestamp);
    return NULL;
}

/* Pushes frames until one has `count` raw faces (setters apply at the next frame, and a
   tracker that restarts needs one frame to learn the time); null after ten frames. */
static tavo_headtracking_frame PollUntilRawFaces(tavo_headtracking_engine engine, int count,
                                                 tavo_headtracking_raw_faces* rawFaces) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        tavo_headtracking_frame frame = PushAndPoll(engine);
        if (frame == NULL) {
            return NULL;
        }
        if (tavoHeadTrackingFrameGetRawFaces(frame, rawFaces) == 0 && rawFaces->numFaces == count) {
            return frame;
        }
        tavoHeadTrackingFrameRelease(frame);
    }
    return NULL;
}

/* Raw faces of the second frame pushed after a configuration change: the change restarts the
   tracker, whose first frame only learns the time and so has none whatever the change did.
   -1 when a frame is not delivered. */
static int RawFacesOnSecondFrame(tavo_headtracking_engine engine,
                                 tavo_headtracking_raw_faces* rawFaces) {
    int count = -1;
    for (int frameNumber = 1; frameNumber <= 2; ++frameNumber) {
        tavo_headtracking_frame frame = PushAndPoll(engine);
        if (frame == NULL) {
            return -1;
        }
        count = tavoHeadTrackingFrameGetRawFaces(frame, rawFaces) == 0 ? rawFaces->numFaces : -1;
        tavoHeadTrackingFrameRelease(frame);
    }
    return count;
}

static tavo_headtracking_raw_faces* NewRawFaces(int capacity) {
    return (tavo_headtracking_raw_faces*)calloc(1, TAVO_HEADTRACKING_RAW_FACES_SIZE(capacity));
}

static tavo_headtracking_detected_faces* NewDetectedFaces(int capacity) {
    return (tavo_headtracking_detected_faces*)calloc(
        1, TAVO_HEADTRACKING_DETECTED_FACES_SIZE(capacity));
}

/* ---- cases ---- */

static void VersionIsTheLibrarysVersion(void) {
    const char* version = tavoHeadTrackingGetVersion();
    REQUIRE(version != NULL);
    CHECK(strcmp(version, "0.6.74") == 0);
}

static void NullHandlesAreRefusedWithoutWriting(void) {
    tavo_headtracking_vec3 vector = {1.0f, 2.0f, 3.0f};
    tavo_headtracking_filter_properties properties;
    memset(&properties, 0, sizeof properties);

    CHECK_INT(tavoHeadTrackingEngineStartTracking(NULL), 1);
    CHECK_INT(tavoHeadTrackingEngineStopTracking(NULL), 1);
    CHECK_INT(tavoHeadTrackingEngineSetCameraPosition(NULL, 1.0f, 2.0f, 3.0f), 1);
    CHECK_INT(tavoHeadTrackingEngineSetCameraRotation(NULL, 1, 0, 0, 0, 1, 0, 0, 0, 1), 1);
    CHECK_INT(tavoHeadTrackingEngineSetCameraTransform(NULL, &vector, &vector), 1);
    CHECK_INT(tavoHeadTrackingEngineSetFilterProperties(NULL, &properties), 1);
    CHECK_INT(tavoHeadTrackingEngineSetMaxNumOfDetectedFaces(NULL, 1), 1);
    CHECK_INT(tavoHeadTrackingEngineSetTrackedEyes(NULL, 1, 1), 1);

    int32_t limit = 77;
    CHECK_INT(tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(NULL, &limit), 1);
    CHECK_INT(limit, 77);

    tavo_headtracking_frame frame = (tavo_headtracking_frame)&limit;
    CHECK_INT(tavoHeadTrackingEngineGetLatestFrame(NULL, &frame), 1);
    CHECK(frame == NULL);

    unsigned char untouched[256];
    unsigned char record[256];
    memset(untouched, 0xAB, sizeof untouched);
    memcpy(record, untouched, sizeof record);
    CHECK_INT(
        tavoHeadTrackingFrameGetTrackingResult(NULL, (tavo_headtracking_tracking_result*)record),
        1);
    CHECK_INT(tavoHeadTrackingFrameGetRawFaces(NULL, (tavo_headtracking_raw_faces*)record), 1);
    CHECK_INT(
        tavoHeadTrackingFrameGetDetectedFaces(NULL, (tavo_headtracking_detected_faces*)record), 1);
    CHECK_INT(tavoHeadTrackingFrameGetProfiling(NULL, (tavo_headtracking_frame_profiling*)record),
              1);
    CHECK(memcmp(record, untouched, sizeof record) == 0);

    /* Nothing to release; must not crash. */
    tavoHeadTrackingEngineRelease(NULL);
    tavoHeadTrackingFrameRelease(NULL);
}

static void CreationWithoutCallbackOrPollingFails(void) {
    SetUp();
    tavo_headtracking_engine_init_args args = DefaultArgs();
    args.enablePolling = 0;
    int marker = 0;
    tavo_headtracking_engine engine = (tavo_headtracking_engine)&marker;
    CHECK_INT(tavoHeadTrackingEngineInitArgs(&args, &engine), 2);
    CHECK(engine == NULL);
    /* Nothing was left streaming. */
    CHECK_INT(rs2sim_is_streaming(), 0);
    TearDown();
}

static void CreationFailsWithoutCameraOrDetector(void) {
    SetUp();
    tavo_headtracking_engine_init_args args = DefaultArgs();
    tavo_headtracking_engine engine = NULL;

    rs2sim_disconnect_device();
    CHECK_INT(tavoHeadTrackingEngineInitArgs(&args, &engine), 2);
    CHECK(engine == NULL);

    rs2sim_connect_default_device();
    setScript(NULL, 0, kLimit, 1);
    CHECK_INT(tavoHeadTrackingEngineInitArgs(&args, &engine), 2);
    CHECK(engine == NULL);
    CHECK_INT(rs2sim_is_streaming(), 0);

    /* Null argument and out pointers are refused, not dereferenced. */
    setScript(NULL, 0, kLimit, 0);
    CHECK_INT(tavoHeadTrackingEngineInitArgs(NULL, &engine), 2);
    CHECK(engine == NULL);
    CHECK_INT(tavoHeadTrackingEngineInitArgs(&args, NULL), 2);
    CHECK_INT(rs2sim_is_streaming(), 0);
    TearDown();
}

/* Records sized by the documented rule (the detector's limit) must never be overrun: creation
   refuses a maximum beyond the limit, and a plug-in that returns more faces than it was told
   is cut to the maximum. */
static void FaceMaximumHoldsTheRecordsSize(void) {
    SetUp();
    enum { kSmallLimit = 3, kScripted = 7 };
    tavo_headtracking_detected_face faces[kScripted];
    for (int i = 0; i < kScripted; ++i) {
        faces[i] = MakeFace(40 + 80 * i, 240);
    }
    setScript(faces, kScripted, kSmallLimit, 2);
    tavo_headtracking_engine_init_args args = DefaultArgs();
    tavo_headtracking_engine engine = NULL;

    const int32_t refused[] = {kSmallLimit + 1, -1, 1000};
    for (size_t i = 0; i < sizeof refused / sizeof refused[0]; ++i) {
        args.maxNumOfFaces = refused[i];
        int marker = 0;
        engine = (tavo_headtracking_engine)&marker;
        CHECK_INT(tavoHeadTrackingEngineInitArgs(&args, &engine), 2);
        CHECK(engine == NULL);
        if (engine != NULL && engine != (tavo_headtracking_engine)&marker) {
            tavoHeadTrackingEngineRelease(engine);
        }
        CHECK_INT(rs2sim_is_streaming(), 0);
    }

    const int32_t accepted[] = {0, 2, kSmallLimit};
    for (size_t i = 0; i < sizeof accepted / sizeof accepted[0]; ++i) {
        args.maxNumOfFaces = accepted[i];
        REQUIRE(tavoHeadTrackingEngineInitArgs(&args, &engine) == 0);
        REQUIRE(tavoHeadTrackingEngineStartTracking(engine) == 0);
        tavo_headtracking_frame frame = PushAndPoll(engine);
        REQUIRE(frame != NULL);
        /* Exactly the documented size, so that a sanitizer sees any write past it. */
        tavo_headtracking_detected_faces* detected = NewDetectedFaces(kSmallLimit);
        tavo_headtracking_raw_faces* rawFaces = NewRawFaces(kSmallLimit);
        CHECK_INT(tavoHeadTrackingFrameGetDetectedFaces(frame, detected), 0);
        CHECK_INT(detected->numFaces, accepted[i] == 0 ? kSmallLimit : accepted[i]);
        CHECK_INT(tavoHeadTrackingFrameGetRawFaces(frame, rawFaces), 0);
        CHECK(rawFaces->numFaces <= kSmallLimit);
        tavoHeadTrackingFrameRelease(frame);
        free(detected);
        free(rawFaces);
        tavoHeadTrackingEngineRelease(engine);
    }
    TearDown();
}

static void PollingBeforeAnyFrameGivesAnEmptyFrame(void) {
    SetUp();
    tavo_headtracking_engine_init_args args = DefaultArgs();
    tavo_headtracking_engine engine = NULL;
    REQUIRE(tavoHeadTrackingEngineInitArgs(&args, &engine) == 0);
    REQUIRE(engine != NULL);

    tavo_headtracking_frame frame = NULL;
    CHECK_INT(tavoHeadTrackingEngineGetLatestFrame(engine, &frame), 0);
    REQUIRE(frame != NULL);
    tavo_headtracking_tracking_result result;
    memset(&result, 0xAB, sizeof result);
    CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(frame, &result), 0);
    CHECK_INT(result.numFaces, 0);
    CHECK_INT(result.timestamp.space, 0);
    CHECK(result.timestamp.ms == 0.0);
    CHECK_INT(result.faceEverTracked, 0);

    tavo_headtracking_raw_faces* rawFaces = NewRawFaces(kLimit);
    tavo_headtracking_detected_faces* detectedFaces = NewDetectedFaces(kLimit);
    rawFaces->numFaces = 9;
    detectedFaces->numFaces = 9;
    CHECK_INT(tavoHeadTrackingFrameGetRawFaces(frame, rawFaces), 0);
    CHECK_INT(rawFaces->numFaces, 0);
    CHECK_INT(tavoHeadTrackingFrameGetDetectedFaces(frame, detectedFaces), 0);
    CHECK_INT(detectedFaces->numFaces, 0);

    /* Null records are refused with a logged failure, not written through. */
    CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(frame, NULL), 2);
    CHECK_INT(tavoHeadTrackingFrameGetRawFaces(frame, NULL), 2);
    CHECK_INT(tavoHeadTrackingFrameGetDetectedFaces(frame, NULL), 2);
    CHECK_INT(tavoHeadTrackingFrameGetProfiling(frame, NULL), 2);
    CHECK_INT(tavoHeadTrackingEngineGetLatestFrame(engine, NULL), 2);
    CHECK_INT(tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(engine, NULL), 2);
    CHECK_INT(tavoHeadTrackingEngineSetCameraTransform(engine, NULL, NULL), 2);
    CHECK_INT(tavoHeadTrackingEngineSetFilterProperties(engine, NULL), 2);

    tavoHeadTrackingFrameRelease(frame);
    free(rawFaces);
    free(detectedFaces);
    tavoHeadTrackingEngineRelease(engine);
    TearDown();
}

static void StartAndStopAreIdempotent(void) {
    SetUp();
    const int centre = 320;
    ScriptFaces(&centre, 1, 240);
    tavo_headtracking_engine_init_args args = DefaultArgs();
    tavo_headtracking_engine engine = NULL;
    REQUIRE(tavoHeadTrackingEngineInitArgs(&args, &engine) == 0);

    CHECK_INT(tavoHeadTrackingEngineStartTracking(engine), 0);
    CHECK_INT(tavoHeadTrackingEngineStartTracking(engine), 0);
    tavo_headtracking_raw_faces* rawFaces = NewRawFaces(kLimit);
    tavo_headtracking_frame frame = PollUntilRawFaces(engine, 1, rawFaces);
    CHECK(frame != NULL);
    tavoHeadTrackingFrameRelease(frame);

    CHECK_INT(tavoHeadTrackingEngineStopTracking(engine), 0);
    CHECK_INT(tavoHeadTrackingEngineStopTracking(engine), 0);

    /* A restarted session delivers again. */
    CHECK_INT(tavoHeadTrackingEngineStartTracking(engine), 0);
    frame = PollUntilRawFaces(engine, 1, rawFaces);
    CHECK(frame != NULL);
    tavoHeadTrackingFrameRelease(frame);

    free(rawFaces);
    tavoHeadTrackingEngineRelease(engine);
    TearDown();
}

static void FailedStartIsReportedAndRecoverable(void) {
    SetUp();
    tavo_headtracking_engine_init_args args = DefaultArgs();
    tavo_headtracking_engine engine = NULL;
    REQUIRE(tavoHeadTrackingEngineInitArgs(&args, &engine) == 0);

    /* Tracking neither eye is a configuration the tracker refuses. */
    CHECK_INT(tavoHeadTrackingEngineSetTrackedEyes(engine, 0, 0), 0);
    CHECK_INT(tavoHeadTrackingEngineStartTracking(engine), 2);
    CHECK_INT(tavoHeadTrackingEngineSetTrackedEyes(engine, 1, 1), 0);
    CHECK_INT(tavoHeadTrackingEngineStartTracking(engine), 0);

    tavoHeadTrackingEngineRelease(engine);
    TearDown();
}

static void PollingDeliversFacesRawFacesAndDetections(void) {
    SetUp();
    const int centre = 320;
    ScriptFaces(&centre, 1, 300);
    tavo_headtracking_engine_init_args args = DefaultArgs();
    tavo_headtracking_engine engine = NULL;
    REQUIRE(tavoHeadTrackingEngineInitArgs(&args, &engine) == 0);

    int32_t limit = 0;
    CHECK_INT(tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(engine, &limit), 0);
    CHECK_INT(limit, kLimit);
    REQUIRE(tavoHeadTrackingEngineStartTracking(engine) == 0);

    tavo_headtracking_raw_faces* rawFaces = NewRawFaces(kLimit);
    tavo_headtracking_frame frame = PollUntilRawFaces(engine, 1, rawFaces);
    REQUIRE(frame != NULL);

    const tavo_headtracking_vec3 right = PixelToMillimetres(300, 300);
    const tavo_headtracking_vec3 left = PixelToMillimetres(340, 300);
    CHECK_VEC3(rawFaces->faces[0].rightEye, right.x, right.y, right.z, 1e-3);
    CHECK_VEC3(rawFaces->faces[0].leftEye, left.x, left.y, left.z, 1e-3);
    CHECK_VEC3(rawFaces->faces[0].trackedPoint, (right.x + left.x) / 2, (right.y + left.y) / 2,
               right.z, 1e-3);
    CHECK_INT(rawFaces->faces[0].detectionIndex, 0);

    tavo_headtracking_tracking_result result;
    CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(frame, &result), 0);
    CHECK_INT(result.numFaces, 1);
    CHECK_INT(result.faceEverTracked, 1);
    CHECK_INT(result.timestamp.space, 0);
    CHECK(result.timestamp.ms >= 1000.0);
    /* Identity pose: display space mirrors x and y of camera space. */
    const tavo_headtracking_vec3 point = rawFaces->faces[0].trackedPoint;
    CHECK_VEC3(result.faces[0].position, -point.x, -point.y, point.z, 0.01);
    CHECK_INT(result.faces[0].rawFaceIndex, 0);
    CHECK_NEAR(result.faces[0].angles.y, 0.125, 1e-6);

    tavo_headtracking_detected_faces* detected = NewDetectedFaces(kLimit);
    CHECK_INT(tavoHeadTrackingFrameGetDetectedFaces(frame, detected), 0);
    CHECK_INT(detected->numFaces, 1);
    CHECK(detected->faces[0].rightEyePixel.x == 300.0 &&
          detected->faces[0].rightEyePixel.y == 300.0);
    CHECK(detected->faces[0].leftEyePixel.x == 340.0 && detected->faces[0].leftEyePixel.y == 300.0);
    CHECK(detected->faces[0].rightEyeDepth == kDepth && detected->faces[0].leftEyeDepth == kDepth);
    CHECK(detected->faces[0].auxiliary.x == 0.25f && detected->faces[0].angles.y == 0.125f);

    /* The C interface has no profiling switch, so the engine's default (off) holds. */
    tavo_headtracking_frame_profiling profiling;
    memset(&profiling, 0xAB, sizeof profiling);
    CHECK_INT(tavoHeadTrackingFrameGetProfiling(frame, &profiling), 0);
    CHECK_INT(profiling.cameraExposureTime, 0);
    CHECK_INT(profiling.faceDetectorStartTime, 0);
    CHECK_INT(profiling.faceDetectorEndTime, 0);
    CHECK_INT(profiling.apiTimestamp, 0);

    tavoHeadTrackingFrameRelease(frame);
    free(rawFaces);
    free(detected);
    tavoHeadTrackingEngineRelease(engine);
    TearDown();
}

static void TrackingResultHoldsAtMostThreeFaces(void) {
    SetUp();
    const int centres[] = {120, 250, 390, 520};
    ScriptFaces(centres, 4, 240);
    tavo_headtracking_engine_init_args args = DefaultArgs();
    tavo_headtracking_engine engine = NULL;
    REQUIRE(tavoHeadTrackingEngineInitArgs(&args, &engine) == 0);
    REQUIRE(tavoHeadTrackingEngineStartTracking(engine) == 0);

    tavo_headtracking_raw_faces* rawFaces = NewRawFaces(kLimit);
    tavo_headtracking_frame frame = PollUntilRawFaces(engine, 4, rawFaces);
    REQUIRE(frame != NULL);

    /* A guard behind the record shows that no fourth face is written past its end. */
    struct {
        tavo_headtracking_tracking_result result;
        unsigned char guard[64];
    } padded;
    unsigned char untouched[64];
    memset(&padded, 0xCD, sizeof padded);
    memset(untouched, 0xCD, sizeof untouched);
    CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(frame, &padded.result), 0);
    CHECK_INT(padded.result.numFaces, 3);
    CHECK(memcmp(padded.guard, untouched, sizeof untouched) == 0);

    int seen[4] = {0, 0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        const tavo_headtracking_face* face = &padded.result.faces[i];
        REQUIRE(face->rawFaceIndex >= 0 && face->rawFaceIndex < 4);
        CHECK_INT(seen[face->rawFaceIndex], 0);
        seen[face->rawFaceIndex] = 1;
        const tavo_headtracking_vec3 point = rawFaces->faces[face->rawFaceIndex].trackedPoint;
        CHECK_VEC3(face->position, -point.x, -point.y, point.z, 0.01);
    }
    tavoHeadTrackingFrameRelease(frame);

    /* Face maximum: out of [1; limit] fails and changes nothing; in range reaches the
       detector at the next frame. */
    CHECK_INT(tavoHeadTrackingEngineSetMaxNumOfDetectedFaces(engine, 0), 2);
    CHECK_INT(tavoHeadTrackingEngineSetMaxNumOfDetectedFaces(engine, kLimit + 1), 2);
    CHECK_INT(tavoHeadTrackingEngineSetMaxNumOfDetectedFaces(engine, -1), 2);
    frame = PushAndPoll(engine);
    REQUIRE(frame != NULL);
    tavo_headtracking_detected_faces* detected = NewDetectedFaces(kLimit);
    CHECK_INT(tavoHeadTrackingFrameGetDetectedFaces(frame, detected), 0);
    CHECK_INT(detected->numFaces, 4);
    tavoHeadTrackingFrameRelease(frame);
    CHECK_INT(tavoHeadTrackingEngineSetMaxNumOfDetectedFaces(engine, 2), 0);
    frame = PollUntilRawFaces(engine, 2, rawFaces);
    REQUIRE(frame != NULL);
    CHECK_INT(tavoHeadTrackingFrameGetDetectedFaces(frame, detected), 0);
    CHECK_INT(detected->numFaces, 2);
    tavoHeadTrackingFrameRelease(frame);
    free(detected);

    free(rawFaces);
    tavoHeadTrackingEngineRelease(engine);
    TearDown();
}

static void SettersReachTheFrames(void) {
    SetUp();
    const int centre = 280;
    ScriptFaces(&centre, 1, 300);
    tavo_headtracking_engine_init_args args = DefaultArgs();
    tavo_headtracking_engine engine = NULL;
    REQUIRE(tavoHeadTrackingEngineInitArgs(&args, &engine) == 0);
    REQUIRE(tavoHeadTrackingEngineStartTracking(engine) == 0);

    tavo_headtracking_raw_faces* rawFaces = NewRawFaces(kLimit);
    tavo_headtracking_tracking_result result;
    tavo_headtracking_frame frame = PollUntilRawFaces(engine, 1, rawFaces);
    REQUIRE(frame != NULL);
    tavoHeadTrackingFrameRelease(frame);
    const tavo_headtracking_vec3 midpoint = rawFaces->faces[0].trackedPoint;
    const tavo_headtracking_vec3 leftEye = rawFaces->faces[0].leftEye;

    /* Camera position: added to the display-space position. */
    CHECK_INT(tavoHeadTrackingEngineSetCameraPosition(engine, 10.0f, 20.0f, 30.0f), 0);
    int moved = 0;
    for (int attempt = 0; attempt < 10 && !moved; ++attempt) {
        frame = PushAndPoll(engine);
        REQUIRE(frame != NULL);
        CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(frame, &result), 0);
        moved = result.numFaces == 1 &&
                fabs(result.faces[0].position.x - (-midpoint.x + 10.0f)) < 0.01 &&
                fabs(result.faces[0].position.y - (-midpoint.y + 20.0f)) < 0.01 &&
                fabs(result.faces[0].position.z - (midpoint.z + 30.0f)) < 0.01;
        tavoHeadTrackingFrameRelease(frame);
    }
    CHECK(moved);

    /* Camera rotation, row by row: a quarter turn about z maps camera (x, y) to (-y, x). */
    CHECK_INT(tavoHeadTrackingEngineSetCameraPosition(engine, 0.0f, 0.0f, 0.0f), 0);
    CHECK_INT(tavoHeadTrackingEngineSetCameraRotation(engine, 0, -1, 0, 1, 0, 0, 0, 0, 1), 0);
    int rotated = 0;
    for (int attempt = 0; attempt < 10 && !rotated; ++attempt) {
        frame = PushAndPoll(engine);
        REQUIRE(frame != NULL);
        CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(frame, &result), 0);
        rotated = result.numFaces == 1 && fabs(result.faces[0].position.x - midpoint.y) < 0.01 &&
                  fabs(result.faces[0].position.y - (-midpoint.x)) < 0.01 &&
                  fabs(result.faces[0].position.z - midpoint.z) < 0.01;
        tavoHeadTrackingFrameRelease(frame);
    }
    CHECK(rotated);

    /* Camera transform: half a turn about z (degrees) undoes the mirror; then the offset. */
    tavo_headtracking_vec3 position = {1.0f, 2.0f, 3.0f};
    tavo_headtracking_vec3 rotation = {0.0f, 0.0f, 180.0f};
    CHECK_INT(tavoHeadTrackingEngineSetCameraTransform(engine, &position, &rotation), 0);
    int transformed = 0;
    for (int attempt = 0; attempt < 10 && !transformed; ++attempt) {
        frame = PushAndPoll(engine);
        REQUIRE(frame != NULL);
        CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(frame, &result), 0);
        transformed = result.numFaces == 1 &&
                      fabs(result.faces[0].position.x - (midpoint.x + 1.0f)) < 0.05 &&
                      fabs(result.faces[0].position.y - (midpoint.y + 2.0f)) < 0.05 &&
                      fabs(result.faces[0].position.z - (midpoint.z + 3.0f)) < 0.05;
        tavoHeadTrackingFrameRelease(frame);
    }
    CHECK(transformed);

    /* Tracked eyes: any non-zero value means true; left only tracks the left eye. */
    CHECK_INT(tavoHeadTrackingEngineSetTrackedEyes(engine, 2, 0), 0);
    int leftOnly = 0;
    for (int attempt = 0; attempt < 10 && !leftOnly; ++attempt) {
        frame = PollUntilRawFaces(engine, 1, rawFaces);
        REQUIRE(frame != NULL);
        const tavo_headtracking_vec3 tracked = rawFaces->faces[0].trackedPoint;
        leftOnly = fabs(tracked.x - leftEye.x) < 1e-3 && fabs(tracked.y - leftEye.y) < 1e-3 &&
                   fabs(tracked.z - leftEye.z) < 1e-3;
        tavoHeadTrackingFrameRelease(frame);
    }
    CHECK(leftOnly);

    /* Filter properties, converted field by field: an eye distance limit below 62.5 mm
       rejects the face; the defaults accept it again. */
    tavo_headtracking_filter_properties properties;
    properties.resetThreshold = 0.5f;
    properties.maxTrackGap = 600.0f;
    properties.velDampingTime = 100.0f;
    properties.minFitDist = 40.0f;
    properties.maxFitDist = 2000.0f;
    properties.angleYMax = 0.7853982f;
    properties.interocularDistanceMin = 30.0f;
    properties.interocularDistanceMax = 50.0f;
    properties.bufferLim = 600.0f;
    properties.mainFaceSkew.x = properties.mainFaceSkew.y = properties.mainFaceSkew.z = 0.0f;
    properties.mainFaceScale.x = properties.mainFaceScale.y = 4.0f;
    properties.mainFaceScale.z = 1.0f;
    properties.kalman.a.x = 0.02f;
    properties.kalman.a.y = 0.05f;
    properties.kalman.a.z = 0.2f;
    properties.kalman.b.x = properties.kalman.b.y = properties.kalman.b.z = 0.1f;
    CHECK_INT(tavoHeadTrackingEngineSetFilterProperties(engine, &properties), 0);
    CHECK_INT(RawFacesOnSecondFrame(engine, rawFaces), 0);
    properties.interocularDistanceMax = 80.0f;
    CHECK_INT(tavoHeadTrackingEngineSetFilterProperties(engine, &properties), 0);
    CHECK_INT(RawFacesOnSecondFrame(engine, rawFaces), 1);

    free(rawFaces);
    tavoHeadTrackingEngineRelease(engine);
    TearDown();
}

/* ---- callback delivery ---- */

typedef struct CallbackRecord {
    pthread_mutex_t lock;
    pthread_cond_t changed;
    int calls;
    int statusFailures;
    pthread_t thread;
    tavo_headtracking_tracking_result result;
    int32_t numRawFaces;
    int32_t numDetectedFaces;
    tavo_headtracking_frame_profiling profiling;
    double lastTimestamp;
} CallbackRecord;

static CallbackRecord callbackRecord = {.lock = PTHREAD_MUTEX_INITIALIZER,
                                        .changed = PTHREAD_COND_INITIALIZER};

static void RecordFrame(tavo_headtracking_frame frame, void* userData) {
    CallbackRecord* record = (CallbackRecord*)userData;
    tavo_headtracking_tracking_result result;
    tavo_headtracking_raw_faces* rawFaces = NewRawFaces(kLimit);
    tavo_headtracking_detected_faces* detected = NewDetectedFaces(kLimit);
    tavo_headtracking_frame_profiling profiling;
    int bad = 0;
    bad += tavoHeadTrackingFrameGetTrackingResult(frame, &result) != 0;
    bad += tavoHeadTrackingFrameGetRawFaces(frame, rawFaces) != 0;
    bad += tavoHeadTrackingFrameGetDetectedFaces(frame, detected) != 0;
    bad += tavoHeadTrackingFrameGetProfiling(frame, &profiling) != 0;

    pthread_mutex_lock(&record->lock);
    record->statusFailures += bad;
    record->thread = pthread_self();
    record->result = result;
    record->numRawFaces = rawFaces->numFaces;
    record->numDetectedFaces = detected->numFaces;
    record->profiling = profiling;
    record->lastTimestamp = result.timestamp.ms;
    ++record->calls;
    pthread_cond_broadcast(&record->changed);
    pthread_mutex_unlock(&record->lock);
    free(rawFaces);
    free(detected);
}

/* Pushes one frame set and waits until the callback has seen it; 0 on time-out. */
static int PushAndAwaitCallback(CallbackRecord* record) {
    const double timestamp = nextTimestamp;
    nextTimestamp += 33.0;
    if (rs2sim_push_active_frameset(timestamp, 128, 600) != 1) {
        return 0;
    }
    struct timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 5;
    pthread_mutex_lock(&record->lock);
    int arrived = 0;
    while (!(arrived = record->lastTimestamp == timestamp)) {
        if (pthread_cond_timedwait(&record->changed, &record->lock, &deadline) != 0) {
            arrived = record->lastTimestamp == timestamp;
            break;
        }
    }
    pthread_mutex_unlock(&record->lock);
    return arrived;
}

static void CallbackDeliversFramesOnTheCameraThread(void) {
    SetUp();
    const int centres[] = {200, 440};
    ScriptFaces(centres, 2, 240);
    tavo_headtracking_engine_init_args args = DefaultArgs();
    args.enablePolling = 0;
    args.frameCallback = RecordFrame;
    args.frameCallbackUserData = &callbackRecord;
    tavo_headtracking_engine engine = NULL;
    REQUIRE(tavoHeadTrackingEngineInitArgs(&args, &engine) == 0);

    /* Without polling there is no latest frame. */
    int marker = 0;
    tavo_headtracking_frame polled = (tavo_headtracking_frame)&marker;
    CHECK_INT(tavoHeadTrackingEngineGetLatestFrame(engine, &polled), 2);
    CHECK(polled == NULL);

    const int threadsStopped = ThreadCount();
    REQUIRE(tavoHeadTrackingEngineStartTracking(engine) == 0);
    int withFaces = 0;
    for (int attempt = 0; attempt < 10 && !withFaces; ++attempt) {
        REQUIRE(PushAndAwaitCallback(&callbackRecord));
        pthread_mutex_lock(&callbackRecord.lock);
        withFaces = callbackRecord.result.numFaces == 2;
        pthread_mutex_unlock(&callbackRecord.lock);
    }
    CHECK(withFaces);

    pthread_mutex_lock(&callbackRecord.lock);
    CHECK_INT(callbackRecord.statusFailures, 0);
    CHECK(!pthread_equal(callbackRecord.thread, pthread_self()));
    CHECK_INT(callbackRecord.numRawFaces, 2);
    CHECK_INT(callbackRecord.numDetectedFaces, 2);
    CHECK_INT(callbackRecord.result.faceEverTracked, 1);
    CHECK_INT(callbackRecord.result.timestamp.space, 0);
    CHECK_INT(callbackRecord.profiling.apiTimestamp, 0);
    const int calls = callbackRecord.calls;
    pthread_mutex_unlock(&callbackRecord.lock);

    /* Stopped: no more callbacks. */
    CHECK_INT(tavoHeadTrackingEngineStopTracking(engine), 0);
    CHECK_INT(ThreadCount(), threadsStopped);
    rs2sim_push_active_frameset(nextTimestamp, 128, 600);
    pthread_mutex_lock(&callbackRecord.lock);
    CHECK_INT(callbackRecord.calls, calls);
    pthread_mutex_unlock(&callbackRecord.lock);

    tavoHeadTrackingEngineRelease(engine);
    TearDown();
}

/* ---- virtual face hook ---- */

typedef struct HookRecord {
    pthread_mutex_t lock;
    int calls;
    /* What the hook does: 0 declines; 1 claims 10 faces, writes three and replaces. */
    int mode;
    tavo_headtracking_virtual_face_hook_context seen;
    void* userData;
} HookRecord;

static HookRecord hookRecord = {.lock = PTHREAD_MUTEX_INITIALIZER};

static const float kVirtualX[3] = {-100.0f, 0.0f, 100.0f};

static int32_t VirtualFaces(tavo_headtracking_virtual_face_hook_context* context, void* userData) {
    HookRecord* record = (HookRecord*)userData;
    pthread_mutex_lock(&record->lock);
    ++record->calls;
    record->seen = *context;
    record->userData = userData;
    const int mode = record->mode;
    pthread_mutex_unlock(&record->lock);
    if (mode == 0) {
        return 0;
    }
    for (int i = 0; i < 3 && i < context->maxNumOfFaces; ++i) {
        context->faces[i].position.x = kVirtualX[i];
        context->faces[i].position.y = 0.0f;
        context->faces[i].position.z = 600.0f;
        context->faces[i].interocularDistance = 62.5f;
    }
    /* More than there is room for: only maxNumOfFaces may be taken over. */
    context->numFaces = 10;
    context->replaceDetectedFaces = 1;
    return 1;
}

static void VirtualFaceHookWorksThroughTheCRecords(void) {
    SetUp();
    const int centres[] = {200, 440};
    ScriptFaces(centres, 2, 240);
    tavo_headtracking_engine_init_args args = DefaultArgs();
    args.maxNumOfFaces = 3;
    args.virtualFaceHook = VirtualFaces;
    args.virtualFaceHookUserData = &hookRecord;
    tavo_headtracking_engine engine = NULL;
    REQUIRE(tavoHeadTrackingEngineInitArgs(&args, &engine) == 0);
    REQUIRE(tavoHeadTrackingEngineStartTracking(engine) == 0);

    /* Declining leaves the detector's faces. */
    tavo_headtracking_detected_faces* detected = NewDetectedFaces(kLimit);
    tavo_headtracking_frame frame = PushAndPoll(engine);
    REQUIRE(frame != NULL);
    CHECK_INT(tavoHeadTrackingFrameGetDetectedFaces(frame, detected), 0);
    CHECK_INT(detected->numFaces, 2);
    tavoHeadTrackingFrameRelease(frame);

    pthread_mutex_lock(&hookRecord.lock);
    CHECK(hookRecord.calls >= 1);
    CHECK(hookRecord.userData == &hookRecord);
    CHECK_INT(hookRecord.seen.numDetectedFaces, 2);
    CHECK_INT(hookRecord.seen.maxNumOfFaces, 3);
    CHECK(hookRecord.seen.faces != NULL);
    CHECK_INT(hookRecord.seen.numFaces, 0);
    CHECK_INT(hookRecord.seen.replaceDetectedFaces, 0);
    CHECK_INT(hookRecord.seen.timestamp.space, 0);
    CHECK(hookRecord.seen.timestamp.ms == nextTimestamp - 33.0);
    hookRecord.mode = 1;
    pthread_mutex_unlock(&hookRecord.lock);

    /* Ten claimed, room for three: three replace the detections, projected per eye. */
    tavo_headtracking_raw_faces* rawFaces = NewRawFaces(kLimit);
    frame = PollUntilRawFaces(engine, 3, rawFaces);
    REQUIRE(frame != NULL);
    CHECK_INT(tavoHeadTrackingFrameGetDetectedFaces(frame, detected), 0);
    CHECK_INT(detected->numFaces, 3);
    const double halfEye = 0.03125;
    for (int i = 0; i < 3 && i < detected->numFaces; ++i) {
        const double x = -kVirtualX[i] / 1000.0;
        CHECK_NEAR(detected->faces[i].leftEyePixel.x,
                   intrinsics.ppx + intrinsics.fx * (x + halfEye) / kDepth, 1e-3);
        CHECK_NEAR(detected->faces[i].rightEyePixel.x,
                   intrinsics.ppx + intrinsics.fx * (x - halfEye) / kDepth, 1e-3);
        CHECK_NEAR(detected->faces[i].leftEyePixel.y, intrinsics.ppy, 1e-3);
        CHECK_NEAR(detected->faces[i].rightEyeDepth, kDepth, 1e-5);
        CHECK_NEAR(detected->faces[i].leftEyeDepth, kDepth, 1e-5);
    }

    /* Tracked back into display space, the faces sit where the hook put them. */
    tavo_headtracking_tracking_result result;
    CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(frame, &result), 0);
    CHECK_INT(result.numFaces, 3);
    int matched = 0;
    for (int i = 0; i < result.numFaces; ++i) {
        for (int k = 0; k < 3; ++k) {
            if (fabs(result.faces[i].position.x - kVirtualX[k]) < kPositionTolerance &&
                fabs(result.faces[i].position.y) < kPositionTolerance &&
                fabs(result.faces[i].position.z - 600.0f) < kPositionTolerance) {
                ++matched;
            }
        }
    }
    CHECK_INT(matched, 3);
    tavoHeadTrackingFrameRelease(frame);

    free(rawFaces);
    free(detected);
    tavoHeadTrackingEngineRelease(engine);
    TearDown();
}

static void PolledFramesOutliveTheEngine(void) {
    SetUp();
    const int centres[] = {200, 440};
    ScriptFaces(centres, 2, 240);
    tavo_headtracking_engine_init_args args = DefaultArgs();
    tavo_headtracking_engine engine = NULL;
    REQUIRE(tavoHeadTrackingEngineInitArgs(&args, &engine) == 0);
    REQUIRE(tavoHeadTrackingEngineStartTracking(engine) == 0);

    tavo_headtracking_raw_faces* rawFaces = NewRawFaces(kLimit);
    tavo_headtracking_frame frame = PollUntilRawFaces(engine, 2, rawFaces);
    REQUIRE(frame != NULL);
    tavo_headtracking_frame second = NULL;
    CHECK_INT(tavoHeadTrackingEngineGetLatestFrame(engine, &second), 0);
    CHECK(second != NULL && second != frame);
    /* Entries past numFaces are not written, so both records start zeroed for the comparison. */
    tavo_headtracking_tracking_result before;
    memset(&before, 0, sizeof before);
    CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(frame, &before), 0);

    /* Still tracking when released: the release itself stops delivery. */
    tavoHeadTrackingEngineRelease(engine);

    tavo_headtracking_tracking_result after;
    memset(&after, 0, sizeof after);
    tavo_headtracking_raw_faces* rawAfter = NewRawFaces(kLimit);
    CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(frame, &after), 0);
    CHECK(memcmp(&before, &after, sizeof before) == 0);
    CHECK_INT(tavoHeadTrackingFrameGetRawFaces(frame, rawAfter), 0);
    CHECK_INT(rawAfter->numFaces, 2);
    CHECK(memcmp(rawFaces, rawAfter, TAVO_HEADTRACKING_RAW_FACES_SIZE(2)) == 0);
    tavoHeadTrackingFrameRelease(frame);
    CHECK_INT(tavoHeadTrackingFrameGetTrackingResult(second, &after), 0);
    CHECK_INT(after.numFaces, 2);
    tavoHeadTrackingFrameRelease(second);

    free(rawFaces);
    free(rawAfter);
    TearDown();
}

typedef void (*TestCase)(void);

typedef struct NamedCase {
    const char* name;
    TestCase run;
} NamedCase;

int main(void) {
    const char* pluginPath = TAVO_SCRIPTED_PLUGIN;
    /* The library loads the same file by name through the loader's search path; both handles
       share one image, so this script reaches the library's detectors. */
    void* plugin = dlopen(pluginPath, RTLD_NOW | RTLD_LOCAL);
    if (plugin == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", pluginPath, dlerror());
        return 1;
    }
    setScript = (SetScriptFunction)dlsym(plugin, "ScriptedDetector_SetScriptC");
    if (setScript == NULL) {
        fprintf(stderr, "no ScriptedDetector_SetScriptC in %s\n", pluginPath);
        return 1;
    }

    const NamedCase cases[] = {
        {"VersionIsTheLibrarysVersion", VersionIsTheLibrarysVersion},
        {"NullHandlesAreRefusedWithoutWriting", NullHandlesAreRefusedWithoutWriting},
        {"CreationWithoutCallbackOrPollingFails", CreationWithoutCallbackOrPollingFails},
        {"CreationFailsWithoutCameraOrDetector", CreationFailsWithoutCameraOrDetector},
        {"FaceMaximumHoldsTheRecordsSize", FaceMaximumHoldsTheRecordsSize},
        {"PollingBeforeAnyFrameGivesAnEmptyFrame", PollingBeforeAnyFrameGivesAnEmptyFrame},
        {"StartAndStopAreIdempotent", StartAndStopAreIdempotent},
        {"FailedStartIsReportedAndRecoverable", FailedStartIsReportedAndRecoverable},
        {"PollingDeliversFacesRawFacesAndDetections", PollingDeliversFacesRawFacesAndDetections},
        {"TrackingResultHoldsAtMostThreeFaces", TrackingResultHoldsAtMostThreeFaces},
        {"SettersReachTheFrames", SettersReachTheFrames},
        {"CallbackDeliversFramesOnTheCameraThread", CallbackDeliversFramesOnTheCameraThread},
        {"VirtualFaceHookWorksThroughTheCRecords", VirtualFaceHookWorksThroughTheCRecords},
        {"PolledFramesOutliveTheEngine", PolledFramesOutliveTheEngine},
    };
    int failedCases = 0;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const int before = failures;
        printf("[ RUN      ] %s\n", cases[i].name);
        fflush(stdout);
        cases[i].run();
        const int failed = failures != before;
        failedCases += failed;
        printf("%s %s\n", failed ? "[  FAILED  ]" : "[       OK ]", cases[i].name);
        fflush(stdout);
    }
    printf("%d of %d cases failed\n", failedCases, (int)(sizeof cases / sizeof cases[0]));
    /* The plug-in stays loaded: detectors of the library may still be released at exit. */
    return failures == 0 ? 0 : 1;
}
