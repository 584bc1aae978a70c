#!/usr/bin/python3
"""Executes a notebook as Jupyter would (nbclient, the python3 kernel of
ipykernel, in the notebook's folder) and checks what it shows: no cell
fails, each cell that draws shows a picture, each result shows its HTML.

    run_notebook.py NOTEBOOK.ipynb
"""
import os
import sys

import nbformat
from nbclient import NotebookClient


def main(path):
    # The kernel runs in the notebook's folder: the module's path made absolute.
    if os.environ.get("PYTHONPATH"):
        os.environ["PYTHONPATH"] = os.pathsep.join(os.path.abspath(p) for p in os.environ["PYTHONPATH"].split(os.pathsep))
    nb = nbformat.read(path, as_version=4)
    client = NotebookClient(nb, timeout=300, kernel_name="python3",
                            resources={"metadata": {"path": os.path.dirname(os.path.abspath(path))}})
    client.execute()  # raises CellExecutionError, naming the cell, on the first that fails
    problems = []
    for k, cell in enumerate(nb.cells):
        if cell.cell_type != "code":
            continue
        kinds = {kind for out in cell.outputs for kind in out.get("data", {})}
        source = cell.source.strip()
        if ".plot(" in source and "image/png" not in kinds:
            problems.append(f"cell {k} draws no picture: {source.splitlines()[-1]}")
        last = source.splitlines()[-1]
        if last.isidentifier() and last not in ("m.drifts",) and "text/html" not in kinds:
            problems.append(f"cell {k} shows {last} without HTML")
    for p in problems:
        print(p, file=sys.stderr)
    print(f"{path}: {len(nb.cells)} cells executed" + (f", {len(problems)} problems" if problems else ""))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
