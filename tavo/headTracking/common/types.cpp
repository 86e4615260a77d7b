// Text forms of the tracking records, and the PNG writer for camera frames.
#include "tavo/headTracking/common/types.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

// The encoder's symbols stay private to this file so that no host's own copy can clash.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

const char* tavo_face_detector_backend_to_string(tavo_face_detector_backend_e backend) {
    switch (backend) {
        case kTavoFaceDetectorBackendCPU:
            return "kTavoFaceDetectorBackendCPU";
        case kTavoFaceDetectorBackendGPU:
            return "kTavoFaceDetectorBackendGPU";
        default:
            return "kTavoFaceDetectorBackendUnknown";
    }
}

namespace tavo::head {

bool SaveCameraFrame(const CameraFrame& frame, const char* path) {
    const Slice<const ImageDesc> images = frame.imageDescs();
    if (images.empty() || path == nullptr) {
        return false;
    }
    const ImageDesc& image = images.data[0];
    // The encoder counts bytes in int: a filtered row takes width + 1 of them, the image
    // (width + 1) x height. Sizes beyond that, or without pixels, have no PNG to write.
    const int64_t encodedBytes =
        (static_cast<int64_t>(image.width) + 1) * static_cast<int64_t>(image.height);
    if (image.data == nullptr || image.width < 1 || image.height < 1 ||
        encodedBytes > std::numeric_limits<int>::max()) {
        return false;
    }
    int encodedSize = 0;
    unsigned char* encoded =
        stbi_write_png_to_mem(image.data, image.width, image.width, image.height, 1, &encodedSize);
    if (encoded == nullptr) {
        return false;
    }
    bool written = false;
    if (std::FILE* file = std::fopen(path, "wb")) {
        written = std::fwrite(encoded, 1, static_cast<size_t>(encodedSize), file) ==
                  static_cast<size_t>(encodedSize);
        // A short write or a failed flush leaves a truncated file that must not pass for a
        // saved frame.
        written = (std::fclose(file) == 0) && written;
        if (!written) {
            std::remove(path);
        }
    }
    STBIW_FREE(encoded);
    return written;
}

}  // namespace tavo::head

using fmt::format_context;

format_context::iterator fmt::formatter<glm::vec3>::format(const glm::vec3& value,
                                                           format_context& context) const {
    return fmt::format_to(context.out(), "{{{:g}, {:g}, {:g}}}", value.x, value.y, value.z);
}

format_context::iterator fmt::formatter<glm::mat3>::format(const glm::mat3& value,
                                                           format_context& context) const {
    return fmt::format_to(context.out(), "{{{}, {}, {}}}", value[0], value[1], value[2]);
}

format_context::iterator fmt::formatter<tavo::Timestamp::Space>::format(
    const tavo::Timestamp::Space& value, format_context& context) const {
    const char* name = value == tavo::Timestamp::Space::System ? "System" : "Unknown";
    return fmt::format_to(context.out(), "Timestamp::Space::{}", name);
}

format_context::iterator fmt::formatter<tavo::Timestamp>::format(const tavo::Timestamp& value,
                                                                 format_context& context) const {
    return fmt::format_to(context.out(), "{{.space={}, .ms={}}}", value.space, value.ms);
}

format_context::iterator fmt::formatter<tavo::ImageDesc>::format(const tavo::ImageDesc& value,
                                                                 format_context& context) const {
    return fmt::format_to(context.out(), "{{.width={}, .height={}, .rotation={}}}", value.width,
                          value.height, value.rotation);
}

format_context::iterator fmt::formatter<tavo::CameraIntrinsics>::format(
    const tavo::CameraIntrinsics& value, format_context& context) const {
    return fmt::format_to(context.out(),
                          "{{.width={}, .height={}, .ppx={}, .ppy={}, .fx={}, .fy={}, "
                          ".isMirrored={}}}",
                          value.width, value.height, value.ppx, value.ppy, value.fx, value.fy,
                          value.isMirrored);
}

format_context::iterator fmt::formatter<tavo_face_detector_backend_e>::format(
    const tavo_face_detector_backend_e& value, format_context& context) const {
    return fmt::format_to(context.out(), "{}", tavo_face_detector_backend_to_string(value));
}

format_context::iterator fmt::formatter<tavo::head::FrameProfiling>::format(
    const tavo::head::FrameProfiling& value, format_context& context) const {
    return fmt::format_to(context.out(),
                          "{{.cameraExposureTime={}, .faceDetectorStartTime={}, "
                          ".faceDetectorEndTime={}, .apiTimestamp={}}}",
                          value.cameraExposureTime, value.faceDetectorStartTime,
                          value.faceDetectorEndTime, value.apiTimestamp);
}

format_context::iterator fmt::formatter<tavo::head::FaceDetectorConfiguration>::format(
    const tavo::head::FaceDetectorConfiguration& value, format_context& context) const {
    return fmt::format_to(context.out(), "{{.maxNumOfFaces={}}}", value.maxNumOfFaces);
}

format_context::iterator fmt::formatter<tavo::head::CameraConfiguration>::format(
    const tavo::head::CameraConfiguration& value, format_context& context) const {
    return fmt::format_to(context.out(), "{{.width={}, .height={}, .fps={}, .binningFactor={}}}",
                          value.width, value.height, value.fps, value.binningFactor);
}

format_context::iterator fmt::formatter<tavo::head::TrackingSessionInitArgs>::format(
    const tavo::head::TrackingSessionInitArgs& value, format_context& context) const {
    return fmt::format_to(context.out(), "{{.androidSurface={:#x}}}", value.androidSurface);
}

format_context::iterator fmt::formatter<tavo::head::CameraFrame>::format(
    const tavo::head::CameraFrame& value, format_context& context) const {
    return fmt::format_to(context.out(), "{{{}, {}}}", value.timestamp(),
                          value.imageDescs().data[0]);
}
