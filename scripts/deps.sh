#!/usr/bin/env bash
# Installs what building, the demo and the tests need on Debian 12 (run as root).
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev libbenchmark-dev
    dbus dbus-x11 xvfb xauth openbox picom trayer x11-utils x11-apps xdotool imagemagick
    fonts-ipafont-gothic fonts-dejavu-core
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
