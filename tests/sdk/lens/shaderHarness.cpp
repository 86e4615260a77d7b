// Direct drawing of the shader assets with the interlace pass's uniforms.
#include "sdk/lens/shaderHarness.h"

#include <gtest/gtest.h>

#include "sdk/lens/lensTestSupport.h"
#include "tavo/opengl/gl.h"
#include "tavo/opengl/glHelpers.h"

namespace tavo::test {

namespace gl = tavo::gl;

void ShaderHarness::SetUp() {
    GlTest::SetUp();
    SetUpInterlaceShader(interlace_, ReadAsset("shaders/interlace.vshader"),
                         ReadAsset("shaders/interlace.pshader"));
    SetUpSharpenShader(sharpen_, ReadAsset("shaders/sharpen.vshader"),
                       ReadAsset("shaders/sharpen.pshader"));
    SetUpSharpenShader(sharpenLinear_, ReadAsset("shaders/sharpen.vshader"),
                       ReadAsset("shaders/sharpen.pshader"));
    sharpenLinear_.fragmentPrefix += "\n#define LINEAR_INPUT 1";
    opengl::CreateRectangularTexCoordVertexArray(0, 0, 1, 1, quadArray_, quadVertices_,
                                                 quadIndices_);
}

void ShaderHarness::TearDown() {
    if (!textures_.empty()) {
        gl::DeleteTextures(static_cast<GLsizei>(textures_.size()), textures_.data());
    }
    GlTest::TearDown();
}

std::vector<unsigned> ShaderHarness::Upload(const std::vector<RgbaImage>& images) {
    std::vector<unsigned> names(images.size());
    gl::GenTextures(static_cast<GLsizei>(names.size()), names.data());
    for (size_t i = 0; i < images.size(); ++i) {
        gl::BindTexture(GL_TEXTURE_2D, names[i]);
        gl::PixelStorei(GL_UNPACK_ALIGNMENT, 1);
        gl::TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, images[i].width, images[i].height, 0, GL_RGBA,
                       GL_UNSIGNED_BYTE, images[i].pixels.data());
        gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    textures_.insert(textures_.end(), names.begin(), names.end());
    return names;
}

namespace {

// An RGB target of the given size, bound and cleared; made before any input texture is bound,
// since making it binds its own texture on the active unit.
struct Target {
    Target(int width, int height) : width(width), height(height) {
        EXPECT_TRUE(opengl::CreateRenderTarget(width, height, false, &framebuffer, &texture, &depth,
                                               false));
        gl::Viewport(0, 0, width, height);
        gl::ClearColor(0, 0, 0, 1);
        gl::Clear(GL_COLOR_BUFFER_BIT);
    }
    ~Target() {
        gl::BindFramebuffer(GL_FRAMEBUFFER, 0);
        gl::DeleteFramebuffers(1, &framebuffer);
        gl::DeleteTextures(1, &texture);
    }
    RgbaImage DrawAndRead(unsigned vertexArray) const {
        gl::BindVertexArray(vertexArray);
        gl::DrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
        const Image read = ReadPixels(width, height);
        RgbaImage image;
        image.width = width;
        image.height = height;
        image.pixels.assign(read.pixels.begin(), read.pixels.end());
        return image;
    }

    int width, height;
    unsigned framebuffer = 0, texture = 0, depth = 0;
};

}  // namespace

RgbaImage ShaderHarness::Interlace(const LensInputs& in, const std::vector<unsigned>& textures,
                                   const DrawOptions& options) {
    const Target target(in.width, in.height);
    PrepareInterlace(in, textures, options, 0.0f);
    return target.DrawAndRead(quadArray_);
}

void ShaderHarness::PrepareInterlace(const LensInputs& in, const std::vector<unsigned>& textures,
                                     const DrawOptions& options, float linearGamma) {
    const unsigned correction = static_cast<unsigned>(in.mode == 1 ? 1 : in.mode == 2 ? 2 : 0);
    interlace_.UseVariantWithPermutations(
        options.variant, {correction, options.reconvergence ? 1u : 0u,
                          options.flipVertical ? 1u : 0u, 1u, in.singleView ? 1u : 0u, 0u, 0u});
    auto& s = interlace_;
    s.SetFloat("blendViews", in.blendViews ? 1.0f : 0.0f, false);
    const std::pair<const char*, float> floats[] = {
        {"hardwareViewsX", in.hardwareViewsX},
        {"hardwareViewsY", 1.0f},
        {"softwareViews", in.softwareViews},
        {"viewportX", in.viewportX},
        {"viewportY", in.viewportY},
        {"viewportWidth", static_cast<float>(in.width)},
        {"viewportHeight", static_cast<float>(in.height)},
        {"minView", in.minView},
        {"maxView", in.maxView},
        {"n", in.n},
        {"d_over_n", in.d_over_n},
        {"p_over_du", in.p_over_du},
        {"p_over_dv", in.p_over_dv},
        {"colorInversion", in.colorInversion ? 1.0f : 0.0f},
        {"faceX", in.faceX},
        {"faceY", in.faceY},
        {"faceZ", in.faceZ},
        {"pixelPitch", in.pixelPitch},
        {"s", in.s},
        {"cos_theta", in.cos_theta},
        {"sin_theta", in.sin_theta},
        {"No", in.No},
        {"displayResX", in.displayResX},
        {"displayResY", in.displayResY},
        {"reconvergenceAmount", options.reconvergenceAmount},
        {"absReconvergenceAmount", std::abs(options.reconvergenceAmount)},
        {"customTextureScaleX", options.customScaleX},
        {"customTextureScaleY", options.customScaleY},
        {"reconvergenceZoomX", options.zoomX ? 1.0f : 0.0f},
        {"reconvergenceZoomY", options.zoomY ? 1.0f : 0.0f},
        {"alpha", options.alpha},
        {"linearGamma", linearGamma},
    };
    for (const auto& [name, value] : floats)
        s.SetFloat(name, value, false);
    s.SetInteger("interlaceMode", in.mode == 1 ? 0 : in.mode == 0 ? 1 : 2, false);
    s.SetInteger("debugMode", options.debugMode, false);
    s.SetInteger("perPixelCorrection", static_cast<int>(correction), false);
    s.SetInteger("viewTextureType", options.atlas ? 1 : 0, false);
    s.SetMatrix4("textureTransform", options.textureTransform, false);
    s.SetMatrix4("rectTransform", options.rectTransform, false);
    for (size_t unit = 0; unit < 12; ++unit) {
        gl::ActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + unit));
        gl::BindTexture(GL_TEXTURE_2D, unit < textures.size() ? textures[unit] : 0);
    }
    gl::ActiveTexture(GL_TEXTURE0);
}

void ShaderHarness::PrepareSharpen(opengl::Shader& shader, const SharpenInputs& in, int width,
                                   int height, bool optimized) {
    shader.UseVariantWithPermutations(optimized ? 1 : 0, {0, 0});
    shader.SetFloat("gamma", in.gamma, false);
    shader.SetFloat("sharpeningCenter", in.center, false);
    shader.SetInteger("sharpeningValueCount", static_cast<int>(in.taps.size()), false);
    shader.SetMatrix4("rectTransform", glm::mat4(1.0f), false);
    shader.SetVector4f("textureInvSize", 1.0f / width, 1.0f / height, 0, 0, false);
    std::vector<glm::vec4> taps;
    for (const auto& tap : in.taps)
        taps.emplace_back(tap[0], tap[1], tap[2], 0.0f);
    shader.SetVector4fArray("sharpeningValues", taps.data(), static_cast<int>(taps.size()), false);
    shader.SetFloat("alpha", 1.0f, false);
}

RgbaImage ShaderHarness::SharpenImage(const SharpenInputs& in, const RgbaImage& source,
                                      bool optimized) {
    const unsigned texture = Upload({source})[0];
    const Target target(source.width, source.height);
    PrepareSharpen(sharpen_, in, source.width, source.height, optimized);
    gl::ActiveTexture(GL_TEXTURE0);
    gl::BindTexture(GL_TEXTURE_2D, texture);
    return target.DrawAndRead(quadArray_);
}

RgbaImage ShaderHarness::InterlaceAndSharpen(const LensInputs& in,
                                             const std::vector<unsigned>& textures,
                                             const DrawOptions& options,
                                             const SharpenInputs& sharpen, bool optimized) {
    // The intermediate as the interlacer makes it: 16 bits a channel, read at texel centres.
    unsigned framebuffer = 0, intermediate = 0;
    gl::GenTextures(1, &intermediate);
    gl::BindTexture(GL_TEXTURE_2D, intermediate);
    gl::TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA16, in.width, in.height, 0, GL_RGBA, GL_UNSIGNED_SHORT,
                   nullptr);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    textures_.push_back(intermediate);
    gl::GenFramebuffers(1, &framebuffer);
    gl::BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl::FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, intermediate, 0);
    EXPECT_EQ(gl::CheckFramebufferStatus(GL_FRAMEBUFFER), GLenum{GL_FRAMEBUFFER_COMPLETE});
    gl::Viewport(0, 0, in.width, in.height);
    PrepareInterlace(in, textures, options, sharpen.gamma);
    gl::BindVertexArray(quadArray_);
    gl::DrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);

    const Target target(in.width, in.height);
    PrepareSharpen(sharpenLinear_, sharpen, in.width, in.height, optimized);
    gl::ActiveTexture(GL_TEXTURE0);
    gl::BindTexture(GL_TEXTURE_2D, intermediate);
    RgbaImage out = target.DrawAndRead(quadArray_);
    gl::DeleteFramebuffers(1, &framebuffer);
    return out;
}

}  // namespace tavo::test
