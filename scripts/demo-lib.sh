# What the demo scripts share: their options, stopping what they started, a
# private Xvfb when there is no display, and the socat null-modem cable.
# Sourced by scripts/demo.sh and scripts/demo-native.sh from the repository's
# root, under `set -euo pipefail`.

# demo_options DEFAULT_OUT ARG...: sets `duration` (empty when not given) and
# `run`, the work folder.
demo_options() {
    duration=
    run=$PWD/$1
    shift
    while [ $# -gt 0 ]; do
        case $1 in
        --duration) duration=${2:-}; shift $(($# > 1 ? 2 : 1)) ;;
        --out) run=$(realpath -m "${2:?--out needs a folder}"); shift 2 ;;
        *) echo "usage: bash $0 [--duration SEC] [--out DIR]" >&2; exit 2 ;;
        esac
    done
    if [ -n "$duration" ] && ! [[ $duration =~ ^[0-9]+$ ]]; then
        echo "demo: --duration needs a whole number of seconds" >&2
        exit 2
    fi
}

# Processes to stop at the end, the last started first; a script may
# redefine demo_stop_more.
pids=()
demo_stop_more() { :; }
demo_cleanup() {
    trap - EXIT INT TERM
    local k
    for ((k = ${#pids[@]} - 1; k >= 0; k--)); do kill "${pids[k]}" 2>/dev/null || true; done
    demo_stop_more
    wait 2>/dev/null || true
}
trap demo_cleanup EXIT
trap 'exit 130' INT TERM

# Without a display, starts a private Xvfb and exports its DISPLAY; sets
# `headless` to 1 then, else to 0.
demo_display() {
    headless=0
    [ -n "${DISPLAY:-}" ] && return
    headless=1
    local fd number
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp >"$run/xvfb.log" 2>&1 &
    pids+=($!)
    read -r -t 10 -u "$fd" number
    export DISPLAY=:$number
}

# A null-modem cable of two ptys: the program's end $run/cable-pc, the
# modem's $run/cable-modem.
demo_cable() {
    rm -f "$run/cable-pc" "$run/cable-modem"
    socat pty,raw,echo=0,link="$run/cable-pc" pty,raw,echo=0,link="$run/cable-modem" \
        2>"$run/socat.log" &
    pids+=($!)
    for _ in $(seq 100); do
        [ -e "$run/cable-pc" ] && [ -e "$run/cable-modem" ] && return
        sleep 0.05
    done
    echo "demo: socat made no cable" >&2
    exit 1
}

# demo_wait PID: until the program ends, or `duration` seconds when given.
demo_wait() {
    if [ -z "$duration" ]; then
        wait "$1" || true
        return
    fi
    local end=$((SECONDS + duration))
    while [ $SECONDS -lt $end ] && kill -0 "$1" 2>/dev/null; do sleep 0.2; done
}
