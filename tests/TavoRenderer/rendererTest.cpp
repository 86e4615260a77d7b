// Renderer tests on Mesa: what the camera, passes, render states, textures and shaders draw.
// Checks call GL directly (GLVND's libOpenGL exports every entry point); the renderer does not.
#define GL_GLEXT_PROTOTYPES
#include "TavoRenderer/TavoRenderer.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <glm/gtc/matrix_transform.hpp>

#include "logCapture.h"
#include "opengl/eglContext.h"

namespace TavoRenderer {
namespace {

using tavo::test::Image;

constexpr const char* kHeader = "#version 330 core";
constexpr GLenum kTextureBindingExternalOes = 0x8D67;  // OES_EGL_image_external

// Positions through the model-view-projection; colour = normal mapped to 0..1, or `color`.
constexpr const char* kSceneVertex = R"(
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
uniform mat4 mvp;
out vec3 vNormal;
void main() { vNormal = normal; gl_Position = mvp * vec4(position, 1.0); })";
constexpr const char* kSceneFragment = R"(
in vec3 vNormal;
out vec4 outColor;
void main() { outColor = vec4(vNormal * 0.5 + 0.5, 1.0); })";

// The unit square over the whole target; texture coordinate = the corner.
constexpr const char* kQuadVertex = R"(
layout(location = 0) in vec2 corner;
out vec2 uv;
void main() { uv = corner; gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0); })";
constexpr const char* kColorFragment = R"(
uniform vec4 color;
out vec4 outColor;
void main() { outColor = color; })";

struct Footprint {
    int minX = 1 << 30, minY = 1 << 30, maxX = -1, maxY = -1;  // pixel edges: [min, max)
};

class RendererTest : public tavo::test::GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        renderer_ = CreateRenderer(kGraphicsAPIOpenGL);
        ASSERT_NE(renderer_, nullptr);
        gl_ = dynamic_cast<IRendererOpenGL*>(renderer_);
        ASSERT_NE(gl_, nullptr);
    }
    void TearDown() override {
        if (renderer_ != nullptr) {
            renderer_->Release();
        }
        GlTest::TearDown();
    }

    IShader* Shader(const char* vertex, const char* fragment) {
        IShader* shader = renderer_->CreateShader(vertex, nullptr, fragment, nullptr);
        shader->SetVertexHeader(kHeader);
        shader->SetFragmentHeader(kHeader);
        return shader;
    }
    ITexture* Target(int width, int height) {
        return renderer_->CreateTexture(width, height, 1, 1, kTextureRenderTarget | kTextureDepth,
                                        nullptr);
    }
    Image Read(ITexture* target) {
        gl_->BindTarget(target);
        Image image = tavo::test::ReadPixels(target->GetWidth(), target->GetHeight());
        gl_->BindTarget(nullptr);
        return image;
    }
    static const unsigned char* Pixel(const Image& image, int x, int y) {
        return reinterpret_cast<const unsigned char*>(image.pixels.data()) +
               (static_cast<size_t>(y) * image.width + x) * 4;
    }
    // Bounds of the pixels drawn over a clear of alpha 0.
    static Footprint Covered(const Image& image) {
        Footprint f;
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                if (Pixel(image, x, y)[3] != 0) {
                    f = {std::min(f.minX, x), std::min(f.minY, y), std::max(f.maxX, x + 1),
                         std::max(f.maxY, y + 1)};
                }
            }
        }
        return f;
    }
    // A full-screen pass of a colour uniform into `target`, read back.
    Image FullScreenColor(IRenderState* state, ITexture* target) {
        renderer_->Clear(target, 0.0f, 0.0f, 0.0f, 0.0f);
        renderer_->RenderFullScreen(state, target);
        return Read(target);
    }

    IRenderer* renderer_ = nullptr;
    IRendererOpenGL* gl_ = nullptr;
};

// ---- Factory

TEST(RendererFactory, OnlyOpenGLWithACurrentContext) {
    tavo::test::EglContext context;
    ASSERT_TRUE(context.ok()) << context.error();
    OVR::GLEContext::GetCurrentContext()->Shutdown();
    EXPECT_EQ(CreateRenderer(static_cast<eGraphicsAPI>(1)), nullptr);
    IRenderer* renderer = CreateRenderer(kGraphicsAPIOpenGL);
    ASSERT_NE(renderer, nullptr);
    EXPECT_EQ(renderer->GetCameraPosition(), glm::vec3(0, 0, 0));
    EXPECT_EQ(renderer->GetCameraDirection(), glm::vec3(0, 1, 0));
    renderer->Release();
    // A thread without a current context gets none.
    IRenderer* elsewhere = reinterpret_cast<IRenderer*>(1);
    std::thread([&] { elsewhere = CreateRenderer(kGraphicsAPIOpenGL); }).join();
    EXPECT_EQ(elsewhere, nullptr);
    OVR::GLEContext::GetCurrentContext()->Shutdown();
}

// ---- Camera and projection

struct SceneCase {
    const char* name;
    bool faceted;
    glm::vec3 size;
    glm::vec3 position;
    glm::vec3 angles;  // Rotate(x, y, z)
    float aspect;
    float shiftX, shiftY;
    int windowWidth, windowHeight;
    int targetWidth, targetHeight;
};

// The CPU reference: glm's own perspective and look-at, the shift added as the projection's
// third column, and the rotation R(a, t) as glm's rotation by -t (its transpose).
glm::mat4 ReferenceMvp(const SceneCase& c, glm::vec3 eye, glm::vec3 direction, float fovY) {
    const float aspect = c.aspect != 0.0f ? c.aspect : float(c.windowWidth) / float(c.windowHeight);
    glm::mat4 projection = glm::perspective(fovY, aspect, 0.5f, 50.0f);
    projection[2][0] = c.shiftX * projection[0][0];
    projection[2][1] = c.shiftY * projection[1][1];
    const glm::mat4 view = glm::lookAt(eye, eye + direction, glm::vec3(0, 0, 1));
    glm::mat4 model = glm::translate(glm::mat4(1.0f), c.position);
    model = glm::rotate(model, -c.angles.x, glm::vec3(1, 0, 0));
    model = glm::rotate(model, -c.angles.y, glm::vec3(0, 1, 0));
    model = glm::rotate(model, -c.angles.z, glm::vec3(0, 0, 1));
    return projection * view * model;
}

TEST_F(RendererTest, BoxCoversTheProjectedFootprint) {
    const SceneCase cases[] = {
        {"plain", false, {1, 1, 1}, {0, 4, 0}, {0, 0, 0}, 1.0f, 0, 0, 96, 96, 96, 96},
        {"faceted", true, {1, 1, 1}, {0, 4, 0}, {0, 0, 0}, 1.0f, 0, 0, 96, 96, 96, 96},
        {"rotated",
         true,
         {2.0f, 0.6f, 0.3f},
         {0.4f, 6, -0.3f},
         {0.4f, 0.3f, 0.7f},
         1.0f,
         0,
         0,
         96,
         96,
         96,
         96},
        {"shifted", false, {1, 1, 1}, {0, 4, 0}, {0, 0, 0}, 1.0f, 0.35f, -0.2f, 96, 96, 96, 96},
        {"window aspect 16:9",
         false,
         {1, 1, 1},
         {0, 4, 0},
         {0, 0, 0},
         0.0f,
         0,
         0,
         1920,
         1080,
         96,
         96},
    };
    const glm::vec3 eye(0.0f, -1.0f, 0.0f);
    const glm::vec3 direction(0.0f, 1.0f, 0.0f);
    const float fovY = glm::radians(60.0f);
    IRenderState* state = renderer_->CreateRenderState(Shader(kSceneVertex, kSceneFragment));
    state->DeclareMatrix("mvp", true);
    for (const SceneCase& c : cases) {
        SCOPED_TRACE(c.name);
        ITexture* target = Target(c.targetWidth, c.targetHeight);
        IGeometry* box = renderer_->CreateBox(c.size, state, c.faceted);
        ASSERT_NE(box, nullptr);
        box->SetPosition(c.position);
        box->Rotate(c.angles.x, c.angles.y, c.angles.z);
        renderer_->SetWindowSize(c.windowWidth, c.windowHeight);
        renderer_->SetCameraPosition(eye);
        renderer_->SetCameraDirection(direction);
        renderer_->SetProjection(fovY, c.aspect, 0.5f, 50.0f, c.shiftX, c.shiftY);
        renderer_->Clear(target, 0.0f, 0.0f, 0.0f, 0.0f);
        renderer_->RenderScene(target);
        const Image image = Read(target);

        const glm::mat4 mvp = ReferenceMvp(c, eye, direction, fovY);
        float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
        for (int corner = 0; corner < 8; ++corner) {
            const glm::vec3 p =
                (glm::vec3(corner & 1, (corner >> 1) & 1, (corner >> 2) & 1) - 0.5f) * c.size;
            const glm::vec4 clip = mvp * glm::vec4(p, 1.0f);
            const float x = (clip.x / clip.w + 1.0f) * 0.5f * float(c.targetWidth);
            const float y = (clip.y / clip.w + 1.0f) * 0.5f * float(c.targetHeight);
            minX = std::min(minX, x), maxX = std::max(maxX, x);
            minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
        const Footprint drawn = Covered(image);
        EXPECT_NEAR(drawn.minX, minX, 1.0f);
        EXPECT_NEAR(drawn.maxX, maxX, 1.0f);
        EXPECT_NEAR(drawn.minY, minY, 1.0f);
        EXPECT_NEAR(drawn.maxY, maxY, 1.0f);
        if (c.faceted && c.angles == glm::vec3(0.0f)) {
            // Only the face towards the camera (-Y) survives culling and depth: normal (0,-1,0).
            const unsigned char* centre = Pixel(image, c.targetWidth / 2, c.targetHeight / 2);
            EXPECT_NEAR(centre[0], 128, 1);
            EXPECT_NEAR(centre[1], 0, 1);
            EXPECT_NEAR(centre[2], 128, 1);
        }
        box->Release();
        target->Release();
    }
}

TEST_F(RendererTest, RotationTurnsTheWayTheRendererDefinesIt) {
    // A small quad facing the camera at model x = +1; a quarter turn about Y takes model +X to
    // world +Z (R(a, t) is the transpose of the right-handed rotation), so it lands above the
    // centre rather than below.
    const Vertex quad[] = {{{0.8f, 0, -0.2f}, {}, {}},
                           {{1.2f, 0, -0.2f}, {}, {}},
                           {{1.2f, 0, 0.2f}, {}, {}},
                           {{0.8f, 0, 0.2f}, {}, {}}};
    const uint32_t indices[] = {0, 1, 2, 0, 2, 3};
    IRenderState* state = renderer_->CreateRenderState(Shader(kSceneVertex, kSceneFragment));
    state->DeclareMatrix("mvp", true);
    IGeometry* geometry = renderer_->CreateGeometry(4, quad, 6, indices, state);
    ASSERT_NE(geometry, nullptr);
    geometry->Rotate(0.0f, glm::half_pi<float>(), 0.0f);
    ITexture* target = Target(64, 64);
    renderer_->SetCameraPosition({0, -4, 0});
    renderer_->SetProjection(glm::radians(60.0f), 1.0f, 0.5f, 50.0f, 0, 0);
    // Looking along +Y with +Z up: right is +X, up is +Z.
    EXPECT_EQ(renderer_->GetCameraRight(), glm::vec3(1, 0, 0));
    EXPECT_EQ(renderer_->GetCameraUp(), glm::vec3(0, 0, 1));
    renderer_->Clear(target, 0, 0, 0, 0);
    renderer_->RenderScene(target);
    const Footprint drawn = Covered(Read(target));
    ASSERT_GE(drawn.maxX, 0) << "nothing drawn";
    EXPECT_GT(drawn.minY, 32 + 4);
    EXPECT_NEAR((drawn.minX + drawn.maxX) / 2.0, 32.0, 1.0);
}

// ---- Passes and render states

TEST_F(RendererTest, FullScreenPassClearsAndUniformValues) {
    ITexture* target = Target(16, 8);
    IRenderState* state = renderer_->CreateRenderState(Shader(kQuadVertex, kColorFragment));
    state->DeclareVec4("color");
    state->SetVec4("color", {1.0f, 0.5f, 0.0f, 1.0f});

    const auto expectAll = [&](const Image& image, glm::u8vec4 expected, const char* name) {
        Image reference = image;
        for (size_t i = 0; i < reference.pixels.size(); ++i) {
            reference.pixels[i] = static_cast<char>(expected[static_cast<int>(i % 4)]);
        }
        EXPECT_EQ(tavo::test::CompareImages(image, reference, 1, name), "");
    };
    renderer_->Clear(target, 0.2f, 0.4f, 0.6f, 1.0f);
    expectAll(Read(target), {51, 102, 153, 255}, "renderer_clear");
    expectAll(FullScreenColor(state, target), {255, 128, 0, 255}, "renderer_fullscreen");

    // A later declaration makes the value block anew: the colour reads zero until set again.
    state->DeclareFloat("unused");
    expectAll(FullScreenColor(state, target), {0, 0, 0, 0}, "renderer_redeclared");
    state->SetVec4("color", {0.0f, 0.0f, 1.0f, 1.0f});
    // Unknown names and values of another type change nothing.
    state->SetVec4("colour", {1.0f, 1.0f, 1.0f, 1.0f});
    state->SetFloat("color", 1.0f);
    expectAll(FullScreenColor(state, target), {0, 0, 255, 255}, "renderer_set_again");
}

TEST_F(RendererTest, RenderCallsLeaveTheHostsBindingsAsTheyWere) {
    ITexture* target = Target(8, 8);
    IRenderState* state = renderer_->CreateRenderState(Shader(kQuadVertex, kColorFragment));
    state->DeclareVec4("color");
    IGeometry* box = renderer_->CreateBox({1, 1, 1}, state, true);
    renderer_->SetProjection(1.0f, 1.0f, 0.5f, 10.0f, 0, 0);
    ITexture* hostTarget = Target(4, 4);

    const std::pair<const char*, std::function<void()>> calls[] = {
        {"Clear", [&] { renderer_->Clear(target, 1, 1, 1, 1); }},
        {"RenderFullScreen", [&] { renderer_->RenderFullScreen(state, target); }},
        {"RenderScene", [&] { renderer_->RenderScene(target); }},
        {"CreateTexture", [&] { renderer_->CreateTexture(4, 4, 2, 0, kTextureColor, nullptr); }},
        {"CreateBox",
         [&] {
             renderer_->CreateBox({1, 1, 1}, state, false);
         }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        // The host's own state: a framebuffer, viewport, culling of front faces, clockwise.
        gl_->BindTarget(hostTarget);
        glViewport(1, 2, 3, 4);
        glDisable(GL_CULL_FACE);
        glCullFace(GL_FRONT);
        glFrontFace(GL_CW);
        glActiveTexture(GL_TEXTURE3);
        call();
        GLint framebuffer = 0, viewport[4] = {}, cullMode = 0, frontFace = 0, unit = 0;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
        glGetIntegerv(GL_VIEWPORT, viewport);
        glGetIntegerv(GL_CULL_FACE_MODE, &cullMode);
        glGetIntegerv(GL_FRONT_FACE, &frontFace);
        glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
        EXPECT_EQ(static_cast<GLuint>(framebuffer),
                  dynamic_cast<ITextureGL*>(hostTarget)->GetFramebuffer(0));
        EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{1, 2, 3, 4}));
        EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
        EXPECT_EQ(cullMode, GL_FRONT);
        EXPECT_EQ(frontFace, GL_CW);
        EXPECT_EQ(unit, GL_TEXTURE3);
    }
    glActiveTexture(GL_TEXTURE0);
    gl_->BindTarget(nullptr);
    (void)box;
}

// Samplers: "many" of count 3 and "single" of count 1 take units 0, 1, 2 and 3; each quarter of
// the target shows one of them.
TEST_F(RendererTest, SamplersTakeConsecutiveUnitsUnderTheirNames) {
    constexpr const char* kFragment = R"(
in vec2 uv;
uniform sampler2D many[3];
uniform sampler2D single;
out vec4 outColor;
void main() {
    int q = int(uv.x * 4.0);
    outColor = q == 0 ? texture(many[0], uv) : q == 1 ? texture(many[1], uv)
             : q == 2 ? texture(many[2], uv) : texture(single, uv);
})";
    const glm::u8vec4 colours[4] = {
        {255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 0, 255}};
    ITexture* textures[4];
    for (int i = 0; i < 4; ++i) {
        textures[i] = renderer_->CreateTexture(1, 1, 1, 1, kTextureColor, &colours[i]);
        ASSERT_NE(textures[i], nullptr);
    }
    IRenderState* state = renderer_->CreateRenderState(Shader(kQuadVertex, kFragment));
    state->DeclareTextureArray("many", 3, false, false);
    state->DeclareTexture("single", false, false);
    // Null entries are skipped; entries past the declared count are ignored.
    ITexture* many[] = {textures[0], nullptr, textures[1], textures[2], textures[3]};
    state->SetTextures("many", 5, many);
    state->SetTexture("single", textures[3]);

    ITexture* target = Target(8, 2);
    const Image image = FullScreenColor(state, target);
    for (int q = 0; q < 4; ++q) {
        SCOPED_TRACE(q);
        const unsigned char* pixel = Pixel(image, q * 2 + 1, 1);
        EXPECT_EQ(glm::u8vec4(pixel[0], pixel[1], pixel[2], pixel[3]), colours[q]);
    }

    // The units as the program sees them, and what is bound there.
    state->Apply(8, 2, nullptr);
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    const char* names[] = {"many[0]", "many[1]", "many[2]", "single"};
    for (int i = 0; i < 4; ++i) {
        GLint unit = -1;
        glGetUniformiv(static_cast<GLuint>(program),
                       glGetUniformLocation(static_cast<GLuint>(program), names[i]), &unit);
        EXPECT_EQ(unit, i) << names[i];
        glActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + i));
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(static_cast<GLuint>(bound), dynamic_cast<ITextureGL*>(textures[i])->GetTexture(0))
            << names[i];
    }
    glActiveTexture(GL_TEXTURE0);
}

// An OpenGL ES context, where external images exist: a texture named "GL_TEXTURE_EXTERNAL_OES"
// binds to that target, on its sampler's unit.
TEST(RendererExternalTexture, NamedTextureBindsToTheExternalTarget) {
    tavo::test::EglContext context(tavo::test::EglApi::OpenGLES32);
    ASSERT_TRUE(context.ok()) << context.error();
    OVR::GLEContext::GetCurrentContext()->Shutdown();
    IRenderer* renderer = CreateRenderer(kGraphicsAPIOpenGL);
    ASSERT_NE(renderer, nullptr);
    IShader* shader = renderer->CreateShader(
        "layout(location = 0) in vec2 corner;\n"
        "void main() { gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0); }",
        nullptr,
        "precision mediump float;\nuniform sampler2D first;\nuniform sampler2D image;\n"
        "out vec4 outColor;\nvoid main() { outColor = texture(first, vec2(0)); }",
        nullptr);
    shader->SetVertexHeader("#version 300 es");
    shader->SetFragmentHeader("#version 300 es");
    GLuint external = 0;
    glGenTextures(1, &external);
    ITexture* wrapped = dynamic_cast<IRendererOpenGL*>(renderer)->CreateTargetFromGLObject(
        external, 1, 1, 1, 1, kTextureColor);
    wrapped->SetName("GL_TEXTURE_EXTERNAL_OES");
    ITexture* plain = renderer->CreateTexture(1, 1, 1, 1, kTextureColor, nullptr);
    IRenderState* state = renderer->CreateRenderState(shader);
    state->DeclareTexture("first", true, false);
    state->DeclareTexture("image", true, false);
    state->SetTexture("first", plain);
    state->SetTexture("image", wrapped);
    ITexture* target = renderer->CreateTexture(2, 2, 1, 1, kTextureRenderTarget, nullptr);
    ASSERT_NE(target, nullptr);
    while (glGetError() != GL_NO_ERROR) {
    }
    renderer->RenderFullScreen(state, target);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    GLint bound = 0;
    glActiveTexture(GL_TEXTURE1);
    glGetIntegerv(kTextureBindingExternalOes, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), external);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
    glActiveTexture(GL_TEXTURE0);
    glGetIntegerv(kTextureBindingExternalOes, &bound);
    EXPECT_EQ(bound, 0);
    renderer->Release();
    glDeleteTextures(1, &external);
    OVR::GLEContext::GetCurrentContext()->Shutdown();
}

// ---- Textures

TEST_F(RendererTest, ResizeKeepsFreesAndRemakes) {
    ITexture* target = Target(16, 8);
    auto* names = dynamic_cast<ITextureGL*>(target);
    const GLuint texture = names->GetTexture(0);
    const GLuint framebuffer = names->GetFramebuffer(0);
    target->Resize(16, 8);
    EXPECT_EQ(names->GetTexture(0), texture);
    EXPECT_EQ(names->GetFramebuffer(0), framebuffer);

    target->Resize(0, 0);
    EXPECT_EQ(target->GetWidth(), 0);
    EXPECT_EQ(target->GetHeight(), 0);
    EXPECT_EQ(names->GetTexture(0), 0u);
    EXPECT_EQ(names->GetFramebuffer(0), 0u);
    EXPECT_FALSE(glIsTexture(texture));

    target->Resize(6, 4);
    ASSERT_NE(names->GetTexture(0), 0u);
    EXPECT_EQ(target->GetWidth(), 6);
    renderer_->Clear(target, 0, 1, 0, 1);
    const Image image = Read(target);
    EXPECT_EQ(static_cast<unsigned char>(image.pixels[(6 * 4 - 1) * 4 + 1]), 255);

    // A wrapped host object is never deleted by the wrapper.
    GLuint hostTexture = 0;
    glGenTextures(1, &hostTexture);
    glBindTexture(GL_TEXTURE_2D, hostTexture);
    ITexture* wrapped = gl_->CreateTargetFromGLObject(hostTexture, 4, 4, 1, 1, kTextureColor);
    wrapped->Resize(0, 0);
    wrapped->Release();
    EXPECT_TRUE(glIsTexture(hostTexture));
    glDeleteTextures(1, &hostTexture);
}

class RendererTgaTest : public RendererTest {
  protected:
    using Bytes = std::vector<uint8_t>;

    static Bytes Header(uint8_t type, uint16_t width, uint16_t height, uint8_t bitsPerPixel) {
        Bytes header(18, 0);
        header[2] = type;
        header[12] = static_cast<uint8_t>(width);
        header[13] = static_cast<uint8_t>(width >> 8);
        header[14] = static_cast<uint8_t>(height);
        header[15] = static_cast<uint8_t>(height >> 8);
        header[16] = bitsPerPixel;
        return header;
    }
    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() / "tavo-renderer-tga";
        std::filesystem::create_directories(folder);
        const std::string path = (folder / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    // The texture's RGBA bytes, rows bottom first.
    static Bytes Contents(ITexture* texture) {
        Bytes rgba(static_cast<size_t>(texture->GetWidth() * texture->GetHeight() * 4));
        glBindTexture(GL_TEXTURE_2D, dynamic_cast<ITextureGL*>(texture)->GetTexture(0));
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        return rgba;
    }
};

TEST_F(RendererTgaTest, AcceptedFilesReachTheTextureRedFirst) {
    // Pixels in the file's blue, green, red (alpha) order.
    const Bytes bgr3x2 = {10, 20, 30, 11, 21, 31, 12, 22, 32, 13, 23, 33, 14, 24, 34, 15, 25, 35};
    const Bytes rgba3x2 = {30, 20, 10, 255, 31, 21, 11, 255, 32, 22, 12, 255,
                           33, 23, 13, 255, 34, 24, 14, 255, 35, 25, 15, 255};
    auto concat = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const struct {
        const char* name;
        Bytes file;
        int hasAlpha;
        Bytes expected;
    } cases[] = {
        // Width 3 at 24 bits: rows stored tightly, 9 bytes each.
        {"uncompressed24", concat(Header(2, 3, 2, 24), bgr3x2), 0, rgba3x2},
        {"uncompressed32",
         concat(Header(2, 1, 2, 32), {1, 2, 3, 4, 5, 6, 7, 8}),
         1,
         {3, 2, 1, 4, 7, 6, 5, 8}},
        // A run of three then three literal pixels.
        {"runLength24",
         concat(Header(10, 3, 2, 24), {0x82, 10, 20, 30, 0x02, 11, 21, 31, 12, 22, 32, 13, 23, 33}),
         0,
         {30, 20, 10, 255, 30, 20, 10, 255, 30, 20, 10, 255,
          31, 21, 11, 255, 32, 22, 12, 255, 33, 23, 13, 255}},
        {"runLength32",
         concat(Header(10, 2, 1, 32), {0x81, 1, 2, 3, 4}),
         1,
         {3, 2, 1, 4, 3, 2, 1, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ITexture* texture =
            renderer_->CreateTextureFromFile(Write(c.name, c.file).c_str(), kTextureColor);
        ASSERT_NE(texture, nullptr);
        EXPECT_EQ(texture->HasAlpha(), c.hasAlpha);
        EXPECT_EQ(Contents(texture), c.expected);
    }
}

TEST_F(RendererTgaTest, ForeignOrTruncatedFilesAreRejected) {
    Bytes colourMapped = Header(2, 1, 1, 24);
    colourMapped[1] = 1;
    Bytes withId = Header(2, 1, 1, 24);
    withId[0] = 4;
    auto withPixels = [](Bytes header, size_t count) {
        header.resize(header.size() + count, 7);
        return header;
    };
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        {"colourMapped", withPixels(colourMapped, 3)},
        {"imageId", withPixels(withId, 7)},
        {"grey", withPixels(Header(3, 1, 1, 8), 1)},
        {"sixteenBits", withPixels(Header(2, 2, 1, 16), 4)},
        {"shortHeader", Bytes(17, 0)},
        {"truncatedUncompressed", withPixels(Header(2, 3, 2, 24), 17)},
        {"truncatedRunLength", withPixels(Header(10, 4, 1, 32), 1 + 4 + 1 + 3)},
        {"empty", withPixels(Header(2, 0, 4, 24), 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(renderer_->CreateTextureFromFile(Write(c.name, c.file).c_str(), kTextureColor),
                  nullptr);
    }
    EXPECT_EQ(renderer_->CreateTextureFromFile("/no/such/image.tga", kTextureColor), nullptr);
}

// ---- Shaders

TEST_F(RendererTest, VariantsAndPermutationsPickTheirDefines) {
    constexpr const char* kFragment = R"(
out vec4 outColor;
void main() {
#if defined(TINT) && RED
    outColor = vec4(1.0, 0.0, 0.0, 1.0);
#elif defined(TINT)
    outColor = vec4(0.0, 1.0, 0.0, 1.0);
#else
    outColor = vec4(0.0, 0.0, 1.0, 1.0);
#endif
})";
    IShader* shader = Shader(kQuadVertex, kFragment);
    IRenderState* state = renderer_->CreateRenderState(shader);
    ITexture* target = Target(2, 2);
    const auto colour = [&] {
        const Image image = FullScreenColor(state, target);
        const unsigned char* p = Pixel(image, 0, 0);
        return glm::u8vec4(p[0], p[1], p[2], p[3]);
    };
    // No variants: the plain sources.
    EXPECT_EQ(colour(), glm::u8vec4(0, 0, 255, 255));

    static const PermutationDefinition kTable[] = {{2, "#define RED %d\n"}};
    shader->CreateVariant(0, "#define TINT", false);
    shader->SetPermutationTable(kTable, 1);
    shader->SelectVariant(0, {1});
    EXPECT_EQ(colour(), glm::u8vec4(255, 0, 0, 255));
    shader->SelectVariant(0, {0});
    EXPECT_EQ(colour(), glm::u8vec4(0, 255, 0, 255));
    // A value outside its switch is refused; the last program stays.
    tavo::test::LogCapture log;
    shader->SelectVariant(0, {2});
    EXPECT_EQ(colour(), glm::u8vec4(0, 255, 0, 255));
    EXPECT_TRUE(log.Contains("error [TavoRenderer] Shader variant 0 with permutation [2]"));
}

TEST_F(RendererTest, ShaderFilesAndCompileErrors) {
    tavo::test::LogCapture log;
    IShader* shader = Shader(kQuadVertex, "out vec4 outColor; void main() { outColor = nope; }");
    IRenderState* state = renderer_->CreateRenderState(shader);
    renderer_->RenderFullScreen(state, Target(2, 2));
    EXPECT_TRUE(log.Contains("error [TavoRenderer] Shader: Compile-time error: FRAGMENT\n"));
    EXPECT_TRUE(log.Contains("error [TavoRenderer] Shader: Link-time error: PROGRAM\n"));

    EXPECT_EQ(renderer_->CreateShaderFromFiles("/no/such.vert", nullptr, "/no/such.frag", nullptr),
              nullptr);
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    std::ofstream(folder / "renderer-test.vert") << kQuadVertex;
    std::ofstream(folder / "renderer-test.frag") << kColorFragment;
    IShader* fromFiles =
        renderer_->CreateShaderFromFiles((folder / "renderer-test.vert").c_str(), "aux",
                                         (folder / "renderer-test.frag").c_str(), nullptr);
    ASSERT_NE(fromFiles, nullptr);
    EXPECT_EQ(fromFiles->GetVertexSource(), kQuadVertex);
    EXPECT_EQ(fromFiles->GetFragmentSource(), kColorFragment);
}

// ---- Lifetimes

TEST_F(RendererTest, ReleasedObjectsAreDroppedFromWhatUsesThem) {
    ITexture* target = Target(4, 4);
    IShader* shader = Shader(kQuadVertex, kColorFragment);
    IRenderState* state = renderer_->CreateRenderState(shader);
    state->DeclareTexture("unused", true, true);
    ITexture* texture = renderer_->CreateTexture(1, 1, 1, 0, kTextureColor, nullptr);
    state->SetTexture("unused", texture);
    IGeometry* box = renderer_->CreateBox({1, 1, 1}, state, false);
    texture->Release();
    shader->Release();
    renderer_->RenderFullScreen(state, target);  // no shader: nothing drawn, nothing touched
    state->Release();
    renderer_->SetProjection(1.0f, 1.0f, 0.5f, 10.0f, 0, 0);
    renderer_->RenderScene(target);  // the box has no state left: skipped
    (void)box;
    const uint32_t pastTheEnd[] = {0, 1, 8};
    EXPECT_EQ(renderer_->CreateGeometry(8, std::vector<Vertex>(8).data(), 3, pastTheEnd, nullptr),
              nullptr);
}

}  // namespace
}  // namespace TavoRenderer
