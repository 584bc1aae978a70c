"""Writes, or checks, a reference page generated from the build: shared by
cli_reference.py and quantities_reference.py."""
import difflib
import sys


def write_or_check(page, text, source, script, mode):
    """mode --write: writes text to page; --check: 0 when page holds text,
    else prints the difference (from source, what the text came from) and 1."""
    if mode == "--write":
        page.write_text(text)
        return 0
    old = page.read_text() if page.exists() else ""
    if old == text:
        return 0
    sys.stdout.writelines(difflib.unified_diff(old.splitlines(True), text.splitlines(True), str(page), source))
    print(f"{page} is stale: rerun docs/{script} with --write", file=sys.stderr)
    return 1
