"""The page's pictures, drawn with matplotlib from the reduced lines.

Each function returns a PNG image as base64 text, ready for a data: URL.
matplotlib is imported by :func:`_pyplot` only, so that ``import cdt`` does
not need it.
"""

from __future__ import annotations

import base64
import io
import warnings
from typing import Dict, List, Tuple

import numpy as np

from .. import _cdt
from .reduction import _MEAN_LINES, _PTP_LINES, _Bins, _ProbeReduction, _runs
from .texts import _microseconds_of, _time_text

# Names on the pictures are cut to this many characters (a name of thousands
# would make a figure wider than the renderer can draw); the text keeps them whole.
_PICTURE_NAME_MAX = 48
# Rows of a blade heat map and curves of the amplitude picture at most: more
# blades than these are drawn in groups of consecutive blades.
_HEAT_ROWS_MAX = 600
_CURVES_MAX = 120
# The profile records drawn.
_PROFILES_SHOWN = 6


def _symbol(key: str) -> str:
    """The unit of a quantity as axis labels show it (the table of units);
    "as recorded" where the recorder fixes none."""
    return _cdt.quantity_units()[key]["symbol"] or "as recorded"


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


def _time_axis(bins: _Bins) -> Tuple[np.ndarray, str]:
    """The bin edges in the unit that suits the recording's span, and the unit."""
    edges = _bin_edges(bins)
    unit = _time_unit(edges[-1])
    return edges / _UNIT_SCALE[unit], unit


def _label_time(ax, x: np.ndarray, unit: str, start_text: str) -> None:
    """The time axis's label and limits (one unit wide for a single instant)."""
    ax.set_xlabel(f"Time since {start_text} ({unit})")
    ax.set_xlim(x[0], x[-1] if x[-1] > x[0] else x[0] + 1)


def _speed_picture(plt, bins: _Bins, start_text: str) -> str:
    x, unit = _time_axis(bins)
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
    _label_time(ax, x, unit, start_text)
    ax.set_ylabel(f"Shaft speed ({_symbol('speed')})")
    ax.legend(loc="lower right", fontsize=8)
    ax.set_title("Shaft speed")
    return _png(fig)


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


def _curves_text(blades: int) -> str:
    """How the amplitude picture draws that many blades."""
    group = -(-blades // _CURVES_MAX)
    return "one curve per blade" if group == 1 else f"one curve per {group} consecutive blades (their largest)"


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
    key, label, blades = pr.key, _picture_text(pr.key), pr.blades
    x, unit = _time_axis(bins)
    mid = (x[:-1] + x[1:]) / 2
    with_blades = len(blades) > 0
    rows = 2 if with_blades else 1
    fig, axes = plt.subplots(rows, 1, figsize=(10, 2.6 * rows + 0.6), sharex=True, squeeze=False,
                             gridspec_kw={"height_ratios": [3, 2][:rows]} if with_blades else None)
    axes = axes[:, 0]
    if with_blades:
        _blade_heat(plt, axes[0], x, bins.mean(key + ".dns"), blades,
                    f"DNS ({_symbol('blade_dns')}, mean per pixel)",
                    "viridis")
        axes[0].set_title(f"{label}: blade DNS")
    ax = axes[-1]
    ax.fill_between(mid, bins.get(key + ".rms.min"), bins.get(key + ".rms.max"),
                    color="tab:green", alpha=0.35, linewidth=0, label="min to max")
    ax.plot(mid, bins.mean(key + ".rms"), color="tab:green", linewidth=1, label="mean")
    ax.set_ylabel(f"RMS ({_symbol('rms')})")
    ax.legend(loc="upper left", fontsize=8)
    if not with_blades:
        ax.set_title(f"{label}: RMS")
    if with_blades:
        # The colour bar takes room from the heat map only; keep the RMS
        # axis the same width so that times line up.
        plt.colorbar(ax.collections[0], ax=ax, pad=0.01).remove()
    _label_time(ax, x, unit, start_text)
    return _png(fig)


def _toa_picture(plt, bins: _Bins, pr: _ProbeReduction, start_text: str,
                 peaks: List[Tuple[float, int, float]]) -> str:
    """The blades' TOA deviations against time, and their amplitude against
    speed with the peaks (of :func:`_peaks`) marked."""
    label = _picture_text(pr.key)
    x, unit = _time_axis(bins)
    fig, axes = plt.subplots(2, 1, figsize=(10, 6.4), gridspec_kw={"height_ratios": [3, 3]})
    _blade_heat(plt, axes[0], x, bins.get(pr.key + ".dev"), pr.blades,
                f"|TOA − running mean| ({_symbol('blade_toa')}, max per pixel)", "magma", reduce=np.nanmax)
    axes[0].set_title(f"{label}: each blade's TOA deviation from its mean over the previous "
                      f"{_MEAN_LINES} lines")
    _label_time(axes[0], x, unit, start_text)
    ax = axes[1]
    speed, ptp = pr.deviation.amplitude()
    if len(speed):
        order = np.argsort(speed, kind="stable")
        curves, _ = _blade_groups(ptp, np.nanmax, _CURVES_MAX)
        colours = plt.get_cmap("turbo")(np.linspace(0, 1, max(curves.shape[1], 2)))
        for j in range(curves.shape[1]):
            ax.plot(speed[order], curves[order, j], color=colours[j], linewidth=0.6, alpha=0.7)
        for s, blade, amplitude, count in peaks:
            said = f"blade {blade}" if count == 1 else f"{count} blades"
            ax.annotate(f"{said}\nat {s:.0f} {_symbol('speed')}", xy=(s, amplitude),
                        xytext=(0, 12), textcoords="offset points", ha="center", fontsize=8,
                        arrowprops={"arrowstyle": "-", "color": "black", "linewidth": 0.6},
                        bbox={"boxstyle": "round,pad=0.2", "fc": "white", "ec": "0.6"})
            ax.plot([s], [amplitude], marker="v", color="black", markersize=5)
        top = np.nanmax(ptp) if np.isfinite(ptp).any() else 1.0
        ax.set_ylim(0, top * 1.35 if top > 0 else 1.0)
        sm = plt.cm.ScalarMappable(cmap="turbo", norm=plt.Normalize(int(pr.blades[0]), int(pr.blades[-1])))
        plt.colorbar(sm, ax=ax, pad=0.01).set_label("Blade")
    ax.set_xlabel(f"Shaft speed ({_symbol('speed')})")
    ax.set_ylabel(f"TOA peak to peak ({_symbol('blade_toa')})\nover {_PTP_LINES} lines")
    ax.set_title(f"{label}: each blade's TOA deviation amplitude against speed")
    fig.tight_layout()
    return _png(fig)


def _profiles_picture(plt, profiles: Dict[str, np.ndarray]) -> Tuple[str, List[str]]:
    """A few profile records overlaid, and the text that describes each."""
    count = len(profiles["time"])
    chosen = np.unique(np.linspace(0, count - 1, min(count, _PROFILES_SHOWN)).round().astype(int))
    fig, (ax, zoom) = plt.subplots(1, 2, figsize=(10, 3.6), gridspec_kw={"width_ratios": [3, 1]})
    colours = plt.get_cmap("viridis")(np.linspace(0, 0.9, len(chosen)))
    described = []
    points = profiles["values"].shape[1]
    near = max(points // 16, 2)
    for c, i in zip(colours, chosen):
        when = _time_text(_microseconds_of(profiles["time"][i]))
        label = f"{when}, speed {float(profiles['speed'][i]):.0f} {_symbol('speed')}"
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


# The coverage picture's rows per host: the status bit's name, what the row
# says, and its colour.
_COVERAGE_ROWS = (("missing", "missing", "tab:red"), ("time_off", "time off", "tab:orange"),
                  ("speed_off", "speed off", "tab:purple"))


def _coverage_picture(plt, reduction, hosts: List[str], master: str, start_text: str) -> str:
    """One row per host and status bit across the run, shaded by the share
    of each bin's set lines where the host's line has that bit (on a square
    root scale, so that a few lines show), under a row of the set's (the
    master's) unsynchronised stretches."""
    from matplotlib.colors import LinearSegmentedColormap, PowerNorm

    bins = reduction.bins
    x, unit = _time_axis(bins)
    rows = 1 + len(_COVERAGE_ROWS) * len(hosts)
    fig, ax = plt.subplots(figsize=(10, min(40.0, 1.2 + 0.22 * rows)))
    ax.grid(False)
    norm = PowerNorm(0.5, vmin=0, vmax=1)

    def row(y, values, colour):
        cmap = LinearSegmentedColormap.from_list(colour, ["white", colour])
        ax.pcolormesh(x, [y, y + 1], values[None, :], cmap=cmap, norm=norm, shading="flat")

    row(0, (bins.get("unsync") > 0).astype(np.float64), "0.45")
    labels, y = ["not synchronised (set)"], 0
    for i, host in enumerate(hosts):
        name = _picture_text(host) + (" (master)" if host == master else "")
        for bit, said, colour in _COVERAGE_ROWS:
            y += 1
            row(y, reduction.fraction(i, bit), colour)
            labels.append(f"{name}: {said}")
        ax.axhline(y + 1, color="0.6", linewidth=0.6)
    ax.axhline(1, color="0.6", linewidth=0.6)
    ax.set_yticks(np.arange(rows) + 0.5)
    ax.set_yticklabels(labels, fontsize=8)
    ax.set_ylim(rows, 0)
    _label_time(ax, x, unit, start_text)
    ax.set_title("Coverage: where each host's line is missing or disagrees with the master's")
    return _png(fig)
