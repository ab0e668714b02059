"""The page's answer: per stage, where the blades resonate.

The resonance table comes from :func:`cdt.analysis.resonances` (the numbers
of ``cdt analyse``). Per stage the page then draws

- a Campbell diagram: frequency against speed, the engine-order lines, each
  resonance where it crossed, sized by its amplitude, over the run's speed
  range;
- the tip deflection amplitude against speed of every blade, with the
  resonance windows marked, and the same as a blade x speed heat map, so
  that blades that peak together show as one vertical band.

The amplitude pictures reduce the deflections of the analysis
(:func:`cdt._cdt.analysis_deflections`) by speed bins: each blade's
deflection at each probe zeroed by a quadratic in speed (fitted outside its
resonance windows, as the analysis zeroes it), the largest of those over
the stage's probes per revolution, averaged per speed bin. They are read in
windows of time, twice (the fits, then the bins), so that memory stays
bounded whatever the recording's length.
"""

from __future__ import annotations

import html
import warnings
from typing import Any, Dict, List, Optional, Tuple

import numpy as np

from .. import _cdt
from ..analysis import _source, _window
from .figures import _blade_heat, _blade_groups, _CURVES_MAX, _picture_text, _png

# The amplitude pictures' speed bins.
_SPEED_BINS = 240
# Deflection values (lines x blades x probes) read at a time for the
# amplitude pictures, about: 8 bytes each, and a few temporaries.
_CHUNK_VALUES = 2_000_000


def _units() -> Dict[str, Dict[str, Any]]:
    return _cdt.quantity_units()


def _label(key: str, name: Optional[str] = None) -> str:
    """An axis label: the quantity's name and its unit's symbol."""
    entry = _units()[key]
    symbol = entry["symbol"]
    return f"{name or entry['long_name'].capitalize()} ({symbol})" if symbol else (name or entry["long_name"])


def _stage_pictures(page, plt, source, table, speed_range: Tuple[float, float],
                    totals: Dict[str, Any]) -> None:
    """The Campbell diagram and the amplitude pictures of every stage that
    the analysis can take, as sections of `page`."""
    amplitudes = _stage_amplitudes(source, table, speed_range, totals)
    names = [s["name"] for s in source.configuration["stages"]]
    stages = {int(n) for n in table["stage_number"]} if len(table) else set()
    if isinstance(amplitudes, dict):
        stages |= set(amplitudes)
    for number in sorted(stages):
        name = names[number - 1] if number - 1 < len(names) else f"stage {number}"
        rows = table[table["stage_number"] == number] if len(table) else table
        page.section(page.ident(f"campbell-{name}"), f"Campbell diagram: {name}")
        page.image(_campbell_picture(plt, name, rows, speed_range),
                   f"{name} Campbell diagram: frequency against speed")
        page.text("Frequency against shaft speed. Lines: the engine orders (EO), where a "
                  "vibration of EO cycles per revolution meets the speed (f = EO · speed / 60). "
                  "Dots: each resonance of the table where it crossed, sized by its amplitude; "
                  "grey: the speed range of the run.", "small")
        if not isinstance(amplitudes, dict) or number not in amplitudes:
            continue
        page.section(page.ident(f"amplitude-{name}"), f"Tip deflection amplitude: {name}")
        page.image(_amplitude_picture(plt, name, *amplitudes[number], rows),
                   f"{name} tip deflection amplitude against speed, every blade")
        page.text("Each blade's tip deflection at each probe (from its TOA: x = R·wrap(α − Ω·TOA), "
                  "positive when the tip arrives early), less a quadratic in speed fitted outside "
                  "its resonance windows; per revolution the largest over the stage's probes, "
                  "averaged over each speed bin. Shaded: the resonance windows of the table; "
                  "triangles: each resonance's fitted amplitude. In the heat map, blades that "
                  "resonate together form one vertical band.", "small")
    if isinstance(amplitudes, str):
        page.text(amplitudes, "small")


class _StageSums:
    """One stage's two passes: the sums of each (blade, probe)'s quadratic
    fit in speed, the speeds its resonance windows cover, then the binned
    amplitudes."""

    def __init__(self, blades: int, probes: int, windows: int):
        self.moments = np.zeros((blades, probes, 5))
        self.rhs = np.zeros((blades, probes, 3))
        self.spans = np.tile([np.inf, -np.inf], (windows, 1))
        self.fit: Optional[np.ndarray] = None
        self.total = np.zeros(_SPEED_BINS * blades)
        self.count = np.zeros(_SPEED_BINS * blades)


def _stage_amplitudes(source, table, speed_range: Tuple[float, float], totals: Dict[str, Any]):
    """Per stage number (edges, [bin][blade] amplitude, window spans), or a
    text why there are none. The deflections are read in windows of time of
    at most about _CHUNK_VALUES values, twice: first the zeroing fits, then
    the amplitudes, so memory stays bounded whatever the recording's length."""
    lo, hi = speed_range
    if not (np.isfinite(lo) and np.isfinite(hi)):
        return "No tip deflection amplitude pictures: no line has a speed."
    centre, scale = (lo + hi) / 2, (hi - lo) / 2 or 1.0
    edges = np.linspace(lo, hi if hi > lo else lo + 1, _SPEED_BINS + 1)
    per_line = 4 * sum(max(s.get("blades", 0), 0) for s in source.configuration.get("stages", []))
    per_line *= max(1, len(getattr(source, "hosts", [None])))
    pieces = max(1, min(4096, -(-totals["lines"] * per_line // _CHUNK_VALUES)))
    first, last = totals["first_time"], totals["last_time"]
    if last <= first:  # a clock that went back: one window of all the lines
        pieces = 1
    # The first and last windows are open, so that every line is in one.
    bounds = [None] + [first + (last + 1 - first) * k // pieces for k in range(1, pieces)] + [None]
    try:
        paths, master, is_set, _ = _source(source)
        sums: Dict[int, _StageSums] = {}
        for second in (False, True):
            for start, stop in zip(bounds[:-1], bounds[1:]):
                raw = _cdt.analysis_deflections(paths, master, source.salvage, is_set,
                                                _window(start, stop, None))
                for stage in raw["stages"]:
                    number = stage["stage"] + 1
                    rows = table[table["stage_number"] == number] if len(table) else table
                    values = stage["values"]
                    if number not in sums:
                        sums[number] = _StageSums(values.shape[1], values.shape[2], len(rows))
                    _add_chunk(sums[number], stage, rows, (centre, scale), edges, second)
                if not second:
                    for stage_sums in sums.values():
                        stage_sums.fit = _solve(stage_sums.moments, stage_sums.rhs)
    except Exception as e:  # the page is still worth having without them
        return f"No tip deflection amplitude pictures: {e}"
    result = {}
    for number, stage_sums in sums.items():
        blades = stage_sums.moments.shape[0]
        with np.errstate(invalid="ignore", divide="ignore"):
            mean = np.where(stage_sums.count > 0,
                            stage_sums.total / np.maximum(stage_sums.count, 1), np.nan)
        spans = [(float(a), float(b)) for a, b in stage_sums.spans if a <= b]
        result[number] = (edges, mean.reshape(_SPEED_BINS, blades), _merged(spans))
    return result


def _add_chunk(sums: _StageSums, stage: Dict[str, Any], rows, norm: Tuple[float, float],
               edges: np.ndarray, second: bool) -> None:
    """Adds a window's deflections of the stage: to the fits' sums (first
    pass), or zeroed to the speed bins (second)."""
    values = stage["values"]
    if not len(values):
        return
    speed = np.asarray(stage["speeds"], dtype=np.float64)
    revs = np.asarray(stage["revolutions"])
    blades = values.shape[1]
    s = (speed - norm[0]) / norm[1]
    if second:
        fit = sums.fit
        z = values - (fit[None, :, :, 0] + fit[None, :, :, 1] * s[:, None, None]
                      + fit[None, :, :, 2] * (s * s)[:, None, None])
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", RuntimeWarning)  # rows without a probe's value
            per_row = np.nanmax(np.abs(z), axis=2)  # [row][blade]
        where = np.clip(np.searchsorted(edges, speed, side="right") - 1, 0, _SPEED_BINS - 1)
        known = np.isfinite(per_row)
        index = (where[:, None] * blades + np.arange(blades)[None, :])[known]
        sums.total += np.bincount(index, per_row[known], minlength=len(sums.total))
        sums.count += np.bincount(index, minlength=len(sums.count))
        return
    excluded = np.zeros((len(speed), blades), dtype=bool)
    for i, r in enumerate(rows.itertuples(index=False)):
        inside = (revs >= r.first_revolution) & (revs <= r.last_revolution)
        if not inside.any():
            continue
        if 1 <= r.blade <= blades:
            excluded[inside, r.blade - 1] = True
        sums.spans[i] = (min(sums.spans[i][0], speed[inside].min()),
                         max(sums.spans[i][1], speed[inside].max()))
    known = np.isfinite(values) & ~excluded[:, :, None]
    powers = np.stack([s ** k for k in range(5)])  # (5, rows)
    sums.moments += np.einsum("kn,nbp->bpk", powers, known.astype(np.float64))
    sums.rhs += np.einsum("kn,nbp->bpk", powers[:3], np.where(known, values, 0.0))


def _solve(moments: np.ndarray, rhs: np.ndarray) -> np.ndarray:
    """Each (blade, probe)'s quadratic c0 + c1·s + c2·s² from the sums of
    its normal equations; NaN where fewer than three values."""
    normal = moments[..., [[0, 1, 2], [1, 2, 3], [2, 3, 4]]]
    enough = moments[..., 0] >= 3
    normal[~enough] = np.eye(3)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        c = np.stack([np.linalg.lstsq(m, r, rcond=None)[0] for m, r in
                      zip(normal.reshape(-1, 3, 3), rhs.reshape(-1, 3))]).reshape(rhs.shape)
    c[~enough] = np.nan
    return c


def _campbell_picture(plt, name: str, rows, speed_range: Tuple[float, float]) -> str:
    lo, hi = speed_range
    if len(rows):  # a crossing without an order has no speed to draw
        rows = rows[np.isfinite(rows["speed_rpm"]) & np.isfinite(rows["frequency_hz"])
                    & (rows["engine_order"] > 0)]
    fig, ax = plt.subplots(figsize=(10, 4.2))
    speeds = np.asarray(rows["speed_rpm"], dtype=np.float64) if len(rows) else np.empty(0)
    freqs = np.asarray(rows["frequency_hz"], dtype=np.float64) if len(rows) else np.empty(0)
    right = max(hi, speeds.max() if len(speeds) else 0.0) * 1.08 or 1.0
    orders = sorted({int(k) for k in rows["engine_order"] if k > 0}) if len(rows) else []
    top_order = max(orders + [8])
    top = max(freqs.max() * 1.25 if len(freqs) else 0.0, top_order * right / 60 * 0.5)
    ax.axvspan(lo, hi, color="0.85", linewidth=0, label="speed range of the run")
    x = np.array([0.0, right])
    for k in range(1, top_order + 3):
        strong = k in orders
        ax.plot(x, k * x / 60, color="tab:red" if strong else "0.55",
                linewidth=1.1 if strong else 0.6, zorder=1)
        at = min(right, top * 60 / k)
        ax.annotate(f"EO {k}", xy=(at, k * at / 60), xytext=(-3, -10 if at < right else 2),
                    textcoords="offset points", ha="right", fontsize=7,
                    color="tab:red" if strong else "0.4")
    if len(rows):
        amplitude = np.asarray(rows["amplitude"], dtype=np.float64)
        scale = np.nanmax(amplitude) if np.isfinite(amplitude).any() else 1.0
        sizes = 20 + 180 * np.nan_to_num(amplitude / (scale or 1.0))
        dots = ax.scatter(speeds, freqs, s=sizes, c=np.asarray(rows["blade"]), cmap="turbo",
                          edgecolors="black", linewidths=0.5, alpha=0.8, zorder=3)
        plt.colorbar(dots, ax=ax, pad=0.01).set_label("Blade")
        # One label per crossing: the blades of a stage cross together.
        for k, group in rows.groupby("engine_order"):
            s, f = float(np.median(group["speed_rpm"])), float(np.median(group["frequency_hz"]))
            count = len(group)
            said = f"EO {k}: {count} blade{'s' if count != 1 else ''}"
            ax.annotate(f"{said}\nmax {np.nanmax(group['amplitude']):.3g} {_units()['amplitude']['symbol']}",
                        xy=(s, f), xytext=(8, 8), textcoords="offset points", fontsize=8,
                        bbox={"boxstyle": "round,pad=0.2", "fc": "white", "ec": "0.6"}, zorder=4)
    else:
        ax.text(0.5, 0.5, "no resonance found", transform=ax.transAxes, ha="center", color="0.4")
    ax.set_xlim(0, right)
    ax.set_ylim(0, top)
    ax.set_xlabel(_label("speed", "Shaft speed"))
    ax.set_ylabel(_label("frequency", "Frequency"))
    ax.set_title(f"{_picture_text(name)}: Campbell diagram")
    ax.legend(loc="upper left", fontsize=8)
    return _png(fig)


def _merged(spans: List[Tuple[float, float]]) -> List[Tuple[float, float]]:
    """The union of speed spans, as spans that do not overlap (the blades'
    windows of one crossing overlap one another)."""
    merged: List[Tuple[float, float]] = []
    for a, b in sorted(spans):
        if merged and a <= merged[-1][1]:
            merged[-1] = (merged[-1][0], max(merged[-1][1], b))
        else:
            merged.append((a, b))
    return merged


def _amplitude_picture(plt, name: str, edges: np.ndarray, amplitude: np.ndarray,
                       windows: List[Tuple[float, float]], rows) -> str:
    blades = np.arange(1, amplitude.shape[1] + 1)
    mid = (edges[:-1] + edges[1:]) / 2
    unit_label = _label("amplitude", "Tip deflection amplitude")
    fig, (ax, heat) = plt.subplots(2, 1, figsize=(10, 7.0), sharex=True,
                                   gridspec_kw={"height_ratios": [3, 3]})
    for i, (a, b) in enumerate(windows):
        ax.axvspan(a, max(b, a + (edges[-1] - edges[0]) / _SPEED_BINS), color="tab:orange",
                   alpha=0.18, linewidth=0, label="resonance window" if i == 0 else None)
    curves, _ = _blade_groups(amplitude, np.nanmax, _CURVES_MAX)
    colours = plt.get_cmap("turbo")(np.linspace(0, 1, max(curves.shape[1], 2)))
    for j in range(curves.shape[1]):
        ax.plot(mid, curves[:, j], color=colours[j], linewidth=0.7, alpha=0.75)
    if len(rows):
        ax.scatter(rows["speed_rpm"], rows["amplitude"], marker="v", color="black", s=18,
                   zorder=3, label="fitted amplitude (table)")
    sm = plt.cm.ScalarMappable(cmap="turbo", norm=plt.Normalize(1, max(len(blades), 2)))
    plt.colorbar(sm, ax=ax, pad=0.01).set_label("Blade")
    ax.set_ylabel(unit_label)
    finite = amplitude[np.isfinite(amplitude)]
    top = max(finite.max() if finite.size else 0.0,
              float(np.nanmax(rows["amplitude"])) if len(rows) else 0.0)
    ax.set_ylim(0, top * 1.15 if top > 0 else 1.0)
    ax.set_title(f"{_picture_text(name)}: tip deflection amplitude against speed, every blade")
    handles = ax.get_legend_handles_labels()
    if handles[0]:
        ax.legend(loc="upper left", fontsize=8)
    _blade_heat(plt, heat, edges, amplitude, blades, unit_label, "magma", reduce=np.nanmax)
    for a, b in windows:
        heat.axvline(a, color="tab:cyan", linewidth=0.6, alpha=0.8)
        heat.axvline(b, color="tab:cyan", linewidth=0.6, alpha=0.8)
    heat.set_title(f"{_picture_text(name)}: blade x speed"
                   + (" (resonance windows between cyan lines)" if windows else ""))
    heat.set_xlabel(_label("speed", "Shaft speed"))
    fig.tight_layout()
    return _png(fig)


def _units_rows() -> str:
    """The contract of units as an HTML table, from the table of units."""
    keys = ("time", "speed", "blade_toa", "blade_dns", "rms", "deflection", "amplitude",
            "frequency", "damping", "phase", "probe_angle")
    table = _units()
    cells = "".join(f"<tr><td>{html.escape(table[k]['long_name'])}</td>"
                    f"<td>{html.escape(table[k]['description'])}</td></tr>" for k in keys)
    return f'<table class="units"><tr><th>Quantity</th><th>Unit</th></tr>{cells}</table>'
