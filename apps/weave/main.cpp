// tavo-weave: weaves still pictures into the panel's pattern for a given face, headless.
//
//   tavo-weave [--panel P.json] --mode stereo|sliding|peeling --face X,Y,Z
//              (--left L.png --right R.png | --views V0.png,V1.png,...)
//              [--no-sharpen] [--no-blend] [--debug-mode N] --out OUT.png
//
// Exit status: 0 written, 1 a file could not be read or written (or rendering failed),
// 2 bad arguments.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "apps/common/arguments.h"
#include "apps/weave/weaver.h"
#include "tavo/device/device.h"
#include "tavo/device/panelDescription.h"

namespace {

using namespace tavo::sdk;
using namespace tavo::apps;

constexpr const char* kUsage =
    "usage: tavo-weave [--panel P.json] --mode stereo|sliding|peeling --face X,Y,Z "
    "(--left L.png --right R.png | --views V0.png,V1.png,...) [--no-sharpen] [--no-blend] "
    "[--debug-mode N] --out OUT.png\n";

struct Options {
    std::optional<std::string> panel;
    std::optional<eTavoInterlaceMode> mode;
    std::optional<glm::vec3> face;
    std::optional<std::string> left, right, out;
    std::vector<std::string> views;
    tavo::apps::WeaveSettings settings;
};

Options Parse(int argc, char** argv) {
    Options o;
    Arguments args(argc, argv);
    while (args.Next()) {
        const std::string arg = args.Current();
        if (arg == "--panel") {
            o.panel = args.Value();
        } else if (arg == "--mode") {
            const std::string mode = args.Value();
            if (mode == "stereo") {
                o.mode = kTavoInterlaceModeStereoSliding;
            } else if (mode == "sliding") {
                o.mode = kTavoInterlaceModeViewSliding;
            } else if (mode == "peeling") {
                o.mode = kTavoInterlaceModeViewPeeling;
            } else {
                throw BadArguments{"unknown mode \"" + mode + "\""};
            }
        } else if (arg == "--face") {
            o.face = glm::vec3(ParsePosition(args.Value(), "--face"));
        } else if (arg == "--left") {
            o.left = args.Value();
        } else if (arg == "--right") {
            o.right = args.Value();
        } else if (arg == "--views") {
            o.views = SplitCommas(args.Value());
            for (const auto& view : o.views) {
                if (view.empty())
                    throw BadArguments{"--views has an empty name"};
            }
        } else if (arg == "--no-sharpen") {
            o.settings.sharpen = false;
        } else if (arg == "--no-blend") {
            o.settings.blend = false;
        } else if (arg == "--debug-mode") {
            o.settings.debugMode =
                static_cast<eTavoShaderDebugMode>(ParseWhole(args.Value(), "--debug-mode", 0, 8));
        } else if (arg == "--out") {
            o.out = args.Value();
        } else {
            throw BadArguments{"unknown argument \"" + arg + "\""};
        }
    }
    if (!o.mode)
        throw BadArguments{"--mode is required"};
    if (!o.face)
        throw BadArguments{"--face is required"};
    if (!o.out)
        throw BadArguments{"--out is required"};
    const bool pair = o.left || o.right;
    if (pair && !o.views.empty())
        throw BadArguments{"give --left/--right or --views, not both"};
    if (pair && !(o.left && o.right))
        throw BadArguments{"--left and --right go together"};
    if (!pair && o.views.empty())
        throw BadArguments{"give --left/--right or --views"};
    if (pair && *o.mode != kTavoInterlaceModeStereoSliding) {
        throw BadArguments{"--left/--right are the views of --mode stereo"};
    }
    if (pair)
        o.views = {*o.left, *o.right};
    o.settings.mode = *o.mode;
    o.settings.face = *o.face;
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = Parse(argc, argv);
    } catch (const BadArguments& bad) {
        std::fprintf(stderr, "tavo-weave: %s\n%s", bad.why.c_str(), kUsage);
        return 2;
    }
    try {
        std::optional<tavo::device::Config> panel;
        if (options.panel) {
            panel =
                tavo::device::LoadPanelDescription(*options.panel, tavo::device::DefaultConfig());
        }
        std::vector<Picture> views;
        for (const auto& path : options.views)
            views.push_back(tavo::apps::LoadPicture(path));

        tavo::apps::Weaver weaver(panel);
        const int needed = weaver.ViewsFor(options.settings.mode);
        if (static_cast<int>(views.size()) != needed) {
            std::fprintf(stderr, "tavo-weave: this mode weaves %d views on this panel, not %zu\n%s",
                         needed, views.size(), kUsage);
            return 2;
        }
        const Picture out = weaver.Weave(options.settings, views);
        if (!tavo::apps::WritePng(out, *options.out)) {
            std::fprintf(stderr, "tavo-weave: cannot write %s\n", options.out->c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavo-weave: %s\n", e.what());
        return 1;
    }
    return 0;
}
