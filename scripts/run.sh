#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs what is missing, builds, and runs the platform simulator: a private session
# bus with the reference event feed, the fake Twitter API server on loopback with a
# timeline that moves every round, and the real daemon between them. The terminal shows
# the feed, the notification groups and the contacts after each round; the run's files,
# logs and feed.html are in build/simulator. Ctrl-C stops it.
#
#   scripts/run.sh [ROUNDS [SIMULATOR OPTIONS]]   ROUNDS=n (default 6; 0 runs until Ctrl-C)
#   INTERVAL=s                                    seconds between rounds (default 4)
# e.g. scripts/run.sh 3 --details (see ostra-simulator --help).
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=${1:-${ROUNDS:-6}}
shift $(($# > 0 ? 1 : 0))
interval=${INTERVAL:-4}
case $rounds in '' | *[!0-9]*) echo "run.sh: ROUNDS must be a number, not '$rounds'" >&2; exit 2 ;; esac

if [ -z "${TWITTER_OSTRA_BUILT:-}" ]; then
    scripts/install-deps.sh
    scripts/build.sh
fi

# The simulator brings its own bus; it needs none from the session, and as root none is there.
exec build/tools/simulator/ostra-simulator --rounds "$rounds" --interval "$interval" --run-dir build/simulator "$@"
