# What a notebook shows: every result's summary and table, its report as
# text, the parameter summary as the verdict reads it, help for every
# attribute, the plots (matplotlib), and the monitor from a DataFrame.
import math
import os
import re
import subprocess
import sys

import pytest

import urea_reactor as ur
from conftest import RUNS, cli, plant_history

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


@pytest.fixture(scope="module")
def estimate():
    return ur.estimate(RUNS)


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


def test_results_show_a_summary_and_their_table_and_print_their_report(estimate):
    run = ur.run()
    sweep = ur.sweep(vary={"a2": (0.05, 0.5, 3)})
    for result, unit in ((run, "fraction"), (sweep, "fraction"), (estimate, "fraction"), (run.profile, "C")):
        html = result._repr_html_()
        assert "<table>" in html and f"<small>{unit}</small>" in html, type(result)
    for result in (run, sweep, estimate, ur.check()):
        # print(x.report) prints the report, not a bound method; x.report() still gives it.
        assert isinstance(result.report, str) and result.report == result.report() == str(result)
    assert "CO2 conversion" in run._repr_html_() and "58.04 %" in repr(run)
    d = ur.design(RUNS, vary={"t_out": (176, 192, 3)}, estimate=estimate)
    assert d.report.count("\n") < d.report(top=1).count("\n") + 3 and "<table>" in d._repr_html_()


def test_the_parameter_summary_shows_the_profile_interval_first_and_a_held_factor_as_held(estimate):
    a2 = estimate.parameters["a2"]
    low, high = a2.profile95
    shown = repr(a2)
    # The profile interval the verdict rests on, then the linearised one or why there is none.
    assert shown.index(f"95 % profile {low:.4g} .. {high:.4g}") < shown.index("linearised")
    assert (a2.linearised95 is None) == bool(a2.linearised_note)
    held = ur.estimate(RUNS, fix={"a1": 1}).parameters["a1"]
    assert "held" in repr(held) and "nan" not in repr(held).lower()
    # None for what is absent, NaN only inside arrays.
    assert (held.se_ln, held.lower95, held.upper95, held.profile95, held.linearised95) == (None,) * 5
    a1 = estimate.parameters["a1"]
    assert a1.profile95[1] is None and a1.lower95 is None and estimate.correlation is None


def test_every_public_attribute_has_help():
    for name in dir(ur):
        cls = getattr(ur, name)
        if name.startswith("_") or not isinstance(cls, type) or issubclass(cls, BaseException):
            continue
        for attr, member in vars(cls).items():
            if attr.startswith("_"):
                continue
            doc = getattr(member, "__doc__", None) or ""
            assert len(doc.strip()) > 10, f"{name}.{attr}"


def lines_of(ax):
    """The lines drawn with data (not the key's samples)."""
    return [l for l in ax.get_lines() if len(l.get_xdata())]


def test_plots_draw_the_command_lines_pictures_and_drop_no_curve(estimate):
    fig = ur.run().plot()
    assert len(fig.axes) == 3  # conversion (temperature on its right axis) and mole fractions
    # A grid of two: every value of the second a curve, in each panel.
    s = ur.sweep(vary={"t_out": (176, 192, 3), "nh3_co2": ("lin", 2.9, 3.5, 4)})
    fig = s.plot()
    assert [len(lines_of(a)) for a in fig.axes[:2]] == [2 * 4, 4 * 4]
    ax = s.plot(map="co2_conversion").axes[0]
    assert ax.get_xlabel() == "outlet temperature (°C)" and len(ax.figure.axes) == 2  # and its colour bar
    with pytest.raises(ValueError, match="no result of this study"):
        s.plot(map="co2")
    parity = estimate.plot("parity")  # a panel per kind of measurement: the conversion and four lab values
    assert sum(a.get_visible() for a in parity.axes) == 5
    assert len(estimate.plot("profiles").axes) == 2
    assert "best fit" in [l.get_label() for l in estimate.plot("region").axes[0].get_lines()]
    d = ur.design(RUNS, vary={"t_out": (176, 192, 3), "nh3_co2": ("lin", 2.9, 3.5, 3)}, estimate=estimate)
    runs = next(l for l in d.plot().axes[0].get_lines() if l.get_label().startswith("current runs"))
    assert len(runs.get_xdata()) == 8  # the runs of runs-synthetic.csv
    study = ur.study(vary={"t_out": (176, 192, 3)}, estimate=estimate)
    assert any(c.get_label().startswith("95 % band") for c in study.plot().axes[0].collections)


def test_every_plot_returns_its_figure_and_draws_one_panel_into_the_axes_given(estimate):
    from matplotlib.figure import Figure
    s = ur.sweep(vary={"a2": (0.05, 0.5, 3), "nh3_co2": (2.9, 3.5, 3)})
    one = ur.study(vary={"a2": ("log", 0.01, 10, 5), "nh3_co2": (2.9, 3.5, 3)}, results=["outlet_kmol_h.NH3"])
    d = ur.design(RUNS, vary={"t_out": (176, 192, 3)}, estimate=estimate)
    drawn = [ur.run().plot(), s.plot(), s.plot(map="co2_conversion"), one.plot(), estimate.plot("profiles"),
             estimate.plot("region"), estimate.plot("parity"), d.plot()]
    assert all(isinstance(f, Figure) for f in drawn)
    # A family of three: three colours far apart on the scale, not three neighbours.
    colours = {l.get_color() for l in lines_of(drawn[3].axes[0])}
    assert len(colours) == 3 and "#d8b600" in colours
    # The one result named on its axis; a log axis labelled between its decades.
    ax = drawn[3].axes[0]
    assert ax.get_ylabel().endswith(" out: molar flow (kmol/h)") and "0.02" in [t.get_text() for t in ax.get_xticklabels()]
    for draw in (lambda ax: one.plot(ax=ax), lambda ax: s.plot(map="co2_conversion", ax=ax),
                 lambda ax: estimate.plot("region", ax=ax), lambda ax: d.plot(ax=ax)):
        fig, ax = plt.subplots()
        assert draw(ax) is fig and ax.has_data()
    fig, ax = plt.subplots()
    with pytest.raises(ValueError, match="ax= takes one"):
        s.plot(ax=ax)
    # Beside the map, the candidates best first, whatever the order they were given in.
    given = ur.design(RUNS, vary={"t_out": [192, 184, 176]}, estimate=estimate)
    ranks = [int(r) for r in re.findall(r"<tr><td>[^<]*</td><td>(\d+)</td>", given._repr_html_())]
    assert given.ranking != [0, 1, 2] and ranks == [1, 2, 3]


def test_study_curves_and_the_region_are_drawn_by_matplotlib_from_the_description_gnuplot_draws(estimate):
    from urea_reactor import display
    s = ur.study(vary={"a2": ("log", 0.01, 10, 5), "nh3_co2": (2.9, 3.5, 3)},
                 results=["co2_conversion", "equilibrium_co2_conversion", "outlet_kmol_h.NH3"])
    drawn = [(s._figure, s.plot()), (estimate._region_figure, estimate.plot("region"))]
    for figure, fig in drawn:
        assert len(fig.axes) == len(figure["panels"])
        for ax, panel in zip(fig.axes, figure["panels"]):
            # Its ticks, and its key entry for entry.
            assert [t.get_text() for t in ax.get_xticklabels()] == [t["text"] for t in panel["x"]["ticks"]]
            assert [t.get_text() for t in ax.get_legend().get_texts()] == [
                display.text(c["title"]) for c in panel["series"] if c["title"]]
    for ax, panel in zip(drawn[0][1].axes, drawn[0][0]["panels"]):  # a fraction and a flow
        curves = [c for c in panel["series"] if c["how"] == "line" and not c["sample"]]
        assert [l.get_color() for l in lines_of(ax)] == [c["colour"] for c in curves]
    region = drawn[1][0]["panels"][0]
    assert ("and the linearised ellipse" in region["title"]) == any(c["title"] == "linearised ellipse" for c in region["series"])


def test_maps_are_drawn_by_matplotlib_from_the_description_gnuplot_draws(estimate):
    from urea_reactor import display
    s = ur.sweep(vary={"t_out": (176, 192, 3), "nh3_co2": ("lin", 2.9, 3.5, 4)})
    d = ur.design(RUNS, vary={"t_out": (176, 192, 3), "nh3_co2": ("lin", 2.9, 3.5, 3)}, estimate=estimate)
    for figure, fig in ((s._map_figure("co2_conversion"), s.plot(map="co2_conversion")), (d._map_figure, d.plot())):
        m = figure["panels"][0]["map"]
        ax, bar = fig.axes
        # The description's levels and colour bar, its axes' ranges.
        assert bar.get_ylabel() == display.text(m["colour"]["label"])
        assert bar.get_ylim() == pytest.approx((m["low"], m["high"]))
        assert ax.get_xlim() == pytest.approx((figure["panels"][0]["x"]["low"], figure["panels"][0]["x"]["high"]))
    from matplotlib.text import Annotation
    assert sorted(t.get_text() for t in fig.axes[0].texts if isinstance(t, Annotation)) == ["1", "2", "3"]


def test_the_monitor_is_drawn_by_matplotlib_from_the_description_gnuplot_draws():
    from urea_reactor import display
    m = ur.monitor(plant_history(days=12, step_day=6), fix={"a1": 1})
    figure = m._figure
    fig = m.plot()
    assert len(fig.axes) == len(figure["panels"]) == 3
    for ax, panel in zip(fig.axes, figure["panels"]):
        # The dates the description chose, and its key, entry for entry.
        assert [t.get_text() for t in ax.get_xticklabels()] == [t["text"] for t in panel["x"]["ticks"]]
        assert [t.get_text() for t in ax.get_legend().get_texts()] == [
            display.text(s["title"]) for s in panel["series"] if s["title"]]
    colours = {s["role"]: s["colour"] for s in figure["panels"][1]["series"]}
    assert len({colours["measured"], colours["prediction"], colours["equilibrium"]}) == 3
    # The drift: a numbered line, what it says in the key.
    assert "1: a2 × " in [s["title"][:8] for s in figure["panels"][0]["series"]]
    with pytest.raises(ValueError, match="ax= takes one"):
        m.plot(ax=fig.axes[0])


def test_a_monitors_drifts_and_screening_have_the_declared_fields_the_stubs_type():
    import json
    declared = {t["name"]: [f["name"] for f in t["fields"]] for t in json.loads(ur._core._quantities())["types"]}
    m = ur.monitor(plant_history(days=12, step_day=6), fix={"a1": 1})
    assert m.drifts and all(list(d) == declared["drift"] for d in m.drifts)
    assert all(list(f) == declared["screening finding"] for f in m.screening.values())
    assert all(list(t) == declared["trend"] for t in m.trends)
    assert all(list(b) == declared["meter bias span"] for b in m.meters)


def test_plot_without_matplotlib_says_what_to_install():
    code = ("import sys; sys.modules['matplotlib'] = None; import urea_reactor as ur\n"
            "try:\n    ur.run().plot()\nexcept ImportError as e:\n    print(e)")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert "apt-get install python3-matplotlib" in out.stdout, out.stdout + out.stderr


def test_a_monitor_from_a_dataframe_finds_the_step_and_gives_the_command_lines_windows(tmp_path):
    history = plant_history(days=12, step_day=6)
    m = ur.monitor(history, fix={"a1": 1})
    w = m.windows.to_pandas()
    assert type(w.index).__name__ == "DatetimeIndex" and w.index.name == "start" and len(w) == 12
    assert [d["time"] for d in m.drifts] == ["2026-01-07T00:00:00"]
    low, high = m.drifts[0]["ratio95"]
    assert low < 0.8 < high
    assert m.trends == [] and m.meters == []  # a step is no trend; every meter reads right
    assert m.screening["w_UREA"]["missing"] == 3 * 72 and "<table>" in m._repr_html_()
    assert len(m.plot().axes) == 3
    # The same history as a file: the command line's CSV columns and windows.
    path = tmp_path / "history.csv"
    history.to_csv(path, index_label="time", date_format="%Y-%m-%dT%H:%M:%S", float_format="%.12g")
    status, _, err = cli("monitor", str(path), "--fix", "a1=1", "--csv", str(tmp_path / "w.csv"))
    assert status == 0, err
    with open(tmp_path / "w.csv") as f:
        header = f.readline().strip().split(",")
    assert m.windows.columns == header
    from_file = ur.monitor(path, fix={"a1": 1}, window="1d")
    assert list(from_file.windows.a2) == pytest.approx(list(m.windows.a2), rel=1e-9)
    # The times as a column: the same; a bad duration in Python's words.
    assert len(ur.monitor(history.reset_index(names="time"), fix={"a1": 1}).windows) == 12
    with pytest.raises(ur.InputError, match='^window="1day": write a duration'):
        ur.monitor(history, window="1day")
