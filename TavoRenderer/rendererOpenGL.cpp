// The renderer on OpenGL: GL objects, state application, passes and the factory.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <glm/gtc/type_ptr.hpp>

#include "TavoRenderer/internal/renderer.h"
#include "tavo/common/log.h"
#include "tavo/opengl/gl.h"
#include "tavo/opengl/glHelpers.h"

namespace gl = tavo::gl;
using TavoRenderer::kMaxTextureLayers;
using TavoRenderer::kTextureColor;
using TavoRenderer::kTextureDepth;
using TavoRenderer::kTextureRenderTarget;
using TavoRenderer::kTextureWrapped;

namespace {

// From OES_EGL_image_external; desktop headers do not carry it.
constexpr GLenum kTextureExternalOes = 0x8D65;
constexpr std::string_view kExternalTextureName = "GL_TEXTURE_EXTERNAL_OES";

// Puts the host's GL bindings back when a renderer operation ends, however it ends: the shared
// snapshot (one vertex attribute, 16 texture units) plus face culling.
class ScopedGlState {
  public:
    ScopedGlState() {
        tavo::opengl::SaveOpenGLState(saved_, 1, 16);
        cullFace_ = gl::IsEnabled(GL_CULL_FACE);
        gl::GetIntegerv(GL_CULL_FACE_MODE, &cullFaceMode_);
        gl::GetIntegerv(GL_FRONT_FACE, &frontFace_);
    }
    ~ScopedGlState() {
        tavo::opengl::RestoreOpenGLState(saved_);
        if (cullFace_ != GL_FALSE) {
            gl::Enable(GL_CULL_FACE);
        } else {
            gl::Disable(GL_CULL_FACE);
        }
        gl::CullFace(static_cast<GLenum>(cullFaceMode_));
        gl::FrontFace(static_cast<GLenum>(frontFace_));
    }
    ScopedGlState(const ScopedGlState&) = delete;
    ScopedGlState& operator=(const ScopedGlState&) = delete;

  private:
    tavo::opengl::SavedOpenGLState saved_{};
    GLboolean cullFace_ = GL_FALSE;
    GLint cullFaceMode_ = GL_BACK;
    GLint frontFace_ = GL_CCW;
};

// Texture uploads read rows at OpenGL's default alignment of 4, whatever the host set.
class ScopedUnpackAlignment {
  public:
    ScopedUnpackAlignment() {
        gl::GetIntegerv(GL_UNPACK_ALIGNMENT, &alignment_);
        gl::PixelStorei(GL_UNPACK_ALIGNMENT, 4);
    }
    ~ScopedUnpackAlignment() { gl::PixelStorei(GL_UNPACK_ALIGNMENT, alignment_); }
    ScopedUnpackAlignment(const ScopedUnpackAlignment&) = delete;
    ScopedUnpackAlignment& operator=(const ScopedUnpackAlignment&) = delete;

  private:
    GLint alignment_ = 4;
};

// The renderer's "debugger output": the library's log, or standard error when there is none.
void ReportShaderError(const char* stage, const char* log) {
    const bool link = std::string_view(stage) == "PROGRAM";
    if (const auto logger = tavo::GetDefaultLogger()) {
        logger->error("[TavoRenderer] Shader: {} error: {}\n{}",
                      link ? "Link-time" : "Compile-time", stage, log);
    } else {
        std::fprintf(
            stderr,
            link ? "Shader: Link-time error: %s\n%s\n" : "Shader: Compile-time error: %s\n%s\n",
            stage, log);
    }
}

GLuint TargetFramebuffer(TavoRenderer::ITexture* target) {
    auto* textureGL = dynamic_cast<TavoRenderer::ITextureGL*>(target);
    return textureGL != nullptr ? textureGL->GetFramebuffer(0) : 0;
}

}  // namespace

// ---- CShaderGL

CShaderGL::~CShaderGL() {
    ForgetPrograms();
}

void CShaderGL::ForgetPrograms() {
    std::vector<unsigned> programs;
    for (tavo::opengl::ShaderVariant& variant : family.variants) {
        for (uint32_t& program : variant.programs) {
            programs.push_back(program);
            program = 0;
        }
    }
    programs.push_back(currentProgram);
    currentProgram = 0;
    std::sort(programs.begin(), programs.end());
    programs.erase(std::unique(programs.begin(), programs.end()), programs.end());
    for (unsigned program : programs) {
        if (program != 0) {
            gl::DeleteProgram(program);
        }
    }
}

unsigned CShaderGL::Program(size_t index, const std::vector<unsigned>& permutation) const {
    const tavo::opengl::ShaderVariant& variant = family.variants[index];
    const size_t offset =
        family.permutationDefinitions.empty()
            ? 0
            : static_cast<size_t>(family.GetOffsetForVariantPermutation(permutation));
    return offset < variant.programs.size() ? variant.programs[offset] : 0;
}

unsigned CShaderGL::Compile(size_t index, const std::vector<unsigned>& permutation) {
    // The fast path: built before, one look-up.
    if (const unsigned program = Program(index, permutation); program != 0) {
        return program;
    }
    ScopedGlState state;
    family.vertexPrefix = vertex.header;
    family.fragmentPrefix = fragment.header;
    family.errorReporter = &ReportShaderError;
    family.CompileFromText(vertex.source.c_str(), fragment.source.c_str(), nullptr,
                           static_cast<int>(index), permutation);
    return Program(index, permutation);
}

void CShaderGL::Use() {
    if (currentVariant >= 0) {
        const size_t index = static_cast<size_t>(currentVariant);
        // Values outside their switch would pick another permutation's slot, or none.
        bool valid = index < family.variants.size();
        if (valid && !currentPermutation.empty()) {
            valid = currentPermutation.size() == family.permutationDefinitions.size();
            for (size_t i = 0; valid && i < currentPermutation.size(); ++i) {
                valid = currentPermutation[i] <
                        static_cast<unsigned>(family.permutationDefinitions[i].valueCount);
            }
        }
        if (!valid) {
            if (!reportedBadSelection) {
                reportedBadSelection = true;
                spdlog::error(
                    "[TavoRenderer] Shader variant {} with permutation [{}] does not exist "
                    "({} variants, {} switches)",
                    currentVariant, fmt::join(currentPermutation, ", "), family.variants.size(),
                    family.permutationDefinitions.size());
            }
        } else {
            currentProgram = Compile(index, currentPermutation);
        }
    } else if (currentProgram == 0) {
        // Without variants a plain one is made for the compile and dropped again, so that the
        // host's own variants keep their places.
        const bool temporary = family.variants.empty();
        if (temporary) {
            family.CreateVariant(0, "", false);
        }
        currentProgram = Compile(0, {});
        if (temporary) {
            family.variants.clear();
        }
    }
    gl::UseProgram(currentProgram);
}

// ---- CTextureGL

CTextureGL::~CTextureGL() {
    FreeObjects();
}

void CTextureGL::FreeObjects() {
    if ((flags & kTextureWrapped) == 0) {
        for (int layer = 0; layer < kMaxTextureLayers; ++layer) {
            if (framebuffers[layer] != 0) {
                gl::DeleteFramebuffers(1, &framebuffers[layer]);
            }
            if (glTextures[layer] != 0) {
                gl::DeleteTextures(1, &glTextures[layer]);
            }
            if (depthBuffers[layer] != 0) {
                gl::DeleteRenderbuffers(1, &depthBuffers[layer]);
            }
        }
    }
    framebuffers.fill(0);
    glTextures.fill(0);
    depthBuffers.fill(0);
}

bool CTextureGL::Init(int newWidth, int newHeight, int newLayerCount, int newHasAlpha, int newFlags,
                      const void* pixels) {
    FreeObjects();
    width = 0;
    height = 0;
    if (newWidth < 1 || newHeight < 1 || newLayerCount < 1 || newLayerCount > kMaxTextureLayers) {
        return false;
    }
    // What this texture makes it owns, whatever it wrapped before.
    newFlags &= ~kTextureWrapped;
    flags = newFlags;
    ScopedGlState state;
    ScopedUnpackAlignment alignment;
    const GLenum format = newHasAlpha != 0 ? GL_RGBA : GL_RGB;
    auto makeTexture = [&](int layer) {
        gl::GenTextures(1, &glTextures[layer]);
        gl::BindTexture(GL_TEXTURE_2D, glTextures[layer]);
        gl::TexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), newWidth, newHeight, 0, format,
                       GL_UNSIGNED_BYTE, pixels);
        // Sampleable without mipmaps even by hosts that bind it themselves.
        gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        return glTextures[layer] != 0;
    };
    bool ok = true;
    for (int layer = 0; ok && layer < newLayerCount; ++layer) {
        if ((newFlags & kTextureRenderTarget) != 0) {
            gl::GenFramebuffers(1, &framebuffers[layer]);
            gl::BindFramebuffer(GL_FRAMEBUFFER, framebuffers[layer]);
            makeTexture(layer);
            gl::FramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, glTextures[layer], 0);
            const GLenum drawBuffer = GL_COLOR_ATTACHMENT0;
            gl::DrawBuffers(1, &drawBuffer);
            if ((newFlags & kTextureDepth) != 0) {
                gl::GenRenderbuffers(1, &depthBuffers[layer]);
                gl::BindRenderbuffer(GL_RENDERBUFFER, depthBuffers[layer]);
                gl::RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, newWidth, newHeight);
                gl::FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                            depthBuffers[layer]);
            }
            ok = gl::CheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        } else if ((newFlags & kTextureColor) != 0) {
            ok = makeTexture(layer);
        }
    }
    if (!ok) {
        FreeObjects();
        return false;
    }
    width = newWidth;
    height = newHeight;
    layerCount = newLayerCount;
    hasAlpha = newHasAlpha;
    return true;
}

void CTextureGL::Resize(int newWidth, int newHeight) {
    if (newWidth == width && newHeight == height) {
        return;
    }
    if ((flags & kTextureWrapped) != 0) {
        // The host owns the wrapped object and resizes it itself.
        width = newWidth;
        height = newHeight;
        return;
    }
    if (width != 0 || height != 0) {
        FreeObjects();
        width = 0;
        height = 0;
    }
    if (newWidth != 0 || newHeight != 0) {
        Init(newWidth, newHeight, layerCount, hasAlpha, flags, nullptr);
    }
}

unsigned CTextureGL::GetFramebuffer(int layer) {
    return layer >= 0 && layer < kMaxTextureLayers ? framebuffers[layer] : 0;
}

unsigned CTextureGL::GetTexture(int layer) {
    return layer >= 0 && layer < kMaxTextureLayers ? glTextures[layer] : 0;
}

// ---- CGeometryGL

CGeometryGL::~CGeometryGL() {
    gl::DeleteBuffers(1, &vbo);
    gl::DeleteBuffers(1, &ibo);
    gl::DeleteVertexArrays(1, &vao);
}

bool CGeometryGL::Upload(int vertexCount, const void* vertices, int count,
                         const uint32_t* indices) {
    if (vertexCount < 0 || count < 0 || (vertexCount > 0 && vertices == nullptr) ||
        (count > 0 && indices == nullptr)) {
        spdlog::error("[TavoRenderer] Geometry of {} vertices and {} indices without data",
                      vertexCount, count);
        return false;
    }
    // An index past the vertices would make the driver read outside the buffer.
    for (int i = 0; i < count; ++i) {
        if (indices[i] >= static_cast<uint32_t>(vertexCount)) {
            spdlog::error("[TavoRenderer] Geometry index {} at {} is past its {} vertices",
                          indices[i], i, vertexCount);
            return false;
        }
    }
    ScopedGlState state;
    gl::DeleteBuffers(1, &vbo);
    gl::DeleteBuffers(1, &ibo);
    gl::DeleteVertexArrays(1, &vao);
    indexCount = count;
    gl::GenVertexArrays(1, &vao);
    gl::BindVertexArray(vao);
    gl::GenBuffers(1, &vbo);
    gl::BindBuffer(GL_ARRAY_BUFFER, vbo);
    gl::BufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertexCount) * 32, vertices,
                   GL_STATIC_DRAW);
    gl::GenBuffers(1, &ibo);
    gl::BindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo);
    gl::BufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(count) * 4, indices,
                   GL_STATIC_DRAW);
    const struct {
        GLint size;
        size_t offset;
    } attributes[] = {{3, 0}, {3, 12}, {2, 24}};
    for (GLuint index = 0; index < 3; ++index) {
        gl::VertexAttribPointer(index, attributes[index].size, GLenum{GL_FLOAT},
                                GLboolean{GL_FALSE}, 32,
                                reinterpret_cast<const void*>(attributes[index].offset));
        gl::EnableVertexAttribArray(index);
    }
    return true;
}

void CGeometryGL::Draw(int width, int height, const glm::mat4& view, const glm::mat4& projection) {
    auto* state = static_cast<TavoRenderer::CRenderState*>(renderState);
    if (state == nullptr || state->shader == nullptr) {
        return;
    }
    ScopedGlState saved;
    const glm::mat4 modelViewProjection = projection * view * Model();
    state->Apply(width, height, &modelViewProjection);
    gl::BindVertexArray(vao);
    gl::DrawElements(GL_TRIANGLES, indexCount, GL_UNSIGNED_INT, nullptr);
}

// ---- CRenderStateGL

void CRenderStateGL::Apply(int /*width*/, int /*height*/, const glm::mat4* modelViewProjection) {
    if (matrixUniform >= 0 && modelViewProjection != nullptr) {
        std::memcpy(data.data() + uniforms[static_cast<size_t>(matrixUniform)].offset,
                    glm::value_ptr(*modelViewProjection), sizeof(glm::mat4));
    }
    auto* shaderGL = dynamic_cast<CShaderGL*>(shader);
    if (shaderGL == nullptr) {
        return;
    }
    shaderGL->Use();
    const GLuint program = shaderGL->currentProgram;
    for (const Uniform& uniform : uniforms) {
        const GLint location = gl::GetUniformLocation(program, uniform.name.c_str());
        if (location < 0) {
            continue;
        }
        const void* values = data.data() + uniform.offset;
        const auto* floats = static_cast<const GLfloat*>(values);
        switch (uniform.type) {
            case kInt:
                gl::Uniform1iv(location, uniform.count, static_cast<const GLint*>(values));
                break;
            case kFloat:
                gl::Uniform1fv(location, uniform.count, floats);
                break;
            case kVec2:
                gl::Uniform2fv(location, uniform.count, floats);
                break;
            case kVec3:
                gl::Uniform3fv(location, uniform.count, floats);
                break;
            case kVec4:
                gl::Uniform4fv(location, uniform.count, floats);
                break;
            case kMat4:
                gl::UniformMatrix4fv(location, uniform.count, GLboolean{GL_FALSE}, floats);
                break;
            default:
                break;
        }
    }
    GLint unit = 0;
    for (const Sampler& sampler : samplers) {
        for (int k = 0; k < sampler.count; ++k, ++unit) {
            const std::string name =
                sampler.count == 1 ? sampler.name : fmt::format("{}[{}]", sampler.name, k);
            gl::Uniform1i(gl::GetUniformLocation(program, name.c_str()), unit);
            gl::ActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + unit));
            TavoRenderer::ITexture* texture = sampler.textures[static_cast<size_t>(k)];
            auto* textureGL = dynamic_cast<TavoRenderer::ITextureGL*>(texture);
            const GLuint glName =
                textureGL != nullptr ? textureGL->GetTexture(sampler.layers[static_cast<size_t>(k)])
                                     : 0;
            if (texture != nullptr && texture->GetName() == kExternalTextureName) {
                // Its sampling parameters are the host's; setting them on GL_TEXTURE_2D would
                // change whichever texture happens to be bound there.
                gl::BindTexture(kTextureExternalOes, glName);
                continue;
            }
            gl::BindTexture(GL_TEXTURE_2D, glName);
            const GLint wrap = sampler.repeat ? GL_REPEAT : GL_CLAMP_TO_EDGE;
            const GLint filter = sampler.linear ? GL_LINEAR : GL_NEAREST;
            gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
            gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
            gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
            gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        }
    }
    if (blending) {
        gl::Enable(GL_BLEND);
        gl::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        gl::Disable(GL_BLEND);
    }
    if (viewport[2] >= 1 && viewport[3] >= 1) {
        gl::Viewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    }
}

// ---- CRendererOpenGL

CRendererOpenGL::~CRendererOpenGL() {
    gl::DeleteBuffers(1, &quadVbo);
    gl::DeleteBuffers(1, &quadIbo);
    gl::DeleteVertexArrays(1, &quadVao);
}

TavoRenderer::IGeometry* CRendererOpenGL::NewGeometry() {
    return new CGeometryGL(this);
}

TavoRenderer::IShader* CRendererOpenGL::NewShader() {
    return new CShaderGL(this);
}

TavoRenderer::IRenderState* CRendererOpenGL::NewRenderState() {
    return new CRenderStateGL(this);
}

TavoRenderer::ITexture* CRendererOpenGL::NewTexture() {
    return new CTextureGL(this);
}

void CRendererOpenGL::PassSize(TavoRenderer::ITexture* target, int& width, int& height) const {
    width = windowWidth;
    height = windowHeight;
    if (target != nullptr && target->GetWidth() >= 1 && target->GetHeight() >= 1) {
        width = target->GetWidth();
        height = target->GetHeight();
    }
}

void CRendererOpenGL::RenderFullScreen(TavoRenderer::IRenderState* state,
                                       TavoRenderer::ITexture* target) {
    auto* base = static_cast<TavoRenderer::CRenderState*>(state);
    if (base == nullptr || base->shader == nullptr) {
        return;
    }
    BuildQuad();
    int width = 0;
    int height = 0;
    PassSize(target, width, height);
    ScopedGlState saved;
    gl::BindFramebuffer(GL_FRAMEBUFFER, TargetFramebuffer(target));
    gl::Disable(GL_DEPTH_TEST);
    gl::Disable(GL_CULL_FACE);
    if (width >= 1 && height >= 1) {
        gl::Viewport(0, 0, width, height);
    }
    state->Apply(width, height, nullptr);
    gl::BindVertexArray(quadVao);
    gl::DrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_INT, nullptr);
}

void CRendererOpenGL::Clear(TavoRenderer::ITexture* target, float r, float g, float b, float a) {
    ScopedGlState saved;
    gl::BindFramebuffer(GL_FRAMEBUFFER, TargetFramebuffer(target));
    gl::ClearColor(r, g, b, a);
    gl::ClearDepthf(1.0f);
    gl::Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void CRendererOpenGL::RenderScene(TavoRenderer::ITexture* target) {
    int width = 0;
    int height = 0;
    PassSize(target, width, height);
    ScopedGlState saved;
    gl::BindFramebuffer(GL_FRAMEBUFFER, TargetFramebuffer(target));
    gl::Enable(GL_DEPTH_TEST);
    gl::DepthFunc(GL_LESS);
    gl::Enable(GL_CULL_FACE);
    gl::CullFace(GL_BACK);
    gl::FrontFace(GL_CCW);
    const glm::mat4 projection = Projection(width, height);
    const glm::mat4 view = View();
    gl::Viewport(0, 0, width, height);
    for (TavoRenderer::IGeometry* geometry : geometries) {
        geometry->Draw(width, height, view, projection);
    }
}

TavoRenderer::ITexture* CRendererOpenGL::CreateTargetFromGLObject(unsigned glName, int width,
                                                                  int height, int layerCount,
                                                                  int hasAlpha, int flags) {
    auto* texture = new CTextureGL(this);
    texture->flags = flags | kTextureWrapped;
    if ((flags & kTextureColor) != 0) {
        texture->glTextures[0] = glName;
    }
    if ((flags & kTextureRenderTarget) != 0) {
        texture->framebuffers[0] = glName;
    }
    if ((flags & kTextureDepth) != 0) {
        texture->depthBuffers[0] = glName;
    }
    texture->width = width;
    texture->height = height;
    texture->layerCount = std::clamp(layerCount, 1, kMaxTextureLayers);
    texture->hasAlpha = hasAlpha;
    textures.push_back(texture);
    return texture;
}

void CRendererOpenGL::BuildQuad() {
    if (quadVao != 0) {
        return;
    }
    ScopedGlState saved;
    tavo::opengl::CreateRectangularTexCoordVertexArray(0.0f, 0.0f, 1.0f, 1.0f, quadVao, quadVbo,
                                                       quadIbo);
}

void CRendererOpenGL::BindTarget(TavoRenderer::ITexture* target) {
    gl::BindFramebuffer(GL_FRAMEBUFFER, TargetFramebuffer(target));
}

void CRendererOpenGL::Present(TavoRenderer::HDC surface) {
    gl::Flush();
    if (swap_) {
        swap_(surface);
    }
}

void CRendererOpenGL::SetSwapFunction(std::function<void(TavoRenderer::HDC)> swap) {
    swap_ = std::move(swap);
}

namespace TavoRenderer {

IRenderer* CreateRenderer(eGraphicsAPI api) {
    if (api != kGraphicsAPIOpenGL) {
        spdlog::error("[TavoRenderer] Graphics API {} is not supported", static_cast<int>(api));
        return nullptr;
    }
    OVR::GLEContext* context = OVR::GLEContext::GetCurrentContext();
    if (context == nullptr) {
        return nullptr;
    }
    context->Init();
    // Everything the renderer calls beyond OpenGL 1.1; missing when no 3.3 context is current.
    const bool complete =
        context->majorVersion >= 3 && context->glGenVertexArrays_Impl != nullptr &&
        context->glFramebufferTexture_Impl != nullptr && context->glClearDepthf_Impl != nullptr &&
        context->glGenFramebuffers_Impl != nullptr && context->glCreateProgram_Impl != nullptr &&
        context->glUniformMatrix4fv_Impl != nullptr && context->glDrawBuffers_Impl != nullptr;
    if (!complete) {
        spdlog::error(
            "[TavoRenderer] CreateRenderer needs an OpenGL 3.3 context current on the calling "
            "thread (found version {}.{})",
            context->majorVersion, context->minorVersion);
        return nullptr;
    }
    return new CRendererOpenGL();
}

}  // namespace TavoRenderer
