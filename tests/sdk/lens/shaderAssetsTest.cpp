// The four shader assets compile and link on Mesa in every variant and permutation the interlacer
// can ask for, and they declare the uniforms of the interlacer's contract.
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "opengl/eglContext.h"
#include "sdk/lens/lensTestSupport.h"
#include "tavo/opengl/gl.h"
#include "tavo/opengl/shader.h"

namespace tavo::test {
namespace {

namespace gl = tavo::gl;
using opengl::Shader;

bool Linked(unsigned program) {
    GLint status = 0;
    gl::GetProgramiv(program, GL_LINK_STATUS, &status);
    return program != 0 && status != 0;
}

std::vector<unsigned> PermutationValues(const Shader& shader, size_t index) {
    const auto& values = shader.permutations[index].values;
    return {values.begin(), values.end()};
}

TEST_F(GlTest, EveryInterlaceVariantAndPermutationLinks) {
    Shader shader;
    SetUpInterlaceShader(shader, ReadAsset("shaders/interlace.vshader"),
                         ReadAsset("shaders/interlace.pshader"));
    ASSERT_EQ(shader.permutations.size(), 192u);
    int failures = 0;
    for (int variant = 0; variant < static_cast<int>(shader.variants.size()); ++variant) {
        for (size_t p = 0; p < shader.permutations.size(); ++p) {
            shader.UseVariantWithPermutations(variant, PermutationValues(shader, p));
            if (!Linked(shader.programId) && ++failures < 5) {
                ADD_FAILURE() << "variant " << variant << " permutation "
                              << shader.permutations[p].text;
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST_F(GlTest, EverySharpenVariantAndPermutationLinks) {
    Shader shader;
    SetUpSharpenShader(shader, ReadAsset("shaders/sharpen.vshader"),
                       ReadAsset("shaders/sharpen.pshader"));
    for (int variant = 0; variant < 2; ++variant) {
        for (size_t p = 0; p < shader.permutations.size(); ++p) {
            shader.UseVariantWithPermutations(variant, PermutationValues(shader, p));
            EXPECT_TRUE(Linked(shader.programId)) << variant << " " << p;
        }
    }
}

// A uniform the interlacer sets but the program lost would silently do nothing; every weave
// variant must read the geometry it is given.
TEST_F(GlTest, WeaveProgramsReadTheLensUniforms) {
    Shader shader;
    SetUpInterlaceShader(shader, ReadAsset("shaders/interlace.vshader"),
                         ReadAsset("shaders/interlace.pshader"));
    const char* lens[] = {
        "hardwareViewsX", "n",         "d_over_n",      "p_over_du",        "p_over_dv",
        "faceX",          "faceY",     "faceZ",         "pixelPitch",       "s",
        "cos_theta",      "sin_theta", "displayResX",   "displayResY",      "colorInversion",
        "viewportHeight", "alpha",     "rectTransform", "textureTransform", "viewTexture[0]"};
    // Stereo Sliding over individual views, tracked.
    shader.UseVariantWithPermutations(3, {2, 0, 0, 1, 0, 0, 0});
    for (const char* name : lens) {
        EXPECT_GE(gl::GetUniformLocation(shader.programId, name), 0) << name;
    }
    // View Sliding reads the centre view and the blend switch.
    shader.UseVariantWithPermutations(5, {0, 1, 0, 1, 0, 0, 0});
    for (const char* name : {"No", "blendViews", "softwareViews", "reconvergenceAmount",
                             "customTextureScaleX", "viewTexture[11]"}) {
        EXPECT_GE(gl::GetUniformLocation(shader.programId, name), 0) << name;
    }
    Shader sharpen;
    SetUpSharpenShader(sharpen, ReadAsset("shaders/sharpen.vshader"),
                       ReadAsset("shaders/sharpen.pshader"));
    sharpen.UseVariantWithPermutations(0, {0, 0});
    for (const char* name : {"gamma", "sharpeningCenter", "alpha", "sharpeningValueCount",
                             "textureInvSize", "sharpeningValues[11]", "rectTransform"}) {
        EXPECT_GE(gl::GetUniformLocation(sharpen.programId, name), 0) << name;
    }
}

}  // namespace
}  // namespace tavo::test
