#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs what is missing, builds, runs each fuzz target for a short smoke run and then
# every test through CTest. FUZZ_SECONDS=0 leaves the fuzz run out (it builds a clang
# tree of its own and takes some five minutes); further arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ "${FUZZ_SECONDS:-60}" != 0 ]; then
    scripts/fuzz.sh
fi
ctest --test-dir build --output-on-failure "$@"
