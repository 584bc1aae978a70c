# A plant history's columns the monitor does not use, said as a Python
# warning as well as in the summary; its counts of windows add up.
import warnings

import pytest

import urea_reactor as ur


def test_a_column_of_no_known_name_warns_and_the_counts_add_up(tmp_path):
    # CO2_flow: the CO2 meter misspelt past a guess; a pressure below 1 bar
    # throughout (in no unit's way) screened out; nothing to solve.
    rows = ["time,CO2_flow,pressure_bar,w_UREA"]
    for h in range(48):
        rows.append(f"2026-03-{1 + h // 24:02d}T{h % 24:02d}:00,2400,0.5," + ("0.35" if h % 4 == 0 else ""))
    path = tmp_path / "h.csv"
    path.write_text("\n".join(rows) + "\n")
    with pytest.warns(UserWarning, match=r"columns not used: CO2_flow \(2\); the case's value in every window"):
        m = ur.monitor(path, fix={"a1": 1})
    s = m.summary
    assert s["without_values"] == 2
    assert s["windows"] == sum(s[k] for k in ("fitted", "not_steady", "without_lab", "unsolved", "without_rows",
                                              "without_values", "invalid_case"))
    # A history whose every column is known: no warning.
    path.write_text("\n".join(r.replace("CO2_flow", "feed_kmol_h.CO2") for r in rows) + "\n")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        ur.monitor(path, fix={"a1": 1})


def test_a_dataframe_of_any_number_types_gives_the_windows_of_its_csv(tmp_path):
    # Its numbers go over as numbers (not as text): floats with gaps, whole
    # numbers, pandas' nullable integers, times in a time zone (the CSV
    # written by pandas, floats as their repr); the windows the same bits.
    import pandas as pd
    from conftest import plant_history
    h = plant_history(days=3, step_day=2)
    h.index = h.index.tz_localize("Europe/Amsterdam")
    h["feed_kmol_h.NH3"] = h["feed_kmol_h.NH3"].round().astype("int64")
    h["feed_kmol_h.H2O"] = (10 * h["feed_kmol_h.H2O"]).round().astype("Int64") / 10
    h.loc[h.index[5], "feed_kmol_h.H2O"] = pd.NA
    path = tmp_path / "h.csv"
    h.to_csv(path, index_label="time")
    from_frame = ur.monitor(h, fix={"a1": 1})
    from_file = ur.monitor(path, fix={"a1": 1})
    assert sum(from_frame.windows.fitted) == 4  # the day before, in UTC, and three more
    assert from_frame.windows.to_pandas().equals(from_file.windows.to_pandas())
    assert from_frame.screening == from_file.screening
