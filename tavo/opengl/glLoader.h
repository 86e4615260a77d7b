// The per-thread OpenGL function table, context version and extension flags.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

#include "tavo/common/export.h"
#include "tavo/opengl/glFunctionList.h"

namespace OVR {

// One per thread: GetCurrentContext() hands out the calling thread's object, and only that
// thread may use it. Init() must run while the thread has an OpenGL context current, because it
// queries the driver. No locking: nothing is shared between threads.
class TAVO_API GLEContext {
  public:
    GLEContext();

    // The calling thread's context, made zeroed on first use; null only when allocation fails.
    static GLEContext* GetCurrentContext();

    void Init();
    void PlatformInit();
    void InitPlatformVersion();
    void InitVersion();
    void InitExtensionLoad();
    void InitExtensionSupport();
    void InitPlatformExtensionLoad();
    void InitPlatformExtensionSupport();
    bool IsInitialized() const { return majorVersion != 0; }
    bool IsPlatformInitialized() const { return platformMajorVersion != 0; }
    void SetEnableHookGetError(bool enabled) { enableHookGetError = enabled; }
    // Zeroes the whole object, so that the next Init() on this thread loads again.
    void Shutdown();

    GLEContext& operator=(const GLEContext&) = default;
    GLEContext(const GLEContext&) = default;

    int majorVersion;
    int minorVersion;
    int wholeVersion;
    bool isGLES;
    bool isCoreProfile;
    bool enableHookGetError;
    int platformMajorVersion;
    int platformMinorVersion;
    int platformWholeVersion;

    // Function table, in the order the loader fills it; unfilled slots are null.
#define TAVO_GLE_TABLE_SLOT(name, type) type gl##name##_Impl;
    TAVO_GL_LOADED_FUNCTIONS(TAVO_GLE_TABLE_SLOT)
#undef TAVO_GLE_TABLE_SLOT

    // Extension flags.
    bool gle_AMD_debug_output;
    bool gle_ARB_copy_buffer;
    bool gle_ARB_debug_output;
    bool gle_ARB_depth_buffer_float;
    bool gle_ARB_ES2_compatibility;
    bool gle_ARB_framebuffer_object;
    bool gle_ARB_framebuffer_sRGB;
    bool gle_ARB_texture_multisample;
    bool gle_ARB_texture_non_power_of_two;
    bool gle_ARB_texture_rectangle;
    bool gle_ARB_texture_storage;
    bool gle_ARB_texture_storage_multisample;
    bool gle_ARB_timer_query;
    bool gle_ARB_vertex_array_object;
    bool gle_EXT_draw_buffers2;
    bool gle_EXT_texture_compression_s3tc;
    bool gle_EXT_texture_filter_anisotropic;
    bool gle_EXT_texture_sRGB;
    bool gle_KHR_debug;
    bool gle_WIN_swap_hint;
    // Defines GL_TEXTURE_PROTECTED_EXT; protected render targets are only requested with it.
    bool gle_EXT_protected_textures;

    // Window-system function: the extension string, never loaded on this platform.
    const char* (*platformGetExtensionsString_Impl)();

    // Window-system extension flags; all stay false as loaded.
    bool gle_WGL_ARB_buffer_region;
    bool gle_WGL_ARB_create_context;
    bool gle_WGL_ARB_create_context_profile;
    bool gle_WGL_ARB_create_context_robustness;
    bool gle_WGL_ARB_extensions_string;
    bool gle_WGL_ARB_framebuffer_sRGB;
    bool gle_WGL_ARB_make_current_read;
    bool gle_WGL_ARB_pbuffer;
    bool gle_WGL_ARB_pixel_format;
    bool gle_WGL_ARB_pixel_format_float;
    bool gle_WGL_ARB_render_texture;
    bool gle_WGL_ATI_render_texture_rectangle;
    bool gle_WGL_EXT_extensions_string;
    bool gle_WGL_EXT_swap_control;
    bool gle_WGL_NV_copy_image;
    bool gle_WGL_NV_DX_interop;
    bool gle_WGL_NV_DX_interop2;
    bool gle_WGL_NV_present_video;
    bool gle_WGL_NV_render_texture_rectangle;
    bool gle_WGL_NV_swap_group;
    bool gle_WGL_NV_video_capture;
    bool gle_WGL_NV_video_output;
    bool gle_WGL_OML_sync_control;
};

}  // namespace OVR
