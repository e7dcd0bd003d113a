#!/usr/bin/env bash
# Generates the user manual, docs/manual.md, and its pictures from the
# built product:
#   - the parameter table from `tessellgrove-render --list-params --json`,
#   - the factory preset settings from preset_settings.cpp, which applies each
#     preset the way `tessellgrove-render --preset` does and reads the texts
#     back from the plug-in,
#   - the renderer's option list from `tessellgrove-render --help`,
#   - docs/images/signal-flow.png from docs/signal-flow.dot (Graphviz),
#   - docs/images/phrase.png and docs/images/presets/*.png: spectrograms (SoX)
#     of a generated test phrase before and after each factory preset.
# The prose lives in scripts/manual/manual.md.in. Two runs give byte-identical
# files.
#
# usage: make-manual.sh [--text-only] [--output FILE] [BUILD_DIR]
#   --text-only    write only the Markdown text, no pictures (needs neither
#                  Graphviz nor SoX); scripts/check-manual.sh uses this
#   --output FILE  write the text to FILE instead of docs/manual.md
#   BUILD_DIR      a Ninja build tree of this repository (default: the first
#                  of build/dev, build/ci, build/release that exists); the
#                  renderer in it is brought up to date first
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
docs=$root/docs

text_only=false
output=$docs/manual.md
build=
while [ $# -gt 0 ]; do
    case $1 in
        --text-only) text_only=true ;;
        --output) output=${2:?--output needs a file name}; shift ;;
        -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        -*) echo "make-manual: unknown option '$1'" >&2; exit 2 ;;
        *) build=$1 ;;
    esac
    shift
done

if [ -z "$build" ]; then
    for candidate in build/dev build/ci build/release; do
        if [ -f "$root/$candidate/build.ninja" ]; then
            build=$root/$candidate
            break
        fi
    done
    if [ -z "$build" ]; then
        echo "make-manual: no build tree found; build one first (cmake --preset dev)" \
             "or pass its folder" >&2
        exit 2
    fi
fi
build=$(cd "$build" && pwd)

need() {
    command -v "$1" >/dev/null || { echo "make-manual: '$1' is missing (Debian package $2)" >&2; exit 2; }
}
need python3 python3
need ninja ninja-build
if ! $text_only; then
    need dot graphviz
    need sox sox
fi

cmake --build "$build" --target tessellgrove-render >/dev/null
render=$build/tools/tessellgrove-render

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A private, empty configuration folder: the manual describes the factory
# presets only, whatever user presets this machine has.
mkdir -p "$work/config"
export XDG_CONFIG_HOME=$work/config

# Text: everything the product reports.
"$render" --list-params --json >"$work/params.json"
"$render" --help >"$work/help.txt"
python3 "$here/build_preset_settings.py" "$build" "$work/preset-settings"
"$work/preset-settings" >"$work/presets.json"

mkdir -p "$(dirname "$output")"
python3 "$here/write_manual.py" "$here/manual.md.in" "$here/param-notes.tsv" \
    "$work/params.json" "$work/presets.json" "$work/help.txt" "$output.tmp" "$work/pictures.tsv"
mv "$output.tmp" "$output"
echo "wrote $output"
if $text_only; then
    exit 0
fi

# Pictures.
images=$docs/images
mkdir -p "$images/presets"

dot -Tpng "$docs/signal-flow.dot" -o "$images/signal-flow.png"

# Spectrogram of a stereo or mono file: both channels mixed, resampled to
# 22.05 kHz so the picture shows 0 to 11 kHz, 16 colours over 90 dB, no
# "Created by SoX" comment. sox's own warnings (a render peaking above full
# scale is clipped for the picture) are left out.
spectrogram() { # input.wav output.png title
    sox -V1 "$1" -n remix - rate -v 22050 \
        spectrogram -x 480 -y 193 -z 90 -q 16 -t "$3" -c "" -o "$2"
}

bash "$here/make-phrase.sh" "$work/phrase.wav"
spectrogram "$work/phrase.wav" "$images/phrase.png" "Test phrase, unprocessed"

wanted=()
while IFS=$'\t' read -r picture name; do
    "$render" --preset "$name" --bpm 120 -i "$work/phrase.wav" -o "$work/wet.wav"
    spectrogram "$work/wet.wav" "$docs/$picture" "$name"
    wanted+=("$docs/$picture")
done <"$work/pictures.tsv"

# Pictures of presets that no longer exist.
for old in "$images/presets"/*.png; do
    keep=false
    for w in "${wanted[@]}"; do
        if [ "$old" = "$w" ]; then keep=true; fi
    done
    if ! $keep; then rm -f "$old"; fi
done

python3 "$here/png_strip.py" "$images/signal-flow.png" "$images/phrase.png" "${wanted[@]}"
echo "wrote $images/signal-flow.png, $images/phrase.png and ${#wanted[@]} preset pictures"
