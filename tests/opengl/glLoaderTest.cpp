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
