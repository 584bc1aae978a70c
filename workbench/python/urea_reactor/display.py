"""How the workbench's results show themselves in Python: the command line's
reports as text, and its pictures drawn with matplotlib.

The module urea_reactor.display, imported by the extension when
urea_reactor is; matplotlib is imported only when a plot is drawn. The colours are the
command line's (report/palette.h), set as PALETTE by the extension; the
labels are its own words, in gnuplot's markup (NH_3, m^3), drawn as
matplotlib's mathtext. A plot the library describes (report/figure.h: the
run's, the monitor's, a study's and a sweep's curves and maps, the design
map, the parity, profile and region plots) is drawn by draw() from the very
description the command line's gnuplot script is written from; a design
over one setting is drawn here. Every plot() returns the Figure.
"""
import math
import re

PALETTE = {}  # set by the extension: report/palette.h


class Report(str):
    """The command line's report, as text: print(x.report) shows it, and
    x.report() gives it too (with the report's arguments where it takes
    some, e.g. design.report(top=20))."""

    def __new__(cls, text, again=None):
        self = super().__new__(cls, text)
        self._again = again
        return self

    def __call__(self, *args, **kwargs):
        if (args or kwargs) and self._again is not None:
            return Report(self._again(*args, **kwargs), self._again)
        return str(self)

    def __repr__(self):
        return str(self)

    def _repr_pretty_(self, p, cycle):
        p.text(str(self))


# ---- matplotlib ----------------------------------------------------------------


def _pyplot():
    try:
        import matplotlib.pyplot as plt
    except ImportError as e:
        raise ImportError("plot() needs matplotlib (Debian: apt-get install python3-matplotlib)") from e
    return plt


def text(markup):
    """A label in gnuplot's markup (NH_3, m^3, T_{in}) as matplotlib's mathtext."""
    if not markup:
        return ""
    s = markup.replace("$", r"\$")
    s = re.sub(r"([_^])\{([^}]*)\}", lambda m: "$" + m.group(1) + "{" + m.group(2).replace(" ", r"\ ") + "}$", s)
    s = re.sub(r"([_^])([0-9A-Za-z])", r"$\1{\2}$", s)
    return s.replace("$$", "")


def _figure(rows, columns, title, size=None):
    plt = _pyplot()
    if size is None:
        size = (6.4 * min(columns, 2) if columns > 1 else 7.5, 3.6 * rows + 0.8)
    fig, axes = plt.subplots(rows, columns, figsize=size, squeeze=False, constrained_layout=True)
    if title:
        # A smaller font where the longest line (the base case's, say)
        # would be cut at the figure's edges.
        longest = max(len(re.sub(r"\$[^$]*\$", "xx", line)) for line in title.split("\n"))
        fig.suptitle(title, fontsize="large" if longest <= 11 * size[0] else "medium")
    return fig, [a for row in axes for a in row]


def _panels(n, columns, title, size, ax, what="plot"):
    """The Figure and its n panels; one panel is drawn into `ax` when given."""
    if ax is None:
        return _figure((n + columns - 1) // columns, columns, title, size=size)
    if n != 1:
        raise ValueError(f"plot(ax=...): this {what} has {n} panels; ax= takes one (leave it out)")
    if title:
        ax.set_title(title)
    return ax.figure, [ax]


def _axes(ax, title=None, size=(7.5, 5)):
    if ax is not None:
        if title:
            ax.set_title(title)
        return ax
    plt = _pyplot()
    fig, ax = plt.subplots(figsize=size, constrained_layout=True)
    if title:
        ax.set_title(title)
    return ax


def _finite(v):
    return v is not None and not (isinstance(v, float) and math.isnan(v))


# ---- a figure described by the workbench ----------------------------------------

_DASHES = {1: "-", 2: "--", 3: ":", 4: "-."}


def _label(s, plain=False):
    return s.replace("$", r"\$") if plain else text(s)


def _set_axis(ax, a, which):
    getattr(ax, f"set_{which}label")(text(a["label"]))
    if a["scale"] == "log":
        getattr(ax, f"set_{which}scale")("log")
    low, high = a["low"], a["high"]
    if low is not None or high is not None:
        getattr(ax, f"set_{which}lim")(low, high)
    if a["ticks"]:
        import matplotlib.ticker as ticker
        axis = ax.xaxis if which == "x" else ax.yaxis
        axis.set_major_locator(ticker.FixedLocator([t["at"] for t in a["ticks"]]))
        axis.set_major_formatter(ticker.FixedFormatter([text(t["text"]) for t in a["ticks"]]))
        axis.set_minor_formatter(ticker.NullFormatter())


def _nan(values):
    return [math.nan if v is None else v for v in values]


def _draw_map(ax, m):
    """A map's colour bands between its contour lines, each labelled with
    its level, and its colour bar."""
    import numpy as np
    from matplotlib.colors import LinearSegmentedColormap
    xs, ys = m["x"], m["y"]
    grid = np.ma.masked_invalid(np.array(_nan(m["z"]), dtype=float).reshape(len(ys), len(xs)))
    X, Y = np.meshgrid(xs, ys)
    low, high, step = m["low"], m["high"], m["step"]
    lines = bool(step) and high > low
    bands = int(round((high - low) / step)) if lines else 1
    levels = [low + k * step for k in range(bands + 1)] if lines else [low - 1, high + 1]
    cmap = LinearSegmentedColormap.from_list("map", m["colours"], N=max(bands, 1))
    filled = ax.contourf(X, Y, grid, levels=levels, cmap=cmap)
    if lines:
        ax.clabel(ax.contour(X, Y, grid, levels=levels, colors="black", linewidths=0.7), fontsize=8, fmt="%g")
    ax.figure.colorbar(filled, ax=ax, label=text(m["colour"]["label"]))


def _middle(axis, values):
    """The middle of an axis as drawn: where labels turn inwards."""
    log = axis["scale"] == "log"
    v = [x for x in values if _finite(x) and (x > 0 or not log)]
    lo = axis["low"] if axis["low"] is not None else min(v, default=0)
    hi = axis["high"] if axis["high"] is not None else max(v, default=0)
    return math.sqrt(lo * hi) if log and lo > 0 and hi > 0 else (lo + hi) / 2


def _draw_panel(ax, p):
    right = None
    handles = []
    if p.get("map") is not None:
        _draw_map(ax, p["map"])
    for s in p["series"]:
        a = ax
        if s["right"]:
            right = right if right is not None else ax.twinx()
            a = right
        x, y, c = _nan(s["x"]), _nan(s["y"]), s["colour"]
        label = _label(s["title"]) if s["title"] else "_nolegend_"
        ls = _DASHES.get(s["dash"], "-")
        marker = dict(marker=s["marker"], markersize=7 * s["size"], mec=c,
                      mfc=c if s["filled"] else "none")
        how = s["how"]
        if s["sample"]:  # its line of the key alone
            if how == "band":
                h = a.fill_between([], [], [], color=c, alpha=0.3, linewidth=0, label=label)
            elif how in ("line", "hline", "vline"):
                h = a.plot([], [], color=c, lw=s["width"], ls=ls, label=label, **(marker if s["marks"] else {}))[0]
            else:
                h = a.plot([], [], ls="none", color=c, mew=s["width"], label=label, **marker)[0]
        elif how == "line":
            h = a.plot(x, y, color=c, lw=s["width"], ls=ls, label=label,
                       **(dict(marker, markevery=s["every"]) if s["marks"] else {}))[0]
        elif how == "points":
            h = a.plot(x, y, ls="none", color=c, mew=s["width"], label=label, **marker)[0]
        elif how == "error_bars":
            low, high = _nan(s["low"]), _nan(s["high"])
            h = a.errorbar(x, y, yerr=[[v - l for v, l in zip(y, low)], [u - v for v, u in zip(y, high)]], ls="none",
                           color=c, capsize=2, label=label, **marker)
        elif how == "x_error_bars":
            low, high = _nan(s["low"]), _nan(s["high"])
            h = a.errorbar(x, y, xerr=[[v - l for v, l in zip(x, low)], [u - v for v, u in zip(x, high)]], ls="none",
                           color=c, capsize=2, label=label, **marker)
        elif how == "band":
            h = a.fill_between(x, _nan(s["low"]), _nan(s["high"]), color=c, alpha=0.22, linewidth=0, label=label)
        elif how == "rings":
            h = a.plot(x, y, "o", ls="none", mfc="none", mec=c, ms=7 * s["size"], mew=s["width"], clip_on=False,
                       zorder=5, label=label)[0]
            middle = _middle(p["x"], x)
            for xi, yi, t in zip(x, y, s["labels"]):
                left = s.get("inward") and _finite(xi) and xi > middle
                a.annotate(_label(t, True), (xi, yi), xytext=((-1 if left else 1) * (3.5 * s["size"] + 4), 0),
                           textcoords="offset points", color=c, va="center", ha="right" if left else "left",
                           annotation_clip=False)
        elif how == "hline":
            h = a.axhline(y[0], color=c, lw=s["width"], ls=ls, label=label)
        elif how == "vline":
            for k, xi in enumerate(x):
                a.axvline(xi, color=c, lw=s["width"], ls=ls)
                if k < len(s["labels"]):
                    a.annotate(_label(s["labels"][k], s["plain"]), (xi, 0.86 if k % 2 else 0.94),
                               xycoords=("data", "axes fraction"), xytext=(3, 0), textcoords="offset points", color=c)
            h = a.plot([], [], color=c, lw=s["width"], ls=ls, label=label)[0]
        elif how == "foot":
            h = a.plot(x, [0.04] * len(x), ls="none", color=c, mew=s["width"], transform=a.get_xaxis_transform(),
                       clip_on=False, label=label, **marker)[0]
        else:  # key_only
            h = a.plot([], [], ls="none", label=label)[0]
        if s["title"]:
            handles.append(h)
    for n in p["notes"]:
        ax.annotate(_label(n["text"], n["plain"]), (n["x"], n["y"]), xycoords=("data", "axes fraction"),
                    color=n["colour"])
    _set_axis(ax, p["x"], "x")
    _set_axis(ax, p["y"], "y")
    if right is not None and p["y2"] is not None:
        _set_axis(right, p["y2"], "y")
    if p["title"]:
        ax.set_title(text(p["title"]))
    if p["square"]:
        ax.set_aspect("equal")
    ax.grid(p.get("map") is None)
    if handles and p["key"] != "none":
        labels = [h.get_label() for h in handles]
        where = p["key"]
        if where == "outside right":
            ax.legend(handles, labels, fontsize="small", loc="upper left", bbox_to_anchor=(1.01, 1), borderaxespad=0)
        elif where == "below":
            ax.legend(handles, labels, fontsize="small", loc="upper center", bbox_to_anchor=(0.5, -0.15),
                      ncol=min(len(handles), 4))
        else:
            ax.legend(handles, labels, fontsize="small", loc=where, framealpha=0.9)


def draw(figure, ax=None):
    """Draws a figure the workbench describes (what the command line's
    gnuplot script draws, from the same description). Returns the Figure;
    a one-panel figure is drawn into `ax` when given."""
    panels = figure["panels"]
    if ax is not None:
        if len(panels) != 1:
            raise ValueError(f"plot(ax=...): this plot has {len(panels)} panels; ax= takes one (leave it out)")
        _draw_panel(ax, panels[0])
        if figure["title"]:
            ax.set_title(text(figure["title"]) + ("\n" + text(panels[0]["title"]) if panels[0]["title"] else ""))
        return ax.figure
    columns = max(1, figure["columns"])
    rows = (len(panels) + columns - 1) // columns
    outside = any(p["key"] == "outside right" for p in panels)
    if all(p["square"] for p in panels):
        size = (4.2 * columns, 4.2 * rows + 0.6)
    elif len(panels) == 1 and panels[0].get("map") is not None:
        size = (9, 6.5)
    else:
        size = (6.4 * columns + (3 if outside else 0) if columns > 1 else 10 if outside else 7.5, 3.3 * rows + 0.8)
    fig, axes = _figure(rows, columns, text(figure["title"]), size=size)
    for a in axes[len(panels):]:
        a.set_visible(False)
    for a, p in zip(axes, panels):
        _draw_panel(a, p)
    return fig


# ---- a run --------------------------------------------------------------------


def plot_run(result, ax=None):
    """The profiles along the reactor, as `urea-reactor --plot` draws them
    (one description, drawn by both): above, the CO2 conversion (with its
    95 % band when the run was made with estimate=), the equilibrium
    conversion at the outlet and the temperature; below, the liquid's mole
    fractions. Returns the Figure (two panels, the temperature's right axis
    a third: fig.axes)."""
    return draw(result._figure, ax)


# ---- sweeps and studies ---------------------------------------------------------


def _columns(table):
    return {name: table[name] for name in table.columns}


def _log_ticks(axis, v):
    """A log axis labelled as the command line's: 1, 2 and 5 in each decade."""
    if v.get("ticks"):
        import matplotlib.ticker as ticker
        axis.set_major_locator(ticker.FixedLocator([at for at, _ in v["ticks"]]))
        axis.set_major_formatter(ticker.FixedFormatter([t for _, t in v["ticks"]]))
        axis.set_minor_formatter(ticker.NullFormatter())


def _grid_plot(result, table, info, map, ax):
    if map is not None:
        varied = [v for v in info["vars"] if len(v["values"]) > 1]
        if len(varied) != 2:
            raise ValueError(f'plot(map="{map}"): a map needs a grid of exactly two quantities with more than one '
                             f"value each (this one varies {len(varied)})")
        if not any(q["name"] == map for q in info["results"]):
            known = ", ".join(q["name"] for q in info["results"])
            raise ValueError(f'plot(map="{map}"): no result of this study (it has {known})')
        # The command line's description of the map, drawn here.
        return draw(result._map_figure(map), ax)
    # The curves: the command line's description, drawn here.
    figure = result._figure
    if not figure["panels"]:
        raise ValueError("plot(): the study tabulates no result to draw")
    return draw(figure, ax)


def _one_panel(kind, ax):
    if ax is not None:
        raise ValueError(f"plot(ax=...): the {kind} has more than one panel; ax= takes one (leave it out)")


def plot_study(result, map=None, ax=None):
    """The study's curves as `urea-reactor study --plot` draws them: each
    result against the first quantity varied (a case table: the row), one
    panel per kind of axis, one curve per value of the other quantities
    (every one drawn, told apart by colour and in the key), the 95 % bands
    shaded (estimate=), failed points crossed at the foot; one panel is
    drawn into `ax` when given.

    map="co2_conversion" (a result's name): that result as a map over a grid
    of two quantities (filled contours, labelled lines, failed points
    crossed), drawn into `ax` when given. Returns the Figure (its panels:
    fig.axes)."""
    return _grid_plot(result, result.points, result._plot_data, map, ax)


def plot_sweep(result, map=None, ax=None):
    """The sweep's curves (see StudyResult.plot): the conversion, the
    equilibrium conversion and the NC-FLOW mass fractions against the first
    variable, one curve per value of the second. map="co2_conversion" (or
    any column of points) draws a map over a grid of two, into `ax` when
    given. Returns the Figure (its panels: fig.axes)."""
    return _grid_plot(result, result.points, result._plot_data, map, ax)


# ---- an estimate ----------------------------------------------------------------


def _log_limits(values):
    lo, hi = min(values), max(values)
    pad = max(math.log(hi / lo) * 0.15, 0.02)
    return lo * math.exp(-pad), hi * math.exp(pad)


def _profiles(e, info, ax):
    figure = e._profiles_figure
    if not figure["panels"]:
        raise ValueError('plot("profiles"): no factor is free (both held with fix=)')
    return draw(figure, ax)


def _region(e, info, ax):
    if e.region is None:
        raise ValueError('plot("region"): the joint region needs both factors free')
    # The command line's description of its upper panel, drawn here.
    return draw(e._region_figure, ax)


def _parity(e, info, ax):
    return draw(e._parity_figure, ax)


def plot_estimate(e, kind="profiles", ax=None):
    """The estimate's pictures, as the command line draws them:
    kind="profiles": each free factor's profile likelihood (the objective
    above the best against the factor, the 95 % threshold, the interval's
    ends and the linearised parabola); returns the Figure (a panel per free
    factor: fig.axes). kind="region": the joint 95 % region of a1 and a2
    with the linearised ellipse, the best fit and the bootstrap's
    resamples, drawn into `ax` when given; returns the Figure. kind="parity":
    measured against predicted, one panel per kind of measurement, ± one
    standard deviation as bars, outliers ringed and named; returns the
    Figure."""
    info = e._plot_data
    if kind == "profiles":
        return _profiles(e, info, ax)
    if kind == "region":
        return _region(e, info, ax)
    if kind == "parity":
        return _parity(e, info, ax)
    raise ValueError(f'plot(kind="{kind}"): write kind="profiles", "region" or "parity"')


# ---- a design -------------------------------------------------------------------


def plot_design(d, ax=None):
    """The design map, as `urea-reactor design --map` draws it: over the two
    settings varied, how much each candidate run would shrink the factors'
    uncertainty (the ranked measure after the run, % of now: brighter is
    better), with the current runs marked and the top three candidates
    ringed and numbered; over one setting, the same as a curve; drawn into
    `ax` when given. Returns the Figure."""
    info = d._plot_data
    cols = _columns(d.candidates)
    varied = [v for v in info["vars"] if len(v["values"]) > 1]
    if len(varied) == 2:
        # The command line's description of the map, drawn here.
        return draw(d._map_figure, ax)
    rel = cols["relative"]
    relative = any(math.isfinite(v) for v in rel)
    values = [100 * v for v in rel] if relative else [math.log10(c) if c > 0 else math.nan for c in cols["criterion"]]
    what = info["measure"]
    top = d.ranking[:3]
    if len(varied) != 1:
        raise ValueError("plot(): the design map needs one or two settings varied over more than one value")
    v = varied[0]
    ax = _axes(ax, "Next test run: " + (what + " after it, % of now" if relative else "log10 of the ranking's "
                                                                                    "criterion"))
    xs = cols[v["name"]]
    ax.plot(xs, values, "o-", color=PALETTE["estimate"], lw=2, markersize=4)
    for n, k in enumerate(top, 1):
        ax.plot(xs[k], values[k], "o", mfc="none", mec=PALETTE["judged_by"], mew=2.5, ms=16)
        ax.annotate(str(n), (xs[k], values[k]), xytext=(11, 0), textcoords="offset points",
                    color=PALETTE["judged_by"], va="center")
    i = info["vars"].index(v)
    for r in info["runs"]:
        ax.axvline(r[i], color="black", lw=1, ls=":")
    ax.plot([], [], ":", color="black", label="current runs")
    if v["log"]:
        ax.set_xscale("log")
        _log_ticks(ax.xaxis, v)
    ax.set(xlabel=text(v["label"]), ylabel=(what + " after the run, % of now (smaller: better)" if relative
                                            else "log10 criterion (larger: better)"))
    ax.grid(True)
    ax.legend(fontsize="small")
    return ax.figure


# ---- a monitor ------------------------------------------------------------------


def plot_monitor(m, ax=None):
    """The monitor's time series, as `urea-reactor monitor --plot` draws
    them (one description, drawn by both), one time axis: a2 per window
    with its 95 % profile interval (an open one as a ring) and each drift a
    numbered line, told in the key; the CO2 conversion measured, predicted
    and at equilibrium (a window not fitted or not steady breaks the lines);
    the balance test's p-value per window with its threshold. Returns the
    Figure (three panels: fig.axes)."""
    return draw(m._figure, ax)
