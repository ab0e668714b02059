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
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union

import numpy as _np
import pandas as _pd

import cdt as _cdt

__all__ = ["read_recordings", "read_sets", "convert_recordings", "analyse_recordings"]

Paths = Union[str, bytes, "_os.PathLike", Iterable[Union[str, bytes, "_os.PathLike"]]]

# The columns every recording's frame begins with, and their dtypes.
_FIXED = {"Time": "datetime64[ns, UTC]", "Speed": _np.float32, "Sync": bool,
          "Start Rev": _np.uint64, "End Rev": _np.uint64}


def _text_path(path) -> str:
    """A path as str; bytes become str with surrogate escapes, which names
    the same file."""
    path = _os.fspath(path)
    return _os.fsdecode(path) if isinstance(path, bytes) else path


def _expand(paths: Paths) -> List[str]:
    if isinstance(paths, (str, bytes, _os.PathLike)):
        text = _text_path(paths)
        if _glob.has_magic(text):
            found = sorted(_glob.glob(text))
            if not found:
                raise FileNotFoundError(f"no recording matches {text!r}")
            return found
        return [text]
    return [_text_path(p) for p in paths]


def _check_errors(errors: str) -> None:
    if errors not in ("raise", "skip"):
        raise ValueError(f"errors: 'raise' or 'skip', not {errors!r}")


def _dtypes(columns: Sequence[str]) -> List[Any]:
    """The dtype of each of a recording's columns, by its place in the CSV's
    layout rather than by what its name says (a probe's name may hold any
    word): the five fixed columns, then per probe its RMS (float32), its DNS
    mean (float64, always right after the RMS) and its blades' DNS and TOA
    (float32). Only a probe's RMS column ends in " RMS"."""
    fixed = len(_FIXED)
    return [_FIXED[c] if i < fixed
            else _np.float64 if i > fixed and columns[i - 1].endswith(" RMS")
            else _np.float32
            for i, c in enumerate(columns)]


def _union(per_file: Iterable[Sequence[str]]) -> List[str]:
    """The union of the recordings' columns in first-seen order.

    A name that a recording has several times (probes that share a name)
    counts by occurrence: the k-th "Same RMS" of one file is the k-th of
    another, so the union holds a name as often as the recording that has it
    most often, and a recording with fewer gets NaN in the later ones.
    """
    columns: List[str] = []
    held: Dict[str, int] = {}
    for names in per_file:
        seen: Dict[str, int] = {}
        for c in names:
            seen[c] = seen.get(c, 0) + 1
            if seen[c] > held.get(c, 0):
                held[c] = seen[c]
                columns.append(c)
    return columns


def _occurrences(columns: Sequence[str]) -> List[Tuple[str, int]]:
    """Each column as (name, how many of that name came before it)."""
    seen: Dict[str, int] = {}
    out = []
    for c in columns:
        out.append((c, seen.get(c, 0)))
        seen[c] = seen.get(c, 0) + 1
    return out


def _frame(columns: Sequence[str], data: Sequence[Any], index) -> _pd.DataFrame:
    """A frame of these columns in order, repeated names included."""
    frame = _pd.DataFrame(dict(enumerate(data)), index=index)
    frame.columns = _pd.Index(list(columns), dtype=object)
    return frame


def _meta(columns: Sequence[str], dtypes: Sequence[Any], by_time: bool) -> _pd.DataFrame:
    data = [_pd.Series([], dtype=object)] + [_pd.Series([], dtype=t) for t in dtypes]
    if not by_time:
        return _frame(["File"] + list(columns), data, _pd.RangeIndex(0))
    index = _pd.DatetimeIndex([], tz="UTC", name="Time")
    return _frame(["File"] + list(columns[1:]), [data[0]] + data[2:], index)


def _read_part(part: Dict[str, Any], projected: Optional[List[str]] = None) -> _pd.DataFrame:
    """One (path, window) part as a frame with every column of the union
    (with `projected`, reading only the probes those columns need)."""
    rec = _cdt.open(part["path"], salvage=part["salvage"], encoding=part["encoding"])
    lines = rec.read(part=part["part"], **_projected_selection(part, projected))
    by_time = part["bounds"] is not None
    # The File column (an object per line) only where it is wanted.
    wants_file = projected is None or "File" in projected
    frame = lines._frame(file=part["path"] if wants_file else None, time_index=by_time)
    if by_time:
        _check_bounds(part, frame.index)
    columns, dtypes = _wanted(["File"] + list(part["columns"]), [object] + list(part["dtypes"]),
                              projected)
    return _with_columns(frame, columns, dtypes)


def _with_columns(frame: _pd.DataFrame, columns: Sequence[str], dtypes: Sequence[Any],
                  missing: Any = ()) -> _pd.DataFrame:
    """The frame with exactly these columns (repeated names by occurrence):
    one it lacks is NaN, or MISSING where its name is among `missing` (a
    host's status)."""
    if list(frame.columns) == list(columns):
        return frame
    n = len(frame)
    place = {key: i for i, key in enumerate(_occurrences(list(frame.columns)))}
    data: List[Any] = []
    for key, dtype in zip(_occurrences(columns), dtypes):
        i = place.get(key)
        fill = _cdt.status.MISSING if key[0] in missing else _np.nan
        data.append(frame.iloc[:, i] if i is not None
                    else _pd.Series(_np.full(n, fill, dtype=dtype), index=frame.index))
    return _frame(columns, data, frame.index)


class _PartReader:
    """A task's function: reads one part, the whole frame or, once Dask has
    projected the graph onto fewer columns, only those (the
    ``DataFrameIOFunction`` protocol of ``dask.dataframe.from_map``). A
    projected read keeps only the probes some wanted column belongs to, so
    a computation on Speed decodes no probe's cells at all."""

    def __init__(self, read, columns: Sequence[str], projected: Optional[List[str]] = None):
        self._read = read
        self._columns = list(columns)
        self._projected = projected

    @property
    def columns(self) -> List[str]:
        return list(self._projected if self._projected is not None else self._columns)

    def project_columns(self, columns) -> "_PartReader":
        columns = list(columns)
        if columns == self._columns:
            return self
        return _PartReader(self._read, self._columns, columns)

    def __call__(self, part: Dict[str, Any]) -> _pd.DataFrame:
        return self._read(part, self._projected)


def _probe_columns(source, selection: Dict[str, Any]) -> Optional[List[Tuple[str, List[str]]]]:
    """Per probe key of a recording or set, the columns of it that a read
    with `selection` keeps (probes without any are left out); None where a
    column name repeats, so that a column cannot be told to one probe."""
    blades = selection.get("blades")
    base = set(source.columns(probes=[]))
    kept = source.columns(probes=selection.get("probes"), blades=blades)
    if len(set(kept)) != len(kept):
        return None
    kept_set = set(kept)
    result = []
    for key in source.probe_keys:
        try:
            own = [c for c in source.columns(probes=[key], blades=blades) if c not in base]
        except ValueError:  # none of the selected blades on this probe's stage
            continue
        own = [c for c in own if c in kept_set]
        if own:
            result.append((key, own))
    return result


def _projected_selection(part: Dict[str, Any], projected: Optional[List[str]]) -> Dict[str, Any]:
    """The part's selection narrowed to the probes the projected columns need."""
    selection = dict(part["selection"])
    probe_columns = part.get("probe_columns")
    if projected is None or probe_columns is None:
        return selection
    wanted = set(projected)
    keys = [key for key, own in probe_columns if wanted.intersection(own)]
    selection["probes"] = keys
    if not keys:
        selection.pop("blades", None)
    return selection


def _wanted(columns: List[str], dtypes: List[Any],
            projected: Optional[List[str]]) -> Tuple[List[str], List[Any]]:
    """The columns (and their dtypes) a part's frame is made of: all of them,
    or the projected ones in their order (names are unique there)."""
    if projected is None:
        return columns, dtypes
    dtype_of = dict(zip(columns, dtypes))
    return list(projected), [dtype_of[c] for c in projected]


def _reader(read, parts: List[Dict[str, Any]], meta: _pd.DataFrame):
    """The function of a from_map over `parts`: projectable where every part
    can tell its columns to its probes."""
    if all(part.get("probe_columns") is not None for part in parts):
        return _PartReader(read, list(meta.columns))
    return lambda part: read(part, None)


def _in_bounds(index: _pd.Index, bounds: Tuple[Any, Any, bool]) -> bool:
    """Whether the index increases within [low, high) (the last part's
    [low, high])."""
    low, high, last = bounds
    return len(index) == 0 or (index.is_monotonic_increasing and index[0] >= low and (
        index[-1] <= high if last else index[-1] < high))


def _check_bounds(part: Dict[str, Any], index: _pd.DatetimeIndex) -> None:
    """Raises ValueError where a part's times leave the division they were
    given, or go back (a file whose record times go back)."""
    if not _in_bounds(index, part["bounds"]):
        raise ValueError(f"{part['path']}: its line times go back or leave the index's range, "
                         "so a Time index has no divisions; read it with index=None")


def _time_bounds(rec) -> Optional[Tuple[_pd.Timestamp, _pd.Timestamp]]:
    """The first and last time the index gives the file's lines, or None
    without any."""
    t = _np.asarray(_cdt._cdt.index_times(rec._path, rec.salvage), dtype=_np.uint64)
    t = t[t < _np.uint64(_cdt._args.NS_LIMIT)]
    if t.size == 0:
        return None
    as_time = lambda us: _pd.Timestamp(int(us) * 1000, tz="UTC")  # noqa: E731
    return as_time(t.min()), as_time(t.max())


def _divisions(per_file: List[Tuple[Any, List[Any]]], parts: List[Dict[str, Any]]):
    """Time divisions of the parts, file after file, or None where files
    share times (the hosts of one recording set) or a file's index gives no
    times. Each part's division starts at its window's start (a file's first
    at the first time of its index) and the last ends at the last file's
    last time; its part gets the bounds to check."""
    if any(bounds is None for bounds, _ in per_file):
        return None
    order = sorted(range(len(per_file)), key=lambda f: per_file[f][0][0])
    if any(per_file[a][0][1] >= per_file[b][0][0] for a, b in zip(order, order[1:])):
        return None
    divisions: List[Any] = []
    ordered: List[Dict[str, Any]] = []
    for f in order:
        (low, _), file_parts = per_file[f]
        for k, part in enumerate(file_parts):
            start = part["part"][0]
            divisions.append(low if k == 0 else _pd.Timestamp(start * 1000, tz="UTC"))
            ordered.append(part)
    divisions.append(per_file[order[-1]][0][1])
    if any(a >= b for a, b in zip(divisions[:-2], divisions[1:-1])) or divisions[-2] > divisions[-1]:
        return None  # an index whose times are not in order
    for i, part in enumerate(ordered):
        part["bounds"] = (divisions[i], divisions[i + 1], i == len(ordered) - 1)
    parts[:] = ordered
    return divisions


def _open_all(paths: List[str], salvage: bool, errors: str, encoding):
    opened = []
    for p in paths:
        try:
            opened.append((p, _cdt.open(p, salvage=salvage, encoding=encoding)))
        except (_cdt.FormatError, OSError) as e:
            if errors == "raise":
                raise
            _warnings.warn(f"cdt.dask: left out {p}: {e}", stacklevel=3)
    return opened


def read_recordings(paths: Paths, *, rows_per_partition: int = 1_000_000, salvage: bool = False,
                    errors: str = "raise", encoding: Optional[str] = None,
                    index: Optional[str] = None, **selection):
    """Many recordings as one ``dask.dataframe.DataFrame``.

    Parameters
    ----------
    paths : str, bytes, path or iterable of them
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
    encoding : str, optional
        The installation's code page for the names, as for :func:`cdt.open`.
    index : {None, "Time"}
        None (the default): each partition's lines numbered from 0, the
        partitions in the order of ``paths`` and of time within a file, and
        the divisions unknown. "Time": Time is the index (not a column), and
        the divisions are known where the recordings follow one another in
        time (a host's recordings of a test, one file): each partition is a
        window of a recording's index times, the recordings in the order of
        their first times, so ``.loc``, ``repartition`` and joins on time
        read only the partitions they need. Recordings that share times (the
        hosts of one recording set) keep unknown divisions. A recording
        whose line times go back (a clock set back) cannot be divided by
        time: computing such a partition raises ValueError naming it.
    **selection
        ``probes``, ``blades`` and ``revolutions`` as for
        :meth:`cdt.Recording.read`.

    Returns
    -------
    dask.dataframe.DataFrame
        The lines of every recording in order, a ``File`` column first
        naming the recording of each line (as str; a path given as bytes
        with surrogate escapes), then the CSV's columns: the union of the
        recordings' columns in first-seen order, NaN where a recording has
        no such column. Probes that share a name keep a column each: a
        repeated name counts by occurrence (the second "Same RMS" of one
        file is the second of the next), so the union holds it as often as
        the recording that has it most often. The dtypes are those of
        :meth:`cdt.Recording.to_pandas`, and a time that it cannot hold
        raises its ValueError when the frame is computed. The metadata comes
        from the configurations alone; the index is read to plan the
        partitions, and no record until the frame is computed.
    """
    import dask.dataframe as dd

    _check_errors(errors)
    if index not in (None, "Time"):
        raise ValueError(f"index: None or 'Time', not {index!r}")
    for key in ("start", "stop"):
        if key in selection:
            raise TypeError(f"{key}: read_recordings cuts its own time windows")
    recordings = _open_all(_expand(paths), salvage, errors, encoding)
    per_file = []
    dtype_of: Dict[Tuple[str, int], Any] = {}
    parts: List[Dict[str, Any]] = []
    by_file = []
    for path, rec in recordings:
        sel = dict(selection)
        # Checks the whole selection against this recording (a wrong one
        # raises here, not in a task), and gives its columns.
        _cdt._args.selection(**sel)
        names = rec.columns(probes=sel.get("probes"), blades=sel.get("blades"))
        per_file.append(names)
        for key, dtype in zip(_occurrences(names), _dtypes(names)):
            dtype_of.setdefault(key, dtype)
        probe_columns = _probe_columns(rec, sel)
        file_parts = [{"path": path, "salvage": salvage, "encoding": encoding, "part": p,
                       "selection": sel, "bounds": None, "probe_columns": probe_columns}
                      for p in rec.parts(rows=rows_per_partition)]
        parts += file_parts
        by_file.append((_time_bounds(rec) if index else None, file_parts))
    columns = _union(per_file)
    dtypes = [dtype_of[key] for key in _occurrences(columns)]
    divisions = _divisions(by_file, parts) if index and parts else None
    for part in parts:
        part["columns"] = columns if index is None else columns[1:]
        part["dtypes"] = dtypes if index is None else dtypes[1:]
    meta = _meta(columns, dtypes, index is not None)
    if not parts:
        return dd.from_pandas(meta, npartitions=1)
    return dd.from_map(_reader(_read_part, parts, meta), parts, meta=meta, divisions=divisions,
                       label="cdt-read", enforce_metadata=False)


def _convert_one(path: str, out_dir: str, errors: str) -> Optional[str]:
    try:
        return _cdt.convert(path, out_dir)
    except (_cdt.FormatError, OSError, ValueError) as e:
        # With "skip" the caller warns of it by name; a refusal (the output
        # would be the input) is reported the same way, never dropped.
        if errors == "raise":
            raise
        return "\0" + f"{path}: {e}"


def convert_recordings(paths: Paths, out_dir: Union[str, bytes, "_os.PathLike"], *,
                       errors: str = "raise") -> List[str]:
    """Converts many recordings to CSV, one task per file, on the current scheduler.

    With a ``distributed.Client`` active the workers write the files, so
    ``out_dir`` must be a directory they can reach. The CSV files hold the
    bytes ``cdt2csv`` writes (names as the file holds them, so no encoding
    is needed). A recording whose CSV would be the recording itself is
    refused, as :func:`cdt.convert` refuses it.

    Returns
    -------
    list of str
        The paths written, in the order of ``paths``; with ``errors="skip"``
        the recordings that cannot be converted are left out, each named in a
        warning. With "raise" (the default) the first failure raises.
    """
    import dask

    _check_errors(errors)
    out = _text_path(out_dir)
    tasks = [dask.delayed(_convert_one, pure=True)(p, out, errors) for p in _expand(paths)]
    written = []
    for result in dask.compute(*tasks):
        if result is not None and result.startswith("\0"):
            _warnings.warn(f"cdt.dask: left out {result[1:]}", stacklevel=2)
        else:
            written.append(result)
    return written


def _analyse_one(path: str, is_set: bool, options: Dict[str, Any], salvage: bool,
                 encoding: Optional[str], errors: str) -> Any:
    """The resonances of one recording (or the set of one of its files)
    with a first column naming it; with "skip" a failure is returned as
    text for the caller to warn of."""
    from ._sets import RecordingSet

    try:
        source = (RecordingSet(path, encoding=encoding, salvage=salvage) if is_set
                  else _cdt.open(path, salvage=salvage, encoding=encoding))
        frame = source.resonances(**options)
    except (_cdt.FormatError, OSError, ValueError) as e:
        if errors == "raise":
            raise
        return f"{path}: {e}"
    frame.insert(0, "source", path)
    return frame


def analyse_recordings(paths: Paths, *, sets: bool = False, stage: Any = None, orders: Any = None,
                       salvage: bool = False, encoding: Optional[str] = None,
                       errors: str = "raise") -> _pd.DataFrame:
    """The resonances of a campaign: one task per recording (or, with
    ``sets``, per recording set) on the current scheduler, gathered into one
    table.

    The columns are ``source`` (the recording's path; a set's, the path of
    its master's file) and those of :func:`cdt.analysis.resonances`, whose
    numbers each task computes as ``cdt analyse`` does. With ``sets`` a
    directory names every set in it, a file its set. ``stage`` and
    ``orders`` as for :func:`cdt.analysis.resonances`; with ``errors="skip"``
    a recording that cannot be analysed is left out and named in a warning.
    """
    import dask

    from .analysis import RESONANCE_COLUMNS, _orders

    _check_errors(errors)
    options = {"stage": stage, "orders": None if orders is None else _orders(orders)}
    if sets:
        sources = [s.files[s._master] for s in _expand_sets(paths, salvage, errors, encoding)]
    else:
        sources = _expand(paths)
    tasks = [dask.delayed(_analyse_one, pure=True)(p, sets, options, salvage, encoding, errors)
             for p in sources]
    frames = []
    for result in dask.compute(*tasks):
        if isinstance(result, str):
            _warnings.warn(f"cdt.dask: left out {result}", stacklevel=2)
        else:
            frames.append(result)
    if not frames:
        return _pd.DataFrame(columns=["source"] + RESONANCE_COLUMNS)
    return _pd.concat(frames, ignore_index=True)


def _expand_sets(paths: Paths, salvage: bool, errors: str, encoding) -> List[Any]:
    """The recording sets that `paths` name, each once, in time order: a
    directory gives every set in it, a file (or a glob's files) its set."""
    from ._sets import RecordingSet, find_sets

    if isinstance(paths, (str, bytes, _os.PathLike)) and _os.path.isdir(_os.fspath(paths)):
        given = [_text_path(paths)]
    else:
        given = _expand(paths)
    found: Dict[Tuple[str, ...], Any] = {}
    for p in given:
        try:
            sets = (find_sets(p, encoding=encoding) if _os.path.isdir(p)
                    else [RecordingSet(p, encoding=encoding, salvage=salvage)])
        except (_cdt.FormatError, OSError, ValueError) as e:
            if errors == "raise":
                raise
            _warnings.warn(f"cdt.dask: left out {p}: {e}", stacklevel=3)
            continue
        for s in sets:
            s.salvage = bool(salvage)
            found.setdefault(tuple(s.files), s)
    return sorted(found.values(), key=lambda s: (s.time, s.files))


def _first_revolution(s, part, selection: Dict[str, Any]) -> Optional[int]:
    """The Start Rev of a set part's first line (None without lines)."""
    for batch in s.iter_batches(rows=1, part=part, **selection):
        return int(batch.start_rev[0]) if len(batch) else None
    return None


def _last_revolution(s) -> Optional[int]:
    """The highest Start Rev among the hosts' last lines: a window from
    each host's last index time holds its last lines."""
    last = None
    for rec in s.recordings:
        t = _np.asarray(_cdt._cdt.index_times(rec._path, rec.salvage), dtype=_np.uint64)
        t = t[t < _np.uint64(_cdt._args.US_LIMIT)]
        if t.size == 0:
            continue
        # An index time may lie past the last line: no lines, not an error.
        tail, _ = rec._read([], None, int(t.max()), None, None, None)
        if len(tail):
            last = max(last or 0, int(tail.start_rev.max()))
    return last


def _set_divisions(s, parts: List[Dict[str, Any]], selection: Dict[str, Any]) -> Optional[list]:
    """The Start Rev divisions of a set's parts, or None where they do not
    increase (a counter that restarts between them)."""
    firsts = [_first_revolution(s, p["part"], selection) for p in parts]
    last = _last_revolution(s)
    if last is None or any(f is None for f in firsts):
        return None
    divisions = firsts + [last]
    if any(a >= b for a, b in zip(divisions[:-2], divisions[1:-1])) or divisions[-2] > divisions[-1]:
        return None
    return divisions


def _read_set_part(part: Dict[str, Any], projected: Optional[List[str]] = None) -> _pd.DataFrame:
    """One (set, window) part as a frame with every column of the union
    (with `projected`, reading only the probes those columns need)."""
    s = _cdt.open_set(part["path"], encoding=part["encoding"])
    s.salvage = part["salvage"]
    lines = s.read(part=part["part"], **_projected_selection(part, projected))
    frame = lines._frame(file=part["path"], file_column="Set")
    if part["by_revolution"]:
        frame = frame.set_index("Start Rev")
        _check_revolutions(part, frame.index)
    # A host the set has no file of misses every line: its status says so,
    # its cells are NaN.
    columns, dtypes = _wanted(part["columns"], part["dtypes"], projected)
    return _with_columns(frame, columns, dtypes, part["status"])


def _check_revolutions(part: Dict[str, Any], index: _pd.Index) -> None:
    """Raises ValueError where a part's Start Rev leave the division it was
    given or go back (a counter that restarts within the part)."""
    if part["bounds"] is not None and not _in_bounds(index, part["bounds"]):
        raise ValueError(f"{part['path']}: the set's revolution counter goes back (a restart or "
                         "resynchronisation), so a Start Rev index has no divisions; read it "
                         "with index=None")


def _set_dtypes(columns: Sequence[str], hosts: int) -> List[Any]:
    """The dtypes of a set's columns: a recording's, then a uint8 status per host."""
    return _dtypes(columns[:len(columns) - hosts]) + [_np.uint8] * hosts


def read_sets(paths: Paths, *, rows_per_partition: int = 1_000_000, salvage: bool = False,
              errors: str = "raise", encoding: Optional[str] = None,
              index: Optional[str] = None, **selection):
    """Recording sets as one ``dask.dataframe.DataFrame``: every set's lines
    joined by revolution, as :meth:`cdt.RecordingSet.to_pandas` has them.

    Parameters
    ----------
    paths : str, bytes, path or iterable of them
        A directory (every recording set in it), data files (each gives its
        set; the files of one set give it once) or a glob of them.
    rows_per_partition : int
        About this many lines per partition: each set is cut into windows by
        :meth:`cdt.RecordingSet.parts` (one partition per set and window).
    salvage, errors, encoding
        As for :func:`read_recordings`.
    index : {None, "Start Rev"}
        None (the default): each partition's lines numbered from 0, the
        partitions in time order, the divisions unknown. "Start Rev": Start
        Rev is the index, and the divisions are known where the revolution
        numbers increase from partition to partition (one set, or sets whose
        counters go on): ``.loc`` on Start Rev then reads only the
        partitions it needs. Planning them reads the first line of every
        partition and the last lines of each host. Where they do not
        increase (sets that each count from 1, a counter that restarts
        between partitions) the divisions stay unknown; a restart found only
        when a partition is computed raises ValueError naming the set.
    **selection
        ``probes``, ``blades`` and ``revolutions`` as for
        :meth:`cdt.RecordingSet.read`.

    Returns
    -------
    dask.dataframe.DataFrame
        A ``Set`` column first naming the set (its master's file), then the
        set's columns (the union over the sets in first-seen order, NaN where
        a set has no such column), the "HOST Status" columns last as uint8;
        a host that a set has no file of is ``cdt.status.MISSING`` there.
    """
    import dask.dataframe as dd

    _check_errors(errors)
    if index not in (None, "Start Rev"):
        raise ValueError(f"index: None or 'Start Rev', not {index!r}")
    for key in ("start", "stop", "part"):
        if key in selection:
            raise TypeError(f"{key}: read_sets cuts its own windows")
    sets = _expand_sets(paths, salvage, errors, encoding)
    per_set, dtype_of, parts, divisions = [], {}, [], []
    status = {f"{h} Status" for s in sets for h in s.hosts}
    by_revolution = index is not None
    for s in sets:
        names = s.columns(probes=selection.get("probes"), blades=selection.get("blades"))
        # Checks the whole selection here, not in a task.
        s._selections(selection.get("probes"), selection.get("blades"), None, None,
                      selection.get("revolutions"))
        per_set.append(names)
        for key, dtype in zip(_occurrences(names), _set_dtypes(names, len(s.hosts))):
            dtype_of.setdefault(key, dtype)
        path = s.files[s.hosts.index(s.master)]
        probe_columns = _probe_columns(s, selection)
        set_parts = [{"path": path, "salvage": s.salvage, "encoding": encoding, "part": p,
                      "selection": dict(selection), "by_revolution": by_revolution,
                      "bounds": None, "probe_columns": probe_columns}
                     for p in s.parts(rows=rows_per_partition)]
        if by_revolution and divisions is not None:
            own = _set_divisions(s, set_parts, selection)
            if own is None or (divisions and divisions[-1] >= own[0]):
                divisions = None
            else:
                divisions = divisions[:-1] + own if divisions else own
        parts += set_parts
    columns = ["Set"] + _union(per_set)
    dtypes = [object] + [dtype_of[key] for key in _occurrences(columns[1:])]
    if by_revolution:
        at = columns.index("Start Rev")
        columns, dtypes = columns[:at] + columns[at + 1:], dtypes[:at] + dtypes[at + 1:]
    known = divisions if by_revolution and divisions and len(divisions) == len(parts) + 1 else None
    for i, part in enumerate(parts):
        part["columns"], part["dtypes"], part["status"] = columns, dtypes, status
        if known:
            part["bounds"] = (known[i], known[i + 1], i == len(parts) - 1)
    data = [_pd.Series([], dtype=t) for t in dtypes]
    meta = _frame(columns, data, _pd.Index([], dtype=_np.uint64, name="Start Rev")
                  if by_revolution else _pd.RangeIndex(0))
    if not parts:
        return dd.from_pandas(meta, npartitions=1)
    return dd.from_map(_reader(_read_set_part, parts, meta), parts, meta=meta, divisions=known,
                       label="cdt-read-set", enforce_metadata=False)
