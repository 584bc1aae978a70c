# What an interrupted or exiting interpreter, and bad keyword arguments, do
# to the module: each in a child interpreter where a crash would take the
# process with it, judged by how that process ends.
import os
import signal
import subprocess
import sys

import pytest

import urea_reactor as ur
from conftest import RUNS

HANGING = os.environ.get("PLUGIN_HANGING") or os.path.join(
    os.path.dirname(os.environ["PLUGIN_NAN_RATES"]), "libplugin_hanging.so")


def child(code, timeout=120):
    """Runs code in a fresh interpreter: (exit status, stdout, stderr)."""
    p = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


# Ctrl-C at some moment of a call; the child says how the call ended.
INTERRUPTED = """
import os, signal, threading, time
import urea_reactor as ur
signal.signal(signal.SIGINT, signal.default_int_handler)
ur.run()
threading.Timer({delay}, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
start = time.monotonic()
try:
    {call}
    print("finished")
except KeyboardInterrupt:
    print("interrupted", time.monotonic() - start - {delay})
print(ur.run().co2_conversion)
"""


@pytest.mark.parametrize("call, delay", [
    # Both factors free: the fit, the covariance, the profiles, the region
    # (some 1.2 s here; the resamples after them keep the call going).
    ("ur.estimate({runs!r})", 0.3), ("ur.estimate({runs!r}, bootstrap=50)", 1.0),
    # A design takes some 0.5 s here.
    ("ur.design({runs!r}, vary={{'t_out': (176, 195, 20)}})", 0.2),
    ("ur.check({hanging!r}, timeout=60)", 0.5),
])
def test_ctrl_c_anywhere_raises_keyboard_interrupt_and_the_module_still_works(call, delay):
    code = INTERRUPTED.format(delay=delay, call=call.format(runs=RUNS, hanging=HANGING))
    status, out, err = child(code)
    assert status == 0, f"ended by {status}: {out}{err}"
    lines = out.split()
    assert lines[0] == "interrupted", out + err
    assert float(lines[1]) < 1.0  # promptly
    assert float(lines[2]) == ur.run().co2_conversion


# A thread inside the module while the interpreter ends, whose calls end
# while it does (a loop of short sweeps; the junk takes the interpreter a
# moment to free as it ends): a daemon thread, or one whose join Ctrl-C
# interrupted, and then the interpreter's own wait for it.
EXITING = """
import os, signal, threading, time
import urea_reactor as ur
ur.run()
junk = [[] for _ in range(1_000_000)]
def loop():
    while True:
        ur.sweep(vary={{"a2": (0.01, 10, 20)}})
t = threading.Thread(target=loop, daemon={daemon})
t.start()
time.sleep(0.3)
if not {daemon}:
    threading.Timer(0.2, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
    threading.Timer(0.6, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
    try:
        t.join()
    except KeyboardInterrupt:
        print("interrupted", flush=True)
print("exiting", flush=True)
"""


@pytest.mark.parametrize("daemon", [True, False])
def test_the_interpreter_exits_cleanly_with_a_thread_inside_the_module(daemon):
    status, out, err = child(EXITING.format(daemon=daemon), timeout=60)
    assert status == 0, f"ended by {status}: {out}{err}"
    assert out.split()[-1] == "exiting", out + err
    assert "ERROR" not in err and "terminate" not in err and "Fatal" not in err, err


def test_a_checks_time_limit_is_a_number_of_seconds():
    for bad in (float("nan"), float("inf"), -1.0, 0.0, 1e9):
        with pytest.raises(ur.InputError) as e:
            ur.check(timeout=bad)
        assert e.value.field == "timeout"


def test_a_bad_value_raises_input_error_naming_its_setting():
    case = ur.Case.default()
    for settings, key in [({"a1": "abc"}, "a1"), ({"a1": 10**400}, "a1"), ({"model": "cstr"}, "model"),
                          ({"feed_kmol_h.NH3": None}, "feed_kmol_h.NH3")]:
        with pytest.raises(ur.InputError) as e:
            case.with_settings(settings)
        assert e.value.field == key and str(e.value).startswith(key + ": "), str(e.value)
    assert case.with_settings(model="pfr").model == "pfr"
    with pytest.raises(ur.InputError, match="after '@' comes a tray"):
        ur.study(vary={"a2": [0.1]}, results=["x_UREA@99999999999999999999"])
