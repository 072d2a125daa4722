#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang into build-fuzz, writes their seed corpora with
# the project's own writers and runs each target for a while, reporting per target the executions,
# the corpus size and whether it found anything. Exits non-zero when a target found something.
#
#   bash scripts/fuzz.sh                 # every target, 60 s each
#   bash scripts/fuzz.sh 600             # every target, 10 minutes each
#   bash scripts/fuzz.sh 300 fuzz_gif fuzz_save
#   KX_FUZZ_SECONDS=120 KX_FUZZ_JOBS=3 bash scripts/fuzz.sh
#
# KX_FUZZ_JOBS (default 1) targets run at once, each under nice. Corpora grow in
# build-fuzz/corpus/<target> from run to run; reproducers land in build-fuzz/findings/<target>.
# Run one again with: build-fuzz/fuzz/<target> <reproducer> (a relative path works: the targets
# make their paths absolute before they change folder; every run checks this on one seed).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"

SECONDS_EACH="${KX_FUZZ_SECONDS:-60}"
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then SECONDS_EACH="$1"; shift; fi
JOBS="${KX_FUZZ_JOBS:-1}"

bash scripts/setup.sh
# clang with libFuzzer and the sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
missing=()
for p in "${FUZZ_PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then missing+=("$p"); fi
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "fuzz: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

BUILD="$ROOT/build-fuzz"
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_FUZZ=ON \
  -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF >/dev/null
nice cmake --build "$BUILD" -j "${KX_FUZZ_BUILD_JOBS:-4}"

mapfile -t ALL_TARGETS < "$BUILD/fuzz-targets.txt"
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then TARGETS=("${ALL_TARGETS[@]}"); fi
for t in "${TARGETS[@]}"; do
  if [ ! -x "$BUILD/fuzz/$t" ]; then echo "fuzz: no target $t (targets: ${ALL_TARGETS[*]})" >&2; exit 2; fi
done

SEEDS="$BUILD/seeds"
rm -rf "$SEEDS"
"$BUILD/fuzz/kxfuzzseeds" "$SEEDS" >/dev/null

# The targets make their temporary game folders here; what a crash leaves behind goes with it.
export TMPDIR="$BUILD/tmp"
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR" "$BUILD/logs"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export LSAN_OPTIONS="suppressions=$ROOT/fuzz/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Every target replays one seed by a relative path, as a reproducer is run again.
for t in "${TARGETS[@]}"; do
  first=$(find "$SEEDS/$t" -type f -printf '%f\n' | sort | head -1)
  if [ -z "$first" ] || ! (cd "$BUILD" && "./fuzz/$t" "seeds/$t/$first" >"$BUILD/logs/$t.replay.log" 2>&1); then
    echo "fuzz: $t cannot replay seeds/$t/$first by its relative path (log build-fuzz/logs/$t.replay.log)" >&2
    exit 1
  fi
done

run_target() {
  local t="$1"
  local corpus="$BUILD/corpus/$t" findings="$BUILD/findings/$t" log="$BUILD/logs/$t.log"
  mkdir -p "$corpus" "$findings"
  local rc=0
  nice -n 10 "$BUILD/fuzz/$t" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$SEEDS/$t" >"$log" 2>&1 || rc=$?
  echo "$rc" > "$log.rc"
}

running=0
for t in "${TARGETS[@]}"; do
  echo "fuzz: $t for ${SECONDS_EACH}s" >&2
  run_target "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then wait -n || true; running=$((running - 1)); fi
done
wait || true

status=0
printf '%-20s %12s %8s %8s  %s\n' target executions seconds corpus result
for t in "${TARGETS[@]}"; do
  log="$BUILD/logs/$t.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  corpus=$(find "$BUILD/corpus/$t" -type f | wc -l)
  rc=$(cat "$log.rc")
  found=$(find "$BUILD/findings/$t" -type f | wc -l)
  result="nothing found"
  if [ "$rc" -ne 0 ] || [ "$found" -gt 0 ]; then
    result="FOUND (exit $rc, $found reproducer(s) in build-fuzz/findings/$t, log build-fuzz/logs/$t.log)"
    status=1
  fi
  printf '%-20s %12s %8s %8s  %s\n' "$t" "${execs:-?}" "${secs:-?}" "$corpus" "$result"
done
exit $status
