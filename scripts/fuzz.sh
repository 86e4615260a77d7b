#!/usr/bin/env bash
# Builds the TGA fuzzer with clang and libFuzzer and runs it for the given number of seconds.
# Usage: scripts/fuzz.sh [seconds]   (default 60). Exits non-zero on a crash or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build=build-fuzz
corpus_seed=tests/common/data/tga
mkdir -p "${build}/corpus" "${build}/artifacts"

clang="$(command -v clang++ || ls /usr/bin/clang++-* 2>/dev/null | sort -V | tail -n1)"
if [ -z "${clang}" ]; then
  echo "fuzz: clang++ not found" >&2
  exit 1
fi

# Only the decoder and its header are compiled: the rest of the project need not build with clang.
"${clang}" -std=c++20 -g -O1 -Wall -Wextra -Werror \
  -fsanitize=fuzzer,address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer \
  -I. tavo/common/tga.cpp fuzz/tgaFuzzer.cpp -o "${build}/tgaFuzzer"

# The working corpus grows in the build folder; the hand-made seeds stay untouched.
cp -n "${corpus_seed}"/*.tga "${build}/corpus/" 2>/dev/null || true

log="${build}/fuzz.log"
set +e
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "${build}/tgaFuzzer" -max_total_time="${seconds}" -print_final_stats=1 -rss_limit_mb=2048 \
  -artifact_prefix="${build}/artifacts/" "${build}/corpus" >"${log}" 2>&1
status=$?
set -e
tail -n 40 "${log}"

runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "${log}" | grep -o '[0-9]*$' || true)"
rate="$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "${log}" | grep -o '[0-9]*$' || true)"
echo "fuzz: ${runs:-?} executions in total, ${rate:-?} executions per second"
if [ "${status}" -ne 0 ] || grep -q -E 'ERROR: (AddressSanitizer|libFuzzer)|runtime error:' "${log}"; then
  echo "fuzz: crash or sanitizer report (exit ${status}); see ${log} and ${build}/artifacts" >&2
  exit 1
fi
