#!/usr/bin/env bash
# Full inventory on this machine beside facter and lshw -xml: wall time and peak memory.
# Usage: bench/probe/run-bench.sh [build dir]   (default: build-bench below the repository)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}

# The peers and GNU time, from Debian.
need=()
for p in facter lshw time; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_inventory -j 2 >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# One cold-ish warm-up run each is left out; then the measured run under GNU time.
measure() {
    local name=$1; shift
    "$@" >/dev/null 2>&1 || true
    /usr/bin/time -f '%e %M' -o "$out/$name.time" "$@" >"$out/$name.out" 2>"$out/$name.err" || true
    # GNU time puts a note about a non-zero exit first; the figures are on the last line.
    read -r secs kib < <(tail -n 1 "$out/$name.time")
    printf '%s %s %s %s\n' "$name" "$secs" "$kib" "$(wc -c <"$out/$name.out")"
}

{
    measure InvProbe env -u INVPROBE_FIXTURE -u INVPROBE_REGISTRY \
        "$build/bin/bench_inventory" --runs 1 --output /dev/stdout
    measure facter facter
    measure lshw-xml lshw -xml
} >"$out/results"

printf '%-10s %10s %14s %14s %10s\n' tool "wall (s)" "peak (KiB)" "output (B)" "time ratio"
base=$(awk '$1=="InvProbe"{print $2}' "$out/results")
while read -r name secs kib bytes; do
    ratio=$(awk -v a="$secs" -v b="$base" 'BEGIN{ if (b > 0) printf "%.2f", a/b; else print "-" }')
    printf '%-10s %10s %14s %14s %10s\n' "$name" "$secs" "$kib" "$bytes" "$ratio"
done <"$out/results"
echo "(time ratio: the tool's wall time divided by InvProbe's)"
echo
echo "InvProbe sections (the CPU and network counters each wait for a second sample):"
"$build/bin/bench_inventory" --runs 1 2>&1 >/dev/null | sed 's/^/  /'

