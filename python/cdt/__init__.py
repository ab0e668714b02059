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

import os as _os

from . import _args, _cdt
from ._args import PathLike, TimeLike  # noqa: F401  (the types of the arguments)
from ._args import decode as _decode  # noqa: F401  (used by the report)
from ._cdt import FormatError, UnknownProbeError
from ._follow import Follow, FollowWarning, SetFollow
from ._lines import Lines, ProbeLines
from ._recording import Part, Recording
from . import _sets as sets  # noqa: F401  (the status bits: cdt.sets.MISSING, ...)
from ._sets import RecordingSet, SetLines, SetPart, SetWarning, find_sets, open_set

__all__ = ["open", "open_set", "find_sets", "convert", "follow", "Follow", "SetFollow",
           "FollowWarning", "Recording", "RecordingSet", "Part",
           "SetPart", "SetWarning", "Lines", "SetLines", "ProbeLines", "FormatError", "UnknownProbeError"]

FormatError.__doc__ = """A file that cannot be read as a data file (a ValueError).

The message names the file and the reason, as ``cdt info`` gives it."""

UnknownProbeError.__doc__ = """A selection names a probe or host the recording does not have.

Both a KeyError (no such key) and a ValueError (a wrong value). The message
names the file and lists the keys there are."""
# The message as it is, not quoted as a KeyError's key would be.
UnknownProbeError.__str__ = lambda self: str(self.args[0]) if self.args else ""
UnknownProbeError.__module__ = "cdt"
for _class in (Follow, FollowWarning, Lines, Part, ProbeLines, Recording, RecordingSet, SetFollow,
               SetLines):
    _class.__module__ = "cdt"


def open(path: PathLike, *, salvage: bool = False, encoding: Optional[str] = None) -> Recording:
    """Opens a data file.

    Parameters
    ----------
    path : str, bytes or os.PathLike
        As :func:`open` of Python takes it (a str with surrogate escapes
        for bytes that are not UTF-8); a NUL byte raises ValueError.
    salvage : bool
        Read a file that was never finished, or lost its index, to its last
        whole record, as ``cdt recover`` does.
    encoding : str, optional
        The installation's code page (a Python codec name, e.g. ``"cp1252"``)
        to decode names with; by default UTF-8 where a name is valid UTF-8,
        else Windows-1252.

    Raises
    ------
    FileNotFoundError
        The file does not exist.
    FormatError
        The file cannot be opened as a data file; the message names it and
        says why.
    TypeError, ValueError
        A wrong argument; a name the encoding cannot decode.

    Examples
    --------
    >>> with cdt.open("Rig1.0000.Daq1.2011-05-06.12-30-00.cdt") as rec:
    ...     print(rec.probe_keys, rec.info()["lines"])
    """
    return Recording(path, salvage=salvage, encoding=encoding)


def follow(path: PathLike, rows: int = 65536, idle: Optional[float] = 60.0, *,
           encoding: Optional[str] = None, **selection) -> Follow:
    """Follows a data file being written, as :meth:`Recording.follow` does,
    without opening it first: ``path`` (its ".temp" name or its final one)
    need not exist yet; the follow waits for either (at most ``idle``
    seconds: then FileNotFoundError).

    Examples
    --------
    >>> for batch in cdt.follow("Rig1.0000.Daq1.2011-05-06.12-30-00.cdt", idle=30):
    ...     frame = batch.to_pandas()
    """
    from ._recording import _follow
    from ._args import check_encoding

    decoder = None
    if check_encoding(encoding) is not None:
        shown = _os.fsdecode(_args.path_bytes(path))
        decoder = lambda data: _args.decode(data, encoding, shown)  # noqa: E731
    allowed = {"probes", "blades", "start", "stop", "revolutions"}
    unknown = sorted(set(selection) - allowed)
    if unknown:
        raise TypeError(f"follow() got an unexpected keyword argument {unknown[0]!r}")
    return _follow(_args.path_bytes(path), rows, idle, decoder, selection.get("probes"),
                   selection.get("blades"), selection.get("start"), selection.get("stop"),
                   selection.get("revolutions"))


def convert(path: PathLike, out_dir: PathLike = ".") -> str:
    """Converts a data file to CSV, byte for byte as ``cdt2csv`` does.

    Returns the path of the CSV written into ``out_dir`` (named after the
    input, with the extension ``.csv``). The CSV is written under a new
    staging name beside it and renamed when complete: a failed write raises
    OSError with its cause (errno EFBIG, ENOSPC, ...) and leaves no file,
    and a link at the CSV's name is replaced, not written through. An
    output that would be the input file itself raises
    :class:`shutil.SameFileError` (an OSError) and leaves the input as it is.
    """
    source = _args.path_bytes(path)
    target = _args.path_bytes(out_dir, "out_dir")
    return _os.fsdecode(_cdt.convert(source, target))


from .report import report, report_set  # noqa: E402  (the quick-look pages; matplotlib only when used)
