#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs the Debian 12 packages that building, running and testing need; only the
# missing ones, so it is cheap to run again.
set -euo pipefail

packages=(
    g++ make cmake pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite qttools5-dev qttools5-dev-tools libqt5networkauth5-dev
    libpng-dev libsqlite3-dev
    dbus-daemon dbus-bin iproute2
    clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
