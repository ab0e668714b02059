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

import codecs as _codecs
import datetime as _dt
import json as _json
import os as _os
import sys as _sys
from typing import Any, Dict, Iterator, List, Optional, Sequence, Tuple, Union

import numpy as _np

from . import _cdt
from ._cdt import FormatError

__all__ = ["open", "convert", "Recording", "Lines", "ProbeLines", "FormatError", "UnknownProbeError"]

TimeLike = Union[_dt.datetime, str, int, _np.datetime64]
PathLike = Union[str, bytes, "_os.PathLike[str]", "_os.PathLike[bytes]"]

FormatError.__doc__ = """A file that cannot be read as a data file (a ValueError).

The message names the file and the reason, as ``cdt info`` gives it."""

_U64 = 2**64
# Times from here on have no datetime64[us] value (int64 microseconds).
_US_LIMIT = 2**63
# Times from here on (2262-04-11T23:47:16.854775 UTC and later) have no
# datetime64[ns] value.
_NS_LIMIT = (2**63 - 1) // 1000 + 1
_BLADE_LIMIT = 2**32


class UnknownProbeError(KeyError, ValueError):
    """A probe selection names no probe of the recording's host.

    Both a KeyError (no such key) and a ValueError (a wrong value)."""

    def __str__(self) -> str:
        return str(self.args[0]) if self.args else ""


def _path_bytes(path: Any, name: str = "path") -> bytes:
    """A path as the file system's bytes (os.fsencode of str, bytes or os.PathLike)."""
    if not isinstance(path, (str, bytes, _os.PathLike)):
        raise TypeError(f"{name}: a str, bytes or os.PathLike, not {type(path).__name__}")
    data = _os.fsencode(_os.fspath(path))
    if b"\0" in data:
        raise ValueError(f"{name}: a path holds no NUL byte: {path!r}")
    return data


def _check_encoding(encoding: Optional[str]) -> Optional[str]:
    if encoding is None:
        return None
    if not isinstance(encoding, str):
        raise TypeError(f"encoding: the name of a text codec (str) or None, not {type(encoding).__name__}")
    try:
        _codecs.lookup(encoding)
        b"".decode(encoding)
    except LookupError:
        raise ValueError(f"encoding: {encoding!r} names no text codec of Python's "
                         "(e.g. 'cp1252', 'cp1250', 'utf-8'), or None") from None
    return encoding


def _decode(data: bytes, encoding: Optional[str], path: Optional[str] = None) -> str:
    """A name or text of a data file (its bytes) as str.

    With ``encoding=None``: UTF-8 when the bytes are valid UTF-8, otherwise
    Windows-1252 as the WHATWG Encoding Standard maps it (every byte maps,
    so this never fails and nothing is replaced). With an encoding named,
    Python's codec of that name; bytes it cannot decode raise ValueError
    (naming ``path`` when given).
    """
    if encoding is None:
        return _cdt.decode_name(bytes(data))
    try:
        return bytes(data).decode(encoding)
    except LookupError:
        raise ValueError(f"encoding: {encoding!r} names no text codec of Python's") from None
    except UnicodeDecodeError as e:
        where = f"{path}: " if path is not None else ""
        raise ValueError(f"{where}{bytes(data)!r} is not {encoding} text ({e.reason} at byte "
                         f"{e.start}); name the installation's code page with encoding=") from None


def _is_int(value: Any) -> bool:
    return isinstance(value, (int, _np.integer)) and not isinstance(value, (bool, _np.bool_))


def _is_nat(value: Any) -> bool:
    if isinstance(value, _np.datetime64):
        return bool(_np.isnat(value))
    pandas = _sys.modules.get("pandas")
    return pandas is not None and value is pandas.NaT


def _microseconds(value: TimeLike, name: str) -> int:
    """A time as microseconds since 1970 (UTC).

    Accepts an int (microseconds, 0 to 2**64 - 1), a datetime (naive ones
    are UTC), a numpy.datetime64, a pandas Timestamp or ISO 8601 text.
    """
    form = ("a datetime (naive is UTC), pandas Timestamp, numpy.datetime64, ISO 8601 text "
            "or int microseconds since 1970")
    if isinstance(value, (bool, _np.bool_)):
        raise TypeError(f"{name}: {form}, not a bool")
    if _is_int(value):
        if not 0 <= value < _U64:
            raise ValueError(f"{name}: microseconds since 1970 from 0 to 2**64 - 1, not {value}")
        return int(value)
    if _is_nat(value):
        raise ValueError(f"{name}: {form}, not NaT")
    if isinstance(value, str):
        # The grammar of the cdt commands' times (offsets, a blank for "T", a date alone).
        us = _cdt.parse_time(value)
        if us is None:
            raise ValueError(f"{name}: not an ISO 8601 time from 1970 on, such as "
                             f"'2011-05-06T12:30:45.25Z' or '2011-05-06 14:30+02:00': {value!r}")
        return us
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
        raise TypeError(f"{name}: {form}, not {type(value).__name__}")
    if us < 0:
        raise ValueError(f"{name}: a time before 1970: {value!r}")
    return int(us)


def _blade_numbers(blades: Any) -> List[int]:
    """Checked 1-based blade numbers; an empty iterable selects no blade."""
    form = "an int, an iterable of ints or a range of 1-based blade numbers"
    if _is_int(blades):
        blades = [blades]
    elif isinstance(blades, (str, bytes, bool, float, _np.bool_, _np.floating)) or not hasattr(
            blades, "__iter__"):
        raise TypeError(f"blades: {form}, not {type(blades).__name__}")
    numbers = []
    for b in blades:
        if not _is_int(b):
            raise TypeError(f"blades: {form}, not a {type(b).__name__} ({b!r})")
        if not 1 <= b < _BLADE_LIMIT:
            raise ValueError(f"blades: blade numbers from 1 to {_BLADE_LIMIT - 1}, not {b}")
        numbers.append(int(b))
    return numbers


def _revolution_window(revolutions: Any) -> Tuple[Optional[int], Optional[int]]:
    form = "a pair (first, last) of revolution numbers (ints from 0 to 2**64 - 1, or None)"
    if isinstance(revolutions, (str, bytes)) or not hasattr(revolutions, "__len__"):
        raise TypeError(f"revolutions: {form}, not {type(revolutions).__name__}")
    if len(revolutions) != 2:
        raise ValueError(f"revolutions: {form}, not {len(revolutions)} values")
    bounds = []
    for r in revolutions:
        if r is None:
            bounds.append(None)
            continue
        if not _is_int(r):
            raise TypeError(f"revolutions: {form}, not a {type(r).__name__} ({r!r})")
        if not 0 <= r < _U64:
            raise ValueError(f"revolutions: {form}, not {r}")
        bounds.append(int(r))
    return bounds[0], bounds[1]


def _row_count(rows: Any) -> int:
    if not _is_int(rows):
        raise TypeError(f"rows: a positive int, not {type(rows).__name__}")
    if rows < 1:
        raise ValueError(f"rows: a positive int (at least 1), not {rows}")
    # No read holds more lines than this; the module takes it as a size_t.
    return int(min(rows, 2**62))


def _probe_keys(names: Sequence[str], channels: Sequence[int]) -> List[str]:
    """Each probe's unique key: its name, or "NAME (channel N)" where several share it."""
    return [name if names.count(name) == 1 else f"{name} (channel {channel})"
            for name, channel in zip(names, channels)]


class ProbeLines:
    """One probe's columns of a :class:`Lines`.

    Attributes
    ----------
    name : str
        The probe's name, as the CSV header has it (decoded).
    key : str
        Its key in :attr:`Lines.probes`: the name, or ``"NAME (channel N)"``
        when several probes of the host share the name.
    channel : int
        The channel (0 to 3) of the host that the probe is on.
    blades : numpy.ndarray
        The 1-based numbers of the blades whose columns are kept.
    rms : numpy.ndarray
        float32, one value per line.
    dns : numpy.ndarray
        float64, the line's mean DNS over all the probe's blades.
    blade_dns, blade_toa : numpy.ndarray
        float32, shape (lines, blades).
    """

    def __init__(self, name: str, blades: Sequence[int], rms, dns, blade_dns, blade_toa, *,
                 key: Optional[str] = None, channel: int = 0):
        self.name = name
        self.key = name if key is None else key
        self.channel = channel
        self.blades = _np.asarray(blades, dtype=_np.int64)
        self.rms = rms
        self.dns = dns
        self.blade_dns = blade_dns
        self.blade_toa = blade_toa

    def __repr__(self) -> str:
        return f"<ProbeLines {self.key}: {len(self.rms)} lines, {len(self.blades)} blades>"


class Lines:
    """Lines of a recording as numpy arrays, one row per CSV line.

    Attributes
    ----------
    time_us : numpy.ndarray
        uint64: the time of each line's first record, in microseconds since
        1970 (UTC), exact for every time a file can hold.
    time : numpy.ndarray
        datetime64[us], UTC: the same times. A time of 2**63 microseconds or
        more has no datetime64 value: using ``time`` then raises ValueError
        naming the file and the line (never NaT or a time before 1970).
    speed : numpy.ndarray
        float32.
    sync : numpy.ndarray
        bool.
    start_rev, end_rev : numpy.ndarray
        uint32 (uint64 where a revolution number does not fit 32 bits).
    probes : dict of str to ProbeLines
        Per kept probe in the CSV's order, by its key: the probe's name, or,
        where several probes of the host share a name, ``"NAME (channel
        N)"`` (N its channel, 0 to 3) for each of them.
    stopped : dict
        Why and at which offset reading stopped (``reason``, ``offset``).

    Cells the CSV leaves empty are NaN. The float and double columns are
    rows of two blocks (``float_block``, ``double_block``) shared by the
    arrays above without copies. Lines are numbered from 1 as in the CSV
    after its header (for a read with a window, from the window's first).
    """

    def __init__(self, raw: Dict[str, Any], rows: Optional[int] = None, *, path: str = "",
                 probes: Optional[Dict[int, Tuple[str, str]]] = None, first_line: int = 1,
                 windowed: bool = False):
        n = raw["rows"] if rows is None else rows
        self._n = n
        self._path = path
        self._first_line = first_line
        self._windowed = windowed
        self.time_us = raw["time"][:n].view(_np.uint64)
        self.sync = raw["sync"][:n]
        self.start_rev = _narrow(raw["start_rev"][:n])
        self.end_rev = _narrow(raw["end_rev"][:n])
        self.float_block = raw["floats"][:, :n]
        self.double_block = raw["doubles"][:, :n]
        self.speed = self.float_block[0]
        self.stopped = dict(raw["stopped"])
        self._plan = raw["probes"]
        self._names: List[str] = []
        self.probes: Dict[str, ProbeLines] = {}
        for p in self._plan:
            slot = p["slot"]
            if probes is not None and slot in probes:
                name, key = probes[slot]
            else:
                name = key = _decode(p["name"], None)
            self._names.append(name)
            k = len(p["blades"])
            dns_rows = self.float_block[p["blade_dns_row"]:p["blade_dns_row"] + k]
            toa_rows = self.float_block[p["blade_toa_row"]:p["blade_toa_row"] + k]
            self.probes[key] = ProbeLines(
                name, p["blades"], self.float_block[p["rms_row"]],
                self.double_block[p["dns_row"]], dns_rows.T, toa_rows.T, key=key, channel=slot)

    def __len__(self) -> int:
        return self._n

    def __repr__(self) -> str:
        return f"<Lines: {self._n} lines, probes {list(self.probes)}>"

    def _check_times(self, limit: int, what: str) -> None:
        """Raises ValueError for the first line whose time is `limit` or later."""
        late = _np.flatnonzero(self.time_us >= _np.uint64(limit))
        if late.size:
            i = int(late[0])
            line = self._first_line + i
            where = f"line {line} of the window" if self._windowed else f"line {line}"
            raise ValueError(f"{self._path}: {where}: the time {int(self.time_us[i])} microseconds "
                             f"since 1970 lies beyond what {what} holds; time_us has it exactly")

    @property
    def time(self) -> _np.ndarray:
        self._check_times(_US_LIMIT, "datetime64[us]")
        return self.time_us.view("datetime64[us]")

    def columns(self) -> List[str]:
        """The CSV header's column names of these lines, in order (repeats kept)."""
        return _column_names([(name, p["blades"]) for name, p in zip(self._names, self._plan)])

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

        Time is datetime64[ns] (UTC), exact to the microsecond; a time after
        2262-04-11T23:47:16.854775 UTC, which datetime64[ns] cannot hold,
        raises ValueError naming the file and the line (``time_us`` has it).
        Sync is bool, Start Rev and End Rev integers, the measurements
        float32 and the DNS means float64. Probes that share a name give
        columns of the same names, as in the CSV. The measurement columns
        share the memory of these Lines.
        """
        import pandas as pd

        self._check_times(_NS_LIMIT, "datetime64[ns]")
        ns = self.time_us.view(_np.int64).astype("datetime64[us]").astype("datetime64[ns]")
        time = pd.DatetimeIndex(ns, tz="UTC")
        try:
            return self._frame_of_blocks(pd, time)
        except Exception:  # pandas' internals moved: build it the public way
            cols = self._columns()
            frame = pd.DataFrame({i: (time if name == "Time" else values)
                                  for i, (name, values) in enumerate(cols)})
            frame.columns = pd.Index([name for name, _ in cols])
            return frame

    def _frame_of_blocks(self, pd, time):
        """The frame made of the float and double blocks as they are."""
        from pandas.core.internals import BlockManager
        from pandas.core.internals.api import make_block

        names = []
        float_rows, float_at, double_rows, double_at = [0], [1], [], []
        for name, p in zip(self._names, self._plan):
            k = len(p["blades"])
            at = len(names) + 5
            names += [f"{name} RMS", f"{name} DNS"]
            names += [f"{name} Blade{b} DNS" for b in p["blades"]]
            names += [f"{name} Blade{b} TOA" for b in p["blades"]]
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


def _column_names(probes: Sequence[Tuple[str, Sequence[int]]]) -> List[str]:
    """The CSV header's names for (probe name, kept blade numbers) in order."""
    cols = ["Time", "Speed", "Sync", "Start Rev", "End Rev"]
    for name, blades in probes:
        cols += [f"{name} RMS", f"{name} DNS"]
        cols += [f"{name} Blade{b} DNS" for b in blades]
        cols += [f"{name} Blade{b} TOA" for b in blades]
    return cols


def _narrow(revolutions: _np.ndarray) -> _np.ndarray:
    if revolutions.size == 0 or int(revolutions.max()) <= 0xFFFFFFFF:
        return revolutions.astype(_np.uint32)
    return revolutions


class Recording:
    """One data file, open for reading. Made by :func:`open`.

    Nothing stays open between calls: every read opens the file afresh, so a
    Recording may be used from several threads, and the GIL is released while
    the C++ reader works.

    Names (of the configuration, its stages, hosts and probes, and the
    configuration text) are the bytes the installation wrote, in its code
    page; each is decoded on its own: with ``encoding=None`` as UTF-8 when
    it is valid UTF-8, else as Windows-1252 (the WHATWG mapping: every byte
    maps, nothing fails), otherwise with Python's codec of that name.

    Attributes
    ----------
    path : str
        The path as ``os.fsdecode`` gives it (bytes a file name holds that
        are not UTF-8 appear as surrogate escapes).
    encoding : str or None
        The code page the names are decoded with (None: the rule above).
    finished : bool
        Whether the file was finished (has its index); a file still being
        written shows its records only with ``salvage=True``.
    header : dict
        The header's fields.
    configuration_text : str
        The configuration block as the file holds it, decoded.
    configuration : dict
        ``name``; ``stages`` (name, blades); ``hosts`` (name, and per channel
        its ``probe`` and ``stage``, None where the channel has no probe).
    stopped : dict or None
        After a read: why and at which offset reading stopped.
    """

    def __init__(self, path: PathLike, *, salvage: bool = False, encoding: Optional[str] = None):
        self._path = _path_bytes(path)
        self.path = _os.fsdecode(self._path)
        self.salvage = bool(salvage)
        self.encoding = _check_encoding(encoding)
        d = _cdt.describe(self._path, self.salvage)
        self.finished: bool = d["finished"]
        self.header: Dict[str, int] = d["header"]
        self.configuration: Dict[str, Any] = self._decoded(d["configuration"])
        self.configuration_text: str = self._text(d["configuration_text"])
        self.host_index: Optional[int] = d["host_index"]
        names = [self._text(p["name"]) for p in d["probes"]]
        channels = [p["slot"] for p in d["probes"]]
        self._probes = [{"name": n, "key": k, "channel": c, "blades": p["blades"]}
                        for n, k, c, p in zip(names, _probe_keys(names, channels), channels,
                                              d["probes"])]
        self.stopped: Optional[Dict[str, Any]] = None
        self._closed = False

    def _text(self, data: bytes) -> str:
        return _decode(data, self.encoding, self.path)

    def _decoded(self, value: Any) -> Any:
        """The description with every name (bytes) decoded."""
        if isinstance(value, bytes):
            return self._text(value)
        if isinstance(value, dict):
            return {k: self._decoded(v) for k, v in value.items()}
        if isinstance(value, list):
            return [self._decoded(v) for v in value]
        return value

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
        """The probes of the recording's host in the CSV's order, decoded (repeats kept)."""
        return [p["name"] for p in self._probes]

    @property
    def probe_keys(self) -> List[str]:
        """A unique key per probe, in the order of :attr:`probe_names`.

        A probe's key is its name when no other probe of the host has that
        name, else ``"NAME (channel N)"`` with N its channel (0 to 3), for
        every probe sharing the name. :attr:`Lines.probes` is keyed by it.
        """
        return [p["key"] for p in self._probes]

    @property
    def probe_channels(self) -> List[int]:
        """The channel (0 to 3) of each probe, in the order of :attr:`probe_names`."""
        return [p["channel"] for p in self._probes]

    def info(self) -> Dict[str, Any]:
        """What ``cdt info --json`` tells of the file, as a dict.

        Its names are decoded as the recording's are; an ``encoding`` must be
        one that ``cdt info --encoding`` knows.
        """
        self._check_open()
        encoding = ""
        if self.encoding is not None:
            if not _cdt.encoding_known(self.encoding):
                raise ValueError(f"{self.path}: info(): cdt info does not know the encoding "
                                 f"{self.encoding!r}")
            encoding = self.encoding
        return _json.loads(_cdt.info_json(self._path, encoding))

    def _channels(self, probes: Any) -> Optional[List[int]]:
        """The channels a probe selection keeps, in the CSV's order; None keeps all."""
        if probes is None:
            return None
        form = "a probe name or key (str), a channel number (int 0 to 3), or a list of them"
        if isinstance(probes, str) or _is_int(probes):
            probes = [probes]
        elif isinstance(probes, (bytes, bytearray)) or not hasattr(probes, "__iter__"):
            raise TypeError(f"probes: {form}, not {type(probes).__name__}")
        chosen = set()
        for item in probes:
            if isinstance(item, str):
                found = [p["channel"] for p in self._probes if p["key"] == item]
                found = found or [p["channel"] for p in self._probes if p["name"] == item]
                if not found:
                    raise UnknownProbeError(
                        f"{self.path}: no probe {item!r} (probes: "
                        f"{', '.join(repr(k) for k in self.probe_keys) or 'none'})")
                chosen.update(found)
            elif _is_int(item):
                if not 0 <= item <= 3:
                    raise ValueError(f"probes: channel numbers from 0 to 3, not {item}")
                if item not in self.probe_channels:
                    raise UnknownProbeError(f"{self.path}: no probe on channel {item} (channels: "
                                            f"{', '.join(map(str, self.probe_channels)) or 'none'})")
                chosen.add(int(item))
            else:
                raise TypeError(f"probes: {form}, not a {type(item).__name__} ({item!r})")
        return sorted(chosen)

    def columns(self, *, probes: Any = None, blades: Any = None) -> List[str]:
        """The CSV's column names in order, from the configuration (repeats kept).

        Parameters
        ----------
        probes, blades
            As for :meth:`read`: the columns such a read keeps.
        """
        channels = self._channels(probes)
        numbers = None if blades is None else sorted(set(_blade_numbers(blades)))
        kept = []
        for p in self._probes:
            if channels is not None and p["channel"] not in channels:
                continue
            blade_range = range(1, p["blades"] + 1)
            kept.append((p["name"], blade_range if numbers is None else
                         [b for b in numbers if b <= p["blades"]]))
        return _column_names(kept)

    def _selection(self, probes=None, blades=None, start=None, stop=None,
                   revolutions=None) -> "_cdt.Selection":
        """The checked selection; TypeError or ValueError naming the argument."""
        s = _cdt.Selection()
        s.channels = self._channels(probes)
        if blades is not None:
            s.blades = _blade_numbers(blades)
        if start is not None:
            s.start = _microseconds(start, "start")
        if stop is not None:
            s.stop = _microseconds(stop, "stop")
        if revolutions is not None:
            s.first_revolution, s.last_revolution = _revolution_window(revolutions)
        return s

    def _lines(self, raw: Dict[str, Any], first_line: int, windowed: bool) -> Lines:
        probes = {p["channel"]: (p["name"], p["key"]) for p in self._probes}
        lines = Lines(raw, path=self.path, probes=probes, first_line=first_line, windowed=windowed)
        self.stopped = lines.stopped
        return lines

    def read(self, *, probes: Any = None, blades: Any = None,
             start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
             revolutions: Optional[Tuple[Optional[int], Optional[int]]] = None) -> Lines:
        """Reads the selected lines as numpy arrays.

        Parameters
        ----------
        probes : str, int or list of them, optional
            The probes whose columns are kept (all by default; ``[]`` keeps
            none): names (a name keeps every probe of that name), keys
            (:attr:`probe_keys`) or channel numbers 0 to 3. Columns stay in
            the CSV's order. An unknown one raises :class:`UnknownProbeError`
            (a KeyError and a ValueError).
        blades : int, iterable of int or range, optional
            1-based blade numbers whose columns are kept (an empty one keeps
            none); numbers beyond a probe's stage are left out for that
            probe. The DNS means stay the means over all blades.
        start, stop : datetime, str, int or numpy.datetime64, optional
            A time window [start, stop): datetime (naive is UTC), pandas
            Timestamp, ISO 8601 text or int microseconds since 1970. A line
            belongs to the window of
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

        Wrong types raise TypeError, wrong values ValueError, each naming
        the argument.

        Returns
        -------
        Lines
            The arrays are allocated once, at their final size.
        """
        self._check_open()
        selection = self._selection(probes, blades, start, stop, revolutions)
        raw = _cdt.read(self._path, self.salvage, selection)
        windowed = start is not None or revolutions is not None
        return self._lines(raw, 1, windowed)

    def to_pandas(self, **selection):
        """The selected lines as a pandas DataFrame with the CSV header's names.

        Takes the selection of :meth:`read`. One row per CSV line: Time as
        datetime64[ns] (UTC; a time after 2262-04-11 raises ValueError naming
        the file and the line, see :meth:`Lines.to_pandas`), Sync bool,
        Start Rev and End Rev integers, the measurements float32 (the DNS
        means float64), empty cells NaN.
        """
        return self.read(**selection).to_pandas()

    def iter_batches(self, rows: int = 65536, **selection) -> Iterator[Lines]:
        """Yields the selected lines as :class:`Lines` of at most ``rows`` lines.

        Memory stays at one batch whatever the file's size, and a batch is
        never made larger than the file's records could fill. Takes the
        selection of :meth:`read`.
        """
        self._check_open()
        rows = _row_count(rows)
        # Checked and opened here, so that a wrong argument raises at the call.
        reader = _cdt.BatchReader(self._path, self.salvage, self._selection(**selection), rows)
        windowed = selection.get("start") is not None or selection.get("revolutions") is not None
        return self._batches(reader, windowed)

    def _batches(self, reader: "_cdt.BatchReader", windowed: bool) -> Iterator[Lines]:
        first_line = 1
        while True:
            raw = reader.next()
            if raw is None:
                return
            lines = self._lines(raw, first_line, windowed)
            first_line += len(lines)
            yield lines

    def profiles(self) -> Dict[str, _np.ndarray]:
        """The profile records (type 2) in file order, packed ones expanded.

        Returns
        -------
        dict of numpy.ndarray
            ``time`` (datetime64[us]) and ``time_us`` (uint64 microseconds
            since 1970, exact), ``host``, ``sync``, ``speed``, ``start_rev``,
            ``end_rev`` per profile, and ``values``, ``maxima``, ``minima``
            (int16, profiles x 4096 points).

        Raises
        ------
        ValueError
            A profile's time is 2**63 microseconds or later, which
            datetime64[us] cannot hold; the message names the profile.
        """
        self._check_open()
        raw = _cdt.profiles(self._path, self.salvage)
        self.stopped = dict(raw.pop("stopped"))
        raw["time_us"] = raw["time"].view(_np.uint64)
        late = _np.flatnonzero(raw["time_us"] >= _np.uint64(_US_LIMIT))
        if late.size:
            i = int(late[0])
            raise ValueError(f"{self.path}: profile {i + 1}: the time {int(raw['time_us'][i])} "
                             "microseconds since 1970 lies beyond what datetime64[us] holds")
        raw["time"] = raw["time"].view("datetime64[us]")
        return raw

    def parts(self, rows: int = 65536) -> List[Tuple[Optional[int], Optional[int]]]:
        """Time windows (start, stop) in microseconds that tile the recording.

        Reading every window with ``read(start=..., stop=...)`` and joining
        the results gives exactly :meth:`read`: windows are consecutive
        [start, stop) intervals of window time (see :meth:`read`), the first
        open at its start and the last at its end, their bounds increasing.
        They are cut at index times about ``rows`` lines apart, estimated
        from the index without reading records; index times that cannot be
        true (2**63 or later, or out of order with their neighbours) are
        left out.
        """
        self._check_open()
        rows = _row_count(rows)
        times = _cdt.index_times(self._path, self.salvage)
        bounds = _part_bounds(times, rows)
        edges = [None] + bounds + [None]
        return [(edges[i], edges[i + 1]) for i in range(len(edges) - 1)]


def _part_bounds(times: _np.ndarray, rows: int) -> List[int]:
    """Increasing cut times about `rows` lines apart, from the index's entry times."""
    t = _np.asarray(times, dtype=_np.uint64)
    if len(t) < 2:
        return []
    # An entry is kept where it lies in order between its neighbours and
    # below 2**63: a lying entry would only make uneven parts, but its time
    # is no time a window can be given.
    ordered = _np.ones(len(t), dtype=bool)
    ordered[1:] &= t[1:] >= t[:-1]
    ordered[:-1] &= t[:-1] <= t[1:]
    ordered &= t < _np.uint64(_US_LIMIT)
    kept = t[ordered]
    # Entries are made when the time moves on, about one per line.
    return sorted(set(int(x) for x in kept[rows::rows]))


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
    """
    return Recording(path, salvage=salvage, encoding=encoding)


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
    source = _path_bytes(path)
    target = _path_bytes(out_dir, "out_dir")
    return _os.fsdecode(_cdt.convert(source, target))


from .report import report  # noqa: E402  (the quick-look page; matplotlib only when used)
