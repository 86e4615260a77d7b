"""The Python bindings through the C interface, with the scripted detector plug-in."""

import ctypes
import os
import subprocess
import sys

import numpy as np
import pytest

import tavo_headtracking as th
from conftest import DEPTH_FROM_FRAME
from tavo_headtracking import records

WIDTH, HEIGHT = 64, 48
INTRINSICS = th.Intrinsics(WIDTH, HEIGHT, 32.0, 24.0, 50.0, 50.0)
# Eyes 10 px apart at 0.3 m: 60 mm between them.
EYES = ((27.0, 20.0), (37.0, 20.0))


def c_layout(program):
    """{record: {field or "-": (offset, size)}} as the C compiler laid them out."""
    lines = subprocess.run([program], check=True, capture_output=True, text=True).stdout
    layout = {}
    for line in lines.splitlines():
        record, field, offset, size = line.split()
        layout.setdefault(record, {})[field] = (int(offset), int(size))
    return layout


def test_every_record_has_the_c_headers_size_and_offsets(layout_program):
    layout = c_layout(layout_program)
    mirrored = {record._c_name_: record for record in records.all_records()}
    assert sorted(mirrored) == sorted(layout), "records mirrored and records in C differ"
    for name, record in mirrored.items():
        c_fields = layout[name]
        assert ctypes.sizeof(record) == c_fields["-"][1], name
        python_fields = [field for field, _ in record._fields_]
        assert sorted(python_fields) == sorted(f for f in c_fields if f != "-"), name
        for field in python_fields:
            descriptor = getattr(record, field)
            assert (descriptor.offset, descriptor.size) == c_fields[field], (name, field)


def test_version_is_the_librarys():
    assert th.version() == "0.6.74"


def push_frames(engine, count, start_ms=1000.0, depth=None):
    image = np.full((HEIGHT, WIDTH), 90, np.uint8)
    for i in range(count):
        engine.push_image(image, timestamp_ms=start_ms + 33.0 * i, depth=depth)
    return start_ms + 33.0 * (count - 1)


@pytest.mark.parametrize(
    "depth, metres",
    [(None, 0.3), (np.full((HEIGHT, WIDTH), 350, np.uint16), 0.35)],
    ids=["scripted depth", "pushed depth"],
)
def test_a_pushed_face_is_tracked_in_display_space(script, depth, metres):
    script.faces([EYES], depth_m=0.3, flags=DEPTH_FROM_FRAME)
    with th.Engine() as engine:
        engine.push_intrinsics(INTRINSICS)
        engine.start()
        last = push_frames(engine, 8, depth=depth)
        result = engine.poll()
    assert result.timestamp_ms == last
    assert result.timestamp_space == records.SPACE_SYSTEM
    assert result.face_ever_tracked
    assert len(result.faces) == 1
    z = metres * 1000.0
    middle_u = (EYES[0][0] + EYES[1][0]) / 2.0
    # Camera x and y are mirrored into display space.
    expected = (-(middle_u - 32.0) / 50.0 * z, -(20.0 - 24.0) / 50.0 * z, z)
    assert result.primary.position == pytest.approx(expected, abs=0.5)
    assert result.primary.raw_face_index == 0


def test_poll_before_any_frame_and_pushes_while_stopped_give_no_faces(script):
    script.faces([EYES])
    with th.Engine() as engine:
        empty = engine.poll()
        assert (empty.faces, empty.timestamp_ms, empty.primary) == ([], 0.0, None)
        engine.push_intrinsics(INTRINSICS)
        push_frames(engine, 3)  # not tracking yet: dropped
        assert engine.poll().timestamp_ms == 0.0
        engine.start()
        engine.stop()
        push_frames(engine, 3)
        assert engine.poll().timestamp_ms == 0.0


def test_a_non_zero_status_raises_with_the_function_and_status(script):
    with th.Engine() as engine:
        engine.start()
        with pytest.raises(th.HeadTrackingError) as raised:
            engine.push_intrinsics(th.Intrinsics(WIDTH, HEIGHT, 32.0, 24.0, 0.0, 50.0))
        assert raised.value.function == "tavoHeadTrackingEnginePushCameraIntrinsics"
        assert raised.value.status == records.STATUS_UNKNOWN
        with pytest.raises(th.HeadTrackingError):
            engine.set_max_faces(engine.max_faces_limit + 1)
        with pytest.raises(th.HeadTrackingError):
            engine.push_image(np.zeros((HEIGHT, WIDTH), np.uint8),
                              depth=np.zeros((HEIGHT - 1, WIDTH), np.uint16))
    with pytest.raises(th.HeadTrackingError) as raised:
        th.library().tavoHeadTrackingEngineStartTracking(None)
    assert raised.value.status == records.STATUS_INVALID_INSTANCE


def test_images_that_are_not_8_bit_grey_are_refused_before_the_library(script):
    with th.Engine() as engine:
        engine.start()
        for image in (np.zeros((HEIGHT, WIDTH, 3), np.uint8), np.zeros((HEIGHT, WIDTH))):
            with pytest.raises(ValueError):
                engine.push_image(image)
        with pytest.raises(ValueError):
            engine.push_image(np.zeros((HEIGHT, WIDTH), np.uint8),
                              depth=np.zeros((HEIGHT, WIDTH), np.float32))


def test_a_closed_engine_refuses_every_call(script):
    with th.Engine() as engine:
        engine.start()
    engine.close()  # a second close does nothing
    for call in (engine.start, engine.stop, engine.poll,
                 lambda: engine.push_image(np.zeros((HEIGHT, WIDTH), np.uint8)),
                 lambda: engine.push_intrinsics(INTRINSICS)):
        with pytest.raises(ValueError, match="closed"):
            call()


def test_a_failed_creation_raises_and_leaves_nothing_open(script):
    script.refuse_detectors()
    with pytest.raises(th.HeadTrackingError) as raised:
        th.Engine()
    assert raised.value.function == "tavoHeadTrackingEngineInitWithSharedCamera"


def test_a_missing_library_is_reported_with_where_it_was_looked_for(tmp_path):
    missing = str(tmp_path / "libnothing.so")
    code = "import tavo_headtracking as t\ntry:\n    t.version()\nexcept t.LibraryNotFoundError as e:\n    print(e)\n"
    env = dict(os.environ, TAVO_HEADTRACKING_LIBRARY=missing)
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                         check=True).stdout
    assert "TAVO_HEADTRACKING_LIBRARY" in out and missing in out
