#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Only what is missing is installed; needs root when something is.
set -euo pipefail

packages=(
    cmake g++ make python3 pkg-config
    libgtest-dev libgmock-dev libpng-dev libbenchmark-dev libgtk-3-dev
    clang libclang-rt-dev
    g++-mingw-w64-x86-64 wine wine64
    xvfb xdotool socat imagemagick x11-utils xclip
    dpkg-dev file desktop-file-utils lintian appstream man-db
    python3-pyatspi at-spi2-core dbus-daemon python3-gi gir1.2-gtk-3.0
    libsoup-3.0-dev libjson-glib-dev glib-networking
    chromium chromium-driver python3-selenium python3-websockets python3-pil openssl
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: run as root to install: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
