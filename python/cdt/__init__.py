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

import datetime as _dt
import json as _json
import os as _os
from typing import Any, Dict, Iterator, List, Optional, Sequence, Tuple, Union

import numpy as _np

from . import _cdt
from ._cdt import FormatError

__all__ = ["open", "convert", "Recording", "Lines", "ProbeLines", "FormatError"]

TimeLike = Union[_dt.datetime, str, int, _np.datetime64]

FormatError.__doc__ = """A file that cannot be read as a data file (a ValueError).

The message names the file and the reason, as ``cdt info`` gives it."""


def _microseconds(value: TimeLike, name: str) -> int:
    """A time as microseconds since 1970 (UTC).

    Accepts an int (microseconds), a datetime (naive ones are UTC), a
    numpy.datetime64, a pandas Timestamp or ISO 8601 text.
    """
    if isinstance(value, bool):
        raise TypeError(f"{name}: a time, not a bool")
    if isinstance(value, (int, _np.integer)):
        if value < 0:
            raise ValueError(f"{name}: a time before 1970: {value}")
        return int(value)
    if isinstance(value, str):
        text = value.strip()
        if text.endswith(("Z", "z")):
            text = text[:-1] + "+00:00"
        try:
            value = _dt.datetime.fromisoformat(text)
        except ValueError:
            raise ValueError(f"{name}: not an ISO 8601 time: {value!r}") from None
    if isinstance(value, _np.datetime64):
        us = int(value.astype("datetime64[us]").astype(_np.int64))
    elif isinstance(value, _dt.datetime):
        if value.tzinfo is not None:
            value = value.astimezone(_dt.timezone.utc).replace(tzinfo=None)
        us = (value - _dt.datetime(1970, 1, 1)) // _dt.timedelta(microseconds=1)
    elif isinstance(value, _dt.date):
        us = (_dt.datetime(value.year, value.month, value.day) - _dt.datetime(1970, 1, 1)) // (
            _dt.timedelta(microseconds=1))
    else:
        raise TypeError(f"{name}: not a time: {value!r}")
    if us < 0:
        raise ValueError(f"{name}: a time before 1970: {value!r}")
    return us


def _blade_numbers(blades: Any) -> List[int]:
    if isinstance(blades, (int, _np.integer)):
        blades = [blades]
    numbers = [int(b) for b in blades]
    for b in numbers:
        if b < 1:
            raise ValueError(f"blades: blade numbers start at 1, not {b}")
    return numbers


class ProbeLines:
    """One probe's columns of a :class:`Lines`.

    Attributes
    ----------
    name : str
        The probe's name, as the CSV header has it.
    blades : numpy.ndarray
        The 1-based numbers of the blades whose columns are kept.
    rms : numpy.ndarray
        float32, one value per line.
    dns : numpy.ndarray
        float64, the line's mean DNS over all the probe's blades.
    blade_dns, blade_toa : numpy.ndarray
        float32, shape (lines, blades).
    """

    def __init__(self, name: str, blades: Sequence[int], rms, dns, blade_dns, blade_toa):
        self.name = name
        self.blades = _np.asarray(blades, dtype=_np.int64)
        self.rms = rms
        self.dns = dns
        self.blade_dns = blade_dns
        self.blade_toa = blade_toa

    def __repr__(self) -> str:
        return f"<ProbeLines {self.name}: {len(self.rms)} lines, {len(self.blades)} blades>"


class Lines:
    """Lines of a recording as numpy arrays, one row per CSV line.

    Attributes
    ----------
    time : numpy.ndarray
        datetime64[us], UTC: the time of each line's first record.
    speed : numpy.ndarray
        float32.
    sync : numpy.ndarray
        bool.
    start_rev, end_rev : numpy.ndarray
        uint32 (uint64 where a revolution number does not fit 32 bits).
    probes : dict of str to ProbeLines
        Per kept probe, by name, in the CSV's order.
    stopped : dict
        Why and at which offset reading stopped (``reason``, ``offset``).

    Cells the CSV leaves empty are NaN. The float and double columns are
    rows of two blocks (``float_block``, ``double_block``) shared by the
    arrays above without copies.
    """

    def __init__(self, raw: Dict[str, Any], rows: Optional[int] = None):
        n = raw["rows"] if rows is None else rows
        self._n = n
        self.time = raw["time"][:n].view("datetime64[us]")
        self.sync = raw["sync"][:n]
        self.start_rev = _narrow(raw["start_rev"][:n])
        self.end_rev = _narrow(raw["end_rev"][:n])
        self.float_block = raw["floats"][:, :n]
        self.double_block = raw["doubles"][:, :n]
        self.speed = self.float_block[0]
        self.stopped = dict(raw["stopped"])
        self._plan = raw["probes"]
        self.probes: Dict[str, ProbeLines] = {}
        for p in self._plan:
            k = len(p["blades"])
            dns_rows = self.float_block[p["blade_dns_row"]:p["blade_dns_row"] + k]
            toa_rows = self.float_block[p["blade_toa_row"]:p["blade_toa_row"] + k]
            self.probes[p["name"]] = ProbeLines(
                p["name"], p["blades"], self.float_block[p["rms_row"]],
                self.double_block[p["dns_row"]], dns_rows.T, toa_rows.T)

    def __len__(self) -> int:
        return self._n

    def __repr__(self) -> str:
        return f"<Lines: {self._n} lines, probes {list(self.probes)}>"

    def columns(self) -> List[str]:
        """The CSV header's column names of these lines, in order."""
        return [name for name, _ in self._columns()]

    def _columns(self) -> List[Tuple[str, Any]]:
        cols: List[Tuple[str, Any]] = [
            ("Time", None), ("Speed", self.speed), ("Sync", self.sync),
            ("Start Rev", self.start_rev), ("End Rev", self.end_rev)]
        for p in self.probes.values():
            cols.append((f"{p.name} RMS", p.rms))
            cols.append((f"{p.name} DNS", p.dns))
            for j, b in enumerate(p.blades):
                cols.append((f"{p.name} Blade{b} DNS", p.blade_dns[:, j]))
            if len(p.blades):
                for j, b in enumerate(p.blades):
                    cols.append((f"{p.name} Blade{b} TOA", p.blade_toa[:, j]))
        return cols

    def to_pandas(self):
        """These lines as a pandas DataFrame with the CSV header's column names.

        Time is datetime64[ns] (UTC), Sync bool, Start Rev and End Rev
        integers, the measurements float32 and the DNS means float64. The
        measurement columns share the memory of these Lines.
        """
        import pandas as pd

        time = pd.DatetimeIndex(self.time.astype("datetime64[ns]"), tz="UTC")
        try:
            return self._frame_of_blocks(pd, time)
        except Exception:  # pandas' internals moved: build it the public way
            data = {}
            for name, values in self._columns():
                data[name] = time if name == "Time" else values
            return pd.DataFrame(data)

    def _frame_of_blocks(self, pd, time):
        """The frame made of the float and double blocks as they are."""
        from pandas.core.internals import BlockManager
        from pandas.core.internals.api import make_block

        names = []
        float_rows, float_at, double_rows, double_at = [0], [1], [], []
        for p in self._plan:
            k = len(p["blades"])
            at = len(names) + 5
            names += [f"{p['name']} RMS", f"{p['name']} DNS"]
            names += [f"{p['name']} Blade{b} DNS" for b in p["blades"]]
            names += [f"{p['name']} Blade{b} TOA" for b in p["blades"]]
            float_rows.append(p["rms_row"])
            float_at.append(at)
            double_rows.append(p["dns_row"])
            double_at.append(at + 1)
            float_rows += list(range(p["blade_dns_row"], p["blade_dns_row"] + 2 * k))
            float_at += list(range(at + 2, at + 2 + 2 * k))
        columns = ["Time", "Speed", "Sync", "Start Rev", "End Rev"] + names
        n = self._n
        # The block rows in column order, so that the blocks need no copy.
        if float_rows != list(range(len(float_rows))) or double_rows != list(range(len(double_rows))):
            raise ValueError("blocks out of column order")
        blocks = [
            make_block(time._data, placement=[0], ndim=2),
            make_block(self.float_block, placement=float_at, ndim=2),
            make_block(self.sync.reshape(1, n), placement=[2], ndim=2),
            make_block(self.start_rev.reshape(1, n), placement=[3], ndim=2),
            make_block(self.end_rev.reshape(1, n), placement=[4], ndim=2),
        ]
        if double_rows:
            blocks.append(make_block(self.double_block, placement=double_at, ndim=2))
        manager = BlockManager(blocks, [pd.Index(columns), pd.RangeIndex(n)])
        return pd.DataFrame(manager)


def _narrow(revolutions: _np.ndarray) -> _np.ndarray:
    if revolutions.size == 0 or int(revolutions.max()) <= 0xFFFFFFFF:
        return revolutions.astype(_np.uint32)
    return revolutions


class Recording:
    """One data file, open for reading. Made by :func:`open`.

    Nothing stays open between calls: every read opens the file afresh, so a
    Recording may be used from several threads, and the GIL is released while
    the C++ reader works.

    Attributes
    ----------
    path : str
    finished : bool
        Whether the file was finished (has its index); a file still being
        written shows its records only with ``salvage=True``.
    header : dict
        The header's fields.
    configuration_text : str
        The configuration block as the file holds it.
    configuration : dict
        ``name``; ``stages`` (name, blades); ``hosts`` (name, and per channel
        its ``probe`` and ``stage``, None where the channel has no probe).
    stopped : dict or None
        After a read: why and at which offset reading stopped.
    """

    def __init__(self, path: Union[str, "_os.PathLike[str]"], *, salvage: bool = False):
        self.path = _os.fspath(path)
        self.salvage = bool(salvage)
        d = _cdt.describe(self.path, self.salvage)
        self.finished: bool = d["finished"]
        self.header: Dict[str, int] = d["header"]
        self.configuration: Dict[str, Any] = d["configuration"]
        self.configuration_text: str = d["configuration_text"].decode("utf-8", "replace")
        self.host_index: Optional[int] = d["host_index"]
        self._probes = d["probes"]
        self.stopped: Optional[Dict[str, Any]] = None
        self._closed = False

    # The context manager and close() exist for the habit of files; nothing
    # is held open.
    def close(self) -> None:
        """Marks the recording closed; later reads raise ValueError."""
        self._closed = True

    def __enter__(self) -> "Recording":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<cdt.Recording {self.path!r}>"

    def _check_open(self) -> None:
        if self._closed:
            raise ValueError(f"{self.path}: the recording is closed")

    @property
    def probe_names(self) -> List[str]:
        """The probes of the recording's host, in the CSV's order."""
        return [p["name"] for p in self._probes]

    def info(self) -> Dict[str, Any]:
        """What ``cdt info --json`` tells of the file, as a dict."""
        self._check_open()
        return _json.loads(_cdt.info_json(self.path))

    def columns(self, *, probes: Optional[Sequence[str]] = None, blades: Any = None) -> List[str]:
        """The CSV's column names in order, from the configuration.

        Parameters
        ----------
        probes, blades
            As for :meth:`read`: the columns such a read keeps.
        """
        names = self._probe_selection(probes)
        numbers = None if blades is None else sorted(set(_blade_numbers(blades)))
        cols = ["Time", "Speed", "Sync", "Start Rev", "End Rev"]
        for p in self._probes:
            if names is not None and p["name"] not in names:
                continue
            kept = [b for b in (numbers or range(1, p["blades"] + 1)) if 1 <= b <= p["blades"]]
            cols += [f"{p['name']} RMS", f"{p['name']} DNS"]
            cols += [f"{p['name']} Blade{b} DNS" for b in kept]
            cols += [f"{p['name']} Blade{b} TOA" for b in kept]
        return cols

    def _probe_selection(self, probes) -> Optional[List[str]]:
        if probes is None:
            return None
        if isinstance(probes, str):
            probes = [probes]
        probes = list(probes)
        known = self.probe_names
        for name in probes:
            if name not in known:
                raise KeyError(f"{self.path}: no probe {name!r} (probes: {', '.join(known)})")
        return probes

    def _selection(self, probes=None, blades=None, start=None, stop=None,
                   revolutions=None) -> "_cdt.Selection":
        s = _cdt.Selection()
        s.probes = self._probe_selection(probes)
        if blades is not None:
            s.blades = _blade_numbers(blades)
        if start is not None:
            s.start = _microseconds(start, "start")
        if stop is not None:
            s.stop = _microseconds(stop, "stop")
        if revolutions is not None:
            first, last = revolutions
            if first is not None:
                s.first_revolution = int(first)
            if last is not None:
                s.last_revolution = int(last)
        return s

    def read(self, *, probes: Optional[Sequence[str]] = None, blades: Any = None,
             start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
             revolutions: Optional[Tuple[Optional[int], Optional[int]]] = None) -> Lines:
        """Reads the selected lines as numpy arrays.

        Parameters
        ----------
        probes : list of str, optional
            Names of the probes whose columns are kept (all by default).
        blades : int, iterable of int or range, optional
            1-based blade numbers whose columns are kept; numbers beyond a
            probe's stage are left out for that probe. The DNS means stay the
            means over all blades.
        start, stop : datetime, str, int or numpy.datetime64, optional
            A time window [start, stop): datetime (naive is UTC), ISO 8601
            text or microseconds since 1970. A line belongs to the window of
            its *window time*: the latest record time up to the line's first
            record, which is that record's own time unless the recording's
            times went back before it. Window times never decrease along the
            file, so consecutive windows cut the lines into consecutive runs
            and joining them gives exactly the unwindowed read, however the
            groups of records fall across a boundary. The read starts at the
            beginning of the records (a group's lines depend on every record
            before it) and ends once the window time has passed ``stop``.
        revolutions : (first, last), optional
            Keeps the lines whose Start Rev lies in [first, last]; either may
            be None.

        Returns
        -------
        Lines
            The arrays are allocated once, at their final size.
        """
        self._check_open()
        raw = _cdt.read(self.path, self.salvage,
                        self._selection(probes, blades, start, stop, revolutions))
        lines = Lines(raw)
        self.stopped = lines.stopped
        return lines

    def to_pandas(self, **selection):
        """The selected lines as a pandas DataFrame with the CSV header's names.

        Takes the selection of :meth:`read`. One row per CSV line: Time as
        datetime64[ns] (UTC), Sync bool, Start Rev and End Rev integers, the
        measurements float32 (the DNS means float64), empty cells NaN.
        """
        return self.read(**selection).to_pandas()

    def iter_batches(self, rows: int = 65536, **selection) -> Iterator[Lines]:
        """Yields the selected lines as :class:`Lines` of at most ``rows`` lines.

        Memory stays at one batch whatever the file's size. Takes the
        selection of :meth:`read`.
        """
        self._check_open()
        if rows < 1:
            raise ValueError("rows: at least 1")
        reader = _cdt.BatchReader(self.path, self.salvage, self._selection(**selection), rows)
        while True:
            raw = reader.next()
            if raw is None:
                return
            lines = Lines(raw)
            self.stopped = lines.stopped
            yield lines

    def profiles(self) -> Dict[str, _np.ndarray]:
        """The profile records (type 2) in file order, packed ones expanded.

        Returns
        -------
        dict of numpy.ndarray
            ``time`` (datetime64[us]), ``host``, ``sync``, ``speed``,
            ``start_rev``, ``end_rev`` per profile, and ``values``,
            ``maxima``, ``minima`` (int16, profiles x 4096 points).
        """
        self._check_open()
        raw = _cdt.profiles(self.path, self.salvage)
        self.stopped = dict(raw.pop("stopped"))
        raw["time"] = raw["time"].view("datetime64[us]")
        return raw

    def parts(self, rows: int = 65536) -> List[Tuple[Optional[int], Optional[int]]]:
        """Time windows (start, stop) in microseconds that tile the recording.

        Reading every window with ``read(start=..., stop=...)`` and joining
        the results gives exactly :meth:`read`: windows are consecutive
        [start, stop) intervals of window time (see :meth:`read`), the first
        open at its start and the last at its end. They are cut at index
        times about ``rows`` lines apart, estimated from the index and the
        file's size without reading records.
        """
        self._check_open()
        if rows < 1:
            raise ValueError("rows: at least 1")
        times = _cdt.index_times(self.path, self.salvage)
        bounds = _part_bounds(times, self.header, len(self._probes), rows)
        edges = [None] + bounds + [None]
        return [(edges[i], edges[i + 1]) for i in range(len(edges) - 1)]


def _part_bounds(times: _np.ndarray, header: Dict[str, int], probes: int, rows: int) -> List[int]:
    """Cut times about `rows` lines apart, from the index's entry times."""
    if len(times) < 2:
        return []
    # Entries are made when the time moves on, about one per line.
    step = max(1, rows)
    cuts = sorted(set(int(t) for t in times[step::step]))
    return cuts


def open(path: Union[str, "_os.PathLike[str]"], *, salvage: bool = False) -> Recording:
    """Opens a data file.

    Parameters
    ----------
    path : str or os.PathLike
    salvage : bool
        Read a file that was never finished, or lost its index, to its last
        whole record, as ``cdt recover`` does.

    Raises
    ------
    FileNotFoundError
        The file does not exist.
    FormatError
        The file cannot be opened as a data file; the message says why.
    """
    return Recording(path, salvage=salvage)


def convert(path: Union[str, "_os.PathLike[str]"], out_dir: Union[str, "_os.PathLike[str]"] = ".") -> str:
    """Converts a data file to CSV, byte for byte as ``cdt2csv`` does.

    Returns the path of the CSV written into ``out_dir`` (named after the
    input, with the extension ``.csv``).
    """
    return _cdt.convert(_os.fspath(path), _os.fspath(out_dir))


from .report import report  # noqa: E402  (the quick-look page; matplotlib only when used)
