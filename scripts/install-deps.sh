#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need.
# Only what is missing is installed, so a second run costs nothing.
# Usage: scripts/install-deps.sh [build|test]   (default: test, the superset)
set -euo pipefail

what=${1:-test}

build_packages=(
    build-essential cmake ninja-build pkg-config python3 git
    nlohmann-json3-dev libconcurrentqueue-dev libspdlog-dev libfmt-dev
    libsndfile1-dev unicode-data
    libwebkit2gtk-4.1-dev libgtk-3-dev
)
test_packages=(
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang-14 llvm-14 libclang-rt-14-dev
    chromium
    sox locales graphviz
    ardour qtractor zam-plugins xvfb xdotool x11-utils imagemagick
)

packages=("${build_packages[@]}")
if [ "$what" = test ]; then
    packages+=("${test_packages[@]}")
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

# Node.js may come from elsewhere than Debian (with npm bundled); only when
# there is none at all do Debian's packages provide it.
if [ "$what" = test ] && { ! command -v node > /dev/null || ! command -v npm > /dev/null; }; then
    missing+=(nodejs npm)
fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

# The number-formatting tests also run under a comma-decimal locale.
if [ "$what" = test ] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 || true
fi
