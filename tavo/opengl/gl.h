// GL calls for library code: gl::UseProgram(...) reaches the calling thread's function table.
#pragma once

#include <GL/gl.h>

#include "tavo/opengl/glLoader.h"

// Every OpenGL entry point beyond 1.1 goes through the calling thread's OVR::GLEContext, which must
// have been initialised on that thread (GLEContext::GetCurrentContext()->Init()). The wrappers are
// thread-agnostic: each call uses whichever thread calls it.
namespace tavo::gl {

#define TAVO_GL_TABLE_CALL(name)                                               \
    template <typename... Args>                                                \
    inline auto name(Args... args) {                                           \
        return OVR::GLEContext::GetCurrentContext()->gl##name##_Impl(args...); \
    }

TAVO_GL_TABLE_CALL(ActiveTexture)
TAVO_GL_TABLE_CALL(BindBuffer)
TAVO_GL_TABLE_CALL(BufferData)
TAVO_GL_TABLE_CALL(DeleteBuffers)
TAVO_GL_TABLE_CALL(GenBuffers)
TAVO_GL_TABLE_CALL(AttachShader)
TAVO_GL_TABLE_CALL(CompileShader)
TAVO_GL_TABLE_CALL(CreateProgram)
TAVO_GL_TABLE_CALL(CreateShader)
TAVO_GL_TABLE_CALL(DeleteProgram)
TAVO_GL_TABLE_CALL(DeleteShader)
TAVO_GL_TABLE_CALL(DisableVertexAttribArray)
TAVO_GL_TABLE_CALL(DrawBuffers)
TAVO_GL_TABLE_CALL(EnableVertexAttribArray)
TAVO_GL_TABLE_CALL(GetProgramInfoLog)
TAVO_GL_TABLE_CALL(GetProgramiv)
TAVO_GL_TABLE_CALL(GetShaderInfoLog)
TAVO_GL_TABLE_CALL(GetShaderiv)
TAVO_GL_TABLE_CALL(GetUniformLocation)
TAVO_GL_TABLE_CALL(GetVertexAttribPointerv)
TAVO_GL_TABLE_CALL(GetVertexAttribiv)
TAVO_GL_TABLE_CALL(LinkProgram)
TAVO_GL_TABLE_CALL(ShaderSource)
TAVO_GL_TABLE_CALL(Uniform1f)
TAVO_GL_TABLE_CALL(Uniform1fv)
TAVO_GL_TABLE_CALL(Uniform1i)
TAVO_GL_TABLE_CALL(Uniform1iv)
TAVO_GL_TABLE_CALL(Uniform2f)
TAVO_GL_TABLE_CALL(Uniform2fv)
TAVO_GL_TABLE_CALL(Uniform2i)
TAVO_GL_TABLE_CALL(Uniform2iv)
TAVO_GL_TABLE_CALL(Uniform3f)
TAVO_GL_TABLE_CALL(Uniform3fv)
TAVO_GL_TABLE_CALL(Uniform3i)
TAVO_GL_TABLE_CALL(Uniform3iv)
TAVO_GL_TABLE_CALL(Uniform4f)
TAVO_GL_TABLE_CALL(Uniform4fv)
TAVO_GL_TABLE_CALL(Uniform4i)
TAVO_GL_TABLE_CALL(Uniform4iv)
TAVO_GL_TABLE_CALL(UniformMatrix2fv)
TAVO_GL_TABLE_CALL(UniformMatrix3fv)
TAVO_GL_TABLE_CALL(UniformMatrix4fv)
TAVO_GL_TABLE_CALL(UseProgram)
TAVO_GL_TABLE_CALL(VertexAttribPointer)
TAVO_GL_TABLE_CALL(GetStringi)
TAVO_GL_TABLE_CALL(FramebufferTexture)
TAVO_GL_TABLE_CALL(DebugMessageCallbackARB)
TAVO_GL_TABLE_CALL(DebugMessageControlARB)
TAVO_GL_TABLE_CALL(ClearDepthf)
TAVO_GL_TABLE_CALL(BindFramebuffer)
TAVO_GL_TABLE_CALL(BindRenderbuffer)
TAVO_GL_TABLE_CALL(CheckFramebufferStatus)
TAVO_GL_TABLE_CALL(DeleteFramebuffers)
TAVO_GL_TABLE_CALL(DeleteRenderbuffers)
TAVO_GL_TABLE_CALL(FramebufferRenderbuffer)
TAVO_GL_TABLE_CALL(GenFramebuffers)
TAVO_GL_TABLE_CALL(GenRenderbuffers)
TAVO_GL_TABLE_CALL(RenderbufferStorage)
TAVO_GL_TABLE_CALL(BindVertexArray)
TAVO_GL_TABLE_CALL(DeleteVertexArrays)
TAVO_GL_TABLE_CALL(GenVertexArrays)

#undef TAVO_GL_TABLE_CALL

// OpenGL 1.1, linked directly; named here too so that call sites read alike.
#define TAVO_GL_DIRECT_CALL(name)    \
    template <typename... Args>      \
    inline auto name(Args... args) { \
        return ::gl##name(args...);  \
    }

TAVO_GL_DIRECT_CALL(BindTexture)
TAVO_GL_DIRECT_CALL(GenTextures)
TAVO_GL_DIRECT_CALL(TexImage2D)
TAVO_GL_DIRECT_CALL(TexParameteri)
TAVO_GL_DIRECT_CALL(Viewport)
TAVO_GL_DIRECT_CALL(GetString)
TAVO_GL_DIRECT_CALL(GetIntegerv)
TAVO_GL_DIRECT_CALL(GetError)
TAVO_GL_DIRECT_CALL(IsEnabled)
TAVO_GL_DIRECT_CALL(GetBooleanv)
TAVO_GL_DIRECT_CALL(Enable)
TAVO_GL_DIRECT_CALL(Disable)
TAVO_GL_DIRECT_CALL(BlendFunc)
TAVO_GL_DIRECT_CALL(Clear)
TAVO_GL_DIRECT_CALL(ClearColor)
TAVO_GL_DIRECT_CALL(CullFace)
TAVO_GL_DIRECT_CALL(FrontFace)
TAVO_GL_DIRECT_CALL(DepthFunc)
TAVO_GL_DIRECT_CALL(DrawElements)
TAVO_GL_DIRECT_CALL(Flush)
TAVO_GL_DIRECT_CALL(DeleteTextures)
TAVO_GL_DIRECT_CALL(ReadPixels)
TAVO_GL_DIRECT_CALL(PixelStorei)
TAVO_GL_DIRECT_CALL(Finish)

#undef TAVO_GL_DIRECT_CALL

}  // namespace tavo::gl
