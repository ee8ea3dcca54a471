#!/usr/bin/env bash
# Installs what is needed, builds in a fresh directory and runs the whole test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${KELVARIX_BUILD_DIR:-$top/build-tests}

"$top/tools/install-deps.sh"
rm -rf "$build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
