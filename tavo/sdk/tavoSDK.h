// The SDK object a host drives the 3D display through, its host callbacks and the image helpers.
#pragma once

#include <cstdint>

#include <glm/vec3.hpp>

#include "tavo/common/export.h"
#include "tavo/common/platform.h"
#include "tavo/device/config.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/headTracking/common/types.h"
#include "tavo/headTracking/engine/core/kalmanFilter.h"
#include "tavo/sdk/faceTrackingCallback.h"
#include "tavo/sdk/interlacer.h"

namespace tavo {
class AssetManager;
}  // namespace tavo

namespace tavo::sdk {

class ITavoSDK;

// The machine-learning image component; this library never makes one, so no thread ever gets
// one from GetMLImage.
class TAVO_API MLImage {
  public:
    virtual ~MLImage();
};

// Implemented by the host; not owned. DidInitialize runs on the thread that called Initialize,
// before Initialize returns.
class TAVO_API Delegate {
  public:
    virtual void DidInitialize(ITavoSDK* sdk);

  protected:
    // Never deleted through this interface: the host owns its implementation.
    ~Delegate() = default;
};

// The SDK object. The slot order of the virtual operations is part of the host interface.
//
// Threads: set-up (InitializePlatform, Initialize, face tracking starts and stops, Shutdown,
// Destroy) belongs to the host's set-up thread. Settings and backlight requests may come from
// any host thread; settings are plain values the render threads read once per frame. SetConfig
// may run on any thread: it pauses every interlacer between frames while it replaces the
// configuration, but host threads other than render threads must not read the configuration
// (GetConfig, the getters derived from it, GetPrimaryFace) while it runs. The face queries may
// come from any thread. Locks: the interlacer list lock (membership and the no-face walk), the
// backlight lock and the face tracking lock, never held together; SetConfig waits for the
// frames under way holding none of them. Two SetConfig calls run one after the other, so a
// frame must not call SetConfig while another thread may be changing the configuration.
class TAVO_API ITavoSDK {
  public:
    // Slot 0. Null does nothing; an interlacer this SDK did not make is left alone.
    virtual void DestroyThreadedInterlacer(ThreadedInterlacer* interlacer) = 0;
    // Destroys this object; the pointer is invalid afterwards.
    virtual void Destroy() = 0;
    virtual void EnableSharpening(bool enable) = 0;
    virtual float GetBaselineScaling() = 0;
    virtual float GetCenterView() = 0;
    virtual float GetConvergenceDistance() = 0;
    virtual int32_t GetPanelResolutionX() = 0;
    virtual int32_t GetPanelResolutionY() = 0;
    virtual int32_t GetNumViews() = 0;
    virtual void GetSharpeningValues(TavoSharpeningValues& values, int32_t width,
                                     int32_t height) = 0;
    // Slot 10.
    virtual int32_t GetViewResolutionY() = 0;
    virtual int32_t GetViewResolutionX() = 0;
    virtual bool IsBilinearFilteringEnabled() = 0;
    virtual bool IsSharpeningEnabled() = 0;
    // Negative values are stored as 0.
    virtual void SetBaselineScaling(float scaling) = 0;
    virtual void SetCenterView(float centerView) = 0;
    virtual void Shutdown() = 0;
    // Throws tavo::Exception before Initialize.
    virtual void Tick(float value) = 0;
    virtual void ToggleViewBlending() = 0;
    // Throws tavo::Exception before Initialize.
    virtual void SetConfig(const device::Config& config) = 0;
    // Slot 20. Throws tavo::Exception before Initialize.
    virtual const device::Config& GetConfig() = 0;
    virtual void StartTracking() = 0;
    virtual void StopTracking() = 0;
    // Refused while an interlacer is in the no-face state.
    virtual void SetBacklight(bool on) = 0;
    virtual void SetProfiling(bool enable) = 0;
    // The sink is used at the next start of face tracking; nothing is started here.
    virtual void PrepareFaceTracking(bool enable, SharedCameraSink* sink) = 0;
    // `logLevel` is not used: face tracking logs at the SDK's level.
    virtual void StartFaceTracking(bool enable, int32_t logLevel) = 0;
    virtual void SetFaceTrackingCallback(CTavoSDKFaceTrackingCallback* callback) = 0;
    // Throws tavo::Exception before Initialize. Returns whether face tracking is now on.
    virtual bool EnableFaceTracking(bool enable) = 0;
    virtual bool IsFaceTrackingEnabled() = 0;
    // Slot 30.
    virtual void SetFaceTrackingRunning(bool run) = 0;
    virtual bool IsFaceTrackingRunning() = 0;
    virtual void SetFaceDetectorBackend(tavo_face_detector_backend_e backend) = 0;
    // Throws tavo::Exception while face tracking is not started.
    virtual tavo_face_detector_backend_e GetFaceDetectorBackend() = 0;
    virtual bool IsUsingGpuFaceDetector() = 0;
    // The primary face predicted `faceDelay` ms ahead, display space (mm). False, with `face`
    // untouched, without a face. Throws tavo::Exception before Initialize.
    virtual bool GetPrimaryFace(glm::vec3& face) = 0;
    // The primary face as last delivered. Same failures as GetPrimaryFace.
    virtual bool GetNonPredictedPrimaryFace(glm::vec3& face) = 0;
    virtual bool GetFaceTrackingProfiling(head::FrameProfiling& profiling) = 0;
    // A face handed in from outside; null pointers clear the face.
    virtual void SetPrimaryFace(const head::MovingPoint* face, const Timestamp* timestamp) = 0;
    // Failures are logged, not thrown; the earlier platform then stays.
    virtual void InitializePlatform(const PlatformInitArgs& args) = 0;
    // Slot 40. Throws tavo::Exception without a platform. `delegate` may be null.
    virtual void Initialize(Delegate* delegate) = 0;
    virtual bool IsInitialized() = 0;
    // Not ownership; null before InitializePlatform.
    virtual AssetManager* GetAssetManager() = 0;
    // The SDK keeps ownership; release with DestroyThreadedInterlacer or Shutdown.
    virtual ThreadedInterlacer* CreateNewThreadedInterlacer(const ThreadedInterlacerArgs& args) = 0;
    // Always null in this library.
    virtual MLImage* GetMLImage() = 0;
    // Slot 45. Hosts release the object with Destroy.
    virtual ~ITavoSDK();
};

// A new SDK object; the host releases it with Destroy.
TAVO_API ITavoSDK* CreateTavoSDK();
// False: face tracking always runs inside the host's process.
TAVO_API bool IsFaceTrackingInService();

}  // namespace tavo::sdk

// Component types of an image description: 0 unsigned 8-bit, 1 32-bit float.
enum tavo_sdk_image_component_type {
    kTavoSdkImageComponentTypeUInt8 = 0,
    kTavoSdkImageComponentTypeFloat32 = 1,
};

// Pixel formats of an image description.
enum tavo_sdk_image_format {
    kTavoSdkImageFormatRGB = 0,
    kTavoSdkImageFormatRGBA = 1,
    kTavoSdkImageFormatBGR = 2,
    kTavoSdkImageFormatBGRA = 3,
};

// An image the interlacer turns into a texture: rows of `width` pixels without padding. The
// pixels stay the caller's.
struct tavo_sdk_image_desc {
    int32_t width;
    int32_t height;
    // A tavo_sdk_image_format value.
    int32_t format;
    // A tavo_sdk_image_component_type value.
    int32_t componentType;
    const void* data;
};

// These take the enumeration values as plain integers and answer 0 for any other value. Any
// thread may call them. Exported unmangled.
TAVO_EXTERN_C TAVO_API int32_t tavo_sdk_image_component_type_size(int32_t componentType);
// The OpenGL type (GL_UNSIGNED_BYTE, GL_FLOAT).
TAVO_EXTERN_C TAVO_API uint32_t tavo_sdk_image_component_type_to_gl(int32_t componentType);
TAVO_EXTERN_C TAVO_API int32_t tavo_sdk_image_format_num_components(int32_t format);
// The OpenGL format (GL_RGB, GL_RGBA, GL_BGR, GL_BGRA).
TAVO_EXTERN_C TAVO_API uint32_t tavo_sdk_image_format_to_gl(int32_t format);

// The library's version text, "0.6.74". Exported unmangled.
TAVO_EXTERN_C TAVO_API const char* tavoSdkGetVersion();
