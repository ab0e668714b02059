"""A quick look at a recording: one self-contained HTML page of pictures.

:func:`report` reads a data file once through the package's own reader and
writes ``NAME.html``: a summary table, the shaft speed with the unsynchronised
stretches shaded, per probe the blade DNS and the RMS, per probe the blades'
time-of-arrival deviations and where their amplitude peaks against the speed,
and a few profile (waveform) records. The pictures are PNG images embedded in
the page, so it needs nothing but a browser to be read.

Every picture is reduced while reading to what its pixels can show: the lines
fall into at most ``2 * columns`` bins of consecutive lines (a bin doubles its
width whenever they would be more), each holding the minimum, maximum and sum
of what it covers. Memory stays at one batch of lines plus the bins, whatever
the recording's size.
"""

from __future__ import annotations

import base64
import datetime as _dt
import html
import io
import os
import queue
import re
import secrets
import threading
import warnings
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Dict, List, Tuple

import numpy as np

from . import FormatError
from . import _decode
from . import open as _open

__all__ = ["report"]

# Lines per batch read: large enough that the reader's per-call cost is small,
# small enough that a batch of four 60-blade probes stays a few tens of MB.
_BATCH_ROWS = 8192
# A batch holds at most about this many cells, so that a stage of thousands
# of blades reads fewer lines per batch instead of more memory.
_BATCH_CELLS = _BATCH_ROWS * 500
# Names on the pictures are cut to this many characters (a name of thousands
# would make a figure wider than the renderer can draw); the text keeps them whole.
_PICTURE_NAME_MAX = 48
# Rows of a blade heat map and curves of the amplitude picture at most: more
# blades than these are drawn in groups of consecutive blades.
_HEAT_ROWS_MAX = 600
_CURVES_MAX = 120
# Bins of lines per picture: between _COLUMNS and 2 * _COLUMNS, about the
# pixel columns of a picture.
_COLUMNS = 512
# The TOA running mean: the previous revolutions (lines) each blade's TOA is
# compared with.
_MEAN_LINES = 64
# Peak to peak of the TOA deviation over windows of this many lines.
_PTP_LINES = 32
# The profile records drawn, and the most the page loads to choose them.
_PROFILES_SHOWN = 6
_PROFILES_LOADED_MAX = 2000


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


class _ProbeReduction:
    """One probe's pictures' state. ``key`` is the probe's unique key (its name,
    or "NAME (channel N)" where probes share a name), which names its bins and
    its sections."""

    def __init__(self, key: str, blades: np.ndarray):
        self.key = key
        self.label = _picture_text(key)
        self.blades = blades
        self.deviation = _Deviation(len(blades)) if len(blades) else None
        self.toa_seen = False
        self.lines_seen = 0


def _prefetched(batches):
    """The batches, each read on a thread of its own while the one before is
    reduced (at most one read ahead). When the reducing side stops early, the
    reading thread is told to stop and its batch is dropped."""
    ahead: "queue.Queue" = queue.Queue(maxsize=1)
    done = object()
    stop = threading.Event()

    def hand_over(item) -> bool:
        while not stop.is_set():
            try:
                ahead.put(item, timeout=0.1)
                return True
            except queue.Full:
                pass
        return False

    def read():
        try:
            for batch in batches:
                if not hand_over(batch):
                    return
            hand_over(done)
        except BaseException as e:  # handed to the reducing thread
            hand_over(e)

    thread = threading.Thread(target=read, daemon=True)
    thread.start()
    try:
        while True:
            item = ahead.get()
            if item is done:
                break
            if isinstance(item, BaseException):
                raise item
            yield item
    finally:
        stop.set()
        thread.join()


def _reduce(rec) -> Tuple[_Bins, Dict[str, _ProbeReduction], Dict[str, Any]]:
    """One pass over the recording's lines into the pictures' bins.

    Times are kept as the file's exact microseconds (``time_us``), so a
    recording after 2262 or with a time beyond datetime64's range still gets
    its page; the bins hold them relative to the first line's time.
    """
    bins = _Bins()
    probes: Dict[str, _ProbeReduction] = {}
    totals: Dict[str, Any] = {"lines": 0, "unsync": 0, "first_rev": None, "last_rev": None,
                              "first_time": None, "last_time": None}
    rows = max(16, min(_BATCH_ROWS, _BATCH_CELLS // max(1, len(rec.columns()))))
    for lines in _prefetched(rec.iter_batches(rows=rows)):
        n = len(lines)
        if n == 0:
            continue
        time_us = np.asarray(lines.time_us, dtype=np.uint64)
        if totals["first_time"] is None:
            totals["first_time"] = int(time_us[0])
        # The difference wraps in uint64; read as int64 it is the signed offset.
        time = (time_us - np.uint64(totals["first_time"])).view(np.int64).astype(np.float64)
        speed = lines.speed
        bins.add("time.min", "min", time)
        bins.add("time.max", "max", time)
        bins.add("speed.min", "min", speed)
        bins.add("speed.max", "max", speed)
        bins.add("speed.sum", "sum", speed)
        bins.add("speed.count", "count", speed)
        bins.add("unsync", "max", (~lines.sync).astype(np.float64))
        for key, p in lines.probes.items():
            pr = probes.get(key)
            if pr is None:
                pr = probes[key] = _ProbeReduction(key, p.blades)
            bins.add(key + ".rms.min", "min", p.rms)
            bins.add(key + ".rms.max", "max", p.rms)
            bins.add(key + ".rms.sum", "sum", p.rms)
            bins.add(key + ".rms.count", "count", p.rms)
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
    return bins, probes, totals


# ---------------------------------------------------------------- pictures

def _pyplot():
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    plt.rcParams.update({"font.size": 9, "axes.grid": True, "grid.alpha": 0.3,
                         "figure.dpi": 100, "savefig.dpi": 100})
    return plt


def _png(fig) -> str:
    out = io.BytesIO()
    fig.savefig(out, format="png", bbox_inches="tight")
    import matplotlib.pyplot as plt

    plt.close(fig)
    return base64.b64encode(out.getvalue()).decode("ascii")


def _bin_edges(bins: _Bins) -> np.ndarray:
    """Bin edges in seconds from the first line: each bin's first time, then the last."""
    start = bins.get("time.min")
    end = bins.get("time.max")
    origin = start[0]
    edges = np.concatenate((start, [end[-1]])) - origin
    return np.maximum.accumulate(edges) / 1e6


def _time_unit(seconds_span: float) -> str:
    if seconds_span > 2 * 3600:
        return "hours"
    if seconds_span > 120:
        return "minutes"
    return "seconds"


_UNIT_SCALE = {"seconds": 1.0, "minutes": 60.0, "hours": 3600.0}


def _speed_picture(plt, bins: _Bins, start_text: str) -> str:
    edges = _bin_edges(bins)
    unit = _time_unit(edges[-1])
    x = edges / _UNIT_SCALE[unit]
    mid = (x[:-1] + x[1:]) / 2
    fig, ax = plt.subplots(figsize=(10, 3))
    lo, hi = bins.get("speed.min"), bins.get("speed.max")
    ax.fill_between(mid, lo, hi, color="tab:blue", alpha=0.35, linewidth=0, label="min to max")
    ax.plot(mid, bins.mean("speed"), color="tab:blue", linewidth=1, label="mean")
    unsync = bins.get("unsync") > 0
    shaded = False
    for a, b in _runs(unsync):
        ax.axvspan(x[a], x[b], color="tab:red", alpha=0.15, linewidth=0,
                   label=None if shaded else "not synchronised")
        shaded = True
    ax.set_xlabel(f"Time since {start_text} ({unit})")
    ax.set_ylabel("Shaft speed")
    ax.set_xlim(x[0], x[-1] if x[-1] > x[0] else x[0] + 1)
    ax.legend(loc="lower right", fontsize=8)
    ax.set_title("Shaft speed")
    return _png(fig)


def _runs(flags: np.ndarray) -> List[Tuple[int, int]]:
    """(first, end) of every run of True."""
    padded = np.concatenate(([False], flags, [False])).astype(np.int8)
    change = np.flatnonzero(np.diff(padded))
    return list(zip(change[0::2], change[1::2]))


def _blade_groups(values: np.ndarray, reduce, most: int) -> Tuple[np.ndarray, int]:
    """The columns (blades) of values joined into at most `most` groups of
    consecutive blades, each reduced by `reduce` (np.nanmean, np.nanmax);
    returns them and the group size. A picture has fewer pixel rows than a
    stage of thousands of blades, and drawing one row or curve per blade
    would cost minutes."""
    count = values.shape[1]
    group = max(1, -(-count // most))
    if group == 1:
        return values, 1
    padded = np.full((values.shape[0], -(-count // group) * group), np.nan)
    padded[:, :count] = values
    with np.errstate(invalid="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # groups without a value
        return reduce(padded.reshape(values.shape[0], -1, group), axis=2), group


def _blade_heat(plt, ax, x, values, blades, label, cmap, reduce=np.nanmean):
    values, group = _blade_groups(values, reduce, _HEAT_ROWS_MAX)
    # Row edges at blade positions: group k covers blades k*group+1 onwards.
    y = np.minimum(np.arange(values.shape[1] + 1) * group, len(blades)) + 0.5
    ax.grid(False)
    mesh = ax.pcolormesh(x, y, values.T, cmap=cmap, shading="flat")
    ax.set_ylabel("Blade")
    ax.set_ylim(0.5, len(blades) + 0.5)
    ticks = _blade_ticks(len(blades))
    ax.set_yticks(ticks)
    ax.set_yticklabels([str(blades[t - 1]) for t in ticks])
    ax.grid(False)
    bar = plt.colorbar(mesh, ax=ax, pad=0.01)
    bar.set_label(label)


def _blade_ticks(count: int) -> List[int]:
    """Blade 1 and round numbers (1, 2 or 5 times a power of ten apart) after
    it, about a dozen at most, for any blade count."""
    step, scale = 1, 1
    while count / step > 12:
        for m in (1, 2, 5, 10):
            step = m * scale
            if count / step <= 12:
                break
        scale *= 10
    return [1] + [t for t in range(step, count + 1, step) if t > 1 + step // 2]


def _picture_text(name: str) -> str:
    """A name as a picture shows it: cut in the middle when long, and with
    matplotlib's mathtext marker escaped so that "$" is drawn as itself."""
    if len(name) > _PICTURE_NAME_MAX:
        half = (_PICTURE_NAME_MAX - 1) // 2
        name = name[:half] + "\u2026" + name[-(_PICTURE_NAME_MAX - 1 - half):]
    return name.replace("$", r"\$")


def _probe_picture(plt, bins: _Bins, pr: _ProbeReduction, start_text: str) -> str:
    key, label, blades = pr.key, pr.label, pr.blades
    edges = _bin_edges(bins)
    unit = _time_unit(edges[-1])
    x = edges / _UNIT_SCALE[unit]
    mid = (x[:-1] + x[1:]) / 2
    with_blades = len(blades) > 0
    rows = 2 if with_blades else 1
    fig, axes = plt.subplots(rows, 1, figsize=(10, 2.6 * rows + 0.6), sharex=True, squeeze=False,
                             gridspec_kw={"height_ratios": [3, 2][:rows]} if with_blades else None)
    axes = axes[:, 0]
    if with_blades:
        _blade_heat(plt, axes[0], x, bins.mean(key + ".dns"), blades, "DNS (mean per pixel)",
                    "viridis")
        axes[0].set_title(f"{label}: blade DNS")
    ax = axes[-1]
    ax.fill_between(mid, bins.get(key + ".rms.min"), bins.get(key + ".rms.max"),
                    color="tab:green", alpha=0.35, linewidth=0, label="min to max")
    ax.plot(mid, bins.mean(key + ".rms"), color="tab:green", linewidth=1, label="mean")
    ax.set_ylabel("RMS")
    ax.legend(loc="upper left", fontsize=8)
    if not with_blades:
        ax.set_title(f"{label}: RMS")
    if with_blades:
        # The colour bar takes room from the heat map only; keep the RMS
        # axis the same width so that times line up.
        plt.colorbar(ax.collections[0], ax=ax, pad=0.01).remove()
    ax.set_xlabel(f"Time since {start_text} ({unit})")
    ax.set_xlim(x[0], x[-1] if x[-1] > x[0] else x[0] + 1)
    return _png(fig)


def _peaks(speed: np.ndarray, ptp: np.ndarray, blades: np.ndarray, count: int = 3):
    """The strongest resonance peaks: (speed, blade, amplitude).

    A peak is a stretch of speeds (in speed order) where the largest blade
    amplitude stands above 1.5 times its median; each stretch gives its
    highest point, so the flanks of one resonance are not counted again.
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
    found = []
    for a, b in merged:
        i = a + int(np.nanargmax(np.where(above[a:b], envelope[a:b], -np.inf)))
        blade = int(blades[int(np.nanargmax(np.where(np.isnan(ptp[i]), -np.inf, ptp[i])))])
        found.append((float(speed[i]), blade, float(envelope[i])))
    found.sort(key=lambda peak: -peak[2])
    return found[:count]


def _toa_picture(plt, bins: _Bins, pr: _ProbeReduction, start_text: str):
    edges = _bin_edges(bins)
    unit = _time_unit(edges[-1])
    x = edges / _UNIT_SCALE[unit]
    fig, axes = plt.subplots(2, 1, figsize=(10, 6.4), gridspec_kw={"height_ratios": [3, 3]})
    _blade_heat(plt, axes[0], x, bins.get(pr.key + ".dev"), pr.blades,
                "|TOA − running mean| (max per pixel)", "magma", reduce=np.nanmax)
    axes[0].set_title(f"{pr.label}: each blade's TOA deviation from its mean over the previous "
                      f"{_MEAN_LINES} lines")
    axes[0].set_xlabel(f"Time since {start_text} ({unit})")
    axes[0].set_xlim(x[0], x[-1] if x[-1] > x[0] else x[0] + 1)
    w = pr.deviation.windows
    ax = axes[1]
    peaks: List[Tuple[float, int, float]] = []
    if w.lines:
        speed = w.mean("speed")
        ptp = w.get("ptp")
        order = np.argsort(speed, kind="stable")
        curves, _ = _blade_groups(ptp, np.nanmax, _CURVES_MAX)
        colours = plt.get_cmap("turbo")(np.linspace(0, 1, max(curves.shape[1], 2)))
        for j in range(curves.shape[1]):
            ax.plot(speed[order], curves[order, j], color=colours[j], linewidth=0.6, alpha=0.7)
        peaks = _peaks(speed, ptp, pr.blades)
        for s, blade, amplitude in peaks:
            ax.annotate(f"blade {blade}\nat speed {s:.0f}", xy=(s, amplitude),
                        xytext=(0, 12), textcoords="offset points", ha="center", fontsize=8,
                        arrowprops={"arrowstyle": "-", "color": "black", "linewidth": 0.6},
                        bbox={"boxstyle": "round,pad=0.2", "fc": "white", "ec": "0.6"})
            ax.plot([s], [amplitude], marker="v", color="black", markersize=5)
        top = np.nanmax(ptp) if np.isfinite(ptp).any() else 1.0
        ax.set_ylim(0, top * 1.35 if top > 0 else 1.0)
        sm = plt.cm.ScalarMappable(cmap="turbo", norm=plt.Normalize(int(pr.blades[0]), int(pr.blades[-1])))
        plt.colorbar(sm, ax=ax, pad=0.01).set_label("Blade")
    ax.set_xlabel("Shaft speed")
    ax.set_ylabel(f"TOA peak to peak\nover {_PTP_LINES} lines")
    ax.set_title(f"{pr.label}: each blade's TOA deviation amplitude against speed")
    fig.tight_layout()
    return _png(fig), peaks


def _profiles_picture(plt, profiles: Dict[str, np.ndarray]) -> Tuple[str, List[str]]:
    count = len(profiles["time"])
    chosen = np.unique(np.linspace(0, count - 1, min(count, _PROFILES_SHOWN)).round().astype(int))
    fig, (ax, zoom) = plt.subplots(1, 2, figsize=(10, 3.6), gridspec_kw={"width_ratios": [3, 1]})
    colours = plt.get_cmap("viridis")(np.linspace(0, 0.9, len(chosen)))
    described = []
    points = profiles["values"].shape[1]
    near = max(points // 16, 2)
    for c, i in zip(colours, chosen):
        when = _time_text(_microseconds_of(profiles["time"][i]))
        label = f"{when}, speed {float(profiles['speed'][i]):.0f}"
        ax.plot(profiles["values"][i], color=c, linewidth=0.7, label=label)
        zoom.plot(np.arange(near), profiles["values"][i][:near], color=c, linewidth=1)
        described.append(f"{when} (revolution {int(profiles['start_rev'][i])}, speed "
                         f"{float(profiles['speed'][i]):.0f})")
    ax.set_xlabel(f"Point (of {points})")
    ax.set_ylabel("Value (raw counts)")
    ax.set_xlim(0, points - 1)
    ax.set_title(f"Profile records: {len(chosen)} of {count}, overlaid")
    zoom.set_xlim(0, near - 1)
    zoom.set_xlabel(f"Points 0 to {near - 1}")
    zoom.set_title("The first points, closer")
    fig.legend(*ax.get_legend_handles_labels(), loc="lower center", ncol=3, fontsize=7,
               frameon=False, bbox_to_anchor=(0.5, -0.02))
    fig.tight_layout(rect=(0, 0.1, 1, 1))
    return _png(fig), described


# ---------------------------------------------------------------- page

def _microseconds_of(t) -> int:
    """A record time as the file's unsigned microseconds: an int as it is, a
    datetime64[us] that views the file's uint64 word by its bits."""
    if isinstance(t, (int, np.integer)):
        return int(t)
    return int(np.datetime64(t, "us").astype(np.int64)) & 0xFFFFFFFFFFFFFFFF


def _time_text(us: int) -> str:
    """Microseconds since 1970 as UTC text; beyond year 9999 as the count itself."""
    try:
        when = _dt.datetime(1970, 1, 1) + _dt.timedelta(microseconds=us)
    except OverflowError:
        return f"{us} µs after 1970-01-01 UTC"
    return when.strftime("%Y-%m-%d %H:%M:%S.%f")[:-3] + " UTC"


def _duration_text(seconds: float) -> str:
    if seconds < 120:
        return f"{seconds:.2f} s"
    minutes, s = divmod(seconds, 60)
    hours, m = divmod(int(minutes), 60)
    return (f"{hours} h " if hours else "") + f"{m} min {s:.0f} s"


def _size_text(n: int) -> str:
    for unit in ("bytes", "kB", "MB", "GB"):
        if n < 1000 or unit == "GB":
            return f"{n:.0f} {unit}" if unit == "bytes" else f"{n:.1f} {unit}"
        n /= 1000
    return str(n)


_STYLE = """
body { font-family: sans-serif; margin: 1.5em auto; max-width: 1060px; color: #222; }
h1 { font-size: 1.35em; word-break: break-all; }
h2 { font-size: 1.1em; margin-top: 1.6em; border-bottom: 1px solid #ccc; overflow-wrap: anywhere; }
td { overflow-wrap: anywhere; }
table { border-collapse: collapse; font-size: 0.9em; }
th, td { text-align: left; padding: 2px 10px 2px 0; vertical-align: top; }
th { color: #555; font-weight: normal; white-space: nowrap; }
.state { font-weight: bold; padding: 1px 6px; border-radius: 3px; }
.finished { background: #d8f0d8; } .unfinished { background: #fff0c0; } .damaged { background: #f8d0d0; }
.note { background: #fff6d6; border-left: 4px solid #e0b000; padding: 6px 10px; }
img { max-width: 100%; display: block; margin: 0.5em 0; }
.small { color: #666; font-size: 0.85em; }
"""


class _Page:
    def __init__(self, title: str):
        self.parts: List[str] = []
        self.title = title
        self.idents: set = set()

    def ident(self, text: str) -> str:
        """A unique element id for the text: its whitespace (not allowed in
        an id) as "_", and a number after it where that is taken."""
        base = re.sub(r"\s", "_", text)
        ident, n = base, 1
        while ident in self.idents:
            n += 1
            ident = f"{base}-{n}"
        self.idents.add(ident)
        return ident

    def add(self, text: str) -> None:
        self.parts.append(text)

    def section(self, ident: str, title: str) -> None:
        self.parts.append(f'<h2 id="{html.escape(ident)}">{html.escape(title)}</h2>')

    def image(self, data: str, alt: str) -> None:
        self.parts.append(f'<img alt="{html.escape(alt)}" src="data:image/png;base64,{data}">')

    def note(self, text: str) -> None:
        self.parts.append(f'<p class="note">{html.escape(text)}</p>')

    def text(self, text: str, cls: str = "") -> None:
        c = f' class="{cls}"' if cls else ""
        self.parts.append(f"<p{c}>{html.escape(text)}</p>")

    def html(self) -> str:
        return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                f"<title>{html.escape(self.title)}</title><style>{_STYLE}</style></head><body>\n"
                + "\n".join(self.parts) + "\n</body></html>\n")


def _table(rows: List[Tuple[str, str]]) -> str:
    body = "".join(f"<tr><th>{html.escape(k)}</th><td>{v}</td></tr>" for k, v in rows)
    return f"<table>{body}</table>"


def _open_for_report(path: str, encoding):
    """The recording opened the way that shows most of it, and its state."""
    try:
        rec = _open(path, encoding=encoding)
    except FormatError:
        # A file that lost its index or was never finished: read its records
        # to the last whole one; if that fails too, the first error stands.
        try:
            return _open(path, salvage=True, encoding=encoding), "damaged"
        except (FormatError, OSError):
            pass
        raise
    if not rec.finished:
        return _open(path, salvage=True, encoding=encoding), "unfinished"
    return rec, "finished"


def report(path, out_dir=".", *, encoding=None):
    """Writes the quick-look page of one recording and returns its path.

    The page is ``out_dir/NAME.html`` (NAME: the file's name without its
    extension). A file that was never finished, or whose records break off,
    still gets a page: it says so and shows the lines before the break. The
    page is written beside its final name and renamed over it when complete.

    Parameters
    ----------
    path : str, bytes or os.PathLike
        The data file.
    out_dir : str, bytes or os.PathLike
        Where the page goes (made when missing).
    encoding : str, optional
        The installation's code page, for the names in the file and in the
        file's name, as for :func:`cdt.open`; by default UTF-8 where a name
        is valid UTF-8, else Windows-1252.

    Every probe has a section of its own, headed by its key in
    :attr:`cdt.Lines.probes` (its name, or "NAME (channel N)" where probes
    share a name). Long names are cut in the middle on the pictures and kept
    whole in the page's text.

    Raises
    ------
    FileNotFoundError
        The file does not exist.
    cdt.FormatError
        The file cannot be opened as a data file.
    """
    path = os.fspath(path)
    if isinstance(path, bytes):
        # Kept as text with surrogate escapes: the same file for open(),
        # and the page's own name keeps the input's bytes.
        path = os.fsdecode(path)
    out_dir = os.fsdecode(os.fspath(out_dir)) if out_dir else "."
    rec, state = _open_for_report(path, encoding)
    # cdt info's scan and the profile records are read on a second thread
    # while this one reduces the lines; the C++ reader runs without the GIL.
    with ThreadPoolExecutor(max_workers=1) as pool:
        side = pool.submit(_side_reads, path, rec.salvage, encoding)
        bins, probes, totals = _reduce(rec)
        info, profiles = side.result()
    info_error = info if isinstance(info, str) else None
    info = None if info_error else info
    stopped = rec.stopped or {}
    if state == "finished" and (stopped.get("damaged") or (info or {}).get("stopped", {}).get("damaged")):
        state = "damaged"
    if state == "finished" and stopped.get("reason") not in (None, "end of records"):
        state = "damaged"

    plt = _pyplot()
    file_name = os.path.basename(path)
    stem = file_name[:-5] if file_name.endswith(".temp") else file_name
    stem = stem[:-4] if stem.lower().endswith(".cdt") else stem
    # The file's name and path as the page shows them: their bytes decoded
    # like the names inside the file.
    name = _decode(os.fsencode(file_name), encoding)
    shown_path = _decode(os.fsencode(path), encoding)
    page = _Page(f"{name}: quick look")
    page.add(f"<h1>{html.escape(name)}</h1>")
    start_text = _time_text(totals["first_time"]) if totals["lines"] else ""

    # Summary.
    page.section("summary", "Summary")
    state_text = {
        "finished": "finished",
        "unfinished": "being written (never finished): read to its last whole record",
        "damaged": "damaged: reading stopped before the end of the records",
    }[state]
    rows: List[Tuple[str, str]] = [("State", f'<span class="state {state}">{html.escape(state_text)}</span>')]
    rows.append(("File", html.escape(f"{shown_path} ({_size_text(os.path.getsize(path))})")))
    if totals["lines"]:
        span = (totals["last_time"] - totals["first_time"]) / 1e6
        rows.append(("Time span", html.escape(f"{_time_text(totals['first_time'])} to "
                                              f"{_time_text(totals['last_time'])}")))
        rows.append(("Duration", html.escape(_duration_text(float(span)))))
        count = totals["last_rev"] - totals["first_rev"] + 1
        rows.append(("Revolutions", html.escape(f"{totals['first_rev']} to {totals['last_rev']} "
                                                f"({count})")))
        lo, hi = np.nanmin(bins.get("speed.min")), np.nanmax(bins.get("speed.max"))
        rows.append(("Speed range", html.escape(f"{lo:.1f} to {hi:.1f}")))
    rows.append(("Lines (as the CSV)", f"{totals['lines']} ({totals['unsync']} not synchronised to the shaft)"))
    config = rec.configuration
    hosts = [h.get("name", "?") for h in config.get("hosts", [])]
    this_host = rec.host_index
    host_text = ", ".join(f"<b>{html.escape(h)}</b> (this file)" if i == this_host else html.escape(h)
                          for i, h in enumerate(hosts))
    rows.append(("Hosts", host_text or "none"))
    rows.append(("Probes", _probe_table(rec, info, probes)))
    if info is not None:
        r = info.get("records", {})
        by_type = r.get("byType", [])
        parts = [f"{r.get('total', 0)} in all"]
        parts += [f"type {t}: {c}" for t, c in enumerate(by_type) if c]
        parts.append(f"one-revolution {r.get('oneRevolution', 0)}, revolution-range "
                     f"{r.get('revolutionRange', 0)}")
        parts.append(f"profiles: {r.get('plainProfiles', 0)} plain, {r.get('packedProfiles', 0)} packed")
        if r.get("malformed"):
            parts.append(f"malformed: {r['malformed']}")
        rows.append(("Records", html.escape("; ".join(parts))))
    if info_error:
        rows.append(("Records", html.escape(f"not counted: {info_error}")))
    reason = stopped.get("reason", "unknown")
    where = stopped.get("offset")
    stop_text = f"{reason}, at byte {where}" if where is not None else reason
    rows.append(("Reading stopped", html.escape(stop_text)))
    page.add(_table(rows))
    if state != "finished":
        page.note(f"This recording is {state_text}. The pictures show the {totals['lines']} lines "
                  f"read before reading stopped ({stop_text}).")
    page.text("The configuration names no units: speed, DNS, RMS and TOA are shown as "
              "recorded. Each picture reduces the lines to what its pixels can show: "
              f"bins of {bins.width} consecutive line(s), drawn as their minimum to maximum "
              "(band) and mean (line).", "small")

    if totals["lines"] == 0:
        page.note("No lines could be read, so there are no pictures.")
    else:
        page.section("speed", "Shaft speed")
        page.image(_speed_picture(plt, bins, start_text), "shaft speed against time")
        page.text("Shaded red: stretches with lines that are not synchronised to the shaft.", "small")
        for pr in probes.values():
            page.section(page.ident(f"probe-{pr.key}"), f"Probe {pr.key}")
            if pr.lines_seen == 0:
                page.note(f"{pr.key} has no records in this file: its columns are empty.")
                continue
            page.image(_probe_picture(plt, bins, pr, start_text), f"{pr.key} blade DNS and RMS")
        for pr in probes.values():
            if pr.lines_seen == 0 or not len(pr.blades) or not pr.toa_seen:
                continue
            page.section(page.ident(f"toa-{pr.key}"), f"Time of arrival: {pr.key}")
            data, peaks = _toa_picture(plt, bins, pr, start_text)
            page.image(data, f"{pr.key} TOA deviations and their amplitude against speed")
            page.text(f"Deviation: the blade's TOA less its mean over the previous {_MEAN_LINES} lines, "
                      "both taken at the line's own speed so that the shaft's speed changes do not "
                      f"show as vibration. Amplitude: its peak to peak over windows of {_PTP_LINES} "
                      "lines, the largest per pixel; "
                      f"{_curves_text(len(pr.blades))}. Blank at the start: the first "
                      f"{_MEAN_LINES // 2} lines, before a blade has a mean.", "small")
            if peaks:
                items = "".join(f"<li>blade {b} at speed {s:.0f} (peak to peak {a:.3g})</li>"
                                for s, b, a in peaks)
                page.add(f"<p>Strongest peaks (where resonances cross):</p><ul class=\"peaks\">{items}</ul>")
            else:
                page.text("No peak stands out of the deviation amplitude.", "small")
        _profiles_section(page, plt, profiles)
    page.add(f'<p class="small">Written by cdt.report (python3 -m cdt report) on '
             f'{_dt.datetime.utcnow().strftime("%Y-%m-%d %H:%M")} UTC.</p>')

    os.makedirs(out_dir, exist_ok=True)
    out = os.path.join(out_dir, stem + ".html")
    _write_staged(out, page.html().encode("utf-8"))
    return out


def _curves_text(blades: int) -> str:
    group = -(-blades // _CURVES_MAX)
    return "one curve per blade" if group == 1 else f"one curve per {group} consecutive blades (their largest)"


def _write_staged(out: str, data: bytes) -> None:
    """Writes the file beside its name (created exclusively, with the
    umask's permissions) and renames it over the name when complete, so that
    a failed write leaves no half page and a link standing at the name is
    replaced, not written through."""
    folder, base = os.path.split(out)
    for _ in range(100):
        staging = os.path.join(folder, f".{base}.{secrets.token_hex(4)}.tmp")
        try:
            fd = os.open(staging, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
            break
        except FileExistsError:
            continue
    else:
        raise FileExistsError(f"{out}: no staging name beside it is free")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.replace(staging, out)
    except BaseException:
        try:
            os.unlink(staging)
        except OSError:
            pass
        raise


def _probe_table(rec, info, probes: Dict[str, _ProbeReduction]) -> str:
    records: Dict[int, int] = {}
    if info is not None:
        for h in info.get("records", {}).get("hosts", []):
            if h.get("hostIndex") == rec.host_index:
                for c in h.get("channels", []):
                    records[c["channel"]] = c.get("oneRevolution", 0) + c.get("revolutionRange", 0)
    stages = {s["name"]: s["blades"] for s in rec.configuration.get("stages", [])}
    hosts = rec.configuration.get("hosts", [])
    host = hosts[rec.host_index] if rec.host_index is not None and rec.host_index < len(hosts) else None
    rows = ["<tr><th>Channel</th><th>Probe</th><th>Stage</th><th>Blades</th><th>Blade records</th></tr>"]
    for i, c in enumerate((host or {}).get("channels", [])):
        channel = c.get("channel", i)
        probe = c.get("probe")
        if probe is None:
            rows.append(f"<tr><td>{channel}</td><td colspan=\"4\"><i>no probe</i></td></tr>")
            continue
        stage = c.get("stage")
        blades = stages.get(stage, "") if stage else ""
        count = records.get(channel, 0 if info is not None else "?")
        missing = " <b>(no records)</b>" if count == 0 else ""
        rows.append(f"<tr><td>{channel}</td><td>{html.escape(probe)}</td><td>{html.escape(stage or '')}"
                    f"</td><td>{blades}</td><td>{count}{missing}</td></tr>")
    return f"<table>{''.join(rows)}</table>"


def _side_reads(path: str, salvage: bool, encoding):
    """What ``cdt info`` tells of the file and its profile records (or why
    they are left out), read on a recording object of their own so that it
    can run beside the pass over the lines."""
    rec = _open(path, salvage=salvage, encoding=encoding)
    try:
        info: Any = rec.info()
    except (FormatError, OSError, ValueError) as e:
        # Shown in the summary instead of the record counts.
        return str(e), None
    count = None
    if info is not None:
        by_type = info.get("records", {}).get("byType", [])
        count = by_type[2] if len(by_type) > 2 else 0
        if count == 0:
            return info, None
    if count is not None and count > _PROFILES_LOADED_MAX:
        return info, f"{count} profile records: too many to load for a quick look."
    try:
        profiles = rec.profiles()
    except (FormatError, OSError, ValueError, MemoryError) as e:
        return info, f"The profile records could not be read: {e}"
    if len(profiles["time"]) == 0:
        return info, None
    return info, profiles


def _profiles_section(page: _Page, plt, profiles) -> None:
    if profiles is None:
        return
    page.section("profiles", "Profile records")
    if isinstance(profiles, str):
        page.text(profiles, "small")
        return
    data, described = _profiles_picture(plt, profiles)
    page.image(data, "profile records overlaid")
    items = "".join(f"<li>{html.escape(d)}</li>" for d in described)
    page.add(f"<p class=\"small\">Shown:</p><ul class=\"small\">{items}</ul>")


def main(argv: List[str]) -> int:
    """``python3 -m cdt report FILE... [-o DIR] [--encoding NAME]``: one page per file.

    Prints the path of every page written; a file that gets no page gets one
    line on standard error, and the status is then 1.
    """
    import argparse
    import sys

    parser = argparse.ArgumentParser(
        prog="python3 -m cdt report",
        description="Writes a quick-look HTML page (NAME.html, pictures embedded) per recording.")
    parser.add_argument("files", nargs="+", metavar="FILE")
    parser.add_argument("-o", "--output", metavar="DIR", default=".",
                        help="where the pages go (default: the current directory)")
    parser.add_argument("--encoding", metavar="NAME", default=None,
                        help="the installation's code page for the names (default: UTF-8 where "
                             "a name is valid UTF-8, else windows-1252)")
    args = parser.parse_args(argv)
    status = 0
    for f in args.files:
        try:
            out = report(f, args.output, encoding=args.encoding)
        except Exception as e:  # every file gets a page or one line, never a traceback
            print(f"cdt report: {f}: {_one_line(e)}", file=sys.stderr, flush=True)
            status = 1
            continue
        _print_path(out, sys.stdout)
    return status


def _one_line(e: BaseException) -> str:
    text = " ".join(str(e).split())
    if isinstance(e, (FormatError, OSError, ValueError, KeyError, LookupError)):
        return text or type(e).__name__
    # Not a fault of the file that a message has words for: say what it was.
    return f"no page could be made ({type(e).__name__}: {text})"


def _print_path(path: str, stream) -> None:
    """The path as the file system has it: its own bytes where the stream
    takes bytes, so that a name that is not UTF-8 can be passed on."""
    buffer = getattr(stream, "buffer", None)
    if buffer is None:
        print(path.encode("utf-8", "surrogateescape").decode("utf-8", "replace"), file=stream,
              flush=True)
        return
    stream.flush()
    buffer.write(os.fsencode(path) + b"\n")
    buffer.flush()
