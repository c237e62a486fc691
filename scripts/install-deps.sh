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
# The screen reader the tests put in the loop, without what it recommends
# (speech synthesizers, braille daemons): its debug log says what it would say.
tests_bare=(orca)

case ${1:-all} in
build) packages=("${build[@]}") bare=() ;;
all) packages=("${build[@]}" "${tests[@]}") bare=("${tests_bare[@]}") ;;
*) echo "usage: bash $0 [build|all]" >&2; exit 2 ;;
esac

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
missing=() missing_bare=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
for p in "${bare[@]}"; do
    installed "$p" || missing_bare+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_bare[@]} -eq 0 ] && exit 0

# apt-get install with the arguments, run directly as root and through sudo
# otherwise.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        DEBIAN_FRONTEND=noninteractive "$@"
    else
        sudo DEBIAN_FRONTEND=noninteractive "$@"
    fi
}
if [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null; then
    echo "install-deps: these packages are missing; install them as root:" >&2
    [ ${#missing[@]} -eq 0 ] || echo "  apt-get install ${missing[*]}" >&2
    [ ${#missing_bare[@]} -eq 0 ] ||
        echo "  apt-get install --no-install-recommends ${missing_bare[*]}" >&2
    exit 1
fi
[ "$(id -u)" -eq 0 ] || echo "install-deps: installing with sudo: ${missing[*]} ${missing_bare[*]}"
as_root apt-get update -qq
[ ${#missing[@]} -eq 0 ] || as_root apt-get install -y -qq "${missing[@]}"
[ ${#missing_bare[@]} -eq 0 ] || as_root apt-get install -y -qq --no-install-recommends "${missing_bare[@]}"
