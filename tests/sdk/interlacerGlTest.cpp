// The interlacer's passes on Mesa: set-up, host state, uniforms, variant choice, targets and
// pixels, delegate hooks and a render thread racing configuration changes. The shaders here are
// test stand-ins (data/interlacerAssets) that read every uniform of the contract and show unit 0
// (unit 1 on the right half with individual views), so these tests see what the passes bind and
// set; the lens pattern itself is compared with its CPU reference by the weave's own tests.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "opengl/eglContext.h"
#include "sdk/sdkTestSupport.h"
#include "tavo/opengl/gl.h"
#include "tavo/opengl/glHelpers.h"
#include "tavo/opengl/shader.h"

namespace tavo::sdk {
namespace {

namespace gl = tavo::gl;
using tavo::test::Image;
using test::Access;

constexpr int kWidth = 48;
constexpr int kHeight = 24;
constexpr eTavoTaskResponsibility kOurs = kTavoTaskResponsibilityInterlacer;
constexpr eTavoTaskResponsibility kHosts = kTavoTaskResponsibilityHost;

// The default optics on a panel small enough for fast frames under the sanitizers.
device::Config SmallPanel(device::Config config) {
    config.panelResolution = {kWidth, kHeight};
    config.viewResolution = {16, 8};
    return config;
}

struct Rgba {
    uint8_t r, g, b, a;
};

Image Solid(int width, int height, Rgba c) {
    Image image{width, height, std::string()};
    for (int i = 0; i < width * height; ++i) {
        image.pixels += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b),
                         static_cast<char>(c.a)};
    }
    return image;
}

void Paint(Image& image, int x0, int x1, int y0, int y1, Rgba c) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            std::memcpy(&image.pixels[static_cast<size_t>((y * image.width + x) * 4)], &c, 4);
        }
    }
}

GLuint SolidTexture(Rgba c) {
    const Image image = Solid(4, 4, c);
    GLuint texture = 0;
    gl::GenTextures(1, &texture);
    gl::BindTexture(GL_TEXTURE_2D, texture);
    gl::TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 4, 4, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                   image.pixels.data());
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl::TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    return texture;
}

// An RGBA output the host would hand in.
struct Output {
    GLuint framebuffer = 0;
    GLuint texture = 0;

    void Make() {
        gl::GenFramebuffers(1, &framebuffer);
        gl::BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl::GenTextures(1, &texture);
        gl::BindTexture(GL_TEXTURE_2D, texture);
        gl::TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kWidth, kHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                       nullptr);
        gl::FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        gl::BindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    void Fill(Rgba c) const {
        gl::BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl::ClearColor(c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, c.a / 255.0f);
        gl::Clear(GL_COLOR_BUFFER_BIT);
    }
    Image Read() const {
        gl::BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        return tavo::test::ReadPixels(kWidth, kHeight);
    }
};

void FillTarget(GLuint framebuffer, Rgba c) {
    gl::BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl::Viewport(0, 0, 16, 8);
    gl::ClearColor(c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, c.a / 255.0f);
    gl::Clear(GL_COLOR_BUFFER_BIT);
    gl::BindFramebuffer(GL_FRAMEBUFFER, 0);
}

// Records the hooks in the order they come.
class RecordingDelegate : public InterlacerDelegate {
  public:
    void PreInterlace(int w, int h, bool b) override { Add("PreInterlace", w, h, b); }
    void OnInterlaceRender(int w, int h, bool b) override { Add("OnInterlaceRender", w, h, b); }
    void PostInterlace(int w, int h, bool b) override { Add("PostInterlace", w, h, b); }
    void PreSharpen(int w, int h) override { Add("PreSharpen", w, h, false); }
    void OnSharpenRender(int w, int h) override { Add("OnSharpenRender", w, h, false); }
    void PostSharpen(int w, int h) override { Add("PostSharpen", w, h, false); }

    std::vector<std::string> calls;

  private:
    void Add(const char* name, int w, int h, bool blend) {
        calls.push_back(std::string(name) + " " + std::to_string(w) + "x" + std::to_string(h) +
                        (blend ? " blend" : ""));
    }
};

class InterlacerGlTest : public test::SdkTest {
  protected:
    void SetUp() override {
        test::SdkTest::SetUp();
        ASSERT_TRUE(egl_.ok()) << egl_.error();
        InitializeWithoutTracking();
        // No face is ever tracked here: on a slow machine the no-face state would set in after
        // its threshold and switch to single-view weaving and no sharpening mid-test.
        impl().SetNoFaceModeEnabled(false);
        ::testing::internal::CaptureStdout();
        sdk_->SetConfig(SmallPanel(sdk_->GetConfig()));
        ::testing::internal::GetCapturedStdout();
        interlacer_ = Make({}, kOurs, kOurs, kOurs, &setupOutput_);
        output_.Make();
    }

    void TearDown() override {
        for (ThreadedInterlacer* interlacer : made_) {
            interlacer->Shutdown();
        }
        test::SdkTest::TearDown();
    }

    ThreadedInterlacer* Make(const ThreadedInterlacerArgs& args, eTavoTaskResponsibility targets,
                             eTavoTaskResponsibility shader, eTavoTaskResponsibility draw,
                             std::string* printed = nullptr) {
        ThreadedInterlacer* interlacer = sdk_->CreateNewThreadedInterlacer(args);
        ::testing::internal::CaptureStdout();
        interlacer->InitializeOpenGL(nullptr, targets, shader, draw);
        const std::string out = ::testing::internal::GetCapturedStdout();
        if (printed != nullptr) {
            *printed = out;
        }
        made_.push_back(interlacer);
        return interlacer;
    }

    // Fills view target i with colours[i].
    void FillViews(ThreadedInterlacer& interlacer, std::initializer_list<Rgba> colours) {
        int view = 0;
        for (const Rgba& c : colours) {
            FillTarget(interlacer.GetRenderTargetForView(view++), c);
        }
    }

    void Frame(bool blend = false) {
        interlacer_->DoPostProcess(kWidth, kHeight, blend, output_.framebuffer);
    }

    std::string Compare(const Image& expected, const std::string& name) {
        return tavo::test::CompareImages(output_.Read(), expected, 1, name);
    }

    tavo::test::EglContext egl_;
    ThreadedInterlacer* interlacer_ = nullptr;
    std::vector<ThreadedInterlacer*> made_;
    std::string setupOutput_;
    Output output_;
};

TEST_F(InterlacerGlTest, SetUpMakesTargetsCachesTextsAndPrintsTheValues) {
    EXPECT_EQ(log_.Count("error"), 0) << log_.Dump();
    EXPECT_NE(interlacer_->GetRenderTargetForView(0), 0u);
    EXPECT_NE(interlacer_->GetRenderTargetForView(1), 0u);
    EXPECT_EQ(interlacer_->GetRenderTargetForView(2), 0u) << "Stereo Sliding: two targets";
    EXPECT_EQ(interlacer_->GetRenderTargetForView(12), 0u);
    EXPECT_EQ(Access::interlacedSize(*interlacer_), glm::ivec2(kWidth, kHeight));
    EXPECT_NE(interlacer_->GetInterlaceShaderText(kTavoShaderTypeFragment).find("textureTransform"),
              std::string::npos);
    EXPECT_NE(interlacer_->GetSharpenShaderText(kTavoShaderTypeFragment).find("sharpeningValues"),
              std::string::npos);
    EXPECT_EQ(interlacer_->GetSharpenShaderText(kTavoShaderTypeGeometry), "");
    EXPECT_EQ(interlacer_->GetInterlaceShaderText(static_cast<eTavoShaderType>(3)), "");

    for (const char* line :
         {"Interlace Values:\n    Number of HW Views  : 12 x 1\n    Number of SW Views  : 2 x \n"
          "    View Resolution  : 16 x 8\n",
          "    Panel Resolution : 48 x 24\n    Blend Views      : Yes\n    Minimim View     : 0\n"
          "    Maximum View     : 11\n    Interlace Mode   : 2\n    Debug Mode       : 0\n",
          "Sharpening Values:\n    Center          : ", "    OffsetXY|Weight : ["}) {
        EXPECT_NE(setupOutput_.find(line), std::string::npos) << line << "\nin:\n" << setupOutput_;
    }

    // No face was ever reported: the views converge at the panel's design distance.
    TavoInterlaceParameters p;
    interlacer_->GetInterlaceParameters(p);
    EXPECT_EQ(p.faceZ, sdk_->GetConvergenceDistance());
    EXPECT_EQ(p.nonPredictedFaceZ, sdk_->GetConvergenceDistance());
    EXPECT_EQ(p.faceX, 0.0f);
    EXPECT_EQ(p.peelOffset, 0.0f);
}

TEST_F(InterlacerGlTest, SetUpBeforeTheSdkIsInitialisedIsLoggedAndBindsNothing) {
    ITavoSDK* fresh = CreateTavoSDK();
    ThreadedInterlacer* interlacer = fresh->CreateNewThreadedInterlacer({});
    interlacer->InitializeOpenGL(nullptr, kOurs, kOurs, kOurs);
    EXPECT_EQ(log_.CountExact("error [SDK] failed to init OpenGL: [SDK] is not initialized"), 1)
        << log_.Dump();
    EXPECT_FALSE(interlacer->IsOnSameThread(std::this_thread::get_id()));
    fresh->Destroy();
}

// Everything of the host's binding state the passes touch.
struct HostState {
    GLint program, vertexArray, arrayBuffer, elementBuffer, framebuffer, renderbuffer;
    GLint viewport[4];
    GLint textures[16];
    GLint activeTexture;
    GLint attributeEnabled, attributeSize, attributeStride, attributeBuffer;
    GLboolean blend, cullFace, depthTest;
    GLint blendSource, blendDestination;

    static HostState Read() {
        HostState s{};
        gl::GetIntegerv(GL_CURRENT_PROGRAM, &s.program);
        gl::GetIntegerv(GL_VERTEX_ARRAY_BINDING, &s.vertexArray);
        gl::GetIntegerv(GL_ARRAY_BUFFER_BINDING, &s.arrayBuffer);
        gl::GetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &s.elementBuffer);
        gl::GetIntegerv(GL_FRAMEBUFFER_BINDING, &s.framebuffer);
        gl::GetIntegerv(GL_RENDERBUFFER_BINDING, &s.renderbuffer);
        gl::GetIntegerv(GL_VIEWPORT, s.viewport);
        gl::GetIntegerv(GL_ACTIVE_TEXTURE, &s.activeTexture);
        for (int i = 0; i < 16; ++i) {
            gl::ActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + i));
            gl::GetIntegerv(GL_TEXTURE_BINDING_2D, &s.textures[i]);
        }
        gl::ActiveTexture(static_cast<GLenum>(s.activeTexture));
        gl::GetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &s.attributeEnabled);
        gl::GetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_SIZE, &s.attributeSize);
        gl::GetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &s.attributeStride);
        gl::GetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &s.attributeBuffer);
        s.blend = gl::IsEnabled(GL_BLEND);
        s.cullFace = gl::IsEnabled(GL_CULL_FACE);
        s.depthTest = gl::IsEnabled(GL_DEPTH_TEST);
        gl::GetIntegerv(GL_BLEND_SRC_RGB, &s.blendSource);
        gl::GetIntegerv(GL_BLEND_DST_RGB, &s.blendDestination);
        return s;
    }
};

void ExpectSameState(const HostState& a, const HostState& b, const std::string& pass) {
    EXPECT_EQ(a.program, b.program) << pass;
    EXPECT_EQ(a.vertexArray, b.vertexArray) << pass;
    EXPECT_EQ(a.arrayBuffer, b.arrayBuffer) << pass;
    EXPECT_EQ(a.elementBuffer, b.elementBuffer) << pass;
    EXPECT_EQ(a.framebuffer, b.framebuffer) << pass;
    EXPECT_EQ(a.renderbuffer, b.renderbuffer) << pass;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(a.viewport[i], b.viewport[i]) << pass << " viewport " << i;
    }
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(a.textures[i], b.textures[i]) << pass << " unit " << i;
    }
    EXPECT_EQ(a.activeTexture, b.activeTexture) << pass;
    EXPECT_EQ(a.attributeEnabled, b.attributeEnabled) << pass;
    EXPECT_EQ(a.attributeSize, b.attributeSize) << pass;
    EXPECT_EQ(a.attributeStride, b.attributeStride) << pass;
    EXPECT_EQ(a.attributeBuffer, b.attributeBuffer) << pass;
    EXPECT_EQ(a.blend, b.blend) << pass;
    EXPECT_EQ(a.cullFace, b.cullFace) << pass;
    EXPECT_EQ(a.depthTest, b.depthTest) << pass;
    EXPECT_EQ(a.blendSource, b.blendSource) << pass;
    EXPECT_EQ(a.blendDestination, b.blendDestination) << pass;
}

TEST_F(InterlacerGlTest, EveryPassLeavesTheHostsBindingsAsTheyWere) {
    // A host mid-frame: its own program, vertex array with a strided attribute, buffers,
    // framebuffer, renderbuffer, viewport, a texture on each of 16 units, unit 5 active, and
    // blending, culling and depth testing on.
    opengl::Shader host;
    host.vertexPrefix = "#version 330 core";
    host.fragmentPrefix = "#version 330 core";
    host.CompileFromText(
        "layout(location = 0) in vec3 p; void main() { gl_Position = vec4(p, 1); }",
        "out vec4 c; void main() { c = vec4(1); }", nullptr, 0, {});
    gl::UseProgram(host.programId);
    GLuint vertexArray = 0, buffers[2] = {}, renderbuffer = 0, textures[16] = {};
    gl::GenVertexArrays(1, &vertexArray);
    gl::BindVertexArray(vertexArray);
    gl::GenBuffers(2, buffers);
    gl::BindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    gl::BufferData(GL_ARRAY_BUFFER, 64, nullptr, GL_STATIC_DRAW);
    gl::VertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 12, reinterpret_cast<void*>(4));
    gl::EnableVertexAttribArray(0);
    gl::BindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
    gl::BindBuffer(GL_ARRAY_BUFFER, buffers[1]);
    gl::GenRenderbuffers(1, &renderbuffer);
    gl::BindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
    gl::GenTextures(16, textures);
    for (int i = 0; i < 16; ++i) {
        gl::ActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + i));
        gl::BindTexture(GL_TEXTURE_2D, textures[i]);
    }
    gl::ActiveTexture(GL_TEXTURE5);
    gl::BindFramebuffer(GL_FRAMEBUFFER, output_.framebuffer);
    gl::Viewport(3, 4, 20, 10);
    gl::Enable(GL_BLEND);
    gl::BlendFunc(GL_ONE, GL_ONE);
    gl::Enable(GL_CULL_FACE);
    gl::Enable(GL_DEPTH_TEST);
    ASSERT_EQ(gl::GetError(), static_cast<GLenum>(GL_NO_ERROR));
    const HostState before = HostState::Read();
    // Passes run on their own draw into the interlacer's output target.
    interlacer_->SetOutputRenderTarget(output_.framebuffer);

    struct Case {
        const char* name;
        void (*run)(ThreadedInterlacer&, GLuint output);
    };
    const Case cases[] = {
        {"ApplyInterlacing",
         [](ThreadedInterlacer& i, GLuint) { i.ApplyInterlacing(40, 20, false); }},
        {"ApplySharpening", [](ThreadedInterlacer& i, GLuint) { i.ApplySharpening(40, 20); }},
        {"DoPostProcess",
         [](ThreadedInterlacer& i, GLuint o) { i.DoPostProcess(40, 20, false, o); }},
        {"DoPostProcess, all views",
         [](ThreadedInterlacer& i, GLuint o) {
             ::testing::internal::CaptureStdout();
             i.SetShaderDebugMode(kTavoShaderDebugModeAllViews);
             ::testing::internal::GetCapturedStdout();
             i.DoPostProcess(kWidth, kHeight, false, o);
         }},
        {"OnWindowSizeChanged",
         [](ThreadedInterlacer& i, GLuint) { i.OnWindowSizeChanged(30, 30); }},
    };
    for (const Case& c : cases) {
        c.run(*interlacer_, output_.framebuffer);
        ExpectSameState(before, HostState::Read(), c.name);
    }
    EXPECT_EQ(log_.Count("error"), 0) << log_.Dump();
}

TEST_F(InterlacerGlTest, UniformsCarryTheFramesParameters) {
    interlacer_->SetReconvergence(-0.5f);
    interlacer_->SetAlpha(0.75f);
    Frame();
    TavoInterlaceParameters p;
    interlacer_->GetInterlaceParameters(p);
    const GLuint program = Access::interlaceShader(*interlacer_).programId;
    ASSERT_NE(program, 0u);
    auto floatOf = [](GLuint prog, const char* name) {
        GLfloat value = -1.0f;
        const GLint location = gl::GetUniformLocation(prog, name);
        EXPECT_GE(location, 0) << name;
        gl::GetUniformfv(prog, location, &value);
        return value;
    };
    auto intOf = [](GLuint prog, const char* name) {
        GLint value = -1;
        gl::GetUniformiv(prog, gl::GetUniformLocation(prog, name), &value);
        return value;
    };
    const std::pair<const char*, float> floats[] = {
        {"blendViews", 1.0f},
        {"hardwareViewsX", p.hardwareViewsX},
        {"hardwareViewsY", p.hardwareViewsY},
        {"softwareViews", 2.0f},
        {"viewResX", p.viewResX},
        {"viewResY", p.viewResY},
        {"viewportX", p.viewportX},
        {"viewportY", p.viewportY},
        {"viewportWidth", static_cast<float>(kWidth)},
        {"viewportHeight", static_cast<float>(kHeight)},
        {"minView", p.minView},
        {"maxView", p.maxView},
        {"n", p.n},
        {"d_over_n", p.d_over_n},
        {"p_over_du", p.p_over_du},
        {"p_over_dv", p.p_over_dv},
        {"colorSlant", p.colorSlant},
        {"colorInversion", p.colorInversion},
        {"faceX", p.faceX},
        {"faceY", p.faceY},
        {"faceZ", p.faceZ},
        {"pixelPitch", p.pixelPitch},
        {"du", p.du},
        {"dv", p.dv},
        {"s", p.s},
        {"cos_theta", p.cos_theta},
        {"sin_theta", p.sin_theta},
        {"peelOffset", p.peelOffset},
        {"No", p.No},
        {"displayResX", p.displayResX},
        {"displayResY", p.displayResY},
        {"reconvergenceAmount", -0.5f},
        {"absReconvergenceAmount", 0.5f},
        {"customTextureScaleX", 1.0f},
        {"customTextureScaleY", 1.0f},
        {"reconvergenceZoomX", 1.0f},
        {"reconvergenceZoomY", 1.0f},
        // The sharpen pass follows and applies the opacity.
        {"alpha", 1.0f},
    };
    for (const auto& [name, value] : floats) {
        EXPECT_EQ(floatOf(program, name), value) << name;
    }
    EXPECT_EQ(intOf(program, "interlaceMode"), kTavoInterlaceModeStereoSliding);
    EXPECT_EQ(intOf(program, "debugMode"), 0);
    EXPECT_EQ(intOf(program, "perPixelCorrection"), 2);
    EXPECT_EQ(intOf(program, "viewTextureType"), 0);
    // The stand-in reads units 0 and 1 only; the others are not active uniforms.
    for (int unit = 0; unit < 2; ++unit) {
        const std::string name = "viewTexture[" + std::to_string(unit) + "]";
        EXPECT_EQ(intOf(program, name.c_str()), unit) << name;
    }

    // Its own intermediate holds linear light: the program that decodes nothing sharpens it.
    const GLuint sharpen = Access::sharpenLinearShader(*interlacer_).programId;
    ASSERT_NE(sharpen, 0u);
    EXPECT_EQ(Access::sharpenShader(*interlacer_).programId, 0u);
    TavoSharpeningValues values;
    sdk_->GetSharpeningValues(values, kWidth, kHeight);
    ASSERT_GT(values.sharpeningValueCount, 0);
    EXPECT_EQ(floatOf(sharpen, "gamma"), values.gamma);
    EXPECT_EQ(floatOf(sharpen, "sharpeningCenter"), values.sharpeningCenter);
    EXPECT_EQ(floatOf(sharpen, "alpha"), 0.75f);
    EXPECT_EQ(intOf(sharpen, "sharpeningValueCount"), values.sharpeningValueCount);
    GLfloat vector[4] = {};
    gl::GetUniformfv(sharpen, gl::GetUniformLocation(sharpen, "textureInvSize"), vector);
    EXPECT_EQ(vector[0], 1.0f / kWidth);
    EXPECT_EQ(vector[1], 1.0f / kHeight);
    gl::GetUniformfv(sharpen, gl::GetUniformLocation(sharpen, "sharpeningValues[1]"), vector);
    EXPECT_EQ(vector[0], values.sharpeningValues[1].x);
    EXPECT_EQ(vector[1], values.sharpeningValues[1].y);
    EXPECT_EQ(vector[2], values.sharpeningValues[1].z);

    // Without sharpening the interlace pass carries the opacity itself.
    sdk_->EnableSharpening(false);
    Frame();
    EXPECT_EQ(floatOf(Access::interlaceShader(*interlacer_).programId, "alpha"), 0.75f);
}

TEST_F(InterlacerGlTest, TheVariantAndPermutationFollowModesAndSwitches) {
    struct Case {
        const char* name;
        eTavoShaderDebugMode debug;
        eTavoInterlaceMode mode;
        bool atlas, flip, single;
        int variant;
        std::vector<unsigned> permutation;
    };
    const Case cases[] = {
        {"stereo",
         kTavoShaderDebugModeOff,
         kTavoInterlaceModeStereoSliding,
         false,
         false,
         false,
         3,
         {2, 0, 0, 1, 0, 0, 0}},
        {"sliding",
         kTavoShaderDebugModeOff,
         kTavoInterlaceModeViewSliding,
         false,
         false,
         false,
         5,
         {0, 0, 0, 1, 0, 0, 0}},
        {"peeling, atlas",
         kTavoShaderDebugModeOff,
         kTavoInterlaceModeViewPeeling,
         true,
         false,
         false,
         6,
         {1, 0, 0, 1, 0, 0, 0}},
        {"stereo, atlas, flipped",
         kTavoShaderDebugModeOff,
         kTavoInterlaceModeStereoSliding,
         true,
         true,
         false,
         4,
         {2, 0, 1, 1, 0, 0, 0}},
        {"single view",
         kTavoShaderDebugModeOff,
         kTavoInterlaceModeStereoSliding,
         false,
         false,
         true,
         3,
         {2, 0, 0, 1, 1, 0, 0}},
        {"texture coordinates",
         kTavoShaderDebugModeTextureCoordinates,
         kTavoInterlaceModeStereoSliding,
         false,
         false,
         false,
         9,
         {2, 0, 0, 1, 0, 0, 0}},
        {"all views",
         kTavoShaderDebugModeAllViews,
         kTavoInterlaceModeStereoSliding,
         false,
         false,
         false,
         7,
         {2, 0, 0, 1, 0, 0, 0}},
        {"first view",
         kTavoShaderDebugModeFirstView,
         kTavoInterlaceModeStereoSliding,
         false,
         false,
         false,
         8,
         {2, 0, 0, 1, 0, 0, 0}},
        {"calibration",
         kTavoShaderDebugModeCalibrationImage,
         kTavoInterlaceModeStereoSliding,
         false,
         false,
         false,
         0,
         {2, 0, 0, 1, 0, 0, 0}},
        {"beer glass",
         kTavoShaderDebugModeBeerGlass,
         kTavoInterlaceModeStereoSliding,
         false,
         false,
         false,
         1,
         {2, 0, 0, 1, 0, 0, 0}},
        {"stereo image",
         kTavoShaderDebugModeStereoImage,
         kTavoInterlaceModeStereoSliding,
         false,
         false,
         false,
         1,
         {2, 0, 0, 1, 0, 0, 0}},
        // Its own number (10) lies past the list: the stereo image variant renders it.
        {"stereo video",
         kTavoShaderDebugModeStereoVideo,
         kTavoInterlaceModeStereoSliding,
         false,
         false,
         false,
         1,
         {2, 0, 0, 1, 0, 0, 0}},
        {"thumbnails",
         kTavoShaderDebugModeThumbnails,
         kTavoInterlaceModeStereoSliding,
         false,
         false,
         false,
         2,
         {2, 0, 0, 1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        ::testing::internal::CaptureStdout();
        interlacer_->SetShaderDebugMode(c.debug);
        interlacer_->SetInterlaceMode(c.mode);
        ::testing::internal::GetCapturedStdout();
        interlacer_->SetInterlaceViewTextureAtlas(c.atlas ? Access::viewTexture(*interlacer_, 0)
                                                          : 0u);
        interlacer_->SetFlipInputUVVertical(c.flip);
        interlacer_->SetSingleViewMode(c.single);
        Frame();
        opengl::Shader& shader = Access::interlaceShader(*interlacer_);
        const GLuint slot =
            shader.variants[static_cast<size_t>(c.variant)].programs[static_cast<size_t>(
                shader.GetOffsetForVariantPermutation(c.permutation))];
        EXPECT_NE(slot, 0u) << c.name;
        EXPECT_EQ(shader.programId, slot) << c.name;
    }
    EXPECT_EQ(Access::interlaceShader(*interlacer_).variants.size(), 10u);
}

TEST_F(InterlacerGlTest, ViewsReachTheOutputWithAndWithoutSharpening) {
    const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, white{255, 255, 255, 255};
    FillViews(*interlacer_, {red, green});
    Image expected = Solid(kWidth, kHeight, red);
    Paint(expected, kWidth / 2, kWidth, 0, kHeight, green);

    output_.Fill(white);
    Frame();
    EXPECT_EQ(Compare(expected, "views_sharpened"), "");

    sdk_->EnableSharpening(false);
    output_.Fill(white);
    Frame();
    EXPECT_EQ(Compare(expected, "views_direct"), "");

    // Protected content never sharpens and draws straight into the output.
    sdk_->EnableSharpening(true);
    ThreadedInterlacer* protectedOne = Make({true, false, nullptr}, kOurs, kOurs, kOurs);
    FillViews(*protectedOne, {green, red});
    output_.Fill(white);
    protectedOne->DoPostProcess(kWidth, kHeight, false, output_.framebuffer);
    Image swapped = Solid(kWidth, kHeight, green);
    Paint(swapped, kWidth / 2, kWidth, 0, kHeight, red);
    EXPECT_EQ(Compare(swapped, "views_protected"), "");
}

TEST_F(InterlacerGlTest, ABlendedFrameClearsToTransparentAndLeavesBlendingOff) {
    const GLuint blue = SolidTexture({0, 0, 255, 255});
    interlacer_->SetViewTextureId(static_cast<int>(blue));
    ::testing::internal::CaptureStdout();
    interlacer_->SetShaderDebugMode(kTavoShaderDebugModeStereoImage);
    ::testing::internal::GetCapturedStdout();
    interlacer_->SetAlpha(0.5f);
    output_.Fill({255, 255, 255, 255});
    Frame(true);
    EXPECT_FALSE(gl::IsEnabled(GL_BLEND));
    // Onto transparent black: colour x 0.5, alpha 0.5 x 0.5.
    EXPECT_EQ(Compare(Solid(kWidth, kHeight, {0, 0, 128, 64}), "blended"), "");

    // Opaque and unblended: drawn over the host's content without a clear.
    interlacer_->SetAlpha(1.0f);
    output_.Fill({255, 255, 255, 255});
    Frame(false);
    EXPECT_EQ(Compare(Solid(kWidth, kHeight, {0, 0, 255, 255}), "opaque"), "");

    // A picture frame chooses the stereo image mode and blends exactly when alpha is not 1;
    // either way blending is off afterwards. (It draws into the default framebuffer, which a
    // surfaceless context does not have, so only the state is looked at here.)
    ::testing::internal::CaptureStdout();
    interlacer_->SetShaderDebugMode(kTavoShaderDebugModeOff);
    interlacer_->SetAlpha(0.5f);
    interlacer_->DoPostProcessPicture(kWidth, kHeight, blue);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Threaded Interlacer State: [Stereo Sliding] [Debug Off]"
              "Threaded Interlacer State: [Stereo Sliding] [Show Stereo Image]");
    EXPECT_EQ(interlacer_->GetShaderDebugMode(), kTavoShaderDebugModeStereoImage);
    EXPECT_FALSE(gl::IsEnabled(GL_BLEND));
    gl::DeleteTextures(1, &blue);
}

TEST_F(InterlacerGlTest, OnlyBlendedOrFittedFramesClearTheOutput) {
    const Rgba red{255, 0, 0, 255}, white{255, 255, 255, 255}, black{0, 0, 0, 255};
    FillViews(*interlacer_, {red, red});
    // Fill with an aspect offset of 1: the image covers the middle half of the rows and an
    // unblended frame leaves the rest as the host had it.
    interlacer_->SetAspectRatioOffset(1.0f);
    output_.Fill(white);
    Frame();
    Image expected = Solid(kWidth, kHeight, white);
    Paint(expected, 0, kWidth, kHeight / 4, kHeight * 3 / 4, red);
    EXPECT_EQ(Compare(expected, "fill_unblended"), "");

    // A fit mode clears the bars to opaque black. Views of 16 x 8 (two side by side) on
    // 48 x 24 fill it exactly, so give a square source: pillar-boxed to 24 x 24.
    interlacer_->SetFitMode(kFitModeFitCenter);
    interlacer_->SetSourceViewsSize(16, 8, true);
    output_.Fill(white);
    Frame();
    expected = Solid(kWidth, kHeight, black);
    Paint(expected, 12, 36, 0, kHeight, red);
    EXPECT_EQ(Compare(expected, "fit_center"), "");
}

TEST_F(InterlacerGlTest, DebugModesBindWhatTheySay) {
    const Rgba white{255, 255, 255, 255};
    sdk_->EnableSharpening(false);
    struct Case {
        eTavoShaderDebugMode mode;
        Rgba expected;
    };
    const GLuint green = SolidTexture({0, 255, 0, 255});
    interlacer_->SetViewTextureId(static_cast<int>(green));
    const Case cases[] = {
        {kTavoShaderDebugModeCalibrationImage, {200, 0, 0, 255}},  // DebugViewsImage.tga
        {kTavoShaderDebugModeBeerGlass, {0, 0, 200, 255}},         // DebugStereoImage.tga
        {kTavoShaderDebugModeStereoImage, {0, 255, 0, 255}},
        {kTavoShaderDebugModeStereoVideo, {0, 255, 0, 255}},
        {kTavoShaderDebugModeThumbnails, white},  // nothing is drawn
    };
    ::testing::internal::CaptureStdout();
    for (const Case& c : cases) {
        interlacer_->SetShaderDebugMode(c.mode);
        output_.Fill(white);
        Frame();
        EXPECT_EQ(
            Compare(Solid(kWidth, kHeight, c.expected), std::string("debug_") + ToUiStr(c.mode)),
            "")
            << ToUiStr(c.mode);
    }
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(log_.Count("error"), 0) << log_.Dump();
    gl::DeleteTextures(1, &green);
}

TEST_F(InterlacerGlTest, HostResponsibilitiesHandDrawingToTheDelegateInOrder) {
    RecordingDelegate delegate;
    ThreadedInterlacer* hosted = Make({false, false, &delegate}, kHosts, kOurs, kHosts);
    EXPECT_EQ(hosted->GetRenderTargetForView(0), 0u) << "the host owns the targets";
    output_.Fill({255, 255, 255, 255});
    hosted->DoPostProcess(kWidth, kHeight, true, output_.framebuffer);
    const std::vector<std::string> expected = {
        "PreInterlace 48x24 blend", "OnInterlaceRender 48x24 blend", "PostInterlace 48x24 blend",
        "PreSharpen 48x24",         "OnSharpenRender 48x24",         "PostSharpen 48x24"};
    EXPECT_EQ(delegate.calls, expected);
    // The interlacer neither cleared nor drew: the output is the host's.
    EXPECT_EQ(Compare(Solid(kWidth, kHeight, {255, 255, 255, 255}), "host_drawn"), "");
    // The host's intermediate holds codes, so the program that decodes each tap sharpened it.
    EXPECT_NE(Access::sharpenShader(*hosted).programId, 0u);
    EXPECT_EQ(Access::sharpenLinearShader(*hosted).programId, 0u);

    // Drawing ours, the hooks still frame each pass.
    RecordingDelegate framing;
    ThreadedInterlacer* ours = Make({false, false, &framing}, kOurs, kOurs, kOurs);
    ours->DoPostProcess(kWidth, kHeight, false, output_.framebuffer);
    const std::vector<std::string> framed = {"PreInterlace 48x24", "PostInterlace 48x24",
                                             "PreSharpen 48x24", "PostSharpen 48x24"};
    EXPECT_EQ(framing.calls, framed);
}

TEST_F(InterlacerGlTest, TargetsFollowTheModeAndTheOutputSize) {
    EXPECT_EQ(Access::viewsCount(*interlacer_), 2);
    ::testing::internal::CaptureStdout();
    interlacer_->SetInterlaceMode(kTavoInterlaceModeViewSliding);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(Access::viewsCount(*interlacer_), 12);
    EXPECT_NE(interlacer_->GetRenderTargetForView(11), 0u);
    interlacer_->OnWindowSizeChanged(20, 10);
    EXPECT_EQ(Access::interlacedSize(*interlacer_), glm::ivec2(20, 10));
    Frame();
    EXPECT_EQ(Access::interlacedSize(*interlacer_), glm::ivec2(kWidth, kHeight));
    interlacer_->Shutdown();
    EXPECT_EQ(Access::viewsCount(*interlacer_), 12) << "the count stays, the targets go";
    EXPECT_EQ(interlacer_->GetRenderTargetForView(0), 0u);
    EXPECT_THROW(Frame(), Exception) << "no entry points after Shutdown";
    OVR::GLEContext::GetCurrentContext()->Init();
}

// A render thread loops frames while host threads replace the configuration, flip the locked
// settings and hand in faces. Every frame must see one whole configuration.
TEST_F(InterlacerGlTest, FramesNeverSeeAHalfReplacedConfiguration) {
    device::Config a = sdk_->GetConfig();
    device::Config b = a;
    b.n = a.n + 0.25f;
    b.dOverN = a.dOverN * 1.5f;
    b.centerViewNumber = a.centerViewNumber + 2.0f;
    b.s = a.s * 2.0f;

    struct Checker : InterlacerDelegate {
        ThreadedInterlacer* interlacer = nullptr;
        device::Config a, b;
        std::atomic<int> frames{0};
        std::atomic<int> mixed{0};
        void PreInterlace(int, int, bool) override {
            TavoInterlaceParameters p;
            interlacer->GetInterlaceParameters(p);
            const bool isA = p.n == a.n && p.d_over_n == a.dOverN && p.No == a.centerViewNumber &&
                             p.s == a.s / (kWidth * a.pOverDu);
            const bool isB = p.n == b.n && p.d_over_n == b.dOverN && p.No == b.centerViewNumber &&
                             p.s == b.s / (kWidth * b.pOverDu);
            if (!isA && !isB) {
                mixed.fetch_add(1);
            }
            frames.fetch_add(1);
        }
    } checker;
    checker.a = a;
    checker.b = b;

    ThreadedInterlacer* shared = sdk_->CreateNewThreadedInterlacer({false, false, &checker});
    checker.interlacer = shared;
    std::atomic<bool> ready{false};
    std::atomic<bool> stop{false};
    std::string renderError;
    ::testing::internal::CaptureStdout();
    std::thread render([&] {
        tavo::test::EglContext context;
        if (!context.ok()) {
            renderError = context.error();
            ready = true;
            return;
        }
        shared->InitializeOpenGL(nullptr, kOurs, kOurs, kOurs);
        Output output;
        output.Make();
        ready = true;
        while (!stop.load() || checker.frames.load() < 20) {
            shared->DoPostProcess(kWidth, kHeight, false, output.framebuffer);
        }
        shared->Shutdown();
    });
    while (!ready.load()) {
        std::this_thread::yield();
    }
    std::thread configs([&] {
        for (int i = 0; i < 8; ++i) {
            sdk_->SetConfig(i % 2 == 0 ? b : a);
        }
    });
    std::thread settings([&] {
        for (int i = 0; i < 40; ++i) {
            shared->SetShaderDebugMode(i % 2 == 0 ? kTavoShaderDebugModeAllViews
                                                  : kTavoShaderDebugModeOff);
            shared->SetViewTextureId(0);
            shared->SetInterlaceViewTextureAtlas(0);
            (void)shared->GetRenderTargetForView(0);
        }
    });
    std::thread faces([&] {
        for (int i = 0; i < 200; ++i) {
            const head::MovingPoint face{{static_cast<float>(i % 40), 0.0f, 600.0f}, {}};
            const Timestamp stamp{Timestamp::Space::Unknown, 0.0};
            sdk_->SetPrimaryFace(&face, &stamp);
        }
    });
    configs.join();
    settings.join();
    faces.join();
    stop = true;
    render.join();
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(renderError, "");
    EXPECT_GE(checker.frames.load(), 20);
    EXPECT_EQ(checker.mixed.load(), 0);
    EXPECT_EQ(log_.Count("error"), 0) << log_.Dump();
    sdk_->DestroyThreadedInterlacer(shared);
}

// The render thread switches modes and output sizes, resizes the targets as a host may, and
// finally shuts down, while host threads look the targets up and replace the configuration the
// rebuilds read. Clean under TSan: every rebuild and the release take the frame's lock and wait
// out configuration changes.
TEST_F(InterlacerGlTest, TargetRebuildsAreLockedAgainstLookupsAndConfigurationChanges) {
    const device::Config a = sdk_->GetConfig();
    device::Config b = a;
    b.viewResolution = a.viewResolution / 2;
    ThreadedInterlacer* shared = sdk_->CreateNewThreadedInterlacer({});
    std::atomic<bool> ready{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::atomic<int> rebuilds{0};
    std::atomic<int> lookups{0};
    std::string renderError;
    ::testing::internal::CaptureStdout();
    std::thread render([&] {
        tavo::test::EglContext context;
        if (!context.ok()) {
            renderError = context.error();
            ready = true;
            done = true;
            return;
        }
        shared->InitializeOpenGL(nullptr, kOurs, kOurs, kOurs);
        ready = true;
        for (int i = 0; !stop.load() || i < 20; ++i) {
            shared->SetInterlaceMode(i % 2 == 0 ? kTavoInterlaceModeViewSliding
                                                : kTavoInterlaceModeStereoSliding);
            shared->OnWindowSizeChanged(16 + i % 3, 8 + i % 2);
            shared->UpdateBuffers(ThreadedInterlacer::kMaxViews, kBufferTypeViews, 8 + i % 3, 4);
            shared->UpdateBuffers(1, kBufferTypeInterlaced, 16 + i % 2, 8);
            rebuilds.fetch_add(1);
        }
        shared->Shutdown();
        done = true;
    });
    while (!ready.load()) {
        std::this_thread::yield();
    }
    // Looks up until the render thread has shut down, so that the release overlaps lookups too.
    std::thread lookup([&] {
        while (!done.load()) {
            (void)shared->GetRenderTargetForView(lookups.fetch_add(1) %
                                                 ThreadedInterlacer::kMaxViews);
        }
    });
    std::thread configs([&] {
        for (int i = 0; i < 6; ++i) {
            sdk_->SetConfig(i % 2 == 0 ? b : a);
        }
    });
    configs.join();
    while (rebuilds.load() < 20 && !done.load()) {
        std::this_thread::yield();
    }
    stop = true;
    lookup.join();
    render.join();
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(renderError, "");
    EXPECT_GE(rebuilds.load(), 20);
    EXPECT_GT(lookups.load(), 0);
    EXPECT_EQ(shared->GetRenderTargetForView(0), 0u) << "Shutdown released the targets";
    EXPECT_EQ(log_.Count("error"), 0) << log_.Dump();
    sdk_->DestroyThreadedInterlacer(shared);
}

}  // namespace
}  // namespace tavo::sdk
