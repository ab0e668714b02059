"""The functions that open, follow and convert a data file by its path.

They live here, not in the package's __init__, so that the report imports
them without importing the package that imports the report.
"""

from __future__ import annotations

import os as _os
from typing import Optional

from . import _args, _cdt
from ._args import Blades, PathLike, Probes, Revolutions, TimeLike
from ._follow import Follow
from ._recording import Recording

__all__ = ["open", "follow", "convert"]


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
           probes: Optional[Probes] = None, blades: Optional[Blades] = None,
           start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
           revolutions: Optional[Revolutions] = None,
           encoding: Optional[str] = None) -> Follow:
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
    return _follow(_args.path_bytes(path), rows, idle, decoder, probes, blades, start, stop,
                   revolutions)


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
