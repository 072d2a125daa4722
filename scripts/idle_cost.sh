#!/usr/bin/env bash
# The processor time a game takes while it waits at a page with nothing moving: starts the demo
# (or another game), presses the mouse at frame 40 (the title's New game), lets it reach its first
# waiting page, then measures the processor time of all its threads (user and system) over a span
# of seconds and prints it as a share of one core.
#
#   scripts/idle_cost.sh [KOLVEX [GAME]]        defaults: build/kolvex build/demo-game
#   SETTLE=8 SPAN=10 CLICKS=40 scripts/idle_cost.sh ...
#
# Without DISPLAY it runs headless (SDL's dummy video driver); with one, in a window there. The
# figure is the processor time, not the wall clock, so a busy machine does not raise it.
set -euo pipefail

KOLVEX=${1:-build/kolvex}
GAME=${2:-build/demo-game}
SETTLE=${SETTLE:-8}   # seconds from the start to the waiting page
SPAN=${SPAN:-10}      # seconds measured
CLICKS=${CLICKS:-40}  # frames at which the mouse is pressed

[ -x "$KOLVEX" ] || { echo "idle_cost.sh: no engine at $KOLVEX (build it first)" >&2; exit 2; }
[ -d "$GAME" ] || { echo "idle_cost.sh: no game folder at $GAME" >&2; exit 2; }
if [ -z "${DISPLAY:-}" ]; then export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy}; fi
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

# The processor time of every thread of a process in nanoseconds (the scheduler's own count).
cpu_ns() {
    local sum=0 t v
    for t in /proc/"$1"/task/*/schedstat; do
        read -r v _ < "$t" 2>/dev/null || continue
        sum=$((sum + v))
    done
    echo "$sum"
}

KOLVEX_CLICK_AT_FRAMES=$CLICKS KOLVEX_QUIT_AFTER_FRAMES=$(((SETTLE + SPAN + 10) * 60)) \
    "$KOLVEX" --game "$GAME" >/dev/null 2>&1 &
PID=$!
trap 'kill "$PID" 2>/dev/null || true' EXIT
sleep "$SETTLE"
kill -0 "$PID" 2>/dev/null || { echo "idle_cost.sh: the game ended before the measurement" >&2; exit 1; }
T0=$(cpu_ns "$PID")
W0=$(date +%s%N)
sleep "$SPAN"
T1=$(cpu_ns "$PID")
W1=$(date +%s%N)
kill "$PID" 2>/dev/null || true
wait "$PID" 2>/dev/null || true
trap - EXIT
awk -v t=$((T1 - T0)) -v w=$((W1 - W0)) 'BEGIN {
    printf "idle cost: %.3f s of processor time in %.1f s at the waiting page = %.2f %% of one core\n",
           t / 1e9, w / 1e9, 100 * t / w }'
