"""The page's one pass over the lines, reduced to what its pictures can show.

The lines fall into at most ``2 * columns`` bins of consecutive lines (a bin
doubles its width whenever they would be more), each holding the minimum,
maximum and sum of what it covers. Memory stays at one batch of lines plus
the bins, whatever the recording's size.

:func:`_reduce` takes batches of lines, as :meth:`cdt.Recording.iter_batches`
yields them; it reads of a batch only ``time_us``, ``speed``, ``sync``,
``start_rev``, ``end_rev`` and per probe (``probes``, keyed by the probe's
key) ``blades``, ``rms``, ``blade_dns`` and ``blade_toa``; :class:`_SetReduction`
reads a set's lines, which add ``status`` per host.
"""

from __future__ import annotations

import warnings
from typing import Any, Dict, Iterable, List, Tuple

import numpy as np

from ..status import MISSING, SPEED_OFF, TIME_OFF

# Lines per batch read: large enough that the reader's per-call cost is small,
# small enough that a batch of four 60-blade probes stays a few tens of MB.
_BATCH_ROWS = 8192
# A batch holds at most about this many cells, so that a stage of thousands
# of blades reads fewer lines per batch instead of more memory.
_BATCH_CELLS = _BATCH_ROWS * 500
# Bins of lines per picture: between _COLUMNS and 2 * _COLUMNS, about the
# pixel columns of a picture.
_COLUMNS = 512
# The TOA running mean: the previous revolutions (lines) each blade's TOA is
# compared with.
_MEAN_LINES = 64
# Peak to peak of the TOA deviation over windows of this many lines.
_PTP_LINES = 32


# The status bits of a host's line in a set line, by the names the set's
# counts give them.
_STATUS_BITS = {"missing": MISSING, "time_off": TIME_OFF, "speed_off": SPEED_OFF}


def _batch_rows(columns: int) -> int:
    """Lines per batch for a recording of that many columns."""
    return max(16, min(_BATCH_ROWS, _BATCH_CELLS // max(1, columns)))


class _Bins:
    """Per-line quantities reduced into bins of consecutive lines.

    Each quantity has a reduction: "min", "max" (both ignore NaN), "sum" or
    "count" (of the values that are not NaN). Bins cover ``width`` lines each;
    when a line would fall beyond ``2 * columns`` bins, neighbouring bins are
    merged in pairs and the width doubles.
    """

    _UFUNCS = {"min": np.fmin, "max": np.fmax, "sum": np.add, "count": np.add}
    _EMPTY = {"min": np.inf, "max": -np.inf, "sum": 0.0, "count": 0.0}

    def __init__(self, columns: int = _COLUMNS):
        self.columns = columns
        self.width = 1
        self.lines = 0
        self.kinds: Dict[str, str] = {}
        self.data: Dict[str, np.ndarray] = {}
        self._cache = None

    def add(self, name: str, kind: str, values: np.ndarray) -> None:
        """Adds per-line values (lines, or lines x k) starting at line self.lines.

        Call :meth:`advance` after all the quantities of a batch.
        """
        if name not in self.data:
            shape = (2 * self.columns,) + values.shape[1:]
            self.kinds[name] = kind
            self.data[name] = np.full(shape, self._EMPTY[kind], dtype=np.float64)
        n = len(values)
        if n == 0:
            return
        starts, bins = self._segments(n)
        if kind == "count":
            values = ~np.isnan(values)
        elif kind == "sum" and values.dtype.kind == "f":
            values = np.where(np.isnan(values), 0, values)
        ufunc = self._UFUNCS[kind]
        # Sums of float32 values in float64; minima and maxima as they are.
        dtype = np.float64 if kind in ("sum", "count") else None
        reduced = ufunc.reduceat(values, starts, axis=0, dtype=dtype)
        stored = self.data[name]
        stored[bins] = ufunc(stored[bins], reduced)

    def add_statistics(self, name: str, values: np.ndarray) -> None:
        """Adds the minimum, maximum, sum and count of the values as
        ``name.min`` and so on, for a band of min to max around :meth:`mean`."""
        for kind in ("min", "max", "sum", "count"):
            self.add(f"{name}.{kind}", kind, values)

    def _segments(self, n: int):
        """Where the bins begin among the next n lines, and their numbers."""
        key = (self.lines, n)
        if self._cache is None or self._cache[0] != key:
            self._fit(self.lines + n - 1)
            first = self.lines // self.width
            last = (self.lines + n - 1) // self.width
            bins = np.arange(first, last + 1)
            starts = np.maximum(bins * self.width - self.lines, 0)
            self._cache = (key, starts, bins)
        return self._cache[1], self._cache[2]

    def advance(self, n: int) -> None:
        self.lines += n

    def _fit(self, last_line: int) -> None:
        while last_line // self.width >= 2 * self.columns:
            for name, stored in self.data.items():
                ufunc = self._UFUNCS[self.kinds[name]]
                half = ufunc(stored[0::2], stored[1::2])
                stored[: self.columns] = half
                stored[self.columns:] = self._EMPTY[self.kinds[name]]
            self.width *= 2

    @property
    def used(self) -> int:
        """The bins that hold lines."""
        return -(-self.lines // self.width)

    def get(self, name: str) -> np.ndarray:
        values = self.data[name][: self.used].copy()
        if self.kinds[name] in ("min", "max"):
            values[~np.isfinite(values)] = np.nan
        return values

    def mean(self, name: str) -> np.ndarray:
        total, count = self.get(name + ".sum"), self.get(name + ".count")
        with np.errstate(invalid="ignore", divide="ignore"):
            return np.where(count > 0, total / np.maximum(count, 1), np.nan)


class _Deviation:
    """Each blade's TOA deviation from its own running mean, and the
    deviation's peak to peak over fixed windows of lines.

    A time of arrival scales with the revolution's period, so the shaft's
    small speed changes from one revolution to the next would move every TOA
    by far more than a blade's vibration does. The running mean is therefore
    taken of TOA x speed (the blade's angle, up to a constant factor), and the
    deviation turned back into TOA at the line's own speed.
    """

    def __init__(self, blades: int):
        # The last lines' angles; NaN before the first line.
        self.tail = np.full((_MEAN_LINES, blades), np.nan)
        self.pending = np.empty((0, blades), dtype=np.float64)
        self.pending_speed = np.empty(0, dtype=np.float64)
        self.windows = _Bins()

    def add(self, toa: np.ndarray, speed: np.ndarray) -> np.ndarray:
        """The deviations of these lines (NaN until a blade has a mean)."""
        speed = speed.astype(np.float64)
        with np.errstate(invalid="ignore"):
            speed[~(speed > 0)] = np.nan
        angle = toa * speed[:, None]
        m, n = _MEAN_LINES, len(toa)
        joined = np.concatenate((self.tail, angle))
        known = ~np.isnan(joined)
        complete = bool(known[m:].all()) and bool(known[:m].all())
        sums = np.cumsum(joined if complete else np.where(known, joined, 0.0), axis=0)
        # The sum of the m lines before line i of joined: sums[i-1] - sums[i-m-1].
        window = sums[m - 1:m - 1 + n].copy()
        window[1:] -= sums[:n - 1]
        with np.errstate(invalid="ignore", divide="ignore"):
            if complete:
                mean = window / m
            else:
                counts = np.cumsum(known, axis=0)
                seen = counts[m - 1:m - 1 + n].astype(np.float64)
                seen[1:] -= counts[:n - 1]
                mean = np.where(seen >= m // 2, window / seen, np.nan)
            deviation = (angle - mean) / speed[:, None]
        self.tail = joined[-m:]
        self._windows(deviation, speed)
        return deviation

    def _windows(self, deviation: np.ndarray, speed: np.ndarray) -> None:
        dev = np.concatenate((self.pending, deviation))
        spd = np.concatenate((self.pending_speed, speed))
        full = len(dev) // _PTP_LINES * _PTP_LINES
        if full:
            blocks = dev[:full].reshape(-1, _PTP_LINES, dev.shape[1])
            with np.errstate(invalid="ignore"):
                ptp = np.fmax.reduce(blocks, axis=1) - np.fmin.reduce(blocks, axis=1)
            block_speed = spd[:full].reshape(-1, _PTP_LINES)
            w = self.windows
            w.add("ptp", "max", ptp)
            w.add("speed.sum", "sum", block_speed.mean(axis=1))
            w.add("speed.count", "count", block_speed.mean(axis=1))
            w.advance(len(ptp))
        self.pending, self.pending_speed = dev[full:], spd[full:]

    def amplitude(self) -> Tuple[np.ndarray, np.ndarray]:
        """Per window of lines (binned): the mean speed and each blade's
        largest peak to peak; both empty before the first whole window."""
        if not self.windows.lines:
            return np.empty(0), np.empty((0, self.tail.shape[1]))
        return self.windows.mean("speed"), self.windows.get("ptp")


class _ProbeReduction:
    """One probe's pictures' state. ``key`` is the probe's unique key (its name,
    or "NAME (channel N)" where probes share a name), which names its bins and
    its sections."""

    def __init__(self, key: str, blades: np.ndarray):
        self.key = key
        self.blades = blades
        self.deviation = _Deviation(len(blades)) if len(blades) else None
        self.toa_seen = False
        self.lines_seen = 0


class _Reduction:
    """What the pass over the lines leaves: the bins of the lines (``bins``),
    the probes' state by key (``probes``, in the order of their first line)
    and the totals (``lines``, ``unsync``, ``first_rev``, ``last_rev``,
    ``first_time``, ``last_time``; the revolutions and times None without
    lines).

    Times are kept as the file's exact microseconds (``time_us``), so a
    recording after 2262 or with a time beyond datetime64's range still gets
    its page; the bins hold them relative to the first line's time.
    """

    def __init__(self, columns: int = _COLUMNS):
        self.bins = _Bins(columns)
        self.probes: Dict[str, _ProbeReduction] = {}
        self.totals: Dict[str, Any] = {"lines": 0, "unsync": 0, "first_rev": None, "last_rev": None,
                                       "first_time": None, "last_time": None}

    def add(self, lines) -> None:
        """Reduces one batch of lines."""
        bins, probes, totals = self.bins, self.probes, self.totals
        n = len(lines)
        if n == 0:
            return
        self._add_more(lines)
        time_us = np.asarray(lines.time_us, dtype=np.uint64)
        if totals["first_time"] is None:
            totals["first_time"] = int(time_us[0])
        # The difference wraps in uint64; read as int64 it is the signed offset.
        time = (time_us - np.uint64(totals["first_time"])).view(np.int64).astype(np.float64)
        speed = lines.speed
        bins.add("time.min", "min", time)
        bins.add("time.max", "max", time)
        bins.add_statistics("speed", speed)
        bins.add("unsync", "max", (~lines.sync).astype(np.float64))
        for key, p in lines.probes.items():
            pr = probes.get(key)
            if pr is None:
                pr = probes[key] = _ProbeReduction(key, p.blades)
            bins.add_statistics(key + ".rms", p.rms)
            pr.lines_seen += int(np.count_nonzero(~np.isnan(p.rms)))
            if len(p.blades):
                bins.add(key + ".dns.sum", "sum", p.blade_dns)
                bins.add(key + ".dns.count", "count", p.blade_dns)
                if not pr.toa_seen and not np.isnan(p.blade_toa).all():
                    pr.toa_seen = True
                dev = pr.deviation.add(p.blade_toa, speed)
                bins.add(key + ".dev", "max", np.abs(dev))
        bins.advance(n)
        totals["lines"] += n
        totals["unsync"] += int(np.count_nonzero(~lines.sync))
        first, last = int(lines.start_rev.min()), int(lines.end_rev.max())
        totals["first_rev"] = first if totals["first_rev"] is None else min(first, totals["first_rev"])
        totals["last_rev"] = last if totals["last_rev"] is None else max(last, totals["last_rev"])
        totals["last_time"] = int(time_us[-1])

    def _add_more(self, lines) -> None:
        """Bins what a kind of lines has beyond a recording's (called before
        the batch's other bins, at the same first line)."""


class _SetReduction(_Reduction):
    """A recording set's pass: a recording's, plus per host how its lines
    agree with the set's (``hosts``: per host position its lines, the set
    lines whose status has each bit, and the Start Rev of its first line and
    End Rev of its last). Bins "\0lines" and "\0status\0H\0BIT" hold per bin the
    lines and those of host H whose status has BIT."""

    def __init__(self, hosts: int, columns: int = _COLUMNS):
        super().__init__(columns)
        self.hosts = [{"lines": 0, "first_rev": None, "last_rev": None,
                       **{name: 0 for name in _STATUS_BITS}} for _ in range(hosts)]

    def _add_more(self, lines) -> None:
        self.bins.add("\0lines", "sum", np.ones(len(lines)))
        for i, status in enumerate(lines.status.values()):
            counts = self.hosts[i]
            for name, bit in _STATUS_BITS.items():
                flagged = (status & bit) != 0
                self.bins.add(_status_bin(i, name), "sum", flagged.astype(np.float64))
                counts[name] += int(np.count_nonzero(flagged))
            present = (status & MISSING) == 0
            counts["lines"] += int(np.count_nonzero(present))
            where = np.flatnonzero(present)
            if len(where):
                if counts["first_rev"] is None:
                    counts["first_rev"] = int(lines.start_rev[where[0]])
                counts["last_rev"] = int(lines.end_rev[where[-1]])

    def fraction(self, host: int, name: str) -> np.ndarray:
        """Per bin the share of its lines where host's status has that bit."""
        with np.errstate(invalid="ignore", divide="ignore"):
            return self.bins.get(_status_bin(host, name)) / self.bins.get("\0lines")


def _status_bin(host: int, name: str) -> str:
    return f"\0status\0{host}\0{name}"


def _reduce(batches: Iterable, columns: int = _COLUMNS, reduction=None) -> _Reduction:
    """One pass over the batches of lines into the pictures' bins (of
    `reduction`, by default a recording's)."""
    reduction = _Reduction(columns) if reduction is None else reduction
    for lines in batches:
        reduction.add(lines)
    return reduction


def _runs(flags: np.ndarray) -> List[Tuple[int, int]]:
    """(first, end) of every run of True."""
    padded = np.concatenate(([False], flags, [False])).astype(np.int8)
    change = np.flatnonzero(np.diff(padded))
    return list(zip(change[0::2], change[1::2]))


def _peaks(speed: np.ndarray, ptp: np.ndarray, blades: np.ndarray, count: int = 3):
    """The strongest resonance peaks: (speed, blade, amplitude, blades).

    A peak is a stretch of speeds (in speed order) where the largest blade
    amplitude stands above 1.5 times its median; each stretch gives its
    highest point, so the flanks of one resonance are not counted again.
    `blade` is the one with the largest amplitude there, and `blades` how
    many blades stand above their own floor (the same rule, each blade's
    amplitude against its own median) within the stretch: a stage's blades
    often resonate together, each at a speed of its own close by.
    """
    order = np.argsort(speed, kind="stable")
    speed, ptp = speed[order], ptp[order]
    with np.errstate(invalid="ignore"):
        envelope = np.fmax.reduce(ptp, axis=1)
    valid = np.isfinite(envelope) & np.isfinite(speed)
    if valid.sum() < 5:
        return []
    median = np.median(envelope[valid])
    threshold = max(1.5 * median, median + 0.25 * (envelope[valid].max() - median))
    above = valid & (envelope > threshold) & (envelope > 0)
    # Stretches closer than 3 % of the speed range are one peak with noise on it.
    runs = _runs(above)
    gap = 0.03 * (speed[valid].max() - speed[valid].min())
    merged: List[List[int]] = []
    for a, b in runs:
        if merged and speed[a] - speed[merged[-1][1] - 1] <= gap:
            merged[-1][1] = b
        else:
            merged.append([a, b])
    with np.errstate(invalid="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # blades without a value
        own = np.nanmedian(ptp[valid], axis=0)
        own_floor = np.fmax(1.5 * own, own + 0.25 * (np.nanmax(ptp[valid], axis=0) - own))
    found = []
    for a, b in merged:
        i = a + int(np.nanargmax(np.where(above[a:b], envelope[a:b], -np.inf)))
        blade = int(blades[int(np.nanargmax(np.where(np.isnan(ptp[i]), -np.inf, ptp[i])))])
        with np.errstate(invalid="ignore"):
            stretch = ptp[a:b]
            together = int(np.count_nonzero(((stretch > own_floor) & (stretch > 0)).any(axis=0)))
        found.append((float(speed[i]), blade, float(envelope[i]), max(together, 1)))
    found.sort(key=lambda peak: -peak[2])
    return found[:count]
