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

# A binary PPM: width 64, height 36, a white bar in columns [bar0, bar1).
picture() {
    local path=$1 bar0=$5 bar1=$6
    local colour white
    colour=$(printf '\\%03o\\%03o\\%03o' "$2" "$3" "$4")
    white='\377\377\377'
    {
        printf 'P6 64 36 255\n'
        for ((y = 0; y < 36; ++y)); do
            for ((x = 0; x < 64; ++x)); do
                if ((x >= bar0 && x < bar1)); then printf "$white"; else printf "$colour"; fi
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
