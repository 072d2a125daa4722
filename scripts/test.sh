#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TZ=UTC
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-test -G Ninja -DKX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j "$(nproc)"
