// Records and interfaces shared by every head tracking component, with their text forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <glm/mat3x3.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include "tavo/common/export.h"

// Compute backend of a face detector. A plain enumeration so that the C interface and the
// detector plug-ins share it; where backends form a set, each occupies the bit of its value.
typedef enum tavo_face_detector_backend_e {
    kTavoFaceDetectorBackendUnknown = 0,
    kTavoFaceDetectorBackendCPU = 1,
    kTavoFaceDetectorBackendGPU = 2,
} tavo_face_detector_backend_e;

// "kTavoFaceDetectorBackendCPU", "kTavoFaceDetectorBackendGPU", and
// "kTavoFaceDetectorBackendUnknown" for every other value. Never null.
TAVO_EXTERN_C TAVO_API const char* tavo_face_detector_backend_to_string(
    tavo_face_detector_backend_e backend);

namespace tavo {

// Non-owning view of contiguous records. Valid only while the owner leaves its records
// unchanged; the accessor that returns it says how long that is.
template <typename T>
struct Slice {
    T* data = nullptr;
    int64_t size = 0;

    T* begin() const { return data; }
    T* end() const { return data + size; }
    bool empty() const { return size == 0; }
    T& operator[](int64_t index) const { return data[index]; }
};

// Capture time of a camera frame.
struct Timestamp {
    enum class Space : int32_t {
        // The host's wall clock: milliseconds since 1970-01-01 00:00 UTC, the platform clock.
        System = 0,
        // A device clock that cannot be compared with the host's.
        Unknown = -1,
    };

    Space space = Space::System;
    double ms = 0.0;
};

// One image of a camera frame: 8-bit single-channel rows of `width` bytes, no padding.
struct ImageDesc {
    int32_t width = 0;
    int32_t height = 0;
    // As the camera reports it.
    int32_t rotation = 0;
    const uint8_t* data = nullptr;
};

// Pinhole model of a camera image.
struct CameraIntrinsics {
    int32_t width = 0;
    int32_t height = 0;
    float ppx = 0.0f;
    float ppy = 0.0f;
    float fx = 0.0f;
    float fy = 0.0f;
    // Lens distortion as the camera reports it.
    float coeffs[5] = {};
    bool isMirrored = false;
};

}  // namespace tavo

namespace tavo::head {

// One tracked face, display space. `position` and `velocity` together form a moving point.
struct Face {
    // Millimetres.
    glm::vec3 position{0.0f};
    // Millimetres per millisecond.
    glm::vec3 velocity{0.0f};
    // Head rotation of the detection behind the face, radians; y is the yaw.
    glm::vec3 angles{0.0f};
    // Index into the same frame's raw faces; -1 for a face extrapolated without a detection.
    int32_t rawFaceIndex = -1;
};

// One accepted detection in camera space, millimetres, before filtering.
struct RawFace {
    glm::vec3 rightEye{0.0f};
    glm::vec3 leftEye{0.0f};
    // The eye midpoint, or one eye, per the tracked-eyes setting.
    glm::vec3 trackedPoint{0.0f};
    // Index into the detector output, rejected detections counted.
    int32_t detectionIndex = -1;
};

// One face as a detector reports it. The member order is part of the plug-in contract.
struct DetectedFace {
    glm::dvec2 rightEyePixel{0.0};
    // Metres.
    float rightEyeDepth = 0.0f;
    glm::dvec2 leftEyePixel{0.0};
    float leftEyeDepth = 0.0f;
    // The detector's own; carried through untouched.
    glm::vec3 auxiliary{0.0f};
    // Radians; y is the yaw.
    glm::vec3 angles{0.0f};
};

// Timing of one processed camera frame in nanoseconds; all zero when profiling is off.
struct FrameProfiling {
    int64_t cameraExposureTime = 0;
    int64_t faceDetectorStartTime = 0;
    int64_t faceDetectorEndTime = 0;
    int64_t apiTimestamp = 0;
};

struct FaceDetectorConfiguration {
    // 0 leaves the detector's own maximum.
    int32_t maxNumOfFaces = 0;
    // kTavoFaceDetectorBackendUnknown lets the engine choose.
    tavo_face_detector_backend_e backend = kTavoFaceDetectorBackendUnknown;
};

// Values of 0 leave the choice to the camera.
struct CameraConfiguration {
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 0;
    float binningFactor = 0.0f;
};

// What a detector plug-in is made from. Its layout is part of the plug-in contract; the
// referenced configuration is valid only during the plug-in's create call.
struct BlinkDetectorConfiguration {
    const FaceDetectorConfiguration& faceDetector;
    std::string extraArgs;
};

struct TrackingSessionInitArgs {
    // A window surface handle where the platform has one; only ever logged.
    uintptr_t androidSurface = 0;
};

// One captured frame, owned by its camera and touched only on the camera's delivery thread
// while the listener call that delivers it lasts.
class CameraFrame {
  public:
    virtual ~CameraFrame() = default;
    virtual Timestamp timestamp() const = 0;
    // At least one image; the first is the one detectors and SaveCameraFrame read. Valid
    // while the frame lives.
    virtual Slice<const ImageDesc> imageDescs() const = 0;
    // Distance at `pixel` in metres; false when there is none.
    virtual bool GetDepth(const glm::dvec2& pixel, float& depth) const = 0;
    // Camera-space point in metres of `pixel` at `depth` metres; false on failure.
    virtual bool DeprojectPixelToPoint(const glm::dvec2& pixel, float depth,
                                       glm::vec3& point) const = 0;
    // Pixel and depth (metres) of a camera-space point in metres; false on failure.
    virtual bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2& pixel,
                                     float& depth) const = 0;
};

// A frame source. StartCapture and StopCapture are called from host threads; frames reach
// the listener on the camera's delivery thread.
class Camera {
  public:
    // Implemented by the engine. Never deleted through this interface.
    class Listener {
      public:
        // Called on the camera's delivery thread; `frame` is valid only during the call.
        virtual void OnCameraFrameAvailable(Camera* camera, const CameraFrame& frame) = 0;
        // The camera's intrinsics are known or have changed.
        virtual void OnCameraIntrinsicsChange(Camera* camera,
                                              const CameraIntrinsics& intrinsics) = 0;

      protected:
        ~Listener() = default;
    };

    virtual ~Camera() = default;
    virtual void StartCapture() = 0;
    virtual void StopCapture() = 0;
    virtual int32_t GetFps() const = 0;
    // False when the camera cannot change its rate.
    virtual bool SetFps(int32_t fps) = 0;
    // The rates SetFps accepts; empty when the rate cannot be chosen.
    virtual Slice<const int32_t> GetSupportedFps() const = 0;
};

// Implemented inside a detector plug-in and destroyed only by the plug-in's delete function.
// Called from one thread at a time; Detect runs on the camera's delivery thread.
class FaceDetector {
  public:
    // Its first member, the face array, is the only one this library uses; the rest is the
    // plug-in's.
    struct Output {
        std::vector<DetectedFace> faces;
    };

    virtual int32_t GetMaxNumOfFacesLimit() const = 0;
    virtual int32_t GetMaxNumOfFaces() const = 0;
    virtual void SetMaxNumOfFaces(int32_t count) = 0;
    virtual tavo_face_detector_backend_e GetBackend() const = 0;
    virtual void SetCameraIntrinsics(const CameraIntrinsics& intrinsics) = 0;
    // The output is the detector's and stays unchanged by it until the next Detect; the
    // caller may change its face array in between.
    virtual Output& Detect(const CameraFrame& frame) = 0;

  protected:
    ~FaceDetector() = default;
};

// One result of tracking, handed out once per processed camera frame. Its slices live as
// long as the frame object; who may read it from which thread is the implementation's.
class Frame {
  public:
    // Main face first, display space.
    virtual Slice<const Face> faces() const = 0;
    virtual Timestamp timestamp() const = 0;
    // True once a frame of this tracking session has had an accepted raw face.
    virtual bool faceEverTracked() const = 0;
    virtual float delay() const = 0;
    // Accepted detections of this frame, camera space.
    virtual Slice<const RawFace> rawFaces() const = 0;
    // The detector output as the tracker received it.
    virtual Slice<const DetectedFace> detectedFaces() const = 0;
    virtual FrameProfiling profiling() const = 0;

  protected:
    ~Frame() = default;
};

// Writes the frame's first image to `path` as a PNG file. False, with nothing written, when
// encoding fails or the file cannot be opened.
TAVO_API bool SaveCameraFrame(const CameraFrame& frame, const char* path);

}  // namespace tavo::head

// Text forms, in designated-initialiser style, for log lines.
namespace tavo::detail {

// Text forms are written one way only: a format string may not pass options to them.
struct PlainFormatter {
    constexpr auto parse(fmt::format_parse_context& context) -> decltype(context.begin()) {
        return context.begin();
    }
};

}  // namespace tavo::detail

#define TAVO_DECLARE_FORMATTER(Type)                                              \
    template <>                                                                   \
    struct TAVO_API fmt::formatter<Type> : ::tavo::detail::PlainFormatter {       \
        fmt::format_context::iterator format(const Type& value,                   \
                                             fmt::format_context& context) const; \
    }

// {x, y, z} with %g components.
TAVO_DECLARE_FORMATTER(glm::vec3);
// Its three columns in storage order, each as a vec3.
TAVO_DECLARE_FORMATTER(glm::mat3);
TAVO_DECLARE_FORMATTER(tavo::Timestamp::Space);
TAVO_DECLARE_FORMATTER(tavo::Timestamp);
TAVO_DECLARE_FORMATTER(tavo::ImageDesc);
TAVO_DECLARE_FORMATTER(tavo::CameraIntrinsics);
TAVO_DECLARE_FORMATTER(tavo_face_detector_backend_e);
TAVO_DECLARE_FORMATTER(tavo::head::FrameProfiling);
TAVO_DECLARE_FORMATTER(tavo::head::FaceDetectorConfiguration);
TAVO_DECLARE_FORMATTER(tavo::head::CameraConfiguration);
TAVO_DECLARE_FORMATTER(tavo::head::TrackingSessionInitArgs);
// Its time stamp and its first image description.
TAVO_DECLARE_FORMATTER(tavo::head::CameraFrame);
