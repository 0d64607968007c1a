#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan) in a build folder
# of their own and runs each for FUZZ_SECONDS seconds (default 60) over a corpus seeded
# from the service's payloads. Exits non-zero on any finding: a crash, a sanitizer
# report, a leak, a time-out or running out of memory; the input is kept in the build
# folder's findings/.
#
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_BUILD     build folder (default build/clang-fuzz)
#   FUZZ_TARGETS   targets to run (default all five)
#   FUZZ_FIXTURES  the service's payloads (default testdata/twitter-v1.1)
#   FUZZ_ARGS      further libFuzzer options
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-build/clang-fuzz}
targets=(${FUZZ_TARGETS:-fuzz_social_request fuzz_tweet_markup fuzz_json fuzz_feed_item fuzz_dates})
fixtures=${FUZZ_FIXTURES:-testdata/twitter-v1.1}
extra=(${FUZZ_ARGS:-})

scripts/install-deps.sh
if [ ! -d "$fixtures" ]; then
    echo "fuzz: no fixtures at $fixtures" >&2
    exit 1
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTWITTEROSTRA_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target twitterostra-fuzzers

build=$(cd "$build" && pwd)
# Seeds are made anew each time; the corpus keeps what earlier runs found.
rm -rf "$build/seeds"
"$build/fuzz/twitterostra-fuzz-seeds" "$fixtures" "$build/seeds"

# Room under the 512 MB limit for what the code itself holds: a smaller quarantine than
# the default 256 MB, and allocation stacks of two frames. Qt is built without frame
# pointers, so deeper stacks end in garbage that makes nearly every stack a new one, and
# AddressSanitizer keeps every stack it has seen (some 100 MB more in 10 minutes).
# Replaying a finding gives full stacks (see docs/fuzzing.md).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:quarantine_size_mb=64:malloc_context_size=2}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The targets' private folders, which a crashing run leaves behind, stay in the build
# folder.
export TMPDIR=$build/tmp
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"

failed=()
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    findings=$build/findings/$target
    log=$build/logs/$target.log
    mkdir -p "$corpus" "$findings" "$(dirname "$log")"
    cp "$build/seeds/$target"/* "$corpus"/
    status=0
    "$build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=512 -timeout=30 \
        -artifact_prefix="$findings/" -print_final_stats=1 "${extra[@]}" "$corpus" >"$log" 2>&1 || status=$?
    executions=$(grep -oE 'number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
    coverage=$(grep -oE ' cov: [0-9]+' "$log" | tail -n 1 | grep -oE '[0-9]+' || true)
    rss=$(grep -oE 'peak_rss_mb: *[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
    summary="${executions:-?} executions, coverage ${coverage:-?} edges, peak ${rss:-?} MB"
    if [ "$status" -ne 0 ]; then
        echo "fuzz: $target FAILED (status $status) after $summary; input in $findings, log $log"
        tail -n 60 "$log"
        failed+=("$target")
    else
        echo "fuzz: $target ok: $summary"
    fi
done

rm -rf "$TMPDIR"
if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz: findings in ${failed[*]}"
    exit 1
fi
