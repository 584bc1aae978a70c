#!/usr/bin/env python3
"""Checks the README's relative links, which Sphinx does not see: each file
must exist, and a link into a Markdown page's #heading must name one of its
headings (as GitHub and MyST make their anchors). Exit status 1 names each
broken link by line."""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")


def anchors(page):
    """The anchors of a page's headings, outside code blocks."""
    found, fence = set(), False
    for line in page.read_text().split("\n"):
        if line.lstrip().startswith(("```", "~~~")):
            fence = not fence
        m = re.match(r"^#{1,6}\s+(.*)", line)
        if m and not fence:
            text = re.sub(r"[^\w\- ]", "", m.group(1).strip().lower().replace("`", ""))
            found.add(text.replace(" ", "-"))
    return found


def broken(path):
    fence = False
    for number, line in enumerate(path.read_text().split("\n"), 1):
        if line.lstrip().startswith(("```", "~~~")):
            fence = not fence
        if fence:
            continue
        for target in LINK.findall(line):
            if re.match(r"^[a-z]+:", target):
                continue
            file, _, anchor = target.partition("#")
            where = (path.parent / file).resolve() if file else path
            if not where.exists():
                yield number, target, "no such file"
            elif anchor and where.suffix == ".md" and anchor not in anchors(where):
                yield number, target, f"no heading #{anchor} in {where.relative_to(ROOT)}"


def main(argv):
    files = [pathlib.Path(a).resolve() for a in argv] or [ROOT / "README.md"]
    bad = 0
    for path in files:
        for number, target, why in broken(path):
            print(f"{path.relative_to(ROOT)}:{number}: {target}: {why}", file=sys.stderr)
            bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
