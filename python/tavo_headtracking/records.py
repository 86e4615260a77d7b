"""The C interface's records as ctypes structures, with the C header's 4-byte packing.

Each class names its C type in ``_c_name_``; the package's tests compare every size and
offset with what a C compiler makes of the header.
"""

import ctypes

STATUS_SUCCESS = 0
STATUS_INVALID_INSTANCE = 1
STATUS_UNKNOWN = 2

STATUS_NAMES = {
    STATUS_SUCCESS: "kTavoHeadTrackingStatusSuccess",
    STATUS_INVALID_INSTANCE: "kTavoHeadTrackingStatusErrorInvalidInstance",
    STATUS_UNKNOWN: "kTavoHeadTrackingStatusErrorUnknown",
}

MAX_TRACKED_FACES = 3

# Time stamp spaces.
SPACE_SYSTEM = 0
SPACE_UNKNOWN = -1


class _Record(ctypes.Structure):
    _pack_ = 4


class Vec3(_Record):
    _c_name_ = "tavo_headtracking_vec3"
    _fields_ = [("x", ctypes.c_float), ("y", ctypes.c_float), ("z", ctypes.c_float)]

    def as_tuple(self):
        return (self.x, self.y, self.z)


class DVec2(_Record):
    _c_name_ = "tavo_headtracking_dvec2"
    _fields_ = [("x", ctypes.c_double), ("y", ctypes.c_double)]


class Timestamp(_Record):
    _c_name_ = "tavo_headtracking_timestamp"
    _fields_ = [("space", ctypes.c_int32), ("ms", ctypes.c_double)]


class Face(_Record):
    _c_name_ = "tavo_headtracking_face"
    _fields_ = [
        ("position", Vec3),
        ("velocity", Vec3),
        ("angles", Vec3),
        ("rawFaceIndex", ctypes.c_int32),
    ]


class TrackingResult(_Record):
    _c_name_ = "tavo_headtracking_tracking_result"
    _fields_ = [
        ("numFaces", ctypes.c_int32),
        ("faces", Face * MAX_TRACKED_FACES),
        ("timestamp", Timestamp),
        ("faceEverTracked", ctypes.c_int32),
    ]


class RawFace(_Record):
    _c_name_ = "tavo_headtracking_raw_face"
    _fields_ = [
        ("rightEye", Vec3),
        ("leftEye", Vec3),
        ("trackedPoint", Vec3),
        ("detectionIndex", ctypes.c_int32),
    ]


class RawFaces(_Record):
    """The count; the faces follow it. Use ``raw_faces_with_room`` for a record to fill."""

    _c_name_ = "tavo_headtracking_raw_faces"
    _fields_ = [("numFaces", ctypes.c_int32), ("faces", RawFace * 0)]


class DetectedFace(_Record):
    _c_name_ = "tavo_headtracking_detected_face"
    _fields_ = [
        ("rightEyePixel", DVec2),
        ("rightEyeDepth", ctypes.c_float),
        ("leftEyePixel", DVec2),
        ("leftEyeDepth", ctypes.c_float),
        ("auxiliary", Vec3),
        ("angles", Vec3),
    ]


class DetectedFaces(_Record):
    """The count; the faces follow it. Use ``detected_faces_with_room`` for a record to fill."""

    _c_name_ = "tavo_headtracking_detected_faces"
    _fields_ = [("numFaces", ctypes.c_int32), ("faces", DetectedFace * 0)]


def _with_room(header, face, capacity):
    class WithRoom(_Record):
        _fields_ = [("numFaces", ctypes.c_int32), ("faces", face * capacity)]

    WithRoom.__name__ = "%sWithRoom%d" % (header.__name__, capacity)
    return WithRoom()


def raw_faces_with_room(capacity):
    """A raw faces record with room for ``capacity`` faces."""
    return _with_room(RawFaces, RawFace, capacity)


def detected_faces_with_room(capacity):
    """A detected faces record with room for ``capacity`` faces."""
    return _with_room(DetectedFaces, DetectedFace, capacity)


class FrameProfiling(_Record):
    _c_name_ = "tavo_headtracking_frame_profiling"
    _fields_ = [
        ("cameraExposureTime", ctypes.c_int64),
        ("faceDetectorStartTime", ctypes.c_int64),
        ("faceDetectorEndTime", ctypes.c_int64),
        ("apiTimestamp", ctypes.c_int64),
    ]


class KalmanCoeffs(_Record):
    _c_name_ = "tavo_headtracking_kalman_coeffs"
    _fields_ = [("a", Vec3), ("b", Vec3)]


class FilterProperties(_Record):
    _c_name_ = "tavo_headtracking_filter_properties"
    _fields_ = [
        ("resetThreshold", ctypes.c_float),
        ("maxTrackGap", ctypes.c_float),
        ("velDampingTime", ctypes.c_float),
        ("minFitDist", ctypes.c_float),
        ("maxFitDist", ctypes.c_float),
        ("angleYMax", ctypes.c_float),
        ("interocularDistanceMin", ctypes.c_float),
        ("interocularDistanceMax", ctypes.c_float),
        ("bufferLim", ctypes.c_float),
        ("mainFaceSkew", Vec3),
        ("mainFaceScale", Vec3),
        ("kalman", KalmanCoeffs),
    ]


class VirtualFace(_Record):
    _c_name_ = "tavo_headtracking_virtual_face"
    _fields_ = [("position", Vec3), ("interocularDistance", ctypes.c_float)]


class VirtualFaceHookContext(_Record):
    _c_name_ = "tavo_headtracking_virtual_face_hook_context"
    _fields_ = [
        ("timestamp", Timestamp),
        ("numDetectedFaces", ctypes.c_int32),
        ("maxNumOfFaces", ctypes.c_int32),
        ("faces", ctypes.POINTER(VirtualFace)),
        ("numFaces", ctypes.c_int32),
        ("replaceDetectedFaces", ctypes.c_int32),
    ]


# Opaque handles.
EngineHandle = ctypes.c_void_p
FrameHandle = ctypes.c_void_p

FrameCallback = ctypes.CFUNCTYPE(None, FrameHandle, ctypes.c_void_p)
VirtualFaceHook = ctypes.CFUNCTYPE(
    ctypes.c_int32, ctypes.POINTER(VirtualFaceHookContext), ctypes.c_void_p
)


class EngineInitArgs(_Record):
    _c_name_ = "tavo_headtracking_engine_init_args"
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("fps", ctypes.c_int32),
        ("binningFactor", ctypes.c_float),
        ("maxNumOfFaces", ctypes.c_int32),
        ("logLevel", ctypes.c_int32),
        ("reserved", ctypes.c_uint8 * 84),
        ("frameCallback", FrameCallback),
        ("frameCallbackUserData", ctypes.c_void_p),
        ("enablePolling", ctypes.c_int32),
        ("virtualFaceHook", VirtualFaceHook),
        ("virtualFaceHookUserData", ctypes.c_void_p),
    ]


class Image(_Record):
    _c_name_ = "tavo_headtracking_image"
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("data", ctypes.POINTER(ctypes.c_uint8)),
    ]


class DepthImage(_Record):
    _c_name_ = "tavo_headtracking_depth_image"
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("unitInMetres", ctypes.c_float),
        ("data", ctypes.POINTER(ctypes.c_uint16)),
    ]


class CameraIntrinsics(_Record):
    _c_name_ = "tavo_headtracking_camera_intrinsics"
    _fields_ = [
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("ppx", ctypes.c_float),
        ("ppy", ctypes.c_float),
        ("fx", ctypes.c_float),
        ("fy", ctypes.c_float),
        ("coeffs", ctypes.c_float * 5),
        ("isMirrored", ctypes.c_int32),
    ]


def all_records():
    """Every structure that mirrors a C record, for the layout checks."""
    found = []
    pending = list(_Record.__subclasses__())
    while pending:
        record = pending.pop()
        pending.extend(record.__subclasses__())
        if "_c_name_" in record.__dict__:
            found.append(record)
    return found
