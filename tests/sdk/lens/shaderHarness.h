// Draws the interlace and sharpen programs directly, with uniforms set as the interlace pass sets
// them, so that the shaders can be held to the CPU reference on any panel description.
#pragma once

#include <string>
#include <vector>

#include <glm/mat4x4.hpp>

#include "opengl/eglContext.h"
#include "sdk/lens/lensReference.h"
#include "tavo/opengl/shader.h"

namespace tavo::test {

// Interlace variants, by the interlacer's numbering.
enum Variant {
    kCalibration = 0,
    kStereoPicture = 1,
    kThumbnails = 2,
    kStereoViews = 3,
    kViews = 5,
    kAllViews = 7,
    kFirstView = 8,
    kTextureCoordinates = 9,
};

struct DrawOptions {
    int variant = kViews;
    int debugMode = 0;
    bool atlas = false;         // viewTextureType 1: all views side by side on unit 0
    bool flipVertical = false;  // UV_TOP_LEFT
    bool reconvergence = false;
    float reconvergenceAmount = 0.0f;
    bool zoomX = false, zoomY = false;
    float customScaleX = 1.0f, customScaleY = 1.0f;
    glm::mat4 textureTransform{1.0f};
    glm::mat4 rectTransform{1.0f};
    float alpha = 1.0f;
};

class ShaderHarness : public GlTest {
  private:
    void PrepareInterlace(const LensInputs& in, const std::vector<unsigned>& textures,
                          const DrawOptions& options, float linearGamma);
    void PrepareSharpen(opengl::Shader& shader, const SharpenInputs& in, int width, int height,
                        bool optimized);

  protected:
    void SetUp() override;
    void TearDown() override;

    // Textures of the given images (bottom row first), linear filtering, clamped at the edges.
    std::vector<unsigned> Upload(const std::vector<RgbaImage>& images);
    // One interlace draw into a fresh RGB target of the output size; returns what it holds.
    RgbaImage Interlace(const LensInputs& in, const std::vector<unsigned>& textures,
                        const DrawOptions& options);
    RgbaImage SharpenImage(const SharpenInputs& in, const RgbaImage& source, bool optimized);
    // Both passes as the interlacer runs them into its own intermediate: the interlace program
    // writes linear light (the sharpening gamma) into a 16-bit target, which the sharpen program
    // built with LINEAR_INPUT reads without decoding. Returns the sharpened output.
    RgbaImage InterlaceAndSharpen(const LensInputs& in, const std::vector<unsigned>& textures,
                                  const DrawOptions& options, const SharpenInputs& sharpen,
                                  bool optimized);

    opengl::Shader interlace_;
    opengl::Shader sharpen_;
    opengl::Shader sharpenLinear_;
    unsigned quadArray_ = 0, quadVertices_ = 0, quadIndices_ = 0;
    std::vector<unsigned> textures_;
};

}  // namespace tavo::test
