// Still pictures woven for the panel, headless: an SDK with one interlacer on a surfaceless EGL
// context of its own. tavo-weave, the per-eye simulator and the demo build on this.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <glm/vec3.hpp>

#include "tavo/device/config.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/sdk/interlacer.h"
#include "tavo/sdk/tavoSDK.h"

namespace tavo::apps {

using sdk::eTavoInterlaceMode;
using sdk::eTavoShaderDebugMode;
using sdk::TavoInterlaceParameters;
using sdk::TavoSharpeningValues;

// RGBA, 8 bits a channel, row 0 at the top.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};

// Reads a PNG, JPEG, BMP, TGA or PPM file. Throws std::runtime_error naming the file when it
// cannot be read or decoded.
Picture LoadPicture(const std::string& path);
// Writes `picture` as PNG; false when the file cannot be written. `compression` is zlib's level
// (1 fast and larger, 9 small and slow).
bool WritePng(const Picture& picture, const std::string& path, int compression = 8);

struct WeaveSettings {
    eTavoInterlaceMode mode = sdk::kTavoInterlaceModeStereoSliding;
    glm::vec3 face{0.0f, 0.0f, 521.53f};  // display space, mm
    bool sharpen = true;
    bool blend = true;
    eTavoShaderDebugMode debugMode = sdk::kTavoShaderDebugModeOff;
    // Weave for the face the SDK holds (face tracking's, or one handed to SetPrimaryFace)
    // instead of `face`.
    bool heldFace = false;
};

// One SDK and one interlacer bound to the constructing thread, which must make every call.
class Weaver {
  public:
    // `panel`, when given, replaces the default configuration (SetConfig). With `camera`, the
    // SDK tracks faces in the images pushed into that sink (CPU detector, profiling on); the
    // sink must outlive the weaver. Throws std::runtime_error when no OpenGL 3.3 context can be
    // made or the SDK cannot start.
    explicit Weaver(const std::optional<device::Config>& panel = std::nullopt,
                    SharedCameraSink* camera = nullptr);
    ~Weaver();
    Weaver(const Weaver&) = delete;
    Weaver& operator=(const Weaver&) = delete;

    // The configuration in use.
    const device::Config& config() const;
    // The SDK behind the weaver, for face queries and settings; calls that need the GL context
    // belong to the constructing thread.
    sdk::ITavoSDK& sdk() const;
    // Views the mode weaves: 2 in Stereo Sliding, else the panel's views across.
    int ViewsFor(eTavoInterlaceMode mode) const;

    // Draws `views` (any size, one per view of the mode) into the interlacer's view targets and
    // renders one frame at the panel's resolution. Throws std::invalid_argument when the number
    // of views does not fit the mode.
    Picture Weave(const WeaveSettings& settings, const std::vector<Picture>& views);

    // The camera offsets of the mode's views (the interlacer's GetViewOffset) for the face the
    // SDK holds now.
    std::vector<glm::vec3> ViewOffsets(eTavoInterlaceMode mode);

    // The sharpening record the sharpen pass uses at the panel's resolution.
    TavoSharpeningValues sharpening() const;
    // The parameters the interlace pass used in the last frame.
    const TavoInterlaceParameters& lastParameters() const { return parameters_; }

  private:
    struct State;
    std::unique_ptr<State> state_;
    TavoInterlaceParameters parameters_;
};

}  // namespace tavo::apps
