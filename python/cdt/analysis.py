"""Tip-timing analysis: tip deflections and blade resonances as pandas frames.

The numbers come from the same C++ functions as ``cdt analyse``: a frame of
:func:`resonances` holds exactly what ``cdt analyse --json`` lists. The
contract of units: speed in rpm; a blade's time of arrival in microseconds
after its revolution's once-per-revolution mark; a deflection in the units
of the stage's diameter (millimetres on real installations), positive when
the tip arrives early; angles in radians; frequencies in Hz; the speed of a
resonance is 60·f/EO rpm.

Both functions take a :class:`cdt.Recording` or a :class:`cdt.RecordingSet`
(whose hosts' lines are joined on their revolutions, so a stage whose
probes are spread over several hosts is analysed with all of them); the
recordings' methods ``deflections`` and ``resonances`` call them.
"""

from __future__ import annotations

import warnings as _warnings
from typing import Any, Dict, Iterable, List, Optional, Tuple, Union

import numpy as _np

from . import _args, _cdt
from ._args import Probes, Revolutions, TimeLike

pandas = _args.Deferred("pandas")

#: The columns of :func:`resonances`, in order, as ``cdt analyse --json`` names them.
RESONANCE_COLUMNS = ["stage", "stage_number", "blade", "engine_order", "speed_rpm",
                     "frequency_hz", "amplitude", "damping_ratio", "phase", "alias_candidates",
                     "probes", "first_revolution", "last_revolution", "revolutions",
                     "residual_rms", "fit_ms"]
#: The columns of ``resonances(rejected=True)``: windows that are no resonance, and why.
REJECTED_COLUMNS = ["stage", "stage_number", "blade", "first_revolution", "last_revolution",
                    "reason"]
#: The columns of :func:`deflections`.
DEFLECTION_COLUMNS = ["Stage", "Blade", "Probe", "Start Rev", "Time", "Speed", "Deflection"]


def _source(source: Any) -> Tuple[List[Any], int, bool, Any]:
    """(paths, master, is a set, name decoder) of a Recording or RecordingSet."""
    from ._recording import Recording
    from ._sets import RecordingSet

    if isinstance(source, Recording):
        source._check_open()
        return [source._path], 0, False, source._text
    if isinstance(source, RecordingSet):
        master = source.recordings[source._master]
        return list(source._host_paths), source._host_master, True, master._text
    raise TypeError(f"a cdt.Recording or cdt.RecordingSet, not {type(source).__name__}")


def _warn_missing(source: Any, counts: Dict[str, Any]) -> None:
    """Warns of a set's hosts that have no file (or none that can be read)
    while their probes watch a stage: those probes are left out."""
    from ._sets import SetWarning

    hosts = source.configuration["hosts"]
    for h in counts.get("missing_hosts", []):
        _warnings.warn(f"{source.files[source._master]}: the set has no file of host "
                       f"{hosts[h]['name']!r}: its probes are left out of the analysis",
                       SetWarning, stacklevel=3)


def _window(start: Any, stop: Any, revolutions: Any) -> Any:
    return _args.selection(None, None, start, stop, revolutions)


def _probe_keys(source: Any, host: int, slot: int) -> str:
    """The key of the probe on a host's slot, as the source names its probes."""
    from ._sets import RecordingSet

    if isinstance(source, RecordingSet):
        return source._keys[(source._host_position[host], slot)]
    for p in source._probes:
        if p["channel"] == slot:
            return p["key"]
    return f"channel {slot}"


def _kept_keys(source: Any, probes: Any) -> Optional[set]:
    """The keys of the probes `probes` names (None: all), under the rules
    of the source's reads; one that names no probe raises UnknownProbeError."""
    from ._sets import RecordingSet

    if probes is None:
        return None
    if isinstance(source, RecordingSet):
        kept = source._host_probes(probes)
        return {set_key for i, key, _, set_key in source._probes if key in (kept[i] or [])}
    keys = set()
    for choice in _args.probe_choices(probes):
        found = [p["key"] for p in source._probes if p["key"] == choice]
        found = found or [p["key"] for p in source._probes if p["name"] == choice]
        if not found and (isinstance(choice, int) or choice in ("0", "1", "2", "3")):
            found = [p["key"] for p in source._probes if p["channel"] == int(choice)]
        if not found:
            raise _cdt.UnknownProbeError(
                f"{source.path}: no probe {choice!r} (its probes: "
                + ", ".join(repr(p["key"]) for p in source._probes) + ")")
        keys.update(found)
    return keys


def deflections(source: Any, *, probes: Optional[Probes] = None,
                start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
                revolutions: Optional[Revolutions] = None) -> "pandas.DataFrame":
    """The tip deflections of every analysable stage as a tidy frame.

    One row per stage, blade, probe and line whose time of arrival is there:
    ``Stage`` (its name), ``Blade`` (from 1, as the CSV), ``Probe`` (its key,
    as :attr:`Recording.probe_keys` names it), ``Start Rev``, ``Time``
    (datetime64[ns], UTC), ``Speed`` (rpm) and ``Deflection`` (the stage
    diameter's units, positive when the tip arrives early). Lines not
    synchronised or without a speed and empty cells are left out, never
    interpolated; the deflections are not zeroed.

    Parameters
    ----------
    probes
        The probes kept, as for :meth:`Recording.read` (or
        :meth:`RecordingSet.read`).
    start, stop, revolutions
        The window of lines, as for :meth:`Recording.read`.
    """
    import pandas as pd
    paths, master, is_set, text = _source(source)
    kept = _kept_keys(source, probes)
    raw = _cdt.analysis_deflections(paths, master, source.salvage, is_set,
                                    _window(start, stop, revolutions))
    _warn_missing(source, raw["counts"])
    names = [text(s["name"]) for s in raw["counts"]["stages"]]
    frames = []
    for stage in raw["stages"]:
        values = stage["values"]
        keys = [_probe_keys(source, h, s) for h, s in zip(stage["probe_hosts"],
                                                          stage["probe_slots"])]
        present = _np.isfinite(values)
        if kept is not None:
            present &= _np.array([k in kept for k in keys], dtype=bool)[None, None, :]
        row, blade, probe = _np.nonzero(present)
        times = stage["times"][row].astype("datetime64[us]").astype("datetime64[ns]")
        frames.append(pd.DataFrame({
            "Stage": pd.Categorical.from_codes(_np.zeros(len(row), dtype=_np.int32),
                                               [names[stage["stage"]]]),
            "Blade": (blade + 1).astype(_np.int32),
            "Probe": pd.Categorical.from_codes(probe.astype(_np.int32), keys)
            if len(set(keys)) == len(keys) else _np.array(keys, dtype=object)[probe],
            "Start Rev": stage["revolutions"][row],
            "Time": pd.DatetimeIndex(times).tz_localize("UTC"),
            "Speed": stage["speeds"][row],
            "Deflection": values[present],
        }))
    if not frames:
        return pd.DataFrame({c: [] for c in DEFLECTION_COLUMNS})
    frame = pd.concat(frames, ignore_index=True) if len(frames) > 1 else frames[0]
    for column in ("Stage", "Probe"):
        if isinstance(frame[column].dtype, pd.CategoricalDtype) and len(frames) > 1:
            frame[column] = frame[column].astype(str)
    return frame


def _orders(orders: Any) -> List[int]:
    if orders is None:
        return []
    if _args.is_int(orders):
        orders = [orders]
    result = []
    for k in orders:
        if not _args.is_int(k) or isinstance(k, bool) or not 1 <= k <= 500:
            raise ValueError(f"orders: engine orders from 1 to 500, not {k!r}")
        if int(k) not in result:
            result.append(int(k))
    if not result:
        raise ValueError("orders: at least one engine order")
    return result


def _stage(stage: Any, names: List[str], where: str) -> Optional[int]:
    if stage is None:
        return None
    for i, name in enumerate(names):
        if stage == name or (_args.is_int(stage) and stage == i + 1) or str(i + 1) == stage:
            return i
    raise ValueError(f"{where}: no stage {stage!r} (its stages: "
                     + ", ".join(repr(n) for n in names) + ", or their numbers from 1)")


def resonances(source: Any, *, stage: Union[str, int, None] = None,
               orders: Optional[Iterable[int]] = None, start: Optional[TimeLike] = None,
               stop: Optional[TimeLike] = None, revolutions: Optional[Revolutions] = None,
               rejected: bool = False) -> "pandas.DataFrame":
    """The blade resonances, as ``cdt analyse --json`` lists them.

    One row per resonance with the columns :data:`RESONANCE_COLUMNS`
    (``stage`` its name, ``stage_number`` and ``blade`` from 1,
    ``engine_order``, ``speed_rpm``, ``frequency_hz`` (the natural frequency),
    ``amplitude`` (zero-to-peak, the diameter's units), ``damping_ratio``,
    ``phase`` (radians), ``alias_candidates`` (orders the probe angles cannot
    tell from it), the probes and revolutions of the fit and its residual);
    the numbers are those of the command.

    Parameters
    ----------
    stage : str or int, optional
        Only this stage: its name, or its number from 1.
    orders : iterable of int, optional
        The engine orders to consider (default 1 to 32).
    start, stop, revolutions
        The window of lines analysed, as for :meth:`Recording.read`.
    rejected : bool
        Instead, the windows that rose above the noise floor but are no
        resonance (:data:`REJECTED_COLUMNS`, with the ``reason``: fewer than
        three probes on the stage give no engine order, for one).
    """
    import pandas as pd
    paths, master, is_set, text = _source(source)
    wanted = _orders(orders)
    names = [s["name"] for s in source.configuration["stages"]]
    index = _stage(stage, names, str(source.path if not is_set else source.files[0]))
    raw = _cdt.analysis_resonances(paths, master, source.salvage, is_set,
                                   _window(start, stop, revolutions), wanted, index)
    _warn_missing(source, raw["counts"])
    rows = [r for r in raw["resonances"] if r["accepted"] != rejected]
    columns = REJECTED_COLUMNS if rejected else RESONANCE_COLUMNS
    data: Dict[str, Any] = {}
    for column in columns:
        if column == "stage":
            data[column] = [names[r["stage_number"] - 1] for r in rows]
        else:
            data[column] = [r[column] for r in rows]
    frame = pd.DataFrame(data, columns=columns)
    for column in ("stage_number", "blade", "engine_order", "probes", "revolutions"):
        if column in frame:
            frame[column] = frame[column].astype(_np.int64)
    for column in ("first_revolution", "last_revolution"):
        frame[column] = frame[column].astype(_np.uint64)
    return frame


__all__: List[str] = ["deflections", "resonances", "RESONANCE_COLUMNS", "REJECTED_COLUMNS",
                      "DEFLECTION_COLUMNS"]
