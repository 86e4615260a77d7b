// Test fixture: a headless OpenGL 3.3 core context on Mesa's surfaceless EGL platform.
#pragma once

#include <EGL/egl.h>

#include <string>

namespace tavo::test {

enum class EglApi { OpenGLCore33, OpenGLES32 };

// One context per object, made current on the constructing thread; each thread that draws makes
// its own. `ok()` is false when no context could be made, and `error()` then says why.
class EglContext {
  public:
    explicit EglContext(EglApi api = EglApi::OpenGLCore33);
    ~EglContext();
    EglContext(const EglContext&) = delete;
    EglContext& operator=(const EglContext&) = delete;

    bool ok() const { return context_ != EGL_NO_CONTEXT; }
    const std::string& error() const { return error_; }
    // Makes the context current on the calling thread again.
    bool MakeCurrent();

  private:
    bool Fail(const char* step);

    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
    std::string error_;
};

// RGBA pixels of a rectangle of the bound read framebuffer, bottom row first.
struct Image {
    int width = 0;
    int height = 0;
    std::string pixels;  // 4 bytes per pixel
};

Image ReadPixels(int width, int height);

// Writes `image` as a binary PPM (alpha dropped); used for failing comparisons.
bool WritePpm(const Image& image, const std::string& path);

// Compares two images pixel by pixel within `tolerance` per channel. On a difference writes
// "<name>.actual.ppm" and "<name>.expected.ppm" into the test output folder and returns a text
// naming the first differing pixel; an empty text means equal.
std::string CompareImages(const Image& actual, const Image& expected, int tolerance,
                          const std::string& name);

}  // namespace tavo::test

#include <gtest/gtest.h>

#include "tavo/opengl/glLoader.h"

namespace tavo::test {

// Base of GL test cases: a fresh context current on the test thread with its table loaded.
class GlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(context_.ok()) << context_.error();
        OVR::GLEContext::GetCurrentContext()->Shutdown();
        OVR::GLEContext::GetCurrentContext()->Init();
    }
    void TearDown() override { OVR::GLEContext::GetCurrentContext()->Shutdown(); }

    EglContext context_;
};

}  // namespace tavo::test
