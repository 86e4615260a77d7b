// Full-screen rectangle, render targets and the snapshot of the host's GL bindings.
#include "tavo/opengl/glHelpers.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include <spdlog/spdlog.h>

#include "tavo/opengl/gl.h"

namespace tavo::opengl {

namespace {

// From EXT_protected_textures; the desktop headers do not carry it.
constexpr GLenum kTextureProtectedExt = 0x8BFA;

std::atomic<bool> protectedWarningGiven{false};

}  // namespace

void CreateRectangularTexCoordVertexArray(float x0, float y0, float y1, float x1,
                                          unsigned& vertexArray, unsigned& vertexBuffer,
                                          unsigned& indexBuffer) {
    const float vertices[] = {x0, y0, x1, y0, x1, y1, x0, y1};
    const uint32_t indices[] = {0, 1, 2, 0, 2, 3};
    gl::GenVertexArrays(1, &vertexArray);
    gl::GenBuffers(1, &vertexBuffer);
    gl::GenBuffers(1, &indexBuffer);
    gl::BindVertexArray(vertexArray);
    gl::BindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    gl::BufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(sizeof(vertices)), vertices,
                   GL_STATIC_DRAW);
    gl::BindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
    gl::BufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(sizeof(indices)), indices,
                   GL_STATIC_DRAW);
    gl::VertexAttribPointer(0u, 2, GL_FLOAT, GLboolean{GL_FALSE}, 8, nullptr);
    gl::EnableVertexAttribArray(0u);
}

bool CreateRenderTarget(int width, int height, bool withDepth, unsigned* framebuffer,
                        unsigned* texture, unsigned* depthBuffer, bool protectedContent) {
    GLuint fbo = 0;
    gl::GenFramebuffers(1, &fbo);
    gl::BindFramebuffer(GL_FRAMEBUFFER, fbo);

    GLuint colour = 0;
    gl::GenTextures(1, &colour);
    gl::BindTexture(GL_TEXTURE_2D, colour);
    gl::TexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
    if (protectedContent) {
        // Without the extension the parameter is an invalid enum on every call; the content is
        // then left unprotected and the host is told once.
        if (OVR::GLEContext::GetCurrentContext()->gle_EXT_protected_textures) {
            gl::TexParameteri(GL_TEXTURE_2D, kTextureProtectedExt, 1);
        } else if (!protectedWarningGiven.exchange(true)) {
            spdlog::warn(
                "[SDK] Protected content requested but the context lacks "
                "GL_EXT_protected_textures; render targets are not protected");
        }
    }
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

    gl::FramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, colour, 0);
    const GLenum drawBuffers[] = {GL_COLOR_ATTACHMENT0};
    gl::DrawBuffers(1, drawBuffers);

    GLuint depth = 0;
    if (withDepth) {
        gl::GenRenderbuffers(1, &depth);
        gl::BindRenderbuffer(GL_RENDERBUFFER, depth);
        gl::RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
        gl::FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
    }

    if (gl::CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        return false;
    }
    if (framebuffer != nullptr) {
        *framebuffer = fbo;
    }
    if (texture != nullptr) {
        *texture = colour;
    }
    if (depthBuffer != nullptr) {
        *depthBuffer = depth;
    }
    return true;
}

bool UpdateBuffers(int width, int height, int count, int& currentWidth, int& currentHeight,
                   int& currentCount, unsigned* textures, unsigned* depthBuffers,
                   unsigned* framebuffers, bool protectedContent) {
    if (width == currentWidth && height == currentHeight && count == currentCount) {
        return true;
    }
    if (currentWidth != 0 && currentHeight != 0 && currentCount >= 1) {
        gl::DeleteFramebuffers(currentCount, framebuffers);
        gl::DeleteTextures(currentCount, textures);
        gl::DeleteRenderbuffers(currentCount, depthBuffers);
        std::fill(framebuffers, framebuffers + currentCount, 0u);
        std::fill(textures, textures + currentCount, 0u);
        std::fill(depthBuffers, depthBuffers + currentCount, 0u);
        currentWidth = 0;
        currentHeight = 0;
    }
    if (width == 0 && height == 0) {
        return true;
    }
    if (count < 1) {
        currentCount = count;
        currentWidth = width;
        currentHeight = height;
        return true;
    }
    for (int i = 0; i < count; ++i) {
        if (!CreateRenderTarget(width, height, true, &framebuffers[i], &textures[i],
                                &depthBuffers[i], protectedContent)) {
            return false;
        }
    }
    currentCount = count;
    currentWidth = width;
    currentHeight = height;
    return true;
}

void SaveOpenGLState(SavedOpenGLState& state, int attributeCount, int textureUnitCount) {
    // The record holds 16 of each; larger requests would write past it.
    attributeCount = std::clamp(attributeCount, 0, 16);
    textureUnitCount = std::clamp(textureUnitCount, 0, 16);
    gl::GetIntegerv(GL_CURRENT_PROGRAM, &state.program);
    gl::GetIntegerv(GL_VERTEX_ARRAY_BINDING, &state.vertexArray);
    gl::GetIntegerv(GL_ARRAY_BUFFER_BINDING, &state.arrayBuffer);
    gl::GetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &state.elementArrayBuffer);
    gl::GetIntegerv(GL_FRAMEBUFFER_BINDING, &state.framebuffer);
    gl::GetIntegerv(GL_RENDERBUFFER_BINDING, &state.renderbuffer);
    state.attributeCount = attributeCount;
    gl::GetIntegerv(GL_VIEWPORT, state.viewport);
    state.textureUnitCount = textureUnitCount;
    gl::GetIntegerv(GL_ACTIVE_TEXTURE, &state.activeTexture);
    for (int i = 0; i < attributeCount; ++i) {
        SavedVertexAttribute& a = state.attributes[i];
        const GLuint index = static_cast<GLuint>(i);
        gl::GetVertexAttribiv(index, GLenum{GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING},
                              &a.bufferBinding);
        gl::GetVertexAttribiv(index, GLenum{GL_VERTEX_ATTRIB_ARRAY_ENABLED}, &a.enabled);
        gl::GetVertexAttribiv(index, GLenum{GL_VERTEX_ATTRIB_ARRAY_SIZE}, &a.size);
        gl::GetVertexAttribiv(index, GLenum{GL_VERTEX_ATTRIB_ARRAY_TYPE}, &a.type);
        gl::GetVertexAttribiv(index, GLenum{GL_VERTEX_ATTRIB_ARRAY_NORMALIZED}, &a.normalized);
        gl::GetVertexAttribiv(index, GLenum{GL_VERTEX_ATTRIB_ARRAY_STRIDE}, &a.stride);
        gl::GetVertexAttribPointerv(index, GLenum{GL_VERTEX_ATTRIB_ARRAY_POINTER}, &a.pointer);
    }
    for (int i = 0; i < textureUnitCount; ++i) {
        gl::ActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + i));
        gl::GetIntegerv(GL_TEXTURE_BINDING_2D, &state.textureBindings[i]);
    }
    gl::ActiveTexture(static_cast<GLenum>(state.activeTexture));
}

void RestoreOpenGLState(SavedOpenGLState& state) {
    const int attributeCount = std::clamp(state.attributeCount, 0, 16);
    const int textureUnitCount = std::clamp(state.textureUnitCount, 0, 16);
    gl::UseProgram(static_cast<GLuint>(state.program));
    gl::BindVertexArray(static_cast<GLuint>(state.vertexArray));
    gl::BindBuffer(GLenum{GL_ELEMENT_ARRAY_BUFFER}, static_cast<GLuint>(state.elementArrayBuffer));
    gl::BindFramebuffer(GLenum{GL_FRAMEBUFFER}, static_cast<GLuint>(state.framebuffer));
    gl::BindRenderbuffer(GLenum{GL_RENDERBUFFER}, static_cast<GLuint>(state.renderbuffer));
    gl::Viewport(state.viewport[0], state.viewport[1], state.viewport[2], state.viewport[3]);
    for (int i = 0; i < attributeCount; ++i) {
        const SavedVertexAttribute& a = state.attributes[i];
        const GLuint index = static_cast<GLuint>(i);
        if (a.enabled != 0) {
            gl::EnableVertexAttribArray(index);
        } else {
            gl::DisableVertexAttribArray(index);
        }
        // The pointer is relative to the buffer bound when it was set; in a core context a
        // non-zero offset with no buffer bound is an error, so re-bind the attribute's own buffer.
        if (a.bufferBinding != 0) {
            gl::BindBuffer(GLenum{GL_ARRAY_BUFFER}, static_cast<GLuint>(a.bufferBinding));
            gl::VertexAttribPointer(index, a.size, static_cast<GLenum>(a.type),
                                    static_cast<GLboolean>(a.normalized), a.stride, a.pointer);
        }
    }
    // Last, so that the attribute buffers above do not leave a different one bound.
    gl::BindBuffer(GLenum{GL_ARRAY_BUFFER}, static_cast<GLuint>(state.arrayBuffer));
    for (int i = 0; i < textureUnitCount; ++i) {
        gl::ActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + i));
        gl::BindTexture(GLenum{GL_TEXTURE_2D}, static_cast<GLuint>(state.textureBindings[i]));
    }
    gl::ActiveTexture(static_cast<GLenum>(state.activeTexture));
}

}  // namespace tavo::opengl
