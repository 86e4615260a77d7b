// Costs of the shader fast path, a first-use compile and a full-screen 4K pass on Mesa.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "opengl/eglContext.h"
#include "tavo/opengl/gl.h"
#include "tavo/opengl/glHelpers.h"
#include "tavo/opengl/shader.h"

namespace {

namespace gl = tavo::gl;
using tavo::opengl::Shader;

const Shader::PermutationDefinition kTable[] = {
    {3, "#define MODE %d\n"},     {2, "#define FLIP_U %d\n"},  {2, "#define FLIP_V %d\n"},
    {2, "#define SINGLE %d\n"},   {2, "#define DEBUG_A %d\n"}, {2, "#define DEBUG_B %d\n"},
    {2, "#define USE_HLSL %d\n"},
};

const char* kVertex = R"(layout(location = 0) in vec2 position;
out vec2 uv;
void main() {
    uv = position;
    gl_Position = vec4(position * 2.0 - 1.0, 0.0, 1.0);
}
)";

// About the size of an interlacing program: twelve views, per-subpixel view choice, a few modes.
const char* kInterlaceLikeFragment = R"(in vec2 uv;
out vec4 colour;
uniform sampler2D viewTexture[12];
uniform vec4 viewOffsets[12];
uniform float pitch;
uniform float slant;
uniform float phase;
uniform vec2 resolution;
uniform float alpha;
float viewFor(float subpixel) {
    float v = fract((gl_FragCoord.x * 3.0 + subpixel + gl_FragCoord.y * slant) / pitch + phase);
    return v * 12.0;
}
vec3 sampleView(int index, vec2 at) {
    vec2 p = at + viewOffsets[index].xy;
#if FLIP_U == 1
    p.x = 1.0 - p.x;
#endif
#if FLIP_V == 1
    p.y = 1.0 - p.y;
#endif
    if (index == 0) return texture(viewTexture[0], p).rgb;
    if (index == 1) return texture(viewTexture[1], p).rgb;
    if (index == 2) return texture(viewTexture[2], p).rgb;
    if (index == 3) return texture(viewTexture[3], p).rgb;
    if (index == 4) return texture(viewTexture[4], p).rgb;
    if (index == 5) return texture(viewTexture[5], p).rgb;
    if (index == 6) return texture(viewTexture[6], p).rgb;
    if (index == 7) return texture(viewTexture[7], p).rgb;
    if (index == 8) return texture(viewTexture[8], p).rgb;
    if (index == 9) return texture(viewTexture[9], p).rgb;
    if (index == 10) return texture(viewTexture[10], p).rgb;
    return texture(viewTexture[11], p).rgb;
}
void main() {
    vec3 result;
    for (int s = 0; s < 3; ++s) {
        float v = viewFor(float(s));
        int a = int(floor(v)) % 12;
        int b = (a + 1) % 12;
        float t = fract(v);
#if MODE == 0
        vec3 mixed = mix(sampleView(a, uv), sampleView(b, uv), t);
#elif MODE == 1
        vec3 mixed = sampleView(t < 0.5 ? a : b, uv);
#else
        vec3 mixed = vec3(v / 12.0);
#endif
        result[s] = mixed[s];
    }
#if DEBUG_A == 1
    result = vec3(uv, 0.0);
#endif
#if DEBUG_B == 1
    result = 1.0 - result;
#endif
    colour = vec4(result, alpha);
}
)";

void SetUpInterlaceLike(Shader& shader) {
    shader.vertexPrefix = "#version 330 core";
    shader.fragmentPrefix = "#version 330 core";
    shader.CreateVariant(0, "#define VARIANT_VIEWS 1", false);
    shader.SetPermutationTableForVariants(kTable, 7);
    shader.CacheShaderText(kVertex, kInterlaceLikeFragment);
}

struct GlSetUp {
    GlSetUp() {
        if (!context.ok()) {
            std::fprintf(stderr, "%s\n", context.error().c_str());
            return;
        }
        OVR::GLEContext::GetCurrentContext()->Init();
    }
    tavo::test::EglContext context;
};

GlSetUp& Gl() {
    static GlSetUp setUp;
    return setUp;
}

void BM_UseVariantWithPermutationsCached(benchmark::State& state) {
    if (!Gl().context.ok()) {
        state.SkipWithError("no EGL context");
        return;
    }
    Shader shader;
    SetUpInterlaceLike(shader);
    const std::vector<unsigned> permutation = {1, 0, 1, 0, 0, 0, 0};
    shader.UseVariantWithPermutations(0, permutation);
    for (auto _ : state) {
        shader.UseVariantWithPermutations(0, permutation);
        benchmark::DoNotOptimize(shader.programId);
    }
}
BENCHMARK(BM_UseVariantWithPermutationsCached);

// The driver's share of the call above.
void BM_UseProgramAlone(benchmark::State& state) {
    if (!Gl().context.ok()) {
        state.SkipWithError("no EGL context");
        return;
    }
    Shader shader;
    SetUpInterlaceLike(shader);
    shader.UseVariantWithPermutations(0, {1, 0, 1, 0, 0, 0, 0});
    const GLuint program = shader.programId;
    for (auto _ : state) {
        gl::UseProgram(program);
    }
}
BENCHMARK(BM_UseProgramAlone);

void BM_FirstUseCompileInterlaceSized(benchmark::State& state) {
    if (!Gl().context.ok()) {
        state.SkipWithError("no EGL context");
        return;
    }
    for (auto _ : state) {
        Shader shader;
        SetUpInterlaceLike(shader);
        shader.UseVariantWithPermutations(0, {0, 1, 0, 0, 0, 0, 0});
        gl::Finish();
        state.PauseTiming();
        gl::UseProgram(0u);
        gl::DeleteProgram(shader.programId);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstUseCompileInterlaceSized)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_FullScreenTexturedPass4K(benchmark::State& state) {
    if (!Gl().context.ok()) {
        state.SkipWithError("no EGL context");
        return;
    }
    constexpr int kWidth = 3840;
    constexpr int kHeight = 2160;
    GLuint sourceFramebuffer = 0, source = 0, sourceDepth = 0;
    tavo::opengl::CreateRenderTarget(kWidth, kHeight, false, &sourceFramebuffer, &source,
                                     &sourceDepth, false);
    gl::ClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    gl::Clear(GLbitfield{GL_COLOR_BUFFER_BIT});
    GLuint framebuffer = 0, target = 0, depth = 0;
    if (!tavo::opengl::CreateRenderTarget(kWidth, kHeight, true, &framebuffer, &target, &depth,
                                          false)) {
        state.SkipWithError("render target incomplete");
        return;
    }
    Shader shader;
    shader.vertexPrefix = shader.fragmentPrefix = "#version 330 core";
    shader.CreateVariant(0, "", true);
    shader.CacheShaderText(kVertex, R"(in vec2 uv;
out vec4 colour;
uniform sampler2D viewTexture;
uniform float alpha;
void main() { colour = vec4(texture(viewTexture, uv).rgb, alpha); }
)");
    GLuint vertexArray = 0, vertexBuffer = 0, indexBuffer = 0;
    tavo::opengl::CreateRectangularTexCoordVertexArray(0, 0, 1, 1, vertexArray, vertexBuffer,
                                                       indexBuffer);
    gl::ActiveTexture(GLenum{GL_TEXTURE0});
    gl::BindTexture(GLenum{GL_TEXTURE_2D}, source);
    gl::Viewport(0, 0, kWidth, kHeight);
    shader.UseVariantWithPermutations(0, {});
    shader.SetFloat("alpha", 1.0f, false);
    for (auto _ : state) {
        tavo::opengl::SavedOpenGLState saved{};
        tavo::opengl::SaveOpenGLState(saved, 1, 16);
        gl::BindFramebuffer(GLenum{GL_FRAMEBUFFER}, framebuffer);
        shader.UseVariantWithPermutations(0, {});
        gl::DrawElements(GLenum{GL_TRIANGLES}, 6, GLenum{GL_UNSIGNED_INT}, nullptr);
        tavo::opengl::RestoreOpenGLState(saved);
        gl::Finish();
    }
    state.counters["pixels/s"] = benchmark::Counter(
        static_cast<double>(kWidth) * kHeight * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FullScreenTexturedPass4K)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
