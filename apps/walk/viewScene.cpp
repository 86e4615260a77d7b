#include "apps/walk/viewScene.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

#include <glm/glm.hpp>

#include "TavoRenderer/TavoRenderer.h"

namespace tavo::apps::walk {
namespace {

constexpr const char* kHeader = "#version 330 core";
constexpr const char* kVertex = R"(
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 texCoord;
uniform mat4 mvp;
uniform mat4 model;
out vec3 worldNormal;
out vec2 uv;
void main() {
    worldNormal = mat3(model) * normal;
    uv = texCoord;
    gl_Position = mvp * vec4(position, 1.0);
})";
// Lambert light and a faint checker, so that flat faces show their depth too.
constexpr const char* kFragment = R"(
in vec3 worldNormal;
in vec2 uv;
uniform vec3 tint;
uniform vec3 lightDirection;
out vec4 outColor;
void main() {
    float diffuse = max(dot(normalize(worldNormal), normalize(-lightDirection)), 0.0);
    float checker = mod(floor(uv.x * 4.0) + floor(uv.y * 4.0), 2.0);
    outColor = vec4(tint * (0.3 + 0.7 * diffuse) * (0.85 + 0.15 * checker), 1.0);
})";

// Millimetres; the camera sits at the origin looking along +Y, world up +Z.
constexpr float kFocusMm = 600.0f;
constexpr float kFovY = 0.55f;

struct Box {
    glm::vec3 size;
    glm::vec3 position;
    float turn;
    glm::vec3 tint;
};
constexpr Box kBoxes[] = {
    {{2000.0f, 2000.0f, 20.0f}, {0.0f, 900.0f, -130.0f}, 0.0f, {0.55f, 0.6f, 0.5f}},
    {{90.0f, 90.0f, 90.0f}, {-90.0f, 480.0f, -60.0f}, 0.5f, {1.0f, 0.5f, 0.3f}},
    {{110.0f, 110.0f, 200.0f}, {60.0f, 620.0f, -20.0f}, -0.3f, {0.4f, 0.65f, 1.0f}},
    {{160.0f, 80.0f, 80.0f}, {190.0f, 820.0f, -80.0f}, 0.8f, {0.95f, 0.85f, 0.4f}},
    {{70.0f, 70.0f, 70.0f}, {-200.0f, 1000.0f, 40.0f}, 0.2f, {0.75f, 0.45f, 0.9f}},
};

}  // namespace

ViewScene::ViewScene(int width, int height) : width_(width), height_(height) {
    using namespace TavoRenderer;
    renderer_ = CreateRenderer(kGraphicsAPIOpenGL);
    if (renderer_ == nullptr)
        throw std::runtime_error("TavoRenderer did not start (the log says why)");
    target_ = renderer_->CreateTexture(width, height, 1, 1, kTextureRenderTarget | kTextureDepth,
                                       nullptr);
    IShader* shader = renderer_->CreateShader(kVertex, nullptr, kFragment, nullptr);
    if (target_ == nullptr || shader == nullptr) {
        renderer_->Release();
        throw std::runtime_error("TavoRenderer could not make the scene's target or shader");
    }
    shader->SetVertexHeader(kHeader);
    shader->SetFragmentHeader(kHeader);
    const glm::vec3 light = glm::normalize(glm::vec3(-0.4f, 0.7f, -1.0f));
    for (const Box& box : kBoxes) {
        IRenderState* state = renderer_->CreateRenderState(shader);
        state->DeclareMatrix("mvp", true);
        state->DeclareMatrix("model", false);
        state->DeclareVec3("tint");
        state->DeclareVec3("lightDirection");
        state->SetVec3("tint", box.tint);
        state->SetVec3("lightDirection", light);
        IGeometry* geometry = renderer_->CreateBox(box.size, state, true);
        geometry->SetPosition(box.position);
        geometry->Rotate(0.0f, 0.0f, box.turn);
        // The renderer turns clockwise seen from +Z for a positive angle: the normals' model
        // matrix is the same turn.
        glm::mat4 model(glm::mat3(std::cos(box.turn), -std::sin(box.turn), 0.0f, std::sin(box.turn),
                                  std::cos(box.turn), 0.0f, 0.0f, 0.0f, 1.0f));
        state->SetMatrix("model", model);
    }
    renderer_->SetWindowSize(width, height);
    renderer_->SetCameraDirection({0.0f, 1.0f, 0.0f});
}

ViewScene::~ViewScene() {
    renderer_->Release();
}

std::vector<Picture> ViewScene::Render(const std::vector<glm::vec3>& offsets) {
    auto* opengl = dynamic_cast<TavoRenderer::IRendererOpenGL*>(renderer_);
    std::vector<Picture> pictures;
    for (const glm::vec3& offset : offsets) {
        // Offset x is the camera's right, y its up.
        renderer_->SetCameraPosition({offset.x, 0.0f, offset.y});
        renderer_->SetProjection(kFovY, 0.0f, 10.0f, 5000.0f, -offset.x / kFocusMm,
                                 -offset.y / kFocusMm);
        renderer_->Clear(target_, 0.12f, 0.14f, 0.18f, 1.0f);
        renderer_->RenderScene(target_);
        Picture picture{width_, height_,
                        std::vector<uint8_t>(static_cast<size_t>(width_) * height_ * 4)};
        opengl->BindTarget(target_);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, picture.rgba.data());
        opengl->BindTarget(nullptr);
        // GL's rows run bottom to top; a picture starts at the top.
        const size_t stride = static_cast<size_t>(width_) * 4;
        std::vector<uint8_t> row(stride);
        for (int y = 0; y < height_ / 2; ++y) {
            uint8_t* a = picture.rgba.data() + y * stride;
            uint8_t* b = picture.rgba.data() + (height_ - 1 - y) * stride;
            std::memcpy(row.data(), a, stride);
            std::memcpy(a, b, stride);
            std::memcpy(b, row.data(), stride);
        }
        pictures.push_back(std::move(picture));
    }
    renderer_->SetCameraPosition({0.0f, 0.0f, 0.0f});
    return pictures;
}

}  // namespace tavo::apps::walk
