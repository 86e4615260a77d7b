"""What the bindings' tests get from the build: the library (through the package's own
variable), the scripted detector plug-in the library loads, and the C layout program."""

import ctypes
import os

import pytest

from tavo_headtracking import records

# Bits of the scripted plug-in's flags: its detectors read the eyes' depths from the frame.
DEPTH_FROM_FRAME = 4


def _required(variable):
    value = os.environ.get(variable)
    if not value:
        pytest.fail("%s is not set: run these tests through ctest" % variable)
    return value


class Script:
    """Sets what the scripted detector plug-in reports."""

    def __init__(self, path):
        # The same file the library loads through its search path, so the same copy.
        self._plugin = ctypes.CDLL(path)
        self._set = self._plugin.ScriptedDetector_SetScriptC
        self._set.restype = None
        self._set.argtypes = [
            ctypes.POINTER(records.DetectedFace),
            ctypes.c_int32,
            ctypes.c_int32,
            ctypes.c_int32,
        ]

    def faces(self, eye_pairs, depth_m=0.5, limit=4, flags=0):
        """One face per ((right u, v), (left u, v)) pair, both eyes at depth_m."""
        array = (records.DetectedFace * max(len(eye_pairs), 1))()
        for face, (right, left) in zip(array, eye_pairs):
            face.rightEyePixel = records.DVec2(*right)
            face.leftEyePixel = records.DVec2(*left)
            face.rightEyeDepth = face.leftEyeDepth = depth_m
        self._set(array, len(eye_pairs), limit, flags)

    def refuse_detectors(self):
        """The plug-in makes no detector, as one that cannot start does."""
        self._set(None, 0, 4, 1)


@pytest.fixture
def script():
    control = Script(_required("TAVO_TEST_SCRIPTED_PLUGIN"))
    control.faces([])
    yield control
    control.faces([])


@pytest.fixture(scope="session")
def layout_program():
    return _required("TAVO_TEST_RECORD_LAYOUT")
