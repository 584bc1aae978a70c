#!/usr/bin/env python3
"""Every kind of plot the workbench draws, drawn as SVG by gnuplot and
rendered as gnuplot wrote it by librsvg (rsvg-convert, as an image viewer or
a converter would): each must render without an error and stay small (under
500 kB, maps included). The HTML report's inline plots are rendered too.

    svg_render_test.py UREA-REACTOR EXAMPLES_FOLDER
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

reactor, examples = os.path.abspath(sys.argv[1]), pathlib.Path(sys.argv[2]).resolve()
if shutil.which("rsvg-convert") is None:
    sys.exit("svg_render_test: rsvg-convert is missing (Debian librsvg2-bin; scripts/install-deps installs it)")
runs = str(examples / "runs-synthetic.csv")
cases = str(examples / "cases-design.csv")
largest = 500_000
failures = []


def run(args, out=None):
    done = subprocess.run([reactor] + args, capture_output=True, text=True)
    if done.returncode != 0:
        failures.append(f"urea-reactor {' '.join(args)}: exit {done.returncode}: {done.stderr.strip()}")
    elif out is not None:
        pathlib.Path(out).write_text(done.stdout)


def render(svg):
    size = svg.stat().st_size
    if size > largest:
        failures.append(f"{svg.name}: {size} bytes, more than {largest}")
    done = subprocess.run(["rsvg-convert", "-o", str(svg.with_suffix(".png")), str(svg)],
                          capture_output=True, text=True)
    if done.returncode != 0:
        failures.append(f"{svg.name}: rsvg-convert failed: {done.stderr.strip()}")


with tempfile.TemporaryDirectory() as folder:
    os.chdir(folder)
    small = ["--trays", "3"]
    run(small + ["--plot", "run.svg"])
    run(["estimate", runs, "--bootstrap", "5", "--plot", "parity.svg", "--region-plot", "region.svg",
         "--report", "report.html"] + small)
    run(["estimate", runs, "--fix", "a1=1", "--region-plot", "profile.svg", "--json"] + small, out="est.json")
    run(["sweep", "--vary", "t-out=176:194:4", "--vary", "nh3_co2=2.8:3.6:5", "--plot", "sweep.svg"] + small)
    run(["study", "--cases", cases, "--result", "co2_conversion,residence_time_min", "--plot", "cases.svg"] + small)
    run(["study", "--vary", "t-out=176:194:31", "--vary", "nh3_co2=2.8:3.6:31", "--map", "co2_conversion",
         "map.svg"] + small)
    run(["--estimate", "est.json", "--plot", "band-run.svg"] + small)
    run(["study", "--estimate", "est.json", "--vary", "co2=1700:3000:4", "--vary", "nh3_co2=2.9,3.3",
         "--result", "co2_conversion", "--plot", "band-study.svg"] + small)
    run(["design", runs, "--estimate", "est.json", "--vary", "t-out=176:195:6", "--vary", "co2=1700:3000:6",
         "--map", "design.svg"] + small)
    if os.path.exists("report.html"):
        html = pathlib.Path("report.html").read_text()
        inline = re.findall(r"<svg\b.*?</svg>", html, re.S)
        if len(inline) < 2:
            failures.append(f"report.html: {len(inline)} inline plots, not 2")
        for k, svg in enumerate(inline):
            # As the HTML parser takes it: the namespaces the page leaves out.
            svg = svg.replace("<svg", '<svg xmlns="http://www.w3.org/2000/svg" '
                              'xmlns:xlink="http://www.w3.org/1999/xlink"', 1)
            pathlib.Path(f"report-{k}.svg").write_text(svg)
    drawn = sorted(pathlib.Path(".").glob("*.svg"))
    for svg in drawn:
        render(svg)
    expected = {"run", "parity", "region", "profile", "sweep", "cases", "map", "band-run", "band-study", "design"}
    missing = expected - {svg.stem for svg in drawn}
    if missing:
        failures.append(f"not drawn: {', '.join(sorted(missing))}")

for f in failures:
    print(f)
print(f"{len(drawn)} plots rendered, {len(failures)} failures")
sys.exit(1 if failures else 0)
