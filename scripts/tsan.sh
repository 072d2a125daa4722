#!/usr/bin/env bash
# Builds the engine and its thread tests with ThreadSanitizer into build-tsan and runs them: the
# sound, platform, core, display and image-processing suites and the app suite's in-process games
# (each suite as one process, so that every race it meets is reported), then headless plays of the
# demo game, half of them with the frames on a thread of their own. At the end it prints the
# ThreadSanitizer reports by cause (the function pair of each report) and where the logs are.
# A tool for developers, not part of CI: the build takes a while and the runs are slow.
#
#   bash scripts/tsan.sh                      # build, every suite, 8 plays
#   bash scripts/tsan.sh --no-build           # run again on the existing build
#   KX_TSAN_SUITES="sound core" bash scripts/tsan.sh
#   KX_TSAN_PLAYS=4 KX_TSAN_JOBS=2 bash scripts/tsan.sh
#
# KX_TSAN_CXX picks the compiler (default clang++; g++ works as well). Exits non-zero when a test
# failed or a play did not end with status 0; the report count alone does not fail it.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
BUILD="$ROOT/build-tsan"
JOBS="${KX_TSAN_JOBS:-3}"
SUITES="${KX_TSAN_SUITES:-sound platform core display imageproc app}"
PLAYS="${KX_TSAN_PLAYS:-8}"
BUILD_FIRST=1
if [ "${1:-}" = "--no-build" ]; then BUILD_FIRST=0; fi
say() { echo "tsan.sh: $*" >&2; }

if [ "$BUILD_FIRST" = 1 ]; then
  bash scripts/setup.sh || exit 1
  CXX_TSAN="${KX_TSAN_CXX:-clang++}"
  case "$CXX_TSAN" in
    *clang++*) CC_TSAN="${CXX_TSAN/clang++/clang}" ;;
    *g++*) CC_TSAN="${CXX_TSAN/g++/gcc}" ;;
    *) CC_TSAN=cc ;;
  esac
  LAUNCH=()
  if command -v ccache >/dev/null 2>&1; then
    LAUNCH=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  say "configuring $BUILD with $CXX_TSAN"
  CC="$CC_TSAN" CXX="$CXX_TSAN" cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_TSAN=ON \
    -DKX_BUILD_BENCH=OFF "${LAUNCH[@]}" >/dev/null || exit 1
  TARGETS=(kolvex kxdemo)
  for s in $SUITES; do TARGETS+=("test_$s"); done
  say "building ${TARGETS[*]}"
  ninja -C "$BUILD" -j "$JOBS" "${TARGETS[@]}" || exit 1
fi

LOGS="$BUILD/tsan-logs"
rm -rf "$LOGS"
mkdir -p "$LOGS"
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TZ=UTC
# Every report is written (halt_on_error=0) into one file per process (log_path adds the pid).
TSAN_BASE="halt_on_error=0 report_signal_unsafe=0 second_deadlock_stack=1 history_size=4"
FAILED=0
TESTS_RUN=0

# The app suite's in-process games (the frame loop on its thread among them); the demo plays of
# that suite run kolvex itself, which the plays below do.
suite_filter() {
  case "$1" in
    app) echo "EndToEnd*:*Headless*:*HostCommand*" ;;
    *) echo "*" ;;
  esac
}

run_suite() {
  local s="$1" exe="$BUILD/test_$1"
  [ -x "$exe" ] || { say "no $exe"; FAILED=1; return; }
  say "running test_$s"
  TSAN_OPTIONS="$TSAN_BASE log_path=$LOGS/test_$s" \
    "$exe" --gtest_filter="$(suite_filter "$s")" --gtest_brief=1 >"$LOGS/test_$s.out" 2>&1
  local rc=$?
  local n
  n=$(grep -Eo '^\[==========\] [0-9]+ tests? from' "$LOGS/test_$s.out" | grep -Eo '[0-9]+' | tail -1)
  TESTS_RUN=$((TESTS_RUN + ${n:-0}))
  if [ $rc -ne 0 ]; then
    say "test_$s failed (status $rc): $LOGS/test_$s.out"
    FAILED=1
  fi
}

# Runs suites $JOBS at a time.
running=0
for s in $SUITES; do
  run_suite "$s" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then wait -n; running=$((running - 1)); fi
done
wait
# The counts of the background runs are read back from their outputs.
TESTS_RUN=0
for s in $SUITES; do
  if [ -f "$LOGS/test_$s.out" ]; then
    n=$(grep -Eo '^\[==========\] [0-9]+ tests? from' "$LOGS/test_$s.out" | grep -Eo '[0-9]+' | tail -1)
    TESTS_RUN=$((TESTS_RUN + ${n:-0}))
    grep -q '^\[  FAILED  \]' "$LOGS/test_$s.out" && FAILED=1
  fi
done

# The demo game, one folder with the frames on the main thread and one with them on their own.
PLAYS_OK=0
if [ "$PLAYS" -gt 0 ]; then
  GAMES="$BUILD/tsan-games"
  rm -rf "$GAMES"
  "$BUILD/kxdemo" "$GAMES/main" >/dev/null || { say "kxdemo failed"; exit 1; }
  "$BUILD/kxdemo" --threaded "$GAMES/threaded" >/dev/null || { say "kxdemo --threaded failed"; exit 1; }
  # The plays: the title, the opening and the first pages, clicked through at different frames.
  CLICKS=("40" "40,330,360,390" "40,330,345,360,375,390,405,420" "60,400,420,440,460,480,500")
  for ((i = 0; i < PLAYS; i++)); do
    kind=main
    if [ $((i % 2)) = 1 ]; then kind=threaded; fi
    clicks="${CLICKS[$(((i / 2) % ${#CLICKS[@]}))]}"
    run="$BUILD/tsan-plays/$i"
    rm -rf "$run"
    mkdir -p "$run"
    say "play $i: $kind frames, clicks at $clicks"
    XDG_RUNTIME_DIR="$run" KOLVEX_QUIT_AFTER_FRAMES=600 KOLVEX_CLICK_AT_FRAMES="$clicks" \
      KOLVEX_FRAME_CLOCK=1 KOLVEX_AUDIO=null HOME="$run" XDG_CONFIG_HOME="$run/config" XDG_DATA_HOME="$run/data" \
      TSAN_OPTIONS="$TSAN_BASE log_path=$LOGS/play_${i}_$kind" \
      "$BUILD/kolvex" --game "$GAMES/$kind" >"$LOGS/play_${i}_$kind.out" 2>&1
    rc=$?
    if [ $rc -eq 0 ]; then PLAYS_OK=$((PLAYS_OK + 1)); else say "play $i ended with status $rc"; FAILED=1; fi
  done
fi

# The reports by cause: the first engine function of each of the two stacks of a report.
python3 - "$LOGS" <<'PY'
import collections, glob, os, re, sys
logs = sys.argv[1]
causes = collections.Counter()
kinds = collections.Counter()
per_file = collections.Counter()
frame = re.compile(r'^\s+#\d+ (\S+) .*?(/[^ ]+):(\d+)')
def first_own(lines):
    for l in lines:
        m = frame.match(l)
        if m and '/build-tsan/' not in m.group(2) and '/usr/' not in m.group(2) and 'sanitizer' not in m.group(2):
            return "%s (%s:%s)" % (m.group(1).split('(')[0], os.path.relpath(m.group(2), os.getcwd()) if m.group(2).startswith(os.getcwd()) else m.group(2), m.group(3))
    return "?"
for path in sorted(glob.glob(os.path.join(logs, "*"))):
    if path.endswith(".out"):
        continue
    text = open(path, errors="replace").read()
    for rep in text.split("==================\n"):
        m = re.search(r'WARNING: ThreadSanitizer: ([^(\n]+)', rep)
        if not m:
            continue
        kind = m.group(1).strip()
        stacks = re.split(r'\n(?=  (?:Previous )?(?:[Ww]rite|[Rr]ead|[Aa]tomic)|\n  Mutex|  Thread T)', rep)
        heads = [first_own(s.splitlines()) for s in stacks[1:3]] if len(stacks) > 2 else [first_own(rep.splitlines())]
        key = kind + ": " + " <-> ".join(sorted(set(heads)))
        causes[key] += 1
        kinds[kind] += 1
        per_file[os.path.basename(path).split('.')[0]] += 1
total = sum(causes.values())
print("\n==== ThreadSanitizer reports: %d" % total)
for k, n in kinds.most_common():
    print("  %-40s %d" % (k, n))
if total:
    print("---- by cause (first engine frame of the two accesses)")
    for k, n in causes.most_common():
        print("  %4d  %s" % (n, k))
    print("---- by run")
    for k, n in sorted(per_file.items()):
        print("  %4d  %s" % (n, k))
PY
say "tests run: $TESTS_RUN; plays ending with status 0: $PLAYS_OK of $PLAYS"
say "logs (reports, test outputs): $LOGS"
exit $FAILED
