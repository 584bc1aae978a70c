#!/usr/bin/env python3
"""Writes, or checks, reference/quantities.md: every quantity the workbench
reads or writes, by type, as `urea-reactor quantities --json` prints them from
their one declaration (workbench/model/schema.cpp), so the page cannot drift
from the program.

    docs/quantities_reference.py UREA_REACTOR --write    rewrite docs/reference/quantities.md
    docs/quantities_reference.py UREA_REACTOR --check    exit 1, with a diff, if it is stale
"""
import json
import pathlib
import subprocess
import sys

from generated_page import write_or_check

PAGE = pathlib.Path(__file__).resolve().parent / "reference" / "quantities.md"


def quantities(program):
    done = subprocess.run([program, "quantities", "--json"], capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        raise SystemExit(f"{program} quantities --json: exit status {done.returncode}\n{done.stderr}")
    return json.loads(done.stdout)


def cell(text):
    """Text in a Markdown table's cell: | escaped, <...> kept from HTML."""
    return text.replace("|", "\\|").replace("<", "&lt;").replace(">", "&gt;")


def bound(v):
    if v is None:
        return ""
    return f"{v:g}"


def bounds(f):
    low, high = f["lower"], f["upper"]
    if low is not None and high is not None:
        return f"{bound(low)} .. {bound(high)}"
    if low is not None:
        return f"≥ {bound(low)}"
    if high is not None:
        return f"≤ {bound(high)}"
    return ""


def page(program):
    doc = quantities(program)
    out = [
        "# Quantities",
        "",
        "Generated from `urea-reactor quantities --json` by `docs/quantities_reference.py`; the",
        "test `docs.quantities` fails when this page differs from what the built program prints.",
        "Do not edit it by hand: run `docs/quantities_reference.py build/ci/bin/urea-reactor --write`.",
        "",
        "Every quantity the workbench reads or writes is declared once, by type, with its unit,",
        "kind and meaning, and its bounds where the workbench holds it to them. The tables and CSV",
        "files (`--csv`) and Python's tables (`Table`, and `to_pandas()` with the units and",
        "meanings in its `attrs`) take their columns from these declarations.",
        "",
        f"Schema version {doc['schema_version']}. In a name, `<C>` is a component (NH3, CO2, H2O, CARB,",
        "UREA, O2, N2), `@N` a tray (or a plug-flow station) from the inlet, `<quantity>` a quantity",
        "of a case (its unit the case's), `<result>` a result, `<factor>` a1 or a2, and `<column>` a",
        "column of a case table carried through as written. Kinds: number, count (a whole number),",
        "text, time (ISO 8601), flag (yes or no), table (rows of another type), nested (an object),",
        "numbers and texts (lists of them). A name followed by a path (`trays` · `reactor.trays`) is held there",
        "in documents (case files, `--json`): a dot steps into an object. A field \"documents only\"",
        "is no column of the type's tables (`--csv`).",
    ]
    for t in doc["types"]:
        meaning = t["meaning"][0].upper() + t["meaning"][1:]
        out += ["", f"## {t['name']}", "", f"{meaning}. Version {t['version']}.", ""]
        out += ["| name | unit | kind | bounds | meaning |", "|---|---|---|---|---|"]
        for f in t["fields"]:
            kind = f["kind"] + (f" of {f['of']}" if "of" in f else "") + (", documents only" if f.get("column") is False else "")
            name = f"`{f['name']}`" + (f" · `{f['at']}`" if "at" in f else "")
            out.append(f"| {name} | {cell(f['unit'])} | {kind} | {bounds(f)} | {cell(f['meaning'])} |")
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in ("--write", "--check"):
        raise SystemExit(__doc__)
    return write_or_check(PAGE, page(sys.argv[1]), "urea-reactor quantities --json", "quantities_reference.py", sys.argv[2])

if __name__ == "__main__":
    sys.exit(main())
