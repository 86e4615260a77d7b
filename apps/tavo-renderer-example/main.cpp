// Example: a lit, textured box scene drawn with TavoRenderer on a headless EGL context, the
// camera turning slowly around it; every presented frame is written as a PNG.
//
//     tavo-renderer-example [frames] [output folder]
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <glm/glm.hpp>
#include <glm/gtc/constants.hpp>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "TavoRenderer/TavoRenderer.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;

constexpr const char* kHeader = "#version 330 core";

constexpr const char* kSceneVertex = R"(
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 texCoord;
uniform mat4 mvp;
uniform mat4 model;
out vec3 worldNormal;
out vec3 worldPosition;
out vec2 uv;
void main() {
    worldNormal = mat3(model) * normal;
    worldPosition = (model * vec4(position, 1.0)).xyz;
    uv = texCoord;
    gl_Position = mvp * vec4(position, 1.0);
})";

constexpr const char* kSceneFragment = R"(
in vec3 worldNormal;
in vec3 worldPosition;
in vec2 uv;
uniform sampler2D albedo;
uniform vec3 tint;
uniform vec2 uvScale;
uniform vec3 lightDirection;
uniform vec3 cameraPosition;
out vec4 outColor;
void main() {
    vec3 n = normalize(worldNormal);
    vec3 l = normalize(-lightDirection);
    vec3 v = normalize(cameraPosition - worldPosition);
    vec3 base = texture(albedo, uv * uvScale).rgb * tint;
    float diffuse = max(dot(n, l), 0.0);
    float specular = pow(max(dot(n, normalize(l + v)), 0.0), 32.0) * 0.35;
    outColor = vec4(base * (0.25 + 0.75 * diffuse) + specular, 1.0);
})";

// The sky: a full-screen pass, the unit square's corner as the gradient's coordinate.
constexpr const char* kSkyVertex = R"(
layout(location = 0) in vec2 corner;
out float height;
void main() { height = corner.y; gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0); })";

constexpr const char* kSkyFragment = R"(
in float height;
uniform vec3 horizon;
uniform vec3 zenith;
out vec4 outColor;
void main() { outColor = vec4(mix(horizon, zenith, height), 1.0); })";

// A headless OpenGL 3.3 core context on Mesa's surfaceless platform.
struct HeadlessContext {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;

    bool Create() {
        auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay == nullptr) {
            return false;
        }
        display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display == EGL_NO_DISPLAY || eglInitialize(display, nullptr, nullptr) == EGL_FALSE ||
            eglBindAPI(EGL_OPENGL_API) == EGL_FALSE) {
            return false;
        }
        const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                     3,
                                     EGL_CONTEXT_MINOR_VERSION,
                                     3,
                                     EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                     EGL_NONE};
        context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
        return context != EGL_NO_CONTEXT &&
               eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE;
    }
    ~HeadlessContext() {
        if (display != EGL_NO_DISPLAY) {
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            if (context != EGL_NO_CONTEXT) {
                eglDestroyContext(display, context);
            }
            // Not eglTerminate: Mesa would unload its driver with allocations still held there,
            // which leak checkers report as lost.
            eglReleaseThread();
        }
    }
};

// A tiled stone-like pattern: grout lines and a little per-tile variation. RGBA, 4-byte rows.
std::vector<unsigned char> TileTexture(int size) {
    std::vector<unsigned char> pixels(static_cast<size_t>(size * size * 4));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int tile = (x / 16) * 7 + (y / 16) * 13;
            const bool grout = x % 16 == 0 || y % 16 == 0;
            const int shade = grout ? 70 : 190 + (tile * 37) % 50 + ((x * y) % 7);
            unsigned char* p = &pixels[static_cast<size_t>((y * size + x) * 4)];
            p[0] = static_cast<unsigned char>(shade);
            p[1] = static_cast<unsigned char>(shade);
            p[2] = static_cast<unsigned char>(shade);
            p[3] = 255;
        }
    }
    return pixels;
}

struct SceneBox {
    glm::vec3 size;
    glm::vec3 position;
    float turn;  // about +Z, radians
    glm::vec3 tint;
    glm::vec2 uvScale;
};

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 12;
    const std::filesystem::path folder = argc > 2 ? argv[2] : ".";
    std::filesystem::create_directories(folder);

    HeadlessContext headless;
    if (!headless.Create()) {
        std::fprintf(stderr, "No headless OpenGL 3.3 context (EGL error 0x%04x)\n", eglGetError());
        return 1;
    }
    using namespace TavoRenderer;
    IRenderer* renderer = CreateRenderer(kGraphicsAPIOpenGL);
    if (renderer == nullptr) {
        std::fprintf(stderr, "CreateRenderer failed\n");
        return 1;
    }
    auto* opengl = dynamic_cast<IRendererOpenGL*>(renderer);

    ITexture* target = renderer->CreateTexture(kWidth, kHeight, 1, 1,
                                               kTextureRenderTarget | kTextureDepth, nullptr);
    const std::vector<unsigned char> tiles = TileTexture(64);
    ITexture* stone = renderer->CreateTexture(64, 64, 1, 1, kTextureColor, tiles.data());

    IShader* sky = renderer->CreateShader(kSkyVertex, nullptr, kSkyFragment, nullptr);
    IShader* lit = renderer->CreateShader(kSceneVertex, nullptr, kSceneFragment, nullptr);
    for (IShader* shader : {sky, lit}) {
        shader->SetVertexHeader(kHeader);
        shader->SetFragmentHeader(kHeader);
    }
    IRenderState* skyState = renderer->CreateRenderState(sky);
    skyState->DeclareVec3("horizon");
    skyState->DeclareVec3("zenith");
    skyState->SetVec3("horizon", {0.85f, 0.80f, 0.72f});
    skyState->SetVec3("zenith", {0.25f, 0.45f, 0.75f});

    const glm::vec3 light = glm::normalize(glm::vec3(-0.5f, 0.8f, -1.0f));
    const SceneBox boxes[] = {
        {{9.0f, 9.0f, 0.2f}, {0.0f, 0.0f, -0.6f}, 0.0f, {0.75f, 0.85f, 0.70f}, {4.0f, 4.0f}},
        {{1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, 0.3f, {1.0f, 0.55f, 0.35f}, {1.0f, 1.0f}},
        {{0.7f, 0.7f, 2.2f}, {-1.8f, 1.2f, 0.6f}, -0.2f, {0.55f, 0.75f, 1.0f}, {1.0f, 2.0f}},
        {{1.6f, 0.6f, 0.6f}, {1.7f, -1.0f, -0.2f}, 0.9f, {0.95f, 0.9f, 0.5f}, {2.0f, 1.0f}},
        {{0.5f, 0.5f, 0.5f}, {0.2f, -1.9f, -0.25f}, 0.6f, {0.8f, 0.5f, 0.9f}, {1.0f, 1.0f}},
    };
    std::vector<IRenderState*> boxStates;
    for (const SceneBox& box : boxes) {
        // One state per box: the model matrix and tint are the box's own; the matrix declared
        // for the model-view-projection is filled by the renderer when it draws.
        IRenderState* state = renderer->CreateRenderState(lit);
        state->DeclareMatrix("mvp", true);
        state->DeclareMatrix("model", false);
        state->DeclareVec3("tint");
        state->DeclareVec2("uvScale");
        state->DeclareVec3("lightDirection");
        state->DeclareVec3("cameraPosition");
        state->DeclareTexture("albedo", true, true);
        state->SetTexture("albedo", stone);
        state->SetVec3("tint", box.tint);
        state->SetVec2("uvScale", box.uvScale);
        state->SetVec3("lightDirection", light);
        IGeometry* geometry = renderer->CreateBox(box.size, state, true);
        geometry->SetPosition(box.position);
        // The renderer's rotation turns clockwise seen from +Z for a positive angle.
        geometry->Rotate(0.0f, 0.0f, box.turn);
        glm::mat4 model(glm::mat3(glm::cos(box.turn), -glm::sin(box.turn), 0.0f, glm::sin(box.turn),
                                  glm::cos(box.turn), 0.0f, 0.0f, 0.0f, 1.0f));
        model[3] = glm::vec4(box.position, 1.0f);
        state->SetMatrix("model", model);
        boxStates.push_back(state);
    }

    renderer->SetWindowSize(kWidth, kHeight);
    renderer->SetProjection(glm::radians(50.0f), 0.0f, 0.1f, 100.0f, 0.0f, 0.0f);

    // Headless, "presenting" a frame means saving it: the swap function reads the target back.
    int frame = 0;
    bool saved = true;
    std::vector<unsigned char> pixels(static_cast<size_t>(kWidth * kHeight * 4));
    opengl->SetSwapFunction([&](HDC) {
        opengl->BindTarget(target);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        opengl->BindTarget(nullptr);
        char name[64];
        std::snprintf(name, sizeof(name), "renderer-frame-%02d.png", frame);
        const std::string path = (folder / name).string();
        stbi_flip_vertically_on_write(1);  // GL rows run bottom to top
        if (stbi_write_png(path.c_str(), kWidth, kHeight, 4, pixels.data(), kWidth * 4) == 0) {
            std::fprintf(stderr, "Cannot write %s\n", path.c_str());
            saved = false;
        } else {
            std::printf("%s\n", path.c_str());
        }
    });

    for (frame = 0; frame < frames && saved; ++frame) {
        // A slow orbit: four degrees a frame around the scene, looking at its centre.
        const float angle = glm::radians(-100.0f + 4.0f * static_cast<float>(frame));
        const glm::vec3 eye(6.5f * std::cos(angle), 6.5f * std::sin(angle), 2.8f);
        renderer->SetCameraPosition(eye);
        renderer->SetCameraDirection(glm::vec3(0.0f, 0.0f, 0.2f) - eye);
        for (IRenderState* state : boxStates) {
            state->SetVec3("cameraPosition", eye);
        }
        renderer->Clear(target, 0.0f, 0.0f, 0.0f, 1.0f);
        renderer->RenderFullScreen(skyState, target);
        renderer->RenderScene(target);
        opengl->Present(nullptr);
    }

    // A frame of one colour means the scene was not drawn.
    bool varied = false;
    for (size_t i = 4; i < pixels.size() && !varied; i += 4) {
        varied = pixels[i] != pixels[0] || pixels[i + 1] != pixels[1] || pixels[i + 2] != pixels[2];
    }
    renderer->Release();
    if (!saved || !varied) {
        std::fprintf(stderr, "%s\n", saved ? "The frames hold a single colour" : "Saving failed");
        return 1;
    }
    return 0;
}
