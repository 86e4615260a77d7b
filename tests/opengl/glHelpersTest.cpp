// Tests of the GL helpers: render targets, their sets, and the saved-state round trip.
#include "tavo/opengl/glHelpers.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "opengl/eglContext.h"
#include "tavo/opengl/gl.h"

namespace {

namespace gl = tavo::gl;
using namespace tavo::opengl;

class GlHelpersTest : public tavo::test::GlTest {};

GLint TextureWidth(GLuint texture) {
    GLint width = 0;
    gl::BindTexture(GLenum{GL_TEXTURE_2D}, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    return width;
}

TEST_F(GlHelpersTest, RenderTargetIsCompleteBoundAndCleared) {
    GLuint framebuffer = 0, texture = 0, depth = 0;
    ASSERT_TRUE(CreateRenderTarget(8, 4, true, &framebuffer, &texture, &depth, false));
    EXPECT_NE(framebuffer, 0u);
    EXPECT_NE(texture, 0u);
    EXPECT_NE(depth, 0u);
    GLint bound = 0;
    gl::GetIntegerv(GLenum{GL_FRAMEBUFFER_BINDING}, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), framebuffer);
    gl::Viewport(0, 0, 8, 4);
    gl::ClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    gl::Clear(GLbitfield{GL_COLOR_BUFFER_BIT});
    tavo::test::Image actual = tavo::test::ReadPixels(8, 4);
    tavo::test::Image expected = actual;
    for (size_t i = 0; i < expected.pixels.size(); i += 4) {
        expected.pixels[i] = 0;
        expected.pixels[i + 1] = static_cast<char>(255);
        expected.pixels[i + 2] = 0;
        expected.pixels[i + 3] = static_cast<char>(255);
    }
    EXPECT_EQ(tavo::test::CompareImages(actual, expected, 0, "render_target_clear"), "");
    EXPECT_EQ(TextureWidth(texture), 8);
}

TEST_F(GlHelpersTest, IncompleteTargetReturnsFalseAndLeavesOutputs) {
    GLuint framebuffer = 77, texture = 78, depth = 79;
    // A zero-sized attachment is incomplete.
    EXPECT_FALSE(CreateRenderTarget(0, 0, false, &framebuffer, &texture, &depth, false));
    EXPECT_EQ(framebuffer, 77u);
    EXPECT_EQ(texture, 78u);
    EXPECT_EQ(depth, 79u);
}

TEST_F(GlHelpersTest, ProtectedContentWithoutExtensionWarnsOnceAndRaisesNoGlError) {
    ASSERT_FALSE(OVR::GLEContext::GetCurrentContext()->gle_EXT_protected_textures);
    std::ostringstream stream;
    auto previous = spdlog::default_logger();
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(stream);
    spdlog::set_default_logger(std::make_shared<spdlog::logger>("capture", sink));
    GLuint framebuffer = 0, texture = 0, depth = 0;
    EXPECT_TRUE(CreateRenderTarget(4, 4, false, &framebuffer, &texture, &depth, true));
    EXPECT_EQ(gl::GetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(CreateRenderTarget(4, 4, false, &framebuffer, &texture, &depth, true));
    EXPECT_EQ(gl::GetError(), static_cast<GLenum>(GL_NO_ERROR));
    spdlog::set_default_logger(previous);
    const std::string text = stream.str();
    // No other case of this program asks for protected content, so the process-wide warning is
    // this case's to give: exactly once for the two requests.
    const size_t first = text.find("GL_EXT_protected_textures");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("GL_EXT_protected_textures", first + 1), std::string::npos) << text;
}

TEST_F(GlHelpersTest, UpdateBuffersResizesDeletesAndSkipsUnchanged) {
    unsigned textures[3] = {}, depths[3] = {}, framebuffers[3] = {};
    int width = 0, height = 0, count = 0;
    ASSERT_TRUE(
        UpdateBuffers(16, 8, 3, width, height, count, textures, depths, framebuffers, false));
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 8);
    EXPECT_EQ(count, 3);
    for (unsigned texture : textures) {
        EXPECT_EQ(TextureWidth(texture), 16);
    }
    const unsigned first = textures[0];
    ASSERT_TRUE(
        UpdateBuffers(16, 8, 3, width, height, count, textures, depths, framebuffers, false));
    EXPECT_EQ(textures[0], first);

    ASSERT_TRUE(
        UpdateBuffers(32, 8, 2, width, height, count, textures, depths, framebuffers, false));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(textures[2], 0u);
    EXPECT_EQ(TextureWidth(textures[1]), 32);

    const unsigned old = framebuffers[0];
    ASSERT_TRUE(
        UpdateBuffers(0, 0, 2, width, height, count, textures, depths, framebuffers, false));
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(framebuffers[0], 0u);
    EXPECT_EQ(glIsTexture(first), GL_FALSE);
    (void)old;

    EXPECT_TRUE(
        UpdateBuffers(4, 4, 0, width, height, count, textures, depths, framebuffers, false));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(width, 4);
    EXPECT_EQ(textures[0], 0u);
}

TEST_F(GlHelpersTest, RectangleHasTheSpecifiedVerticesAndIndices) {
    GLuint vertexArray = 0, vertexBuffer = 0, indexBuffer = 0;
    CreateRectangularTexCoordVertexArray(0.0f, 0.25f, 0.75f, 1.0f, vertexArray, vertexBuffer,
                                         indexBuffer);
    GLint bound = 0;
    gl::GetIntegerv(GLenum{GL_VERTEX_ARRAY_BINDING}, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), vertexArray);
    GLint enabled = 0, size = 0, stride = 0;
    gl::GetVertexAttribiv(0u, GLenum{GL_VERTEX_ATTRIB_ARRAY_ENABLED}, &enabled);
    gl::GetVertexAttribiv(0u, GLenum{GL_VERTEX_ATTRIB_ARRAY_SIZE}, &size);
    gl::GetVertexAttribiv(0u, GLenum{GL_VERTEX_ATTRIB_ARRAY_STRIDE}, &stride);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(stride, 8);
    auto getBufferSubData =
        reinterpret_cast<PFNGLGETBUFFERSUBDATAPROC>(eglGetProcAddress("glGetBufferSubData"));
    ASSERT_NE(getBufferSubData, nullptr);
    float vertices[8] = {};
    getBufferSubData(GL_ARRAY_BUFFER, 0, sizeof(vertices), vertices);
    const float expected[8] = {0.0f, 0.25f, 1.0f, 0.25f, 1.0f, 0.75f, 0.0f, 0.75f};
    EXPECT_EQ(std::memcmp(vertices, expected, sizeof(expected)), 0);
    uint32_t indices[6] = {};
    getBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, sizeof(indices), indices);
    const uint32_t expectedIndices[6] = {0, 1, 2, 0, 2, 3};
    EXPECT_EQ(std::memcmp(indices, expectedIndices, sizeof(indices)), 0);
}

// Every binding the snapshot covers, read afresh.
SavedOpenGLState Current() {
    SavedOpenGLState state;
    std::memset(&state, 0, sizeof(state));
    SaveOpenGLState(state, 1, 16);
    return state;
}

TEST_F(GlHelpersTest, SaveAndRestoreRoundTripEveryBinding) {
    // The host's state: its own program, vertex array with attribute 0, buffers, targets, units.
    GLuint program = gl::CreateProgram();
    GLuint vertexArray = 0, buffers[2] = {}, framebuffer = 0, renderbuffer = 0;
    gl::GenVertexArrays(1, &vertexArray);
    gl::BindVertexArray(vertexArray);
    gl::GenBuffers(2, buffers);
    gl::BindBuffer(GLenum{GL_ARRAY_BUFFER}, buffers[0]);
    gl::BufferData(GLenum{GL_ARRAY_BUFFER}, GLsizeiptr{64}, nullptr, GLenum{GL_STATIC_DRAW});
    gl::VertexAttribPointer(0u, 3, GLenum{GL_UNSIGNED_BYTE}, GLboolean{GL_TRUE}, 12,
                            reinterpret_cast<void*>(4));
    gl::EnableVertexAttribArray(0u);
    gl::BindBuffer(GLenum{GL_ARRAY_BUFFER}, buffers[1]);
    gl::BindBuffer(GLenum{GL_ELEMENT_ARRAY_BUFFER}, buffers[1]);
    gl::GenFramebuffers(1, &framebuffer);
    gl::BindFramebuffer(GLenum{GL_FRAMEBUFFER}, framebuffer);
    gl::GenRenderbuffers(1, &renderbuffer);
    gl::BindRenderbuffer(GLenum{GL_RENDERBUFFER}, renderbuffer);
    gl::Viewport(3, 4, 50, 60);
    GLuint textures[16] = {};
    gl::GenTextures(16, textures);
    for (int i = 0; i < 16; ++i) {
        gl::ActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + i));
        gl::BindTexture(GLenum{GL_TEXTURE_2D}, textures[15 - i]);
    }
    gl::ActiveTexture(GLenum{GL_TEXTURE5});
    // A program must link before it can be made current; the empty one does not, so use a
    // trivial linked program.
    const char* vs = "#version 330 core\nvoid main() { gl_Position = vec4(0.0); }";
    GLuint shader = gl::CreateShader(GLenum{GL_VERTEX_SHADER});
    gl::ShaderSource(shader, 1, &vs, nullptr);
    gl::CompileShader(shader);
    gl::AttachShader(program, shader);
    gl::LinkProgram(program);
    gl::UseProgram(program);
    ASSERT_EQ(gl::GetError(), static_cast<GLenum>(GL_NO_ERROR));

    SavedOpenGLState saved;
    std::memset(&saved, 0, sizeof(saved));
    SaveOpenGLState(saved, 1, 16);
    EXPECT_EQ(saved.attributeCount, 1);
    EXPECT_EQ(saved.textureUnitCount, 16);
    EXPECT_EQ(saved.activeTexture, GL_TEXTURE5);
    EXPECT_EQ(saved.attributes[0].size, 3);
    EXPECT_EQ(saved.attributes[0].bufferBinding, static_cast<int32_t>(buffers[0]));
    GLint active = 0;
    gl::GetIntegerv(GLenum{GL_ACTIVE_TEXTURE}, &active);
    EXPECT_EQ(active, GL_TEXTURE5);

    // The system draws: everything changes.
    GLuint otherArray = 0;
    gl::GenVertexArrays(1, &otherArray);
    gl::BindVertexArray(otherArray);
    gl::BindVertexArray(vertexArray);
    gl::DisableVertexAttribArray(0u);
    gl::BindBuffer(GLenum{GL_ARRAY_BUFFER}, buffers[1]);
    gl::VertexAttribPointer(0u, 2, GLenum{GL_FLOAT}, GLboolean{GL_FALSE}, 8, nullptr);
    gl::BindVertexArray(otherArray);
    gl::BindBuffer(GLenum{GL_ARRAY_BUFFER}, 0u);
    gl::BindFramebuffer(GLenum{GL_FRAMEBUFFER}, 0u);
    gl::BindRenderbuffer(GLenum{GL_RENDERBUFFER}, 0u);
    gl::Viewport(0, 0, 1, 1);
    gl::UseProgram(0u);
    for (int i = 0; i < 16; ++i) {
        gl::ActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + i));
        gl::BindTexture(GLenum{GL_TEXTURE_2D}, 0u);
    }

    RestoreOpenGLState(saved);
    ASSERT_EQ(gl::GetError(), static_cast<GLenum>(GL_NO_ERROR));
    SavedOpenGLState after = Current();
    EXPECT_EQ(after.program, static_cast<int32_t>(program));
    EXPECT_EQ(after.vertexArray, static_cast<int32_t>(vertexArray));
    EXPECT_EQ(after.arrayBuffer, static_cast<int32_t>(buffers[1]));
    EXPECT_EQ(after.elementArrayBuffer, static_cast<int32_t>(buffers[1]));
    EXPECT_EQ(after.framebuffer, static_cast<int32_t>(framebuffer));
    EXPECT_EQ(after.renderbuffer, static_cast<int32_t>(renderbuffer));
    EXPECT_EQ(after.viewport[0], 3);
    EXPECT_EQ(after.viewport[1], 4);
    EXPECT_EQ(after.viewport[2], 50);
    EXPECT_EQ(after.viewport[3], 60);
    EXPECT_EQ(after.activeTexture, GL_TEXTURE5);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(after.textureBindings[i], static_cast<int32_t>(textures[15 - i])) << "unit " << i;
    }
    EXPECT_EQ(after.attributes[0].enabled, 1);
    EXPECT_EQ(after.attributes[0].size, 3);
    EXPECT_EQ(after.attributes[0].type, GL_UNSIGNED_BYTE);
    EXPECT_EQ(after.attributes[0].normalized, 1);
    EXPECT_EQ(after.attributes[0].stride, 12);
    EXPECT_EQ(after.attributes[0].pointer, reinterpret_cast<void*>(4));
    EXPECT_EQ(after.attributes[0].bufferBinding, static_cast<int32_t>(buffers[0]));
}

TEST(ImageComparison, DifferenceIsNamedAndBothImagesWritten) {
    tavo::test::Image actual{2, 1, std::string(8, '\0')};
    tavo::test::Image expected = actual;
    expected.pixels[5] = 9;
    const std::string text = tavo::test::CompareImages(actual, expected, 1, "comparison_self");
    EXPECT_NE(text.find("pixel (1, 0) channel 1 is 0, expected 9"), std::string::npos) << text;
    const char* folder = std::getenv("TAVO_TEST_OUTPUT_DIR");
    const std::string base =
        std::string(folder != nullptr ? folder : "opengl-test-output") + "/comparison_self";
    EXPECT_TRUE(std::ifstream(base + ".actual.ppm").good());
    EXPECT_TRUE(std::ifstream(base + ".expected.ppm").good());
    EXPECT_EQ(tavo::test::CompareImages(actual, actual, 0, "comparison_same"), "");
}

TEST_F(GlHelpersTest, SaveClampsCountsToTheRecordsCapacity) {
    SavedOpenGLState state;
    std::memset(&state, 0, sizeof(state));
    SaveOpenGLState(state, 40, 40);
    EXPECT_EQ(state.attributeCount, 16);
    EXPECT_EQ(state.textureUnitCount, 16);
}

}  // namespace
