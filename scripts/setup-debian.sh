#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12 (as root, or through sudo).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git ca-certificates
    qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
    liblinphone-dev libcurl4-openssl-dev libpulse-dev libspeexdsp-dev
    libgtest-dev googletest clang-format
    clang libclang-rt-14-dev llvm
    kamailio sip-tester openssl python3
    pulseaudio pulseaudio-utils libasound2-plugins
    xvfb xauth x11-utils xdotool imagemagick
    qt6-svg-dev dpkg-dev desktop-file-utils appstream lintian librsvg2-bin man-db xdg-utils
    strace gdb
    baresip-core tcpdump python3-xlib
    qtkeychain-qt6-dev libsecret-1-0 gnome-keyring libsecret-tools dbus-daemon dbus-bin
    iproute2 nftables conntrack python3-dbus
    pipewire pipewire-pulse wireplumber dbus python3-numpy
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
