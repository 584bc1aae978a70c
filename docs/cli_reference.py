#!/usr/bin/env python3
"""Writes, or checks, reference/options.md: every command's options as
`urea-reactor [COMMAND] --help` prints them from the option table
(workbench/cli/options.cpp), so the page cannot drift from the program.

    docs/cli_reference.py UREA_REACTOR --write    rewrite docs/reference/options.md
    docs/cli_reference.py UREA_REACTOR --check    exit 1, with a diff, if it is stale
"""
import pathlib
import re
import subprocess
import sys

from generated_page import write_or_check

PAGE = pathlib.Path(__file__).resolve().parent / "reference" / "options.md"


def help_of(program, *command):
    done = subprocess.run([program, *command, "--help"], capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        raise SystemExit(f"{program} {' '.join(command)} --help: exit status {done.returncode}\n{done.stderr}")
    return done.stdout.rstrip() + "\n"


def subcommands(top_help):
    """The names under "Subcommands:" in the top-level help, in its order."""
    names, inside = [], False
    for line in top_help.splitlines():
        if line.strip().lower().startswith("subcommands"):
            inside = True
            continue
        if inside:
            m = re.match(r"^\s+([a-z][a-z-]*)\s", line + " ")
            if m:
                names.append(m.group(1))
            elif line.strip():
                break
    if not names:
        raise SystemExit("the top-level help lists no subcommands: has its format changed?")
    return names


def page(program):
    top = help_of(program)
    out = [
        "# Command-line options",
        "",
        "Generated from `urea-reactor --help` and `urea-reactor COMMAND --help` by",
        "`docs/cli_reference.py`; the test `docs.options` fails when this page differs from",
        "what the built program prints. Do not edit it by hand: run",
        "`docs/cli_reference.py build/ci/bin/urea-reactor --write`.",
        "",
        "What each command does, with its outputs and examples, is on its own page:",
        "[a run](run.md), [fit](fit.md), [estimate](estimate.md), [sweep](sweep.md),",
        "[study](study.md), [bands](bands.md), [design](design.md), [monitor](../monitor.md),",
        "[check and version](check-version.md).",
        "",
        "## urea-reactor",
        "",
        "```text",
        top.rstrip(),
        "```",
    ]
    for name in subcommands(top):
        out += ["", f"## urea-reactor {name}", "", "```text", help_of(program, name).rstrip(), "```"]
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in ("--write", "--check"):
        raise SystemExit(__doc__)
    return write_or_check(PAGE, page(sys.argv[1]), "urea-reactor --help", "cli_reference.py", sys.argv[2])

if __name__ == "__main__":
    sys.exit(main())
