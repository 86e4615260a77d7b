// Pinhole projection with the lens distortion models of rs2_distortion.
//
// Every model is a map between undistorted normalised coordinates u = (x / z, y / z) and the
// distorted normalised image point d = ((px - ppx) / fx, (py - ppy) / fy). Where the model
// defines that map only in one direction, the other is solved numerically, so projection and
// deprojection are inverses of each other for every model.
#include <librealsense2/rsutil.h>

#include <array>
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

// Brown-Conrady: radial and tangential terms of the undistorted point.
Vec2 BrownConrady(const Coefficients& c, const Vec2& u) {
    const double r2 = u[0] * u[0] + u[1] * u[1];
    const double f = Radial(c, r2);
    return {u[0] * f + 2.0 * c.p1 * u[0] * u[1] + c.p2 * (r2 + 2.0 * u[0] * u[0]),
            u[1] * f + c.p1 * (r2 + 2.0 * u[1] * u[1]) + 2.0 * c.p2 * u[0] * u[1]};
}

// The modified form: tangential terms of the radially distorted point, radius of the original.
Vec2 ModifiedBrownConrady(const Coefficients& c, const Vec2& u) {
    const double r2 = u[0] * u[0] + u[1] * u[1];
    const double f = Radial(c, r2);
    const double x = u[0] * f;
    const double y = u[1] * f;
    return {x + 2.0 * c.p1 * x * y + c.p2 * (r2 + 2.0 * x * x),
            y + 2.0 * c.p2 * x * y + c.p1 * (r2 + 2.0 * y * y)};
}

// Solves map(v) = target by Newton's method with a numerical Jacobian, from v = target. The
// distortions of real lenses are close to the identity, so this converges in a few steps.
template <typename Map>
Vec2 Invert(const Map& map, const Vec2& target) {
    Vec2 v = target;
    for (int iteration = 0; iteration < 30; ++iteration) {
        const Vec2 value = map(v);
        const Vec2 residual = {target[0] - value[0], target[1] - value[1]};
        if (std::abs(residual[0]) < 1e-14 && std::abs(residual[1]) < 1e-14) {
            break;
        }
        const double h = 1e-7;
        const Vec2 dx = map({v[0] + h, v[1]});
        const Vec2 dy = map({v[0], v[1] + h});
        const double a = (dx[0] - value[0]) / h;
        const double b = (dy[0] - value[0]) / h;
        const double c = (dx[1] - value[1]) / h;
        const double d = (dy[1] - value[1]) / h;
        const double determinant = a * d - b * c;
        if (!std::isfinite(determinant) || std::abs(determinant) < 1e-300) {
            break;
        }
        v[0] += (d * residual[0] - b * residual[1]) / determinant;
        v[1] += (a * residual[1] - c * residual[0]) / determinant;
    }
    return v;
}

// Scales u to the distorted radius of a radially symmetric model.
Vec2 ScaleRadius(const Vec2& u, double from, double to) {
    if (from <= 0.0) {
        return u;
    }
    return {u[0] * to / from, u[1] * to / from};
}

// F-theta: rd = atan(2 r tan(w / 2)) / w; the identity as w goes to 0.
double FthetaForward(double w, double r) {
    if (std::abs(w) < 1e-9) {
        return r;
    }
    return std::atan(2.0 * r * std::tan(w / 2.0)) / w;
}

double FthetaInverse(double w, double rd) {
    if (std::abs(w) < 1e-9) {
        return rd;
    }
    return std::tan(rd * w) / (2.0 * std::tan(w / 2.0));
}

// Kannala-Brandt: theta_d = theta (1 + k1 theta^2 + k2 theta^4 + k3 theta^6 + k4 theta^8).
double KannalaBrandtThetaD(const rs2_intrinsics& in, double theta) {
    const double t2 = theta * theta;
    return theta * (1.0 + t2 * (in.coeffs[0] +
                                t2 * (in.coeffs[1] + t2 * (in.coeffs[2] + t2 * in.coeffs[3]))));
}

double KannalaBrandtTheta(const rs2_intrinsics& in, double thetaD) {
    double theta = thetaD;
    for (int iteration = 0; iteration < 30; ++iteration) {
        const double t2 = theta * theta;
        const double value = KannalaBrandtThetaD(in, theta) - thetaD;
        const double slope =
            1.0 +
            t2 * (3.0 * in.coeffs[0] +
                  t2 * (5.0 * in.coeffs[1] + t2 * (7.0 * in.coeffs[2] + t2 * 9.0 * in.coeffs[3])));
        if (std::abs(value) < 1e-15 || slope == 0.0) {
            break;
        }
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
            return ModifiedBrownConrady(c, u);
        case RS2_DISTORTION_INVERSE_BROWN_CONRADY:
            return Invert([&](const Vec2& d) { return BrownConrady(c, d); }, u);
        case RS2_DISTORTION_FTHETA: {
            const double r = std::hypot(u[0], u[1]);
            return ScaleRadius(u, r, FthetaForward(in.coeffs[0], r));
        }
        case RS2_DISTORTION_KANNALA_BRANDT4: {
            const double r = std::hypot(u[0], u[1]);
            return ScaleRadius(u, r, KannalaBrandtThetaD(in, std::atan(r)));
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
            return Invert([&](const Vec2& u) { return BrownConrady(c, u); }, d);
        case RS2_DISTORTION_MODIFIED_BROWN_CONRADY:
            return Invert([&](const Vec2& u) { return ModifiedBrownConrady(c, u); }, d);
        // The coefficients describe this direction.
        case RS2_DISTORTION_INVERSE_BROWN_CONRADY:
            return BrownConrady(c, d);
        case RS2_DISTORTION_FTHETA: {
            const double rd = std::hypot(d[0], d[1]);
            return ScaleRadius(d, rd, FthetaInverse(in.coeffs[0], rd));
        }
        case RS2_DISTORTION_KANNALA_BRANDT4: {
            const double rd = std::hypot(d[0], d[1]);
            return ScaleRadius(d, rd, std::tan(KannalaBrandtTheta(in, rd)));
        }
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
