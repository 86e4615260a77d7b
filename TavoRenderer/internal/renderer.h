// The renderer's API-neutral base classes and its OpenGL classes (not part of what hosts see).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <glm/glm.hpp>

#include "TavoRenderer/TavoRenderer.h"
#include "tavo/opengl/shader.h"

namespace TavoRenderer {

class CRenderer;

// A projection as the renderer builds it (column-major, [column][row]); `aspect` already
// resolved from the window.
glm::mat4 ProjectionMatrix(float fovY, float aspect, float nearPlane, float farPlane, float shiftX,
                           float shiftY);
// Right-handed look-at from `eye` along `direction`, +Z up.
glm::mat4 ViewMatrix(glm::vec3 eye, glm::vec3 direction);
// R(a, t) as the renderer stores it: the transpose of the right-handed rotation about unit `a`.
glm::mat3 AxisRotation(glm::vec3 axis, float angle);
// The box's vertices and indices.
void BuildBox(glm::vec3 size, bool faceted, std::vector<Vertex>& vertices,
              std::vector<uint32_t>& indices);

class CRenderer : public IRenderer {
  public:
    ITexture* CreateTexture(int width, int height, int layerCount, int hasAlpha, int flags,
                            const void* pixels) override;
    ITexture* CreateTextureFromFile(const char* path, int flags) override;
    IShader* CreateShaderFromFiles(const char* vertexPath, const char* vertexAux,
                                   const char* fragmentPath, const char* fragmentAux) override;
    IShader* CreateShader(const char* vertexText, const char* vertexAux, const char* fragmentText,
                          const char* fragmentAux) override;
    IRenderState* CreateRenderState(IShader* shader) override;
    IGeometry* CreateGeometry(int vertexCount, const void* vertices, int indexCount,
                              const uint32_t* indices, IRenderState* state) override;
    IGeometry* CreateBox(glm::vec3 size, IRenderState* state, bool faceted) override;
    void Release() override;
    glm::vec3 GetCameraDirection() override { return cameraDirection; }
    glm::vec3 GetCameraPosition() override { return cameraPosition; }
    glm::vec3 GetCameraRight() override;
    glm::vec3 GetCameraUp() override;
    void SetWindowSize(int width, int height) override;
    void SetCameraPosition(glm::vec3 position) override { cameraPosition = position; }
    void SetCameraDirection(glm::vec3 direction) override { cameraDirection = direction; }
    void SetProjection(float fovY, float aspect, float nearPlane, float farPlane, float shiftX,
                       float shiftY) override;

    // The projection for a pass of `width` x `height`: aspect 0 takes the window's shape (the
    // pass's own when no window size is set).
    glm::mat4 Projection(int width, int height) const;
    glm::mat4 View() const { return ViewMatrix(cameraPosition, cameraDirection); }

    // Called by each object's Release: takes it off its list and clears every reference other
    // objects hold to it, so that nothing is left pointing at a deleted object.
    void Forget(IGeometry* geometry);
    void Forget(ITexture* texture);
    void Forget(IShader* shader);
    void Forget(IRenderState* state);

    std::vector<IGeometry*> geometries;
    std::vector<ITexture*> textures;
    std::vector<IShader*> shaders;
    std::vector<IRenderState*> renderStates;
    glm::vec3 cameraPosition{0.0f, 0.0f, 0.0f};
    glm::vec3 cameraDirection{0.0f, 1.0f, 0.0f};
    float fovY = 1.5707952f;  // bits 0x3FC90FD1, just below pi / 2
    float aspect = 1.0f;      // 0: width / height of the window
    float nearPlane = 0.0f;
    float farPlane = 0.0f;
    float shiftX = 0.0f;
    float shiftY = 0.0f;
    int windowWidth = 0;
    int windowHeight = 0;

  protected:
    // Releases every listed object: geometries, textures, shaders, render states.
    ~CRenderer() override;
};

class CShader : public IShader {
  public:
    explicit CShader(CRenderer* owner) : renderer(owner) {}

    void Release() override;
    std::string GetVertexSource() override { return vertex.source; }
    std::string GetFragmentSource() override { return fragment.source; }
    void SetVertexHeader(const char* header) override;
    void SetFragmentHeader(const char* header) override;
    void CreateVariant(int index, const char* defines, bool flag) override;
    void SelectVariant(int index, const std::vector<unsigned>& permutation) override;
    void SetPermutationTable(const PermutationDefinition* table, int count) override;
    void SetSources(const char* vertexText, const char* vertexAux, const char* fragmentText,
                    const char* fragmentAux) override;

    struct Stage {
        std::string source;
        std::string aux;  // kept, never compiled
        std::string header;
    };

    CRenderer* renderer;
    int currentVariant = -1;
    Stage vertex;
    Stage fragment;
    // Variants, the permutation table, its texts and the offsets of permutations, with the
    // rules of the interlacer's shaders; its prefixes carry the stage headers.
    tavo::opengl::Shader family;
    std::vector<unsigned> currentPermutation;

  protected:
    // Sources, headers or the table changed: programs built from the old ones must not be used.
    virtual void ForgetPrograms() {}
};

class CTexture : public ITexture {
  public:
    explicit CTexture(CRenderer* owner) : renderer(owner) {}

    void Release() override;
    int HasAlpha() override { return hasAlpha; }
    int GetHeight() override { return height; }
    int GetWidth() override { return width; }
    int GetLayerCount() override { return layerCount; }
    void SetName(const char* text) override { name = text != nullptr ? text : ""; }
    std::string GetName() override { return name; }

    CRenderer* renderer;
    int width = 0;
    int height = 0;
    int layerCount = 0;
    int hasAlpha = 0;
    int flags = 0;
    std::string name;
};

class CGeometry : public IGeometry {
  public:
    explicit CGeometry(CRenderer* owner) : renderer(owner) {}

    void Release() override;
    void Rotate(float x, float y, float z) override;
    void SetRotation(const glm::mat3& value) override { rotation = value; }
    void SetPosition(glm::vec3 value) override { position = value; }
    void SetRenderState(IRenderState* state) override { renderState = state; }
    // Model matrix: the rotation's columns, then the position.
    glm::mat4 Model() const;

    CRenderer* renderer;
    IRenderState* renderState = nullptr;
    glm::vec3 position{0.0f};
    glm::mat3 rotation{1.0f};
};

class CRenderState : public IRenderState {
  public:
    enum Type : int { kInt = 0, kFloat = 1, kVec2 = 2, kVec3 = 3, kVec4 = 4, kMat4 = 5 };

    struct Uniform {
        std::string name;
        int type;
        int elementSize;
        int count;
        size_t offset;
    };

    struct Sampler {
        std::string name;
        int count;
        // Per element: the texture and which of its layers (its place within that texture's run
        // of elements).
        std::vector<ITexture*> textures;
        std::vector<int> layers;
        bool linear;
        bool repeat;
        int firstUnit;
        bool changed;
    };

    explicit CRenderState(CRenderer* owner) : renderer(owner) {}

    void DeclareTexture(const char* name, bool linear, bool repeat) override;
    void DeclareTextureArray(const char* name, int count, bool linear, bool repeat) override;
    void DeclareInt(const char* name) override { Declare(name, kInt, 1, false); }
    void DeclareIntArray(const char* name, int count) override {
        Declare(name, kInt, count, false);
    }
    void DeclareFloat(const char* name) override { Declare(name, kFloat, 1, false); }
    void DeclareFloatArray(const char* name, int count) override {
        Declare(name, kFloat, count, false);
    }
    void DeclareVec2(const char* name) override { Declare(name, kVec2, 1, false); }
    void DeclareVec3(const char* name) override { Declare(name, kVec3, 1, false); }
    void DeclareVec3Array(const char* name, int count) override {
        Declare(name, kVec3, count, false);
    }
    void DeclareVec4(const char* name) override { Declare(name, kVec4, 1, false); }
    void DeclareVec4Array(const char* name, int count) override {
        Declare(name, kVec4, count, false);
    }
    void DeclareMatrix(const char* name, bool isModelViewProjection) override {
        Declare(name, kMat4, 1, isModelViewProjection);
    }
    void DeclareMatrixArray(const char* name, int count, bool isModelViewProjection) override {
        Declare(name, kMat4, count, isModelViewProjection);
    }
    void ResetViewport() override { viewport = {0, 0, 0, 0}; }
    void Release() override;
    void SetBlending(bool enabled) override { blending = enabled; }
    void SetShader(IShader* value) override { shader = value; }
    void SetTexture(const char* name, ITexture* texture) override {
        SetTextures(name, 1, &texture);
    }
    void SetTextures(const char* name, int count, ITexture** list) override;
    void SetTextureFiltering(const char* name, bool linear) override;
    void SetInt(const char* name, int value) override { SetUniformData(name, kInt, &value, 1); }
    void SetIntArray(const char* name, const int* values, int count) override {
        SetUniformData(name, kInt, values, count);
    }
    void SetFloat(const char* name, float value) override {
        SetUniformData(name, kFloat, &value, 1);
    }
    void SetFloatArray(const char* name, const float* values, int count) override {
        SetUniformData(name, kFloat, values, count);
    }
    void SetVec2(const char* name, const glm::vec2& value) override {
        SetUniformData(name, kVec2, &value, 1);
    }
    void SetVec3(const char* name, const glm::vec3& value) override {
        SetUniformData(name, kVec3, &value, 1);
    }
    void SetVec3Array(const char* name, const glm::vec3* values, int count) override {
        SetUniformData(name, kVec3, values, count);
    }
    void SetVec4(const char* name, const glm::vec4& value) override {
        SetUniformData(name, kVec4, &value, 1);
    }
    void SetVec4Array(const char* name, const glm::vec4* values, int count) override {
        SetUniformData(name, kVec4, values, count);
    }
    void SetMatrix(const char* name, const glm::mat4& value) override {
        SetUniformData(name, kMat4, &value, 1);
    }
    void SetMatrixArray(const char* name, const glm::mat4* values, int count) override {
        SetUniformData(name, kMat4, values, count);
    }
    void SetViewport(int x, int y, int width, int height) override {
        viewport = {x, y, width, height};
    }

    // Copies `count` elements (at most the declared count) of a declared uniform of `type`.
    void SetUniformData(const char* name, int type, const void* data, int count);
    // Drops every sampler element that holds `texture`.
    void ForgetTexture(ITexture* texture);

    CRenderer* renderer;
    IShader* shader = nullptr;
    bool blending = false;
    std::vector<uint8_t> data;  // zeroed, size rounded up to 16 bytes
    size_t dataSize = 0;
    int matrixUniform = -1;
    std::array<int, 4> viewport{0, 0, 0, 0};
    std::vector<Uniform> uniforms;
    std::vector<Sampler> samplers;

  private:
    void Declare(const char* name, int type, int count, bool isModelViewProjection);
};

}  // namespace TavoRenderer

class CShaderGL final : public TavoRenderer::CShader {
  public:
    using CShader::CShader;
    void Use() override;
    ~CShaderGL() override;

    unsigned currentProgram = 0;  // also the program of a shader without variants

  protected:
    void ForgetPrograms() override;

  private:
    // The program in the slot of variant `index` and `permutation`; 0 when not built.
    unsigned Program(size_t index, const std::vector<unsigned>& permutation) const;
    // The slot's program, compiled into it first when it is empty.
    unsigned Compile(size_t index, const std::vector<unsigned>& permutation);
    bool reportedBadSelection = false;
};

class CTextureGL final : public TavoRenderer::CTexture, public TavoRenderer::ITextureGL {
  public:
    using CTexture::CTexture;
    bool Init(int width, int height, int layerCount, int hasAlpha, int flags,
              const void* pixels) override;
    void Resize(int width, int height) override;
    unsigned GetFramebuffer(int layer) override;
    unsigned GetTexture(int layer) override;
    ~CTextureGL() override;

    // Deletes the GL objects this texture made (never a wrapped host object).
    void FreeObjects();

    std::array<unsigned, TavoRenderer::kMaxTextureLayers> framebuffers{};
    std::array<unsigned, TavoRenderer::kMaxTextureLayers> glTextures{};
    std::array<unsigned, TavoRenderer::kMaxTextureLayers> depthBuffers{};
};

class CGeometryGL final : public TavoRenderer::CGeometry {
  public:
    using CGeometry::CGeometry;
    void Draw(int width, int height, const glm::mat4& view, const glm::mat4& projection) override;
    bool Upload(int vertexCount, const void* vertices, int indexCount,
                const uint32_t* indices) override;
    ~CGeometryGL() override;

    unsigned vao = 0;
    unsigned vbo = 0;
    unsigned ibo = 0;
    int indexCount = 0;
};

class CRenderStateGL final : public TavoRenderer::CRenderState {
  public:
    using CRenderState::CRenderState;
    void Apply(int width, int height, const glm::mat4* modelViewProjection) override;
};

class CRendererOpenGL final : public TavoRenderer::CRenderer, public TavoRenderer::IRendererOpenGL {
  public:
    void RenderFullScreen(TavoRenderer::IRenderState* state,
                          TavoRenderer::ITexture* target) override;
    void Clear(TavoRenderer::ITexture* target, float r, float g, float b, float a) override;
    void RenderScene(TavoRenderer::ITexture* target) override;

    TavoRenderer::ITexture* CreateTargetFromGLObject(unsigned glName, int width, int height,
                                                     int layerCount, int hasAlpha,
                                                     int flags) override;
    void BuildQuad() override;
    void BindTarget(TavoRenderer::ITexture* target) override;
    void Present(TavoRenderer::HDC surface) override;
    void SetSwapFunction(std::function<void(TavoRenderer::HDC)> swap) override;

    unsigned quadVao = 0;
    unsigned quadVbo = 0;
    unsigned quadIbo = 0;

  protected:
    ~CRendererOpenGL() override;
    TavoRenderer::IGeometry* NewGeometry() override;
    TavoRenderer::IShader* NewShader() override;
    TavoRenderer::IRenderState* NewRenderState() override;
    TavoRenderer::ITexture* NewTexture() override;

  private:
    // The pass size: the target's when both sides are at least 1, else the window's.
    void PassSize(TavoRenderer::ITexture* target, int& width, int& height) const;

    std::function<void(TavoRenderer::HDC)> swap_;
};
