// Pieces of the GL function loader that tests drive without a particular driver.
#pragma once

#include "tavo/opengl/glLoader.h"

namespace tavo::opengl::detail {

using ProcLookup = void* (*)(const char* name);

// Reads "major.minor" from a GL_VERSION text; false when the text is null or holds no two numbers.
// `isES` is set when the text names OpenGL ES.
bool ParseGLVersionString(const char* text, int& major, int& minor, bool& isES);

// Clears the table of `context` and fills it through `lookup`, with the EXT framebuffer fallback.
void LoadFunctionTable(OVR::GLEContext& context, ProcLookup lookup);

// Sets the flag of every extension name in the table that equals `name`.
void SetExtensionFlag(OVR::GLEContext& context, const char* name);

// The platform lookup: EGL's when an EGL context is current on this thread, GLX's otherwise.
void* GetProcAddress(const char* name);

}  // namespace tavo::opengl::detail
