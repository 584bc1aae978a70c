#!/usr/bin/env python3
"""Writes examples/runs-synthetic.csv: eight made-up test runs of the default
reactor, generated with the workbench itself at known rate factors, with
normal noise added to every measurement. It is not plant data; it is there to
show the file's columns and to let an estimate be checked against the
factors it was made from. And examples/runs-slow-carbamate.csv: the same runs
made with carbamate formation slow (a1 = 3e-6), where the conversion depends
on a1 too, yet the runs cannot tell slow from fast formation (a1's profile
interval is open above; docs/howto/design-next-run.md works through it).

Each run is the built-in default case with a few settings changed (load,
ratios, temperatures, pressure); `urea-reactor --json` gives its outlet CO2
conversion and NC-FLOW mass flows, from which the lab analysis (mass
fractions of NH3, CO2, UREA and H2O, carbamate counted as the NH3 and CO2
that form it, air left out) follows.

Run after a build, from anywhere (by default the workbench of the default
preset, build/default/bin/urea-reactor, as scripts/run builds it):
    python3 examples/make_example_runs.py [path/to/urea-reactor]
"""
import json
import os
import random
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
REACTOR = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "default", "bin", "urea-reactor")

A1, A2 = 1.0, 0.16          # the rate factors the runs are made with
A1_SLOW = 3e-6              # a1 of the second set: carbamate formation slow
SIGMA = 0.005               # noise: the runs file's default standard deviation
SEED = 20240611

# name, settings (runs-file columns and their command-line options), lab analysis?, note
RUNS = [
    ("T1", {}, True, "design load"),
    ("T2", {"feed_kmol_h.CO2": 2160}, True, "90 % load"),
    ("T3", {"feed_kmol_h.CO2": 2520}, True, "105 % load"),
    ("T4", {"nh3_co2": 3.3}, True, ""),
    ("T5", {"nh3_co2": 2.9, "h2o_co2": 0.45}, False, "no lab sample"),
    ("T6", {"inlet_temperature_C": 172, "outlet_temperature_C": 186}, True, ""),
    ("T7", {"outlet_temperature_C": 180, "pressure_bar": 140}, True, "lower pressure, cooler top"),
    ("T8", {"feed_kmol_h.CO2": 2300, "h2o_co2": 0.5}, False, "more recycle water, no lab sample"),
]
OPTION = {"feed_kmol_h.CO2": "--co2", "nh3_co2": "--nh3-co2", "h2o_co2": "--h2o-co2",
          "inlet_temperature_C": "--t-in", "outlet_temperature_C": "--t-out", "pressure_bar": "--pressure"}
SETTINGS = ["feed_kmol_h.CO2", "nh3_co2", "h2o_co2", "inlet_temperature_C", "outlet_temperature_C",
            "pressure_bar"]
FRACTIONS = ["NH3", "CO2", "UREA", "H2O"]


def outlet(settings, a1):
    cmd = [REACTOR, "--json", "--a1", repr(a1), "--a2", repr(A2)]
    for key, value in settings.items():
        cmd += [OPTION[key], repr(value)]
    out = json.loads(subprocess.run(cmd, check=True, capture_output=True, text=True).stdout)
    nc = out["nc_flow_kg_h"]
    total = sum(nc[c] for c in FRACTIONS)
    return out["co2_conversion"], {c: nc[c] / total for c in FRACTIONS}


def write(a1, file):
    rng = random.Random(SEED)
    lines = [
        "# SYNTHETIC test runs, NOT plant data: made with examples/make_example_runs.py from the",
        f"# workbench's default case at a1 = {a1:g}, a2 = {A2:g}, with normal noise of standard deviation",
        f"# {SIGMA:g} added to every measurement. Empty cells: not measured (or, for a setting, the base case's).",
        "run," + ",".join(SETTINGS) + ",co2_conversion,co2_conversion_sigma,"
        + ",".join("w_" + c for c in FRACTIONS) + ",note",
    ]
    for name, settings, lab, note in RUNS:
        conversion, w = outlet(settings, a1)
        cells = [name] + [f"{settings[s]:g}" if s in settings else "" for s in SETTINGS]
        cells += [f"{conversion + rng.gauss(0.0, SIGMA):.4f}", f"{SIGMA:g}"]
        cells += [f"{w[c] + rng.gauss(0.0, SIGMA):.4f}" if lab else "" for c in FRACTIONS]
        cells.append(f'"{note}"' if "," in note else note)
        lines.append(",".join(cells))
    path = os.path.join(HERE, file)
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    print("wrote", path)


def main():
    write(A1, "runs-synthetic.csv")
    write(A1_SLOW, "runs-slow-carbamate.csv")


if __name__ == "__main__":
    main()
