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
    dpkg-dev file desktop-file-utils
    python3-pyatspi at-spi2-core dbus-daemon python3-gi gir1.2-gtk-3.0
    libsoup-3.0-dev libjson-glib-dev glib-networking
    chromium chromium-driver python3-selenium python3-websockets python3-pil openssl
)
# The screen reader the tests put in the loop, without what it recommends
# (speech synthesizers, braille daemons): its debug log says what it would say.
without_recommends=(orca)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
missing=() missing_bare=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
for p in "${without_recommends[@]}"; do
    installed "$p" || missing_bare+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_bare[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: run as root to install: ${missing[*]} ${missing_bare[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
[ ${#missing[@]} -eq 0 ] || apt-get install -y -qq "${missing[@]}"
[ ${#missing_bare[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${missing_bare[@]}"
