"""A small Pythonic layer over the C interface: an engine object, plain results."""

import ctypes
import math
import time
from dataclasses import dataclass
from typing import List, Optional, Tuple

import numpy as np

from . import records as r
from .library import library

Vector = Tuple[float, float, float]


@dataclass(frozen=True)
class TrackedFace:
    """A tracked face in display space."""

    position: Vector  # millimetres
    velocity: Vector  # millimetres per millisecond
    angles: Vector  # radians; [1] is the yaw
    raw_face_index: int  # -1 for a face extrapolated without a detection


@dataclass(frozen=True)
class TrackingResult:
    """One tracking frame: the faces (main face first, at most three) and its time stamp."""

    faces: List[TrackedFace]
    timestamp_ms: float
    timestamp_space: int  # records.SPACE_SYSTEM or records.SPACE_UNKNOWN
    face_ever_tracked: bool

    @property
    def primary(self) -> Optional[TrackedFace]:
        return self.faces[0] if self.faces else None


@dataclass(frozen=True)
class Intrinsics:
    """The pinhole model of the pushed images, in pixels."""

    width: int
    height: int
    ppx: float
    ppy: float
    fx: float
    fy: float
    coeffs: Tuple[float, ...] = (0.0, 0.0, 0.0, 0.0, 0.0)
    mirrored: bool = False

    @staticmethod
    def from_field_of_view(width, height, horizontal_degrees):
        """A distortion-free camera with square pixels, centred, of the given field of view."""
        fx = 0.5 * width / math.tan(math.radians(horizontal_degrees) / 2.0)
        return Intrinsics(width, height, width / 2.0, height / 2.0, fx, fx)


def _plane(array, dtype, what):
    """The array as C-contiguous rows of `dtype`, or ValueError naming `what` was needed."""
    plane = np.ascontiguousarray(array)
    if plane.dtype != dtype or plane.ndim != 2:
        raise ValueError(
            "%s as a 2-D array is needed, not %s of shape %s" % (what, plane.dtype, plane.shape)
        )
    return plane


def _result_from(frame):
    lib = library()
    result = r.TrackingResult()
    lib.tavoHeadTrackingFrameGetTrackingResult(frame, ctypes.byref(result))
    faces = [
        TrackedFace(
            face.position.as_tuple(),
            face.velocity.as_tuple(),
            face.angles.as_tuple(),
            face.rawFaceIndex,
        )
        for face in result.faces[: result.numFaces]
    ]
    return TrackingResult(
        faces, result.timestamp.ms, result.timestamp.space, bool(result.faceEverTracked)
    )


class Engine:
    """A head tracking engine with polling, closed by ``close()`` or a ``with`` block.

    With ``shared_camera`` (the default) no camera is opened: the host pushes images with
    ``push_image`` after ``push_intrinsics``. Otherwise the engine opens the RealSense camera
    of the given stream. The thread that pushes runs the detector and the tracker; push from
    one thread at a time, and never while another thread closes the engine.
    """

    def __init__(
        self,
        shared_camera=True,
        max_faces=0,
        log_level=3,
        width=0,
        height=0,
        fps=0,
        binning_factor=0.0,
    ):
        lib = library()
        args = r.EngineInitArgs()
        args.width, args.height, args.fps = width, height, fps
        args.binningFactor = binning_factor
        args.maxNumOfFaces = max_faces
        args.logLevel = log_level
        args.enablePolling = 1
        handle = r.EngineHandle()
        create = (
            lib.tavoHeadTrackingEngineInitWithSharedCamera
            if shared_camera
            else lib.tavoHeadTrackingEngineInitArgs
        )
        create(ctypes.byref(args), ctypes.byref(handle))
        self._handle = handle
        self._last_intrinsics = None

    def _live(self):
        if self._handle is None:
            raise ValueError("the engine is closed")
        return self._handle

    def close(self):
        """Stops tracking and releases the engine; later calls raise ValueError."""
        if self._handle is not None:
            handle, self._handle = self._handle, None
            library().tavoHeadTrackingEngineRelease(handle)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        # Only when the program forgot close(): the interpreter may be shutting down.
        try:
            self.close()
        except Exception:  # pragma: no cover
            pass

    def start(self):
        library().tavoHeadTrackingEngineStartTracking(self._live())

    def stop(self):
        library().tavoHeadTrackingEngineStopTracking(self._live())

    def set_camera_transform(self, position_mm, rotation_degrees):
        """The camera's pose in display space: position and Rodrigues rotation vector."""
        library().tavoHeadTrackingEngineSetCameraTransform(
            self._live(),
            ctypes.byref(r.Vec3(*position_mm)),
            ctypes.byref(r.Vec3(*rotation_degrees)),
        )

    def set_tracked_eyes(self, left, right):
        library().tavoHeadTrackingEngineSetTrackedEyes(self._live(), int(left), int(right))

    def set_max_faces(self, count):
        library().tavoHeadTrackingEngineSetMaxNumOfDetectedFaces(self._live(), count)

    @property
    def max_faces_limit(self):
        limit = ctypes.c_int32()
        library().tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit(
            self._live(), ctypes.byref(limit)
        )
        return limit.value

    def push_intrinsics(self, intrinsics: Intrinsics):
        record = r.CameraIntrinsics(
            intrinsics.width,
            intrinsics.height,
            intrinsics.ppx,
            intrinsics.ppy,
            intrinsics.fx,
            intrinsics.fy,
            (ctypes.c_float * 5)(*intrinsics.coeffs),
            int(intrinsics.mirrored),
        )
        library().tavoHeadTrackingEnginePushCameraIntrinsics(self._live(), ctypes.byref(record))

    def push_image(
        self, image, timestamp_ms=None, depth=None, depth_unit_m=0.001, device_clock=False
    ):
        """Tracks one 8-bit grey image (a 2-D array), optionally with a 16-bit depth image of
        the same size (``depth_unit_m`` metres per unit, 0 for none). The time stamp is the
        wall clock in milliseconds since 1970 (now when omitted), or with ``device_clock`` a
        clock of the camera's own. Returns when the frame is tracked (or dropped while not
        tracking)."""
        pixels = _plane(image, np.uint8, "an 8-bit grey image")
        record = r.Image(
            pixels.shape[1], pixels.shape[0], pixels.ctypes.data_as(ctypes.POINTER(ctypes.c_uint8))
        )
        depth_record = None
        if depth is not None:
            distances = _plane(depth, np.uint16, "a 16-bit depth image")
            depth_record = r.DepthImage(
                distances.shape[1],
                distances.shape[0],
                depth_unit_m,
                distances.ctypes.data_as(ctypes.POINTER(ctypes.c_uint16)),
            )
        if timestamp_ms is None:
            timestamp_ms = time.time() * 1000.0
        stamp = r.Timestamp(r.SPACE_UNKNOWN if device_clock else r.SPACE_SYSTEM, timestamp_ms)
        library().tavoHeadTrackingEnginePushCameraImage(
            self._live(),
            ctypes.byref(record),
            ctypes.byref(depth_record) if depth_record is not None else None,
            ctypes.byref(stamp),
        )

    def poll(self) -> TrackingResult:
        """The latest tracking frame (an empty one before the first)."""
        lib = library()
        frame = r.FrameHandle()
        lib.tavoHeadTrackingEngineGetLatestFrame(self._live(), ctypes.byref(frame))
        try:
            return _result_from(frame)
        finally:
            lib.tavoHeadTrackingFrameRelease(frame)
