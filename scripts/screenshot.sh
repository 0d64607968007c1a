#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Makes docs/simulator-page.png, the README's picture of the simulator's page: plays 3
# rounds of the platform simulator in build/screenshot and has headless Chromium take a
# picture of its feed.html. Installs Debian's chromium when it is missing; needs a build
# (scripts/build.sh) unless TWITTER_OSTRA_BUILT is set.
#
#   scripts/screenshot.sh [OUTPUT]   default docs/simulator-page.png
set -euo pipefail
cd "$(dirname "$0")/.."

output=${1:-docs/simulator-page.png}

if ! command -v chromium >/dev/null; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq chromium
fi
[ -n "${TWITTER_OSTRA_BUILT:-}" ] || scripts/build.sh

build/tools/simulator/ostra-simulator --rounds 3 --interval 0 --no-clear --run-dir build/screenshot >/dev/null

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
# The flags keep Chromium off the network: no background connections, updates or sync.
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$profile" --hide-scrollbars \
    --window-size=1280,960 --screenshot="$PWD/$output" "file://$PWD/build/screenshot/feed.html" 2>/dev/null
echo "$output"
