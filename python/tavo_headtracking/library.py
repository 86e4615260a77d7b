"""Finding and loading the shared library, and the C functions with their argument types.

Every function that returns a status raises ``HeadTrackingError`` for a non-zero one.
"""

import ctypes
import os
import sys
import threading

from . import records as r

LIBRARY_NAME = "libtavoSDK-faceTrackingInApp.so"
# Names the library file itself (the build tree's, a staged install); searched first.
LIBRARY_VARIABLE = "TAVO_HEADTRACKING_LIBRARY"


class HeadTrackingError(RuntimeError):
    """A C function returned a non-zero status; the library logged the cause."""

    def __init__(self, function, status):
        self.function = function
        self.status = status
        name = r.STATUS_NAMES.get(status, "an unknown status")
        super().__init__(
            "%s failed with status %d (%s); the library's log says why" % (function, status, name)
        )


class LibraryNotFoundError(OSError):
    """The shared library is not where it was looked for."""


def _candidates():
    named = os.environ.get(LIBRARY_VARIABLE)
    if named:
        # Only the named file: a wrong path must not quietly load another copy.
        return [named]
    # The dynamic loader's own search (LD_LIBRARY_PATH, its cache), then the usual install
    # folders, the environment's own prefix first.
    folders = []
    for prefix in (sys.prefix, sys.base_prefix, "/usr/local", "/usr"):
        for libdir in ("lib", "lib64", "lib/x86_64-linux-gnu"):
            folder = os.path.join(prefix, libdir)
            if folder not in folders:
                folders.append(folder)
    return [LIBRARY_NAME] + [os.path.join(folder, LIBRARY_NAME) for folder in folders]


def _load():
    tried = []
    for candidate in _candidates():
        if os.sep in candidate and not os.path.exists(candidate):
            tried.append("%s (no such file)" % candidate)
            continue
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            tried.append("%s (%s)" % (candidate, error))
    raise LibraryNotFoundError(
        "the tavo SDK library was not found; install it or set %s to its path. Tried: %s"
        % (LIBRARY_VARIABLE, "; ".join(tried))
    )


def _check(result, function, arguments):
    if result != r.STATUS_SUCCESS:
        raise HeadTrackingError(function.__name__, result)
    return result


_status = ctypes.c_int32
_engine = r.EngineHandle
_frame = r.FrameHandle
P = ctypes.POINTER

# name: (result type or None for void, argument types); a status result is checked.
_FUNCTIONS = {
    "tavoHeadTrackingEngineInitArgs": (_status, [P(r.EngineInitArgs), P(_engine)]),
    "tavoHeadTrackingEngineInitWithSharedCamera": (_status, [P(r.EngineInitArgs), P(_engine)]),
    "tavoHeadTrackingEngineRelease": (None, [_engine]),
    "tavoHeadTrackingEngineStartTracking": (_status, [_engine]),
    "tavoHeadTrackingEngineStopTracking": (_status, [_engine]),
    "tavoHeadTrackingEngineSetCameraPosition": (
        _status,
        [_engine, ctypes.c_float, ctypes.c_float, ctypes.c_float],
    ),
    "tavoHeadTrackingEngineSetCameraRotation": (_status, [_engine] + [ctypes.c_float] * 9),
    "tavoHeadTrackingEngineSetCameraTransform": (_status, [_engine, P(r.Vec3), P(r.Vec3)]),
    "tavoHeadTrackingEngineSetFilterProperties": (_status, [_engine, P(r.FilterProperties)]),
    "tavoHeadTrackingEngineSetMaxNumOfDetectedFaces": (_status, [_engine, ctypes.c_int32]),
    "tavoHeadTrackingEngineSetTrackedEyes": (_status, [_engine, ctypes.c_int32, ctypes.c_int32]),
    "tavoHeadTrackingEngineGetMaxNumOfDetectedFacesLimit": (_status, [_engine, P(ctypes.c_int32)]),
    "tavoHeadTrackingEngineGetLatestFrame": (_status, [_engine, P(_frame)]),
    "tavoHeadTrackingEnginePushCameraIntrinsics": (_status, [_engine, P(r.CameraIntrinsics)]),
    "tavoHeadTrackingEnginePushCameraImage": (
        _status,
        [_engine, P(r.Image), P(r.DepthImage), P(r.Timestamp)],
    ),
    "tavoHeadTrackingFrameGetTrackingResult": (_status, [_frame, P(r.TrackingResult)]),
    # The face arrays are variable: any record with room, passed by reference.
    "tavoHeadTrackingFrameGetRawFaces": (_status, [_frame, ctypes.c_void_p]),
    "tavoHeadTrackingFrameGetDetectedFaces": (_status, [_frame, ctypes.c_void_p]),
    "tavoHeadTrackingFrameGetProfiling": (_status, [_frame, P(r.FrameProfiling)]),
    "tavoHeadTrackingFrameRelease": (None, [_frame]),
    "tavoHeadTrackingGetVersion": (ctypes.c_char_p, []),
}

_lock = threading.Lock()
_library = None


def library():
    """The loaded library with every C function typed; loaded on first use."""
    global _library
    with _lock:
        if _library is None:
            loaded = _load()
            for name, (result, arguments) in _FUNCTIONS.items():
                function = getattr(loaded, name)
                function.restype = result
                function.argtypes = arguments
                if result is _status:
                    function.errcheck = _check
            _library = loaded
        return _library


def version():
    """The library's version text."""
    return library().tavoHeadTrackingGetVersion().decode()
