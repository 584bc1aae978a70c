# The two clients of one library: each command's table in Python has the
# columns of the command line's CSV, and pandas reads that CSV with the
# dtypes to_pandas() gives (yes or no as bool, missing values where they
# are missing); bad input raises a ValueError about the Python argument,
# never about a command-line option.
import math
import os
import re

import numpy as np
import pandas as pd
import pytest

import urea_reactor as ur
from conftest import EXAMPLES, RUNS, cli, plant_history

CASES = os.path.join(EXAMPLES, "cases-design.csv")


@pytest.fixture(scope="module")
def est(tmp_path_factory):
    path = tmp_path_factory.mktemp("est") / "est.json"
    status, out, err = cli("estimate", RUNS, "--fix", "a1=1", "--json")
    assert status == 0, err
    path.write_text(out)
    return str(path)


COMMANDS = {
    "run": (lambda est: [], lambda est: ur.run().profile),
    "run with bands": (lambda est: ["--estimate", est], lambda est: ur.run(estimate=est).profile),
    "fit": (lambda est: ["fit", "--co2-conversion", "0.6"], lambda est: ur.fit(None, 0.6).run.profile),
    "sweep": (lambda est: ["sweep", "--vary", "a2=0.05:0.5:4", "--vary", "nh3_co2=2.8,3.4"],
              lambda est: ur.sweep(vary={"a2": (0.05, 0.5, 4), "nh3_co2": [2.8, 3.4]}).points),
    "study": (lambda est: ["study", "--vary", "t-out=176:190:3", "--vary", "model=trays,pfr",
                           "--result", "co2_conversion,x_UREA@3,residence_time_min"],
              lambda est: ur.study(vary={"t_out": (176, 190, 3), "model": ["trays", "pfr"]},
                                   results=["co2_conversion", "x_UREA@3", "residence_time_min"]).points),
    "study of trays and volume": (lambda est: ["study", "--vary", "trays=5,10", "--vary", "volume=150,190.5",
                                               "--result", "co2_conversion,rate_calls"],
                                  lambda est: ur.study(vary={"trays": [5, 10], "volume": [150, 190.5]},
                                                       results=["co2_conversion", "rate_calls"]).points),
    "study of a case table": (lambda est: ["study", "--cases", CASES], lambda est: ur.study(cases=CASES).points),
    "study with bands": (lambda est: ["study", "--vary", "t-out=176:190:3", "--estimate", est],
                         lambda est: ur.study(vary={"t_out": (176, 190, 3)}, estimate=est).points),
    "estimate": (lambda est: ["estimate", RUNS, "--fix", "a1=1"], lambda est: ur.estimate(RUNS, fix={"a1": 1}).residuals),
    "design": (lambda est: ["design", RUNS, "--estimate", est, "--vary", "t-out=176:195:4"],
               lambda est: ur.design(RUNS, vary={"t_out": (176, 195, 4)}, estimate=est).candidates),
}


@pytest.mark.parametrize("command", COMMANDS)
def test_every_table_is_the_command_lines_csv(command, est, tmp_path):
    args, call = COMMANDS[command]
    csv = tmp_path / "out.csv"
    status, _, err = cli(*args(est), "--csv", str(csv))
    assert status == 0, err
    theirs = pd.read_csv(csv)
    table = call(est)
    ours = table.to_pandas()
    assert list(ours.columns) == list(theirs.columns) == table.columns
    assert set(ours.attrs["units"]) == set(ours.attrs["meanings"]) == set(table.columns)
    assert all(ours.attrs["meanings"].values()), ours.attrs["meanings"]
    for name in theirs.columns:
        a, b = ours[name], theirs[name]
        assert (a.dtype == bool) == (b.dtype == bool), name
        assert (a.dtype == object) == (b.dtype == object), name
        if a.dtype != object:
            assert a.dtype == b.dtype, name  # int64 where pandas reads whole numbers (trays, volume)
        assert (a.isna() == b.isna()).all(), name
        if a.dtype == object:
            assert (a[a.notna()] == b[b.notna()]).all(), name
        else:
            np.testing.assert_allclose(a.astype(float), b.astype(float), rtol=5e-10, err_msg=name)


def test_the_estimates_own_tables_say_what_each_column_is():
    e = ur.estimate(RUNS, bootstrap=4, seed=2)
    tables = {"bootstrap": e.bootstrap["samples"], "region": e.region["slices"], "ellipse": e.region["ellipse"],
              "leave_one_out": e.leave_one_out, "starts": e.starts, "profile": e.parameters["a2"].profile}
    for what, table in tables.items():
        frame = table.to_pandas()
        assert set(frame.attrs["units"]) == set(frame.attrs["meanings"]) == set(frame.columns), what
        assert all(frame.attrs["meanings"].values()), (what, frame.attrs["meanings"])
    assert e.region["slices"].to_pandas()["piece"].dtype == np.int64
    assert e.starts.to_pandas().attrs["meanings"]["from_a2"] == "a2 where the start began"
    # The nested values have their declared type's fields, as their TypedDicts
    # say (Python holds the region's pieces as one table of slices).
    import json
    declared = {t["name"]: [f["name"] for f in t["fields"]] for t in json.loads(ur._core._quantities())["types"]}
    in_python = {"pieces": "slices", "linearised_ellipse": "ellipse"}
    for value, typed, name in [(e.bootstrap, ur.Bootstrap, "bootstrap"), (e.bootstrap["median"], ur.FactorPair, "factor pair"),
                               (e.region, ur.Region, "likelihood region"), (e.tuned, ur.Tuned, "tuned case"),
                               (e.tuned["a2"], ur.TunedFactor, "tuned factor")]:
        fields = {in_python.get(f, f) for f in declared[name] for f in ([f.replace("<factor>", "a1"), f.replace(
            "<factor>", "a2")] if "<factor>" in f else [f])}
        assert set(value) == set(typed.__annotations__) == fields, name


BAD = [
    (lambda est: ur.study(vary={"a2": (1, 0, -5)}), 'vary["a2"]: '),
    (lambda est: ur.estimate(RUNS, fix={"a3": 1}), 'fix["a3"]: write fix={"a1": VALUE} or fix={"a2": VALUE}'),
    (lambda est: ur.estimate(RUNS, loss="l2"), "loss: "),
    (lambda est: ur.estimate(RUNS, bootstrap=-1), "bootstrap: "),
    (lambda est: ur.fit(None, 1.5), "co2_conversion: "),
    (lambda est: ur.run(estimate=est, band="wide"), "band: "),
    (lambda est: ur.study(vary={"a2": (0.1, 1, 2)}, results=["co2_convrsion"]), "results[0]: "),
    (lambda est: ur.design(RUNS, vary={"t_out": (176, 190, 3)}, for_factor="a3"), "for_factor: "),
    (lambda est: ur.design(RUNS, vary={"t_out": (176, 190, 3)}, fix={"a1": 1}, estimate=est), 'fix and estimate='),
    (lambda est: ur.check(timeout=-1), "timeout: "),
    (lambda est: ur.Case().with_settings(a1="abc"), "a1: must be a finite number (got abc)"),
    (lambda est: ur.Case().with_settings(model="cstr"), "model: must be 'trays' or 'pfr'"),
]


@pytest.mark.parametrize("k", range(len(BAD)))
def test_bad_input_names_the_python_argument(k, est):
    call, start = BAD[k]
    with pytest.raises(ValueError) as e:
        call(est)
    assert isinstance(e.value, ur.InputError)
    assert str(e.value).startswith(start), str(e.value)
    assert "--" not in str(e.value), str(e.value)
    # The argument as the message names it, and the value given, as attributes.
    if e.value.subject is not None:
        assert str(e.value).startswith(e.value.subject + ": ") and e.value.subject.startswith(e.value.field)
    if k == 1:
        assert (e.value.field, e.value.subject, e.value.value) == ("fix", 'fix["a3"]', "a3=1")
        assert e.value.advice == ['fix={"a1": VALUE}', 'fix={"a2": VALUE}']
    elif k == 0:
        assert e.value.advice == []


def test_a_runs_frames_whole_numbers_beyond_two_to_the_53_keep_every_digit():
    # Sample numbers as run names: a double would round 2^53 + 1 to 2^53.
    runs = pd.read_csv(RUNS, comment="#")
    runs["run"] = [2**53 + 1 + 2 * i for i in range(len(runs))]
    names = ur.estimate(runs, fix={"a1": 1}).residuals.to_pandas()["run"]
    assert names.iloc[0] == "9007199254740993"


def test_advice_in_results_names_the_python_argument_with_no_markup_left():
    # A verdict or a note that advises an argument is said in Python's words
    # by the binding; one it forgets would show the library's field markup.
    d = ur.design(RUNS, vary={"t_out": (175, 190, 4), "nh3_co2": (3.0, 3.6, 3)})
    m = ur.monitor(plant_history(days=3, step_day=2), window="1D")
    texts = [*d.verdict, d._repr_html_(), m.a1["note"], m.to_json(), m._repr_html_()]
    assert 'fix={"a1": VALUE}' in d.verdict[0] and 'fix={"a1": VALUE}' in m.a1["note"]
    for t in texts:
        assert not re.search("[\x01\x02\x1f]|--fix", t), t
