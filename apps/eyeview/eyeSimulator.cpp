#include "apps/eyeview/eyeSimulator.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tavo::apps {

LensSheet LensSheet::FromConfig(const device::Config& config) {
    LensSheet lens;
    lens.columns = config.panelResolution.x;
    lens.rows = config.panelResolution.y;
    lens.pitch = config.dotPitch.x;
    lens.views = config.numViews.x;
    lens.n = config.n;
    lens.dOverN = config.dOverN;
    lens.colorInversion = config.colorInversion;
    const bool usable =
        lens.columns > 0 && lens.rows > 0 && std::isfinite(lens.pitch) && lens.pitch > 0.0 &&
        lens.views > 0 && std::isfinite(lens.n) && lens.n >= 1.0 && std::isfinite(lens.dOverN) &&
        lens.dOverN >= 0.0 && std::isfinite(config.pOverDu) && config.pOverDu != 0.0f &&
        std::isfinite(config.pOverDv) && std::isfinite(config.s) && std::isfinite(config.theta);
    if (!usable)
        throw std::invalid_argument("the panel configuration describes no usable lens sheet");
    // The panel's record states the angle over three panel heights and s over the panel's
    // width in view steps; the lens sheet wants them per unit.
    const double theta = config.theta / (3.0 * lens.rows);
    lens.cosTheta = std::cos(theta);
    lens.sinTheta = std::sin(theta);
    lens.s = config.s / (static_cast<double>(lens.columns) * config.pOverDu);
    lens.stepsPerMmU = config.pOverDu / lens.pitch;
    lens.stepsPerMmV = config.pOverDv / lens.pitch;
    if (1.0 + lens.s <= 0.0)
        throw std::invalid_argument("the panel configuration describes no usable lens sheet");
    return lens;
}

void TraceEye(const LensSheet& lens, const Picture& woven, const glm::dvec3& eye,
              const EyeSampling& sampling, const std::function<void(const EyeSample&)>& visit) {
    if (woven.width != lens.columns || woven.height != lens.rows ||
        woven.rgba.size() != static_cast<size_t>(woven.width) * woven.height * 4) {
        throw std::invalid_argument("the woven picture is " + std::to_string(woven.width) + "x" +
                                    std::to_string(woven.height) + ", the panel " +
                                    std::to_string(lens.columns) + "x" + std::to_string(lens.rows));
    }
    const double d = lens.n * lens.dOverN;
    const double h = eye.z - d;
    if (!std::isfinite(eye.x) || !std::isfinite(eye.y) || !(h > 0.0) || !std::isfinite(h))
        throw std::invalid_argument("the eye must be in front of the lens sheet");
    if (sampling.heightsPerRow < 1)
        throw std::invalid_argument("at least one height per row is needed");

    const double width = lens.columns * lens.pitch;
    const double height = lens.rows * lens.pitch;
    // ψ(x, y) = a·x + b·y in view steps, from the rotated lens frame.
    const double a = lens.cosTheta * lens.stepsPerMmU - lens.sinTheta * lens.stepsPerMmV;
    const double b = lens.sinTheta * lens.stepsPerMmU + lens.cosTheta * lens.stepsPerMmV;
    if (a == 0.0)
        throw std::invalid_argument("the lenticules run along the pixel rows");
    // Vertex lines lie where (1 + s)·ψ is a whole multiple of N.
    const double lensPhase = lens.views / (1.0 + lens.s);
    const double tilt = 1.0 - 1.0 / (lens.n * lens.n);
    const int heights = sampling.heightsPerRow;

    for (int row = 0; row < lens.rows; ++row) {
        // Sample heights for this row: stratified, offset by a golden-ratio sequence per lens.
        const double rowShift = std::fmod(row * 0.7548776662466927, 1.0);
        for (int q = 0; q < heights; ++q) {
            const double base = static_cast<double>(q);
            // Lenticules crossing this height inside the panel: ψ spans a·x + b·y over x.
            const double yTop = height / 2.0 - row * lens.pitch;
            const double psiA = -a * width / 2.0 + b * (yTop - lens.pitch);
            const double psiB = a * width / 2.0 + b * yTop;
            const double psiC = -a * width / 2.0 + b * yTop;
            const double psiD = a * width / 2.0 + b * (yTop - lens.pitch);
            const double lo = std::min({psiA, psiB, psiC, psiD});
            const double hi = std::max({psiA, psiB, psiC, psiD});
            const long first = static_cast<long>(std::floor(lo / lensPhase));
            const long last = static_cast<long>(std::ceil(hi / lensPhase));
            for (long k = first; k <= last; ++k) {
                const double shift =
                    std::fmod(rowShift + static_cast<double>(k) * 0.6180339887498949, 1.0);
                const double f = (base + (shift < 0.0 ? shift + 1.0 : shift)) / heights;
                const double y = yTop - f * lens.pitch;
                const double x = (static_cast<double>(k) * lensPhase - b * y) / a;
                if (x < -width / 2.0 || x >= width / 2.0)
                    continue;
                // Exact Snell refraction of the chief ray through the vertex point.
                const double dx = eye.x - x;
                const double dy = eye.y - y;
                const double scale = lens.dOverN / std::sqrt(tilt * (dx * dx + dy * dy) + h * h);
                const double hitX = x - scale * dx + width / 2.0;
                const double hitY = height / 2.0 - (y - scale * dy);
                const double px = hitX / lens.pitch;
                const double py = hitY / lens.pitch;
                if (!(px >= 0.0 && px < lens.columns && py >= 0.0 && py < lens.rows))
                    continue;
                EyeSample sample;
                sample.x = x;
                sample.y = y;
                sample.column = static_cast<int>(std::floor(px));
                sample.row = static_cast<int>(std::floor(py));
                sample.slot =
                    std::clamp(static_cast<int>(std::floor((px - sample.column) * 3.0)), 0, 2);
                sample.channel = lens.colorInversion ? 2 - sample.slot : sample.slot;
                sample.value =
                    woven.rgba[(static_cast<size_t>(sample.row) * woven.width + sample.column) * 4 +
                               sample.channel];
                visit(sample);
            }
        }
    }
}

std::vector<double> SourceShares(const LensSheet& lens, const Picture& woven, const glm::dvec3& eye,
                                 const std::vector<int>& sourceValues,
                                 const EyeSampling& sampling) {
    std::vector<double> shares(sourceValues.size(), 0.0);
    if (sourceValues.empty())
        return shares;
    // One lookup per possible value keeps this linear in the samples.
    int nearest[256];
    for (int v = 0; v < 256; ++v) {
        int best = 0;
        for (size_t i = 1; i < sourceValues.size(); ++i) {
            if (std::abs(sourceValues[i] - v) < std::abs(sourceValues[best] - v))
                best = static_cast<int>(i);
        }
        nearest[v] = best;
    }
    double total = 0.0;
    TraceEye(lens, woven, eye, sampling, [&](const EyeSample& sample) {
        shares[nearest[sample.value]] += 1.0;
        total += 1.0;
    });
    for (auto& share : shares)
        share = total > 0.0 ? share / total : 0.0;
    return shares;
}

Picture EyePicture(const LensSheet& lens, const Picture& woven, const glm::dvec3& eye, int cell,
                   const EyeSampling& sampling) {
    if (cell < 1)
        throw std::invalid_argument("the cell size must be at least 1");
    Picture picture;
    picture.width = (lens.columns + cell - 1) / cell;
    picture.height = (lens.rows + cell - 1) / cell;
    const size_t cells = static_cast<size_t>(picture.width) * picture.height;
    std::vector<double> sum(cells * 3, 0.0);
    std::vector<int> count(cells * 3, 0);
    const double width = lens.columns * lens.pitch;
    const double height = lens.rows * lens.pitch;
    // Each sample goes where its vertex point is: that is where the eye sees it.
    TraceEye(lens, woven, eye, sampling, [&](const EyeSample& sample) {
        const int cx =
            std::clamp(static_cast<int>(std::floor((sample.x + width / 2.0) / lens.pitch)) / cell,
                       0, picture.width - 1);
        const int cy =
            std::clamp(static_cast<int>(std::floor((height / 2.0 - sample.y) / lens.pitch)) / cell,
                       0, picture.height - 1);
        const size_t at = (static_cast<size_t>(cy) * picture.width + cx) * 3 + sample.channel;
        sum[at] += sample.value;
        ++count[at];
    });
    picture.rgba.assign(cells * 4, 255);
    for (int cy = 0; cy < picture.height; ++cy) {
        for (int c = 0; c < 3; ++c) {
            // Fill each colour along the row from the nearest cell that has it.
            int lastFilled = -1;
            std::vector<int> nearest(picture.width, -1);
            for (int cx = 0; cx < picture.width; ++cx) {
                if (count[(static_cast<size_t>(cy) * picture.width + cx) * 3 + c] > 0)
                    lastFilled = cx;
                nearest[cx] = lastFilled;
            }
            int nextFilled = -1;
            for (int cx = picture.width - 1; cx >= 0; --cx) {
                if (count[(static_cast<size_t>(cy) * picture.width + cx) * 3 + c] > 0)
                    nextFilled = cx;
                if (nearest[cx] < 0 || (nextFilled >= 0 && nextFilled - cx < cx - nearest[cx]))
                    nearest[cx] = nextFilled;
            }
            for (int cx = 0; cx < picture.width; ++cx) {
                uint8_t value = 0;
                if (nearest[cx] >= 0) {
                    const size_t at =
                        (static_cast<size_t>(cy) * picture.width + nearest[cx]) * 3 + c;
                    value = static_cast<uint8_t>(std::lround(sum[at] / count[at]));
                }
                picture.rgba[(static_cast<size_t>(cy) * picture.width + cx) * 4 + c] = value;
            }
        }
    }
    return picture;
}

double AcceptedStereoShare(double z) {
    if (z <= 600.0)
        return 0.95;
    if (z <= 700.0)
        return 0.93;
    if (z <= 800.0)
        return 0.905;
    return 0.885;
}

}  // namespace tavo::apps
