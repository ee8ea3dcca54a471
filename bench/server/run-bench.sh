#!/usr/bin/env bash
# Builds and runs the agent exchange benchmark.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELVARIX_BENCH_BUILD_DIR:-$top/build-bench}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_agentexchange KelvarixServer -j "$(nproc)"
exec "$build/bin/bench_agentexchange"
