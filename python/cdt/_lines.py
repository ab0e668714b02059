"""Lines of a recording as numpy arrays and as a pandas frame."""

from __future__ import annotations

from typing import Any, Dict, List, Optional, Sequence

import numpy as _np

from ._args import NS_LIMIT, US_LIMIT

_block_api: Any = False  # not looked up yet


def _pandas_blocks() -> Any:
    """pandas' block API (BlockManager, make_block), or None where pandas has none.

    With it a frame is made over the module's blocks without a copy."""
    global _block_api
    if _block_api is False:
        try:
            from pandas.core.internals import BlockManager
            from pandas.core.internals.api import make_block
            _block_api = (BlockManager, make_block)
        except ImportError:
            _block_api = None
    return _block_api


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
        uint64, as in every view of the lines (a frame of one file, of a
        set, of a Dask partition), so that frames of the same lines agree.
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
                 first_line: int = 1, windowed: bool = False):
        n = raw["rows"] if rows is None else rows
        self._n = n
        self._path = path
        self._first_line = first_line
        self._windowed = windowed
        self.time_us = raw["time"][:n].view(_np.uint64)
        self.sync = raw["sync"][:n]
        self.start_rev = raw["start_rev"][:n].astype(_np.uint64, copy=False)
        self.end_rev = raw["end_rev"][:n].astype(_np.uint64, copy=False)
        self.float_block = raw["floats"][:, :n]
        self.double_block = raw["doubles"][:, :n]
        self.speed = self.float_block[0]
        self.stopped = dict(raw["stopped"])
        self._plan = raw["probes"]
        self._columns = list(raw["columns"])
        self.probes: Dict[str, ProbeLines] = {}
        for p in self._plan:
            k = len(p["blades"])
            dns_rows = self.float_block[p["blade_dns_row"]:p["blade_dns_row"] + k]
            toa_rows = self.float_block[p["blade_toa_row"]:p["blade_toa_row"] + k]
            self.probes[p["key"]] = ProbeLines(
                p["name"], p["blades"], self.float_block[p["rms_row"]],
                self.double_block[p["dns_row"]], dns_rows.T, toa_rows.T, key=p["key"],
                channel=p["slot"])

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
        self._check_times(US_LIMIT, "datetime64[us]")
        return self.time_us.view("datetime64[us]")

    def columns(self) -> List[str]:
        """The CSV header's column names of these lines, in order (repeats kept)."""
        return list(self._columns)

    def _values(self, time, revolutions):
        """Each column's values in the CSV's order, and where each lies: its
        row of the float block ("f", row) or of the double block ("d", row),
        or ("", None) for a column of its own."""
        start, end = revolutions
        own = ("", None)
        values = [time, self.speed, self.sync, start, end]
        where = [own, ("f", 0), own, own, own]
        for p in self._plan:
            k = len(p["blades"])
            probe = self.probes[p["key"]]
            values += [probe.rms, probe.dns]
            values += [probe.blade_dns[:, j] for j in range(k)]
            values += [probe.blade_toa[:, j] for j in range(k)]
            where += [("f", p["rms_row"]), ("d", p["dns_row"])]
            where += [("f", p["blade_dns_row"] + j) for j in range(k)]
            where += [("f", p["blade_toa_row"] + j) for j in range(k)]
        return values, where

    def to_pandas(self, layout: str = "wide"):
        """These lines as a pandas DataFrame with the CSV header's column names.

        Time is datetime64[ns] (UTC), exact to the microsecond; a time after
        2262-04-11T23:47:16.854775 UTC, which datetime64[ns] cannot hold,
        raises ValueError naming the file and the line (``time_us`` has it).
        Sync is bool, Start Rev and End Rev integers, the measurements
        float32 and the DNS means float64. Probes that share a name give
        columns of the same names, as in the CSV. The measurement columns
        share the memory of these Lines.

        ``layout="long"`` gives the rows of ``cdt export --layout long``
        instead, one per line, probe and blade in that order: Time, Speed,
        Sync, Start Rev, End Rev, Probe (the probe's key, a categorical),
        Blade (uint16, 1-based), DNS and TOA (float32, NaN where the CSV's
        cell is empty).
        """
        if layout == "long":
            return self._long_frame()
        if layout != "wide":
            raise ValueError(f"layout: 'wide' or 'long', not {layout!r}")
        return self._frame()

    def _long_frame(self):
        """The frame of to_pandas(layout="long")."""
        import pandas as pd

        self._check_times(NS_LIMIT, "datetime64[ns]")
        keys: List[str] = []
        probe_of: List[int] = []
        blades: List[int] = []
        for i, probe in enumerate(self.probes.values()):
            keys.append(probe.key)
            probe_of += [i] * len(probe.blades)
            blades += probe.blades.tolist()
        per_line = len(blades)
        if per_line:
            # (lines, blades of every probe) in the CSV's order, then row by row.
            dns = _np.concatenate([p.blade_dns for p in self.probes.values()], axis=1).reshape(-1)
            toa = _np.concatenate([p.blade_toa for p in self.probes.values()], axis=1).reshape(-1)
        else:
            dns = toa = _np.empty(0, dtype=_np.float32)
        ns = self.time_us.view(_np.int64).astype("datetime64[us]").astype("datetime64[ns]")
        time = pd.DatetimeIndex(_np.repeat(ns, per_line), tz="UTC")
        codes = _np.tile(_np.asarray(probe_of, dtype=_np.int32), self._n)
        return pd.DataFrame({
            "Time": time,
            "Speed": _np.repeat(self.speed, per_line),
            "Sync": _np.repeat(self.sync, per_line),
            "Start Rev": _np.repeat(self.start_rev, per_line),
            "End Rev": _np.repeat(self.end_rev, per_line),
            "Probe": pd.Categorical.from_codes(codes, categories=pd.Index(keys, dtype=object)),
            "Blade": _np.tile(_np.asarray(blades, dtype=_np.uint16), self._n),
            "DNS": dns,
            "TOA": toa,
        })

    def _frame(self, *, file: Optional[str] = None, time_index: bool = False,
               file_column: str = "File"):
        """The frame of to_pandas; with `file` a `file_column` column first
        naming it, with `time_index` Time as the index instead of a column."""
        import pandas as pd

        self._check_times(NS_LIMIT, "datetime64[ns]")
        ns = self.time_us.view(_np.int64).astype("datetime64[us]").astype("datetime64[ns]")
        time = pd.DatetimeIndex(ns, tz="UTC", name="Time" if time_index else None)
        revolutions = (self.start_rev, self.end_rev)
        names = list(self._columns)
        values, where = self._values(time, revolutions)
        if time_index:
            names, values, where = names[1:], values[1:], where[1:]
        if file is not None:
            names = [file_column] + names
            values = [_np.full(self._n, file, dtype=object)] + values
            where = [("", None)] + where
        index = time if time_index else pd.RangeIndex(self._n)
        blocks = _pandas_blocks()
        if blocks is None:
            frame = pd.DataFrame(dict(enumerate(values)), index=index)
            frame.columns = pd.Index(names)
            return frame
        return self._frame_of_blocks(pd, names, values, where, index, *blocks)

    def _frame_of_blocks(self, pd, names, values, where, index, block_manager, make_block):
        """The frame made of the float and double blocks as they are, each
        other column a block of its own."""
        float_at = [i for i, (b, _) in enumerate(where) if b == "f"]
        double_at = [i for i, (b, _) in enumerate(where) if b == "d"]
        # The module stores the block rows in column order, so that the
        # blocks need no copy; anything else is a fault, not a case to handle.
        if ([where[i][1] for i in float_at] != list(range(len(self.float_block)))
                or [where[i][1] for i in double_at] != list(range(len(self.double_block)))):
            raise AssertionError("cdt: the module's blocks are out of column order")
        n = self._n
        blocks = [make_block(self.float_block, placement=float_at, ndim=2)]
        if double_at:
            blocks.append(make_block(self.double_block, placement=double_at, ndim=2))
        for i, (v, (b, _)) in enumerate(zip(values, where)):
            if not b:
                data = v._data if isinstance(v, pd.DatetimeIndex) else v.reshape(1, n)
                blocks.append(make_block(data, placement=[i], ndim=2))
        manager = block_manager(blocks, [pd.Index(names, dtype=object), index])
        return pd.DataFrame(manager)

