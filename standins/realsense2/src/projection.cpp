// Pinhole projection with the lens distortion models of rs2_distortion, as the real library
// computes them today (2.45 and later), its asymmetries included:
// - Brown-Conrady projects with the forward formula (tangential terms of the undistorted point)
//   and deprojects by ten fixed-point steps towards its inverse.
// - Modified and inverse Brown-Conrady project alike: the radial factor first, then tangential
//   terms of the radially distorted point. Inverse Brown-Conrady deprojects by ten fixed-point
//   steps towards the inverse of that; modified Brown-Conrady is not undistorted at all.
// - F-theta deprojects with tan(w rd) / atan(2 tan(w / 2)), which is not the inverse of its
//   projection atan(2 r tan(w / 2)) / w.
// - Kannala-Brandt deprojects with at most four Newton steps on theta.
// Each map works on normalised coordinates: u = (x / z, y / z) undistorted, d = ((px - ppx) / fx,
// (py - ppy) / fy) distorted.
#include <librealsense2/rsutil.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <string>

#include "device.h"

namespace {

using Vec2 = std::array<double, 2>;

struct Coefficients {
    double k1, k2, p1, p2, k3;
};

Coefficients BrownCoefficients(const rs2_intrinsics& intrinsics) {
    return {intrinsics.coeffs[0], intrinsics.coeffs[1], intrinsics.coeffs[2], intrinsics.coeffs[3],
            intrinsics.coeffs[4]};
}

double Radial(const Coefficients& c, double r2) {
    return 1.0 + c.k1 * r2 + c.k2 * r2 * r2 + c.k3 * r2 * r2 * r2;
}

// The tangential offset of the point t for a radius r2 that need not be t's own.
Vec2 Tangential(const Coefficients& c, const Vec2& t, double r2) {
    return {2.0 * c.p1 * t[0] * t[1] + c.p2 * (r2 + 2.0 * t[0] * t[0]),
            2.0 * c.p2 * t[0] * t[1] + c.p1 * (r2 + 2.0 * t[1] * t[1])};
}

Vec2 BrownConrady(const Coefficients& c, const Vec2& u) {
    const double r2 = u[0] * u[0] + u[1] * u[1];
    const double f = Radial(c, r2);
    const Vec2 t = Tangential(c, u, r2);
    return {u[0] * f + t[0], u[1] * f + t[1]};
}

Vec2 ModifiedBrownConrady(const Coefficients& c, const Vec2& u) {
    const double r2 = u[0] * u[0] + u[1] * u[1];
    const double f = Radial(c, r2);
    const Vec2 scaled = {u[0] * f, u[1] * f};
    const Vec2 t = Tangential(c, scaled, r2);
    return {scaled[0] + t[0], scaled[1] + t[1]};
}

// Ten steps of u <- (d - tangential) / radial(u), from u = d. The tangential terms are those of
// u itself (Brown-Conrady) or of the radially scaled u (inverse Brown-Conrady).
Vec2 FixedPointUndistort(const Coefficients& c, const Vec2& d, bool tangentialOfScaled) {
    Vec2 u = d;
    for (int step = 0; step < 10; ++step) {
        const double r2 = u[0] * u[0] + u[1] * u[1];
        const double f = Radial(c, r2);
        const Vec2 source = tangentialOfScaled ? Vec2{u[0] * f, u[1] * f} : u;
        const Vec2 t = Tangential(c, source, r2);
        u = {(d[0] - t[0]) / f, (d[1] - t[1]) / f};
    }
    return u;
}

// Scales a point of radius `from` to radius `to`; radii below FLT_EPSILON count as FLT_EPSILON.
Vec2 ScaleRadius(const Vec2& u, double from, double to) {
    from = std::max(from, static_cast<double>(FLT_EPSILON));
    return {u[0] * to / from, u[1] * to / from};
}

double KannalaBrandtSeries(const rs2_intrinsics& in, double theta) {
    const double t2 = theta * theta;
    return 1.0 +
           t2 * (in.coeffs[0] + t2 * (in.coeffs[1] + t2 * (in.coeffs[2] + t2 * in.coeffs[3])));
}

double KannalaBrandtTheta(const rs2_intrinsics& in, double rd) {
    double theta = rd;
    for (int step = 0; step < 4; ++step) {
        const double t2 = theta * theta;
        const double value = theta * KannalaBrandtSeries(in, theta) - rd;
        if (std::abs(value) < FLT_EPSILON) {
            break;
        }
        const double slope =
            1.0 +
            t2 * (3.0 * in.coeffs[0] +
                  t2 * (5.0 * in.coeffs[1] + t2 * (7.0 * in.coeffs[2] + 9.0 * t2 * in.coeffs[3])));
        theta -= value / slope;
    }
    return theta;
}

Vec2 Distort(const rs2_intrinsics& in, const Vec2& u) {
    const Coefficients c = BrownCoefficients(in);
    switch (in.model) {
        case RS2_DISTORTION_BROWN_CONRADY:
            return BrownConrady(c, u);
        case RS2_DISTORTION_MODIFIED_BROWN_CONRADY:
        case RS2_DISTORTION_INVERSE_BROWN_CONRADY:
            return ModifiedBrownConrady(c, u);
        case RS2_DISTORTION_FTHETA: {
            const double r = std::max(std::hypot(u[0], u[1]), static_cast<double>(FLT_EPSILON));
            const double w = in.coeffs[0];
            return ScaleRadius(u, r, std::atan(2.0 * r * std::tan(w / 2.0)) / w);
        }
        case RS2_DISTORTION_KANNALA_BRANDT4: {
            const double r = std::max(std::hypot(u[0], u[1]), static_cast<double>(FLT_EPSILON));
            const double theta = std::atan(r);
            return ScaleRadius(u, r, theta * KannalaBrandtSeries(in, theta));
        }
        case RS2_DISTORTION_NONE:
        case RS2_DISTORTION_COUNT:
            break;
    }
    return u;
}

Vec2 Undistort(const rs2_intrinsics& in, const Vec2& d) {
    const Coefficients c = BrownCoefficients(in);
    switch (in.model) {
        case RS2_DISTORTION_BROWN_CONRADY:
            return FixedPointUndistort(c, d, false);
        case RS2_DISTORTION_INVERSE_BROWN_CONRADY:
            return FixedPointUndistort(c, d, true);
        case RS2_DISTORTION_FTHETA: {
            const double rd = std::max(std::hypot(d[0], d[1]), static_cast<double>(FLT_EPSILON));
            const double w = in.coeffs[0];
            return ScaleRadius(d, rd, std::tan(w * rd) / std::atan(2.0 * std::tan(w / 2.0)));
        }
        case RS2_DISTORTION_KANNALA_BRANDT4: {
            const double rd = std::max(std::hypot(d[0], d[1]), static_cast<double>(FLT_EPSILON));
            return ScaleRadius(d, rd, std::tan(KannalaBrandtTheta(in, rd)));
        }
        // An image distorted forward cannot be undistorted; the library deprojects it as it is.
        case RS2_DISTORTION_MODIFIED_BROWN_CONRADY:
        case RS2_DISTORTION_NONE:
        case RS2_DISTORTION_COUNT:
            break;
    }
    return d;
}

}  // namespace

extern "C" {

void rs2_project_point_to_pixel(float pixel[2], const struct rs2_intrinsics* intrin,
                                const float point[3]) {
    rs2::detail::enter("rs2_project_point_to_pixel", [] { return std::string("intrin, point"); });
    const Vec2 u = {static_cast<double>(point[0]) / point[2],
                    static_cast<double>(point[1]) / point[2]};
    const Vec2 d = Distort(*intrin, u);
    pixel[0] = static_cast<float>(d[0] * intrin->fx + intrin->ppx);
    pixel[1] = static_cast<float>(d[1] * intrin->fy + intrin->ppy);
}

void rs2_deproject_pixel_to_point(float point[3], const struct rs2_intrinsics* intrin,
                                  const float pixel[2], float depth) {
    rs2::detail::enter("rs2_deproject_pixel_to_point",
                       [&] { return "intrin, pixel, depth:" + std::to_string(depth); });
    const Vec2 d = {(static_cast<double>(pixel[0]) - intrin->ppx) / intrin->fx,
                    (static_cast<double>(pixel[1]) - intrin->ppy) / intrin->fy};
    const Vec2 u = Undistort(*intrin, d);
    point[0] = static_cast<float>(u[0] * depth);
    point[1] = static_cast<float>(u[1] * depth);
    point[2] = depth;
}

}  // extern "C"
