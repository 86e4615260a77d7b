/* The C half of the RealSense stand-in: the enumerations, records and plain functions of
   librealsense2 (API 2.50) that this SDK uses, with the real library's names, values and
   signatures. Usable from C99 and C++. */
#ifndef LIBREALSENSE_RS2_H
#define LIBREALSENSE_RS2_H

#ifdef __cplusplus
extern "C" {
#endif

#define RS2_API_MAJOR_VERSION 2
#define RS2_API_MINOR_VERSION 50
#define RS2_API_PATCH_VERSION 0
#define RS2_API_BUILD_VERSION 0
/* 2.50.0 is 25000. */
#define RS2_API_VERSION \
    (((RS2_API_MAJOR_VERSION)*10000) + ((RS2_API_MINOR_VERSION)*100) + (RS2_API_PATCH_VERSION))
#define RS2_DEFAULT_TIMEOUT 15000

#define RS2_STANDIN_API __attribute__((visibility("default")))

typedef double rs2_time_t; /* milliseconds */
typedef long long rs2_metadata_type;

typedef enum rs2_stream {
    RS2_STREAM_ANY = 0,
    RS2_STREAM_DEPTH = 1,
    RS2_STREAM_COLOR = 2,
    RS2_STREAM_INFRARED = 3,
    RS2_STREAM_FISHEYE = 4,
    RS2_STREAM_GYRO = 5,
    RS2_STREAM_ACCEL = 6,
    RS2_STREAM_GPIO = 7,
    RS2_STREAM_POSE = 8,
    RS2_STREAM_CONFIDENCE = 9,
    RS2_STREAM_COUNT
} rs2_stream;

typedef enum rs2_format {
    RS2_FORMAT_ANY = 0,
    RS2_FORMAT_Z16 = 1,
    RS2_FORMAT_DISPARITY16 = 2,
    RS2_FORMAT_XYZ32F = 3,
    RS2_FORMAT_YUYV = 4,
    RS2_FORMAT_RGB8 = 5,
    RS2_FORMAT_BGR8 = 6,
    RS2_FORMAT_RGBA8 = 7,
    RS2_FORMAT_BGRA8 = 8,
    RS2_FORMAT_Y8 = 9,
    RS2_FORMAT_Y16 = 10
} rs2_format;

typedef enum rs2_distortion {
    RS2_DISTORTION_NONE = 0,
    /* Forward Brown-Conrady whose tangential terms use the radially distorted point. */
    RS2_DISTORTION_MODIFIED_BROWN_CONRADY = 1,
    /* The coefficients map distorted points to undistorted ones. */
    RS2_DISTORTION_INVERSE_BROWN_CONRADY = 2,
    RS2_DISTORTION_FTHETA = 3,
    RS2_DISTORTION_BROWN_CONRADY = 4,
    RS2_DISTORTION_KANNALA_BRANDT4 = 5,
    RS2_DISTORTION_COUNT
} rs2_distortion;

typedef struct rs2_intrinsics {
    int width;
    int height;
    float ppx;
    float ppy;
    float fx;
    float fy;
    rs2_distortion model;
    float coeffs[5];
} rs2_intrinsics;

/* Only the options this SDK touches, at the real library's values. */
typedef enum rs2_option {
    RS2_OPTION_EXPOSURE = 3,
    RS2_OPTION_GAIN = 4,
    RS2_OPTION_ENABLE_AUTO_EXPOSURE = 10,
    RS2_OPTION_LASER_POWER = 13,
    RS2_OPTION_EMITTER_ENABLED = 18,
    RS2_OPTION_DEPTH_UNITS = 28,
    RS2_OPTION_GLOBAL_TIME_ENABLED = 53
} rs2_option;

typedef enum rs2_timestamp_domain {
    RS2_TIMESTAMP_DOMAIN_HARDWARE_CLOCK = 0,
    RS2_TIMESTAMP_DOMAIN_SYSTEM_TIME = 1,
    RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME = 2,
    RS2_TIMESTAMP_DOMAIN_COUNT
} rs2_timestamp_domain;

typedef enum rs2_frame_metadata_value {
    RS2_FRAME_METADATA_FRAME_COUNTER = 0,
    /* Microseconds. */
    RS2_FRAME_METADATA_FRAME_TIMESTAMP = 1,
    /* Microseconds, mid-exposure. */
    RS2_FRAME_METADATA_SENSOR_TIMESTAMP = 2,
    RS2_FRAME_METADATA_ACTUAL_EXPOSURE = 3,
    RS2_FRAME_METADATA_GAIN_LEVEL = 4,
    RS2_FRAME_METADATA_AUTO_EXPOSURE = 5,
    RS2_FRAME_METADATA_WHITE_BALANCE = 6,
    RS2_FRAME_METADATA_TIME_OF_ARRIVAL = 7
} rs2_frame_metadata_value;

typedef enum rs2_exception_type {
    RS2_EXCEPTION_TYPE_UNKNOWN = 0,
    RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED = 1,
    RS2_EXCEPTION_TYPE_BACKEND = 2,
    RS2_EXCEPTION_TYPE_INVALID_VALUE = 3,
    RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE = 4,
    RS2_EXCEPTION_TYPE_NOT_IMPLEMENTED = 5,
    RS2_EXCEPTION_TYPE_DEVICE_IN_RECOVERY_MODE = 6,
    RS2_EXCEPTION_TYPE_IO = 7,
    RS2_EXCEPTION_TYPE_COUNT
} rs2_exception_type;

typedef struct rs2_error rs2_error;
typedef struct rs2_context rs2_context;

RS2_STANDIN_API const char* rs2_get_error_message(const rs2_error* error);
RS2_STANDIN_API const char* rs2_get_failed_function(const rs2_error* error);
RS2_STANDIN_API const char* rs2_get_failed_args(const rs2_error* error);
RS2_STANDIN_API rs2_exception_type rs2_get_librealsense_exception_type(const rs2_error* error);
RS2_STANDIN_API void rs2_free_error(rs2_error* error);

/* Fails with an invalid-value error when the application's API version is newer than the
   library's or of another major version. */
RS2_STANDIN_API rs2_context* rs2_create_context(int api_version, rs2_error** error);
RS2_STANDIN_API void rs2_delete_context(rs2_context* context);

/* The host's wall clock in milliseconds since 1970-01-01 UTC. */
RS2_STANDIN_API rs2_time_t rs2_get_time(rs2_error** error);

/* The option's display name, as in the real library ("Exposure", "Global Time Enabled"). */
RS2_STANDIN_API const char* rs2_option_to_string(rs2_option option);

#ifdef __cplusplus
}
#endif

#endif
