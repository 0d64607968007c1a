#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds a Release tree in build-bench and runs every benchmark, then prints each figure
# beside the floor measured in the same run. IDLE_SECONDS sets the idle wake-up window
# (default 300), which bench_startup waits out twice: for the daemon with the scripted
# client and for the real daemon against the fake API server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j"$(nproc)" --target bench_publishing bench_friends bench_startup bench_pictures >/dev/null
# Pages of a program just linked stay dirty in the page cache for half a minute, and count
# as its private dirty memory until they are written.
sync
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The idle window is longer than QtTest's default time limit of a test function.
export QTEST_FUNCTION_TIMEOUT=$(( (${IDLE_SECONDS:-300} + 120) * 1000 ))
# A friends conversion is one timed run of some 150 ms: QtTest takes the median of five.
for bench in bench_publishing "bench_friends -median 5" bench_startup bench_pictures; do
    name=${bench%% *}
    build-bench/bench/$bench > "$out/$name.txt" 2>&1 || { cat "$out/$name.txt"; exit 1; }
done

# QtTest prints "RESULT : Class::function():"tag":" and then "  N msecs per iteration".
ms() { awk -v want="$2" '/^RESULT/ { found = index($0, want) > 0; next } found && /msecs per iteration/ { print $1; exit }' "$out/$1.txt"; }
# The benchmarks' own lines: "TAG floor F unit, twitter-ostra M unit[, ...]".
info() { grep -h " $1 " "$out"/*.txt | head -1 | sed "s/.* $1 //; s/,//g"; }
row() { printf '%-48s %10s %10s %7s %s\n' "$@"; }

# A row of the table below: "vs TAG" is a figure against its floor, "ms BENCH TAG" a
# QtTest timing, "text TAG" a line as the benchmark wrote it.
print_row() {
    local kind=$1 source=$2 label=$3 target=$4 floor measured
    case $kind in
    vs)
        read -r _ floor _ _ measured _ <<<"$(info "$source")"
        row "$label" "$measured" "$floor" "$(awk -v a="$measured" -v b="$floor" 'BEGIN { printf "%.2f", a / b }')" "$target" ;;
    ms)
        row "$label" "$(ms "${source%% *}" "${source#* }")" "-" "-" "$target" ;;
    text)
        echo "$label: $(info "$source")${target:+ (target: $target)}" ;;
    esac
}

row "figure" "measured" "floor" "ratio" "target"
while IFS='|' read -r kind source label target; do
    print_row "$kind" "$source" "$label" "$target"
done <<'ROWS'
vs|PUBLISH|publish 20 new tweets (vs 20 addItem trips), ms|<= 1.3
ms|bench_publishing "1,000 rows"|stale removal at 1,000 rows, ms|< 1 ms at 100,000
ms|bench_publishing "10,000 rows"|stale removal at 10,000 rows, ms|< 1 ms at 100,000
ms|bench_publishing "100,000 rows"|stale removal at 100,000 rows, ms|< 1 ms at 100,000
ms|bench_friends fullConversion|friends: full conversion of 5,000, ms|< 200 ms
ms|bench_friends filteredPersonsRequest|friends: filtered persons request of 5,000, ms|< 20 ms
vs|STARTUP|start-up to the event loop (vs minimal Qt), ms|<= 1.5
vs|CONTRACT_STARTUP|  vs minimal Qt with QtGui and QtNetwork, ms|-
vs|RESIDENT|resident kB after the first refresh|<= 1.3
vs|PRIVATE|private dirty kB after the first refresh|-
vs|PSS|proportional (PSS) kB after the first refresh|-
vs|REAL_RESIDENT|real daemon: resident kB after 1st refresh|<= 1.3
vs|REAL_PRIVATE|real daemon: private dirty kB, 1st refresh|<= 2048 kB
vs|CONTRACT_PRIVATE|  vs minimal Qt with QtGui and QtNetwork, kB|-
vs|REAL_PSS|real daemon: PSS kB after 1st refresh|-
vs|PICTURES_BUS_WAIT|longest bus wait, 40 pictures 4096 x 4096, ms|<= 100 ms
text|WAKEUPS|idle wake-ups|at most 1 a minute
text|REAL_WAKEUPS|real daemon: idle wake-ups|at most 1 a minute
text|REAL_THREADS|real daemon: threads (minimal Qt against twitter-ostra)|
text|REAL_PLUGINS|real daemon: image plugins mapped|
ROWS
