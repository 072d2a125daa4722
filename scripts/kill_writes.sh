#!/bin/bash
# Kills kolvex with SIGKILL at random moments while a game writes its files (a text file of the
# system command, a registry delete, a layer's saved picture, a save file, the screenshot), then checks that each file holds
# its old content or the new one whole, and that the next run removes the killed runs' temporaries.
#
#   bash scripts/kill_writes.sh [runs] [build folder]      (defaults: 100, build-rel)
#
# The scene (the game and the old and new contents) comes from the test KolvexWrites.SceneForTheKillScript.
set -u
RUNS=${1:-100}
BUILD=${2:-build-rel}
cd "$(dirname "$0")/.."
KOLVEX=$PWD/$BUILD/kolvex
[ -x "$KOLVEX" ] && [ -x "$BUILD/test_app" ] || { echo "build kolvex and test_app in $BUILD first"; exit 2; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
KX_WRITE_SCENE=$WORK/scene "$BUILD/test_app" --gtest_filter=KolvexWrites.SceneForTheKillScript >"$WORK/scene.log" 2>&1 \
    || { cat "$WORK/scene.log"; exit 2; }
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy KOLVEX_AUDIO=null TZ=UTC XDG_RUNTIME_DIR=$WORK KOLVEX_QUIT_AFTER_FRAMES=10
FILES="note.txt registry.reg pic.bmp slot.sd shot.png"

# How long a whole run takes, to spread the kills over it.
START=$(date +%s%N)
rm -rf "$WORK/g"; cp -a "$WORK/scene/game" "$WORK/g"
KOLVEX_REGISTRY=$WORK/g/save/registry.reg KOLVEX_SCREENSHOT=$WORK/g/save/shot.png "$KOLVEX" --game "$WORK/g" >/dev/null 2>&1
SPAN=$(( ($(date +%s%N) - START) / 1000 ))   # microseconds
for f in $FILES; do
    cmp -s "$WORK/g/save/$f" "$WORK/scene/new/$f" || { echo "a clean run did not write $f as expected"; exit 1; }
done

# Odd runs: SIGKILL from outside at a random moment of the run. Even runs: the test switch kills the
# process inside the write of a random file at a random byte of it (0 .. its size; at its size the
# kill comes after the last byte, before the flush and the rename).
bad=0; killed=0; temps=0
FILEA=($FILES)
for ((i = 1; i <= RUNS; i++)); do
    rm -rf "$WORK/g"; cp -a "$WORK/scene/game" "$WORK/g"
    FAULT=
    if ((i % 2 == 0)); then
        f=${FILEA[RANDOM % ${#FILEA[@]}]}
        size=$(stat -c %s "$WORK/scene/new/$f")
        FAULT="kill@$(( (RANDOM * 32768 + RANDOM) % (size + 1) )),$f"
    fi
    KOLVEX_WRITE_FAULT=$FAULT KOLVEX_REGISTRY=$WORK/g/save/registry.reg KOLVEX_SCREENSHOT=$WORK/g/save/shot.png \
        "$KOLVEX" --game "$WORK/g" >/dev/null 2>&1 &
    pid=$!
    if [ -z "$FAULT" ]; then
        sleep "$(awk -v s="$SPAN" -v r="$RANDOM" 'BEGIN { printf "%.6f", s * r / 32768 / 1e6 }')"
        kill -9 "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
    [ $? -eq 137 ] && killed=$((killed + 1))
    for f in $FILES; do
        # The registry delete is two changes, each written whole: the store may be between them.
        if ! cmp -s "$WORK/g/save/$f" "$WORK/scene/old/$f" && ! cmp -s "$WORK/g/save/$f" "$WORK/scene/new/$f" \
            && ! { [ -f "$WORK/scene/mid/$f" ] && cmp -s "$WORK/g/save/$f" "$WORK/scene/mid/$f"; }; then
            echo "run $i: save/$f holds neither the old nor the new content ($(stat -c %s "$WORK/g/save/$f" 2>/dev/null) bytes)"
            bad=$((bad + 1))
        fi
    done
    n=$(find "$WORK/g/save" -maxdepth 1 -name '.kxtmp*' | wc -l)
    temps=$((temps + n))
    if [ "$n" -gt 0 ]; then
        # The next run removes them and writes everything.
        KOLVEX_REGISTRY=$WORK/g/save/registry.reg KOLVEX_SCREENSHOT=$WORK/g/save/shot.png "$KOLVEX" --game "$WORK/g" >/dev/null 2>&1
        if [ "$(find "$WORK/g/save" -maxdepth 1 -name '.kxtmp*' | wc -l)" -ne 0 ]; then
            echo "run $i: the next run left a temporary file"; bad=$((bad + 1))
        fi
        for f in $FILES; do
            cmp -s "$WORK/g/save/$f" "$WORK/scene/new/$f" || { [ -f "$WORK/scene/mid/$f" ] && cmp -s "$WORK/g/save/$f" "$WORK/scene/mid/$f"; } \
                || { echo "run $i: the next run did not write $f"; bad=$((bad + 1)); }
        done
    fi
done
echo "kill_writes: $RUNS runs, $killed killed while running, $temps temporaries left by kills (all removed by the next run unless reported above)"
echo "$((RUNS - bad)) passed, $bad failed"
[ "$bad" -eq 0 ]
