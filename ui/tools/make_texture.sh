#!/bin/sh
# Regenerates assets/paper.webp, the paper grain shown in the FOLD box.
# Seeded noise, blurred with tiled edges so the tile repeats without seams,
# tinted to the panel colour; the intermediate is a headerless PPM, so the
# same ImageMagick and libwebp versions give a byte-identical file.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/assets/paper.webp}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

/usr/bin/convert -size 128x128 xc:gray50 -seed 1729 -attenuate 1.6 +noise Gaussian \
    -colorspace Gray -virtual-pixel tile -blur 0x0.7 \
    -auto-level -level 18%,92% \
    -colorspace sRGB -type TrueColor +level-colors '#b8a98f','#f2e8d6' \
    -depth 8 -strip "ppm:$tmp/paper.ppm"
cwebp -quiet -q 70 -m 6 -metadata none "$tmp/paper.ppm" -o "$out"
