"""Head tracking of the tavo SDK from Python, over the library's C interface (ctypes)."""

from .engine import Engine, Intrinsics, TrackedFace, TrackingResult
from .library import HeadTrackingError, LibraryNotFoundError, library, version

__all__ = [
    "Engine",
    "HeadTrackingError",
    "Intrinsics",
    "LibraryNotFoundError",
    "TrackedFace",
    "TrackingResult",
    "library",
    "version",
]
