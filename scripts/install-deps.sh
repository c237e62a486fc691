#!/usr/bin/env bash
# Installs the Debian packages Q72display needs, in two sets:
#
#   bash scripts/install-deps.sh build   the native program, its tools, its
#                                        Debian package and its demo (about 1 GB)
#   bash scripts/install-deps.sh [all]   that and what the tests and the Windows
#                                        program add: Wine, MinGW-w64, Chromium,
#                                        the accessibility stack (about 3 GB in all)
#
# Only what is missing is installed. As root apt-get runs directly; as another
# user through sudo, for the installation only, so that nothing else the
# scripts make belongs to root.
set -euo pipefail

build=(
    cmake g++ make python3 pkg-config
    libgtk-3-dev libpng-dev libsoup-3.0-dev libjson-glib-dev libgnutls28-dev glib-networking
    libgtest-dev libgmock-dev libbenchmark-dev
    dpkg-dev file
    xvfb xdotool socat imagemagick
)
tests=(
    clang libclang-rt-dev
    g++-mingw-w64-x86-64 wine wine64
    x11-utils xclip desktop-file-utils lintian appstream man-db
    python3-pyatspi at-spi2-core dbus-daemon python3-gi gir1.2-gtk-3.0
    chromium chromium-driver python3-selenium python3-websockets python3-pil openssl
)

case ${1:-all} in
build) packages=("${build[@]}") ;;
all) packages=("${build[@]}" "${tests[@]}") ;;
*) echo "usage: bash $0 [build|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}"
    exit 0
fi
if ! command -v sudo >/dev/null; then
    echo "install-deps: these packages are missing; install them as root:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
fi
echo "install-deps: installing with sudo: ${missing[*]}"
sudo apt-get update -qq
sudo apt-get install -y -qq "${missing[@]}"
