#!/usr/bin/env bash
# Checks that docs/manual.md matches the product: regenerates its text (the
# parameter table, the factory preset settings, the renderer's options) from
# a build tree and fails with a diff when it differs from the file in the
# repository. The pictures are not redrawn here, to keep the check short;
# run scripts/manual/make-manual.sh to refresh everything.
#
# usage: scripts/check-manual.sh [BUILD_DIR]   (default as make-manual.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

fresh=$(mktemp)
trap 'rm -f "$fresh" "$fresh.tmp"' EXIT

bash scripts/manual/make-manual.sh --text-only --output "$fresh" "$@" >/dev/null
if ! diff -u --label docs/manual.md --label "docs/manual.md (regenerated)" docs/manual.md "$fresh"; then
    echo "check-manual: docs/manual.md is out of date; run: bash scripts/manual/make-manual.sh" >&2
    exit 1
fi
echo "check-manual: docs/manual.md is up to date"
