#!/usr/bin/env python3
"""Checks the folder order of the engine's sources (see ARCHITECTURE.md).

Every #include "folder/file" in an engine folder must name its own folder or one below it, and
only platform/ may include operating-system or library headers: the others include the C and C++
standard library, the compiler's SIMD intrinsics and the project's own headers only.

    python3 scripts/check_layers.py [ROOT]

Prints every offending line as FILE:LINE: reason, and exits with 1 when there is one.
"""
import os
import re
import sys

# Bottom to top; a folder may include its own headers and those of the folders before it.
ORDER = ["platform", "core", "script", "image", "imageproc", "display", "sound", "save", "media",
         "root", "app"]
RANK = {name: i for i, name in enumerate(ORDER)}
# Folders above the engine: they may include anything of it.
OUTSIDE = {"tools", "tests", "bench", "demo", "fuzz"}

# <csignal> is left out on purpose: signal handling is the platform's (platform/plat_signals.h).
STANDARD = set("""
algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv chrono
cinttypes climits clocale cmath codecvt compare complex concepts condition_variable coroutine
csetjmp cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque
exception execution filesystem format forward_list fstream functional future initializer_list
iomanip ios iosfwd iostream istream iterator latch limits list locale map memory memory_resource
mutex new numbers numeric optional ostream queue random ranges ratio regex scoped_allocator
semaphore set shared_mutex source_location span sstream stack stdexcept stop_token streambuf string
string_view syncstream system_error thread tuple type_traits typeindex typeinfo unordered_map
unordered_set utility valarray variant vector version
""".split())
INTRINSICS = {"emmintrin.h", "immintrin.h", "xmmintrin.h", "pmmintrin.h", "tmmintrin.h",
              "smmintrin.h", "nmmintrin.h", "x86intrin.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def check(root):
    problems = []
    for folder in ORDER:
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        for dirpath, _, files in os.walk(path):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".c", ".inl", ".inc")):
                    continue
                file_path = os.path.join(dirpath, name)
                rel = os.path.relpath(file_path, root)
                with open(file_path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        kind, target = m.groups()
                        where = f"{rel}:{number}: {line.strip()}"
                        if kind == "<":
                            if folder != "platform" and target not in STANDARD and target not in INTRINSICS:
                                problems.append(f"{where}  -- a system or library header outside platform/")
                            continue
                        top = target.split("/", 1)[0] if "/" in target else None
                        if top is None:
                            continue   # a file beside this one
                        if top in OUTSIDE:
                            problems.append(f"{where}  -- {folder}/ may not include {top}/")
                        elif top in RANK and RANK[top] > RANK[folder]:
                            problems.append(f"{where}  -- {folder}/ may not include {top}/, which stands above it")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    problems = check(root)
    for p in problems:
        print(p)
    if problems:
        print(f"check_layers: {len(problems)} include(s) against the folder order "
              f"({' < '.join(ORDER)})", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
