#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test headless; then builds the optimised configuration that players get (what
# scripts/play.sh and cmake --install make) and runs there the tests of threads, windows, the
# desktop, sound and whole games. A compiler warning fails either build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TZ=UTC
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "test: the sanitizer build, every test" >&2
cmake -S . -B build-test -G Ninja -DKX_SANITIZE=ON -DKX_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j "$(nproc)"
echo "test: the optimised build, the tests of threads, windows, sound and whole games" >&2
cmake -S . -B build-opt -G Ninja -DKX_WERROR=ON -DKX_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-opt
ctest --test-dir build-opt --output-on-failure --no-tests=error -j "$(nproc)" -L '^(platform|core|imageproc|display|sound|media|app)$'
