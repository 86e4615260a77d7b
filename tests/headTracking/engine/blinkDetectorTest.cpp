// The detector plug-in loader: naming, the two-step search, symbol checks, and lifetimes.
#include "tavo/headTracking/engine/blinkDetector.h"

#include <dlfcn.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include "headTracking/engine/pluginLayout.h"
#include "headTracking/engine/scriptedDetector.h"
#include "logCapture.h"
#include "tavo/common/paths.h"

namespace tavo::head {
namespace {

namespace fs = std::filesystem;

const std::string kCpuFile = "tavoHeadTrackingBlinkDetectorcpu.so";
const std::string kGpuFile = "tavoHeadTrackingBlinkDetectorgpu.so";

using tavo::test::LogCapture;

fs::path Beside(const std::string& file) {
    return GetLibraryPath().parent_path() / file;
}

bool IsLoaded(const fs::path& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        ::dlclose(handle);
    }
    return handle != nullptr;
}

std::shared_ptr<FaceDetector> Create(tavo_face_detector_backend_e backend, int32_t maxFaces = 0) {
    const FaceDetectorConfiguration faceDetector{maxFaces, backend};
    const BlinkDetectorConfiguration configuration{faceDetector, ""};
    return CreateBlinkDetector(configuration, nullptr);
}

class NullCameraFrame final : public CameraFrame {
  public:
    Timestamp timestamp() const override { return {}; }
    Slice<const ImageDesc> imageDescs() const override { return {&image_, 1}; }
    bool GetDepth(const glm::dvec2&, float&) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3&) const override {
        return false;
    }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2&, float&) const override { return false; }

  private:
    ImageDesc image_{};
};

bool InChild() {
    return std::getenv("TAVO_LOADER_LAYOUT_CHILD") != nullptr;
}

// Order of plug-in events seen through the scripted detector's hooks.
struct Events {
    std::vector<std::string> seen;
    static void OnDelete(void* context) { static_cast<Events*>(context)->seen.push_back("delete"); }
    static void OnUnload(void* context) { static_cast<Events*>(context)->seen.push_back("unload"); }
};

// The build places only the scripted CPU plug-in beside this test.

TEST(BlinkDetectorLoader, CreatesAScriptedCpuDetector) {
    ScriptedDetectorControl control(Beside(kCpuFile));
    ASSERT_TRUE(control.loaded()) << ::dlerror();
    ScriptedDetectorScript script;
    DetectedFace face;
    face.rightEyePixel = {10.0, 20.0};
    face.rightEyeDepth = 0.6f;
    script.faces = {face, face, face};
    script.maxNumOfFacesLimit = 5;
    ASSERT_TRUE(control.SetScript(script));

    std::shared_ptr<FaceDetector> detector = Create(kTavoFaceDetectorBackendCPU, 2);
    ASSERT_TRUE(detector);
    EXPECT_EQ(detector->GetBackend(), kTavoFaceDetectorBackendCPU);
    EXPECT_EQ(detector->GetMaxNumOfFacesLimit(), 5);
    EXPECT_EQ(detector->GetMaxNumOfFaces(), 2);
    const FaceDetector::Output& output = detector->Detect(NullCameraFrame());
    ASSERT_EQ(output.faces.size(), 2u);
    EXPECT_EQ(output.faces[0].rightEyePixel, glm::dvec2(10.0, 20.0));
}

TEST(BlinkDetectorLoader, OnlyCpuPresentIsReportedAsSuch) {
    LogCapture log;
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 1u);
    EXPECT_TRUE(IsBlinkDetectorBackendSupported(kTavoFaceDetectorBackendCPU));
    EXPECT_FALSE(IsBlinkDetectorBackendSupported(kTavoFaceDetectorBackendGPU));
    EXPECT_TRUE(
        log.Contains("debug [BlinkDetectorLoader] kTavoFaceDetectorBackendGPU backend is "
                     "not supported: failed to load library "
                     "\"tavoHeadTrackingBlinkDetectorgpu\""))
        << log.Dump();
    EXPECT_FALSE(IsLoaded(Beside(kCpuFile)));
}

TEST(BlinkDetectorLoader, UnknownBackendFallsBackToCpu) {
    LogCapture log;
    std::shared_ptr<FaceDetector> detector = Create(kTavoFaceDetectorBackendUnknown);
    ASSERT_TRUE(detector) << log.Dump();
    EXPECT_TRUE(
        log.Contains("error [BlinkDetectorLoader] unsupported backend: 0. Falling back to CPU."));
    EXPECT_TRUE(
        log.Contains("debug [Plugin] Successfully loaded library "
                     "\"tavoHeadTrackingBlinkDetectorcpu\""));
    EXPECT_TRUE(IsLoaded(Beside(kCpuFile)));
    // Probing an out-of-range value goes to the CPU library too.
    EXPECT_TRUE(IsBlinkDetectorBackendSupported(static_cast<tavo_face_detector_backend_e>(7)));
    EXPECT_TRUE(log.Contains("unsupported backend: 7. Falling back to CPU."));
}

TEST(BlinkDetectorLoader, LastDetectorReferenceDeletesThenUnloads) {
    Events events;
    ScriptedDetectorControl control(Beside(kCpuFile));
    ScriptedDetectorScript script;
    script.faces.resize(1);
    script.onDelete = &Events::OnDelete;
    script.onUnload = &Events::OnUnload;
    script.context = &events;
    ASSERT_TRUE(control.SetScript(script));

    std::shared_ptr<FaceDetector> first = Create(kTavoFaceDetectorBackendCPU);
    std::shared_ptr<FaceDetector> second = Create(kTavoFaceDetectorBackendCPU);
    ASSERT_TRUE(first && second);
    // From here on only the detectors keep the plug-in loaded.
    control.Release();
    std::shared_ptr<FaceDetector> copy = first;
    first.reset();
    EXPECT_TRUE(events.seen.empty());
    copy.reset();
    EXPECT_EQ(events.seen, std::vector<std::string>({"delete"}));
    EXPECT_TRUE(IsLoaded(Beside(kCpuFile)));
    EXPECT_EQ(second->Detect(NullCameraFrame()).faces.size(), 1u);
    second.reset();
    EXPECT_EQ(events.seen, std::vector<std::string>({"delete", "delete", "unload"}));
    EXPECT_FALSE(IsLoaded(Beside(kCpuFile)));
}

// Other layouts run in a copy of this test program in a temporary folder, so that the
// plug-ins it finds beside itself, on the search path and in its working folder are chosen.
class LoaderLayout : public tavo::test::PluginLayout {
  protected:
    LoaderLayout()
        : PluginLayout("TAVO_LOADER_LAYOUT_CHILD", "loaderTest", "DISABLED_LoaderChild") {}
};

TEST_F(LoaderLayout, OnlyGpuPresent) {
    Place(TAVO_SCRIPTED_PLUGIN, "beside", kGpuFile);
    // A CPU plug-in in the working folder must not be found by the bare-name search.
    Place(TAVO_SCRIPTED_PLUGIN, "cwd", kCpuFile);
    RunChild("OnlyGpuPresent");
}

TEST_F(LoaderLayout, OnlyOnTheSearchPath) {
    Place(TAVO_SCRIPTED_PLUGIN, "path", kCpuFile);
    RunChild("OnlyOnTheSearchPath");
}

TEST_F(LoaderLayout, MissingDeleteSymbol) {
    Place(TAVO_CREATE_ONLY_PLUGIN, "beside", kCpuFile);
    RunChild("MissingDeleteSymbol");
}

TEST_F(LoaderLayout, CreateReturnsNull) {
    Place(TAVO_NULL_CREATE_PLUGIN, "beside", kCpuFile);
    RunChild("CreateReturnsNull");
}

// The shipped library looks beside its own file, not beside the program that loads it.
TEST_F(LoaderLayout, SharedLibraryLooksBesideItself) {
    const char* library = std::getenv("TAVO_TEST_LIBRARY");
    ASSERT_NE(library, nullptr) << "TAVO_TEST_LIBRARY is not set";
    const fs::path copy = root_ / "beside" / fs::path(library).filename();
    fs::copy_file(library, copy);
    Place(TAVO_SCRIPTED_PLUGIN, "beside", kGpuFile);
    void* handle = ::dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    using Supported = uint32_t();
    auto* supported = reinterpret_cast<Supported*>(
        ::dlsym(handle, "_ZN4tavo4head32GetSupportedFaceDetectorBackendsEv"));
    ASSERT_NE(supported, nullptr) << ::dlerror();
    // The build tree's run path of the library may hold an empty entry (the working folder);
    // probe from an empty folder so only the file beside the library can be found.
    const fs::path previous = fs::current_path();
    fs::current_path(root_ / "cwd");
    EXPECT_EQ(supported(), 2u);
    fs::current_path(previous);
    ::dlclose(handle);
}

class DISABLED_LoaderChild : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(InChild()) << "run only by the LoaderLayout cases"; }
};

TEST_F(DISABLED_LoaderChild, OnlyGpuPresent) {
    LogCapture log;
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 2u) << log.Dump();
    EXPECT_TRUE(log.Contains("kTavoFaceDetectorBackendCPU backend is not supported"));
    EXPECT_FALSE(Create(kTavoFaceDetectorBackendCPU));
    EXPECT_TRUE(
        log.Contains("error [BlinkDetectorLoader] Failed to load: failed to load library "
                     "\"tavoHeadTrackingBlinkDetectorcpu\": "))
        << log.Dump();
    std::shared_ptr<FaceDetector> detector = Create(kTavoFaceDetectorBackendGPU);
    ASSERT_TRUE(detector) << log.Dump();
    EXPECT_EQ(detector->GetBackend(), kTavoFaceDetectorBackendGPU);
}

TEST_F(DISABLED_LoaderChild, OnlyOnTheSearchPath) {
    LogCapture log;
    std::shared_ptr<FaceDetector> detector = Create(kTavoFaceDetectorBackendCPU);
    ASSERT_TRUE(detector) << log.Dump();
    const std::vector<std::string> lines = log.lines();
    const std::string warning = "warning [Plugin] Failed to load library at path \"" +
                                Beside(kCpuFile).string() + "\". Looking in PATH.";
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], warning) << log.Dump();
    EXPECT_EQ(lines[1],
              "debug [Plugin] Successfully loaded library \"tavoHeadTrackingBlinkDetectorcpu\"");
}

TEST_F(DISABLED_LoaderChild, MissingDeleteSymbol) {
    LogCapture log;
    EXPECT_FALSE(IsBlinkDetectorBackendSupported(kTavoFaceDetectorBackendCPU));
    EXPECT_TRUE(
        log.Contains("debug [BlinkDetectorLoader] kTavoFaceDetectorBackendCPU backend is "
                     "not supported: failed to load symbol \"Plugin_DeleteBlinkDetector\""))
        << log.Dump();
    EXPECT_FALSE(IsLoaded(Beside(kCpuFile)));
    EXPECT_FALSE(Create(kTavoFaceDetectorBackendCPU));
    EXPECT_FALSE(IsLoaded(Beside(kCpuFile)));
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 0u);
}

TEST_F(DISABLED_LoaderChild, CreateReturnsNull) {
    LogCapture log;
    EXPECT_FALSE(Create(kTavoFaceDetectorBackendCPU));
    EXPECT_EQ(log.CountLevel("error"), 0) << log.Dump();
    EXPECT_EQ(log.CountLevel("warning"), 0) << log.Dump();
    EXPECT_FALSE(IsLoaded(Beside(kCpuFile)));
}

}  // namespace
}  // namespace tavo::head
