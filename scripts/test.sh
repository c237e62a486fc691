#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the native build: unit tests (GoogleTest) and tool tests, under CTest;
#      its Debian package, checked by lintian and appstreamcli and installed
#      with apt, the installed program's --version, --help, manual page and
#      desktop entry checked (without root: unpacked into a folder);
#   2. the native program end to end under Xvfb (no Wine), and its demo,
#      headless: it must link and save its screenshot;
#   3. the unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer;
#   4. each fuzz target for a bounded time (FUZZ_SECONDS, default 60);
#   5. the Windows program, cross-built, its zip checked, and tested end to
#      end under Wine;
#   6. the demo, headless, as a new user would first run it: from a fresh
#      folder with no Wine prefix; it must link, and save its screenshot.
# Run as root or as an ordinary user: missing packages are installed through
# sudo then, and a check that needs root says that it is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all
jobs=$(nproc)

# headless_demo SCRIPT SECONDS: runs a demo with no display in a fresh folder,
# as a new user's first run would; it must link and save its screenshot.
headless_demo() {
    local demo
    demo=$(mktemp -d)
    env -u DISPLAY bash "$1" --duration "$2" --out "$demo/out" | tee "$demo/demo.log"
    grep -qx 'demo: link: Q72 Linked' "$demo/demo.log" || { echo "$1: did not link" >&2; exit 1; }
    identify "$demo/out/screenshot.png" || { echo "$1: no screenshot" >&2; exit 1; }
    rm -rf "$demo"
}

# package_stage: makes the Debian package from build/, checks it with lintian
# (no error, no warning, no hardening tag) and its AppStream metainfo with
# appstreamcli, and installs it with apt, as a user would; then runs the
# installed program's --version and --help, finds its manual page and checks
# its desktop entry, its icon and the pictures its README shows. A machine
# that did not have the package before does not keep it. Without root the
# package is unpacked into a folder instead.
package_stage() {
    local root="" had="" deb deps lint version help metainfo
    rm -f build/q72display_*.deb
    (cd build && cpack -G DEB >/dev/null)
    deb=$(echo build/q72display_*.deb)
    deps=$(dpkg-deb -f "$deb" Depends)
    [[ $deps == *libgtk-3-0* ]] || { echo "package: no dependency on GTK 3: $deps" >&2; exit 1; }
    lint=$(lintian --display-info --fail-on error,warning "$deb") ||
        { echo "$lint"; echo "package: lintian found faults" >&2; exit 1; }
    echo "$lint"
    ! grep -q ' hardening-' <<<"$lint" || { echo "package: not hardened" >&2; exit 1; }
    version=$(dpkg-deb -f "$deb" Version)
    if [ "$(id -u)" -eq 0 ]; then
        dpkg-query -W -f='${Status}' q72display 2>/dev/null | grep -q 'install ok installed' && had=1
        (cd build && apt-get install -y -qq -o DPkg::Lock::Timeout=300 "./${deb#build/}")
    else
        echo "package: installing it with apt needs root: skipped; its files are checked unpacked"
        root=$(mktemp -d)
        dpkg-deb -x "$deb" "$root"
    fi
    metainfo=$(dpkg-deb -c "$deb" | grep -o 'usr/share/metainfo/[^ ]*\.metainfo\.xml$') ||
        { echo "package: no AppStream metainfo" >&2; exit 1; }
    appstreamcli validate --no-net "$root/$metainfo"
    [ "$(env -u DISPLAY "$root/usr/bin/q72display" --version)" = "q72display $version" ] ||
        { echo "package: q72display --version is not 'q72display $version'" >&2; exit 1; }
    help=$(env -u DISPLAY "$root/usr/bin/q72display" --help)
    [[ $help == *--port* ]] || { echo "package: q72display --help: $help" >&2; exit 1; }
    if [ -n "$root" ]; then
        MANPATH="$root/usr/share/man" man -w q72display
    else
        man -w q72display
    fi
    desktop-file-validate "$root/usr/share/applications/q72display.desktop"
    test -s "$root/usr/share/icons/hicolor/48x48/apps/q72display.png"
    local picture
    for picture in $(grep -o '](docs/[^)]*)' README.md | tr -d '()]'); do
        test -s "$root/usr/share/doc/q72display/$picture" ||
            { echo "package: the README's $picture is missing" >&2; exit 1; }
    done
    if [ -n "$root" ]; then
        rm -rf "$root"
    elif [ -z "$had" ]; then
        apt-get purge -y -qq -o DPkg::Lock::Timeout=300 q72display
    fi
}

# zip_stage: makes the Windows zip from build-win/ and checks that it holds the
# program and a README.txt whose every line ends in CRLF, as Notepad needs.
zip_stage() {
    rm -f build-win/q72display-*-win64.zip
    (cd build-win && cpack -G ZIP >/dev/null)
    python3 - build-win/q72display-*-win64.zip <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    files = {name.split("/", 1)[-1]: name for name in z.namelist()}
    assert "q72display.exe" in files and "README.txt" in files, "zip: %s" % sorted(files)
    text = z.read(files["README.txt"])
assert text.endswith(b"\r\n") and text.count(b"\n") == text.count(b"\r\n") == text.count(b"\r"), \
    "zip: README.txt has a line that does not end in CRLF"
EOF
}

echo "== native build and tests"
cmake -S . -B build >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== the Debian package, installed"
package_stage

echo "== the native program under Xvfb"
python3 tests/native/run.py --native-build build
headless_demo scripts/demo-native.sh 2

echo "== unit tests under ASan and UBSan"
cmake -S . -B build-asan -DQ72_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j"$jobs" --target unit_tests
build-asan/tests/unit/unit_tests --gtest_brief=1

echo "== fuzzing"
bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}" stream config keys messages

echo "== the Windows program under Wine"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build-win -j"$jobs"
zip_stage
python3 tests/e2e/run.py --native-build build --win-build build-win

echo "== the demo, headless, from a fresh folder"
headless_demo scripts/demo.sh 3
