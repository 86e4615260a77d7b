#!/usr/bin/env bash
# Builds the fuzzers with clang and libFuzzer and runs them: the TGA decoders for the given
# number of seconds, the face model's byte rewriter for half as long.
# Usage: scripts/fuzz.sh [seconds]   (default 60). Exits non-zero on a crash or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build=build-fuzz
mkdir -p "${build}"

clang="$(command -v clang++ || ls /usr/bin/clang++-* 2>/dev/null | sort -V | tail -n1)"
if [ -z "${clang}" ]; then
  echo "fuzz: clang++ not found" >&2
  exit 1
fi
flags=(-std=c++20 -g -O1 -Wall -Wextra -Werror
  -fsanitize=fuzzer,address,undefined,float-cast-overflow -fno-sanitize-recover=all
  -fno-omit-frame-pointer -I.)

# Only the code under test and its headers are compiled: the rest of the project need not build
# with clang.
"${clang}" "${flags[@]}" tavo/common/tga.cpp fuzz/tgaFuzzer.cpp -o "${build}/tgaFuzzer"
"${clang}" "${flags[@]}" -isystem /usr/include/opencv4 plugins/cpuDetector/ownLayers.cpp \
  fuzz/modelRewriteFuzzer.cpp -lopencv_dnn -lopencv_core -o "${build}/modelRewriteFuzzer"

# run NAME SECONDS SEED...: the working corpus grows in the build folder; the seeds stay
# untouched.
failed=0
run() {
  local name="$1" time="$2"; shift 2
  local corpus="${build}/corpus-${name}" artifacts="${build}/artifacts-${name}/"
  local log="${build}/${name}.log"
  mkdir -p "${corpus}" "${artifacts}"
  local seed
  for seed in "$@"; do
    [ -f "${seed}" ] && cp -n "${seed}" "${corpus}/"
  done
  local status=0
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "${build}/${name}" -max_total_time="${time}" -print_final_stats=1 -rss_limit_mb=2048 \
    -artifact_prefix="${artifacts}" "${corpus}" >"${log}" 2>&1 || status=$?
  tail -n 20 "${log}"
  local runs rate
  runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "${log}" | grep -o '[0-9]*$' || true)"
  rate="$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "${log}" | grep -o '[0-9]*$' || true)"
  echo "fuzz ${name}: ${runs:-?} executions in total, ${rate:-?} executions per second"
  if [ "${status}" -ne 0 ] || grep -q -E 'ERROR: (AddressSanitizer|libFuzzer)|runtime error:' "${log}"; then
    echo "fuzz ${name}: crash or sanitizer report (exit ${status}); see ${log} and ${artifacts}" >&2
    failed=1
  fi
}

run tgaFuzzer "${seconds}" tests/common/data/tga/*.tga
# The real model, when the install script has fetched it, is the seed that reaches the rewriting.
run modelRewriteFuzzer "$(( (seconds + 1) / 2 ))" \
  assets/models/face_detection_front_128x128_barracuda.onnx
exit "${failed}"
