#!/usr/bin/env bash
# Editor tests on a virtual X server: the in-repo test host opens the editor
# page through the plug-in's CLAP gui extension and its VST3 IPlugView inside
# a plain X11 window and drives it with xdotool. Prints a final "N passed, N failed" line.
#
# Usage: tests/editor/run.sh <build-dir>
# Needs: Xvfb, xdotool, imagemagick (import, convert, compare), the targets
# Tessellgrove, tessellgrove_editor and editor_test_host built in <build-dir>.
set -u
build=${1:?usage: run.sh <build-dir>}
build=$(cd "$build" && pwd)
repo=$(cd "$(dirname "$0")/../.." && pwd)
library=$build/plugin/bundle/Tessellgrove.so
helper=$build/plugin/bundle/tessellgrove-editor
host=$build/tests/editor/editor-test-host

passed=0
failed=0
fail() { echo "FAIL $1"; failed=$((failed + 1)); }

for tool in Xvfb xdotool import convert compare; do
    command -v "$tool" >/dev/null || { fail "missing tool: $tool"; echo "$passed passed, $failed failed"; exit 1; }
done
for file in "$library" "$helper" "$host"; do
    [ -x "$file" ] || [ -f "$file" ] || { fail "not built: $file"; echo "$passed passed, $failed failed"; exit 1; }
done

work=$(mktemp -d /tmp/tessellgrove-editor-tests.XXXXXX)
# Page coordinates inside the 900 x 600 editor.
export MIX_X=173 MIX_Y=124      # the MIX dial of the top row
export SAVE_X=790 SAVE_Y=38     # the preset selector
export SAVE_AS_X=760 SAVE_AS_Y=349 # "SAVE AS..." in its menu
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"

# A free display number.
display=90
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
# -noreset: without it the server resets whenever its last client leaves
# (between scenarios), and a connection made during the reset fails.
Xvfb :$display -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done
export DISPLAY=:$display

run_scenario() {
    local scenario=$1
    mkdir -p "$work/$scenario"
    local out
    out=$(timeout 180 "$host" "$library" "$scenario" "$work/$scenario")
    local status=$?
    echo "$out"
    passed=$((passed + $(grep -c '^PASS' <<<"$out")))
    failed=$((failed + $(grep -c '^FAIL' <<<"$out")))
    if [ $status -ne 0 ] && ! grep -q '^FAIL' <<<"$out"; then
        fail "$scenario: host ended with status $status"
    fi
}

for scenario in screenshot drag host-change save-preset cycles parent-destroyed vst3; do
    run_scenario "$scenario"
done

# A CLAP host without posix-fd and timer support: the link runs on its own thread.
export EDITOR_TEST_NO_MAIN_LOOP=1
for scenario in drag cycles; do
    mkdir -p "$work/thread-$scenario"
    out=$(timeout 180 "$host" "$library" "$scenario" "$work/thread-$scenario" | sed 's/^\(PASS\|FAIL\) /\1 thread-/')
    echo "$out"
    passed=$((passed + $(grep -c '^PASS' <<<"$out")))
    failed=$((failed + $(grep -c '^FAIL' <<<"$out")))
done
unset EDITOR_TEST_NO_MAIN_LOOP

# Fallbacks: without a display, and with a library that has no helper
# beside it, the editor opens window-less.
fallback() {
    local name=$1 lib=$2
    shift 2
    mkdir -p "$work/$name"
    "$@" timeout 60 "$host" "$lib" fallback "$work/$name" >"$work/$name/out.txt" 2>/dev/null
    sed "s/^\(PASS\|FAIL\) /\1 $name-/" "$work/$name/out.txt"
    passed=$((passed + $(grep -c '^PASS' "$work/$name/out.txt")))
    failed=$((failed + $(grep -c '^FAIL' "$work/$name/out.txt")))
}
fallback no-display "$library" env -u DISPLAY
mkdir -p "$work/lonely"
cp "$library" "$work/lonely/Tessellgrove.so"
fallback no-helper "$work/lonely/Tessellgrove.so" env

if [ -f "$work/screenshot/editor-in-host.png" ]; then
    echo "screenshot: $work/screenshot/editor-in-host.png"
    if [ "${UPDATE_SCREENSHOT:-0}" = 1 ]; then
        cp "$work/screenshot/editor-in-host.png" "$repo/docs/editor-in-host.png"
    fi
fi
echo "work dir: $work"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
