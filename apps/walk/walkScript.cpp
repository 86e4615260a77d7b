#include "apps/walk/walkScript.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace tavo::apps::walk {
namespace {

struct Waypoint {
    double t;  // natural seconds
    glm::dvec3 at;
};

// Where the viewer's eye middle heads for; the walk eases between neighbours.
constexpr Waypoint kViewerPath[] = {
    {0.0, {-760.0, 10.0, 720.0}},                                // outside the camera's view
    {2.2, {0.0, 20.0, 600.0}},                                   // stops
    {5.0, {10.0, 25.0, 600.0}},                                  // sways in place
    {6.4, {-30.0, 5.0, 450.0}},                                  // leans in
    {7.6, {-30.0, 5.0, 450.0}},   {9.2, {40.0, 35.0, 850.0}},    // steps back
    {13.2, {30.0, 35.0, 850.0}},  {15.0, {860.0, 30.0, 860.0}},  // leaves to the other side
};

double Ease(double u) {
    u = std::clamp(u, 0.0, 1.0);
    return u * u * (3.0 - 2.0 * u);
}

glm::dvec3 OnPath(double t) {
    const auto next = std::upper_bound(std::begin(kViewerPath), std::end(kViewerPath), t,
                                       [](double value, const Waypoint& w) { return value < w.t; });
    if (next == std::begin(kViewerPath))
        return kViewerPath[0].at;
    if (next == std::end(kViewerPath))
        return std::prev(next)->at;
    const Waypoint& a = *std::prev(next);
    const Waypoint& b = *next;
    return a.at + (b.at - a.at) * Ease((t - a.t) / (b.t - a.t));
}

// How strongly the viewer sways at natural time t: only while standing.
double SwayWeight(double t) {
    auto window = [t](double from, double to) {
        return Ease((t - from) / 0.6) * Ease((to - t) / 0.6);
    };
    return std::max({window(2.0, 6.2), window(6.4, 7.8), 0.7 * window(9.2, 13.4)});
}

Head Place(const glm::dvec3& middle, double roll) {
    // The viewer faces the panel: their right is display +x.
    const glm::dvec3 half(std::cos(roll) * WalkScript::kInterocularMm / 2.0,
                          std::sin(roll) * WalkScript::kInterocularMm / 2.0, 0.0);
    return {middle + half, middle - half, roll};
}

}  // namespace

WalkScript::WalkScript(double seconds) : scale_(seconds / kNaturalSeconds) {}

Head WalkScript::Viewer(double seconds) const {
    const double t = seconds / scale_;
    const double sway = SwayWeight(t);
    glm::dvec3 middle = OnPath(t);
    // A shortened walk keeps a person's sway: its rhythm runs on the clock, not the script.
    const double s = seconds;
    middle.x += sway * 70.0 * std::sin(2.0 * M_PI * 0.45 * s);
    middle.y += sway * 12.0 * std::sin(2.0 * M_PI * 0.9 * s + 0.5);
    middle.z += sway * 25.0 * std::sin(2.0 * M_PI * 0.3 * s);
    const double roll = sway * 0.14 * std::sin(2.0 * M_PI * 0.45 * s + 0.8);
    return Place(middle, roll);
}

std::optional<Head> WalkScript::Passer(double seconds) const {
    const double t = seconds / scale_;
    if (t < kPassStart || t > kPassEnd)
        return std::nullopt;
    const double u = (t - kPassStart) / (kPassEnd - kPassStart);
    const glm::dvec3 middle(1150.0 - 2300.0 * u, 60.0 + 15.0 * std::sin(2.0 * M_PI * 2.0 * u),
                            1350.0);
    return Place(middle, 0.05);
}

}  // namespace tavo::apps::walk
