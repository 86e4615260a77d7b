/* Projection between pixels and camera-space points with a stream's intrinsics, for every
   distortion model of rs2_distortion. Usable from C99 and C++. */
#ifndef LIBREALSENSE_RSUTIL2_H
#define LIBREALSENSE_RSUTIL2_H

#include "rs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Pixel (x, y) of a camera-space point (x, y, z), z > 0, in the point's length unit. Models
   whose distortion is defined in the other direction are inverted numerically. */
RS2_STANDIN_API void rs2_project_point_to_pixel(float pixel[2], const struct rs2_intrinsics* intrin,
                                                const float point[3]);

/* Camera-space point at `depth` along the ray through `pixel`; the inverse of
   rs2_project_point_to_pixel for the same intrinsics. */
RS2_STANDIN_API void rs2_deproject_pixel_to_point(float point[3],
                                                  const struct rs2_intrinsics* intrin,
                                                  const float pixel[2], float depth);

#ifdef __cplusplus
}
#endif

#endif
