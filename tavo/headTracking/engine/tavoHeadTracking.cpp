// The flat C interface over the engine: handle ownership, record conversion, status codes.
#include "tavo/headTracking/engine/tavoHeadTracking.h"

#include <cxxabi.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include <spdlog/spdlog.h>

#include "tavo/common/exception.h"
#include "tavo/common/logRateLimiter.h"
#include "tavo/common/platform.h"
#include "tavo/headTracking/camera/sharedCamera.h"
#include "tavo/headTracking/common/frameAdapter.h"
#include "tavo/headTracking/engine/engine.h"

#ifndef TAVO_VERSION_TEXT
#error "TAVO_VERSION_TEXT must come from the build: the project's one version."
#endif

// Member order is the order of construction; destruction runs backwards, so the engine goes
// first (stopping frame delivery), then the frame adapter it pushes into, then the platform.
// The hook's scratch array and the host camera's sink are declared before them all because
// the engine uses them.
struct tavo_headtracking_engine_t {
    std::vector<tavo_headtracking_virtual_face> hookScratch;
    // Only for an engine over the host's camera.
    std::unique_ptr<tavo::SharedCameraSink> sink;
    // Refused pushes repeat at the host's frame rate.
    tavo::LogRateLimiter pushLog;
    std::unique_ptr<tavo::Platform> platform;
    std::unique_ptr<tavo::head::FrameAdapter> frameAdapter;
    std::unique_ptr<tavo::head::Engine> engine;
};

namespace {

using tavo::head::DetectedFace;
using tavo::head::Face;
using tavo::head::Frame;
using tavo::head::RawFace;
using tavo::head::WrappedFrame;

std::string Demangle(const char* name) {
    if (name == nullptr) {
        return "unknown type";
    }
    int status = 0;
    char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (status != 0 || demangled == nullptr) {
        return name;
    }
    std::string text(demangled);
    std::free(demangled);
    return text;
}

void LogUnexpected(tavo::LogRateLimiter* limiter, const char* what, const std::string& type) {
    try {
        if (limiter != nullptr) {
            limiter->Log(spdlog::level::critical, "Unexpected exception: {} ({})", what, type);
        } else {
            spdlog::critical("Unexpected exception: {} ({})", what, type);
        }
    } catch (...) {
    }
}

// Runs `body` so that nothing escapes into a C caller: any exception is logged at critical
// level with its text and dynamic type (through `limiter` when given) and becomes status 2.
template <typename Body>
tavo_headtracking_status_e Guarded(Body&& body, tavo::LogRateLimiter* limiter = nullptr) noexcept {
    try {
        body();
        return kTavoHeadTrackingStatusSuccess;
    } catch (const std::exception& e) {
        try {
            LogUnexpected(limiter, e.what(), Demangle(typeid(e).name()));
        } catch (...) {
        }
    } catch (...) {
        try {
            const std::type_info* type = abi::__cxa_current_exception_type();
            LogUnexpected(limiter, "not a standard exception",
                          Demangle(type != nullptr ? type->name() : nullptr));
        } catch (...) {
        }
    }
    return kTavoHeadTrackingStatusErrorUnknown;
}

// A null record or out pointer would be written through; refuse it as a logged failure.
void Require(const void* pointer, const char* what, const char* function) {
    if (pointer == nullptr) {
        throw tavo::Exception(fmt::format("{} must not be null", what), TAVO_LOCATION(function));
    }
}

const Frame& FrameOf(tavo_headtracking_frame frame) {
    return reinterpret_cast<const WrappedFrame*>(frame)->frame();
}

tavo_headtracking_frame ToHandle(const WrappedFrame* wrapped) {
    return reinterpret_cast<tavo_headtracking_frame>(const_cast<WrappedFrame*>(wrapped));
}

tavo_headtracking_vec3 ToC(const glm::vec3& value) {
    return {value.x, value.y, value.z};
}
tavo_headtracking_dvec2 ToC(const glm::dvec2& value) {
    return {value.x, value.y};
}
glm::vec3 FromC(const tavo_headtracking_vec3& value) {
    return {value.x, value.y, value.z};
}

tavo_headtracking_timestamp ToC(const tavo::Timestamp& value) {
    return {static_cast<int32_t>(value.space), value.ms};
}

// A pushed image with its optional depth. Projection is left to the tracker's pinhole model
// of the pushed intrinsics.
class PushedCameraFrame final : public tavo::head::CameraFrame {
  public:
    PushedCameraFrame(const tavo::ImageDesc& image, const tavo_headtracking_depth_image* depth,
                      tavo::Timestamp timestamp)
        : image_(image), timestamp_(timestamp) {
        if (depth != nullptr) {
            depth_ = *depth;
        }
    }

    tavo::Timestamp timestamp() const override { return timestamp_; }
    tavo::Slice<const tavo::ImageDesc> imageDescs() const override { return {&image_, 1}; }
    bool GetDepth(const glm::dvec2& pixel, float& depth) const override {
        // Written so that a NaN coordinate is refused too.
        if (depth_.data == nullptr || !(pixel.x >= 0.0 && pixel.x < depth_.width &&
                                        pixel.y >= 0.0 && pixel.y < depth_.height)) {
            return false;
        }
        const uint16_t value =
            depth_
                .data[static_cast<int64_t>(pixel.y) * depth_.width + static_cast<int64_t>(pixel.x)];
        if (value == 0) {
            return false;
        }
        depth = static_cast<float>(value) * depth_.unitInMetres;
        return true;
    }
    bool DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3&) const override {
        return false;
    }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2&, float&) const override { return false; }

  private:
    tavo::ImageDesc image_;
    tavo_headtracking_depth_image depth_{};
    tavo::Timestamp timestamp_;
};

[[noreturn]] void Refuse(const std::string& message, const char* function) {
    throw tavo::Exception(message, TAVO_LOCATION(function));
}

tavo::SharedCameraSink& SinkOf(tavo_headtracking_engine engine, const char* function) {
    if (!engine->sink) {
        Refuse("the engine was not made over the host's camera", function);
    }
    return *engine->sink;
}

// Only the camera's delivery thread calls the hook, one frame at a time, so the scratch
// array of the handle can be reused instead of allocated per frame.
bool RunVirtualFaceHook(tavo_headtracking_virtual_face_hook hook, void* userData,
                        std::vector<tavo_headtracking_virtual_face>& scratch,
                        tavo::head::VirtualFaceHookContext* context) {
    const int32_t capacity = std::max(context->maxNumOfFaces, 0);
    scratch.assign(static_cast<size_t>(capacity), tavo_headtracking_virtual_face{});

    tavo_headtracking_virtual_face_hook_context c{};
    c.timestamp = ToC(context->timestamp);
    c.numDetectedFaces = context->numDetectedFaces;
    c.maxNumOfFaces = context->maxNumOfFaces;
    c.faces = scratch.data();
    c.numFaces = 0;
    c.replaceDetectedFaces = 0;
    if (hook(&c, userData) == 0) {
        return false;
    }
    // The hook owns the record during the call and may have written any field: read back
    // only the two outputs, bounded by the room the engine gave.
    const int32_t reported = std::max(c.numFaces, 0);
    context->numFaces = reported;
    context->replaceDetectedFaces = c.replaceDetectedFaces != 0;
    const int32_t copied = std::min(capacity, reported);
    for (int32_t i = 0; i < copied; ++i) {
        context->faces[i].position = FromC(scratch[static_cast<size_t>(i)].position);
        context->faces[i].interocularDistance = scratch[static_cast<size_t>(i)].interocularDistance;
    }
    return true;
}

void BuildEngine(const tavo_headtracking_engine_init_args& args, tavo_headtracking_engine_t& handle,
                 bool sharedCamera) {
    tavo::PlatformInitArgs platformArgs;
    platformArgs.logLevel = args.logLevel;
    handle.platform = tavo::Platform::Create(platformArgs);

    tavo::head::EngineInitArgs engineArgs;

    tavo::head::FrameAdapter::Callback callback;
    if (args.frameCallback != nullptr) {
        // The reference lives on the delivery thread's stack: the same non-owning wrapper as
        // WrapFrame(frame) gives, without a heap allocation per frame.
        callback = [function = args.frameCallback,
                    userData = args.frameCallbackUserData](const Frame& frame) {
            const tavo::head::WrappedFrameReference wrapped(frame);
            function(ToHandle(&wrapped), userData);
        };
    }
    handle.frameAdapter =
        std::make_unique<tavo::head::FrameAdapter>(std::move(callback), args.enablePolling != 0);
    engineArgs.frameAdapter = handle.frameAdapter.get();

    if (args.virtualFaceHook != nullptr) {
        engineArgs.virtualFaceHook =
            [hook = args.virtualFaceHook, userData = args.virtualFaceHookUserData,
             scratch = &handle.hookScratch](tavo::head::VirtualFaceHookContext* context) {
                return RunVirtualFaceHook(hook, userData, *scratch, context);
            };
    }

    engineArgs.configuration.camera.width = args.width;
    engineArgs.configuration.camera.height = args.height;
    engineArgs.configuration.camera.fps = args.fps;
    engineArgs.configuration.camera.binningFactor = args.binningFactor;
    engineArgs.configuration.faceDetector.maxNumOfFaces = args.maxNumOfFaces;

    if (sharedCamera) {
        handle.sink = std::make_unique<tavo::SharedCameraSink>();
        engineArgs.sharedCameraSink = handle.sink.get();
    }
    engineArgs.platform = handle.platform.get();
    handle.engine = std::make_unique<tavo::head::Engine>(engineArgs);

    // The setter refuses a maximum beyond the detector's limit; creation must too, or a
    // plug-in that honours the wish writes more detections than the host's records hold.
    const int32_t limit = handle.engine->GetMaxNumOfDetectedFacesLimit();
    if (args.maxNumOfFaces < 0 || args.maxNumOfFaces > limit) {
        throw tavo::Exception(fmt::format("Invalid max num of detected faces: must be in [0; {}] "
                                          "range, got {}",
                                          limit, args.maxNumOfFaces),
                              TAVO_LOCATION("tavoHeadTrackingEngineInitArgs"));
    }
}

tavo_headtracking_status_e InitEngine(const tavo_headtracking_engine_init_args* args,
                                      tavo_headtracking_engine* engine, bool sharedCamera,
                                      const char* function) {
    if (engine != nullptr) {
        *engine = nullptr;
    }
    std::unique_ptr<tavo_headtracking_engine_t> handle;
    try {
        Require(args, "args", function);
        Require(engine, "engine", function);
        handle = std::make_unique<tavo_headtracking_engine_t>();
        BuildEngine(*args, *handle, sharedCamera);
    } catch (const std::exception& e) {
        try {
            spdlog::error("Failed to initialize head tracking engine: {}", e.what());
        } catch (...) {
        }
        // Whatever was made so far goes, in the handle's destruction order.
        handle.reset();
        return kTavoHeadTrackingStatusErrorUnknown;
    } catch (...) {
        try {
            spdlog::error("Failed to initialize head tracking engine: {}",
                          "not a standard exception");
        } catch (...) {
        }
        handle.reset();
        return kTavoHeadTrackingStatusErrorUnknown;
    }
    *engine = handle.release();
    return kTavoHeadTrackingStatusSuccess;
}

}  // namespace

extern "C" {

tavo_headtracking_status_e tavoHeadTrackingEngineInitArgs(
    const tavo_headtracking_engine_init_args* args, tavo_headtracking_engine* engine) {
    return InitEngine(args, engine, false, "tavoHeadTrackingEngineInitArgs");
}

tavo_headtracking_status_e tavoHeadTrackingEngineInitWithSharedCamera(
    const tavo_headtracking_engine_init_args* args, tavo_headtracking_engine* engine) {
    return InitEngine(args, engine, true, "tavoHeadTrackingEngineInitWithSharedCamera");
}

void tavoHeadTrackingEngineRelease(tavo_headtracking_engine engine) {
    if (engine == nullptr) {
        return;
    }
    engine->engine.reset();
    engine->frameAdapter.reset();
    // Refusals still being counted are told before the platform (and its logging) goes.
    try {
        engine->pushLog.Flush();
    } catch (...) {
    }
    engine->platform.reset();
    delete engine;
}

tavo_headtracking_status_e tavoHeadTrackingEngineStartTracking(tavo_headtracking_engine engine) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    // Already tracking answers false, which is not a failure here.
    return Guarded([&] { engine->engine->StartTracking(); });
}

tavo_headtracking_status_e tavoHeadTrackingEngineStopTracking(tavo_headtracking_engine engine) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    // StopTracking throws only when called from inside the engine's own frame callback.
    return Guarded([&] { engine->engine->StopTracking(); });
}

tavo_headtracking_status_e tavoHeadTrackingEngineSetCameraPosition(tavo_headtracking_engine engine,
                                                                   float x, float y, float z) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] { engine->engine->SetCameraPosition(glm::vec3(x, y, z)); });
}

tavo_headtracking_status_e tavoHeadTrackingEngineSetCameraRotation(tavo_headtracking_engine engine,
                                                                   float m00, float m01, float m02,
                                                                   float m10, float m11, float m12,
                                                                   float m20, float m21,
                                                                   float m22) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded(
        [&] { engine->engine->SetCameraRotation(m00, m01, m02, m10, m11, m12, m20, m21, m22); });
}

tavo_headtracking_status_e tavoHeadTrackingEngineSetCameraTransform(
    tavo_headtracking_engine engine, const tavo_headtracking_vec3* position,
    const tavo_headtracking_vec3* rotation) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] {
        Require(position, "position", "tavoHeadTrackingEngineSetCameraTransform");
        Require(rotation, "rotation", "tavoHeadTrackingEngineSetCameraTransform");
        engine->engine->SetCameraTransform(FromC(*position), FromC(*rotation));
    });
}

tavo_headtracking_status_e tavoHeadTrackingEngineSetFilterProperties(
    tavo_headtracking_engine engine, const tavo_headtracking_filter_properties* properties) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] {
        Require(properties, "properties", "tavoHeadTrackingEngineSetFilterProperties");
        tavo::head::FilterProperties converted;
        converted.resetThreshold = properties->resetThreshold;
        converted.maxTrackGap = properties->maxTrackGap;
        converted.velDampingTime = properties->velDampingTime;
        converted.minFitDist = properties->minFitDist;
        converted.maxFitDist = properties->maxFitDist;
        converted.angleYMax = properties->angleYMax;
        converted.interocularDistanceMin = properties->interocularDistanceMin;
        converted.interocularDistanceMax = properties->interocularDistanceMax;
        converted.bufferLim = properties->bufferLim;
        converted.mainFaceSkew = FromC(properties->mainFaceSkew);
        converted.mainFaceScale = FromC(properties->mainFaceScale);
        converted.kalman.a = FromC(properties->kalman.a);
        converted.kalman.b = FromC(properties->kalman.b);
        engine->engine->SetFilterProperties(converted);
    });
}

tavo_headtracking_status_e tavoHeadTrackingEngineSetMaxNumOfDetectedFaces(
    tavo_headtracking_engine engine, int32_t count) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] { engine->engine->SetMaxNumOfDetectedFaces(count); });
}

tavo_headtracking_status_e tavoHeadTrackingEngineSetTrackedEyes(tavo_headtracking_engine engine,
                                                                int32_t left, int32_t right) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] { engine->engine->SetTrackedEyes(left != 0, right != 0); });
}

tavo_headtracking_status_e tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(
    tavo_headtracking_engine engine, int32_t* limit) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] {
        Require(limit, "limit", "tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit");
        *limit = engine->engine->GetMaxNumOfDetectedFacesLimit();
    });
}

tavo_headtracking_status_e tavoHeadTrackingEngineGetLatestFrame(tavo_headtracking_engine engine,
                                                                tavo_headtracking_frame* frame) {
    if (frame != nullptr) {
        *frame = nullptr;
    }
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] {
        Require(frame, "frame", "tavoHeadTrackingEngineGetLatestFrame");
        std::unique_ptr<WrappedFrame> wrapped =
            tavo::head::WrapFrame(engine->frameAdapter->GetFrame());
        *frame = ToHandle(wrapped.release());
    });
}

tavo_headtracking_status_e tavoHeadTrackingFrameGetTrackingResult(
    tavo_headtracking_frame frame, tavo_headtracking_tracking_result* result) {
    if (frame == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] {
        Require(result, "result", "tavoHeadTrackingFrameGetTrackingResult");
        const Frame& source = FrameOf(frame);
        result->timestamp = ToC(source.timestamp());
        result->faceEverTracked = source.faceEverTracked() ? 1 : 0;
        result->numFaces = 0;
        for (const Face& face : source.faces()) {
            if (result->numFaces >= TAVO_HEADTRACKING_MAX_TRACKED_FACES) {
                break;
            }
            tavo_headtracking_face& target = result->faces[result->numFaces];
            target.position = ToC(face.position);
            target.velocity = ToC(face.velocity);
            target.angles = ToC(face.angles);
            target.rawFaceIndex = face.rawFaceIndex;
            ++result->numFaces;
        }
    });
}

tavo_headtracking_status_e tavoHeadTrackingFrameGetRawFaces(tavo_headtracking_frame frame,
                                                            tavo_headtracking_raw_faces* rawFaces) {
    if (frame == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] {
        Require(rawFaces, "rawFaces", "tavoHeadTrackingFrameGetRawFaces");
        const tavo::Slice<const RawFace> faces = FrameOf(frame).rawFaces();
        rawFaces->numFaces = static_cast<int32_t>(faces.size);
        for (int64_t i = 0; i < faces.size; ++i) {
            tavo_headtracking_raw_face& target = rawFaces->faces[i];
            target.rightEye = ToC(faces[i].rightEye);
            target.leftEye = ToC(faces[i].leftEye);
            target.trackedPoint = ToC(faces[i].trackedPoint);
            target.detectionIndex = faces[i].detectionIndex;
        }
    });
}

tavo_headtracking_status_e tavoHeadTrackingFrameGetDetectedFaces(
    tavo_headtracking_frame frame, tavo_headtracking_detected_faces* detectedFaces) {
    if (frame == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] {
        Require(detectedFaces, "detectedFaces", "tavoHeadTrackingFrameGetDetectedFaces");
        const tavo::Slice<const DetectedFace> faces = FrameOf(frame).detectedFaces();
        detectedFaces->numFaces = static_cast<int32_t>(faces.size);
        for (int64_t i = 0; i < faces.size; ++i) {
            tavo_headtracking_detected_face& target = detectedFaces->faces[i];
            target.rightEyePixel = ToC(faces[i].rightEyePixel);
            target.rightEyeDepth = faces[i].rightEyeDepth;
            target.leftEyePixel = ToC(faces[i].leftEyePixel);
            target.leftEyeDepth = faces[i].leftEyeDepth;
            target.auxiliary = ToC(faces[i].auxiliary);
            target.angles = ToC(faces[i].angles);
        }
    });
}

tavo_headtracking_status_e tavoHeadTrackingFrameGetProfiling(
    tavo_headtracking_frame frame, tavo_headtracking_frame_profiling* profiling) {
    if (frame == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    return Guarded([&] {
        Require(profiling, "profiling", "tavoHeadTrackingFrameGetProfiling");
        const tavo::head::FrameProfiling source = FrameOf(frame).profiling();
        profiling->cameraExposureTime = source.cameraExposureTime;
        profiling->faceDetectorStartTime = source.faceDetectorStartTime;
        profiling->faceDetectorEndTime = source.faceDetectorEndTime;
        profiling->apiTimestamp = source.apiTimestamp;
    });
}

void tavoHeadTrackingFrameRelease(tavo_headtracking_frame frame) {
    delete reinterpret_cast<WrappedFrame*>(frame);
}

const char* tavoHeadTrackingGetVersion(void) {
    return TAVO_VERSION_TEXT;
}

tavo_headtracking_status_e tavoHeadTrackingEnginePushCameraIntrinsics(
    tavo_headtracking_engine engine, const tavo_headtracking_camera_intrinsics* intrinsics) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    constexpr const char* kFunction = "tavoHeadTrackingEnginePushCameraIntrinsics";
    return Guarded([&] {
        Require(intrinsics, "intrinsics", kFunction);
        tavo::SharedCameraSink& sink = SinkOf(engine, kFunction);
        const tavo_headtracking_camera_intrinsics& c = *intrinsics;
        bool finite = std::isfinite(c.ppx) && std::isfinite(c.ppy) && std::isfinite(c.fx) &&
                      std::isfinite(c.fy);
        for (const float coefficient : c.coeffs) {
            finite = finite && std::isfinite(coefficient);
        }
        if (c.width <= 0 || c.height <= 0 || !(c.fx > 0.0f) || !(c.fy > 0.0f) || !finite) {
            Refuse(fmt::format("Invalid camera intrinsics: {}x{}, ppx {}, ppy {}, fx {}, fy {}; "
                               "the size and the focal lengths must be above 0 and every "
                               "value finite",
                               c.width, c.height, c.ppx, c.ppy, c.fx, c.fy),
                   kFunction);
        }
        tavo::CameraIntrinsics converted;
        converted.width = c.width;
        converted.height = c.height;
        converted.ppx = c.ppx;
        converted.ppy = c.ppy;
        converted.fx = c.fx;
        converted.fy = c.fy;
        std::copy(std::begin(c.coeffs), std::end(c.coeffs), std::begin(converted.coeffs));
        converted.isMirrored = c.isMirrored != 0;
        if (sink.onCameraIntrinsics) {
            sink.onCameraIntrinsics(converted);
        }
    });
}

tavo_headtracking_status_e tavoHeadTrackingEnginePushCameraImage(
    tavo_headtracking_engine engine, const tavo_headtracking_image* image,
    const tavo_headtracking_depth_image* depth, const tavo_headtracking_timestamp* timestamp) {
    if (engine == nullptr) {
        return kTavoHeadTrackingStatusErrorInvalidInstance;
    }
    constexpr const char* kFunction = "tavoHeadTrackingEnginePushCameraImage";
    return Guarded(
        [&] {
            Require(image, "image", kFunction);
            Require(timestamp, "timestamp", kFunction);
            tavo::SharedCameraSink& sink = SinkOf(engine, kFunction);
            if (image->width <= 0 || image->height <= 0 || image->data == nullptr) {
                Refuse(fmt::format("Invalid image: {}x{} with {} pixels", image->width,
                                   image->height, image->data != nullptr ? "its" : "no"),
                       kFunction);
            }
            if (depth != nullptr &&
                (depth->width != image->width || depth->height != image->height ||
                 depth->data == nullptr || !(depth->unitInMetres > 0.0f) ||
                 !std::isfinite(depth->unitInMetres))) {
                Refuse(fmt::format("Invalid depth image: {}x{} for a {}x{} image, unit {} m, {} "
                                   "data; it must match the image's size, with a finite unit "
                                   "above 0",
                                   depth->width, depth->height, image->width, image->height,
                                   depth->unitInMetres, depth->data != nullptr ? "with" : "no"),
                       kFunction);
            }
            // Copied out of the packed record: a reference to its double may be misaligned.
            const int32_t spaceValue = timestamp->space;
            const double ms = timestamp->ms;
            const auto space = static_cast<tavo::Timestamp::Space>(spaceValue);
            if ((space != tavo::Timestamp::Space::System &&
                 space != tavo::Timestamp::Space::Unknown) ||
                !std::isfinite(ms)) {
                Refuse(fmt::format("Invalid time stamp: space {}, {} ms; the space is 0 or -1 and "
                                   "the time finite",
                                   spaceValue, ms),
                       kFunction);
            }
            tavo::ImageDesc desc;
            desc.width = image->width;
            desc.height = image->height;
            desc.data = image->data;
            const PushedCameraFrame frame(desc, depth, tavo::Timestamp{space, ms});
            if (sink.onHostCameraFrame) {
                sink.onHostCameraFrame(frame);
            }
        },
        &engine->pushLog);
}

}  // extern "C"
