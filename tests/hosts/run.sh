#!/usr/bin/env bash
# Loads the built Tessellgrove.so into real hosts that Debian ships and checks
# what they see and hear:
#   - Qtractor's CLAP scanner (package qtractor) opens the library as
#     Tessellgrove.clap, creates and initialises the plug-in, and reports its
#     ports, controls, editor and state support;
#   - Ardour 7 (package ardour) indexes it with its VST3 scanner, then a
#     headless session (ardour7-lua on the "None (Dummy)" backend, sine
#     inputs) inserts it on a stereo bus, sets parameters, reads the bus
#     meters, saves; the saved session's state blob is checked, two
#     parameters are removed from Ardour's own records, and a second run
#     reloads the session and checks values and levels again.
# Debian's qtractor_plugin_scan is built without VST3 support (it stops at a
# "VST3:" request), so VST3 is exercised in Ardour only.
#
# Usage: tests/hosts/run.sh <build-dir> [path/to/Tessellgrove.so]
# Nothing is installed into the user's plug-in folders: the library is laid
# out as a VST3 bundle and a .clap file under a temporary HOME, which also
# holds every host's configuration and cache. Set KEEP_HOSTS_TMP=1 to keep it.
# Prints PASS/FAIL lines and a last line "N passed, N failed"; exits non-zero
# when a check failed.
set -u -o pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ $# -lt 1 || $# -gt 2 ]]; then
    echo "usage: $0 <build-dir> [path/to/Tessellgrove.so]" >&2
    exit 2
fi
build_dir=$1
so=${2:-}
if [[ -z $so ]]; then
    so=$build_dir/plugin/bundle/Tessellgrove.so
    [[ -f $so ]] || so=$(find "$build_dir" -name Tessellgrove.so -type f 2>/dev/null | head -n 1)
fi

passed=0
failed=0
pass() { echo "PASS $1: $2"; passed=$((passed + 1)); }
fail() { echo "FAIL $1: $2"; failed=$((failed + 1)); }
finish() {
    echo "$passed passed, $failed failed"
    [[ $failed -eq 0 ]]
    exit $?
}
# Runs hostcheck.py and adds its PASS/FAIL lines to the tally.
check() {
    local out rc
    out=$(timeout -k 5 30 python3 "$here/hostcheck.py" "$@" 2>&1)
    rc=$?
    echo "$out"
    local p f
    p=$(grep -c '^PASS ' <<<"$out")
    f=$(grep -c '^FAIL ' <<<"$out")
    passed=$((passed + p))
    failed=$((failed + f))
    if [[ $p -eq 0 && $f -eq 0 ]]; then
        fail "hostcheck_$1" "no verdict (exit status $rc): see output above"
    fi
}
show_log() {
    echo "---- last lines of $1"
    tail -n "${2:-25}" "$1" | sed 's/^/    /'
    echo "----"
}

if [[ -z $so || ! -f $so ]]; then
    fail plugin_library "no Tessellgrove.so under $build_dir (build the Tessellgrove target)"
    finish
fi
so=$(cd "$(dirname "$so")" && pwd)/$(basename "$so")
echo "plug-in library: $so"
echo "hosts: $(dpkg-query -W -f '${Package} ${Version}; ' ardour qtractor 2>/dev/null)"

work=$(mktemp -d "${TMPDIR:-/tmp}/tessellgrove-hosts.XXXXXX")
if [[ ${KEEP_HOSTS_TMP:-0} == 1 ]]; then
    echo "work folder kept: $work"
else
    trap 'rm -rf "$work"' EXIT
fi
export HOME=$work/home
export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share
export XDG_RUNTIME_DIR=$work/run
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY VST3_PATH CLAP_PATH
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$work/logs"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

vst3_dir=$work/vst3
bundle=$vst3_dir/Tessellgrove.vst3
clap=$work/clap/Tessellgrove.clap
mkdir -p "$bundle/Contents/x86_64-linux" "$(dirname "$clap")"
cp "$so" "$bundle/Contents/x86_64-linux/Tessellgrove.so"
cp "$so" "$clap"
# Ardour trusts its VST3 cache entry only when the entry is newer than the
# module in whole seconds; a module copied in the same second as the scan
# would be dropped from its plug-in list without a word.
touch -d "@$(( $(date +%s) - 10 ))" "$bundle/Contents/x86_64-linux/Tessellgrove.so" "$clap"

# ---- CLAP: Qtractor's plug-in scanner -------------------------------------
qscan=/usr/lib/x86_64-linux-gnu/qtractor/qtractor_plugin_scan
if [[ ! -x $qscan ]]; then
    fail qtractor_clap_scan "$qscan missing (apt-get install qtractor)"
else
    printf 'CLAP:%s\n' "$clap" | timeout -k 5 30 "$qscan" >"$work/logs/qtractor.out" 2>"$work/logs/qtractor.err"
    rc=$?
    if [[ $rc -eq 0 ]]; then
        pass qtractor_clap_scan_exit "scanner loaded, created, initialised and destroyed the plug-in"
    else
        fail qtractor_clap_scan_exit "scanner exit status $rc"
        show_log "$work/logs/qtractor.err"
    fi
    check clap-scan "$work/logs/qtractor.out" "$clap"
fi

# ---- VST3: Ardour 7 -------------------------------------------------------
ardour_lua=$(command -v ardour7-lua || true)
vst3_scanner=/usr/lib/ardour7/ardour-vst3-scanner
if [[ -z $ardour_lua || ! -x $vst3_scanner ]]; then
    fail ardour "ardour7-lua or $vst3_scanner missing (apt-get install ardour)"
    finish
fi

# Ardour never scans on its own from a script: without a fresh cache entry
# the plug-in is silently absent from its list.
LD_LIBRARY_PATH=/usr/lib/ardour7 timeout -k 5 60 "$vst3_scanner" -f "$bundle" \
    >"$work/logs/vst3-scan.out" 2>&1
rc=$?
if [[ $rc -eq 0 ]] && grep -q "Found Plugin: Tessellgrove" "$work/logs/vst3-scan.out"; then
    pass ardour_vst3_scan "ardour-vst3-scanner found Tessellgrove in the bundle"
else
    fail ardour_vst3_scan "scanner exit status $rc"
    show_log "$work/logs/vst3-scan.out"
fi
check vst3-cache "$XDG_CACHE_HOME/ardour7/vst" "$bundle"

session_dir=$work/sessions/hosts
python3 "$here/hostcheck.py" plan create >"$work/create.plan"
python3 "$here/hostcheck.py" plan reload >"$work/reload.plan"

# luasession's exit status and stdout are not trustworthy at exit, so each run
# is judged only by its result file (which ends with "done" when complete).
run_ardour() {
    local mode=$1 results=$2 log=$3 plan=$4
    timeout -k 5 90 "$ardour_lua" "$here/ardour_session.lua" "$mode" "$session_dir" hosts \
        "$vst3_dir" Tessellgrove "$plan" "$results" >"$log" 2>&1 </dev/null
    local rc=$?
    if [[ $rc -eq 124 || $rc -eq 137 ]]; then
        fail "ardour_${mode}_time" "ardour7-lua did not finish within 90 s"
    fi
    if ! grep -q '^done$' "$results" 2>/dev/null; then
        show_log "$log"
    fi
}

run_ardour create "$work/created.txt" "$work/logs/ardour-create.log" "$work/create.plan"
check created "$work/created.txt"
session_file=$session_dir/hosts.ardour
if ! grep -q '^done$' "$work/created.txt" 2>/dev/null; then
    fail ardour_reload "skipped: the create run did not complete"
elif [[ ! -f $session_file ]]; then
    fail ardour_session_saved "no session file $session_file"
else
    check session "$session_file"
    check strip "$session_file"
    run_ardour reload "$work/reloaded.txt" "$work/logs/ardour-reload.log" "$work/reload.plan"
    check reloaded "$work/created.txt" "$work/reloaded.txt"
fi

finish
