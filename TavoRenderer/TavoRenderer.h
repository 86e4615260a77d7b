// The stand-alone scene renderer: textures, shaders, render states and meshes drawn with OpenGL.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <glm/mat3x3.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include "tavo/common/export.h"
#include "tavo/opengl/shader.h"

// Threads: every object of this namespace belongs to the renderer that made it, and every call,
// on any of them, must come from the thread whose OpenGL 3.3 context is current (the one that
// called CreateRenderer). Nothing is locked. Every call that draws, clears, uploads or compiles
// leaves the host's GL bindings as they were (program, vertex array, buffers, framebuffer,
// renderbuffer, viewport, vertex attribute 0, the 2D textures of units 0-15, the active unit and
// face culling); it may leave depth testing and blending changed.
//
// A typical frame:
//     renderer->Clear(target, 0.1f, 0.1f, 0.1f, 1.0f);
//     renderer->RenderScene(target);
//     gl->Present(surface);   // gl = dynamic_cast<TavoRenderer::IRendererOpenGL*>(renderer)
//
// Objects are released with Release(); releasing the renderer releases everything it made.
namespace TavoRenderer {

enum eGraphicsAPI : int32_t {
    kGraphicsAPIOpenGL = 0,
};

// The surface Present() hands to the host's swap function: a GLFWwindow*, an EGLSurface, ...
using HDC = void*;

// One switch of a shader's permutation table: values 0 ... valueCount-1, each written into the
// sources through `format`, a printf format with one %d ("#define LIGHTS %d\n").
using PermutationDefinition = tavo::opengl::Shader::PermutationDefinition;

// Texture flags (bits of the `flags` arguments).
enum : int32_t {
    kTextureColor = 1,         // a sampled colour texture per layer
    kTextureRenderTarget = 2,  // a framebuffer per layer with the colour texture attached
    kTextureDepth = 4,         // with kTextureRenderTarget: a depth renderbuffer per layer
    kTextureWrapped = 8,       // wraps a GL object made by the host (CreateTargetFromGLObject)
};
constexpr int kMaxTextureLayers = 16;

// The vertex layout of every geometry: 32 bytes, attribute 0 position, 1 normal, 2 texture
// coordinate.
struct Vertex {
    glm::vec3 position;
    glm::vec3 normal;
    glm::vec2 texCoord;
};
static_assert(sizeof(Vertex) == 32);

class IRenderState;

// Source texts and their variants. Sources are compiled lazily, on the first Use() of each
// variant and permutation. A compile or link failure is written to the library's log (error
// level; standard error when no logger exists) and the shader stays usable with whatever program
// resulted.
class IShader {
  public:
    virtual void Release() = 0;
    virtual std::string GetVertexSource() = 0;
    virtual std::string GetFragmentSource() = 0;
    // Text put in front of every vertex / fragment source, e.g. "#version 330 core".
    virtual void SetVertexHeader(const char* header) = 0;
    virtual void SetFragmentHeader(const char* header) = 0;
    // Appends a variant: its define text goes after the header, followed by the current
    // permutation's define lines. `flag` is stored only.
    virtual void CreateVariant(int index, const char* defines, bool flag) = 0;
    // Selects the variant at position `index` in creation order and the permutation's values,
    // one per table entry (first entry most significant).
    virtual void SelectVariant(int index, const std::vector<unsigned>& permutation) = 0;
    // Installs a permutation table; programs compiled earlier are forgotten.
    virtual void SetPermutationTable(const PermutationDefinition* table, int count) = 0;

  protected:
    virtual ~IShader() = default;

  public:
    // Null auxiliary texts become empty; they are kept and never compiled.
    virtual void SetSources(const char* vertex, const char* vertexAux, const char* fragment,
                            const char* fragmentAux) = 0;
    // Compiles the selected variant and permutation when needed and makes it current.
    virtual void Use() = 0;
};

// A colour texture and/or render target of one or more layers (at most kMaxTextureLayers).
class ITexture {
  public:
    // `pixels` (may be null) holds one layer's rows, bottom row first, each starting on a 4-byte
    // boundary (OpenGL's default unpack alignment), RGB or RGBA bytes as `hasAlpha` says.
    virtual bool Init(int width, int height, int layerCount, int hasAlpha, int flags,
                      const void* pixels) = 0;
    virtual void Release() = 0;
    virtual int HasAlpha() = 0;
    virtual int GetHeight() = 0;
    virtual int GetWidth() = 0;
    virtual int GetLayerCount() = 0;
    // Nothing when the size is unchanged; (0, 0) frees the GL objects and leaves it empty;
    // otherwise it is made anew at that size without pixels.
    virtual void Resize(int width, int height) = 0;
    // "GL_TEXTURE_EXTERNAL_OES" makes render states bind it to that target.
    virtual void SetName(const char* name) = 0;
    virtual std::string GetName() = 0;

  protected:
    virtual ~ITexture() = default;
};

// The GL names of a texture made by the OpenGL renderer; 0 for a layer it lacks.
class ITextureGL {
  public:
    virtual unsigned GetFramebuffer(int layer) = 0;
    virtual unsigned GetTexture(int layer) = 0;

  protected:
    virtual ~ITextureGL() = default;
};

// An indexed triangle mesh with a rotation and a position, drawn with a render state.
class IGeometry {
  public:
    virtual void Release() = 0;
    // rotation <- rotation * R(X, x) * R(Y, y) * R(Z, z), radians. R(a, t) is the transpose of
    // the usual right-handed rotation, so a positive angle turns clockwise seen from +a.
    virtual void Rotate(float x, float y, float z) = 0;
    virtual void SetRotation(const glm::mat3& rotation) = 0;
    virtual void SetPosition(glm::vec3 position) = 0;
    virtual void SetRenderState(IRenderState* state) = 0;

  protected:
    virtual ~IGeometry() = default;

  public:
    virtual void Draw(int width, int height, const glm::mat4& view,
                      const glm::mat4& projection) = 0;
    // False (and nothing changed) for negative counts, missing data or an index past the
    // vertices.
    virtual bool Upload(int vertexCount, const void* vertices, int indexCount,
                        const uint32_t* indices) = 0;
};

// A shader with its uniform values, samplers, blending and viewport. Declare every uniform
// before setting any: each declaration makes the value block anew, zeroed. Setters ignore names
// that are not declared and values of another type; array setters copy at most the declared
// count. Samplers take consecutive texture units in declaration order; an array sampler of count
// n binds "name[0]" ... "name[n-1]".
class IRenderState {
  public:
    virtual void DeclareTexture(const char* name, bool linear, bool repeat) = 0;
    virtual void DeclareTextureArray(const char* name, int count, bool linear, bool repeat) = 0;
    virtual void DeclareInt(const char* name) = 0;
    virtual void DeclareIntArray(const char* name, int count) = 0;
    virtual void DeclareFloat(const char* name) = 0;
    virtual void DeclareFloatArray(const char* name, int count) = 0;
    virtual void DeclareVec2(const char* name) = 0;
    virtual void DeclareVec3(const char* name) = 0;
    virtual void DeclareVec3Array(const char* name, int count) = 0;
    virtual void DeclareVec4(const char* name) = 0;
    virtual void DeclareVec4Array(const char* name, int count) = 0;
    // With `isModelViewProjection` the uniform receives each geometry's model-view-projection
    // matrix when it is drawn.
    virtual void DeclareMatrix(const char* name, bool isModelViewProjection) = 0;
    virtual void DeclareMatrixArray(const char* name, int count, bool isModelViewProjection) = 0;
    virtual void ResetViewport() = 0;
    virtual void Release() = 0;
    virtual void SetBlending(bool enabled) = 0;
    virtual void SetShader(IShader* shader) = 0;
    virtual void SetTexture(const char* name, ITexture* texture) = 0;
    // Fills the sampler's elements in order, each texture taking as many as it has layers;
    // null textures are skipped.
    virtual void SetTextures(const char* name, int count, ITexture** textures) = 0;
    virtual void SetTextureFiltering(const char* name, bool linear) = 0;
    virtual void SetInt(const char* name, int value) = 0;
    virtual void SetIntArray(const char* name, const int* values, int count) = 0;
    virtual void SetFloat(const char* name, float value) = 0;
    virtual void SetFloatArray(const char* name, const float* values, int count) = 0;
    virtual void SetVec2(const char* name, const glm::vec2& value) = 0;
    virtual void SetVec3(const char* name, const glm::vec3& value) = 0;
    virtual void SetVec3Array(const char* name, const glm::vec3* values, int count) = 0;
    virtual void SetVec4(const char* name, const glm::vec4& value) = 0;
    virtual void SetVec4Array(const char* name, const glm::vec4* values, int count) = 0;
    virtual void SetMatrix(const char* name, const glm::mat4& value) = 0;
    virtual void SetMatrixArray(const char* name, const glm::mat4* values, int count) = 0;
    // Applied when width and height are both at least 1; ResetViewport() clears it.
    virtual void SetViewport(int x, int y, int width, int height) = 0;

  protected:
    virtual ~IRenderState() = default;

  public:
    // Makes the shader current and uploads uniforms and samplers; `modelViewProjection` (may
    // be null) goes to the matrix declared for it. Width and height are not used. Unlike the
    // drawing calls it leaves what it set in place, for the host's own draw that follows.
    virtual void Apply(int width, int height, const glm::mat4* modelViewProjection) = 0;
};

// The renderer: makes and owns every object, keeps the camera and draws. The world's up axis is
// +Z; the camera looks along its direction from its position. Call SetProjection (with
// 0 < near < far) and SetWindowSize before RenderScene. Creation calls return null on failure.
class IRenderer {
  public:
    // Draws the unit square (attribute 0, corners (0,0) to (1,1)) over the whole target (or the
    // window when `target` is null), without depth test or culling.
    virtual void RenderFullScreen(IRenderState* state, ITexture* target) = 0;
    // Clears colour and depth (to 1) of the target's layer 0, or of the window.
    virtual void Clear(ITexture* target, float r, float g, float b, float a) = 0;
    virtual ITexture* CreateTexture(int width, int height, int layerCount, int hasAlpha, int flags,
                                    const void* pixels) = 0;
    // An uncompressed or run-length encoded true-colour TGA of 24 or 32 bits per pixel, rows
    // bottom first; null for a missing, foreign or truncated file.
    virtual ITexture* CreateTextureFromFile(const char* path, int flags) = 0;
    virtual IShader* CreateShaderFromFiles(const char* vertexPath, const char* vertexAux,
                                           const char* fragmentPath, const char* fragmentAux) = 0;
    virtual IShader* CreateShader(const char* vertexText, const char* vertexAux,
                                  const char* fragmentText, const char* fragmentAux) = 0;
    virtual IRenderState* CreateRenderState(IShader* shader) = 0;
    // `vertices` holds vertexCount Vertex records.
    virtual IGeometry* CreateGeometry(int vertexCount, const void* vertices, int indexCount,
                                      const uint32_t* indices, IRenderState* state) = 0;
    // A box centred on the origin. Not faceted: 8 shared corners with zero normals and texture
    // coordinates. Faceted: 4 vertices per face with the face's outward normal and texture
    // coordinates (0,0), (1,0), (1,1), (0,1), upright (+Z up) on the four side faces.
    virtual IGeometry* CreateBox(glm::vec3 size, IRenderState* state, bool faceted) = 0;
    virtual void Release() = 0;
    virtual glm::vec3 GetCameraDirection() = 0;
    virtual glm::vec3 GetCameraPosition() = 0;
    virtual glm::vec3 GetCameraRight() = 0;
    virtual glm::vec3 GetCameraUp() = 0;
    virtual void SetWindowSize(int width, int height) = 0;
    // Draws every geometry in creation order into the target (or the window), with depth test
    // and back-face culling (front faces counter-clockwise).
    virtual void RenderScene(ITexture* target) = 0;
    virtual void SetCameraPosition(glm::vec3 position) = 0;
    virtual void SetCameraDirection(glm::vec3 direction) = 0;
    // `aspect` 0 takes the window's width / height. The shifts move the image off-axis: the
    // projection's [2][0] and [2][1] become shiftX * [0][0] and shiftY * [1][1].
    virtual void SetProjection(float fovY, float aspect, float nearPlane, float farPlane,
                               float shiftX, float shiftY) = 0;

  protected:
    virtual ~IRenderer() = default;
    virtual IGeometry* NewGeometry() = 0;
    virtual IShader* NewShader() = 0;
    virtual IRenderState* NewRenderState() = 0;
    virtual ITexture* NewTexture() = 0;
};

// The OpenGL renderer's own operations: dynamic_cast<IRendererOpenGL*>(renderer).
class IRendererOpenGL {
  public:
    // Wraps a GL name made by the host; it becomes layer 0's texture (kTextureColor), its
    // framebuffer (kTextureRenderTarget) or its depth renderbuffer (kTextureDepth). The host
    // keeps ownership: releasing or resizing the wrapper never deletes it.
    virtual ITexture* CreateTargetFromGLObject(unsigned glName, int width, int height,
                                               int layerCount, int hasAlpha, int flags) = 0;
    // Makes the full-screen square; RenderFullScreen also makes it on first use.
    virtual void BuildQuad() = 0;
    // Binds the target's layer 0 framebuffer, or the window's (0), for the host's own drawing.
    virtual void BindTarget(ITexture* target) = 0;
    // glFlush, then the swap function with `surface`; without one only the flush.
    virtual void Present(HDC surface) = 0;
    // The host's buffer swap, e.g. [](HDC s) { glfwSwapBuffers(static_cast<GLFWwindow*>(s)); }
    // or [display](HDC s) { eglSwapBuffers(display, static_cast<EGLSurface>(s)); }.
    virtual void SetSwapFunction(std::function<void(HDC surface)> swap) = 0;

  protected:
    virtual ~IRendererOpenGL() = default;
};

// The renderer of `api` on the calling thread's current OpenGL context; null for any API but
// kGraphicsAPIOpenGL or when no OpenGL 3.3 context is current.
TAVO_API IRenderer* CreateRenderer(eGraphicsAPI api);

}  // namespace TavoRenderer
