# The package as a Python user meets it: typed signatures and stubs a type
# checker reads, a misspelt keyword named in one line, durations in pandas'
# words, an executor that never answers ended by a time-out.
import concurrent.futures as cf
import datetime
import inspect
import os
import subprocess
import sys
import threading

import pytest

import urea_reactor as ur
from conftest import EXAMPLES, plant_history

CALLS = ("run", "fit", "sweep", "study", "estimate", "design", "monitor")


def test_every_public_function_is_typed_and_documented():
    assert sorted(set(ur.__all__)) == sorted(ur.__all__) and all(hasattr(ur, n) for n in ur.__all__)
    for name in ur.__all__:
        f = getattr(ur, name)
        if not inspect.isfunction(f):
            continue
        sig = inspect.signature(f)
        assert sig.return_annotation is not sig.empty, name
        for p in sig.parameters.values():
            assert p.annotation not in (sig.empty, "object", "Any"), (name, p.name)
        for section in ("Returns\n", "Example\n"):
            assert section in f.__doc__, (name, section)
        if sig.parameters:
            assert "Parameters\n" in f.__doc__, name
    # A Session's methods: the functions' parameters, plugin= apart.
    for name in CALLS:
        function = list(inspect.signature(getattr(ur, name)).parameters.values())
        method = list(inspect.signature(getattr(ur.Session, name)).parameters.values())
        assert [p for p in function if p.name != "plugin"] == method[1:], name
    assert ur.Result.__module__ == "urea_reactor" and os.path.isfile(os.path.join(os.path.dirname(ur.__file__), "py.typed"))


def test_a_misspelt_keyword_is_named_with_the_nearest_parameter():
    with pytest.raises(TypeError) as e:
        ur.study(vray={"a2": [0.1]})
    assert str(e.value) == "study(): unexpected keyword vray (did you mean vary?)"
    with pytest.raises(TypeError, match=r"^monitor\(\): unexpected keyword job \(did you mean jobs\?\)$"):
        ur.session().monitor("history.csv", job=2)
    with pytest.raises(TypeError, match=r"^run\(\): unexpected keyword xyzzy \(it takes case, estimate, band, carry_factors, plugin\)$"):
        ur.run(xyzzy=1)


def test_durations_in_pandas_words_and_as_timedeltas():
    import pandas as pd
    history = plant_history(days=2, step_day=1)
    day = ur.monitor(history, fix={"a1": 1}, window="24h", step="12h").windows.to_pandas()
    for window, step in (("1D", "12H"), (datetime.timedelta(days=1), pd.Timedelta("720min")), ("1440T", "43200S")):
        got = ur.monitor(history, fix={"a1": 1}, window=window, step=step).windows.to_pandas()
        assert got.equals(day), (window, step)
    with pytest.raises(ur.InputError, match='^window="1M": write a duration'):
        ur.monitor(history, window="1M")


class Silent(cf.Executor):
    """An executor whose workers are gone: it takes tasks and never answers."""

    def __init__(self):
        self.futures = []

    def submit(self, fn, *args, **kwargs):
        self.futures.append(cf.Future())
        return self.futures[-1]


def test_an_executor_that_never_answers_ends_the_call_after_its_time_out():
    ex = Silent()
    raised = []

    def call():
        try:
            ur.study(vary={"t_out": (170, 194, 40)}, executor=ex, executor_timeout=0.5)
        except Exception as e:
            raised.append(e)

    waiting = threading.Thread(target=call, daemon=True)  # a call that waits for ever fails the test
    waiting.start()
    waiting.join(60)
    assert not waiting.is_alive(), "the call still waits"
    assert len(raised) == 1 and isinstance(raised[0], ur.ExecutorLost), raised
    assert "no task came back within 0.5 s (executor_timeout=)" in str(raised[0])
    assert ex.futures and all(f.cancelled() for f in ex.futures)
    with pytest.raises(ValueError, match="executor_timeout"):
        ur.study(vary={"t_out": (170, 194, 40)}, executor=ex, executor_timeout=0)


WRONG = """
import urea_reactor as ur
r = ur.run(ur.Case.default())
calls: str = r.rate_calls
ur.study(vary=3)
ur.monitor("h.csv", window=24)
ur.estimate("runs.csv", boostrap=10)
ratio: float = ur.estimate("runs.csv").tuned["a2"]["valeu"]
step = ur.monitor("h.csv").drifts[0]["ratoi"]
"""


def test_mypy_accepts_the_examples_and_rejects_wrong_calls(tmp_path):
    wrong = tmp_path / "wrong.py"
    wrong.write_text(WRONG)
    examples = [os.path.join(EXAMPLES, f) for f in sorted(os.listdir(EXAMPLES)) if f.endswith(".py")]

    def mypy(*files):
        # The installed package (site-packages) or the build's (PYTHONPATH), as python finds it.
        env = dict(os.environ, MYPYPATH=os.environ.get("PYTHONPATH", ""))
        p = subprocess.run(["/usr/bin/python3", "-m", "mypy", "--python-executable",
                            sys.executable, "--cache-dir", str(tmp_path / "cache"), *files],
                           capture_output=True, text=True, env=env, timeout=300)
        return p.returncode, p.stdout + p.stderr

    status, out = mypy(*examples)
    assert status == 0, out
    status, out = mypy(str(wrong))
    errors = [l for l in out.splitlines() if ": error:" in l]
    assert [l.split(":")[1] for l in errors] == ["4", "5", "6", "7", "8", "9"], out
    assert 'Unexpected keyword argument "boostrap"' in errors[3], out
    assert '"valeu"' in errors[4], out  # a nested result's shape is known
    assert '"ratoi"' in errors[5], out  # a drift's, from the declared type
