// The SDK object through its host interface: slot order, calling order, settings and their
// line, errors before set-up, sharpening values, configuration changes, the backlight policy,
// interlacer bookkeeping, and face tracking on a host camera.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sdk/sdkTestSupport.h"
#include "tavo/common/exception.h"
#include "tavo/device/panelDescription.h"
#include "tavo/headTracking/engine/engine.h"

namespace tavo::sdk {
namespace {

using test::Access;
using test::Near;
using test::SdkTest;

// The vtable slot of a virtual member: the Itanium ABI stores 1 + its byte offset.
template <typename Member>
std::ptrdiff_t SlotOf(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(std::ptrdiff_t));
    std::ptrdiff_t words[2];
    std::memcpy(words, &member, sizeof(member));
    if (words[0] % static_cast<std::ptrdiff_t>(sizeof(void*)) != 1) {
        return -1;  // not virtual
    }
    return (words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(SdkInterface, OperationsSitInTheirSlots) {
    const std::vector<std::pair<const char*, std::ptrdiff_t>> slots = {
        {"DestroyThreadedInterlacer", SlotOf(&ITavoSDK::DestroyThreadedInterlacer)},
        {"Destroy", SlotOf(&ITavoSDK::Destroy)},
        {"EnableSharpening", SlotOf(&ITavoSDK::EnableSharpening)},
        {"GetBaselineScaling", SlotOf(&ITavoSDK::GetBaselineScaling)},
        {"GetCenterView", SlotOf(&ITavoSDK::GetCenterView)},
        {"GetConvergenceDistance", SlotOf(&ITavoSDK::GetConvergenceDistance)},
        {"GetPanelResolutionX", SlotOf(&ITavoSDK::GetPanelResolutionX)},
        {"GetPanelResolutionY", SlotOf(&ITavoSDK::GetPanelResolutionY)},
        {"GetNumViews", SlotOf(&ITavoSDK::GetNumViews)},
        {"GetSharpeningValues", SlotOf(&ITavoSDK::GetSharpeningValues)},
        {"GetViewResolutionY", SlotOf(&ITavoSDK::GetViewResolutionY)},
        {"GetViewResolutionX", SlotOf(&ITavoSDK::GetViewResolutionX)},
        {"IsBilinearFilteringEnabled", SlotOf(&ITavoSDK::IsBilinearFilteringEnabled)},
        {"IsSharpeningEnabled", SlotOf(&ITavoSDK::IsSharpeningEnabled)},
        {"SetBaselineScaling", SlotOf(&ITavoSDK::SetBaselineScaling)},
        {"SetCenterView", SlotOf(&ITavoSDK::SetCenterView)},
        {"Shutdown", SlotOf(&ITavoSDK::Shutdown)},
        {"Tick", SlotOf(&ITavoSDK::Tick)},
        {"ToggleViewBlending", SlotOf(&ITavoSDK::ToggleViewBlending)},
        {"SetConfig", SlotOf(&ITavoSDK::SetConfig)},
        {"GetConfig", SlotOf(&ITavoSDK::GetConfig)},
        {"StartTracking", SlotOf(&ITavoSDK::StartTracking)},
        {"StopTracking", SlotOf(&ITavoSDK::StopTracking)},
        {"SetBacklight", SlotOf(&ITavoSDK::SetBacklight)},
        {"SetProfiling", SlotOf(&ITavoSDK::SetProfiling)},
        {"PrepareFaceTracking", SlotOf(&ITavoSDK::PrepareFaceTracking)},
        {"StartFaceTracking", SlotOf(&ITavoSDK::StartFaceTracking)},
        {"SetFaceTrackingCallback", SlotOf(&ITavoSDK::SetFaceTrackingCallback)},
        {"EnableFaceTracking", SlotOf(&ITavoSDK::EnableFaceTracking)},
        {"IsFaceTrackingEnabled", SlotOf(&ITavoSDK::IsFaceTrackingEnabled)},
        {"SetFaceTrackingRunning", SlotOf(&ITavoSDK::SetFaceTrackingRunning)},
        {"IsFaceTrackingRunning", SlotOf(&ITavoSDK::IsFaceTrackingRunning)},
        {"SetFaceDetectorBackend", SlotOf(&ITavoSDK::SetFaceDetectorBackend)},
        {"GetFaceDetectorBackend", SlotOf(&ITavoSDK::GetFaceDetectorBackend)},
        {"IsUsingGpuFaceDetector", SlotOf(&ITavoSDK::IsUsingGpuFaceDetector)},
        {"GetPrimaryFace", SlotOf(&ITavoSDK::GetPrimaryFace)},
        {"GetNonPredictedPrimaryFace", SlotOf(&ITavoSDK::GetNonPredictedPrimaryFace)},
        {"GetFaceTrackingProfiling", SlotOf(&ITavoSDK::GetFaceTrackingProfiling)},
        {"SetPrimaryFace", SlotOf(&ITavoSDK::SetPrimaryFace)},
        {"InitializePlatform", SlotOf(&ITavoSDK::InitializePlatform)},
        {"Initialize", SlotOf(&ITavoSDK::Initialize)},
        {"IsInitialized", SlotOf(&ITavoSDK::IsInitialized)},
        {"GetAssetManager", SlotOf(&ITavoSDK::GetAssetManager)},
        {"CreateNewThreadedInterlacer", SlotOf(&ITavoSDK::CreateNewThreadedInterlacer)},
        {"GetMLImage", SlotOf(&ITavoSDK::GetMLImage)},
    };
    ASSERT_EQ(slots.size(), 45u);
    for (size_t i = 0; i < slots.size(); ++i) {
        EXPECT_EQ(slots[i].second, static_cast<std::ptrdiff_t>(i)) << slots[i].first;
    }
    // Operations fill slots 0 to 44 without a gap, so the destructor can only come after them.
    static_assert(std::has_virtual_destructor_v<ITavoSDK>);
    static_assert(std::is_abstract_v<ITavoSDK>);
}

TEST(SdkFreeFunctions, VersionServiceAndImageFormats) {
    EXPECT_STREQ(tavoSdkGetVersion(), "0.6.74");
    EXPECT_FALSE(IsFaceTrackingInService());

    EXPECT_EQ(tavo_sdk_image_component_type_size(0), 1);
    EXPECT_EQ(tavo_sdk_image_component_type_size(1), 4);
    EXPECT_EQ(tavo_sdk_image_component_type_to_gl(0), 0x1401u);
    EXPECT_EQ(tavo_sdk_image_component_type_to_gl(1), 0x1406u);
    const uint32_t glFormats[] = {0x1907u, 0x1908u, 0x80E0u, 0x80E1u};
    const int32_t components[] = {3, 4, 3, 4};
    for (int32_t format = 0; format < 4; ++format) {
        EXPECT_EQ(tavo_sdk_image_format_to_gl(format), glFormats[format]) << format;
        EXPECT_EQ(tavo_sdk_image_format_num_components(format), components[format]) << format;
    }
    for (const int32_t other : {-1, 2, 4, 1000}) {
        EXPECT_EQ(tavo_sdk_image_component_type_size(other), 0) << other;
        EXPECT_EQ(tavo_sdk_image_component_type_to_gl(other), 0u) << other;
    }
    for (const int32_t other : {-1, 4, 1000}) {
        EXPECT_EQ(tavo_sdk_image_format_to_gl(other), 0u) << other;
        EXPECT_EQ(tavo_sdk_image_format_num_components(other), 0) << other;
    }
}

// Calls `call`, which must throw tavo::Exception whose text starts with `expected`.
void ExpectThrowStartingWith(const std::function<void()>& call, const std::string& expected) {
    try {
        call();
        ADD_FAILURE() << "no exception; expected " << expected;
    } catch (const Exception& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
    }
}

TEST_F(SdkTest, BeforeInitializeTheGuardedOperationsThrow) {
    EXPECT_FALSE(sdk_->IsInitialized());
    ExpectThrowStartingWith([this] { sdk_->Tick(1.0f); },
                            "not initialized in tavo::sdk::TavoSDK::Tick tavo/sdk/sdkimpl.cpp:");
    ExpectThrowStartingWith(
        [this] { sdk_->GetConfig(); },
        "not initialized in tavo::sdk::TavoSDK::GetConfig tavo/sdk/sdkimpl.cpp:");
    ExpectThrowStartingWith(
        [this] { sdk_->SetConfig(device::Config{}); },
        "not initialized in tavo::sdk::TavoSDK::SetConfig tavo/sdk/sdkimpl.cpp:");
    ExpectThrowStartingWith(
        [this] { sdk_->EnableFaceTracking(false); },
        "SDK is not initialized in tavo::sdk::TavoSDK::EnableFaceTracking tavo/sdk/sdkimpl.cpp:");
    glm::vec3 face(4.0f);
    ExpectThrowStartingWith(
        [&] { sdk_->GetPrimaryFace(face); },
        "SDK is not initialized in tavo::sdk::TavoSDK::GetPrimaryFace tavo/sdk/sdkimpl.cpp:");
    ExpectThrowStartingWith([&] { sdk_->GetNonPredictedPrimaryFace(face); },
                            "SDK is not initialized in "
                            "tavo::sdk::TavoSDK::GetNonPredictedPrimaryFace tavo/sdk/sdkimpl.cpp:");
    EXPECT_EQ(face, glm::vec3(4.0f));
    ExpectThrowStartingWith(
        [this] { sdk_->Initialize(nullptr); },
        "Platform is not initialized in tavo::sdk::TavoSDK::Initialize tavo/sdk/sdkimpl.cpp:");
    EXPECT_FALSE(sdk_->IsInitialized());

    // Plain settings need no set-up, and the initial state is the documented one.
    EXPECT_EQ(sdk_->GetBaselineScaling(), 10.0f);
    EXPECT_TRUE(sdk_->IsFaceTrackingEnabled());
    EXPECT_TRUE(sdk_->IsFaceTrackingRunning());
    EXPECT_TRUE(sdk_->IsSharpeningEnabled());
    EXPECT_TRUE(sdk_->IsBilinearFilteringEnabled());
    EXPECT_EQ(sdk_->GetAssetManager(), nullptr);
    EXPECT_EQ(sdk_->GetMLImage(), nullptr);
    EXPECT_FALSE(impl().backlightOn());
    EXPECT_EQ(impl().stereoGain(), 3.0f);
    EXPECT_EQ(impl().stereoOffsetY(), -60.0f);
    EXPECT_TRUE(impl().viewBlending());
    EXPECT_TRUE(impl().noFaceModeEnabled());
    EXPECT_EQ(impl().noFaceTimeThreshold(), 3.0);
    EXPECT_EQ(impl().noFaceRange(), 1.4);
    EXPECT_FALSE(impl().newAct());
    const device::Config& config = impl().config();
    EXPECT_EQ(config.reserved0, 0.12f);
    EXPECT_EQ(config.kalmanA, glm::vec3(0.02f, 0.05f, 0.2f));
    EXPECT_EQ(config.kalmanB, 0.1f);
    EXPECT_EQ(config.faceDelay, 40.0f);
    EXPECT_EQ(config.reserved1, 0.6f);
    EXPECT_EQ(config.panelResolution, glm::ivec2(0));
}

class RecordingDelegate final : public Delegate {
  public:
    void DidInitialize(ITavoSDK* sdk) override {
        ++calls;
        seen = sdk;
        initializedInside = sdk->IsInitialized();
        panelWidthInside = sdk->GetConfig().panelResolution.x;
    }
    int calls = 0;
    ITavoSDK* seen = nullptr;
    bool initializedInside = false;
    int32_t panelWidthInside = 0;
};

TEST_F(SdkTest, TheHostsCallingOrderEndsWithTheDefaultDisplay) {
    ASSERT_FALSE(head::IsCameraConnected());
    RecordingDelegate delegate;
    InitializePlatform();
    ASSERT_NE(sdk_->GetAssetManager(), nullptr);
    ::testing::internal::CaptureStdout();
    sdk_->Initialize(&delegate);
    const std::string out = ::testing::internal::GetCapturedStdout();

    EXPECT_TRUE(sdk_->IsInitialized());
    EXPECT_EQ(delegate.calls, 1);
    EXPECT_EQ(delegate.seen, sdk_);
    EXPECT_TRUE(delegate.initializedInside);
    EXPECT_EQ(delegate.panelWidthInside, 3840);
    // Face tracking is wanted by default, but without a camera it cannot start.
    EXPECT_FALSE(sdk_->IsFaceTrackingEnabled());
    EXPECT_TRUE(
        log_.HasLineStartingWith("error Failed to initialize face tracking backend: camera is "
                                 "not connected"))
        << log_.Dump();
    EXPECT_TRUE(log_.HasLineStartingWith("info Device Configuration:")) << log_.Dump();
    EXPECT_EQ(out,
              " [Face Tracking Disabled] [Baseline Scaling: 10] [Center View: 8.69004] [View "
              "Blending: Yes] [Sharpening: On]\n");

    // The default display, with the SDK's own tracking values kept.
    const device::Config& config = sdk_->GetConfig();
    EXPECT_EQ(sdk_->GetPanelResolutionX(), 3840);
    EXPECT_EQ(sdk_->GetPanelResolutionY(), 2160);
    EXPECT_EQ(sdk_->GetNumViews(), 12);
    EXPECT_EQ(sdk_->GetViewResolutionX(), 1280);
    EXPECT_EQ(sdk_->GetViewResolutionY(), 720);
    EXPECT_FLOAT_EQ(sdk_->GetConvergenceDistance(), 521.53f);
    EXPECT_FLOAT_EQ(sdk_->GetCenterView(), 8.69004f);
    EXPECT_EQ(config.kalmanA, glm::vec3(0.02f, 0.05f, 0.2f));
    EXPECT_EQ(config.faceDelay, 40.0f);

    ThreadedInterlacer* first = sdk_->CreateNewThreadedInterlacer({});
    ThreadedInterlacer* second = sdk_->CreateNewThreadedInterlacer({});
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, first);
    sdk_->Tick(0.25f);
    EXPECT_EQ(impl().tickValue(), 0.25f);
    sdk_->Shutdown();
    sdk_->Destroy();
    sdk_ = nullptr;
}

TEST_F(SdkTest, APanelFileGivesTheConfigurationToolsReadFromIt) {
    // tavo-weave --panel reads a file over the default panel; the SDK finds the same file
    // through TAVO_PANEL_FILE, with the panel's service and monitor there too.
    const std::filesystem::path file = display_.root() / "panel.json";
    std::ofstream(file) << R"({"panelResolution": [400, 225], "viewResolution": [400, 225],
        "numViews": [8, 1], "s": 1.177083, "theta": 0.0675417, "cameraCenter": [10, 20, 30],
        "faceDelay": 25})";
    ConnectPanel();
    ::setenv("TAVO_PANEL_FILE", file.c_str(), 1);
    InitializeWithoutTracking();
    ASSERT_TRUE(sdk_->IsInitialized());

    device::Config expected = device::LoadPanelDescription(file.string(), device::DefaultConfig());
    // What the SDK holds beyond the panel stays its own unless the file says otherwise.
    const device::Config& config = sdk_->GetConfig();
    expected.reserved0 = config.reserved0;
    expected.camera = config.camera;
    expected.kalmanA = config.kalmanA;
    expected.kalmanB = config.kalmanB;
    expected.reserved1 = config.reserved1;
    EXPECT_EQ(device::DescribeConfig(config), device::DescribeConfig(expected));
    EXPECT_EQ(config.faceDelay, 25.0f);
    EXPECT_EQ(config.kalmanA, glm::vec3(0.02f, 0.05f, 0.2f));
    EXPECT_EQ(sdk_->GetNumViews(), 8);
    EXPECT_EQ(sdk_->GetPanelResolutionX(), 400);
    EXPECT_TRUE(log_.HasLineStartingWith("info TavoService: Panel described by " + file.string()))
        << log_.Dump();
}

TEST_F(SdkTest, EverySettingsChangePrintsTheSettingsLine) {
    InitializeWithoutTracking();
    const std::string prefix = " [Face Tracking Disabled] [Baseline Scaling: ";
    const auto settings = [&](const std::function<void()>& change) {
        ::testing::internal::CaptureStdout();
        change();
        return ::testing::internal::GetCapturedStdout();
    };

    EXPECT_EQ(settings([&] { sdk_->SetBaselineScaling(-2.0f); }),
              prefix + "0] [Center View: 8.69004] [View Blending: Yes] [Sharpening: On]\n");
    EXPECT_EQ(sdk_->GetBaselineScaling(), 0.0f);
    sdk_->SetBaselineScaling(1.0f);
    EXPECT_EQ(settings([&] { sdk_->SetBaselineScaling(std::numeric_limits<float>::quiet_NaN()); }),
              prefix + "0] [Center View: 8.69004] [View Blending: Yes] [Sharpening: On]\n");
    EXPECT_EQ(sdk_->GetBaselineScaling(), 0.0f);
    EXPECT_EQ(settings([&] { sdk_->SetBaselineScaling(12.5f); }),
              prefix + "12.5] [Center View: 8.69004] [View Blending: Yes] [Sharpening: On]\n");

    EXPECT_EQ(settings([&] { sdk_->SetCenterView(5.0f); }),
              prefix + "12.5] [Center View: 5] [View Blending: Yes] [Sharpening: On]\n");
    EXPECT_FLOAT_EQ(sdk_->GetCenterView(), 5.0f);
    EXPECT_FLOAT_EQ(impl().centerViewOffset(), 5.0f - 8.69004f);

    EXPECT_EQ(settings([&] { sdk_->ToggleViewBlending(); }),
              prefix + "12.5] [Center View: 5] [View Blending: No] [Sharpening: On]\n");
    EXPECT_FALSE(impl().viewBlending());
    EXPECT_EQ(settings([&] { sdk_->EnableSharpening(false); }),
              prefix + "12.5] [Center View: 5] [View Blending: No] [Sharpening: Off]\n");
    EXPECT_FALSE(sdk_->IsSharpeningEnabled());

    // Not settings of the line: nothing printed.
    EXPECT_EQ(settings([&] { sdk_->Tick(3.0f); }), "");
    EXPECT_EQ(settings([&] { EXPECT_FALSE(sdk_->EnableFaceTracking(false)); }), "");
}

TEST_F(SdkTest, SharpeningValuesOfTheDefaultPanel) {
    InitializeWithoutTracking();
    TavoSharpeningValues values;
    // Untouched parts keep what the caller had there.
    for (glm::vec4& value : values.sharpeningValues) {
        value = glm::vec4(7.0f);
    }
    values.textureInvSize = glm::vec4(7.0f);
    sdk_->GetSharpeningValues(values, 3840, 2160);

    const device::Config& config = sdk_->GetConfig();
    float total = 1.0f;
    for (int i = 0; i < 9; ++i) {
        total -= config.actBeta * config.viewSharpeningCoefficientsX[i];
    }
    EXPECT_EQ(values.gamma, config.actGamma);
    EXPECT_FLOAT_EQ(values.sharpeningCenter, 1.0f / total);
    EXPECT_EQ(values.textureInvSize, glm::vec4(1.0f / 3840, 1.0f / 2160, 7.0f, 7.0f));
    ASSERT_EQ(values.sharpeningValueCount, 12);
    const float offsets[6][2] = {{0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 0}};
    for (int i = 0; i < 6; ++i) {
        const float weight = config.viewSharpeningCoefficientsX[i] / total;
        EXPECT_EQ(values.sharpeningValues[2 * i],
                  glm::vec4(offsets[i][0], offsets[i][1], weight, 7.0f))
            << i;
        EXPECT_EQ(values.sharpeningValues[2 * i + 1],
                  glm::vec4(-offsets[i][0], -offsets[i][1], weight, 7.0f))
            << i;
    }
    for (int i = 12; i < TavoSharpeningValues::kMaxValues; ++i) {
        EXPECT_EQ(values.sharpeningValues[i], glm::vec4(7.0f)) << i;
    }
}

TEST_F(SdkTest, SharpeningValuesStopAtTheRecordsRoomAndNeedWholeViews) {
    InitializeWithoutTracking();
    device::Config config = sdk_->GetConfig();
    config.viewSharpeningCoefficientsXCount = 12;
    for (int i = 0; i < 12; ++i) {
        config.viewSharpeningCoefficientsX[i] = 0.01f * static_cast<float>(i + 1);
    }
    config.actBeta = 1.0f;
    config.pOverDv = -1.0f;
    sdk_->SetConfig(config);

    TavoSharpeningValues values;
    sdk_->GetSharpeningValues(values, 100, 100);
    EXPECT_EQ(values.sharpeningValueCount, 18);
    // All twelve coefficients count towards the centre, taken from 1 one by one in floats,
    // although only nine fit the record.
    float total = 1.0f;
    for (int i = 0; i < 12; ++i) {
        total -= config.viewSharpeningCoefficientsX[i];
    }
    EXPECT_EQ(values.sharpeningCenter, 1.0f / total);
    // i = 9: (3, 0); the slant's sign reaches the y offsets: i = 8 gives (2, -2).
    const float weight8 = config.viewSharpeningCoefficientsX[7] / total;
    EXPECT_EQ(values.sharpeningValues[14], glm::vec4(2.0f, -2.0f, weight8, 0.0f));
    EXPECT_EQ(values.sharpeningValues[15], glm::vec4(-2.0f, 2.0f, weight8, 0.0f));
    EXPECT_EQ(values.sharpeningValues[16].x, 3.0f);
    EXPECT_EQ(values.sharpeningValues[16].y, 0.0f);
    EXPECT_EQ(values.sharpeningValues[17].x, -3.0f);
    EXPECT_EQ(values.sharpeningValues[17].z, config.viewSharpeningCoefficientsX[8] / total);

    // Less than one view per pixel: no offsets exist (and nothing divides by zero).
    config.pOverDu = 0.5f;
    sdk_->SetConfig(config);
    sdk_->GetSharpeningValues(values, 100, 100);
    EXPECT_EQ(values.sharpeningValueCount, 0);
    EXPECT_EQ(values.sharpeningCenter, 1.0f / total);

    // Ratios that no integer offset can come from give no values either, and never reach
    // an undefined conversion or product (the sanitizer builds stop at those).
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, float> unusable[] = {
        {nan, 1.0f}, {3.0f, nan}, {inf, 1.0f}, {3.0f, -inf}, {3e9f, 1.0f}, {3.0f, -2147483648.0f},
    };
    for (const auto& [pOverDu, pOverDv] : unusable) {
        config.pOverDu = pOverDu;
        config.pOverDv = pOverDv;
        sdk_->SetConfig(config);
        values.sharpeningValueCount = 5;
        sdk_->GetSharpeningValues(values, 100, 100);
        EXPECT_EQ(values.sharpeningValueCount, 0) << pOverDu << ", " << pOverDv;
        EXPECT_EQ(values.sharpeningCenter, 1.0f / total);
    }
}

TEST_F(SdkTest, EnablingFaceTrackingWithoutACameraLeavesItOff) {
    ASSERT_FALSE(head::IsCameraConnected());
    InitializeWithoutTracking();
    EXPECT_FALSE(sdk_->IsFaceTrackingEnabled());
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(sdk_->EnableFaceTracking(true));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(sdk_->IsFaceTrackingEnabled());
    EXPECT_EQ(out.rfind(" [Face Tracking Disabled] [Baseline Scaling: 10]", 0), 0u) << out;
    EXPECT_TRUE(log_.HasLineStartingWith(
        "error Failed to initialize face tracking backend: camera is not connected"))
        << log_.Dump();
    EXPECT_THROW(sdk_->GetFaceDetectorBackend(), Exception);

    // The explicit start reports the same, and says it ignores its level.
    sdk_->StartFaceTracking(true, 5);
    EXPECT_FALSE(sdk_->IsFaceTrackingEnabled());
    EXPECT_EQ(
        log_.CountExact("warning In-app face tracking implementation uses the same log level as "
                        "the SDK."),
        1);
}

TEST_F(SdkTest, FaceTrackingStartedByInitializeSeesTheHostCamerasFace) {
    InitializeWithHostCamera();
    ASSERT_TRUE(sdk_->IsFaceTrackingEnabled()) << log_.Dump();
    EXPECT_EQ(log_.CountExact("info Starting face tracking"), 1);
    EXPECT_EQ(sdk_->GetFaceDetectorBackend(), kTavoFaceDetectorBackendCPU);
    EXPECT_FALSE(sdk_->IsUsingGpuFaceDetector());
    ASSERT_TRUE(camera_.PushIntrinsics());

    glm::vec3 face(-1.0f);
    EXPECT_FALSE(sdk_->GetPrimaryFace(face));
    EXPECT_EQ(face, glm::vec3(-1.0f));
    // The tracker needs one frame to start its clock; the next carries the face.
    PushFrames(2);
    const glm::vec3 expected = test::ExpectedDisplayPosition(sdk_->GetConfig());
    glm::vec3 delivered;
    ASSERT_TRUE(sdk_->GetNonPredictedPrimaryFace(delivered)) << log_.Dump();
    EXPECT_TRUE(Near(delivered, expected, 0.01f))
        << delivered.x << ", " << delivered.y << ", " << delivered.z << " vs " << expected.x << ", "
        << expected.y << ", " << expected.z;
    // A face seen for the first time does not move yet: the prediction is where it is.
    ASSERT_TRUE(sdk_->GetPrimaryFace(face));
    EXPECT_TRUE(Near(face, expected, 0.01f)) << face.x << ", " << face.y << ", " << face.z;

    // Paused tracking forgets the face until the engine sees it again.
    sdk_->SetFaceTrackingRunning(false);
    EXPECT_FALSE(sdk_->IsFaceTrackingRunning());
    EXPECT_FALSE(sdk_->GetPrimaryFace(face));
    sdk_->SetFaceTrackingRunning(true);
    PushFrames(2);
    EXPECT_TRUE(sdk_->GetPrimaryFace(face));

    // Profiling reaches the running engine.
    head::FrameProfiling profiling;
    EXPECT_FALSE(sdk_->GetFaceTrackingProfiling(profiling));
    sdk_->SetProfiling(true);
    EXPECT_TRUE(impl().profiling());
    PushFrames(1);
    EXPECT_TRUE(sdk_->GetFaceTrackingProfiling(profiling));
    EXPECT_GT(profiling.apiTimestamp, 0);

    // Switched off, the engine and its hold on the host camera go.
    EXPECT_FALSE(sdk_->EnableFaceTracking(false));
    // A push now reaches no engine (the sink's members stay filled, the calls are dropped).
    camera_.PushFrame(Timestamp{});
    EXPECT_FALSE(sdk_->GetNonPredictedPrimaryFace(face));
    EXPECT_FALSE(sdk_->GetPrimaryFace(face));
}

class CountingCallback final : public CTavoSDKFaceTrackingCallback {
  public:
    void OnFrame(const head::Frame& frame) override {
        ++frames;
        lastFaces = frame.faces().size;
    }
    int frames = 0;
    int64_t lastFaces = -1;
};

TEST_F(SdkTest, TheHostCallbackAndHandedInFacesGoThroughFaceTracking) {
    CountingCallback callback;
    sdk_->SetFaceTrackingCallback(&callback);
    InitializeWithHostCamera();
    ASSERT_TRUE(camera_.PushIntrinsics());
    PushFrames(2);
    EXPECT_EQ(callback.frames, 2);
    EXPECT_EQ(callback.lastFaces, 1);
    sdk_->SetFaceTrackingCallback(nullptr);
    PushFrames(1);
    EXPECT_EQ(callback.frames, 2);

    const head::MovingPoint handed{{1.0f, 2.0f, 500.0f}, {0.5f, 0.0f, 0.0f}};
    const Timestamp unknownClock{Timestamp::Space::Unknown, 0.0};
    sdk_->SetPrimaryFace(&handed, &unknownClock);
    glm::vec3 face;
    ASSERT_TRUE(sdk_->GetPrimaryFace(face));
    // Only the configured delay (40 ms) is looked ahead on a foreign clock.
    EXPECT_TRUE(Near(face, {21.0f, 2.0f, 500.0f})) << face.x;
    sdk_->SetPrimaryFace(nullptr, nullptr);
    EXPECT_FALSE(sdk_->GetNonPredictedPrimaryFace(face));
}

// Each change of a value the engine is built from, and some that are not.
TEST_F(SdkTest, SetConfigRestartsFaceTrackingOnlyForTrackingValues) {
    InitializeWithHostCamera();
    ASSERT_TRUE(sdk_->IsFaceTrackingEnabled()) << log_.Dump();
    ASSERT_TRUE(camera_.PushIntrinsics());

    using Change = std::function<void(device::Config&)>;
    const std::vector<std::pair<const char*, Change>> untracked = {
        {"faceDelay", [](device::Config& c) { c.faceDelay = 20.0f; }},
        {"centerViewNumber", [](device::Config& c) { c.centerViewNumber = 6.0f; }},
        {"n", [](device::Config& c) { c.n = 1.5f; }},
        {"numViews", [](device::Config& c) { c.numViews.x = 8; }},
    };
    const std::vector<std::pair<const char*, Change>> tracked = {
        {"cameraCenter", [](device::Config& c) { c.cameraCenter.z += 1.0f; }},
        {"cameraTheta", [](device::Config& c) { c.cameraTheta.y += 1.0f; }},
        {"camera.width", [](device::Config& c) { c.camera.width = 640; }},
        {"camera.height", [](device::Config& c) { c.camera.height = 480; }},
        {"camera.fps", [](device::Config& c) { c.camera.fps = 30; }},
        {"camera.binningFactor", [](device::Config& c) { c.camera.binningFactor = 2.0f; }},
        {"kalmanA", [](device::Config& c) { c.kalmanA.x = 0.03f; }},
        {"kalmanB", [](device::Config& c) { c.kalmanB = 0.2f; }},
    };

    int starts = 1;
    for (const auto& [name, change] : untracked) {
        device::Config config = sdk_->GetConfig();
        change(config);
        ::testing::internal::CaptureStdout();
        sdk_->SetConfig(config);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(log_.CountExact("info Starting face tracking"), starts) << name;
        EXPECT_EQ(out.rfind(" [Face Tracking Enabled] [Baseline Scaling: 10] [Center View: ", 0),
                  0u)
            << name << ": " << out;
        EXPECT_EQ(std::memcmp(&sdk_->GetConfig(), &config, sizeof(config)), 0) << name;
    }
    EXPECT_EQ(sdk_->GetConfig().faceDelay, 20.0f);
    for (const auto& [name, change] : tracked) {
        device::Config config = sdk_->GetConfig();
        change(config);
        sdk_->SetConfig(config);
        EXPECT_EQ(log_.CountExact("info Starting face tracking"), ++starts) << name;
        EXPECT_TRUE(sdk_->IsFaceTrackingEnabled()) << name << "\n" << log_.Dump();
    }

    // The restarted engine keeps using the host's camera and the new camera pose.
    ASSERT_TRUE(camera_.PushIntrinsics());
    PushFrames(2);
    glm::vec3 face;
    ASSERT_TRUE(sdk_->GetNonPredictedPrimaryFace(face)) << log_.Dump();
    EXPECT_TRUE(Near(face, test::ExpectedDisplayPosition(sdk_->GetConfig()), 0.01f));

    // Switched off, a tracking change starts nothing.
    sdk_->EnableFaceTracking(false);
    device::Config config = sdk_->GetConfig();
    config.camera.fps = 60;
    sdk_->SetConfig(config);
    EXPECT_EQ(log_.CountExact("info Starting face tracking"), starts);
    EXPECT_FALSE(sdk_->IsFaceTrackingEnabled());
}

// The switch tells whether face tracking runs: a restart that fails turns it off, so that the
// host's next EnableFaceTracking(true) really starts again.
TEST_F(SdkTest, AFailedRestartInSetConfigTurnsFaceTrackingOff) {
    InitializeWithHostCamera();
    ASSERT_TRUE(sdk_->IsFaceTrackingEnabled()) << log_.Dump();
    // Asked for at the next start, and there is no GPU detector plug-in.
    sdk_->SetFaceDetectorBackend(kTavoFaceDetectorBackendGPU);
    device::Config config = sdk_->GetConfig();
    config.camera.fps = 30;
    ::testing::internal::CaptureStdout();
    sdk_->SetConfig(config);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(log_.HasLineStartingWith(
        "error Failed to initialize face tracking backend: Failed to create face detector"))
        << log_.Dump();
    EXPECT_FALSE(sdk_->IsFaceTrackingEnabled());
    EXPECT_EQ(out.rfind(" [Face Tracking Disabled]", 0), 0u) << out;
    EXPECT_EQ(sdk_->GetConfig().camera.fps, 30);
    EXPECT_THROW(sdk_->GetFaceDetectorBackend(), Exception);

    // The failed start forgot the host camera; handed in again, tracking comes back.
    sdk_->SetFaceDetectorBackend(kTavoFaceDetectorBackendCPU);
    sdk_->PrepareFaceTracking(false, &camera_.sink);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(sdk_->EnableFaceTracking(true)) << log_.Dump();
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(camera_.PushIntrinsics());
    PushFrames(2);
    glm::vec3 face;
    EXPECT_TRUE(sdk_->GetNonPredictedPrimaryFace(face)) << log_.Dump();
}

TEST_F(SdkTest, SetConfigTakesItsOwnConfigurationBack) {
    InitializeWithoutTracking();
    const device::Config before = sdk_->GetConfig();
    sdk_->SetConfig(sdk_->GetConfig());
    EXPECT_EQ(std::memcmp(&sdk_->GetConfig(), &before, sizeof(before)), 0);
}

TEST_F(SdkTest, BacklightRequestsAreForcedOnlyOnChange) {
    ConnectPanel();
    InitializeWithoutTracking();
    EXPECT_EQ(sdk_->GetPanelResolutionX(), 3840);
    EXPECT_FLOAT_EQ(sdk_->GetConvergenceDistance(), 600.0f) << "the panel's own configuration";

    sdk_->SetBacklight(true);
    EXPECT_TRUE(impl().backlightOn());
    sdk_->SetBacklight(false);
    sdk_->SetBacklight(false);
    EXPECT_FALSE(impl().backlightOn());
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode active interlacers 0"), 3);
    EXPECT_EQ(
        log_.CountExact("info [TavoSDK] SetBacklight - NoFaceMode not active setting backlight "
                        "to on"),
        1);
    EXPECT_EQ(
        log_.CountExact("info [TavoSDK] SetBacklight - NoFaceMode not active setting backlight "
                        "to off"),
        2);
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode ForceSetBacklight forced on"), 1);
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode ForceSetBacklight forced off"), 1);
    EXPECT_EQ(TavoDisplaySdk::control::backlightRequests(), (std::vector<bool>{true, false}));

    // Shut down, the panel is switched off whatever was last requested.
    sdk_->Shutdown();
    EXPECT_EQ(TavoDisplaySdk::control::backlightRequests(),
              (std::vector<bool>{true, false, false}));
    EXPECT_FALSE(impl().backlightOn());
}

TEST_F(SdkTest, WithoutADisplayBacklightRequestsAreDropped) {
    InitializeWithoutTracking();
    sdk_->SetBacklight(true);
    EXPECT_TRUE(impl().backlightOn());
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode ForceSetBacklight forced on"), 1);
    EXPECT_TRUE(TavoDisplaySdk::control::backlightRequests().empty());
}

TEST_F(SdkTest, AnInterlacerInTheNoFaceStateRefusesBacklightRequests) {
    InitializeWithoutTracking();
    ThreadedInterlacer* idle = sdk_->CreateNewThreadedInterlacer({});
    ThreadedInterlacer* shown = sdk_->CreateNewThreadedInterlacer({});
    // No face needed at all, and every interlacer is old enough.
    impl().SetNoFaceTimeThreshold(0.0);
    bool refused = false;
    // The no-face state needs a frame within 1/30 s; a slow machine gets a few tries.
    for (int attempt = 0; attempt < 5 && !refused; ++attempt) {
        Access::SetLastRenderTime(*idle, SteadyNowNs() - 1'000'000'000);
        Access::RunFrame(*shown);
        sdk_->SetBacklight(true);
        refused = log_.CountExact(
                      "info [TavoSDK] SetBacklight - NoFaceMode preventing backlight from "
                      "turning on") > 0;
    }
    ASSERT_TRUE(refused) << log_.Dump();
    EXPECT_GE(log_.CountExact("info [TavoSDK] NoFaceMode active interlacers 2"), 1);
    EXPECT_TRUE(
        log_.HasLineStartingWith("info [TavoSDK] NoFaceMode interlacer 1 has reached noface "
                                 "threshold, time since last face "))
        << log_.Dump();
    EXPECT_FALSE(log_.HasLineStartingWith("info [TavoSDK] NoFaceMode interlacer 0")) << log_.Dump();
    EXPECT_FALSE(log_.HasLineStartingWith("info [TavoSDK] NoFaceMode ForceSetBacklight"));
    EXPECT_FALSE(impl().backlightOn());

    // Without the policy the same request goes through.
    impl().SetNoFaceModeEnabled(false);
    sdk_->SetBacklight(true);
    EXPECT_TRUE(impl().backlightOn());
}

TEST_F(SdkTest, InterlacersAreMadeListedAndDestroyedByTheSdk) {
    InitializeWithoutTracking();
    struct NoHooks final : InterlacerDelegate {};
    NoHooks delegate;
    ThreadedInterlacer* interlacer = sdk_->CreateNewThreadedInterlacer({true, true, &delegate});
    ASSERT_NE(interlacer, nullptr);
    EXPECT_TRUE(interlacer->protectedContent());
    EXPECT_TRUE(interlacer->useViewAtlas());
    EXPECT_EQ(interlacer->delegate(), &delegate);
    ThreadedInterlacer* other = sdk_->CreateNewThreadedInterlacer({});
    EXPECT_FALSE(other->protectedContent());
    EXPECT_EQ(other->delegate(), nullptr);

    sdk_->DestroyThreadedInterlacer(nullptr);
    sdk_->SetBacklight(false);
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode active interlacers 2"), 1);
    sdk_->DestroyThreadedInterlacer(interlacer);
    sdk_->SetBacklight(false);
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode active interlacers 1"), 1);

    // Another SDK's interlacer is not this one's to destroy.
    ITavoSDK* second = CreateTavoSDK();
    ThreadedInterlacer* foreign = second->CreateNewThreadedInterlacer({});
    sdk_->DestroyThreadedInterlacer(foreign);
    EXPECT_TRUE(
        log_.HasLineStartingWith("warning [TavoSDK] DestroyThreadedInterlacer: interlacer"));
    EXPECT_EQ(foreign->GetNumViews(), 2) << "still alive";
    second->DestroyThreadedInterlacer(foreign);
    second->Destroy();

    sdk_->Shutdown();
    sdk_->SetBacklight(false);
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode active interlacers 0"), 1);
    // Made again after a shutdown, the list works as before.
    sdk_->CreateNewThreadedInterlacer({});
    sdk_->SetBacklight(false);
    EXPECT_EQ(log_.CountExact("info [TavoSDK] NoFaceMode active interlacers 1"), 2);
}

TEST_F(SdkTest, StartingAndStoppingTrackingRestartsTheNoFaceClocks) {
    InitializeWithHostCamera();
    ThreadedInterlacer* interlacer = sdk_->CreateNewThreadedInterlacer({});
    impl().SetNoFaceTimeThreshold(0.2);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const int64_t before = SteadyNowNs();
    Access::SetLastRenderTime(*interlacer, before);
    ASSERT_TRUE(interlacer->IsInNoFaceState(before));

    sdk_->StopTracking();
    EXPECT_FALSE(sdk_->IsFaceTrackingRunning());
    EXPECT_GE(interlacer->lastFaceTime(), before);
    EXPECT_FALSE(interlacer->IsInNoFaceState(SteadyNowNs()));

    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const int64_t later = SteadyNowNs();
    Access::SetLastRenderTime(*interlacer, later);
    ASSERT_TRUE(interlacer->IsInNoFaceState(later));
    sdk_->StartTracking();
    EXPECT_TRUE(sdk_->IsFaceTrackingRunning());
    EXPECT_GE(interlacer->lastFaceTime(), later);
    EXPECT_FALSE(interlacer->IsInNoFaceState(SteadyNowNs()));
}

TEST_F(SdkTest, ShutdownStopsFaceTrackingAndDestroyLeavesNothingRunning) {
    InitializeWithHostCamera();
    ASSERT_TRUE(camera_.PushIntrinsics());
    sdk_->CreateNewThreadedInterlacer({});
    sdk_->Shutdown();
    // The engine's camera is gone: a push is dropped and brings no face.
    camera_.PushFrame(Timestamp{});
    glm::vec3 face;
    EXPECT_FALSE(sdk_->GetNonPredictedPrimaryFace(face));
    EXPECT_THROW(sdk_->GetFaceDetectorBackend(), Exception);
    // Interlacers left in the list go with the object too.
    sdk_->CreateNewThreadedInterlacer({});
    sdk_->Destroy();
    sdk_ = nullptr;
}

}  // namespace
}  // namespace tavo::sdk
