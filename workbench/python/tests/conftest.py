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
if "PYTHONPATH" not in os.environ:
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
