// Tests of Shader: permutation tables, lazy compiles, failures, uniforms and real drawing.
#include "tavo/opengl/shader.h"

#include <EGL/egl.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "opengl/eglContext.h"
#include "tavo/common/exception.h"
#include "tavo/opengl/gl.h"
#include "tavo/opengl/glHelpers.h"

namespace {

namespace gl = tavo::gl;
using tavo::opengl::Shader;

const Shader::PermutationDefinition kInterlaceLikeTable[] = {
    {3, "#define MODE %d\n"},     {2, "#define FLIP_U %d\n"},  {2, "#define FLIP_V %d\n"},
    {2, "#define SINGLE %d\n"},   {2, "#define DEBUG_A %d\n"}, {2, "#define DEBUG_B %d\n"},
    {2, "#define USE_HLSL %d\n"},
};

TEST(ShaderPermutations, TableBuildsEveryCombinationInMixedRadixOrder) {
    Shader shader;
    shader.CreateVariant(0, "#define A 1", false);
    shader.SetPermutationTableForVariants(kInterlaceLikeTable, 7);
    ASSERT_EQ(shader.permutations.size(), 192u);
    ASSERT_EQ(shader.permutationDefinitions.size(), 7u);
    EXPECT_EQ(shader.permutations[0].text,
              "#define MODE 0\n#define FLIP_U 0\n#define FLIP_V 0\n#define SINGLE 0\n"
              "#define DEBUG_A 0\n#define DEBUG_B 0\n#define USE_HLSL 0\n");
    EXPECT_EQ(shader.variants[0].programs.size(), 192u);
    const std::vector<unsigned> values = {2, 1, 0, 1, 1, 0, 1};
    EXPECT_EQ(shader.GetOffsetForVariantPermutation(values), 173);
    EXPECT_EQ(shader.permutations[173].values, std::vector<uint32_t>(values.begin(), values.end()));
    EXPECT_EQ(shader.GetOffsetForVariantPermutation({}), 0);
    for (size_t i = 0; i < shader.permutations.size(); ++i) {
        const auto& v = shader.permutations[i].values;
        EXPECT_EQ(shader.GetOffsetForVariantPermutation({v.begin(), v.end()}), static_cast<int>(i));
    }
}

TEST(ShaderPermutations, ReinstallingResetsSlotsAndLateVariantsGetSlots) {
    Shader shader;
    shader.CreateVariant(0, "#define A 1", false);
    shader.SetPermutationTableForVariants(kInterlaceLikeTable, 2);
    EXPECT_EQ(shader.permutations.size(), 6u);
    shader.variants[0].programs[3] = 42;
    shader.SetPermutationTableForVariants(kInterlaceLikeTable, 1);
    EXPECT_EQ(shader.variants[0].programs, std::vector<uint32_t>(3, 0));
    shader.CreateVariant(1, "#define B 1", true);
    EXPECT_EQ(shader.variants[1].programs.size(), 3u);
    shader.SetPermutationTableForVariants(nullptr, 0);
    EXPECT_EQ(shader.permutations.size(), 1u);
    EXPECT_TRUE(shader.permutations[0].text.empty());
}

TEST(ShaderPermutations, UnparsableDefineLineRaisesStoiError) {
    const Shader::PermutationDefinition table[] = {{2, "#define BROKEN x%d\n"}};
    Shader shader;
    EXPECT_THROW(shader.SetPermutationTableForVariants(table, 1), std::invalid_argument);
}

// Captures the default logger's output for one test.
class LogCapture {
  public:
    LogCapture() : previous_(spdlog::default_logger()) {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(stream_);
        sink->set_pattern("%v");
        spdlog::set_default_logger(std::make_shared<spdlog::logger>("capture", sink));
    }
    ~LogCapture() { spdlog::set_default_logger(previous_); }
    std::string text() const { return stream_.str(); }

  private:
    std::ostringstream stream_;
    std::shared_ptr<spdlog::logger> previous_;
};

// Counts programs made through the calling thread's table.
thread_local int createdPrograms = 0;
thread_local PFNGLCREATEPROGRAMPROC realCreateProgram = nullptr;
GLuint APIENTRY CountingCreateProgram() {
    ++createdPrograms;
    return realCreateProgram();
}
void CountProgramCreation() {
    OVR::GLEContext* c = OVR::GLEContext::GetCurrentContext();
    realCreateProgram = c->glCreateProgram_Impl;
    c->glCreateProgram_Impl = &CountingCreateProgram;
    createdPrograms = 0;
}

const char* kVertex = R"(layout(location = 0) in vec2 position;
out vec2 uv;
void main() {
    uv = position;
    gl_Position = vec4(position * 2.0 - 1.0, 0.0, 1.0);
}
)";

// Left half: red from view texture 1; right half: BASE. Green and blue come from the switches.
const char* kFragment = R"(in vec2 uv;
out vec4 colour;
uniform sampler2D viewTexture[12];
void main() {
    float red = uv.x < 0.5 ? texture(viewTexture[1], uv).r : BASE;
    colour = vec4(red, USE_GREEN == 1 ? 1.0 : 0.0, float(BLUE_LEVEL) / 2.0, 1.0);
}
)";

const Shader::PermutationDefinition kColourTable[] = {
    {2, "#define USE_GREEN %d\n"},
    {3, "#define BLUE_LEVEL %d\n"},
};

void SetUpColourShader(Shader& shader) {
    shader.vertexPrefix = "#version 330 core";
    shader.fragmentPrefix = "#version 330 core";
    shader.CreateVariant(0, "#define BASE 0.25", false);
    shader.CreateVariant(1, "#define BASE 0.75", false);
    shader.SetPermutationTableForVariants(kColourTable, 2);
    shader.CacheShaderText(kVertex, kFragment);
}

tavo::test::Image ExpectedColourImage(int size, float base, unsigned green, unsigned blue,
                                      int textureRed) {
    tavo::test::Image image;
    image.width = size;
    image.height = size;
    image.pixels.resize(static_cast<size_t>(size * size * 4));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            char* p = &image.pixels[static_cast<size_t>((y * size + x) * 4)];
            const bool left = (x + 0.5f) / static_cast<float>(size) < 0.5f;
            p[0] = static_cast<char>(left ? textureRed : std::lround(base * 255.0f));
            p[1] = static_cast<char>(green == 1 ? 255 : 0);
            p[2] = static_cast<char>(std::lround(static_cast<float>(blue) / 2.0f * 255.0f));
            p[3] = static_cast<char>(255);
        }
    }
    return image;
}

// Draws the colour shader's pair into a fresh render target and returns what it holds.
tavo::test::Image DrawColourPair(Shader& shader, int variant, unsigned green, unsigned blue,
                                 int size, int textureRed) {
    GLuint framebuffer = 0, target = 0, depth = 0;
    EXPECT_TRUE(
        tavo::opengl::CreateRenderTarget(size, size, true, &framebuffer, &target, &depth, false));
    GLuint view = 0;
    gl::GenTextures(1, &view);
    gl::ActiveTexture(GLenum{GL_TEXTURE1});
    gl::BindTexture(GLenum{GL_TEXTURE_2D}, view);
    const unsigned char texel[4] = {static_cast<unsigned char>(textureRed), 0, 0, 255};
    gl::TexImage2D(GLenum{GL_TEXTURE_2D}, 0, GLint{GL_RGBA}, 1, 1, 0, GLenum{GL_RGBA},
                   GLenum{GL_UNSIGNED_BYTE}, texel);
    gl::TexParameteri(GLenum{GL_TEXTURE_2D}, GLenum{GL_TEXTURE_MIN_FILTER}, GLint{GL_NEAREST});
    gl::TexParameteri(GLenum{GL_TEXTURE_2D}, GLenum{GL_TEXTURE_MAG_FILTER}, GLint{GL_NEAREST});
    gl::ActiveTexture(GLenum{GL_TEXTURE0});

    GLuint vertexArray = 0, vertexBuffer = 0, indexBuffer = 0;
    tavo::opengl::CreateRectangularTexCoordVertexArray(0, 0, 1, 1, vertexArray, vertexBuffer,
                                                       indexBuffer);
    gl::Viewport(0, 0, size, size);
    shader.UseVariantWithPermutations(variant, {green, blue});
    gl::DrawElements(GLenum{GL_TRIANGLES}, 6, GLenum{GL_UNSIGNED_INT}, nullptr);
    tavo::test::Image image = tavo::test::ReadPixels(size, size);

    gl::BindVertexArray(0u);
    gl::DeleteVertexArrays(1, &vertexArray);
    gl::DeleteBuffers(1, &vertexBuffer);
    gl::DeleteBuffers(1, &indexBuffer);
    gl::BindFramebuffer(GLenum{GL_FRAMEBUFFER}, 0u);
    gl::DeleteFramebuffers(1, &framebuffer);
    gl::DeleteRenderbuffers(1, &depth);
    gl::DeleteTextures(1, &target);
    gl::DeleteTextures(1, &view);
    return image;
}

class ShaderGlTest : public tavo::test::GlTest {};

TEST_F(ShaderGlTest, VariantAndPermutationDrawTheirDefinesPixelByPixel) {
    Shader shader;
    SetUpColourShader(shader);
    const tavo::test::Image first = DrawColourPair(shader, 0, 1, 2, 16, 200);
    EXPECT_EQ(tavo::test::CompareImages(first, ExpectedColourImage(16, 0.25f, 1, 2, 200), 1,
                                        "shader_variant0_g1_b2"),
              "");
    const tavo::test::Image second = DrawColourPair(shader, 1, 0, 1, 16, 60);
    EXPECT_EQ(tavo::test::CompareImages(second, ExpectedColourImage(16, 0.75f, 0, 1, 60), 1,
                                        "shader_variant1_g0_b1"),
              "");
    EXPECT_EQ(gl::GetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ShaderGlTest, PairIsCompiledOnceForTwoUses) {
    Shader shader;
    SetUpColourShader(shader);
    CountProgramCreation();
    shader.UseVariantWithPermutations(0, {1, 1});
    const uint32_t program = shader.programId;
    shader.UseVariantWithPermutations(0, {1, 1});
    EXPECT_EQ(createdPrograms, 1);
    EXPECT_EQ(shader.programId, program);
    EXPECT_NE(program, 0u);
    GLint current = 0;
    gl::GetIntegerv(GLenum{GL_CURRENT_PROGRAM}, &current);
    EXPECT_EQ(static_cast<uint32_t>(current), program);
    shader.UseVariantWithPermutations(0, {0, 1});
    EXPECT_EQ(createdPrograms, 2);
    EXPECT_NE(shader.programId, program);
}

TEST_F(ShaderGlTest, OutOfRangeVariantOrPermutationIsRejected) {
    Shader shader;
    SetUpColourShader(shader);
    EXPECT_THROW(shader.UseVariantWithPermutations(2, {0, 0}), tavo::Exception);
    EXPECT_THROW(shader.UseVariantWithPermutations(0, {2, 0}), tavo::Exception);
}

TEST_F(ShaderGlTest, FailedCompileIsLoggedAndKeepsItsSlot) {
    Shader shader;
    shader.vertexPrefix = shader.fragmentPrefix = "#version 330 core";
    shader.CreateVariant(0, "#define X 1", false);
    shader.SetPermutationTableForVariants(kColourTable, 2);
    shader.CacheShaderText(kVertex, "out vec4 colour; void main() { colour = undefinedThing; }");
    CountProgramCreation();
    LogCapture log;
    shader.UseVariantWithPermutations(0, {0, 0});
    EXPECT_NE(log.text().find("[SDK] ERROR::SHADER: Compile-time error: Type: FRAGMENT\n "),
              std::string::npos)
        << log.text();
    EXPECT_NE(shader.variants[0].programs[0], 0u);
    shader.UseVariantWithPermutations(0, {0, 0});
    EXPECT_EQ(createdPrograms, 1);
}

TEST_F(ShaderGlTest, FailedLinkIsLoggedAndNotRetried) {
    Shader shader;
    shader.vertexPrefix = shader.fragmentPrefix = "#version 330 core";
    shader.CreateVariant(0, "", true);
    shader.CacheShaderText("void main() { gl_Position = vec4(0.0); }",
                           "out vec4 colour; void helper() { colour = vec4(1.0); }");
    CountProgramCreation();
    LogCapture log;
    shader.UseVariantWithPermutations(0, {});
    const std::string text = log.text();
    EXPECT_NE(text.find("[SDK] ERROR::SHADER: Compile-time error: Type: PROGRAM\n "),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Type: VERTEX"), std::string::npos);
    EXPECT_NE(shader.programId, 0u);
    shader.UseVariantWithPermutations(0, {});
    EXPECT_EQ(createdPrograms, 1);
}

TEST_F(ShaderGlTest, WithoutVariantsCompilesIntoProgramIdThroughTemporaryVariant) {
    Shader shader;
    shader.vertexPrefix = shader.fragmentPrefix = "#version 330 core";
    shader.CompileFromText(kVertex, "out vec4 colour; void main() { colour = vec4(1.0); }", nullptr,
                           0, {});
    EXPECT_NE(shader.programId, 0u);
    EXPECT_TRUE(shader.variants.empty());
    EXPECT_EQ(shader.Use(), shader.programId);
}

TEST_F(ShaderGlTest, CompileFromFileReadsFilesOrReportsTheFailure) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tavo-shader-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "a.vshader") << "#version 330 core\n" << kVertex;
    std::ofstream(folder / "a.pshader")
        << "#version 330 core\nout vec4 colour; void main() { colour = vec4(1.0); }\n";

    Shader missing;
    testing::internal::CaptureStdout();
    missing.CompileFromFile((folder / "a.vshader").c_str(), (folder / "none.pshader").c_str(),
                            nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR::SHADER::FILE_NOT_SUCCESFULLY_READ\n");
    EXPECT_EQ(missing.programId, 0u);

    Shader found;
    found.CompileFromFile((folder / "a.vshader").c_str(), (folder / "a.pshader").c_str(), nullptr);
    EXPECT_NE(found.programId, 0u);
    EXPECT_NE(found.vertexText.find("gl_Position"), std::string::npos);
    EXPECT_TRUE(found.geometryText.empty());
    std::filesystem::remove_all(folder);
}

TEST_F(ShaderGlTest, UniformSettersWriteTheirValues) {
    Shader shader;
    shader.vertexPrefix = shader.fragmentPrefix = "#version 330 core";
    shader.CompileFromText(kVertex, R"(out vec4 colour;
uniform float f; uniform float fa[3]; uniform int i; uniform vec2 v2; uniform vec3 v3;
uniform vec4 v4; uniform mat4 m; uniform vec4 arr[12];
void main() {
    vec4 sum = vec4(f + fa[0] + fa[1] + fa[2] + float(i), v2, 0.0) + vec4(v3, 0.0) + v4 + m[1];
    for (int k = 0; k < 12; ++k) sum += arr[k];
    colour = sum;
})",
                           nullptr, 0, {});
    ASSERT_NE(shader.programId, 0u);
    auto getUniform = reinterpret_cast<PFNGLGETUNIFORMFVPROC>(eglGetProcAddress("glGetUniformfv"));
    auto getUniformI = reinterpret_cast<PFNGLGETUNIFORMIVPROC>(eglGetProcAddress("glGetUniformiv"));
    ASSERT_NE(getUniform, nullptr);
    const GLuint p = shader.programId;
    auto read = [&](const char* name, int n) {
        std::vector<float> values(16, 0.0f);
        getUniform(p, gl::GetUniformLocation(p, name), values.data());
        values.resize(static_cast<size_t>(n));
        return values;
    };
    shader.SetFloat("f", 1.5f, true);
    float fa[3] = {1, 2, 3};
    shader.SetFloatArray("fa", fa, 3, false);
    shader.SetInteger("i", 7, false);
    shader.SetVector2f("v2", glm::vec2(1, 2), false);
    shader.SetVector3f("v3", 3, 4, 5, false);
    shader.SetVector4f("v4", glm::vec4(6, 7, 8, 9), false);
    glm::mat4 m(1.0f);
    m[1] = glm::vec4(10, 11, 12, 13);
    shader.SetMatrix4("m", m, false);
    EXPECT_EQ(read("f", 1), std::vector<float>{1.5f});
    EXPECT_EQ(read("fa[2]", 1), std::vector<float>{3.0f});
    GLint integer = 0;
    getUniformI(p, gl::GetUniformLocation(p, "i"), &integer);
    EXPECT_EQ(integer, 7);
    EXPECT_EQ(read("v2", 2), (std::vector<float>{1, 2}));
    EXPECT_EQ(read("v3", 3), (std::vector<float>{3, 4, 5}));
    EXPECT_EQ(read("v4", 4), (std::vector<float>{6, 7, 8, 9}));
    EXPECT_EQ(read("m", 8), (std::vector<float>{1, 0, 0, 0, 10, 11, 12, 13}));
    shader.SetVector2f("v2", 5, 6, false);
    shader.SetVector3f("v3", glm::vec3(7, 8, 9), false);
    shader.SetVector4f("v4", 1, 2, 3, 4, false);
    EXPECT_EQ(read("v2", 2), (std::vector<float>{5, 6}));
    EXPECT_EQ(read("v3", 3), (std::vector<float>{7, 8, 9}));
    EXPECT_EQ(read("v4", 4), (std::vector<float>{1, 2, 3, 4}));

    // Twelve elements are written whatever the count; past a short array they become zero.
    std::vector<glm::vec4> twelve(12);
    for (int k = 0; k < 12; ++k) {
        twelve[static_cast<size_t>(k)] = glm::vec4(static_cast<float>(k + 1));
    }
    shader.SetVector4fArray("arr", twelve.data(), 99, false);
    EXPECT_EQ(read("arr[11]", 4), (std::vector<float>{12, 12, 12, 12}));
    const glm::vec4 two[2] = {glm::vec4(5), glm::vec4(6)};
    shader.SetVector4fArray("arr", two, 2, false);
    EXPECT_EQ(read("arr[1]", 4), (std::vector<float>{6, 6, 6, 6}));
    EXPECT_EQ(read("arr[11]", 4), (std::vector<float>{0, 0, 0, 0}));
    EXPECT_EQ(gl::GetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(ShaderThreads, TwoThreadsDrawAtTheSameTimeWithTheirOwnContexts) {
    std::atomic<int> ready{0};
    auto work = [&](int variant, unsigned green, unsigned blue, int textureRed,
                    std::string& failure) {
        tavo::test::EglContext context;
        if (!context.ok()) {
            failure = context.error();
            ++ready;
            return;
        }
        OVR::GLEContext::GetCurrentContext()->Init();
        ++ready;
        while (ready.load() < 2) {
            std::this_thread::yield();
        }
        Shader shader;
        SetUpColourShader(shader);
        const float base = variant == 0 ? 0.25f : 0.75f;
        for (int round = 0; round < 5 && failure.empty(); ++round) {
            const tavo::test::Image image =
                DrawColourPair(shader, variant, green, blue, 32, textureRed);
            failure = tavo::test::CompareImages(
                image, ExpectedColourImage(32, base, green, blue, textureRed), 1,
                "threads_variant" + std::to_string(variant));
        }
        OVR::GLEContext::GetCurrentContext()->Shutdown();
    };
    std::string failureA, failureB;
    std::thread a(work, 0, 1u, 0u, 30, std::ref(failureA));
    std::thread b(work, 1, 0u, 2u, 220, std::ref(failureB));
    a.join();
    b.join();
    EXPECT_EQ(failureA, "");
    EXPECT_EQ(failureB, "");
}

}  // namespace
