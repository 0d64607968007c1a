#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Configures and builds everything (daemon, tools, tests) in ./build.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build build -j"$(nproc)"
