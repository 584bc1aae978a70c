# A plant watched from Python: ur.watch as the command, ur.Store's DataFrames
# with the command line's CSV columns and the schema's units.
import io

import pandas as pd

import urea_reactor as ur
from conftest import cli


def history(path, days, step_day=None):
    # A short synthetic history from the rows of a hand-made day: hourly
    # rows, a lab sample every 4 h; a2's step shows as a lower urea.
    rows = ["time,feed_kmol_h.CO2,feed_kmol_h.NH3,feed_kmol_h.H2O,outlet_temperature_C,pressure_bar,w_NH3,w_CO2,w_H2O,w_UREA"]
    for h in range(24 * days):
        low = step_day is not None and h >= 24 * step_day
        lab = ",0.30,0.16,0.18,0.36" if not low else ",0.31,0.175,0.17,0.345"
        rows.append(f"2026-03-{1 + h // 24:02d}T{h % 24:02d}:00Z,{2400 + (h * 7) % 11},{7368 + (h * 5) % 13},984,"
                    f"{183 + 0.1 * ((h * 3) % 5)},145" + (lab if h % 4 == 0 else ",,,,"))
    path.write_text("\n".join(rows) + "\n")


def test_a_store_kept_from_python_reads_back_as_the_command_line_writes_it(tmp_path):
    path, store = tmp_path / "h.csv", tmp_path / "plant.db"
    history(path, 6)
    first = ur.watch(path, store, fix={"a1": 1}, stale="10000d")
    assert (first["windows_new"], first["followed_to"]) == (5, "2026-03-06T00:00:00Z")
    history(path, 9)
    second = ur.watch(path, store, fix={"a1": 1}, stale="10000d")
    assert second["rows_read"] == 72 and second["windows_new"] == 3
    # Read while a pass would hold the store's write lock: reading takes none.
    import sqlite3
    writer = sqlite3.connect(store, isolation_level=None)
    writer.execute("BEGIN IMMEDIATE")
    s = ur.Store(store)
    assert len(s.windows) == 8
    writer.execute("ROLLBACK")
    status, out, err = cli("watch", "--store", str(store), "--csv", "-")
    assert status == 0, err
    csv = pd.read_csv(io.StringIO(out))
    assert list(s.windows.reset_index().columns) == list(csv.columns)
    assert len(s.windows) == len(csv) == 8
    assert s.windows.attrs["units"]["approach"] == "fraction"
    assert list(s.meters.columns) == ["column", "start", "end", "found", "windows", "bias", "bias95_lower", "bias95_upper"]
    assert s.meters.attrs["units"]["bias95_lower"] == "fraction"
    assert "state" in s.alerts.columns and "8 windows" in repr(s)
    # The store's setup is its first pass's.
    try:
        ur.watch(path, store, fix={"a1": 1}, window="12h")
    except ur.InputError as e:
        assert "--window 12h (the store's: 24h)" in str(e)
    else:
        raise AssertionError("another window was taken")


def test_a_store_served_from_a_notebook(tmp_path):
    import json
    import os
    import urllib.request

    import pytest
    program = os.environ["UREA_REACTOR"]
    if cli("serve", "--help")[0] != 0:
        pytest.skip("this urea-reactor is built without serve")
    path, store = tmp_path / "h.csv", tmp_path / "plant.db"
    history(path, 4)
    ur.watch(path, store, fix={"a1": 1}, stale="10000d")
    with ur.serve(store, program=program) as s:
        with urllib.request.urlopen(s.url + "api/v1/status", timeout=10) as answer:
            assert json.loads(answer.read())["passes"] == 1
    assert s.process.poll() is not None
    with pytest.raises(ur.InputError, match="token"):
        ur.serve(store, program=program, listen="0.0.0.0:8089")
