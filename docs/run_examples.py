#!/usr/bin/env python3
"""Runs every code example of the docs and fails when one fails.

    docs/run_examples.py [FILE.md ...]      (default: README.md and docs/**/*.md)

Fenced blocks marked `sh` (or `bash`, `shell`) run as one bash script (-e,
pipefail); `console` blocks run each `$ ` line (with its `\\` continuations)
and ignore the output shown; `python` blocks run in this python. A page's
blocks run in order, in one fresh temporary folder holding a copy of
examples/, so a later block may use a file an earlier one wrote. urea-reactor
and the module urea_reactor are found through PATH and PYTHONPATH (the ctest
docs.examples sets both to the build's).

A block that must not run (an apt-get, a cluster's address, the whole build)
says so on the line before its fence:

    <!-- no-run: why -->

Blocks of any other language (text, json, cpp, ...) are shown, not run.
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
RUN = {"sh": "sh", "bash": "sh", "shell": "sh", "console": "console", "python": "python"}
SKIP = re.compile(r"^\s*<!--\s*no-run:\s*(\S.*?)\s*-->\s*$")
FENCE = re.compile(r"^(\s*)(```+|~~~+)\s*([\w+-]*)")
TIMEOUT = 600


def blocks(path):
    """(line, language, code, skip reason or None) for each fenced block."""
    lines = path.read_text().split("\n")
    k = 0
    while k < len(lines):
        m = FENCE.match(lines[k])
        if not m:
            k += 1
            continue
        indent, fence, language = m.group(1), m.group(2), m.group(3).lower()
        start = k
        body = []
        k += 1
        while k < len(lines) and not lines[k].strip().startswith(fence[:3]):
            line = lines[k]
            body.append(line[len(indent):] if line.startswith(indent) else line.lstrip())
            k += 1
        k += 1
        before = start - 1
        while before >= 0 and not lines[before].strip():
            before -= 1
        s = SKIP.match(lines[before]) if before >= 0 else None
        yield start + 1, language, "\n".join(body) + "\n", (s.group(1) if s else None)


def console_commands(code):
    """The commands of a console transcript: each `$ ` line with its continuations."""
    commands, current = [], None
    for line in code.split("\n"):
        if current is not None:
            current += "\n" + line
            if not line.rstrip().endswith("\\"):
                commands.append(current)
                current = None
        elif line.startswith("$ "):
            current = line[2:]
            if not current.rstrip().endswith("\\"):
                commands.append(current)
                current = None
    if current is not None:
        commands.append(current)
    return commands


def run_block(language, code, folder):
    if language == "python":
        scripts = [[sys.executable, "-c", code]]
    elif language == "sh":
        scripts = [["bash", "-euo", "pipefail", "-c", code]]
    else:
        commands = console_commands(code)
        if not commands:
            return "a console block without a `$ ` command"
        scripts = [["bash", "-euo", "pipefail", "-c", c] for c in commands]
    for argv in scripts:
        try:
            done = subprocess.run(argv, cwd=folder, capture_output=True, text=True, timeout=TIMEOUT,
                                  stdin=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            return f"did not end within {TIMEOUT} s: {argv[-1][:200]}"
        if done.returncode != 0:
            tail = "\n".join((done.stderr or done.stdout).strip().split("\n")[-8:])
            return f"exit status {done.returncode}: {argv[-1].strip()[:300]}\n{tail}"
    return None


def main(argv):
    files = [pathlib.Path(a).resolve() for a in argv] or \
        [ROOT / "README.md"] + sorted((ROOT / "docs").rglob("*.md"))
    ran = skipped = 0
    failures = []
    for path in files:
        todo = [b for b in blocks(path) if b[1] in RUN]
        if not todo:
            continue
        with tempfile.TemporaryDirectory(prefix="docs-example-") as folder:
            shutil.copytree(ROOT / "examples", pathlib.Path(folder) / "examples")
            for line, language, code, reason in todo:
                where = f"{path.relative_to(ROOT)}:{line}"
                if reason is not None:
                    skipped += 1
                    continue
                ran += 1
                failure = run_block(RUN[language], code, folder)
                if failure:
                    failures.append(f"{where}: {language} block: {failure}")
                    print(f"FAILED {where}", flush=True)
                else:
                    print(f"ok     {where}", flush=True)
    for f in failures:
        print(f, file=sys.stderr)
    print(f"{ran} examples run, {len(failures)} failed; {skipped} marked no-run")
    if ran == 0:
        print("no example found: is the docs folder there?", file=sys.stderr)
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
