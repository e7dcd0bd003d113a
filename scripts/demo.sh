#!/usr/bin/env bash
# Builds Tessellgrove in release mode, installs it for the current user and
# renders a demo file with tessellgrove-render, on a fresh Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
cmake --preset release
cmake --build --preset release
cmake --install build/release

out=${1:-tessellgrove-demo.wav}
build/release/tools/tessellgrove-render \
    --bpm 120 --playing \
    --set carrier_mode=Swarm --set swarm_count=8 --set mix=70% \
    --set char_mode=Warm --set comb_mix=0.3 --set trig_amount=0.5 \
    -o "$out"
echo "Rendered the built-in test signal through Tessellgrove into $out"
