"""Recordings of the blade monitoring installation as numpy arrays and pandas frames.

Open a data file with :func:`open` and read its lines, the same lines in the
same order as ``cdt2csv`` writes them, as numpy arrays (:meth:`Recording.read`),
as a pandas DataFrame whose columns are the CSV's (:meth:`Recording.to_pandas`)
or in batches of fixed size (:meth:`Recording.iter_batches`). :mod:`cdt.dask`
spreads many recordings over a Dask cluster.

Examples
--------
>>> import cdt
>>> with cdt.open("Rig1.0000.Daq1.2011-05-06.12-30-00.cdt") as rec:
...     frame = rec.to_pandas(probes=["Probe101"], blades=range(1, 11))
"""

from __future__ import annotations

from typing import Any, Dict

from . import analysis  # noqa: F401  (deflections and resonances: cdt.analysis)
from . import _sets as sets  # noqa: F401  (cdt.sets.MISSING, ... as before cdt.status)
from . import status  # noqa: F401  (the status bits of set lines: cdt.status.MISSING, ...)
from ._args import PathLike, TimeLike  # noqa: F401  (the types of the arguments)
from ._cdt import FormatError, UnknownProbeError
from ._cdt import __version__  # noqa: F401  (project()'s version)
from ._follow import Follow, FollowWarning, SetFollow
from ._lines import Lines, ProbeLines
from ._open import convert, follow, open
from ._recording import Part, Recording
from ._sets import RecordingSet, SetLines, SetPart, SetWarning, find_sets, open_set
from .report import report, report_set
from . import _cdt

__all__ = ["open", "open_set", "find_sets", "convert", "follow", "Follow", "SetFollow",
           "FollowWarning", "Recording", "RecordingSet", "Part",
           "SetPart", "SetWarning", "Lines", "SetLines", "ProbeLines", "FormatError", "UnknownProbeError",
           "units"]

FormatError.__doc__ = """A file that cannot be read as a data file (a ValueError).

The message names the file and the reason, as ``cdt info`` gives it."""

UnknownProbeError.__doc__ = """A selection names a probe or host the recording does not have.

Both a KeyError (no such key) and a ValueError (a wrong value). The message
names the file and lists the keys there are."""
# The message as it is, not quoted as a KeyError's key would be.
UnknownProbeError.__str__ = lambda self: str(self.args[0]) if self.args else ""
UnknownProbeError.__module__ = "cdt"
for _class in (Follow, FollowWarning, Lines, Part, ProbeLines, Recording, RecordingSet, SetFollow,
               SetLines, SetWarning):
    _class.__module__ = "cdt"


def units() -> Dict[str, Dict[str, Any]]:
    """What each number is and its unit, by quantity (``"time"``, ``"speed"``,
    ``"blade_toa"``, ``"deflection"``, ...): the table every output of the
    package and of ``cdt`` takes its units from.

    Each entry holds ``unit`` (as UDUNITS and netCDF's CF conventions write
    it; empty where the number has none, or the recorder fixes none),
    ``symbol`` (as an axis label shows it), ``description`` (the unit in
    words, with what it counts from), ``long_name`` (what the quantity is)
    and ``installation``: True where the unit is the installation's
    clearance unit (mm on real installations); numbers are as recorded,
    never scaled."""
    return _cdt.quantity_units()


for _function in (open, follow, convert, units):
    _function.__module__ = "cdt"
