#!/usr/bin/env bash
# Installs what is missing, builds the engine, kxpack and the demo game's builder, and plays the
# demo game: in a window when there is a display; without one, headless for a fixed number of
# frames (a new game up to its first page), writing the picture of the last frame.
# Extra arguments go to kolvex.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "play.sh: $*" >&2; }

say "checking the system packages the engine needs (scripts/setup.sh; it installs what is missing)"
bash scripts/setup.sh
say "configuring the build in build/"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_BUILD_TESTS=OFF >/dev/null
say "building kolvex, kxpack and kxdemo (the first build takes a few minutes)"
cmake --build build --target kolvex kxpack kxdemo
GAME="build/demo-game"
# The demo game is written anew by its builder each time: one pack (scripts, pictures, music and
# sound effects) and the movie beside it.
say "writing the demo game into $GAME"
build/kxdemo "$GAME"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  say "playing the demo in a window: click, Space, Return or the mouse wheel turns a page; the arrow"
  say "keys or the wheel move between buttons, Return or Space chooses; Escape or F11 leaves fullscreen"
  exec build/kolvex --game "$GAME" "$@"
fi
# No display: the title, "New game" chosen at frame 40, the opening, and the first page at frame 330.
SHOT="$PWD/build/demo-page.png"
FRAMES="${KOLVEX_QUIT_AFTER_FRAMES:-330}"
say "no display (DISPLAY and WAYLAND_DISPLAY are unset): playing the demo headless for $FRAMES frames"
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy KOLVEX_QUIT_AFTER_FRAMES="$FRAMES" \
  KOLVEX_CLICK_AT_FRAMES="${KOLVEX_CLICK_AT_FRAMES:-40}" KOLVEX_SCREENSHOT="${KOLVEX_SCREENSHOT:-$SHOT}" \
  build/kolvex --game "$GAME" "$@"
say "the picture of its last frame: ${KOLVEX_SCREENSHOT:-$SHOT}"
