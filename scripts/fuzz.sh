#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 and runs each for a bounded
# time (FUZZ_SECONDS, default 60). The whole build is instrumented for
# coverage, AddressSanitizer and UndefinedBehaviorSanitizer; a crash, leak,
# sanitizer report or timeout fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=build/fuzz

cmake -S . -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" \
    -DTESSELLGROVE_BUILD_FUZZERS=ON -DTESSELLGROVE_BUILD_TESTS=OFF \
    -DTESSELLGROVE_BUILD_BENCH=OFF -DTESSELLGROVE_BUILD_TOOLS=OFF \
    -DTESSELLGROVE_WERROR=OFF > /dev/null
cmake --build "$build" --target tessellgrove_preset_reader_fuzzer tessellgrove_state_loader_fuzzer

run_fuzzer() {
    local name=$1 seeds=$2; shift 2
    local corpus
    corpus=$(mktemp -d)
    echo "--- $name for ${seconds}s"
    "$(find "$build" -type f -name "$name" -perm -u+x | head -n 1)" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$@" "$corpus" "$seeds" 2>&1 | tail -n 12
    local status=${PIPESTATUS[0]}
    rm -rf "$corpus"
    return "$status"
}

run_fuzzer tessellgrove_preset_reader_fuzzer plugin/presets/fuzz/seeds \
    -dict=plugin/presets/fuzz/preset.dict
run_fuzzer tessellgrove_state_loader_fuzzer plugin/params/fuzz/seeds
