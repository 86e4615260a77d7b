// Full-screen rectangle, render targets and the snapshot of the host's GL bindings.
#pragma once

#include <cstdint>

#include "tavo/common/export.h"

namespace tavo::opengl {

struct SavedVertexAttribute {
    int32_t bufferBinding;
    int32_t enabled;
    int32_t size;
    int32_t type;
    int32_t normalized;
    int32_t stride;
    void* pointer;
};

// Filled by SaveOpenGLState, consumed by RestoreOpenGLState; zero it before saving.
struct SavedOpenGLState {
    int32_t program;
    int32_t vertexArray;
    int32_t arrayBuffer;
    int32_t elementArrayBuffer;
    int32_t framebuffer;
    int32_t renderbuffer;
    int32_t attributeCount;
    int32_t viewport[4];
    int32_t textureUnitCount;
    int32_t textureBindings[16];
    int32_t activeTexture;
    SavedVertexAttribute attributes[16];
};

// All functions run on the thread whose OpenGL context is current and whose OVR::GLEContext has
// been initialised.

// One rectangle (x0, y0)-(x1, y1) as 6 indices; attribute 0 holds 2 floats. The array stays bound.
TAVO_API void CreateRectangularTexCoordVertexArray(float x0, float y0, float y1, float x1,
                                                   unsigned& vertexArray, unsigned& vertexBuffer,
                                                   unsigned& indexBuffer);
// False when the framebuffer is incomplete (outputs untouched). The framebuffer stays bound.
TAVO_API bool CreateRenderTarget(int width, int height, bool withDepth, unsigned* framebuffer,
                                 unsigned* texture, unsigned* depthBuffer, bool protectedContent);
TAVO_API bool UpdateBuffers(int width, int height, int count, int& currentWidth, int& currentHeight,
                            int& currentCount, unsigned* textures, unsigned* depthBuffers,
                            unsigned* framebuffers, bool protectedContent);
// Counts above 16 are clamped to the record's capacity.
TAVO_API void SaveOpenGLState(SavedOpenGLState& state, int attributeCount, int textureUnitCount);
TAVO_API void RestoreOpenGLState(SavedOpenGLState& state);

}  // namespace tavo::opengl
