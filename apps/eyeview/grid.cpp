// tavo-eyegrid: the Stereo Sliding acceptance over the whole face grid on the default panel
// (blending and sharpening off), woven headless and traced eye by eye.
//
//   tavo-eyegrid [--heights K]
//
// Prints one line per distance with the worst face's share and whether it meets the accepted
// share. Exit status: 0 all met, 1 some distance fell short or rendering failed, 2 bad arguments.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "apps/eyeview/eyeSimulator.h"
#include "tavo/device/device.h"

int main(int argc, char** argv) {
    tavo::apps::EyeSampling sampling{4};
    if (argc == 3 && std::string(argv[1]) == "--heights") {
        sampling.heightsPerRow = std::atoi(argv[2]);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: tavo-eyegrid [--heights K]\n");
        return 2;
    }
    if (sampling.heightsPerRow < 1 || sampling.heightsPerRow > 64) {
        std::fprintf(stderr, "tavo-eyegrid: --heights takes 1 to 64\n");
        return 2;
    }
    try {
        const auto config = tavo::device::DefaultConfig();
        const auto lens = tavo::apps::LensSheet::FromConfig(config);
        tavo::apps::Weaver weaver(config);
        tavo::apps::Picture white{8, 8, std::vector<uint8_t>(8 * 8 * 4, 255)};
        tavo::apps::Picture black = white;
        for (size_t i = 0; i < black.rgba.size(); ++i)
            black.rgba[i] = i % 4 == 3 ? 255 : 0;
        bool allMet = true;
        std::printf("z_mm worst_share worst_face accepted met\n");
        for (const double z : {400.0, 450.0, 521.53, 600.0, 700.0, 800.0, 900.0}) {
            double worst = 1.0;
            std::string worstFace;
            for (const double x : {-200.0, -100.0, 0.0, 100.0, 200.0}) {
                for (const double y : {-60.0, 0.0, 60.0}) {
                    tavo::apps::WeaveSettings settings;
                    settings.mode = tavo::sdk::kTavoInterlaceModeStereoSliding;
                    settings.face = glm::vec3(x, y, z);
                    settings.sharpen = false;
                    settings.blend = false;
                    const auto woven = weaver.Weave(settings, {white, black});
                    const auto left =
                        tavo::apps::SourceShares(lens, woven, {x - 31.5, y, z}, {255, 0}, sampling);
                    const auto right =
                        tavo::apps::SourceShares(lens, woven, {x + 31.5, y, z}, {255, 0}, sampling);
                    const double share = std::min(left[0], right[1]);
                    if (share < worst) {
                        worst = share;
                        worstFace = std::to_string(static_cast<int>(x)) + "," +
                                    std::to_string(static_cast<int>(y));
                    }
                }
            }
            const double accepted = tavo::apps::AcceptedStereoShare(z);
            const bool met = worst >= accepted;
            allMet = allMet && met;
            std::printf("%.2f %.2f%% %s %.1f%% %s\n", z, worst * 100.0, worstFace.c_str(),
                        accepted * 100.0, met ? "yes" : "NO");
            std::fflush(stdout);
        }
        return allMet ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavo-eyegrid: %s\n", e.what());
        return 1;
    }
}
