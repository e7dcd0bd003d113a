#!/usr/bin/env bash
# Editor tests on a virtual X server: the in-repo test host opens the editor
# page through the plug-in's CLAP gui extension and its VST3 IPlugView inside
# a plain X11 window and drives it with xdotool, every scenario through both
# formats with audio running. Prints a final "N passed, N failed" line.
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
export MIX_X=173 MIX_Y=124              # the MIX dial of the top row
export PRESET_MENU_X=790 PRESET_MENU_Y=38  # the preset selector
export SAVE_AS_X=760 SAVE_AS_Y=137      # "SAVE AS..." in its menu (FACTORY folded, no user preset)
export FACTORY_GROUP_X=690 FACTORY_GROUP_Y=66 # its FACTORY group's header
export PRESET_LIST_X=644 PRESET_LIST_Y=80 PRESET_LIST_W=234 PRESET_LIST_H=44 # its USER group header and first row
export USER_PRESET_X=720 USER_PRESET_Y=112 # the first entry of its USER group
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

# run_scenario <format> <scenario> <name prefix>: one host process; its
# check lines are counted (and prefixed, when asked).
run_scenario() {
    local format=$1 scenario=$2 tag=$3
    local dir="$work/$tag$format-$scenario"
    mkdir -p "$dir"
    local out
    mkdir -p "$dir/config"
    # Each run saves its presets in a configuration of its own.
    out=$(set -o pipefail; XDG_CONFIG_HOME="$dir/config" timeout 180 "$host" "$library" "$format" "$scenario" "$dir" |
        sed "s/^\(PASS\|FAIL\) /\1 $tag/")
    local status=$?
    echo "$out"
    passed=$((passed + $(grep -c '^PASS' <<<"$out")))
    failed=$((failed + $(grep -c '^FAIL' <<<"$out")))
    if [ "$status" -ne 0 ] && ! grep -q '^FAIL' <<<"$out"; then
        fail "$tag$format-$scenario: host ended with status $status"
    fi
}

# Every scenario through both formats, audio running throughout.
for format in clap vst3; do
    for scenario in screenshot drag host-change save-preset cycles parent-destroyed; do
        run_scenario "$format" "$scenario" ""
    done
done

# Hosts without a main loop for the plug-in (CLAP without posix-fd and timer
# support, a VST3 run loop refusing descriptors): the link runs on its own thread.
export EDITOR_TEST_NO_MAIN_LOOP=1
for format in clap vst3; do
    for scenario in drag cycles; do
        run_scenario "$format" "$scenario" "thread-"
    done
done
unset EDITOR_TEST_NO_MAIN_LOOP

# Fallbacks: without a display, and with a library that has no helper
# beside it, the editor opens window-less.
fallback() {
    local name=$1 lib=$2
    shift 2
    for format in clap vst3; do
        local dir="$work/$name-$format"
        mkdir -p "$dir"
        "$@" timeout 60 "$host" "$lib" "$format" fallback "$dir" >"$dir/out.txt" 2>/dev/null
        sed "s/^\(PASS\|FAIL\) /\1 $name-/" "$dir/out.txt"
        passed=$((passed + $(grep -c '^PASS' "$dir/out.txt")))
        failed=$((failed + $(grep -c '^FAIL' "$dir/out.txt")))
    done
}
fallback no-display "$library" env -u DISPLAY
mkdir -p "$work/lonely"
cp "$library" "$work/lonely/Tessellgrove.so"
fallback no-helper "$work/lonely/Tessellgrove.so" env

shot=$work/clap-screenshot/clap-in-host.png
if [ -f "$shot" ]; then
    echo "screenshot: $shot"
    if [ "${UPDATE_SCREENSHOT:-0}" = 1 ]; then
        cp "$shot" "$repo/docs/editor-in-host.png"
    fi
fi
echo "work dir: $work"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
