"""Runs the example's default synthetic sequence and checks what it prints: one line per
tracked frame, the face at a plausible distance, moving across the display as it moves across
the images."""

import re
import subprocess
import sys

FRAMES = 24
LINE = re.compile(
    r"^frame +(\d+): x +(-?\d+\.\d) mm, y +(-?\d+\.\d) mm, z +(-?\d+\.\d) mm$")

output = subprocess.run([sys.executable, sys.argv[1], "--frames", str(FRAMES)], check=True,
                        capture_output=True, text=True).stdout
print(output)
rows = []
for line in output.splitlines():
    if line.startswith("[") and "[TavoSDK]" in line:
        continue  # a warning of the library's log, which shares standard output
    match = LINE.match(line)
    assert match, "unexpected line: %r" % line
    rows.append([float(value) for value in match.groups()])
# The tracker's first frame only starts its clock; a frame or two more may miss the face.
assert len(rows) >= FRAMES - 3, "only %d tracked frames of %d" % (len(rows), FRAMES)
numbers = [int(row[0]) for row in rows]
assert numbers == sorted(set(numbers)), "frame numbers repeat or go back"
for number, x, y, z in rows:
    assert 200.0 < z < 2000.0, "frame %d: implausible distance %g mm" % (number, z)
# The face moves from left to right in the images: towards negative x in display space, by
# more than half a metre at its distance.
assert rows[-1][1] < rows[0][1] - 300.0, "the face did not move across: %s" % rows
print("example output checked: %d tracked frames" % len(rows))
