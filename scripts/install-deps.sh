#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run; safe to run again.
set -euo pipefail

PACKAGES=(
  # build tools
  build-essential cmake ninja-build pkg-config git ccache clang lld libclang-rt-14-dev clang-format
  # the face model fetch: TLS certificates for the npm registry, openssl for its integrity hash
  ca-certificates openssl
  # libraries
  libspdlog-dev libfmt-dev libglm-dev libstb-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # OpenGL: GLVND, EGL and Mesa's software renderer for headless rendering
  libegl-dev libgl-dev libopengl-dev libegl-mesa0 libgl1-mesa-dri
  # the debug overlay: Dear ImGui (static library with its OpenGL 3 backend)
  libimgui-dev
  # the window example and its test: GLFW, GLX from Mesa, a virtual X server and input for it
  libglfw3-dev libglx-mesa0 xvfb xdotool
  # the CPU face detector plug-in: OpenCV and its Haar cascades (the face model: below)
  libopencv-dev opencv-data
  # its tests: scikit-image's sample photographs
  python3-skimage
  # the API reference (the `docs` target)
  doxygen
  # the Python bindings: their tests in a virtual environment, and the example's webcam mode
  python3-pytest python3-venv python3-wheel python3-opencv
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -ne 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

bash "$(dirname "$0")/fetch-face-model.sh"
