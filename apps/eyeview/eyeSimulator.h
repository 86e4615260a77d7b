// What one eye sees on the panel: a per-eye optical simulator that traces chief rays through the
// lenticules' vertex lines and reads the woven picture where they land. It checks a weave against
// the lens physics without sharing the weave's own view formula, so both cannot share a mistake.
//
// Plain data and pure functions: any thread may call them, on objects of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <glm/vec3.hpp>

#include "apps/weave/weaver.h"
#include "tavo/device/config.h"

namespace tavo::apps {

// The lens sheet in display space (mm), from a panel configuration.
struct LensSheet {
    int columns = 0;        // pixels across
    int rows = 0;           // pixels down
    double pitch = 0.0;     // pixel pitch, mm
    double cosTheta = 1.0;  // lens frame rotation
    double sinTheta = 0.0;
    double stepsPerMmU = 0.0;  // view steps per mm along x̃ (1/du)
    double stepsPerMmV = 0.0;  // view steps per mm along ỹ (1/dv; sign: slant direction)
    int views = 0;             // views under one lenticule
    double s = 0.0;            // convergence parameter
    double n = 1.0;            // refractive index
    double dOverN = 0.0;       // nodal height, mm
    bool colorInversion = false;

    // Throws std::invalid_argument when the configuration describes no usable lens sheet.
    static LensSheet FromConfig(const device::Config& config);
};

// One chief ray: where it leaves the lens (a vertex point) and what it hits below.
struct EyeSample {
    double x = 0.0;  // vertex point, display space mm
    double y = 0.0;
    int column = 0;  // pixel hit, row 0 at the top
    int row = 0;
    int slot = 0;     // subpixel stripe 0..2 from the left
    int channel = 0;  // colour the stripe shows: 0 red, 1 green, 2 blue
    uint8_t value = 0;
};

struct EyeSampling {
    // Heights sampled inside each pixel row on each lenticule, spread by a low-discrepancy
    // sequence; row centres alone bias shares at far distances.
    int heightsPerRow = 4;
};

// Traces every lenticule's vertex line on every pixel row for an eye at `eye` (display space,
// mm, in front of the lens) and reads `woven` (the panel's picture, row 0 at the top) where the
// rays land, handing each sample to `visit` (a 4K panel gives millions: they are not kept).
// Rays that land outside the panel are dropped. Throws std::invalid_argument when `woven` does
// not match the panel or the eye is not in front of the lens.
void TraceEye(const LensSheet& lens, const Picture& woven, const glm::dvec3& eye,
              const EyeSampling& sampling, const std::function<void(const EyeSample&)>& visit);

// Share (0..1) of the eye's samples whose value is nearest to each of `sourceValues` (ties go
// to the earlier source): for pictures woven from constant-valued views. No samples give zeros.
std::vector<double> SourceShares(const LensSheet& lens, const Picture& woven, const glm::dvec3& eye,
                                 const std::vector<int>& sourceValues,
                                 const EyeSampling& sampling = {});

// The picture the eye sees at the panel's resolution divided by `cell`: each cell averages the
// samples of each colour whose vertex point lies in it, and cells without a colour take it
// from the nearest cell on their row that has it.
Picture EyePicture(const LensSheet& lens, const Picture& woven, const glm::dvec3& eye, int cell,
                   const EyeSampling& sampling = {});

// The least share of its own image each eye of a face at distance `z` (mm) must see in Stereo
// Sliding on the default panel: the ideal per-subpixel weave's ceiling less about two points,
// since the geometry, not the weave, limits the far range.
double AcceptedStereoShare(double z);

}  // namespace tavo::apps
