#!/usr/bin/env bash
# Installs what is missing, builds the engine and plays the demo game.
# Extra arguments go to kolvex. Without a display the engine runs headless.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_BUILD_TESTS=OFF >/dev/null
cmake --build build --target kolvex kxdemo
GAME="build/demo-game"
# The demo game is written anew by its builder each time: one pack (scripts, pictures, music and
# sound effects) and the movie beside it.
build/kxdemo "$GAME"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy; fi
exec build/kolvex --game "$GAME" "$@"
