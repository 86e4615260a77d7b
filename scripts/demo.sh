#!/usr/bin/env bash
# Installs dependencies, builds, and runs the walk demo: a simulated viewer walks in front of a
# simulated panel and the whole chain runs (camera, detector plug-in, tracking and prediction,
# the host's views, weaving, what each eye sees). Pictures and a summary go to demo-out/ (or
# --out DIR); the arguments are tavo-walk's:
#
#   bash scripts/demo.sh [--seconds S] [--mode stereo|sliding] [--out DIR] [--no-predict]
#                        [--camera simulated|realsense] [--key-frames K]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
# The CPU detector plug-in is found on the library search path, as an installed one would be
# beside the library.
LD_LIBRARY_PATH="build/plugins/cpuDetector${LD_LIBRARY_PATH:+:${LD_LIBRARY_PATH}}" \
  build/apps/tavo-walk "$@"
