// The per-thread OpenGL function table: version detection, entry points and extension flags.
#include "tavo/opengl/glLoader.h"

#include <EGL/egl.h>
#include <GL/glx.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "tavo/opengl/internal/glLoaderDetail.h"

// Zeroing and copying the object as a whole relies on it being plain data.
static_assert(std::is_trivially_copyable_v<OVR::GLEContext>);
static_assert(std::is_standard_layout_v<OVR::GLEContext>);

namespace tavo::opengl::detail {

bool ParseGLVersionString(const char* text, int& major, int& minor, bool& isES) {
    isES = false;
    if (text == nullptr) {
        return false;
    }
    isES = std::strstr(text, "OpenGL ES") != nullptr;
    int parsedMajor = 0;
    int parsedMinor = 0;
    const int fields = std::isdigit(static_cast<unsigned char>(text[0]))
                           ? std::sscanf(text, "%d.%d", &parsedMajor, &parsedMinor)
                           : std::sscanf(text, "%*[^0-9]%d.%d", &parsedMajor, &parsedMinor);
    if (fields != 2) {
        return false;
    }
    major = parsedMajor;
    minor = parsedMinor;
    return true;
}

void* GetProcAddress(const char* name) {
    // Hosts on Wayland or headless use EGL, X11 hosts GLX; the current context says which.
    if (eglGetCurrentContext() != EGL_NO_CONTEXT) {
        return reinterpret_cast<void*>(eglGetProcAddress(name));
    }
    return reinterpret_cast<void*>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

namespace {

template <typename Function>
void Fetch(Function& slot, ProcLookup lookup, const char* name) {
    slot = reinterpret_cast<Function>(lookup(name));
}

}  // namespace

void LoadFunctionTable(OVR::GLEContext& c, ProcLookup lookup) {
#define TAVO_GLE_CLEAR(name, type) c.gl##name##_Impl = nullptr;
#define TAVO_GLE_FETCH(name, type) Fetch(c.gl##name##_Impl, lookup, "gl" #name);
#define TAVO_GLE_FETCH_EXT(name, type) Fetch(c.gl##name##_Impl, lookup, "gl" #name "EXT");
    TAVO_GL_LOADED_FUNCTIONS(TAVO_GLE_CLEAR)
    TAVO_GL_LOADED_FUNCTIONS(TAVO_GLE_FETCH)
    if (c.glBindFramebuffer_Impl == nullptr) {
        TAVO_GL_FRAMEBUFFER_FUNCTIONS(TAVO_GLE_FETCH_EXT)
    }
#undef TAVO_GLE_FETCH_EXT
#undef TAVO_GLE_FETCH
#undef TAVO_GLE_CLEAR
}

void SetExtensionFlag(OVR::GLEContext& c, const char* name) {
    struct Entry {
        const char* name;
        bool OVR::GLEContext::*flag;
    };
    static constexpr Entry kTable[] = {
        {"GL_AMD_debug_output", &OVR::GLEContext::gle_AMD_debug_output},
        {"GL_ARB_copy_buffer", &OVR::GLEContext::gle_ARB_copy_buffer},
        {"GL_ARB_debug_output", &OVR::GLEContext::gle_ARB_debug_output},
        {"GL_ARB_depth_buffer_float", &OVR::GLEContext::gle_ARB_depth_buffer_float},
        {"GL_ARB_ES2_compatibility", &OVR::GLEContext::gle_ARB_ES2_compatibility},
        {"GL_ARB_framebuffer_object", &OVR::GLEContext::gle_ARB_framebuffer_object},
        {"GL_EXT_framebuffer_object", &OVR::GLEContext::gle_ARB_framebuffer_object},
        {"GL_ARB_framebuffer_sRGB", &OVR::GLEContext::gle_ARB_framebuffer_sRGB},
        {"GL_ARB_texture_multisample", &OVR::GLEContext::gle_ARB_texture_multisample},
        {"GL_ARB_texture_non_power_of_two", &OVR::GLEContext::gle_ARB_texture_non_power_of_two},
        {"GL_ARB_texture_rectangle", &OVR::GLEContext::gle_ARB_texture_rectangle},
        {"GL_EXT_texture_rectangle", &OVR::GLEContext::gle_ARB_texture_rectangle},
        {"GL_NV_texture_rectangle", &OVR::GLEContext::gle_ARB_texture_rectangle},
        {"GL_ARB_texture_storage", &OVR::GLEContext::gle_ARB_texture_storage},
        {"GL_ARB_texture_storage_multisample",
         &OVR::GLEContext::gle_ARB_texture_storage_multisample},
        {"GL_ARB_timer_query", &OVR::GLEContext::gle_ARB_timer_query},
        {"GL_ARB_vertex_array_object", &OVR::GLEContext::gle_ARB_vertex_array_object},
        {"GL_EXT_draw_buffers2", &OVR::GLEContext::gle_EXT_draw_buffers2},
        {"GL_EXT_texture_compression_s3tc", &OVR::GLEContext::gle_EXT_texture_compression_s3tc},
        {"GL_EXT_texture_filter_anisotropic", &OVR::GLEContext::gle_EXT_texture_filter_anisotropic},
        {"GL_EXT_texture_sRGB", &OVR::GLEContext::gle_EXT_texture_sRGB},
        {"GL_KHR_debug", &OVR::GLEContext::gle_KHR_debug},
        {"GL_WIN_swap_hint", &OVR::GLEContext::gle_WIN_swap_hint},
        {"GL_EXT_protected_textures", &OVR::GLEContext::gle_EXT_protected_textures},
    };
    for (const Entry& entry : kTable) {
        if (std::strcmp(entry.name, name) == 0) {
            c.*entry.flag = true;
        }
    }
}

}  // namespace tavo::opengl::detail

namespace OVR {

namespace {
// Released when its thread ends: a context serves only its own thread, so nothing can use it
// afterwards, and threads that come and go would otherwise leak one table each.
thread_local std::unique_ptr<GLEContext> currentContext;
}  // namespace

GLEContext::GLEContext() {
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
    enableHookGetError = true;
}

GLEContext* GLEContext::GetCurrentContext() {
    if (currentContext == nullptr) {
        currentContext.reset(new (std::nothrow) GLEContext());
    }
    return currentContext.get();
}

void GLEContext::Init() {
    if (!IsPlatformInitialized()) {
        PlatformInit();
    }
    if (majorVersion == 0) {
        InitVersion();
        InitExtensionLoad();
        InitExtensionSupport();
    }
}

void GLEContext::PlatformInit() {
    if (platformMajorVersion == 0) {
        InitPlatformExtensionLoad();
        InitPlatformExtensionSupport();
        platformMajorVersion = 1;
        platformMinorVersion = 0;
        platformWholeVersion = 100;
    }
}

void GLEContext::InitPlatformVersion() {
    platformMajorVersion = 1;
    platformWholeVersion = 100;
}

void GLEContext::InitVersion() {
    const char* text = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0;
    int minor = 0;
    bool es = false;
    if (!tavo::opengl::detail::ParseGLVersionString(text, major, minor, es)) {
        glGetIntegerv(GL_MAJOR_VERSION, &major);
        glGetIntegerv(GL_MINOR_VERSION, &minor);
    }
    majorVersion = major;
    minorVersion = minor;
    isGLES = es;
    wholeVersion = majorVersion * 100 + minorVersion;
    if (wholeVersion >= 302) {
        GLint mask = 0;
        glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &mask);
        isCoreProfile = mask == GL_CONTEXT_CORE_PROFILE_BIT;
    }
}

void GLEContext::InitExtensionLoad() {
    tavo::opengl::detail::LoadFunctionTable(*this, &tavo::opengl::detail::GetProcAddress);
}

void GLEContext::InitExtensionSupport() {
    if (majorVersion < 3) {
        const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
        if (extensions == nullptr) {
            return;
        }
        const char* p = extensions;
        while (*p != '\0') {
            while (*p == ' ') {
                ++p;
            }
            const char* start = p;
            while (*p != '\0' && *p != ' ') {
                ++p;
            }
            const size_t length = static_cast<size_t>(p - start);
            if (length >= 1 && length <= 63) {
                char token[64];
                std::memcpy(token, start, length);
                token[length] = '\0';
                tavo::opengl::detail::SetExtensionFlag(*this, token);
            }
        }
        return;
    }
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    if (glGetError() != GL_NO_ERROR || glGetStringi_Impl == nullptr) {
        return;
    }
    for (GLint i = 0; i < count; ++i) {
        const char* name =
            reinterpret_cast<const char*>(glGetStringi_Impl(GL_EXTENSIONS, static_cast<GLuint>(i)));
        if (name == nullptr) {
            break;
        }
        tavo::opengl::detail::SetExtensionFlag(*this, name);
    }
}

void GLEContext::InitPlatformExtensionLoad() {
    platformGetExtensionsString_Impl = nullptr;
}

void GLEContext::InitPlatformExtensionSupport() {
    if (platformGetExtensionsString_Impl == nullptr) {
        return;
    }
    const char* extensions = platformGetExtensionsString_Impl();
    (void)extensions;  // No window-system extension of this platform maps to a flag.
}

void GLEContext::Shutdown() {
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
}

}  // namespace OVR
