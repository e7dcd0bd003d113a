#!/usr/bin/env bash
# The whole test suite, as CI runs it, on a fresh Debian 12 machine:
# installs what it needs, builds with warnings as errors, runs the unit
# tests, then again under AddressSanitizer + UndefinedBehaviorSanitizer and
# ThreadSanitizer, runs the fuzzers for a bounded time and the browser tests.
set -euo pipefail
cd "$(dirname "$0")/.."

stage() { printf '\n=== %s\n' "$*"; }

stage "Installing packages"
scripts/install-deps.sh test

stage "Release build (warnings are errors)"
cmake --preset ci
cmake --build --preset ci

stage "Unit tests"
ctest --preset ci -j2

stage "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake --preset asan-ubsan
cmake --build --preset asan-ubsan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan-ubsan -j2

stage "ThreadSanitizer: queues and threads"
scripts/test-tsan.sh

stage "Fuzzing (bounded)"
scripts/fuzz.sh

stage "Editor page in headless Chromium"
ui/tests/run.sh build/ci

stage "The editor window in an X11 parent under Xvfb"
bash tests/editor/run.sh build/ci

stage "Real hosts: Ardour 7 (VST3 session) and Qtractor's scanner (CLAP)"
bash tests/hosts/run.sh build/ci

stage "The user manual matches the product"
bash scripts/check-manual.sh build/ci

stage "All test stages passed"
