// The one list of OpenGL entry points: the loader's table, the names it fetches and the gl::
// wrappers are all generated from it.
#pragma once

// Entry points beyond OpenGL 1.1, fetched per thread through the platform's proc-address lookup.
// X(Name, PointerType): Name without its "gl" prefix. Order is the order of the table; the first
// block is the set the interlacer has always loaded, the rest is OpenGL 3.3 core as used by the
// stand-alone renderer and the overlay's GL3 backend.
#define TAVO_GL_LOADED_FUNCTIONS(X)                                                      \
    X(ActiveTexture, PFNGLACTIVETEXTUREPROC)                                             \
    X(BindBuffer, PFNGLBINDBUFFERPROC)                                                   \
    X(BufferData, PFNGLBUFFERDATAPROC)                                                   \
    X(DeleteBuffers, PFNGLDELETEBUFFERSPROC)                                             \
    X(GenBuffers, PFNGLGENBUFFERSPROC)                                                   \
    X(AttachShader, PFNGLATTACHSHADERPROC)                                               \
    X(CompileShader, PFNGLCOMPILESHADERPROC)                                             \
    X(CreateProgram, PFNGLCREATEPROGRAMPROC)                                             \
    X(CreateShader, PFNGLCREATESHADERPROC)                                               \
    X(DeleteProgram, PFNGLDELETEPROGRAMPROC)                                             \
    X(DeleteShader, PFNGLDELETESHADERPROC)                                               \
    X(DisableVertexAttribArray, PFNGLDISABLEVERTEXATTRIBARRAYPROC)                       \
    X(DrawBuffers, PFNGLDRAWBUFFERSPROC)                                                 \
    X(EnableVertexAttribArray, PFNGLENABLEVERTEXATTRIBARRAYPROC)                         \
    X(GetProgramInfoLog, PFNGLGETPROGRAMINFOLOGPROC)                                     \
    X(GetProgramiv, PFNGLGETPROGRAMIVPROC)                                               \
    X(GetShaderInfoLog, PFNGLGETSHADERINFOLOGPROC)                                       \
    X(GetShaderiv, PFNGLGETSHADERIVPROC)                                                 \
    X(GetUniformLocation, PFNGLGETUNIFORMLOCATIONPROC)                                   \
    X(GetVertexAttribPointerv, PFNGLGETVERTEXATTRIBPOINTERVPROC)                         \
    X(GetVertexAttribiv, PFNGLGETVERTEXATTRIBIVPROC)                                     \
    X(LinkProgram, PFNGLLINKPROGRAMPROC)                                                 \
    X(ShaderSource, PFNGLSHADERSOURCEPROC)                                               \
    X(Uniform1f, PFNGLUNIFORM1FPROC)                                                     \
    X(Uniform1fv, PFNGLUNIFORM1FVPROC)                                                   \
    X(Uniform1i, PFNGLUNIFORM1IPROC)                                                     \
    X(Uniform1iv, PFNGLUNIFORM1IVPROC)                                                   \
    X(Uniform2f, PFNGLUNIFORM2FPROC)                                                     \
    X(Uniform2fv, PFNGLUNIFORM2FVPROC)                                                   \
    X(Uniform2i, PFNGLUNIFORM2IPROC)                                                     \
    X(Uniform2iv, PFNGLUNIFORM2IVPROC)                                                   \
    X(Uniform3f, PFNGLUNIFORM3FPROC)                                                     \
    X(Uniform3fv, PFNGLUNIFORM3FVPROC)                                                   \
    X(Uniform3i, PFNGLUNIFORM3IPROC)                                                     \
    X(Uniform3iv, PFNGLUNIFORM3IVPROC)                                                   \
    X(Uniform4f, PFNGLUNIFORM4FPROC)                                                     \
    X(Uniform4fv, PFNGLUNIFORM4FVPROC)                                                   \
    X(Uniform4i, PFNGLUNIFORM4IPROC)                                                     \
    X(Uniform4iv, PFNGLUNIFORM4IVPROC)                                                   \
    X(UniformMatrix2fv, PFNGLUNIFORMMATRIX2FVPROC)                                       \
    X(UniformMatrix3fv, PFNGLUNIFORMMATRIX3FVPROC)                                       \
    X(UniformMatrix4fv, PFNGLUNIFORMMATRIX4FVPROC)                                       \
    X(UseProgram, PFNGLUSEPROGRAMPROC)                                                   \
    X(VertexAttribPointer, PFNGLVERTEXATTRIBPOINTERPROC)                                 \
    X(GetStringi, PFNGLGETSTRINGIPROC)                                                   \
    X(FramebufferTexture, PFNGLFRAMEBUFFERTEXTUREPROC)                                   \
    X(DebugMessageCallbackARB, PFNGLDEBUGMESSAGECALLBACKARBPROC)                         \
    X(DebugMessageControlARB, PFNGLDEBUGMESSAGECONTROLARBPROC)                           \
    X(ClearDepthf, PFNGLCLEARDEPTHFPROC)                                                 \
    TAVO_GL_FRAMEBUFFER_FUNCTIONS(X)                                                     \
    X(BindVertexArray, PFNGLBINDVERTEXARRAYPROC)                                         \
    X(DeleteVertexArrays, PFNGLDELETEVERTEXARRAYSPROC)                                   \
    X(GenVertexArrays, PFNGLGENVERTEXARRAYSPROC)                                         \
    /* Buffers */                                                                        \
    X(BufferSubData, PFNGLBUFFERSUBDATAPROC)                                             \
    X(GetBufferParameteriv, PFNGLGETBUFFERPARAMETERIVPROC)                               \
    X(GetBufferSubData, PFNGLGETBUFFERSUBDATAPROC)                                       \
    X(MapBuffer, PFNGLMAPBUFFERPROC)                                                     \
    X(MapBufferRange, PFNGLMAPBUFFERRANGEPROC)                                           \
    X(FlushMappedBufferRange, PFNGLFLUSHMAPPEDBUFFERRANGEPROC)                           \
    X(UnmapBuffer, PFNGLUNMAPBUFFERPROC)                                                 \
    X(CopyBufferSubData, PFNGLCOPYBUFFERSUBDATAPROC)                                     \
    X(BindBufferBase, PFNGLBINDBUFFERBASEPROC)                                           \
    X(BindBufferRange, PFNGLBINDBUFFERRANGEPROC)                                         \
    X(IsBuffer, PFNGLISBUFFERPROC)                                                       \
    /* Vertex arrays and attributes */                                                   \
    X(IsVertexArray, PFNGLISVERTEXARRAYPROC)                                             \
    X(VertexAttribIPointer, PFNGLVERTEXATTRIBIPOINTERPROC)                               \
    X(VertexAttribDivisor, PFNGLVERTEXATTRIBDIVISORPROC)                                 \
    X(VertexAttrib4f, PFNGLVERTEXATTRIB4FPROC)                                           \
    X(VertexAttrib4fv, PFNGLVERTEXATTRIB4FVPROC)                                         \
    X(GetVertexAttribfv, PFNGLGETVERTEXATTRIBFVPROC)                                     \
    /* Programs and shaders */                                                           \
    X(DetachShader, PFNGLDETACHSHADERPROC)                                               \
    X(IsProgram, PFNGLISPROGRAMPROC)                                                     \
    X(IsShader, PFNGLISSHADERPROC)                                                       \
    X(ValidateProgram, PFNGLVALIDATEPROGRAMPROC)                                         \
    X(GetShaderSource, PFNGLGETSHADERSOURCEPROC)                                         \
    X(GetAttachedShaders, PFNGLGETATTACHEDSHADERSPROC)                                   \
    X(GetAttribLocation, PFNGLGETATTRIBLOCATIONPROC)                                     \
    X(BindAttribLocation, PFNGLBINDATTRIBLOCATIONPROC)                                   \
    X(GetActiveAttrib, PFNGLGETACTIVEATTRIBPROC)                                         \
    X(GetActiveUniform, PFNGLGETACTIVEUNIFORMPROC)                                       \
    X(BindFragDataLocation, PFNGLBINDFRAGDATALOCATIONPROC)                               \
    X(GetFragDataLocation, PFNGLGETFRAGDATALOCATIONPROC)                                 \
    X(GetUniformfv, PFNGLGETUNIFORMFVPROC)                                               \
    X(GetUniformiv, PFNGLGETUNIFORMIVPROC)                                               \
    X(GetUniformuiv, PFNGLGETUNIFORMUIVPROC)                                             \
    X(GetUniformBlockIndex, PFNGLGETUNIFORMBLOCKINDEXPROC)                               \
    X(UniformBlockBinding, PFNGLUNIFORMBLOCKBINDINGPROC)                                 \
    /* Uniforms not in the first block */                                                \
    X(Uniform1ui, PFNGLUNIFORM1UIPROC)                                                   \
    X(Uniform2ui, PFNGLUNIFORM2UIPROC)                                                   \
    X(Uniform3ui, PFNGLUNIFORM3UIPROC)                                                   \
    X(Uniform4ui, PFNGLUNIFORM4UIPROC)                                                   \
    X(Uniform1uiv, PFNGLUNIFORM1UIVPROC)                                                 \
    X(Uniform2uiv, PFNGLUNIFORM2UIVPROC)                                                 \
    X(Uniform3uiv, PFNGLUNIFORM3UIVPROC)                                                 \
    X(Uniform4uiv, PFNGLUNIFORM4UIVPROC)                                                 \
    X(UniformMatrix2x3fv, PFNGLUNIFORMMATRIX2X3FVPROC)                                   \
    X(UniformMatrix3x2fv, PFNGLUNIFORMMATRIX3X2FVPROC)                                   \
    X(UniformMatrix2x4fv, PFNGLUNIFORMMATRIX2X4FVPROC)                                   \
    X(UniformMatrix4x2fv, PFNGLUNIFORMMATRIX4X2FVPROC)                                   \
    X(UniformMatrix3x4fv, PFNGLUNIFORMMATRIX3X4FVPROC)                                   \
    X(UniformMatrix4x3fv, PFNGLUNIFORMMATRIX4X3FVPROC)                                   \
    /* Textures and samplers */                                                          \
    X(GenerateMipmap, PFNGLGENERATEMIPMAPPROC)                                           \
    X(TexImage3D, PFNGLTEXIMAGE3DPROC)                                                   \
    X(TexSubImage3D, PFNGLTEXSUBIMAGE3DPROC)                                             \
    X(CompressedTexImage2D, PFNGLCOMPRESSEDTEXIMAGE2DPROC)                               \
    X(CompressedTexSubImage2D, PFNGLCOMPRESSEDTEXSUBIMAGE2DPROC)                         \
    X(TexImage2DMultisample, PFNGLTEXIMAGE2DMULTISAMPLEPROC)                             \
    X(GenSamplers, PFNGLGENSAMPLERSPROC)                                                 \
    X(DeleteSamplers, PFNGLDELETESAMPLERSPROC)                                           \
    X(BindSampler, PFNGLBINDSAMPLERPROC)                                                 \
    X(IsSampler, PFNGLISSAMPLERPROC)                                                     \
    X(SamplerParameteri, PFNGLSAMPLERPARAMETERIPROC)                                     \
    X(SamplerParameterf, PFNGLSAMPLERPARAMETERFPROC)                                     \
    /* Framebuffers and renderbuffers not in the first block */                          \
    X(FramebufferTexture2D, PFNGLFRAMEBUFFERTEXTURE2DPROC)                               \
    X(FramebufferTextureLayer, PFNGLFRAMEBUFFERTEXTURELAYERPROC)                         \
    X(BlitFramebuffer, PFNGLBLITFRAMEBUFFERPROC)                                         \
    X(IsFramebuffer, PFNGLISFRAMEBUFFERPROC)                                             \
    X(IsRenderbuffer, PFNGLISRENDERBUFFERPROC)                                           \
    X(GetFramebufferAttachmentParameteriv, PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVPROC) \
    X(GetRenderbufferParameteriv, PFNGLGETRENDERBUFFERPARAMETERIVPROC)                   \
    X(RenderbufferStorageMultisample, PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC)           \
    X(ClearBufferfv, PFNGLCLEARBUFFERFVPROC)                                             \
    X(ClearBufferiv, PFNGLCLEARBUFFERIVPROC)                                             \
    X(ClearBufferuiv, PFNGLCLEARBUFFERUIVPROC)                                           \
    X(ClearBufferfi, PFNGLCLEARBUFFERFIPROC)                                             \
    /* Blending, masks and indexed state */                                              \
    X(BlendColor, PFNGLBLENDCOLORPROC)                                                   \
    X(BlendEquation, PFNGLBLENDEQUATIONPROC)                                             \
    X(BlendEquationSeparate, PFNGLBLENDEQUATIONSEPARATEPROC)                             \
    X(BlendFuncSeparate, PFNGLBLENDFUNCSEPARATEPROC)                                     \
    X(StencilFuncSeparate, PFNGLSTENCILFUNCSEPARATEPROC)                                 \
    X(StencilOpSeparate, PFNGLSTENCILOPSEPARATEPROC)                                     \
    X(StencilMaskSeparate, PFNGLSTENCILMASKSEPARATEPROC)                                 \
    X(ColorMaski, PFNGLCOLORMASKIPROC)                                                   \
    X(Enablei, PFNGLENABLEIPROC)                                                         \
    X(Disablei, PFNGLDISABLEIPROC)                                                       \
    X(IsEnabledi, PFNGLISENABLEDIPROC)                                                   \
    X(GetBooleani_v, PFNGLGETBOOLEANI_VPROC)                                             \
    X(GetIntegeri_v, PFNGLGETINTEGERI_VPROC)                                             \
    X(GetInteger64v, PFNGLGETINTEGER64VPROC)                                             \
    /* Draw calls */                                                                     \
    X(DrawArraysInstanced, PFNGLDRAWARRAYSINSTANCEDPROC)                                 \
    X(DrawElementsInstanced, PFNGLDRAWELEMENTSINSTANCEDPROC)                             \
    X(DrawRangeElements, PFNGLDRAWRANGEELEMENTSPROC)                                     \
    X(DrawElementsBaseVertex, PFNGLDRAWELEMENTSBASEVERTEXPROC)                           \
    X(DrawRangeElementsBaseVertex, PFNGLDRAWRANGEELEMENTSBASEVERTEXPROC)                 \
    X(DrawElementsInstancedBaseVertex, PFNGLDRAWELEMENTSINSTANCEDBASEVERTEXPROC)         \
    /* Queries and sync objects */                                                       \
    X(GenQueries, PFNGLGENQUERIESPROC)                                                   \
    X(DeleteQueries, PFNGLDELETEQUERIESPROC)                                             \
    X(BeginQuery, PFNGLBEGINQUERYPROC)                                                   \
    X(EndQuery, PFNGLENDQUERYPROC)                                                       \
    X(GetQueryiv, PFNGLGETQUERYIVPROC)                                                   \
    X(GetQueryObjectiv, PFNGLGETQUERYOBJECTIVPROC)                                       \
    X(GetQueryObjectuiv, PFNGLGETQUERYOBJECTUIVPROC)                                     \
    X(GetQueryObjecti64v, PFNGLGETQUERYOBJECTI64VPROC)                                   \
    X(GetQueryObjectui64v, PFNGLGETQUERYOBJECTUI64VPROC)                                 \
    X(QueryCounter, PFNGLQUERYCOUNTERPROC)                                               \
    X(FenceSync, PFNGLFENCESYNCPROC)                                                     \
    X(ClientWaitSync, PFNGLCLIENTWAITSYNCPROC)                                           \
    X(WaitSync, PFNGLWAITSYNCPROC)                                                       \
    X(DeleteSync, PFNGLDELETESYNCPROC)

// The framebuffer entry points that drivers without them in core offer under an "EXT" name; the
// loader fetches these again with that suffix when glBindFramebuffer is missing.
#define TAVO_GL_FRAMEBUFFER_FUNCTIONS(X)                         \
    X(BindFramebuffer, PFNGLBINDFRAMEBUFFERPROC)                 \
    X(BindRenderbuffer, PFNGLBINDRENDERBUFFERPROC)               \
    X(CheckFramebufferStatus, PFNGLCHECKFRAMEBUFFERSTATUSPROC)   \
    X(DeleteFramebuffers, PFNGLDELETEFRAMEBUFFERSPROC)           \
    X(DeleteRenderbuffers, PFNGLDELETERENDERBUFFERSPROC)         \
    X(FramebufferRenderbuffer, PFNGLFRAMEBUFFERRENDERBUFFERPROC) \
    X(GenFramebuffers, PFNGLGENFRAMEBUFFERSPROC)                 \
    X(GenRenderbuffers, PFNGLGENRENDERBUFFERSPROC)               \
    X(RenderbufferStorage, PFNGLRENDERBUFFERSTORAGEPROC)

// OpenGL 1.1, linked directly from GLVND's libOpenGL. X(Name): Name without its "gl" prefix.
#define TAVO_GL_DIRECT_FUNCTIONS(X) \
    X(BindTexture)                  \
    X(GenTextures)                  \
    X(DeleteTextures)               \
    X(IsTexture)                    \
    X(TexImage2D)                   \
    X(TexSubImage2D)                \
    X(CopyTexImage2D)               \
    X(CopyTexSubImage2D)            \
    X(TexParameteri)                \
    X(TexParameterf)                \
    X(TexParameteriv)               \
    X(TexParameterfv)               \
    X(GetTexParameteriv)            \
    X(GetTexLevelParameteriv)       \
    X(GetTexImage)                  \
    X(Viewport)                     \
    X(Scissor)                      \
    X(GetString)                    \
    X(GetIntegerv)                  \
    X(GetFloatv)                    \
    X(GetBooleanv)                  \
    X(GetError)                     \
    X(IsEnabled)                    \
    X(Enable)                       \
    X(Disable)                      \
    X(BlendFunc)                    \
    X(ColorMask)                    \
    X(DepthMask)                    \
    X(DepthFunc)                    \
    X(DepthRange)                   \
    X(StencilFunc)                  \
    X(StencilOp)                    \
    X(StencilMask)                  \
    X(CullFace)                     \
    X(FrontFace)                    \
    X(PolygonMode)                  \
    X(PolygonOffset)                \
    X(LineWidth)                    \
    X(Hint)                         \
    X(Clear)                        \
    X(ClearColor)                   \
    X(ClearDepth)                   \
    X(ClearStencil)                 \
    X(DrawArrays)                   \
    X(DrawElements)                 \
    X(DrawBuffer)                   \
    X(ReadBuffer)                   \
    X(ReadPixels)                   \
    X(PixelStorei)                  \
    X(Flush)                        \
    X(Finish)
