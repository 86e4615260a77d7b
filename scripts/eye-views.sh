#!/usr/bin/env bash
# What each eye sees: weaves a stereo pair for a face with tavo-weave and puts the two eye views
# tavo-eyeview traces side by side in one PNG.
#
#   scripts/eye-views.sh [OUT.png] [X,Y,Z] [LEFT.png RIGHT.png]
#
# Without a pair it makes one: a red left picture with a white bar on its left and a blue right
# picture with a white bar on its right, so that a glance shows which eye got which. Needs a
# build in build/ (or BUILD=folder).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
out=${1:-eye-views.png}
face=${2:-0,0,521.53}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A plain-text PPM: width 64, height 36, a white bar in columns [bar0, bar1).
picture() {
    local path=$1 r=$2 g=$3 b=$4 bar0=$5 bar1=$6
    {
        echo "P3 64 36 255"
        for ((y = 0; y < 36; ++y)); do
            for ((x = 0; x < 64; ++x)); do
                if ((x >= bar0 && x < bar1)); then echo "255 255 255"; else echo "$r $g $b"; fi
            done
        done
    } >"$path"
}

if (($# >= 4)); then
    left=$3
    right=$4
else
    left=$work/left.ppm
    right=$work/right.ppm
    picture "$left" 220 30 30 4 16
    picture "$right" 30 60 220 48 60
fi

IFS=, read -r fx fy fz <<<"$face"
"$build/apps/tavo-weave" --mode stereo --face "$face" --left "$left" --right "$right" \
    --no-sharpen --no-blend --out "$work/woven.png"
leftEye="$(awk "BEGIN { print $fx - 31.5 }"),$fy,$fz"
rightEye="$(awk "BEGIN { print $fx + 31.5 }"),$fy,$fz"
"$build/apps/tavo-eyeview" --woven "$work/woven.png" --eye "$leftEye" --eye "$rightEye" \
    --out "$out"
echo "$out: left eye, then right eye, for a face at $face"
