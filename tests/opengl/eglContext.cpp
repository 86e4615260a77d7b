// Headless EGL context and pixel comparison helpers for GL tests.
#include "opengl/eglContext.h"

#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <fmt/format.h>

namespace tavo::test {

namespace {

std::string OutputFolder() {
    // ctest runs in the build tree; failing images go beside the test binary's working folder.
    const char* custom = std::getenv("TAVO_TEST_OUTPUT_DIR");
    std::filesystem::path folder = custom != nullptr ? custom : "opengl-test-output";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder.string();
}

}  // namespace

EglContext::EglContext(EglApi api) {
    const bool es = api == EglApi::OpenGLES32;
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) {
        Fail("eglGetProcAddress(eglGetPlatformDisplayEXT)");
        return;
    }
    display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display_ == EGL_NO_DISPLAY) {
        Fail("eglGetPlatformDisplayEXT");
        return;
    }
    EGLint major = 0;
    EGLint minor = 0;
    if (eglInitialize(display_, &major, &minor) == EGL_FALSE) {
        Fail("eglInitialize");
        return;
    }
    if (eglBindAPI(es ? EGL_OPENGL_ES_API : EGL_OPENGL_API) == EGL_FALSE) {
        Fail("eglBindAPI");
        return;
    }
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                       es ? EGL_OPENGL_ES3_BIT : EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    // Surfaceless contexts need no particular config; take one when offered, else none.
    if (eglChooseConfig(display_, configAttributes, &config, 1, &configCount) == EGL_FALSE ||
        configCount == 0) {
        config = EGL_NO_CONFIG_KHR;
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                        3,
                                        EGL_CONTEXT_MINOR_VERSION,
                                        es ? 2 : 3,
                                        es ? EGL_NONE : EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                        EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                        EGL_NONE};
    context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, contextAttributes);
    if (context_ == EGL_NO_CONTEXT) {
        Fail("eglCreateContext");
        return;
    }
    if (!MakeCurrent()) {
        eglDestroyContext(display_, context_);
        context_ = EGL_NO_CONTEXT;
    }
}

EglContext::~EglContext() {
    if (display_ == EGL_NO_DISPLAY) {
        return;
    }
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != EGL_NO_CONTEXT) {
        eglDestroyContext(display_, context_);
    }
    eglReleaseThread();
}

bool EglContext::MakeCurrent() {
    if (eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_FALSE) {
        return Fail("eglMakeCurrent");
    }
    return true;
}

bool EglContext::Fail(const char* step) {
    error_ = fmt::format("{} failed with EGL error 0x{:04x}", step, eglGetError());
    return false;
}

Image ReadPixels(int width, int height) {
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.pixels.data());
    return image;
}

bool WritePpm(const Image& image, const std::string& path) {
    std::ofstream file(path, std::ios::binary);
    file << "P6\n" << image.width << " " << image.height << "\n255\n";
    // PPM rows run top to bottom; GL rows bottom to top.
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) {
            file.write(&image.pixels[(static_cast<size_t>(y) * image.width + x) * 4], 3);
        }
    }
    return static_cast<bool>(file);
}

std::string CompareImages(const Image& actual, const Image& expected, int tolerance,
                          const std::string& name) {
    std::string difference;
    if (actual.width != expected.width || actual.height != expected.height) {
        difference = fmt::format("size {}x{} differs from expected {}x{}", actual.width,
                                 actual.height, expected.width, expected.height);
    } else {
        for (size_t i = 0; i < actual.pixels.size() && difference.empty(); ++i) {
            const int a = static_cast<unsigned char>(actual.pixels[i]);
            const int e = static_cast<unsigned char>(expected.pixels[i]);
            if (std::abs(a - e) > tolerance) {
                const size_t pixel = i / 4;
                difference = fmt::format("pixel ({}, {}) channel {} is {}, expected {}",
                                         pixel % actual.width, pixel / actual.width, i % 4, a, e);
            }
        }
    }
    if (!difference.empty()) {
        const std::string folder = OutputFolder();
        WritePpm(actual, folder + "/" + name + ".actual.ppm");
        WritePpm(expected, folder + "/" + name + ".expected.ppm");
        difference += fmt::format(" (images written to {}/{}.*.ppm)", folder, name);
    }
    return difference;
}

}  // namespace tavo::test
