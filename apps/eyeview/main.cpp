// tavo-eyeview: the picture one eye sees on the panel, from a woven picture.
//
//   tavo-eyeview [--panel P.json] --woven W.png --eye X,Y,Z [--eye X,Y,Z] --out EYE.png
//                [--cell C] [--heights K]
//                [--stats (--left-value L --right-value R | --view-values v0,...)]
//
// A second --eye puts the two eyes' pictures side by side in the one output. With --stats it
// prints one JSON line per eye with the share of samples showing each source, for pictures
// woven from constant-valued views. Exit status: 0 written, 1 a file could not be read
// or written, 2 bad arguments.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "apps/common/arguments.h"
#include "apps/eyeview/eyeSimulator.h"
#include "tavo/device/device.h"
#include "tavo/device/panelDescription.h"

namespace {

using namespace tavo::apps;

constexpr const char* kUsage =
    "usage: tavo-eyeview [--panel P.json] --woven W.png --eye X,Y,Z [--eye X,Y,Z] --out EYE.png "
    "[--cell C] [--heights K] [--stats (--left-value L --right-value R | --view-values "
    "v0,v1,...)]\n";

struct Options {
    std::optional<std::string> panel, woven, out;
    std::vector<glm::dvec3> eyes;
    int cell = 4;
    tavo::apps::EyeSampling sampling;
    bool stats = false;
    std::optional<int> left, right;
    std::vector<int> viewValues;
};

Options Parse(int argc, char** argv) {
    Options o;
    Arguments args(argc, argv);
    while (args.Next()) {
        const std::string arg = args.Current();
        if (arg == "--panel") {
            o.panel = args.Value();
        } else if (arg == "--woven") {
            o.woven = args.Value();
        } else if (arg == "--out") {
            o.out = args.Value();
        } else if (arg == "--eye") {
            o.eyes.push_back(ParsePosition(args.Value(), "--eye"));
        } else if (arg == "--cell") {
            o.cell = ParseWhole(args.Value(), "--cell", 1, 64);
        } else if (arg == "--heights") {
            o.sampling.heightsPerRow = ParseWhole(args.Value(), "--heights", 1, 64);
        } else if (arg == "--stats") {
            o.stats = true;
        } else if (arg == "--left-value") {
            o.left = ParseWhole(args.Value(), "--left-value", 0, 255);
        } else if (arg == "--right-value") {
            o.right = ParseWhole(args.Value(), "--right-value", 0, 255);
        } else if (arg == "--view-values") {
            for (const auto& part : SplitCommas(args.Value()))
                o.viewValues.push_back(ParseWhole(part, "--view-values", 0, 255));
        } else {
            throw BadArguments{"unknown argument \"" + arg + "\""};
        }
    }
    if (!o.woven)
        throw BadArguments{"--woven is required"};
    if (o.eyes.empty())
        throw BadArguments{"--eye is required"};
    if (o.eyes.size() > 2)
        throw BadArguments{"--eye is given once or twice"};
    if (!o.out)
        throw BadArguments{"--out is required"};
    const bool pair = o.left || o.right;
    if (pair && !(o.left && o.right))
        throw BadArguments{"--left-value and --right-value go together"};
    if (pair && !o.viewValues.empty())
        throw BadArguments{"give --left-value/--right-value or --view-values, not both"};
    if (o.stats && !pair && o.viewValues.empty())
        throw BadArguments{"--stats needs --left-value/--right-value or --view-values"};
    if (!o.stats && (pair || !o.viewValues.empty()))
        throw BadArguments{"source values are read only with --stats"};
    if (pair)
        o.viewValues = {*o.left, *o.right};
    return o;
}

// The eyes' pictures in a row, a black gap between them.
tavo::apps::Picture Beside(const std::vector<tavo::apps::Picture>& pictures) {
    constexpr int kGap = 8;
    tavo::apps::Picture out;
    for (const auto& picture : pictures) {
        out.width += (out.width > 0 ? kGap : 0) + picture.width;
        out.height = std::max(out.height, picture.height);
    }
    out.rgba.assign(static_cast<size_t>(out.width) * out.height * 4, 0);
    for (size_t i = 3; i < out.rgba.size(); i += 4)
        out.rgba[i] = 255;
    int left = 0;
    for (const auto& picture : pictures) {
        for (int y = 0; y < picture.height; ++y) {
            std::copy_n(&picture.rgba[static_cast<size_t>(y) * picture.width * 4],
                        static_cast<size_t>(picture.width) * 4,
                        &out.rgba[(static_cast<size_t>(y) * out.width + left) * 4]);
        }
        left += picture.width + kGap;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = Parse(argc, argv);
    } catch (const BadArguments& bad) {
        std::fprintf(stderr, "tavo-eyeview: %s\n%s", bad.why.c_str(), kUsage);
        return 2;
    }
    tavo::apps::LensSheet lens;
    tavo::apps::Picture woven;
    try {
        tavo::device::Config config = tavo::device::DefaultConfig();
        if (options.panel)
            config = tavo::device::LoadPanelDescription(*options.panel, config);
        lens = tavo::apps::LensSheet::FromConfig(config);
        woven = tavo::apps::LoadPicture(*options.woven);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavo-eyeview: %s\n", e.what());
        return 1;
    }
    try {
        std::vector<tavo::apps::Picture> pictures;
        for (const auto& eye : options.eyes)
            pictures.push_back(
                tavo::apps::EyePicture(lens, woven, eye, options.cell, options.sampling));
        if (!tavo::apps::WritePng(Beside(pictures), *options.out)) {
            std::fprintf(stderr, "tavo-eyeview: cannot write %s\n", options.out->c_str());
            return 1;
        }
        for (const auto& eye : options.eyes) {
            if (!options.stats)
                break;
            const auto shares =
                tavo::apps::SourceShares(lens, woven, eye, options.viewValues, options.sampling);
            std::string line = "{\"eye\":[";
            char number[64];
            for (int k = 0; k < 3; ++k) {
                std::snprintf(number, sizeof number, "%s%.6g", k ? "," : "", eye[k]);
                line += number;
            }
            line += "],\"shares\":[";
            for (size_t i = 0; i < shares.size(); ++i) {
                std::snprintf(number, sizeof number, "%s%.6f", i ? "," : "", shares[i]);
                line += number;
            }
            line += "]";
            if (shares.size() == 2) {
                std::snprintf(number, sizeof number, ",\"left\":%.6f,\"right\":%.6f", shares[0],
                              shares[1]);
                line += number;
            }
            std::printf("%s}\n", line.c_str());
        }
    } catch (const std::invalid_argument& e) {
        // The picture does not fit the panel, or the eye is behind the lens.
        std::fprintf(stderr, "tavo-eyeview: %s\n%s", e.what(), kUsage);
        return 2;
    }
    return 0;
}
