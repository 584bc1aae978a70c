# urea_reactor: the urea reactor workbench (urea-reactor) from Python; its
# help is the extension's (urea_reactor._core). The functions here are typed
# front doors to the extension: they name a misspelt keyword, read durations
# in pandas' words and bound the wait on an executor, then call it, and
# return its results (Result, StudyResult, ...) as they are.
from __future__ import annotations

from concurrent.futures import Executor
from typing import Any, Callable, Optional, Sequence, Union, overload

from . import _core
from ._arguments import (CaseGiven, Duration, EstimateGiven, ExecutorLost, FilePath, Plugin, Progress, Rows, Values, Vary,
                         bounded, checked_keywords, duration)
from ._core import (CheckResult, Case, DesignResult, EstimateResult, FitResult, InputError, MonitorResult, Parameter,
                    PluginError, PlotError, ResourceError, Result, Session, SolverError, StudyResult, SweepResult, Table,
                    WorkerError, _run_chunks)
from ._nested import Bootstrap, BuildInfo, DesignEstimate, FactorPair, InputFile, Metadata, Region, Tuned, TunedFactor

__doc__ = _core.__doc__
__version__: str = _core.__version__

__all__ = [
    "Case", "Session", "Table",
    "Result", "FitResult", "SweepResult", "StudyResult", "EstimateResult", "Parameter", "DesignResult",
    "MonitorResult", "CheckResult",
    "InputError", "SolverError", "PluginError", "PlotError", "WorkerError", "ResourceError", "ExecutorLost",
    "run", "fit", "sweep", "study", "estimate", "design", "monitor", "check", "watch", "Store", "serve",
    "results", "cores", "version", "build_info", "default_plugin_path", "session",
    "CaseGiven", "Duration", "EstimateGiven", "FilePath", "Plugin", "Progress", "Rows", "Values", "Vary",
    "Bootstrap", "BuildInfo", "DesignEstimate", "FactorPair", "InputFile", "Metadata", "Region", "Tuned", "TunedFactor",
    "__version__",
]

#: How long a call waits for any task it sent to an executor, by default, in seconds.
EXECUTOR_TIMEOUT = 600.0

_WORKERS_DOC = """\
jobs : int, optional
    Worker processes forked for the work (None: 1, in this process).
executor : concurrent.futures.Executor, optional
    Where the work's chunks are sent instead: a ProcessPoolExecutor, a Dask
    client's ``get_executor()``, ``mpi4py.futures``; the results are the same
    to the last bit.
executor_timeout : float, optional
    The longest wait, in seconds, for the next task to come back from the
    executor (default 600; None: for ever). Past it the call raises
    ExecutorLost: an executor whose workers are all gone never answers.
progress : callable or bool, optional
    ``progress(done, total)`` after each point or window; True for a tqdm bar
    where tqdm is installed, else a line on stderr."""


def _doc(text: str) -> str:
    return text.replace("{workers}", _WORKERS_DOC)


@checked_keywords
def run(case: CaseGiven = None, *, estimate: EstimateGiven = None, band: Optional[str] = None,
        carry_factors: bool = False, plugin: Plugin = None) -> Result:
    return _core.run(case, estimate=estimate, band=band, carry_factors=carry_factors, plugin=plugin)


run.__doc__ = """Runs a case: the profile, the outlet, the equilibrium at the outlet and the outlet's NC-FLOW.

Parameters
----------
case : Case, str or os.PathLike, optional
    The case, or a case file's path (None: the built-in default case).
estimate : EstimateResult, str or os.PathLike, optional
    An estimate, or an estimate file's path (``e.to_json()`` saved, or what
    ``urea-reactor estimate --json`` writes): the case runs at its a1 and a2,
    and ``result.bands`` gives each result's 95 % band from the factors'
    uncertainty.
band : {'profile', 'linearised'}, optional
    With estimate: the range over the likelihood region (where the estimate
    has it) or the delta method; ``result.band`` says which.
carry_factors : bool, default False
    With estimate: use its factors on a case that differs from the one they
    were tuned on (its reactor, property tables, or feed beyond the NH3/CO2
    and H2O/CO2 ratios), which raises InputError without it.
plugin : str, os.PathLike or Session, optional
    Another plug-in build (default: the module's).

Returns
-------
Result
    ``co2_conversion``, ``profile`` (a Table), ``outlet_kmol_h``, ...

Raises
------
InputError
    A bad case or option.
SolverError
    The reactor has no solution.
PluginError
    The plug-in does not load.

Example
-------
>>> import urea_reactor as ur
>>> r = ur.run(ur.Case.default().with_settings(nh3_co2=3.2))
>>> round(r.co2_conversion, 2) > 0.5
True
"""


@checked_keywords
def fit(case: CaseGiven, co2_conversion: float, *, plugin: Plugin = None) -> FitResult:
    return _core.fit(case, co2_conversion, plugin=plugin)


fit.__doc__ = """Finds the a2 that gives an outlet CO2 conversion, the case's other values kept.

a2 is scanned over decades, then narrowed (TOMS 748 on ln a2); of two a2
that reach the target, the one nearer the case's a2 is ``a2``, both are in
``solutions``.

Parameters
----------
case : Case, str or os.PathLike or None
    The case, a case file's path, or None for the default case.
co2_conversion : float
    The outlet CO2 conversion wanted, a fraction.
plugin : str, os.PathLike or Session, optional
    Another plug-in build (default: the module's).

Returns
-------
FitResult
    ``a2``, ``solutions``, ``case`` (with the a2 found), ``run``.

Raises
------
InputError
    A target above what any a2 reaches, or a bad case.
SolverError
    The reactor has no solution.

Example
-------
>>> f = ur.fit(None, 0.6)
>>> f.case.a2 == f.a2
True
"""


@overload
def sweep(case: CaseGiven = None, vary: Optional[Vary] = None, *, estimate: None = None, band: Optional[str] = None,
          carry_factors: bool = False, jobs: Optional[int] = None, executor: Optional[Executor] = None,
          executor_timeout: Optional[float] = EXECUTOR_TIMEOUT, progress: Progress = None,
          plugin: Plugin = None) -> SweepResult: ...


@overload
def sweep(case: CaseGiven = None, vary: Optional[Vary] = None, *, estimate: Union[EstimateResult, FilePath],
          band: Optional[str] = None, carry_factors: bool = False, jobs: Optional[int] = None, executor: Optional[Executor] = None,
          executor_timeout: Optional[float] = EXECUTOR_TIMEOUT, progress: Progress = None,
          plugin: Plugin = None) -> StudyResult: ...


@checked_keywords
def sweep(case: CaseGiven = None, vary: Optional[Vary] = None, *, estimate: EstimateGiven = None,
          band: Optional[str] = None, carry_factors: bool = False, jobs: Optional[int] = None, executor: Optional[Executor] = None,
          executor_timeout: Optional[float] = EXECUTOR_TIMEOUT, progress: Progress = None,
          plugin: Plugin = None) -> Union[SweepResult, StudyResult]:
    return _core.sweep(case, vary, estimate=estimate, band=band, carry_factors=carry_factors, jobs=jobs,
                       executor=bounded(executor, executor_timeout), progress=progress, plugin=plugin)


sweep.__doc__ = _doc("""Runs the reactor over a grid of one or two case quantities.

A point the reactor cannot solve is recorded and the sweep goes on.

Parameters
----------
case : Case, str or os.PathLike, optional
    The base case, or a case file's path (None: the default case).
vary : dict or list of str
    One or two entries NAME: (FROM, TO, N) or (SPACING, FROM, TO, N) with
    SPACING 'log' or 'lin' (a1 and a2 are spaced evenly in ln by default,
    anything else evenly), or NAME: "FROM:TO:N"; or a list of
    "NAME=FROM:TO:N" as the command line's --vary. NAME: a1, a2, trays,
    volume, pressure, t_in, t_out, co2, nh3_co2, h2o_co2,
    feed_kmol_h.<component> or a runs file's column name.
estimate : EstimateResult, str or os.PathLike, optional
    Each result with its 95 % band, as for run().
band : {'profile', 'linearised'}, optional
    The bands' way, as for run().
carry_factors : bool, default False
    As for run().
{workers}
plugin : str, os.PathLike or Session, optional
    Another plug-in build (default: the module's).

Returns
-------
SweepResult or StudyResult
    A SweepResult (``points``, a Table; ``to_pandas()``); with estimate, a
    StudyResult of the same grid, each result with its band.

Raises
------
InputError
    A bad case, range or name.
ExecutorLost
    No task came back from the executor within executor_timeout.

Example
-------
>>> s = ur.sweep(vary={"a2": (0.01, 10, 7)})
>>> len(s.points)
7
""")


@checked_keywords
def study(case: CaseGiven = None, *, vary: Optional[Vary] = None, cases: Optional[Rows] = None,
          results: Union[str, Sequence[str], None] = None, name: str = "<table>", estimate: EstimateGiven = None,
          band: Optional[str] = None, carry_factors: bool = False, jobs: Optional[int] = None, executor: Optional[Executor] = None,
          executor_timeout: Optional[float] = EXECUTOR_TIMEOUT, progress: Progress = None,
          plugin: Plugin = None) -> StudyResult:
    return _core.study(case, vary=vary, cases=cases, results=results, name=name, estimate=estimate, band=band,
                       carry_factors=carry_factors, jobs=jobs, executor=bounded(executor, executor_timeout), progress=progress, plugin=plugin)


study.__doc__ = _doc("""Runs the reactor over a grid of any number of case quantities, or over a table of cases.

Each point is warm-started from its nearest solved neighbour; one that fails
is recorded and the study goes on.

Parameters
----------
case : Case, str or os.PathLike, optional
    The base case, or a case file's path (None: the default case).
vary : dict or list of str, optional
    NAME: values, every combination run (the first fastest): a tuple is a
    range (FROM, TO, N) or (SPACING, FROM, TO, N) with SPACING 'log' or 'lin'
    (a1 and a2 in ln by default), a list the values themselves ([2.8, 3.1,
    3.4]; model: ["trays", "pfr"]), a str the command line's "FROM:TO:N" or
    "V1,V2".
cases : str, os.PathLike, pandas.DataFrame or list of dict, optional
    Instead of vary, a case table with a runs file's setting columns and a1,
    a2, model; other columns are carried through.
results : str or list of str, optional
    The results by name (see results()); default the conversion, the
    equilibrium conversion and the NC-FLOW mass fractions.
name : str, optional
    What stands for a table in memory in messages.
estimate : EstimateResult, str or os.PathLike, optional
    Each point at the estimate's a1 and a2, each result's 95 % band beside it
    (NAME_low, NAME_high).
band : {'profile', 'linearised'}, optional
    The bands' way, as for run().
carry_factors : bool, default False
    As for run().
{workers}
plugin : str, os.PathLike or Session, optional
    Another plug-in build (default: the module's).

Returns
-------
StudyResult
    ``columns`` (a Table: the settings, the carried columns, each result,
    ok, failure) and ``to_pandas()``.

Raises
------
InputError
    A bad case, range, table or result name.
ExecutorLost
    No task came back from the executor within executor_timeout.

Example
-------
>>> s = ur.study(vary={"t_out": (176, 192, 5), "nh3_co2": [2.8, 3.4]})
>>> len(s)
10
""")


@checked_keywords
def estimate(runs: Rows, case: CaseGiven = None, *, fix: Optional[Values] = None, loss: str = "none",
             name: str = "<table>", bootstrap: int = 0, seed: Optional[int] = None, jobs: Optional[int] = None,
             executor: Optional[Executor] = None, executor_timeout: Optional[float] = EXECUTOR_TIMEOUT,
             progress: Progress = None, plugin: Plugin = None) -> EstimateResult:
    return _core.estimate(runs, case, fix=fix, loss=loss, name=name, bootstrap=bootstrap, seed=seed, jobs=jobs,
                          executor=bounded(executor, executor_timeout), progress=progress, plugin=plugin)


estimate.__doc__ = _doc("""Estimates a1 and a2 from plant test runs, with their uncertainty and a verdict in plain words.

Parameters
----------
runs : str, os.PathLike, pandas.DataFrame or list of dict
    A runs file's path (CSV, docs/runs-files.md), or a table with its
    columns (a missing key, None or NaN: not given), checked as the CSV file
    it would be written as: its header is line 1.
case : Case, str or os.PathLike, optional
    The base case (default: the built-in one), whose a1 and a2 are where the
    search starts.
fix : dict or list of str, optional
    ``{"a1": VALUE}`` and/or ``{"a2": VALUE}`` holds a factor.
loss : {'none', 'huber', 'cauchy'}, optional
    Least squares, or a robust loss.
name : str, optional
    What stands for a table in memory in messages.
bootstrap : int, optional
    Resamples of the runs (0: none), drawn with `seed`.
seed : int, optional
    The bootstrap's seed.
{workers}
plugin : str, os.PathLike or Session, optional
    Another plug-in build (default: the module's).

Returns
-------
EstimateResult
    The profile intervals, the joint region, each run left out, the
    bootstrap and the tuned case; ``write_case(path)``,
    ``write_report(path)`` and ``to_json()`` write what the command line's
    --write-case, --report and --json do.

Raises
------
InputError
    Bad runs (naming file, line and column) or options.
SolverError
    A run has no solution at the start, or no start gives a usable fit.
ExecutorLost
    No task came back from the executor within executor_timeout.

Example
-------
>>> e = ur.estimate("examples/runs-synthetic.csv", fix={"a1": 1})
>>> e.parameters["a1"].held
True
""")


@checked_keywords
def design(runs: Rows, case: CaseGiven = None, *, vary: Optional[Vary] = None, cases: Optional[Rows] = None,
           estimate: EstimateGiven = None, fix: Optional[Values] = None,
           measure: Union[str, Sequence[str], None] = None, for_factor: Optional[str] = None,
           name: str = "<table>", jobs: Optional[int] = None, executor: Optional[Executor] = None,
           executor_timeout: Optional[float] = EXECUTOR_TIMEOUT, progress: Progress = None,
           plugin: Plugin = None) -> DesignResult:
    return _core.design(runs, case, vary=vary, cases=cases, estimate=estimate, fix=fix, measure=measure,
                        for_factor=for_factor, name=name, jobs=jobs, executor=bounded(executor, executor_timeout),
                        progress=progress, plugin=plugin)


design.__doc__ = _doc("""Designs the next test run: ranks the runs the operator could make by how much each would shrink the uncertainty of a1 and a2.

Parameters
----------
runs : str, os.PathLike, pandas.DataFrame or list of dict
    The current runs, as for estimate().
case : Case, str or os.PathLike, optional
    Their base case.
vary : dict or list of str, optional
    The candidates, as study() takes them: ranges or lists of the settings
    the operator may change.
cases : str, os.PathLike, pandas.DataFrame or list of dict, optional
    Instead of vary, a case table of candidates.
estimate : EstimateResult, str or os.PathLike, optional
    The current estimate (None: estimated here, the fit alone).
fix : dict or list of str, optional
    Holds a factor, as for estimate().
measure : str or list of str, optional
    What the next run would measure (names, or 'all'; default what most
    current runs measure).
for_factor : {'a1', 'a2'}, optional
    Rank by that factor's expected interval alone (default D-optimal).
name : str, optional
    What stands for a table in memory in messages.
{workers}
plugin : str, os.PathLike or Session, optional
    Another plug-in build (default: the module's).

Returns
-------
DesignResult
    ``candidates`` (a Table: settings, rank, relative, expected intervals),
    ``ranking``, ``verdict`` in words.

Raises
------
InputError
    Bad runs, candidates or options.
ExecutorLost
    No task came back from the executor within executor_timeout.

Example
-------
>>> d = ur.design("examples/runs-synthetic.csv", fix={"a1": 1}, vary={"t_out": (176, 192, 5)})
>>> len(d.candidates)
5
""")


@checked_keywords
def monitor(history: Rows, case: CaseGiven = None, *, window: Duration = "24h", step: Optional[Duration] = None,
            fix: Optional[Values] = None, meter_sigma: Optional[Values] = None, frozen: Optional[Duration] = None,
            sort: bool = False, name: str = "<table>", jobs: Optional[int] = None,
            executor: Optional[Executor] = None, executor_timeout: Optional[float] = EXECUTOR_TIMEOUT,
            progress: Progress = None, plugin: Plugin = None) -> MonitorResult:
    return _core.monitor(history, case, window=duration(window), step=duration(step), fix=fix,
                         meter_sigma=meter_sigma, frozen=duration(frozen), sort=sort, name=name, jobs=jobs,
                         executor=bounded(executor, executor_timeout), progress=progress, plugin=plugin)


monitor.__doc__ = _doc("""Follows the reactor through a plant history: a2 window by window, the approach to equilibrium, the feed meters against the lab, and where a2 changed.

Durations are the workbench's ("24h", "8h", "7d", "90min"), pandas'
aliases ("1D", "15min", "15T", "1H"), or a datetime.timedelta or
pandas.Timedelta.

Parameters
----------
history : str, os.PathLike, pandas.DataFrame or list of dict
    A history file's path (CSV: a runs file's columns and a `time` column,
    docs/monitor.md), or a table with the same columns, its times as a
    DatetimeIndex or a `time` column.
case : Case, str or os.PathLike, optional
    The base case (the reactor; its a1 unless held).
window : str or datetime.timedelta, optional
    The windows' length (default "24h").
step : str or datetime.timedelta, optional
    How far each window starts after the one before (default: the window).
fix : dict or list of str, optional
    ``{"a1": VALUE}`` holds a1 (default: estimated once from the steady
    windows).
meter_sigma : dict or list of str, optional
    Each feed meter's relative uncertainty in per cent,
    ``{"feed_kmol_h.CO2": 2}`` (default 1).
frozen : str or datetime.timedelta, optional
    How long a sensor may repeat one value before it counts as frozen
    (default "6h").
sort : bool, optional
    Put rows out of time order in order instead of refusing them.
name : str, optional
    What stands for a table in memory in messages.
{workers}
plugin : str, os.PathLike or Session, optional
    Another plug-in build (default: the module's).

Returns
-------
MonitorResult
    ``windows`` (a Table; ``windows.to_pandas()`` with a DatetimeIndex),
    ``drifts``, ``screening``, ``plot()``.

Raises
------
InputError
    A bad history (file, line and column) or option.
ExecutorLost
    No task came back from the executor within executor_timeout.

Example
-------
>>> m = ur.monitor("history.csv", fix={"a1": 1}, window="1D")  # doctest: +SKIP
>>> m.windows.to_pandas()  # doctest: +SKIP
""")


@checked_keywords
def watch(source: FilePath, store: Union[str, FilePath], case: CaseGiven = None, *, window: Optional[Duration] = None,
          step: Optional[Duration] = None, fix: Optional[Values] = None, meter_sigma: Optional[Values] = None,
          frozen: Optional[Duration] = None, reread: bool = False, dry_run: bool = False,
          pending: Optional[Duration] = None, lab_gap: Optional[Duration] = None, stale: Optional[Duration] = None,
          approach_below: Optional[float] = None, smtp: Optional[str] = None, mail_from: Optional[str] = None,
          mail_to: Union[None, str, Sequence[str]] = None, webhook: Optional[str] = None, jobs: Optional[int] = None,
          plugin: Plugin = None) -> dict[str, Any]:
    import json
    import os
    return json.loads(_core.watch(os.fspath(source), os.fspath(store), case, window=duration(window), step=duration(step),
                                  fix=fix, meter_sigma=meter_sigma, frozen=duration(frozen), reread=reread,
                                  dry_run=dry_run, pending=duration(pending), lab_gap=duration(lab_gap),
                                  stale=duration(stale), approach_below=approach_below, smtp=smtp, mail_from=mail_from,
                                  mail_to=mail_to, webhook=webhook, jobs=jobs, plugin=plugin))


watch.__doc__ = _doc("""One pass of watch: what is new in a plant's history kept in a store, the monitor followed to the last complete window, the alerts raised and sent.

As ``urea-reactor watch SOURCE --store STORE``: the case and the monitor's
options are fixed at the store's first pass (given again, they must be the
same); a row already read that changed is refused unless ``reread``.

Parameters
----------
source : str or os.PathLike
    A history file that grows (rows appended), or a folder of exports.
store : str or os.PathLike
    An SQLite file (made at the first pass) or ``postgresql://...``.
case : Case, str or os.PathLike, optional
    The base case, at the first pass.
window, step, frozen : str or datetime.timedelta, optional
    As for monitor(), at the first pass.
fix, meter_sigma : dict or list of str, optional
    As for monitor(), at the first pass.
reread : bool, optional
    Read the source again from its start.
dry_run : bool, optional
    Make the pass and report it; keep nothing, send nothing.
pending, lab_gap, stale : str or datetime.timedelta, optional
    How long an alert's condition holds before it fires (default 0); no
    lab sample for longer than this (default "12h"); no new row for longer
    than this (default two windows).
approach_below : float, optional
    Alert when the latest window's approach to equilibrium is below this.
smtp, mail_from, mail_to, webhook : str, optional
    Where the alerts are sent: an SMTP server's URL and the addresses, a
    webhook's URL.
jobs : int, optional
    Worker processes for the window fits.
plugin : str, os.PathLike or Session, optional
    Another plug-in build.

Returns
-------
dict
    The pass: ``read`` (what was read), ``rows_read``, ``followed``,
    ``followed_to``, ``windows``, ``windows_new``, ``windows_changed``,
    ``changes`` (each alert's change of state), ``delivered``.

Raises
------
InputError
    A bad source (file, line and column), option or store; the store held
    by another watcher.

Example
-------
>>> p = ur.watch("plant.csv", "plant.db", fix={"a1": 1})  # doctest: +SKIP
>>> p["windows_new"]  # doctest: +SKIP
14
""")


class Store:
    """A store that watch keeps: its windows, drifts, trends, meters and alerts as pandas DataFrames.

    The windows have the command line's CSV columns, with their units and
    meanings in ``attrs``; the others have the fields of ``urea-reactor
    quantities`` (an interval ``[lower, upper]`` as two columns,
    NAME_lower and NAME_upper). What the store holds is read when the Store
    is made and again at ``refresh()``.

    Parameters
    ----------
    store : str or os.PathLike
        An SQLite file or ``postgresql://...``.

    Raises
    ------
    InputError
        No such store, or one of a newer build.

    Example
    -------
    >>> s = ur.Store("plant.db")  # doctest: +SKIP
    >>> s.alerts[s.alerts.state == "firing"]  # doctest: +SKIP
    """

    def __init__(self, store: Union[str, FilePath]) -> None:
        import os
        self.name = os.fspath(store)
        self.document: dict[str, Any] = {}
        self.refresh()

    def refresh(self) -> "Store":
        """Reads the store again (after a pass of watch).

        Returns
        -------
        Store
            This store.

        Example
        -------
        >>> s.refresh().windows  # doctest: +SKIP
        """
        import json
        self.document = json.loads(_core._store_document(self.name))
        return self

    @property
    def windows(self) -> Any:
        """The windows, one row each: monitor's --csv columns, start as the DatetimeIndex."""
        if not self.document.get("windows"):
            import pandas  # type: ignore[import]  # optional, and untyped
            return pandas.DataFrame()
        return _core._store_windows(self.name).to_pandas()

    @property
    def drifts(self) -> Any:
        """Where a2 changed: factor, time, ratio, ratio95_lower, ratio95_upper, p_value."""
        return _frame(self.document.get("drifts", []), "drift")

    @property
    def trends(self) -> Any:
        """Where a2 moved steadily: start, end, windows, from, to, rate_per_day and its interval."""
        return _frame(self.document.get("trends", []), "trend")

    @property
    def meters(self) -> Any:
        """The spans over which a meter or a lab quantity read wrong, with the bias and its interval."""
        return _frame(self.document.get("meters", []), "meter bias span")

    @property
    def alerts(self) -> Any:
        """Every alert, open and resolved: kind, subject, state, times, its windows, summary, evidence."""
        return _frame(self.document.get("alerts", []), "alert")

    def __repr__(self) -> str:
        open_ = sum(1 for a in self.document.get("alerts", []) if a["state"] != "resolved")
        return (f"Store({self.name!r}: {len(self.document.get('windows', []))} windows, "
                f"{self.document.get('store', {}).get('passes', 0)} passes, {open_} open alerts)")


class Server:
    """A running ``urea-reactor serve``: its page at ``url``; ``stop()`` ends it (so does leaving a with block)."""

    def __init__(self, process: Any, url: str) -> None:
        self.process, self.url = process, url

    def stop(self) -> None:
        """Ends the server and waits for it."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except Exception:
                self.process.kill()
                self.process.wait()

    def __enter__(self) -> "Server":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.stop()

    def __repr__(self) -> str:
        return f"Server({self.url!r}, {'running' if self.process.poll() is None else 'stopped'})"

    def _repr_html_(self) -> str:
        import html
        return f'<a href="{html.escape(self.url)}" target="_blank">{html.escape(self.url)}</a> (urea-reactor serve)'


def serve(store: Union[str, FilePath], *, listen: Optional[str] = None, token_file: Optional[FilePath] = None,
          program: Optional[FilePath] = None, timeout: float = 30.0) -> Server:
    """Serves a store that watch keeps as the live page and its JSON API, from a notebook.

    Starts ``urea-reactor serve`` (read-only) and returns once it answers.

    Parameters
    ----------
    store : str or os.PathLike
        An SQLite file or ``postgresql://...``.
    listen : str, optional
        HOST:PORT (default: 127.0.0.1 and a free port). Another host than the
        loopback needs a token_file.
    token_file : str or os.PathLike, optional
        The access token every request must present.
    program : str or os.PathLike, optional
        The urea-reactor to run (default: the one beside the plug-in, or on PATH).
    timeout : float, optional
        Seconds to wait for it to start.

    Returns
    -------
    Server
        ``url`` (open it in a browser), ``stop()``; a context manager.

    Raises
    ------
    InputError
        It did not start: its message.

    Example
    -------
    >>> with ur.serve("plant.db") as s:  # doctest: +SKIP
    ...     print(s.url)
    """
    import os
    import selectors
    import shutil
    import socket
    import subprocess
    if program is None:
        beside = os.path.join(os.path.dirname(os.path.dirname(default_plugin_path())), "bin", "urea-reactor")
        program = beside if os.access(beside, os.X_OK) else shutil.which("urea-reactor")
        if program is None:
            raise InputError("serve: no urea-reactor found (give program=)")
    if listen is None:
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            listen = f"127.0.0.1:{s.getsockname()[1]}"
    command = [os.fspath(program), "serve", "--store", os.fspath(store), "--listen", listen]
    if token_file is not None:
        command += ["--token-file", os.fspath(token_file)]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert process.stdout is not None  # a pipe, as asked
    selector = selectors.DefaultSelector()
    selector.register(process.stdout, selectors.EVENT_READ)
    line = process.stdout.readline() if selector.select(timeout=timeout) else ""
    if not line.startswith("serving "):
        process.kill()
        _, err = process.communicate()
        raise InputError((err.strip() or line.strip() or "serve did not start").removeprefix("urea-reactor: error: "))
    host, port = listen.rsplit(":", 1)
    return Server(process, f"http://{host}:{port}/")


def _frame(items: list[dict[str, Any]], type_name: str) -> Any:
    """Items of a store's document as a DataFrame, with the type's units and meanings in attrs."""
    import json
    import pandas
    fields = {t["name"]: t for t in json.loads(_core._quantities())["types"]}[type_name]["fields"]
    declared = {f["name"]: f for f in fields}
    rows = []
    for item in items:
        row: dict[str, Any] = {}
        for key, value in item.items():
            kind = declared.get(key, {}).get("kind")
            if kind == "nested" and isinstance(value, list) and len(value) == 2:
                row[key + "_lower"], row[key + "_upper"] = value
            elif kind == "nested" and isinstance(value, dict) and key == "windows":
                row["windows_first"], row["windows_last"] = value.get("first"), value.get("last")
            else:
                row[key] = value
        rows.append(row)
    names = []
    for f in fields:
        if f["kind"] == "nested" and f["name"] != "evidence":
            names += [f["name"] + "_first", f["name"] + "_last"] if f["name"] == "windows" else \
                [f["name"] + "_lower", f["name"] + "_upper"]
        else:
            names.append(f["name"])
    frame = pandas.DataFrame(rows, columns=names)
    for f in fields:
        if f["kind"] == "time" and f["name"] in frame:
            frame[f["name"]] = pandas.to_datetime(frame[f["name"]], utc=True)
    units, meanings = {}, {}
    for name in names:
        base = name.rsplit("_", 1)[0] if name not in declared else name
        units[name] = declared.get(base, {}).get("unit", "")
        meanings[name] = declared.get(base, {}).get("meaning", "")
    frame.attrs["units"], frame.attrs["meanings"] = units, meanings
    return frame


def check(plugin: Optional[FilePath] = None, timeout: float = 10.0) -> CheckResult:
    return _core.check(plugin, timeout)


check.__doc__ = """Checks a plug-in build: does it load into this host, export CMPLOC, USURA and UPROPU, and reproduce known reference results?

The build runs in a child process: one that crashes or hangs is reported.
Ctrl-C stops it.

Parameters
----------
plugin : str or os.PathLike, optional
    The plug-in's file (default: the module's).
timeout : float, optional
    Seconds the build may take, more than 0, at most a day.

Returns
-------
CheckResult
    True when the build is good; ``report()`` as the command line prints it.

Raises
------
InputError
    A bad timeout.

Example
-------
>>> bool(ur.check())
True
"""


def results() -> list[dict[str, Any]]:
    """Every result a study can tabulate (a tray's as NAME@N).

    Returns
    -------
    list of dict
        ``{'name', 'unit', 'meaning', 'measurable'}`` each.

    Example
    -------
    >>> "co2_conversion" in [r["name"] for r in ur.results()]
    True
    """
    return list(_core.results())


def cores() -> int:
    """The cores this process may run on.

    Returns
    -------
    int
        For ``jobs=ur.cores()``.

    Example
    -------
    >>> ur.cores() >= 1
    True
    """
    return int(_core.cores())


def version() -> str:
    """The workbench's version and git commit.

    Returns
    -------
    str
        E.g. 'urea-reactor 1.1.0 (commit abcdef0)'.

    Example
    -------
    >>> ur.__version__ in ur.version()
    True
    """
    return str(_core.version())


@checked_keywords
def build_info(plugin: Plugin = None) -> BuildInfo:
    """The workbench's and a plug-in's versions; the plug-in need not be loaded.

    Parameters
    ----------
    plugin : str, os.PathLike or Session, optional
        The plug-in (default: the module's).

    Returns
    -------
    dict
        ``{'workbench', 'plugin' (its version marker, or why there is none),
        'plugin_file'}``.

    Example
    -------
    >>> ur.build_info()["workbench"] == ur.version()
    True
    """
    return _core.build_info(plugin)


def default_plugin_path() -> str:
    """The plug-in the module loads by default.

    The package's own (installed with pip), the build's bin/ (a build
    folder), or /usr/lib/urea-plugin (the .deb).

    Returns
    -------
    str
        The plug-in's file.

    Example
    -------
    >>> ur.default_plugin_path().endswith("liburea_plugin.so")
    True
    """
    return str(_core.default_plugin_path())


def session() -> Session:
    """The module's own Session (the default plug-in), opened on first use: what calls without plugin= use.

    Returns
    -------
    Session
        The same one at every call.

    Raises
    ------
    PluginError
        The default plug-in does not load.

    Example
    -------
    >>> ur.session() is ur.session()
    True
    """
    return _core.session()


def _as_method(function: Callable[..., Any]) -> Callable[..., Any]:
    """A Session's method: the function on that session (plugin= is the session)."""
    import functools
    import inspect
    signature = inspect.signature(function)
    parameters = [p for n, p in signature.parameters.items() if n != "plugin"]
    self_parameter = inspect.Parameter("self", inspect.Parameter.POSITIONAL_ONLY)

    @functools.wraps(function)
    def method(self: Session, *args: Any, **kwargs: Any) -> Any:
        if "plugin" in kwargs:
            raise TypeError(f"Session.{function.__name__}(): unexpected keyword plugin (the session is the plug-in)")
        return function(*args, plugin=self, **kwargs)

    method.__signature__ = signature.replace(parameters=[self_parameter, *parameters])  # type: ignore[attr-defined]
    method.__qualname__ = "Session." + function.__name__
    return method


# A Session's methods are the module's functions on it, with their checks.
for _name in ("run", "fit", "sweep", "study", "estimate", "design", "monitor", "watch"):
    setattr(Session, _name, _as_method(globals()[_name]))
# The extension's classes are documented as the package's.
for _name in __all__:
    _item = globals()[_name]
    if isinstance(_item, type) and _item.__module__.startswith("urea_reactor."):
        try:
            _item.__module__ = "urea_reactor"
        except (AttributeError, TypeError):
            pass
del _name, _item
