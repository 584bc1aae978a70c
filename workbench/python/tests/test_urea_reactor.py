# The Python module against the command line of the same build: the same
# numbers bit for bit, the same messages; the plug-in chosen by path; Ctrl-C;
# threads.
import csv
import inspect
import math
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import urea_reactor as ur
from conftest import EXAMPLES, RUNS, cli, cli_error, cli_json

COMPONENTS = ["NH3", "CO2", "H2O", "CARB", "UREA", "O2", "N2"]


def same(a, b):
    """Equal as doubles (None in JSON is an undefined number: NaN here)."""
    return (b is None and math.isnan(a)) or a == b


def assert_run_is(r, j):
    assert same(r.co2_conversion, j["co2_conversion"])
    assert same(r.equilibrium_co2_conversion, j["equilibrium_co2_conversion"])
    for key in ("feed_kmol_h", "outlet_kmol_h", "equilibrium_kmol_h", "nc_flow_kg_h", "atom_closure"):
        assert getattr(r, key) == j[key], key
    assert (r.max_balance_residual, r.rate_calls, r.warnings) == (j["max_balance_residual"], j["rate_calls"], j["warnings"])
    p = r.profile
    assert len(p) == len(j["profile"])
    for k, s in enumerate(j["profile"]):
        assert p.volume_m3[k] == s["volume_m3"] and p.temperature_C[k] == s["temperature_C"]
        assert same(p.co2_conversion[k], s["co2_conversion"])
        assert [p["flow_" + c + "_kmol_h"][k] for c in COMPONENTS] == [s["flows_kmol_h"][c] for c in COMPONENTS]


def pfr():
    c = ur.Case.default()
    c.model = "pfr"
    c.trays = 3  # no matter for plug flow
    return c


@pytest.mark.parametrize("case, args", [
    (None, []),
    (ur.Case.default().with_settings(nh3_co2=3.2, a2=0.2), ["--nh3-co2", "3.2", "--a2", "0.2"]),
    (pfr(), ["--model", "pfr"]),
    (os.path.join(EXAMPLES, "default-case.json"), [os.path.join(EXAMPLES, "default-case.json")]),
], ids=["default", "settings", "pfr", "case-file"])
def test_run_gives_the_command_lines_numbers(case, args):
    assert_run_is(ur.run(case), cli_json(*args))


def test_case_fields_read_and_set():
    c = ur.Case.from_file(os.path.join(EXAMPLES, "default-case.json"))
    d = ur.Case.default()
    for f in ("model", "trays", "volume_m3", "pressure_bar", "inlet_temperature_C", "outlet_temperature_C",
              "a1", "a2", "nh3_co2", "h2o_co2"):
        assert getattr(c, f) == getattr(d, f), f
    assert c.feed_kmol_h == pytest.approx(d.feed_kmol_h, rel=1e-15)  # the file's 984, the ratio's 983.99...
    c.feed_kmol_h = {"CO2": 2400, "NH3": 7368}
    assert c.feed_kmol_h == dict(d.feed_kmol_h, H2O=0.0, O2=0.0, N2=0.0)
    with pytest.raises(ur.InputError) as e:
        c.model = "cstr"
    assert e.value.field == "model"
    with pytest.raises(ur.InputError, match="is no quantity of a case"):
        d.with_settings(nh3=3)
    with pytest.raises(ur.InputError, match="did you mean a2?"):
        d.with_settings(a_2=0.2)


def test_fit_gives_the_command_lines_a2():
    f = ur.fit(None, 0.6)
    j = cli_json("fit", "--co2-conversion", "0.6")
    assert (f.a2, f.co2_conversion, f.evaluations) == (j["a2"], j["co2_conversion"], j["reactor_runs"])
    assert f.run.case.a2 == f.a2 and f.run.co2_conversion == f.co2_conversion


def test_sweep_gives_the_command_lines_points():
    s = ur.sweep(vary={"a2": (0.01, 10, 5), "nh3_co2": ("lin", 2.8, 3.6, 3)})
    j = cli_json("sweep", "--vary", "a2=0.01:10:5", "--vary", "nh3_co2=lin:2.8:3.6:3")
    p = s.points
    assert len(p) == len(j["points"]) == 15 and s.rate_calls == j["rate_calls"] and s.failed == 0
    for k, q in enumerate(j["points"]):
        assert (p.a2[k], p.nh3_co2[k], p.failure[k]) == (q["a2"], q["nh3_co2"], None)
        assert (p.co2_conversion[k], p.equilibrium_co2_conversion[k]) == (q["co2_conversion"], q["equilibrium_co2_conversion"])
        assert [p["w_" + c][k] for c in ("NH3", "CO2", "UREA", "H2O")] == list(q["nc_mass_fractions"].values())
    assert list(s.to_pandas().columns) == p.columns


def runs_as_records():
    with open(RUNS, newline="") as f:
        return list(csv.DictReader(line for line in f if not line.startswith("#")))


def test_study_gives_the_command_lines_points_and_carries_a_tables_columns():
    vary = {"a2": [0.1, 0.124], "model": ["trays", "pfr"]}
    results = ["co2_conversion", "residence_time_min", "outlet_kg_h.UREA"]
    s = ur.study(vary=vary, results=results)
    j = cli_json("study", "--vary", "a2=0.1,0.124", "--vary", "model=trays,pfr", "--result", ",".join(results))
    assert len(s) == len(j["points"]) == 4
    columns = s.columns
    for k, p in enumerate(j["points"]):
        for name in results:
            assert columns[name][k] == p["results"][name], (k, name)
    assert list(columns["model"]) == ["trays", "trays", "pfr", "pfr"]
    assert s.units["residence_time_min"] == "min"
    t = ur.study(cases=[{"nh3_co2": 3.0, "tag": "A"}, {"nh3_co2": 3.4, "tag": "B"}]).to_pandas()
    assert list(t["tag"]) == ["A", "B"]
    # Warm-started from the row before: the same solution to its balance bound.
    assert t["co2_conversion"][1] == pytest.approx(ur.run(ur.Case.default().with_settings(nh3_co2=3.4)).co2_conversion, rel=1e-12)


def test_estimate_from_a_file_a_dataframe_and_records_gives_the_command_lines_estimate():
    pandas = pytest.importorskip("pandas")
    j = cli_json("estimate", RUNS, "--fix", "a1=1")
    frame = pandas.read_csv(RUNS, comment="#", float_precision="round_trip")
    for runs in (RUNS, frame, runs_as_records()):
        e = ur.estimate(runs, fix={"a1": 1})
        a2 = e.parameters["a2"]
        want = j["parameters"]["a2"]
        assert (a2.value, a2.se_ln, a2.lower95, a2.upper95) == (want["value"], want["se_ln"], want["lower95"], want["upper95"])
        assert (e.a1, e.parameters["a1"].free) == (1.0, False)
        assert (e.chi_square, e.reactor_solves) == (j["chi_square"], j["reactor_solves"])
        predicted = [m["predicted"] for run in j["runs"] for m in run["measurements"]]
        assert list(e.residuals.predicted) == predicted


def test_a_plants_workbook_read_with_pandas_estimates_as_its_table(tmp_path):
    pandas = pytest.importorskip("pandas")
    openpyxl = pytest.importorskip("openpyxl")
    # A workbook as a plant keeps it: a date beside the runs, a units row,
    # the conversion in %; the run's name read as the index.
    columns = ["run", "nh3_co2", "outlet_temperature_C", "co2_conversion", "w_UREA"]
    frame = pandas.read_csv(RUNS, comment="#", float_precision="round_trip")[columns]
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.append(["sampled"] + columns)
    sheet.append([None, None, "mol/mol", "\u00b0C", "%", "kg/kg"])
    for k, (run, ratio, t_out, conversion, urea) in enumerate(frame.itertuples(index=False)):
        cells = [ratio, t_out, 100 * conversion, urea]
        sheet.append([f"2026-03-0{k + 1} 06:00", run] + [None if math.isnan(v) else v for v in cells])
    book.save(tmp_path / "plant.xlsx")
    e = ur.estimate(pandas.read_excel(tmp_path / "plant.xlsx", index_col="run"), fix={"a1": 1})
    want = ur.estimate(frame, fix={"a1": 1})
    assert e.parameters["a2"].value == pytest.approx(want.parameters["a2"].value, rel=1e-9)
    assert list(e.residuals.run) == list(want.residuals.run)
    assert e.warnings == ["<table>:1: columns carried through and not used: sampled (2)",
                          "<table>:2: in % (the units row): co2_conversion (5); read as fractions, divided by 100"]


def test_bad_input_raises_the_command_lines_message(tmp_path):
    # A --vary: the same reason, about the argument in Python's words.
    with pytest.raises(ur.InputError) as e:
        ur.sweep(vary={"a2": (0.01, 10, 0)})
    cli_message = cli_error("sweep", "--vary", "a2=0.01:10:0")
    assert isinstance(e.value, ValueError) and e.value.field == "vary"
    assert str(e.value) == cli_message.replace("--vary a2=0.01:10:0", 'vary["a2"]')
    # A runs file's cell: placed by file, line and column.
    bad = tmp_path / "runs.csv"
    bad.write_text("run,nh3_co2,co2_conversion\nA,3.1,0.6\nB,-1,0.61\n")
    with pytest.raises(ur.InputError) as e:
        ur.estimate(bad)
    assert str(e.value) == cli_error("estimate", str(bad))
    assert (e.value.file, e.value.line, e.value.column) == (str(bad), 3, 2)
    # The same table in memory: the same checks, its rows counted as the CSV's lines.
    with pytest.raises(ur.InputError) as t:
        ur.estimate([{"run": "A", "nh3_co2": 3.1, "co2_conversion": 0.6},
                     {"run": "B", "nh3_co2": -1, "co2_conversion": 0.61}])
    assert str(t.value) == str(e.value).replace(str(bad), "<table>")
    # A case file: placed by key.
    case = tmp_path / "case.json"
    with open(os.path.join(EXAMPLES, "default-case.json")) as f:
        case.write_text(f.read().replace('"trays": 10,', '"trays": 0,'))
    with pytest.raises(ur.InputError) as e:
        ur.run(case)
    assert str(e.value) == cli_error(str(case))
    assert (e.value.key, e.value.file, e.value.line, e.value.reason) == (
        "reactor.trays", str(case), 12, "must be at least 1 (got 0)")
    # An estimate's option, and the advice, in Python's words.
    with pytest.raises(ur.InputError) as e:
        ur.estimate(RUNS, fix={"a3": 1})
    assert cli_error("estimate", RUNS, "--fix", "a3=1") == "--fix a3=1: write --fix a1=VALUE or --fix a2=VALUE"
    assert str(e.value) == 'fix["a3"]: write fix={"a1": VALUE} or fix={"a2": VALUE}'


def test_the_plugin_chosen_by_path_is_the_one_used(plugins):
    wrong = plugins["PLUGIN_WRONG_RATES"]
    r = ur.run(plugin=wrong)
    assert r.co2_conversion != ur.run().co2_conversion
    assert_run_is(r, cli_json("--plugin", wrong))
    session = ur.Session(wrong)
    assert session.plugin_file == wrong and session.run().co2_conversion == r.co2_conversion
    assert ur.run(plugin=session).co2_conversion == r.co2_conversion
    with pytest.raises(ur.SolverError) as e:
        ur.run(plugin=plugins["PLUGIN_NAN_RATES"])
    assert isinstance(e.value.details, str)
    with pytest.raises(ur.PluginError, match="does not export the routine USURA"):
        ur.Session(plugins["PLUGIN_WITHOUT_USURA"])
    # The module's own plug-in is still the default one.
    assert_run_is(ur.run(), cli_json())


def test_a_fresh_process_finds_and_checks_the_default_plugin(tmp_path):
    # From another folder, nothing loaded yet: check() loads the build in a
    # child process, which must find the host's items as a session does.
    code = "import urea_reactor as ur; c = ur.check(); print(c.ok, ur.default_plugin_path())"
    out = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True, timeout=60)
    ok, path = out.stdout.split()
    assert ok == "True", out.stdout + out.stderr
    assert path == os.path.join(os.path.dirname(os.path.realpath(os.environ["UREA_REACTOR"])), "liburea_plugin.so")


# SIGINT raises KeyboardInterrupt in the child even where it was started with
# SIGINT ignored (as a shell's background job is).
CHILD = """
import signal, time
import urea_reactor as ur
signal.signal(signal.SIGINT, signal.default_int_handler)
ur.run()
print("ready", flush=True)
start = time.monotonic()
try:
    ur.sweep(vary={"a2": (0.001, 1000, 100000)})
    print("finished")
except KeyboardInterrupt:
    print("interrupted", time.monotonic() - start)
print(ur.run().co2_conversion)
"""


def test_ctrl_c_stops_a_long_sweep_promptly():
    child = subprocess.Popen([sys.executable, "-c", CHILD], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "ready\n"
    time.sleep(0.5)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=60)
    lines = out.split()
    assert lines[0] == "interrupted", out + err
    assert float(lines[1]) < 1.5  # the whole sweep takes some 15 s
    assert float(lines[2]) == ur.run().co2_conversion  # and the workbench still works


def test_two_threads_run_at_once_and_python_goes_on_meanwhile():
    want = {"run": ur.run(ur.Case.default().with_settings(nh3_co2=3.2)).co2_conversion,
            "sweep": list(ur.sweep(vary={"a2": (0.01, 10, 400)}).points.co2_conversion)}
    got, errors = {}, []

    def work(name, call):
        try:
            for _ in range(3):
                got.setdefault(name, []).append(call())
        except Exception as e:  # pragma: no cover - reported below
            errors.append(e)

    threads = [
        threading.Thread(target=work, args=("run", lambda: ur.run(ur.Case.default().with_settings(nh3_co2=3.2)).co2_conversion)),
        threading.Thread(target=work, args=("sweep", lambda: list(ur.sweep(vary={"a2": (0.01, 10, 400)}).points.co2_conversion))),
    ]
    for t in threads:
        t.start()
    ticks = 0
    while any(t.is_alive() for t in threads):
        ticks += 1  # the GIL is free while the workbench works
        time.sleep(0.001)
    assert not errors
    assert got == {name: [value] * 3 for name, value in want.items()}
    assert ticks > 20


def test_every_class_and_function_has_help():
    assert "Threads" in ur.__doc__ and "Ctrl-C" in ur.__doc__
    for name in dir(ur):
        obj = getattr(ur, name)
        if name.startswith("_") or not (inspect.isclass(obj) or inspect.isroutine(obj)):
            continue  # the type aliases (CaseGiven, ...) are documented where they are defined
        doc = obj.__doc__ or ""
        # pybind11 puts a function's signature first: help needs more.
        assert len(doc.split("\n\n" if not isinstance(obj, type) else "\n", 1)[-1]) > 20, name
    assert ur.version() == ur.build_info()["workbench"] and ur.__version__ in ur.version()


def test_a_check_reports_as_the_command_line(plugins):
    wrong = plugins["PLUGIN_WRONG_RATES"]
    c = ur.check(wrong)
    status, out, _ = cli("check", "--plugin", wrong)
    assert (c.report(), c.ok, status) == (out, False, 2)
