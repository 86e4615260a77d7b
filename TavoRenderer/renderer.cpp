// The renderer's API-neutral part: object lists, camera and projection, boxes, TGA files and the
// state of shaders, geometries and render states.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>

#include <spdlog/spdlog.h>

#include "TavoRenderer/internal/renderer.h"
#include "tavo/common/tga.h"

namespace TavoRenderer {

namespace {

constexpr glm::vec3 kWorldUp{0.0f, 0.0f, 1.0f};

// Corner lists of the six faces; each is drawn as (0, 1, 2) and (0, 2, 3), counter-clockwise
// seen from outside.
constexpr uint32_t kBoxFaces[6][4] = {{0, 1, 2, 3}, {1, 0, 4, 5}, {0, 3, 7, 4},
                                      {3, 2, 6, 7}, {2, 1, 5, 6}, {4, 7, 6, 5}};
constexpr glm::vec2 kFaceTexCoords[4] = {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}};

bool ReadWholeFile(const char* path, std::string& contents) {
    if (path == nullptr) {
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return false;
    }
    contents.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

int ElementSize(int type) {
    static constexpr int kSizes[] = {4, 4, 8, 12, 16, 64};
    return kSizes[type];
}

template <typename T>
void Unlist(std::vector<T*>& list, T* object) {
    const auto found = std::find(list.begin(), list.end(), object);
    if (found != list.end()) {
        list.erase(found);
    }
}

// Releases every object of a list; each release takes its object off the list, hence the copy.
template <typename T>
void ReleaseAll(const std::vector<T*>& list) {
    const std::vector<T*> copy = list;
    for (T* object : copy) {
        object->Release();
    }
}

}  // namespace

glm::mat4 ProjectionMatrix(float fovY, float aspect, float nearPlane, float farPlane, float shiftX,
                           float shiftY) {
    const float t = std::tan(fovY / 2.0f);
    glm::mat4 p(0.0f);
    p[0][0] = 1.0f / (t * aspect);
    p[1][1] = 1.0f / t;
    p[2][2] = -(farPlane + nearPlane) / (farPlane - nearPlane);
    p[2][3] = -1.0f;
    p[3][2] = -(2.0f * farPlane * nearPlane) / (farPlane - nearPlane);
    if (shiftX != 0.0f) {
        p[2][0] = shiftX * p[0][0];
    }
    if (shiftY != 0.0f) {
        p[2][1] = shiftY * p[1][1];
    }
    return p;
}

glm::mat4 ViewMatrix(glm::vec3 eye, glm::vec3 direction) {
    const glm::vec3 f = glm::normalize(direction);
    const glm::vec3 s = glm::normalize(glm::cross(f, kWorldUp));
    const glm::vec3 u = glm::cross(s, f);
    glm::mat4 view(1.0f);
    for (int column = 0; column < 3; ++column) {
        view[column][0] = s[column];
        view[column][1] = u[column];
        view[column][2] = -f[column];
    }
    view[3][0] = -glm::dot(s, eye);
    view[3][1] = -glm::dot(u, eye);
    view[3][2] = glm::dot(f, eye);
    return view;
}

glm::mat3 AxisRotation(glm::vec3 a, float angle) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    const float k = 1.0f - c;
    return glm::mat3(
        glm::vec3(k * a.x * a.x + c, k * a.x * a.y - s * a.z, k * a.x * a.z + s * a.y),
        glm::vec3(k * a.x * a.y + s * a.z, k * a.y * a.y + c, k * a.y * a.z - s * a.x),
        glm::vec3(k * a.x * a.z - s * a.y, k * a.y * a.z + s * a.x, k * a.z * a.z + c));
}

void BuildBox(glm::vec3 size, bool faceted, std::vector<Vertex>& vertices,
              std::vector<uint32_t>& indices) {
    const glm::vec3 lo = size / 2.0f;
    const glm::vec3 hi = size - size / 2.0f;
    const glm::vec3 corners[8] = {{-lo.x, -lo.y, -lo.z}, {-lo.x, hi.y, -lo.z}, {hi.x, hi.y, -lo.z},
                                  {hi.x, -lo.y, -lo.z},  {-lo.x, -lo.y, hi.z}, {-lo.x, hi.y, hi.z},
                                  {hi.x, hi.y, hi.z},    {hi.x, -lo.y, hi.z}};
    vertices.clear();
    indices.clear();
    if (!faceted) {
        for (const glm::vec3& corner : corners) {
            vertices.push_back({corner, glm::vec3(0.0f), glm::vec2(0.0f)});
        }
    }
    for (const auto& face : kBoxFaces) {
        uint32_t quad[4] = {face[0], face[1], face[2], face[3]};
        if (faceted) {
            const uint32_t base = static_cast<uint32_t>(vertices.size());
            const glm::vec3 normal = glm::normalize(glm::cross(
                corners[face[1]] - corners[face[0]], corners[face[2]] - corners[face[0]]));
            for (uint32_t k = 0; k < 4; ++k) {
                vertices.push_back({corners[face[k]], normal, kFaceTexCoords[k]});
                quad[k] = base + k;
            }
        }
        indices.insert(indices.end(), {quad[0], quad[1], quad[2], quad[0], quad[2], quad[3]});
    }
}

// ---- CRenderer

CRenderer::~CRenderer() {
    ReleaseAll(geometries);
    ReleaseAll(textures);
    ReleaseAll(shaders);
    ReleaseAll(renderStates);
}

void CRenderer::Release() {
    delete this;
}

ITexture* CRenderer::CreateTexture(int width, int height, int layerCount, int hasAlpha, int flags,
                                   const void* pixels) {
    ITexture* texture = NewTexture();
    if (!texture->Init(width, height, layerCount, hasAlpha, flags, pixels)) {
        spdlog::error("[TavoRenderer] Cannot create a {}x{} texture of {} layers, flags {}", width,
                      height, layerCount, flags);
        texture->Release();
        return nullptr;
    }
    textures.push_back(texture);
    return texture;
}

ITexture* CRenderer::CreateTextureFromFile(const char* path, int flags) {
    std::string file;
    if (!ReadWholeFile(path, file)) {
        spdlog::error("[TavoRenderer] Cannot read image \"{}\"", path != nullptr ? path : "");
        return nullptr;
    }
    tavo::Tga image;
    const bool complete =
        image.ReadFromData(reinterpret_cast<const uint8_t*>(file.data()), file.size(), true);
    if (!complete || image.width == 0 || image.height == 0) {
        spdlog::error(
            "[TavoRenderer] \"{}\" is not a whole uncompressed or run-length encoded 24- or "
            "32-bit TGA image",
            path);
        return nullptr;
    }
    // The decoder gives uncompressed pixels in the file's blue-first order and run-length
    // encoded ones already red-first; the texture takes red first.
    if (!image.compressed) {
        image.SwapRedAndBlue();
    }
    // Both codings hold the pixels tightly packed; texture rows start on 4-byte boundaries.
    const size_t bytesPerPixel = image.bitsPerPixel / 8;
    const size_t rowLength = image.width * bytesPerPixel;
    const size_t stride = (rowLength + 3) / 4 * 4;
    std::vector<uint8_t> rows;
    const uint8_t* pixels = image.pixels.data();
    if (stride != rowLength) {
        rows.assign(stride * image.height, 0);
        for (size_t row = 0; row < image.height; ++row) {
            std::memcpy(rows.data() + row * stride, pixels + row * rowLength, rowLength);
        }
        pixels = rows.data();
    }
    return CreateTexture(static_cast<int>(image.width), static_cast<int>(image.height), 1,
                         image.bitsPerPixel == 32 ? 1 : 0, flags, pixels);
}

IShader* CRenderer::CreateShaderFromFiles(const char* vertexPath, const char* vertexAux,
                                          const char* fragmentPath, const char* fragmentAux) {
    std::string vertex;
    std::string fragment;
    const std::pair<const char*, std::string*> files[] = {{vertexPath, &vertex},
                                                          {fragmentPath, &fragment}};
    for (const auto& [path, text] : files) {
        if (!ReadWholeFile(path, *text)) {
            spdlog::error("[TavoRenderer] Cannot read shader \"{}\"", path != nullptr ? path : "");
            return nullptr;
        }
    }
    return CreateShader(vertex.c_str(), vertexAux, fragment.c_str(), fragmentAux);
}

IShader* CRenderer::CreateShader(const char* vertexText, const char* vertexAux,
                                 const char* fragmentText, const char* fragmentAux) {
    IShader* shader = NewShader();
    shader->SetSources(vertexText, vertexAux, fragmentText, fragmentAux);
    shaders.push_back(shader);
    return shader;
}

IRenderState* CRenderer::CreateRenderState(IShader* shader) {
    IRenderState* state = NewRenderState();
    state->SetShader(shader);
    renderStates.push_back(state);
    return state;
}

IGeometry* CRenderer::CreateGeometry(int vertexCount, const void* vertices, int indexCount,
                                     const uint32_t* indices, IRenderState* state) {
    IGeometry* geometry = NewGeometry();
    if (!geometry->Upload(vertexCount, vertices, indexCount, indices)) {
        geometry->Release();
        return nullptr;
    }
    geometry->SetRenderState(state);
    geometries.push_back(geometry);
    return geometry;
}

IGeometry* CRenderer::CreateBox(glm::vec3 size, IRenderState* state, bool faceted) {
    std::vector<Vertex> vertices;
    std::vector<uint32_t> indices;
    BuildBox(size, faceted, vertices, indices);
    return CreateGeometry(static_cast<int>(vertices.size()), vertices.data(),
                          static_cast<int>(indices.size()), indices.data(), state);
}

glm::vec3 CRenderer::GetCameraRight() {
    return glm::cross(cameraDirection, kWorldUp);
}

glm::vec3 CRenderer::GetCameraUp() {
    return glm::cross(GetCameraRight(), cameraDirection);
}

void CRenderer::SetWindowSize(int width, int height) {
    windowWidth = width;
    windowHeight = height;
}

void CRenderer::SetProjection(float fov, float aspectRatio, float nearDistance, float farDistance,
                              float offsetX, float offsetY) {
    fovY = fov;
    aspect = aspectRatio;
    nearPlane = nearDistance;
    farPlane = farDistance;
    shiftX = offsetX;
    shiftY = offsetY;
}

glm::mat4 CRenderer::Projection(int width, int height) const {
    float a = aspect;
    if (a == 0.0f) {
        if (windowWidth > 0 && windowHeight > 0) {
            a = static_cast<float>(windowWidth) / static_cast<float>(windowHeight);
        } else if (width > 0 && height > 0) {
            a = static_cast<float>(width) / static_cast<float>(height);
        } else {
            a = 1.0f;
        }
    }
    return ProjectionMatrix(fovY, a, nearPlane, farPlane, shiftX, shiftY);
}

void CRenderer::Forget(IGeometry* geometry) {
    Unlist(geometries, geometry);
}

void CRenderer::Forget(ITexture* texture) {
    Unlist(textures, texture);
    for (IRenderState* state : renderStates) {
        static_cast<CRenderState*>(state)->ForgetTexture(texture);
    }
}

void CRenderer::Forget(IShader* shader) {
    Unlist(shaders, shader);
    for (IRenderState* state : renderStates) {
        auto* base = static_cast<CRenderState*>(state);
        if (base->shader == shader) {
            base->shader = nullptr;
        }
    }
}

void CRenderer::Forget(IRenderState* state) {
    Unlist(renderStates, state);
    for (IGeometry* geometry : geometries) {
        auto* base = static_cast<CGeometry*>(geometry);
        if (base->renderState == state) {
            base->renderState = nullptr;
        }
    }
}

// ---- CShader

void CShader::Release() {
    renderer->Forget(this);
    delete this;
}

void CShader::SetVertexHeader(const char* header) {
    vertex.header = header != nullptr ? header : "";
    ForgetPrograms();
}

void CShader::SetFragmentHeader(const char* header) {
    fragment.header = header != nullptr ? header : "";
    ForgetPrograms();
}

void CShader::CreateVariant(int index, const char* defines, bool flag) {
    family.CreateVariant(index, defines, flag);
}

void CShader::SelectVariant(int index, const std::vector<unsigned>& permutation) {
    currentVariant = index;
    currentPermutation = permutation;
}

void CShader::SetPermutationTable(const PermutationDefinition* table, int count) {
    ForgetPrograms();
    if (table == nullptr) {
        count = 0;
    }
    try {
        family.SetPermutationTableForVariants(table, count);
    } catch (const std::exception& error) {
        // A format whose lines do not end in their number cannot be read back.
        spdlog::error("[TavoRenderer] Permutation table rejected: {}", error.what());
        family.SetPermutationTableForVariants(nullptr, 0);
    }
}

void CShader::SetSources(const char* vertexText, const char* vertexAux, const char* fragmentText,
                         const char* fragmentAux) {
    vertex.source = vertexText != nullptr ? vertexText : "";
    vertex.aux = vertexAux != nullptr ? vertexAux : "";
    fragment.source = fragmentText != nullptr ? fragmentText : "";
    fragment.aux = fragmentAux != nullptr ? fragmentAux : "";
    ForgetPrograms();
}

// ---- CTexture

void CTexture::Release() {
    renderer->Forget(this);
    delete this;
}

// ---- CGeometry

void CGeometry::Release() {
    renderer->Forget(this);
    delete this;
}

void CGeometry::Rotate(float x, float y, float z) {
    rotation = rotation * AxisRotation({1.0f, 0.0f, 0.0f}, x) *
               AxisRotation({0.0f, 1.0f, 0.0f}, y) * AxisRotation({0.0f, 0.0f, 1.0f}, z);
}

glm::mat4 CGeometry::Model() const {
    glm::mat4 model(rotation);
    model[3] = glm::vec4(position, 1.0f);
    return model;
}

// ---- CRenderState

void CRenderState::Release() {
    renderer->Forget(this);
    delete this;
}

void CRenderState::Declare(const char* name, int type, int count, bool isModelViewProjection) {
    if (name == nullptr || count < 1) {
        spdlog::warn("[TavoRenderer] Uniform \"{}\" of count {} not declared",
                     name != nullptr ? name : "", count);
        return;
    }
    const int elementSize = ElementSize(type);
    if (isModelViewProjection) {
        matrixUniform = static_cast<int>(uniforms.size());
    }
    uniforms.push_back({name, type, elementSize, count, dataSize});
    dataSize += static_cast<size_t>(elementSize) * static_cast<size_t>(count);
    // Made anew: values set before this declaration are gone.
    data.assign((dataSize + 15) / 16 * 16, 0);
}

void CRenderState::DeclareTexture(const char* name, bool linear, bool repeat) {
    DeclareTextureArray(name, 1, linear, repeat);
}

void CRenderState::DeclareTextureArray(const char* name, int count, bool linear, bool repeat) {
    if (name == nullptr || count < 1) {
        spdlog::warn("[TavoRenderer] Sampler \"{}\" of count {} not declared",
                     name != nullptr ? name : "", count);
        return;
    }
    const int firstUnit = samplers.empty() ? 0 : samplers.back().firstUnit + samplers.back().count;
    const size_t elements = static_cast<size_t>(count);
    samplers.push_back({name, count, std::vector<ITexture*>(elements, nullptr),
                        std::vector<int>(elements, 0), linear, repeat, firstUnit, true});
}

void CRenderState::SetTextures(const char* name, int count, ITexture** list) {
    const auto sampler = std::find_if(samplers.begin(), samplers.end(), [&](const Sampler& s) {
        return name != nullptr && s.name == name;
    });
    if (sampler == samplers.end()) {
        return;
    }
    std::fill(sampler->textures.begin(), sampler->textures.end(), nullptr);
    std::fill(sampler->layers.begin(), sampler->layers.end(), 0);
    size_t element = 0;
    for (int i = 0; list != nullptr && i < count && element < sampler->textures.size(); ++i) {
        ITexture* texture = list[i];
        if (texture == nullptr) {
            continue;
        }
        const int layers = texture->GetLayerCount();
        for (int layer = 0; layer < layers && element < sampler->textures.size(); ++layer) {
            sampler->textures[element] = texture;
            sampler->layers[element] = layer;
            ++element;
        }
    }
    sampler->changed = true;
}

void CRenderState::SetTextureFiltering(const char* name, bool linear) {
    for (Sampler& sampler : samplers) {
        if (name != nullptr && sampler.name == name) {
            sampler.linear = linear;
            sampler.changed = true;
            return;
        }
    }
}

void CRenderState::SetUniformData(const char* name, int type, const void* values, int count) {
    if (name == nullptr || values == nullptr || count < 1) {
        return;
    }
    for (const Uniform& uniform : uniforms) {
        if (uniform.name == name) {
            if (uniform.type != type) {
                return;
            }
            const size_t elements = static_cast<size_t>(std::min(count, uniform.count));
            std::memcpy(data.data() + uniform.offset, values,
                        elements * static_cast<size_t>(uniform.elementSize));
            return;
        }
    }
}

void CRenderState::ForgetTexture(ITexture* texture) {
    for (Sampler& sampler : samplers) {
        std::replace(sampler.textures.begin(), sampler.textures.end(), texture,
                     static_cast<ITexture*>(nullptr));
    }
}

}  // namespace TavoRenderer
