"""What the package's functions do with their arguments before the extension
sees them: a misspelt keyword named in one line with the nearest parameter,
durations in pandas' words, and an executor whose tasks may not take for ever.
"""
from __future__ import annotations

import concurrent.futures
import datetime
import difflib
import functools
import inspect
import os
import re
from typing import TYPE_CHECKING, Any, Callable, Mapping, Optional, Sequence, Tuple, TypeVar, Union

from ._core import Case, EstimateResult, Session

if TYPE_CHECKING:
    import pandas  # type: ignore[import]  # optional, and untyped

F = TypeVar("F", bound=Callable[..., Any])

# The types of the package's arguments.
#: A file's path.
FilePath = Union[str, "os.PathLike[str]"]
#: A plug-in: its file's path, or an open Session (None: the module's own).
Plugin = Union[FilePath, Session, None]
#: A case: a Case, a case file's path, or None for the built-in default case.
CaseGiven = Union[Case, FilePath, None]
#: A table of rows: a CSV file's path, a pandas DataFrame, or a list of dicts (one a row).
Rows = Union[FilePath, "pandas.DataFrame", Sequence[Mapping[str, Any]]]
#: Case quantities to vary: NAME: (FROM, TO, N), (SPACING, FROM, TO, N), a list of values or "FROM:TO:N";
#: or a list of "NAME=FROM:TO:N".
Vary = Union[Mapping[str, Union[Tuple[Any, ...], Sequence[Any], str]], Sequence[str]]
#: Values by name: {"a1": 1.0}, or a list of "NAME=VALUE".
Values = Union[Mapping[str, float], Sequence[str]]
#: An estimate: an EstimateResult, or an estimate file's path.
EstimateGiven = Union[EstimateResult, FilePath, None]
#: A callable progress(done, total), True for a tqdm bar (or a line on stderr), None or False for none.
Progress = Union[bool, Callable[[int, int], Any], None]

#: A duration: "24h", "90min", pandas' "1D" or "15min", a datetime.timedelta or pandas.Timedelta.
Duration = Union[str, datetime.timedelta]


def checked_keywords(function: F) -> F:
    """The function, raising a one-line TypeError for a keyword it does not
    take, with the nearest one it does: "study(): unexpected keyword vray (did
    you mean vary?)"."""
    parameters = inspect.signature(function).parameters
    keywords = [n for n, p in parameters.items()
                if p.kind in (p.POSITIONAL_OR_KEYWORD, p.KEYWORD_ONLY)]

    @functools.wraps(function)
    def call(*args: Any, **kwargs: Any) -> Any:
        for name in kwargs:
            if name not in parameters:
                raise TypeError(unexpected(function.__name__, name, keywords))
        return function(*args, **kwargs)

    return call  # type: ignore[return-value]


def unexpected(function: str, name: str, keywords: list[str]) -> str:
    near = difflib.get_close_matches(name, keywords, n=1, cutoff=0.6)
    hint = f" (did you mean {near[0]}?)" if near else f" (it takes {', '.join(keywords)})"
    return f"{function}(): unexpected keyword {name}{hint}"


# pandas' offset aliases for a unit the workbench writes otherwise ("1D",
# "15T", "1H"; its own "d", "min", "h" are pandas' too).
_ALIASES = {"W": "w", "D": "d", "H": "h", "T": "min", "S": "s"}
_ALIAS = re.compile(r"\s*([0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)?)\s*([A-Za-z]+)\s*")


def duration(value: Optional[Duration]) -> Optional[Any]:
    """A duration as the workbench reads it ("24h", "90min", "3600s"): from
    its own words, pandas' aliases ("1D", "15min", "15T", "1H"), a
    datetime.timedelta or pandas.Timedelta."""
    if value is None:
        return None
    if isinstance(value, datetime.timedelta):  # pandas.Timedelta is one too
        return f"{value.total_seconds()!r}s"
    if isinstance(value, str):
        m = _ALIAS.fullmatch(value)
        if m and m.group(2) in _ALIASES:
            return m.group(1) + _ALIASES[m.group(2)]
    return value  # the workbench says what is wrong with it


class ExecutorLost(TimeoutError):
    """No task came back from an executor within executor_timeout seconds."""


class BoundedFuture:
    """A future of an executor whose result is waited for at most `timeout`
    seconds (the wait the workbench makes without one)."""

    def __init__(self, future: Any, timeout: float) -> None:
        self._future = future
        self._timeout = timeout

    def result(self, timeout: Optional[float] = None) -> Any:
        wait = self._timeout if timeout is None else min(timeout, self._timeout)
        try:
            return self._future.result(wait)
        except concurrent.futures.TimeoutError:
            raise ExecutorLost(
                f"executor: no task came back within {self._timeout:g} s (executor_timeout=): are its workers "
                "gone? The work is abandoned; raise executor_timeout for tasks that take longer") from None

    def cancel(self) -> bool:
        return bool(self._future.cancel())


class BoundedExecutor:
    """An executor whose futures are BoundedFutures."""

    def __init__(self, executor: Any, timeout: float) -> None:
        self._executor = executor
        self._timeout = timeout

    def submit(self, fn: Callable[..., Any], *args: Any, **kwargs: Any) -> BoundedFuture:
        return BoundedFuture(self._executor.submit(fn, *args, **kwargs), self._timeout)


def bounded(executor: Any, timeout: Optional[float]) -> Any:
    """The executor (None: none) whose each task's answer is awaited at most
    `timeout` seconds (None: for ever)."""
    if executor is None or timeout is None:
        return executor
    if isinstance(timeout, bool) or not isinstance(timeout, (int, float)) or not timeout > 0:
        raise ValueError(f"executor_timeout: seconds, more than 0, or None (for ever), not {timeout!r}")
    if not hasattr(executor, "submit"):
        raise TypeError("executor: a concurrent.futures.Executor, or None")
    return BoundedExecutor(executor, float(timeout))
