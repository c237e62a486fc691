#!/usr/bin/env bash
# Builds the native program and runs it against the simulated modem's demo
# session over a virtual null-modem cable, with no Wine:
#
#   q72modem --demo  <->  socat pty pair  <->  q72display --port PTY --open
#
#   bash scripts/demo-native.sh [--duration SEC] [--out DIR]
#
# With a display ($DISPLAY) the window opens there with the link open: keys
# you type go to the modem, a right click opens the setup dialog. Without
# one, it runs on a private Xvfb for SEC seconds (default 8) and saves a
# screenshot. With a display, --duration stops the demo after SEC seconds.
# Ctrl+C or closing the window stops everything the script started. Work
# files live in DIR (default out/demo-native), the program's settings in
# DIR/config. The native build folder is $BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/demo-lib.sh
demo_options out/demo-native "$@"
build=${BUILD_DIR:-build}
bash scripts/install-deps.sh build
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target q72display q72modem

mkdir -p "$run"
demo_display
demo_cable
"$build/tools/q72modem" --demo --log "$run/keys.log" "$run/cable-modem" &
pids+=($!)
XDG_CONFIG_HOME=$run/config "$build/q72display" --port "$run/cable-pc" --open --scale 2 \
    2>"$run/q72display.log" &
app=$!
pids+=($app)

if [ "$headless" = 0 ]; then
    echo "demo: Q72display runs on $DISPLAY with the simulated modem on $run/cable-pc."
    echo "demo: keys you type go to the modem (logged in $run/keys.log); a right click"
    echo "demo: opens the setup dialog. Ctrl+C or close the window to stop."
    demo_wait "$app"
    exit 0
fi

window=
for _ in $(seq 100); do
    window=$(xdotool search --all --onlyvisible --pid "$app" --name '^Q72display 1\.0' || true)
    [ -n "$window" ] && break
    kill -0 "$app" 2>/dev/null || { cat "$run/q72display.log" >&2; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "demo: no window" >&2; exit 1; }
sleep "${duration:-8}"
# The caption tells a link that could not be opened.
if [ "$(xdotool getwindowname "$window")" = "Q72display 1.0" ]; then
    echo "demo: link: Q72 Linked"
else
    echo "demo: link: Q72 Link Lost"
    exit 1
fi
shot=$run/screenshot.png
import -window "$window" "$shot"
echo "demo: no display, so the demo ran on a private Xvfb; screenshot: $shot"
