# What the module's tests share: the command line of the same build, run as a
# user runs it, and the paths ctest gives (workbench/python/CMakeLists.txt);
# without ctest, those of build/default:
#   /usr/bin/python3 -m pytest workbench/python/tests
import json
import os
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
BUILD = os.path.join(ROOT, "build", "default")
PLUGINS = os.path.join(BUILD, "workbench", "plugins")
DEFAULTS = {
    "UREA_REACTOR": os.path.join(BUILD, "bin", "urea-reactor"),
    "UREA_EXAMPLES": os.path.join(ROOT, "examples"),
    "PLUGIN_WRONG_RATES": os.path.join(PLUGINS, "libplugin_wrong_rates.so"),
    "PLUGIN_NAN_RATES": os.path.join(PLUGINS, "libplugin_nan_rates.so"),
    "PLUGIN_WITHOUT_USURA": os.path.join(PLUGINS, "libplugin_without_usura.so"),
}
for name, path in DEFAULTS.items():
    os.environ.setdefault(name, path)
# UREA_PYTHON_INSTALLED=1: the package as installed (scripts/test-python's venv).
if "PYTHONPATH" not in os.environ and not os.environ.get("UREA_PYTHON_INSTALLED"):
    sys.path.insert(0, os.path.join(BUILD, "python"))
    os.environ["PYTHONPATH"] = os.path.join(BUILD, "python")  # for the tests' child processes

UREA_REACTOR = os.environ["UREA_REACTOR"]
EXAMPLES = os.environ["UREA_EXAMPLES"]
RUNS = os.path.join(EXAMPLES, "runs-synthetic.csv")


def cli(*args):
    """urea-reactor ARGS: (exit status, stdout, stderr)."""
    p = subprocess.run([UREA_REACTOR, *args], capture_output=True, text=True, timeout=120)
    return p.returncode, p.stdout, p.stderr


def cli_json(*args):
    status, out, err = cli(*args, "--json")
    assert status == 0, err
    return json.loads(out)


def cli_error(*args):
    """The message the command line prints after 'urea-reactor: error: '."""
    status, _, err = cli(*args)
    assert status == 2, err
    prefix = "urea-reactor: error: "
    line = [l for l in err.splitlines() if l.startswith(prefix)]
    assert len(line) == 1, err
    return line[0][len(prefix):]


@pytest.fixture
def plugins():
    return {name: os.environ[name] for name in ("PLUGIN_WRONG_RATES", "PLUGIN_NAN_RATES", "PLUGIN_WITHOUT_USURA")}


def plant_history(days, step_day, ratio=0.8, a2=0.16, seed=1):
    """A synthetic plant history (NOT plant data) as a DataFrame with a
    DatetimeIndex: hourly rows of the default case's meters with noise, a lab
    analysis every 4 h from the reactor at a2, which becomes a2 * ratio from
    `step_day` on."""
    import numpy as np
    import pandas as pd
    import urea_reactor as ur
    rng = np.random.default_rng(seed)
    case = ur.Case.default()
    times = pd.date_range("2026-01-01", periods=24 * days, freq="h")
    lab = []
    for a in (a2, a2 * ratio):
        nc = ur.run(case.with_settings(a1=1, a2=a)).nc_flow_kg_h
        total = sum(nc[c] for c in ("NH3", "CO2", "UREA", "H2O"))
        lab.append({c: nc[c] / total for c in ("NH3", "CO2", "UREA", "H2O")})
    n = len(times)
    h = pd.DataFrame(index=times)
    for c, flow in case.feed_kmol_h.items():
        if flow > 0:
            h["feed_kmol_h." + c] = flow * (1 + 0.002 * rng.standard_normal(n))
    h["inlet_temperature_C"] = case.inlet_temperature_C + 0.1 * rng.standard_normal(n)
    h["outlet_temperature_C"] = case.outlet_temperature_C + 0.1 * rng.standard_normal(n)
    h["pressure_bar"] = case.pressure_bar + 0.2 * rng.standard_normal(n)
    after = np.asarray((times - times[0]) >= pd.Timedelta(days=step_day))
    sampled = np.arange(n) % 4 == 0
    for c in ("NH3", "CO2", "UREA", "H2O"):
        w = np.where(after, lab[1][c], lab[0][c]) + 0.005 * rng.standard_normal(n)
        h["w_" + c] = np.where(sampled, w, np.nan)
    return h
