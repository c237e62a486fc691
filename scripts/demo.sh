#!/usr/bin/env bash
# Builds everything, then runs q72display.exe under Wine against the simulated
# modem's demo session over a virtual null-modem cable:
#
#   q72modem --demo  <->  socat pty pair  <->  COM21 of a private Wine prefix
#
#   bash scripts/demo.sh [--duration SEC] [--out DIR]
#
# The program starts with --open, so the link opens at once. With a display
# ($DISPLAY) the window opens there. Without one, everything runs on a private
# Xvfb: the script checks in the setup dialog that the link is open, lets the
# demo run SEC seconds (default 8) and saves a screenshot. With a display,
# --duration stops the demo after SEC seconds.
# Ctrl+C or closing the window stops everything the script started. Work
# files, the Wine prefix among them, live in DIR (default out/demo).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/demo-lib.sh
demo_options out/demo "$@"
bash scripts/install-deps.sh all
jobs=$(nproc)
cmake -S . -B build >/dev/null
cmake --build build -j"$jobs" --target q72modem
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build-win -j"$jobs" --target q72display q72probe

mkdir -p "$run"
export WINEPREFIX=$run/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
port=21
demo_stop_more() { wineserver -k 2>/dev/null || true; }
demo_display

fresh=0
if [ ! -d "$WINEPREFIX" ]; then
    echo "demo: creating the Wine prefix (once, about 15 s)"
    wineboot -i >"$run/wine.log" 2>&1
    fresh=1
fi
# This run's own server, whatever is still running: wineboot leaves its
# server behind for a while, and `wineserver -p` refuses to start beside it.
wineserver -k >>"$run/wine.log" 2>&1 || true
wineserver -w >>"$run/wine.log" 2>&1
wineserver -p >>"$run/wine.log" 2>&1
# Wine renumbers low COM links whenever its server starts; let it do so before
# linking the cable as COM21, which it leaves alone.
wine cmd /c exit 0 >>"$run/wine.log" 2>&1
if [ "$headless" = 1 ]; then
    # Without a window manager, Wine must draw its own window frames.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$run/wine.log" 2>&1
else
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >>"$run/wine.log" 2>&1 || true
fi

demo_cable
ln -sfn "$run/cable-pc" "$WINEPREFIX/dosdevices/com$port"
# Make the port known as a driver would: listed as present (the list is
# rebuilt at each server start) and, once per prefix, a device with a name.
{
    echo "register Q72Modem$port COM$port"
    [ "$fresh" = 0 ] || echo "nameport $port Q72 CW Modem (simulated) (COM$port)"
} | wine build-win/tests/e2e/helper/q72probe.exe >>"$run/wine.log" 2>&1

build/tools/q72modem --demo --log "$run/keys.log" "$run/cable-modem" &
pids+=($!)

cp build-win/q72display.exe "$run/"
if [ ! -e "$run/q72display.cfg" ]; then
    # COM21, black on green, 2X
    printf '\x15\0\0\0\x01\0\0\0\x02\0\0\0' >"$run/q72display.cfg"
fi
wine "$run/q72display.exe" --open >>"$run/wine.log" 2>&1 &
app=$!
pids+=($app)

if [ "$headless" = 0 ]; then
    echo "demo: Q72display runs on $DISPLAY with the simulated modem on COM$port, linked"
    echo "demo: at start (--open); keys you type go to the modem (logged in $run/keys.log)."
    echo "demo: Ctrl+C or close the window to stop."
    demo_wait "$app"
    exit 0
fi

# Headless: read the link's state in the setup dialog, driven by the test probe.
coproc PROBE { wine build-win/tests/e2e/helper/q72probe.exe 2>>"$run/wine.log"; }
pids+=($PROBE_PID)
probe() { # prints the value of the probe's "ok VALUE" answer
    echo "$*" >&"${PROBE[1]}"
    local reply
    while IFS= read -r -t 20 -u "${PROBE[0]}" reply; do
        reply=${reply%$'\r'}
        case $reply in ok*) echo "${reply#ok }"; return 0 ;; err*) echo "demo: probe: $reply" >&2; return 1 ;; esac
    done
    return 1
}
poll() { # poll TIMEOUT COMMAND...: until the probe's value is not 0
    local end=$((SECONDS + $1)) value; shift
    while [ $SECONDS -lt $end ]; do
        value=$(probe "$@") && [ $((value)) -ne 0 ] && { echo "$value"; return 0; }
        sleep 0.1
    done
    echo "demo: timed out waiting for: $*" >&2
    return 1
}
main=$(poll 20 find Q72display 1.0)
probe post "$main" 0x111 6001 0 >/dev/null        # WM_COMMAND: open the setup dialog
setup=$(poll 10 find Q72display 1.0 Setup)
probe send "$setup" 0 0 0 >/dev/null               # returns once the dialog is up
for _ in $(seq 50); do [ "$(probe text "$setup" 4012)" = "Q72 Linked" ] && break; sleep 0.1; done
status=$(probe text "$setup" 4012)
echo "demo: link: $status"
[ "$status" = "Q72 Linked" ] || exit 1
probe click "$setup" 4011 >/dev/null               # "Done"
sleep "${duration:-8}"
shot=$run/screenshot.png
probe capture "$main" "$(winepath -w "$run/screenshot.ppm")" >/dev/null
convert "$run/screenshot.ppm" "$shot" && rm -f "$run/screenshot.ppm"
echo "demo: no display, so the demo ran on a private Xvfb; screenshot: $shot"
