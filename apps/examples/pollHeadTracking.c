/* Polls head tracking through the SDK's C interface and prints one line per new frame with the
 * main face's position in display space (millimetres).
 *
 *   tavo-example-poll [FRAMES]
 *
 * A host with a RealSense camera runs it as it is. Built with TAVO_EXAMPLE_SIMULATED_CAMERA,
 * it drives the RealSense stand-in's simulated camera instead, pushing one frame set before
 * each poll, so that it runs on a machine without a camera.
 *
 * Plain C99: compiled with -std=c99 -pedantic. */
#define _POSIX_C_SOURCE 199309L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tavo/headTracking/engine/tavoHeadTracking.h"

#ifdef TAVO_EXAMPLE_SIMULATED_CAMERA
#include <librealsense2/simulation.h>
#endif

enum { kWidth = 848, kHeight = 480, kFps = 30 };

static void SleepMs(long ms) {
    struct timespec pause;
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&pause, NULL);
}

/* Prints the frame when it is newer than *lastMs; returns 1 when it was. */
static int PrintIfNew(tavo_headtracking_frame frame, double* lastMs, int index) {
    tavo_headtracking_tracking_result result;
    if (tavoHeadTrackingFrameGetTrackingResult(frame, &result) != kTavoHeadTrackingStatusSuccess) {
        return 0;
    }
    /* Before the first camera frame the engine hands out an empty frame stamped 0. */
    if (result.timestamp.ms == 0.0 || result.timestamp.ms == *lastMs) {
        return 0;
    }
    *lastMs = result.timestamp.ms;
    if (result.numFaces > 0) {
        const tavo_headtracking_vec3 p = result.faces[0].position;
        printf("frame %d at %.1f ms: %d face(s), main face at (%.1f, %.1f, %.1f) mm\n", index,
               result.timestamp.ms, (int)result.numFaces, p.x, p.y, p.z);
    } else {
        printf("frame %d at %.1f ms: no face\n", index, result.timestamp.ms);
    }
    return 1;
}

int main(int argc, char** argv) {
    tavo_headtracking_engine_init_args args;
    tavo_headtracking_engine engine = NULL;
    const int frames = argc > 1 ? atoi(argv[1]) : 30;
    int received = 0;
    int attempt;
#ifdef TAVO_EXAMPLE_SIMULATED_CAMERA
    int pushed = 0;
#endif
    double lastMs = 0.0;

    if (frames <= 0) {
        fprintf(stderr, "usage: %s [FRAMES]  (FRAMES > 0)\n", argv[0]);
        return 2;
    }
#ifdef TAVO_EXAMPLE_SIMULATED_CAMERA
    rs2sim_connect_default_device();
    /* Lets the capture thread leave its wait quickly when tracking stops. */
    rs2sim_set_max_wait_ms(100);
#endif

    printf("tavo head tracking %s\n", tavoHeadTrackingGetVersion());
    memset(&args, 0, sizeof args);
    args.width = kWidth;
    args.height = kHeight;
    args.fps = kFps;
    args.binningFactor = 1.0f;
    args.logLevel = 4; /* warnings and worse */
    args.enablePolling = 1;
    if (tavoHeadTrackingEngineInitArgs(&args, &engine) != kTavoHeadTrackingStatusSuccess) {
        fprintf(stderr, "no engine: see the log for why (camera, detector plug-in)\n");
        return 1;
    }
    /* The camera 33 mm right of and 125 mm above the panel's centre, looking straight out. */
    tavoHeadTrackingEngineSetCameraPosition(engine, 33.0f, 125.0f, 0.0f);
    if (tavoHeadTrackingEngineStartTracking(engine) != kTavoHeadTrackingStatusSuccess) {
        fprintf(stderr, "tracking did not start\n");
        tavoHeadTrackingEngineRelease(engine);
        return 1;
    }

    /* Polling never blocks: a frame is the latest one, whatever the camera's pace. */
    for (attempt = 0; received < frames && attempt < frames * 100; ++attempt) {
        tavo_headtracking_frame frame = NULL;
#ifdef TAVO_EXAMPLE_SIMULATED_CAMERA
        if (attempt % 10 == 0) {
            /* A flat grey infrared image 600 mm deep, stamped on a 30 fps clock. */
            pushed += rs2sim_push_active_frameset(1000.0 + pushed * 33.3, 128, 600);
        }
#endif
        if (tavoHeadTrackingEngineGetLatestFrame(engine, &frame) ==
            kTavoHeadTrackingStatusSuccess) {
            received += PrintIfNew(frame, &lastMs, received);
            tavoHeadTrackingFrameRelease(frame);
        }
        SleepMs(10);
    }

    tavoHeadTrackingEngineStopTracking(engine);
    tavoHeadTrackingEngineRelease(engine);
    printf("frames received: %d\n", received);
    return received > 0 ? 0 : 1;
}
