"""The shapes of the results' nested values, for type checkers and editors.

At run time each is a plain dict (a TypedDict is one); the stubs of the
extension name them as the types of the attributes that return them, so that
`e.tuned["a2"]["value"]` is a float to mypy and `e.tuned["a2"]["valeu"]` an
error.
"""
from __future__ import annotations

from typing import TYPE_CHECKING, Any, List, Tuple, TypedDict

if TYPE_CHECKING:
    from ._core import Table
else:
    Table = Any


class BuildInfo(TypedDict):
    """The builds that answered: `ur.build_info()`, `metadata["build"]`."""
    workbench: str      # "urea-reactor 1.1.0 (commit ...)"
    plugin: str         # "urea-plugin 1.1.0 (commit ...)"
    plugin_file: str    # the plug-in's path as loaded


class InputFile(TypedDict):
    """A file a result was computed from, as it was read."""
    what: str           # "runs file", "case file", "history", ...
    path: str
    sha256: str         # of its bytes as read


class Metadata(TypedDict):
    """Where a result came from: `x.metadata`."""
    build: BuildInfo
    inputs: List[InputFile]


class TunedFactor(TypedDict):
    """A rate factor of the tuned case: `e.tuned["a1"]`, `e.tuned["a2"]`."""
    value: float
    source: str             # "estimated", "held", "kept", ...
    changed: bool           # differs from the base case's
    ruled_out: bool         # the runs rule out the base case's value
    with_other_kept: bool   # estimated with the other factor kept


class Tuned(TypedDict):
    """The case the estimate tunes: `e.tuned`."""
    a1: TunedFactor
    a2: TunedFactor
    co2_conversion: float   # of the tuned case, a fraction


class FactorPair(TypedDict):
    """A value of each rate factor."""
    a1: float
    a2: float


class Bootstrap(TypedDict):
    """The estimate over resamples of the runs: `e.bootstrap` (with bootstrap=N)."""
    resamples: int          # resamples of the runs fitted
    seed: int               # the seed they were drawn with
    failed: int             # resamples whose fit failed
    samples: Table          # each resample's a1 and a2
    lower95: FactorPair     # the factors' 2.5 % quantiles over the resamples
    median: FactorPair
    upper95: FactorPair     # their 97.5 % quantiles


class Region(TypedDict):
    """The joint 95 % region of a1 and a2: `e.region` (both factors free)."""
    threshold: float        # the rise of the objective that bounds the region
    open_a1_low: bool       # the region reaches the search's edge below in a1
    open_a1_high: bool
    open_a2: bool           # ... in a2
    slices: Table           # the region by slices of a1, each slice's piece numbered (JSON: pieces)
    ellipse: Table          # the linearised 95 % ellipse (JSON: linearised_ellipse)


class DesignEstimate(TypedDict):
    """The factors a design ranks its candidates at: `d.estimate`."""
    a1: float
    a2: float
    free: Tuple[bool, bool]  # a1, a2: estimated (not held)
    source: str              # "the estimate", ...


__all__ = ["BuildInfo", "InputFile", "Metadata", "TunedFactor", "Tuned", "FactorPair", "Bootstrap", "Region",
           "DesignEstimate"]
