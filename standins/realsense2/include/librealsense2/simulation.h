/* Control of the RealSense stand-in's simulated device, for tests and benchmarks. Plain C99
   with C linkage, so C and C++ test programs script the same device.

   There is one simulated device per process, like one camera on the bus. Every function here
   is thread-safe: tests may push frames from one thread while the library's users wait for them
   on another. State persists until rs2sim_reset, which tests call between cases. */
#ifndef LIBREALSENSE_RS2_SIMULATION_H
#define LIBREALSENSE_RS2_SIMULATION_H

#include <stdint.h>

#include "rs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One stream profile the device offers; its width and height are those of the intrinsics. */
typedef struct rs2sim_stream_profile {
    rs2_stream stream;
    int index;
    rs2_format format;
    int fps;
    rs2_intrinsics intrinsics;
} rs2sim_stream_profile;

typedef struct rs2sim_device_desc {
    /* Offered in this order; a pipeline request takes the first profile that matches. */
    const rs2sim_stream_profile* profiles;
    int profile_count;
    /* Without a depth sensor device::first<depth_sensor>() throws. */
    int has_depth_sensor;
    /* Metres per Z16 unit. */
    float depth_scale;
} rs2sim_device_desc;

/* Connects a device with these profiles (copied). Its depth sensor supports every option of
   rs2_option; rs2sim_set_option_supported narrows that. Replaces a connected device. */
RS2_STANDIN_API void rs2sim_connect_device(const rs2sim_device_desc* desc);
/* Connects a D4xx-like device: depth Z16 and infrared Y8 (indices 1 and 2) at 848x480 (90,
   60, 30 fps), 640x480 (90, 30 fps) and 1280x720 (30 fps), Brown-Conrady intrinsics with zero
   coefficients, fx = fy = 0.6 x width, principal point at the centre, depth scale 0.001. */
RS2_STANDIN_API void rs2sim_connect_default_device(void);
/* Fills `intrinsics` the way the default device does for a width x height stream. */
RS2_STANDIN_API void rs2sim_default_intrinsics(int width, int height, rs2_intrinsics* intrinsics);
/* Removes the device, as unplugging does with the real library: a wait_for_frames keeps waiting
   and, when its time runs out, tries to start its pipeline again and throws a plain rs2::error
   ("Device disconnected. Failed to reconnect: ..."), never rs2::camera_disconnected_error. Calls
   on the old device's sensors throw rs2::camera_disconnected_error. Pipeline starts wait for a
   device (up to 15 s, see rs2sim_set_max_wait_ms) and then throw rs2::error "No device
   connected". Contexts' devices-changed callbacks hear of the removal. */
RS2_STANDIN_API void rs2sim_disconnect_device(void);
/* Connects the device last described again, as a fresh connection: its options are back at their
   defaults and its supported set and ranges as after rs2sim_connect_device. A pipeline that
   streamed from the old connection starts again on it only inside a wait_for_frames that runs
   out, as the real library's does; callbacks hear of the removal (when it was still connected)
   and the addition. Does nothing when no device was ever described. */
RS2_STANDIN_API void rs2sim_reconnect_device(void);
/* Disconnects, and clears queued frame sets, injected failures, the logs, the wait limit and
   the counters. */
RS2_STANDIN_API void rs2sim_reset(void);

/* Depth sensor options. Setting an unsupported option throws rs2::invalid_value_error, and so
   does a value outside the option's range or off its steps. A connected device starts with a
   D4xx depth sensor's ranges (min, max, step, default): exposure 1, 165000, 1, 8500; gain 16,
   248, 1, 16; auto exposure 0, 1, 1, 1; laser power 0, 360, 30, 150; emitter 0, 2, 1, 1; depth
   units 0.000001, 0.01, 0.000001, 0.001; global time 0, 1, 1, 1. */
RS2_STANDIN_API void rs2sim_set_option_supported(rs2_option option, int supported);
/* Replaces an option's range until the next connect; a step of 0 accepts any value in range. */
RS2_STANDIN_API void rs2sim_set_option_range(rs2_option option, float min, float max, float step,
                                             float def);
/* The value last set, or `fallback` when the option was never set since the device connected. */
RS2_STANDIN_API float rs2sim_get_option_value(rs2_option option, float fallback);
/* Every successful set_option since the last connect or clear, in call order. */
RS2_STANDIN_API int rs2sim_option_log_size(void);
/* 1 and the entry when `position` is in range, else 0. */
RS2_STANDIN_API int rs2sim_option_log_entry(int position, rs2_option* option, float* value);
RS2_STANDIN_API void rs2sim_clear_option_log(void);

/* A stream request as pipeline start received it through rs2::config::enable_stream. */
typedef struct rs2sim_stream_request {
    rs2_stream stream;
    int index;
    int width;
    int height;
    rs2_format format;
    int fps;
} rs2sim_stream_request;
/* The requests of the latest successful or failed pipeline start, in enable order. */
RS2_STANDIN_API int rs2sim_stream_request_count(void);
RS2_STANDIN_API int rs2sim_stream_request_entry(int position, rs2sim_stream_request* request);
/* The profile a started pipeline resolved for `stream` (first match of any index); 0 when not
   streaming or the stream was not resolved. */
RS2_STANDIN_API int rs2sim_active_profile(rs2_stream stream, rs2sim_stream_profile* profile);
/* 1 while a pipeline streams; the last pipeline handle's release stops it. */
RS2_STANDIN_API int rs2sim_is_streaming(void);
/* Successful pipeline starts (restarts inside wait_for_frames included) and stops since the last
   reset. */
RS2_STANDIN_API int rs2sim_start_count(void);
RS2_STANDIN_API int rs2sim_stop_count(void);

typedef struct rs2sim_metadata {
    rs2_frame_metadata_value key;
    rs2_metadata_type value;
} rs2sim_metadata;

/* One frame of a frame set. Pixels are copied at push; rows are width x bytes-per-pixel long
   without padding (Y8 one byte, Z16 two). A null `data` gives zeros. Metadata not listed is not
   supported by the frame. */
typedef struct rs2sim_frame {
    rs2_stream stream;
    int index;
    rs2_format format;
    int width;
    int height;
    const void* data;
    double timestamp_ms;
    rs2_timestamp_domain domain;
    const rs2sim_metadata* metadata;
    int metadata_count;
} rs2sim_frame;

/* Queues one frame set for wait_for_frames (first in, first out; nothing is dropped). Returns
   0, queuing nothing, when no pipeline streams, else 1. */
RS2_STANDIN_API int rs2sim_push_frameset(const rs2sim_frame* frames, int count);
/* Queues a frame set of the streams the pipeline resolved: a Y8 infrared image filled with
   `infrared_value` (when an infrared stream is active) and a Z16 depth image filled with
   `depth_units` (when a depth stream is active). `timestamp_ms` is the host's time of the frame;
   how the frames are stamped follows the metadata setting and the clock of the device:
   - the device clock reads timestamp_ms + the offset of rs2sim_set_global_time_settling;
   - with metadata (RS2SIM_METADATA_FULL, the default) frames carry a frame counter and frame
     and sensor time stamps (both the device clock in microseconds); with RS2SIM_METADATA_UVC_HEADER
     only the frame time stamp; with RS2SIM_METADATA_NONE nothing;
   - without metadata the domain is system time, stamped timestamp_ms; otherwise, while global
     time is enabled (the option, on unless set to 0) and has settled, the global time domain
     stamped timestamp_ms, else the hardware clock domain stamped with the device clock.
   Returns 0 when no pipeline streams, else 1. */
RS2_STANDIN_API int rs2sim_push_active_frameset(double timestamp_ms, uint8_t infrared_value,
                                                uint16_t depth_units);

typedef enum rs2sim_metadata_mode {
    RS2SIM_METADATA_FULL = 0,
    /* What a camera gives without the kernel's metadata patch. */
    RS2SIM_METADATA_UVC_HEADER = 1,
    RS2SIM_METADATA_NONE = 2
} rs2sim_metadata_mode;
/* How rs2sim_push_active_frameset stamps frames from now on; kept until rs2sim_reset. */
RS2_STANDIN_API void rs2sim_set_frame_metadata(rs2sim_metadata_mode mode);
/* The real library reports global time only once its tracking of the device clock settles: after
   every pipeline start (a restart inside wait_for_frames included) the first `framesets` frame
   sets of rs2sim_push_active_frameset come in the hardware clock domain. `device_clock_offset_ms`
   is what the device clock reads ahead of the host's. Both 0 (the default) until rs2sim_reset. */
RS2_STANDIN_API void rs2sim_set_global_time_settling(int framesets, double device_clock_offset_ms);
/* Queues a timeout: the wait that takes it throws at once the error a wait that runs out of time
   throws (rs2::error, not an unrecoverable one: "Frame didn't arrive within <timeout>").
   Returns 0 when no pipeline streams, else 1. */
RS2_STANDIN_API int rs2sim_push_timeout(void);
/* Frame sets and timeouts queued and not yet taken. */
RS2_STANDIN_API int rs2sim_pending_framesets(void);
/* Frame sets taken by wait_for_frames since the last reset. */
RS2_STANDIN_API int rs2sim_delivered_framesets(void);
/* Caps the real time a wait_for_frames blocks on an empty queue, and a pipeline start waits for a
   device; when the cap runs out, the call fails as it would after its full time (a wait names
   the timeout the caller asked for). Negative: no cap (the default). Lets tests stop a capture
   loop without waiting out its full timeout. */
RS2_STANDIN_API void rs2sim_set_max_wait_ms(int max_wait_ms);
/* The timeout the latest wait_for_frames asked for; -1 before the first. */
RS2_STANDIN_API int rs2sim_last_wait_timeout_ms(void);

/* Makes calls of `function` fail: after `skip` successful calls, the next `count` calls throw
   the rs2::error subclass of `type` with `message`, the function's name and its arguments.
   Function names are those of the real library's C calls behind the wrapper:
     rs2_create_context, rs2_create_pipeline, rs2_pipeline_start_with_config,
     rs2_pipeline_wait_for_frames, rs2_pipeline_get_active_profile, rs2_pipeline_stop,
     rs2_get_video_stream_intrinsics, rs2_query_sensors, rs2_query_devices,
     rs2_supports_option, rs2_get_option_range, rs2_set_option,
     rs2_get_frame_timestamp, rs2_get_frame_timestamp_domain, rs2_supports_frame_metadata,
     rs2_get_frame_metadata, rs2_get_frame_width, rs2_get_frame_height, rs2_get_frame_data,
     rs2_depth_frame_get_distance, rs2_project_point_to_pixel, rs2_deproject_pixel_to_point.
   The last two normally never fail; their injected failures reach C++ callers only. A later
   call for the same function replaces the earlier one. */
RS2_STANDIN_API void rs2sim_fail_call(const char* function, rs2_exception_type type,
                                      const char* message, int skip, int count);
/* Calls made so far of a function of the list above (counted whether or not they failed). */
RS2_STANDIN_API int rs2sim_call_count(const char* function);

#ifdef __cplusplus
}
#endif

#endif
