// Tests of the per-thread GL function table: version parsing, loading, fallback and threads.
#include <EGL/egl.h>

#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "opengl/eglContext.h"
#include "tavo/opengl/gl.h"
#include "tavo/opengl/glLoader.h"
#include "tavo/opengl/internal/glLoaderDetail.h"

namespace {

using tavo::opengl::detail::ParseGLVersionString;

TEST(GLVersionText, ParsesLeadingNumbersAndES) {
    int major = 0, minor = 0;
    bool es = true;
    ASSERT_TRUE(ParseGLVersionString("4.6.0 NVIDIA 537.13", major, minor, es));
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 6);
    EXPECT_FALSE(es);
    ASSERT_TRUE(ParseGLVersionString("OpenGL ES 3.2 Mesa 22.3.6", major, minor, es));
    EXPECT_EQ(major, 3);
    EXPECT_EQ(minor, 2);
    EXPECT_TRUE(es);
}

TEST(GLVersionText, RejectsMissingOrIncompleteText) {
    int major = 7, minor = 7;
    bool es = false;
    EXPECT_FALSE(ParseGLVersionString(nullptr, major, minor, es));
    EXPECT_FALSE(ParseGLVersionString("no digits", major, minor, es));
    EXPECT_FALSE(ParseGLVersionString("4", major, minor, es));
    EXPECT_EQ(major, 7);
    EXPECT_EQ(minor, 7);
}

class GLEContextTest : public tavo::test::GlTest {};

TEST_F(GLEContextTest, InitDetectsCoreContextAndLoadsTable) {
    OVR::GLEContext* c = OVR::GLEContext::GetCurrentContext();
    ASSERT_TRUE(c->IsInitialized());
    EXPECT_TRUE(c->IsPlatformInitialized());
    EXPECT_EQ(c->platformWholeVersion, 100);
    EXPECT_GE(c->wholeVersion, 303);
    EXPECT_EQ(c->wholeVersion, c->majorVersion * 100 + c->minorVersion);
    EXPECT_TRUE(c->isCoreProfile);
    EXPECT_FALSE(c->isGLES);
    EXPECT_NE(c->glUseProgram_Impl, nullptr);
    EXPECT_NE(c->glGenVertexArrays_Impl, nullptr);
    EXPECT_NE(c->glBindFramebuffer_Impl, nullptr);
    EXPECT_NE(c->glGetStringi_Impl, nullptr);
    // Core 3.3 on Mesa lists this extension through glGetStringi.
    EXPECT_TRUE(c->gle_ARB_copy_buffer);
    EXPECT_FALSE(c->gle_WIN_swap_hint);
    EXPECT_FALSE(c->gle_WGL_ARB_create_context);
    EXPECT_EQ(c->platformGetExtensionsString_Impl, nullptr);
}

TEST_F(GLEContextTest, SecondInitLoadsNothingAndShutdownAllowsReload) {
    OVR::GLEContext* c = OVR::GLEContext::GetCurrentContext();
    c->glUseProgram_Impl = nullptr;  // marks whether Init fetches again
    c->Init();
    EXPECT_EQ(c->glUseProgram_Impl, nullptr);
    c->Shutdown();
    EXPECT_FALSE(c->IsInitialized());
    EXPECT_FALSE(c->IsPlatformInitialized());
    EXPECT_FALSE(c->enableHookGetError);
    c->Init();
    EXPECT_NE(c->glUseProgram_Impl, nullptr);
    EXPECT_EQ(OVR::GLEContext::GetCurrentContext(), c);
}

TEST_F(GLEContextTest, CopyAssignmentCopiesTheTable) {
    OVR::GLEContext copy;
    EXPECT_TRUE(copy.enableHookGetError);
    EXPECT_EQ(copy.glUseProgram_Impl, nullptr);
    copy = *OVR::GLEContext::GetCurrentContext();
    EXPECT_EQ(copy.glUseProgram_Impl, OVR::GLEContext::GetCurrentContext()->glUseProgram_Impl);
    EXPECT_EQ(copy.wholeVersion, OVR::GLEContext::GetCurrentContext()->wholeVersion);
}

TEST_F(GLEContextTest, EveryListedEntryPointIsFoundOnA33CoreContext) {
    const OVR::GLEContext* c = OVR::GLEContext::GetCurrentContext();
    std::string missing;
#define TAVO_TEST_CHECK_SLOT(name, type) \
    if (c->gl##name##_Impl == nullptr) { \
        missing += " gl" #name;          \
    }
    TAVO_GL_LOADED_FUNCTIONS(TAVO_TEST_CHECK_SLOT)
#undef TAVO_TEST_CHECK_SLOT
    EXPECT_EQ(missing, "");
}

// Texture upload, mip chain, a framebuffer on a texture level and blend state, all through the
// wrappers, with plain literals where the entry point takes enums, sizes and pointers.
TEST_F(GLEContextTest, WrappersReachTextureFramebufferAndStateEntryPoints) {
    namespace gl = tavo::gl;
    GLuint texture = 0;
    gl::GenTextures(1, &texture);
    gl::BindTexture(GL_TEXTURE_2D, texture);
    gl::TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 4, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    const unsigned char red[4] = {255, 0, 0, 255};
    gl::TexSubImage2D(GL_TEXTURE_2D, 0, 2, 1, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, red);
    gl::GenerateMipmap(GL_TEXTURE_2D);
    GLint levelWidth = 0;
    gl::GetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &levelWidth);
    EXPECT_EQ(levelWidth, 2);

    GLuint framebuffer = 0;
    gl::GenFramebuffers(1, &framebuffer);
    gl::BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl::FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    ASSERT_EQ(gl::CheckFramebufferStatus(GL_FRAMEBUFFER),
              static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    unsigned char pixel[4] = {};
    gl::ReadPixels(2, 1, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    EXPECT_EQ(pixel[0], 255);
    EXPECT_EQ(pixel[1], 0);
    EXPECT_TRUE(gl::IsFramebuffer(framebuffer));

    gl::BlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ZERO);
    gl::BlendEquation(GL_FUNC_REVERSE_SUBTRACT);
    GLint value = 0;
    gl::GetIntegerv(GL_BLEND_SRC_ALPHA, &value);
    EXPECT_EQ(value, GL_ONE);
    gl::GetIntegerv(GL_BLEND_EQUATION_RGB, &value);
    EXPECT_EQ(value, GL_FUNC_REVERSE_SUBTRACT);
    gl::BlendEquation(GL_FUNC_ADD);
    gl::BlendFunc(GL_ONE, GL_ZERO);

    gl::BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl::DeleteFramebuffers(1, &framebuffer);
    gl::DeleteTextures(1, &texture);
    EXPECT_EQ(gl::GetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// A driver that only offers the EXT names of the framebuffer functions.
void* ExtOnlyLookup(const char* name) {
    static const char* const kCoreNames[] = {
        "glBindFramebuffer",    "glBindRenderbuffer",    "glCheckFramebufferStatus",
        "glDeleteFramebuffers", "glDeleteRenderbuffers", "glFramebufferRenderbuffer",
        "glGenFramebuffers",    "glGenRenderbuffers",    "glRenderbufferStorage"};
    for (const char* core : kCoreNames) {
        if (std::strcmp(core, name) == 0) {
            return nullptr;
        }
    }
    std::string text = name;
    if (text.size() > 3 && text.compare(text.size() - 3, 3, "EXT") == 0) {
        text.resize(text.size() - 3);  // served by the core entry point of the real driver
    }
    return reinterpret_cast<void*>(eglGetProcAddress(text.c_str()));
}

TEST_F(GLEContextTest, ExtFramebufferFallbackGivesWorkingSlots) {
    OVR::GLEContext* c = OVR::GLEContext::GetCurrentContext();
    tavo::opengl::detail::LoadFunctionTable(*c, &ExtOnlyLookup);
    ASSERT_NE(c->glBindFramebuffer_Impl, nullptr);
    ASSERT_NE(c->glRenderbufferStorage_Impl, nullptr);
    namespace gl = tavo::gl;
    GLuint fbo = 0, rbo = 0;
    gl::GenFramebuffers(1, &fbo);
    gl::BindFramebuffer(GLenum{GL_FRAMEBUFFER}, fbo);
    gl::GenRenderbuffers(1, &rbo);
    gl::BindRenderbuffer(GLenum{GL_RENDERBUFFER}, rbo);
    gl::RenderbufferStorage(GLenum{GL_RENDERBUFFER}, GLenum{GL_RGBA8}, 4, 4);
    gl::FramebufferRenderbuffer(GLenum{GL_FRAMEBUFFER}, GLenum{GL_COLOR_ATTACHMENT0},
                                GLenum{GL_RENDERBUFFER}, rbo);
    EXPECT_EQ(gl::CheckFramebufferStatus(GLenum{GL_FRAMEBUFFER}),
              static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    gl::BindFramebuffer(GLenum{GL_FRAMEBUFFER}, 0u);
    gl::DeleteFramebuffers(1, &fbo);
    gl::DeleteRenderbuffers(1, &rbo);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(GLEContextThreads, EachThreadHasItsOwnContextObject) {
    OVR::GLEContext* mine = OVR::GLEContext::GetCurrentContext();
    OVR::GLEContext* other = nullptr;
    bool otherFresh = false;
    std::thread thread([&] {
        other = OVR::GLEContext::GetCurrentContext();
        otherFresh = !other->IsInitialized() && other->enableHookGetError;
    });
    thread.join();
    EXPECT_NE(mine, nullptr);
    EXPECT_NE(other, mine);
    EXPECT_TRUE(otherFresh);
}

}  // namespace
