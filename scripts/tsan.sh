#!/usr/bin/env bash
# Builds the engine and its thread tests with ThreadSanitizer into build-tsan and runs them: the
# sound, platform, core, display and image-processing suites, and of the app suite the in-process
# games and a few headless runs (each suite as one process: every race it meets is reported); then
# headless plays of the demo game, every second one with the frames on a thread of their own. At
# the end it prints the reports by cause (the engine's functions of the two accesses) and by run.
# A tool for developers, not part of CI: the build takes a while and the runs are slow.
#
#   bash scripts/tsan.sh                      # build, every suite, 8 plays
#   bash scripts/tsan.sh --no-build           # run again on the existing build
#   bash scripts/tsan.sh --summary            # only the summary of the last run's logs
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
RUN=1
if [ "${1:-}" = "--no-build" ]; then BUILD_FIRST=0; fi
if [ "${1:-}" = "--summary" ]; then BUILD_FIRST=0; RUN=0; fi
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
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TZ=UTC
# Every report is written (halt_on_error=0) into one file per process (log_path adds the pid); a
# report does not change a program's exit status (exitcode=0), so a test that runs kolvex still
# sees kolvex's own.
TSAN_BASE="halt_on_error=0 report_signal_unsafe=0 exitcode=0 second_deadlock_stack=1 history_size=4"
FAILED=0
TESTS_RUN=0
PLAYS_OK=0

# Of the app suite: the in-process games (the frame loop on its thread among them) and a few runs of
# kolvex itself; the demo plays below stand for the suite's own.
suite_filter() {
  case "$1" in
    app) echo "EndToEnd*:BundledGame*:KolvexHeadless*:KolvexHostCommands*" ;;
    *) echo "*" ;;
  esac
}

# One suite in one process; its status goes to test_<suite>.rc.
run_suite() {
  local s="$1" exe="$BUILD/test_$1"
  if [ ! -x "$exe" ]; then
    say "no $exe"
    echo 127 >"$LOGS/test_$s.rc"
    return
  fi
  say "running test_$s"
  TSAN_OPTIONS="$TSAN_BASE log_path=$LOGS/test_$s" \
    "$exe" --gtest_filter="$(suite_filter "$s")" --gtest_brief=1 >"$LOGS/test_$s.out" 2>&1
  echo $? >"$LOGS/test_$s.rc"
}

run_suites() {
  local running=0 s n rc
  for s in $SUITES; do
    run_suite "$s" &
    running=$((running + 1))
    if [ "$running" -ge "$JOBS" ]; then
      wait -n
      running=$((running - 1))
    fi
  done
  wait
  for s in $SUITES; do
    n=$(grep -Eo '^\[==========\] [0-9]+ tests? from' "$LOGS/test_$s.out" 2>/dev/null | grep -Eo '[0-9]+' | tail -1)
    TESTS_RUN=$((TESTS_RUN + ${n:-0}))
    rc=$(cat "$LOGS/test_$s.rc" 2>/dev/null || echo 1)
    if [ "$rc" != 0 ]; then
      say "test_$s failed (status $rc): $LOGS/test_$s.out"
      FAILED=1
    fi
  done
}

# The demo game, one folder with the frames on the window thread and one with them on their own;
# the plays go through the title, the opening and the first pages, clicked at different frames.
run_plays() {
  local games="$BUILD/tsan-games" i kind clicks run rc
  local clicks_list=("40" "40,330,360,390" "40,330,345,360,375,390,405,420" "60,400,420,440,460,480,500")
  [ "$PLAYS" -gt 0 ] || return 0
  rm -rf "$games"
  "$BUILD/kxdemo" "$games/main" >/dev/null || { say "kxdemo failed"; FAILED=1; return; }
  "$BUILD/kxdemo" --threaded "$games/threaded" >/dev/null || { say "kxdemo --threaded failed"; FAILED=1; return; }
  for ((i = 0; i < PLAYS; i++)); do
    kind=main
    if [ $((i % 2)) = 1 ]; then kind=threaded; fi
    clicks="${clicks_list[$(((i / 2) % ${#clicks_list[@]}))]}"
    run="$BUILD/tsan-plays/$i"
    rm -rf "$run"
    mkdir -p "$run"
    say "play $i: $kind frames, clicks at $clicks"
    # The null sound output mixes on a thread of its own, beside the sound thread's refills.
    XDG_RUNTIME_DIR="$run" HOME="$run" XDG_CONFIG_HOME="$run/config" XDG_DATA_HOME="$run/data" \
      KOLVEX_QUIT_AFTER_FRAMES=600 KOLVEX_CLICK_AT_FRAMES="$clicks" KOLVEX_AUDIO=null \
      TSAN_OPTIONS="$TSAN_BASE log_path=$LOGS/play_${i}_$kind" \
      "$BUILD/kolvex" --game "$games/$kind" >"$LOGS/play_${i}_$kind.out" 2>&1
    rc=$?
    if [ $rc -eq 0 ]; then
      PLAYS_OK=$((PLAYS_OK + 1))
    else
      say "play $i ended with status $rc: $LOGS/play_${i}_$kind.out"
      FAILED=1
    fi
  done
}

if [ "$RUN" = 1 ]; then
  rm -rf "$LOGS"
  mkdir -p "$LOGS"
  run_suites
  run_plays
fi

# The reports by cause: the kind and the first frame of the engine's own code in each of the two
# accesses (or the first stack of a report of another kind).
python3 - "$LOGS" "$ROOT" <<'PY'
import collections, glob, os, re, sys
logs, root = sys.argv[1], sys.argv[2]
frame = re.compile(r'^\s+#\d+ (.+?) (\S+?):(\d+)(?::\d+)? \(')
section = re.compile(r'^  (?:Previous )?(?:[Aa]tomic )?(?:[Rr]ead|[Ww]rite|Mutex|Thread T\d+ \(tid)|^  Cycle in lock order')

# A file of the engine, its tools or its tests, as a path from the source folder. Objects that
# ccache took from another checkout name that checkout's folder: the path is found by its folders.
folders = "platform|core|script|image|imageproc|display|sound|save|media|root|app|demo|tools|tests"
ours = re.compile(r"(?:^|/)((?:%s)/[^/]+(?:/[^/]+)?)$" % folders)
def own(path):
    path = os.path.normpath(path)
    if path.startswith(root + os.sep):
        rel = os.path.relpath(path, root)
    elif path.startswith("/usr/"):
        return None
    else:
        m = ours.search(path)
        if not m:
            return None
        rel = m.group(1)
    if rel.startswith("build") or rel.startswith("tests/support"):
        return None
    return rel

def first_own(lines):
    for l in lines:
        m = frame.match(l)
        if not m:
            continue
        rel = own(m.group(2))
        if rel:
            name = m.group(1).replace("(anonymous namespace)::", "")
            name = re.sub(r"\(.*$", "", name)
            return "%s (%s:%s)" % (name, rel, m.group(3))
    return "?"

causes = collections.Counter()
kinds = collections.Counter()
per_run = collections.Counter()
for path in sorted(glob.glob(os.path.join(logs, "*"))):
    if path.endswith(".out"):
        continue
    text = open(path, errors="replace").read()
    for rep in text.split("==================\n"):
        m = re.search(r"WARNING: ThreadSanitizer: ([^(\n]+)", rep)
        if not m:
            continue
        kind = m.group(1).strip()
        stacks, cur = [], None
        for l in rep.splitlines():
            if section.match(l):
                cur = []
                stacks.append(cur)
            elif cur is not None:
                cur.append(l)
        heads = [first_own(st) for st in stacks[:2]] or [first_own(rep.splitlines())]
        key = kind + ": " + " <-> ".join(sorted(set(heads)))
        causes[key] += 1
        kinds[kind] += 1
        per_run[re.sub(r"\.\d+$", "", os.path.basename(path))] += 1
total = sum(causes.values())
print("\n==== ThreadSanitizer reports: %d" % total)
for k, n in kinds.most_common():
    print("  %4d  %s" % (n, k))
if total:
    print("---- by cause (the engine's first frame in each of the two accesses)")
    for k, n in causes.most_common():
        print("  %4d  %s" % (n, k))
    print("---- by run")
    for k, n in sorted(per_run.items()):
        print("  %4d  %s" % (n, k))
PY
if [ "$RUN" = 1 ]; then say "tests run: $TESTS_RUN; plays ending with status 0: $PLAYS_OK of $PLAYS"; fi
say "logs (reports, test outputs): $LOGS"
exit $FAILED
