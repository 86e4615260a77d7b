#!/usr/bin/env bash
# Installs dependencies, builds, and runs the tracking demo on a synthetic viewer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
# The demo's detector plug-in is found on the library search path, as a host's own would be.
LD_LIBRARY_PATH="build/apps/demo/plugins${LD_LIBRARY_PATH:+:${LD_LIBRARY_PATH}}" \
  build/apps/tavoTrackingDemo "$@"
