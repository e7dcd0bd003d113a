#!/usr/bin/env bash
# Writes the manual's test phrase: 4 seconds at 44100 Hz, mono, 16-bit WAV.
# Two bars at 120 BPM of a plucked arpeggio in eighth notes over a kick-like
# pulse on every beat. Everything is synthesised by sox; -R seeds sox's
# random generators with a fixed number (the plucks start from noise) and
# -D turns dither off, so the file is the same on every run.
#
# usage: make-phrase.sh OUTPUT.wav
set -euo pipefail

out=${1:?usage: make-phrase.sh OUTPUT.wav}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rate=44100
sox_gen() { sox -R -D -r "$rate" -c 1 -n -b 16 "$@"; }

# Sixteen eighth notes (0.25 s each), an A minor then an F major arpeggio.
notes=(A2 C3 E3 A3 C4 E4 A4 E4 F2 A2 C3 F3 A3 C4 F4 C4)
note_files=()
for i in "${!notes[@]}"; do
    f=$(printf '%s/note%02d.wav' "$work" "$i")
    sox_gen "$f" synth 0.25 pluck "${notes[$i]}" lowpass 4000 fade q 0.002 0.25 0.12 gain -3
    note_files+=("$f")
done
sox -R -D "${note_files[@]}" "$work/plucks.wav"

# One beat: a 150 Hz to 45 Hz sine drop with a short noise click, then
# silence up to half a second; repeated for eight beats.
sox_gen "$work/body.wav" synth 0.18 sine 150-45 fade q 0.001 0.18 0.16
sox_gen "$work/click.wav" synth 0.012 noise fade q 0 0.012 0.011 gain -12
sox -R -D -m "$work/body.wav" "$work/click.wav" "$work/hit.wav"
sox -R -D "$work/hit.wav" "$work/beat.wav" pad 0 0.32 trim 0 0.5
sox -R -D "$work/beat.wav" "$work/drums.wav" repeat 7

# Mix the two layers and leave some headroom for the effect.
sox -R -D -m -v 0.55 "$work/plucks.wav" -v 0.45 "$work/drums.wav" -e floating-point -b 32 "$out" trim 0 4 gain -n -3
