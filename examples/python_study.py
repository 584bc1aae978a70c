#!/usr/bin/python3
"""A small study with the workbench's Python module (urea_reactor).

The default case, then how the outlet CO2 conversion answers the
dehydration rate factor a2 and the feed's NH3/CO2 ratio, then a2 estimated
from the synthetic test runs beside this script with a1 held at 1.

From a build:   PYTHONPATH=build/default/python /usr/bin/python3 examples/python_study.py
Installed:      python3 /usr/share/doc/urea-plugin/examples/python_study.py
"""
import os

import urea_reactor as ur

here = os.path.dirname(os.path.abspath(__file__))

# The default case: 10 trays, 145 bar, 170 -> 183 C, NH3/CO2 = 3.07.
case = ur.Case.default()
r = ur.run(case)
print(f"{case.name}")
print(f"  CO2 conversion {r.co2_conversion:.4f} (equilibrium at the outlet {r.equilibrium_co2_conversion:.4f}), "
      f"{r.rate_calls} calls of the plug-in's rate routine")
print(f"  urea made: {r.outlet_kmol_h['UREA']:.1f} kmol/h")

# Conversion against a2 (points evenly spaced in ln) for three NH3/CO2 ratios.
s = ur.sweep(case, vary={"a2": (0.01, 10, 7), "nh3_co2": ("lin", 2.9, 3.5, 3)})
p = s.points
print("\nCO2 conversion by a2 (rows) and NH3/CO2 (columns):")
ratios = s.variables[1]["values"]
print("        a2  " + "".join(f"{x:>9.2f}" for x in ratios))
for i, a2 in enumerate(s.variables[0]["values"]):
    row = [p.co2_conversion[j * len(s.variables[0]["values"]) + i] for j in range(len(ratios))]
    print(f"  {a2:8.4f}  " + "".join(f"{c:9.4f}" for c in row))

# a2 from the test runs, a1 held at 1 (the runs alone do not pin down both).
e = ur.estimate(os.path.join(here, "runs-synthetic.csv"), case, fix={"a1": 1})
a2 = e.parameters["a2"]
print(f"\na2 estimated from {len(set(e.residuals.run))} test runs: {a2.value:.4f} "
      f"(95 % between {a2.lower95:.4f} and {a2.upper95:.4f}); reduced chi-square {e.reduced_chi_square:.2f}")
for line in e.verdict:
    print("  " + line)
