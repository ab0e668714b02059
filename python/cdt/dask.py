"""Many recordings as one Dask DataFrame, and conversion on a Dask cluster.

Every task is a pure function of (path, window, selection): no open file
travels between processes, so the tasks run on any scheduler, a
``distributed`` cluster included.

Examples
--------
>>> from distributed import Client
>>> import cdt.dask
>>> client = Client("scheduler:8786")
>>> frame = cdt.dask.read_recordings("/data/run1/*.cdt", probes=["Probe101"])
>>> frame.groupby("Start Rev")["Probe101 DNS"].mean().compute()
"""

from __future__ import annotations

import glob as _glob
import os as _os
import warnings as _warnings
from typing import Any, Dict, Iterable, List, Optional, Sequence, Union

import numpy as _np
import pandas as _pd

import cdt as _cdt

__all__ = ["read_recordings", "convert_recordings"]

Paths = Union[str, "_os.PathLike[str]", Iterable[Union[str, "_os.PathLike[str]"]]]


def _expand(paths: Paths) -> List[str]:
    if isinstance(paths, (str, _os.PathLike)):
        text = _os.fspath(paths)
        if _glob.has_magic(text):
            found = sorted(_glob.glob(text))
            if not found:
                raise FileNotFoundError(f"no recording matches {text!r}")
            return found
        return [text]
    return [_os.fspath(p) for p in paths]


def _check_errors(errors: str) -> None:
    if errors not in ("raise", "skip"):
        raise ValueError(f"errors: 'raise' or 'skip', not {errors!r}")


def _dtype(column: str):
    if column == "Time":
        return "datetime64[ns, UTC]"
    if column == "Sync":
        return bool
    if column in ("Start Rev", "End Rev"):
        return _np.uint32
    if column.endswith(" DNS") and " Blade" not in column:
        return _np.float64
    return _np.float32


def _meta(columns: Sequence[str]) -> _pd.DataFrame:
    data = {"File": _pd.Series([], dtype=object)}
    for c in columns:
        data[c] = _pd.Series([], dtype=_dtype(c))
    return _pd.DataFrame(data)


def _read_part(part: Dict[str, Any]) -> _pd.DataFrame:
    """One (path, window) part as a frame with every column of the union."""
    rec = _cdt.open(part["path"], salvage=part["salvage"])
    frame = rec.to_pandas(start=part["start"], stop=part["stop"], **part["selection"])
    meta = _meta(part["columns"])
    frame.insert(0, "File", part["path"])
    missing = [c for c in meta.columns if c not in frame.columns]
    if missing:
        empty = _pd.DataFrame({c: _np.full(len(frame), _np.nan, dtype=_dtype(c)) for c in missing},
                              index=frame.index)
        frame = _pd.concat([frame, empty], axis=1)
    if list(frame.columns) != list(meta.columns):
        frame = frame[list(meta.columns)]
    return frame


def _open_all(paths: List[str], salvage: bool, errors: str) -> List["_cdt.Recording"]:
    opened = []
    for p in paths:
        try:
            opened.append(_cdt.open(p, salvage=salvage))
        except (_cdt.FormatError, OSError) as e:
            if errors == "raise":
                raise
            _warnings.warn(f"cdt.dask: left out {p}: {e}", stacklevel=3)
    return opened


def read_recordings(paths: Paths, *, rows_per_partition: int = 1_000_000, salvage: bool = False,
                    errors: str = "raise", **selection):
    """Many recordings as one ``dask.dataframe.DataFrame``.

    Parameters
    ----------
    paths : str, path or iterable of them
        Data files; a string with wildcards is a glob, expanded in name order.
    rows_per_partition : int
        About this many lines per partition: each recording is cut into time
        windows by :meth:`cdt.Recording.parts`.
    salvage : bool
        Read unfinished files as :func:`cdt.open` does with ``salvage=True``.
    errors : {"raise", "skip"}
        A recording that cannot be opened raises its :class:`cdt.FormatError`
        (or FileNotFoundError), or with "skip" is left out with a warning
        naming it.
    **selection
        ``probes``, ``blades`` and ``revolutions`` as for
        :meth:`cdt.Recording.read`.

    Returns
    -------
    dask.dataframe.DataFrame
        The lines of every recording in order, a ``File`` column first
        naming the recording of each line, then the CSV's columns: the union
        of the recordings' columns in first-seen order, NaN where a
        recording has no such column. The metadata comes from the
        configurations alone; no record is read until the frame is computed.
        Divisions are unknown: recordings of several hosts share their times.
    """
    import dask.dataframe as dd

    _check_errors(errors)
    for key in ("start", "stop"):
        if key in selection:
            raise TypeError(f"{key}: read_recordings cuts its own time windows")
    recordings = _open_all(_expand(paths), salvage, errors)
    columns: List[str] = []
    seen = set()
    parts = []
    for rec in recordings:
        sel = dict(selection)
        rec._selection(**sel)  # checks the selection against this recording
        for c in rec.columns(probes=sel.get("probes"), blades=sel.get("blades")):
            if c not in seen:
                seen.add(c)
                columns.append(c)
        for start, stop in rec.parts(rows=rows_per_partition):
            parts.append({"path": rec.path, "salvage": salvage, "start": start, "stop": stop,
                          "selection": sel})
    for part in parts:
        part["columns"] = columns
    meta = _meta(columns)
    if not parts:
        return dd.from_pandas(meta, npartitions=1)
    return dd.from_map(_read_part, parts, meta=meta, label="cdt-read", enforce_metadata=False)


def _convert_one(path: str, out_dir: str, errors: str) -> Optional[str]:
    try:
        return _cdt.convert(path, out_dir)
    except (_cdt.FormatError, FileNotFoundError) as e:
        if errors == "raise":
            raise
        return "\0" + f"{path}: {e}"


def convert_recordings(paths: Paths, out_dir: Union[str, "_os.PathLike[str]"], *,
                       errors: str = "raise") -> List[str]:
    """Converts many recordings to CSV, one task per file, on the current scheduler.

    With a ``distributed.Client`` active the workers write the files, so
    ``out_dir`` must be a directory they can reach. The CSV files hold the
    bytes ``cdt2csv`` writes.

    Returns
    -------
    list of str
        The paths written, in the order of ``paths``; with ``errors="skip"``
        the recordings that cannot be opened are left out, each named in a
        warning.
    """
    import dask

    _check_errors(errors)
    out = _os.fspath(out_dir)
    tasks = [dask.delayed(_convert_one, pure=True)(p, out, errors) for p in _expand(paths)]
    written = []
    for result in dask.compute(*tasks):
        if result is not None and result.startswith("\0"):
            _warnings.warn(f"cdt.dask: left out {result[1:]}", stacklevel=2)
        else:
            written.append(result)
    return written
