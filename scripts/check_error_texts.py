#!/usr/bin/env python3
"""Checks that every error id the engine reports has a text.

An id is reported in the engine's code when a reporter (ReportError, ReportScriptError, their F
and V forms, NoteErrorF, NoteScriptErrorF) names it, as a six-digit number or as a constant, or
when a constant of an error id (KX_ERR_..., kErr..., ..._ERROR) is defined as one. Every such id
must have a text of the engine's own (TXT_ERR_nnnnnn in core/kx_texts.inc) or a standard text
(core/error_texts.inc), which the tools write into every game's message table.

    python3 scripts/check_error_texts.py [ROOT]

Prints every id without a text with the places that report it, and exits with 1 when there is one.
"""
import os
import re
import sys

ENGINE = ["platform", "core", "script", "image", "imageproc", "display", "sound", "save", "media",
          "root", "app"]
REPORTER = re.compile(r"\b(?:Report(?:Script)?Error[FV]?|Note(?:Script)?Error[FV]?)\s*\(")
ERROR_CONSTANT = re.compile(r"\b(KX_ERR_[A-Z0-9_]+|kErr[A-Za-z0-9_]*|[A-Z][A-Z0-9_]*_ERROR)\s*=\s*([1-9][0-9]{5})\b")
ANY_CONSTANT = re.compile(r"\b([A-Za-z_][A-Za-z0-9_]*)\s*=\s*([1-9][0-9]{5})\b")


def sources(root):
    for folder in ENGINE:
        for path, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if name.endswith((".cpp", ".h", ".inc")):
                    full = os.path.join(path, name)
                    with open(full, encoding="utf-8", errors="replace") as f:
                        yield os.path.relpath(full, root), f.read()


def first_argument(text, start):
    """The text of a call's first argument, from just after its '('."""
    depth = 0
    for i in range(start, len(text)):
        c = text[i]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            if depth == 0:
                return text[start:i]
            depth -= 1
        elif c == "," and depth == 0:
            return text[start:i]
    return text[start:]


def reported_ids(root):
    files = list(sources(root))
    constants = {}
    for _, text in files:
        for m in ANY_CONSTANT.finditer(text):
            constants.setdefault(m.group(1), set()).add(int(m.group(2)))
    ids = {}
    for rel, text in files:
        line_of = lambda pos: text.count("\n", 0, pos) + 1
        for m in ERROR_CONSTANT.finditer(text):
            ids.setdefault(int(m.group(2)), set()).add(f"{rel}:{line_of(m.start())}")
        for m in REPORTER.finditer(text):
            arg = first_argument(text, m.end())
            for token in re.findall(r"[A-Za-z_][A-Za-z0-9_]*|\b[0-9]{6}\b", arg):
                values = {int(token)} if token.isdigit() else constants.get(token, set())
                for value in values:
                    ids.setdefault(value, set()).add(f"{rel}:{line_of(m.start())}")
    return ids


def texts(root):
    with open(os.path.join(root, "core", "kx_texts.inc"), encoding="utf-8") as f:
        engine = {int(m) for m in re.findall(r"KX_TEXT\(TXT_ERR_([0-9]{6})\b", f.read())}
    # The licence notice of id 100000 is an engine text of another name.
    engine.add(100000)
    with open(os.path.join(root, "core", "error_texts.inc"), encoding="utf-8") as f:
        standard = [int(m) for m in re.findall(r"^KX_ERROR_TEXT\(([0-9]{6}),", f.read(), re.M)]
    return engine, standard


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    ids = reported_ids(root)
    engine, standard = texts(root)
    problems = 0
    for value in sorted(ids):
        if value not in engine and value not in standard:
            problems += 1
            print(f"error id {value} has no text (reported at {', '.join(sorted(ids[value]))})")
    doubles = sorted({v for v in standard if standard.count(v) > 1})
    for value in doubles:
        problems += 1
        print(f"error id {value} has more than one standard text in core/error_texts.inc")
    for value in sorted(set(standard) & engine):
        problems += 1
        print(f"error id {value} has a text of the engine's own; its standard text would never show")
    if standard != sorted(standard):
        problems += 1
        print("core/error_texts.inc is not ordered by id")
    print(f"{len(ids)} reported ids, {len(engine)} engine texts, {len(standard)} standard texts, {problems} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
