#!/bin/sh
# Runs the editor page's browser tests against a build directory:
#   ui/tests/run.sh <build-dir>
# The build must have produced <build-dir>/ui/editor_page.html and bridge.js
# (target tessellgrove_ui). Uses the system Chromium; downloads no browser.
set -eu
if [ $# -ne 1 ]; then
    echo "usage: $0 <build-dir>" >&2
    exit 2
fi
build_dir=$(cd "$1" && pwd)
cd "$(dirname "$0")"
if [ ! -f "$build_dir/ui/editor_page.html" ]; then
    echo "$build_dir/ui/editor_page.html is missing: build the tessellgrove_ui target first" >&2
    exit 1
fi
PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
TESSELLGROVE_BUILD_DIR=$build_dir exec node --test --test-concurrency=1
