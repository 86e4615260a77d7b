#!/usr/bin/env python3
"""Pushes images into head tracking and prints the primary face's position, one line per
tracked frame.

By default the images are a short synthetic sequence: the face of scikit-image's astronaut
photograph, grey, moving from left to right across a grey 848 x 480 frame. With --webcam they
come from a webcam through OpenCV until Ctrl-C (or --frames). The detector is the library's
CPU face detector plug-in, which the library finds beside itself.
"""

import argparse
import os
import sys
import time

import numpy as np

# The library's log shares standard output; its informative lines would bury the faces'.
# Read when the library loads, which is on first use below.
os.environ.setdefault("SPDLOG_LEVEL", "warn")

from tavo_headtracking import Engine, Intrinsics  # noqa: E402

WIDTH, HEIGHT = 848, 480
# The face in astronaut.png (512 x 512): a square around the point between the eyes.
FACE_REGION = (slice(37, 207), slice(140, 310))


def synthetic_frames(count):
    from skimage import color, data

    photo = (color.rgb2gray(data.astronaut()) * 255.0).astype(np.uint8)
    face = photo[FACE_REGION]
    side = face.shape[0]
    for i in range(count):
        frame = np.full((HEIGHT, WIDTH), 128, np.uint8)
        left = int(60 + (WIDTH - side - 120) * i / max(count - 1, 1))
        top = (HEIGHT - side) // 2
        frame[top : top + side, left : left + side] = face
        yield frame


def webcam_frames(index, count):
    import cv2

    capture = cv2.VideoCapture(index)
    if not capture.isOpened():
        sys.exit("cannot open webcam %d" % index)
    try:
        taken = 0
        while count is None or taken < count:
            ok, picture = capture.read()
            if not ok:
                break
            taken += 1
            yield cv2.cvtColor(picture, cv2.COLOR_BGR2GRAY)
    finally:
        capture.release()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--webcam", nargs="?", type=int, const=0, metavar="INDEX",
                        help="use a webcam through OpenCV (default index 0)")
    parser.add_argument("--frames", type=int, help="frames to push (synthetic: 24)")
    parser.add_argument("--fov", type=float, default=90.0,
                        help="horizontal field of view of the camera in degrees")
    options = parser.parse_args()

    if options.webcam is None:
        frames = synthetic_frames(options.frames or 24)
    else:
        frames = webcam_frames(options.webcam, options.frames)

    start = time.time() * 1000.0
    with Engine(log_level=4) as engine:  # warnings and worse
        intrinsics = None
        engine.start()
        for number, image in enumerate(frames):
            if intrinsics is None:
                height, width = image.shape
                intrinsics = Intrinsics.from_field_of_view(width, height, options.fov)
                engine.push_intrinsics(intrinsics)
            # The synthetic sequence plays at 30 frames a second; a webcam's frames at their
            # arrival.
            stamp = start + number * 1000.0 / 30.0 if options.webcam is None else None
            engine.push_image(image, timestamp_ms=stamp)
            face = engine.poll().primary
            if face is not None:
                x, y, z = face.position
                print("frame %3d: x %7.1f mm, y %7.1f mm, z %7.1f mm" % (number, x, y, z),
                      flush=True)
        engine.stop()


if __name__ == "__main__":
    main()
