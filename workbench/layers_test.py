#!/usr/bin/env python3
"""The workbench's layers hold: every #include from one folder of workbench/
into another goes to a folder listed above it in CMakeLists.txt's list of
layers, so the folders form no cycle; and output files are the clients'
own (their paths checked and gnuplot looked for in cli/ and python/ only,
io/ providing the checks). Fails naming each include that goes the wrong
way, each use of an output check outside the clients, and any cycle among
the folders."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent)
listing = (root / "CMakeLists.txt").read_text()
layers = re.findall(r"^#   (\w+)/ ", listing, re.M)
if len(layers) < 5:
    sys.exit(f"layers_test: no list of layers in {root / 'CMakeLists.txt'}")
clients = {"cli", "python"}  # on top of every layer; nothing includes them
rank = {name: k for k, name in enumerate(layers)}

edges = {}
wrong = []
for path in sorted(root.rglob("*")):
    if path.suffix not in (".h", ".cpp") or path.name.endswith("_test.cpp"):
        continue
    folder = path.relative_to(root).parts[0]
    for line_no, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
        m = re.match(r'\s*#\s*include\s+"(\w+)/', line)
        if not m or m.group(1) == folder or not (root / m.group(1)).is_dir():
            continue
        target = m.group(1)
        edges.setdefault(folder, set()).add(target)
        if folder in clients:
            if target in clients:
                wrong.append(f"{path.relative_to(root)}:{line_no}: a client includes another client ({target}/)")
            continue
        if folder not in rank:
            wrong.append(f"{path.relative_to(root)}:{line_no}: {folder}/ is not in CMakeLists.txt's list of layers")
        elif target not in rank and target not in clients:
            wrong.append(f"{path.relative_to(root)}:{line_no}: {target}/ is not in CMakeLists.txt's list of layers")
        elif target in clients or rank[target] > rank[folder]:
            wrong.append(f"{path.relative_to(root)}:{line_no}: {folder}/ includes {target}/, a layer above it")
    if folder not in clients and folder != "io":
        for line_no, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            m = re.search(r"\b(check_output_path|check_distinct|gnuplot_available|require_gnuplot)\s*\(", line)
            if m and not line.lstrip().startswith("//"):
                wrong.append(f"{path.relative_to(root)}:{line_no}: {m.group(1)} outside the clients: "
                             "output files are the command line's and Python's own")

# Any cycle among the folders, found by a depth-first search.
cycles = []
state = {}
def visit(node, trail):
    state[node] = "open"
    for nxt in sorted(edges.get(node, ())):
        if state.get(nxt) == "open":
            cycles.append(" -> ".join(trail[trail.index(nxt):] + [nxt]))
        elif nxt not in state:
            visit(nxt, trail + [nxt])
    state[node] = "done"
for node in sorted(edges):
    if node not in state:
        visit(node, [node])

for w in wrong:
    print(w)
for c in cycles:
    print(f"cycle of folders: {c}")
if wrong or cycles:
    sys.exit(1)
print(f"layers hold: {' < '.join(layers)} < cli, python")
