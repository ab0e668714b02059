"""Recording sets: the hosts' files of one moment, joined by revolution."""

from __future__ import annotations

import os as _os
from typing import Any, Dict, List, Optional

from . import _args, _cdt
from ._args import Blades, PathLike, Revolutions, TimeLike
from ._lines import Lines
from ._recording import Recording

# The status bits of a host's line in a set line (lines/set_join.h).
MISSING, TIME_OFF, SPEED_OFF = 1, 2, 4


class SetLines(Lines):
    """Lines of a recording set: the hosts' lines joined on (Start Rev, End Rev).

    As :class:`Lines`, with every host's probes (keys made unique across
    the set: ``"NAME (HOST channel N)"`` where several probes share a name),
    and per host a ``status`` row: 0 where the host's line agrees, else a sum
    of ``cdt.sets.MISSING`` (the host has no line there; its cells are NaN),
    ``TIME_OFF`` (its time differs by more than half a revolution) and
    ``SPEED_OFF`` (its speed by more than 1 %). Time, Speed and Sync are the
    master host's, or, where it has no line, the first host's that has one.
    """

    def __init__(self, raw: Dict[str, Any], hosts: List[str], **kwargs):
        self.hosts = list(hosts)
        n = raw["rows"]
        self.status = {h: raw["status"][i, :n] for i, h in enumerate(self.hosts)}
        super().__init__(raw, **kwargs)

    def _values(self, time, revolutions):
        values, where = super()._values(time, revolutions)
        for h in self.hosts:
            values.append(self.status[h])
            where.append(("", None))
        return values, where


def _set_raw(raw: Dict[str, Any], hosts: List[str]) -> Dict[str, Any]:
    """The module's set read as the arrays of a read, probes of every host."""
    probes, columns = [], ["Time", "Speed", "Sync", "Start Rev", "End Rev"]
    counts: Dict[str, int] = {}
    for host in raw["hosts"]:
        for p in host["probes"]:
            counts[p["name"]] = counts.get(p["name"], 0) + 1
    for name, host in zip(hosts, raw["hosts"]):
        f, d = host["float_row"] - 1, host["double_row"]
        for p in host["probes"]:
            q = dict(p)
            q["key"] = p["name"] if counts[p["name"]] == 1 else (
                f"{p['name']} ({name} channel {p['slot']})")
            q["rms_row"] = p["rms_row"] + f
            q["blade_dns_row"] = p["blade_dns_row"] + f
            q["blade_toa_row"] = p["blade_toa_row"] + f
            q["dns_row"] = p["dns_row"] + d
            probes.append(q)
        columns += list(host["columns"])[5:]
    columns += [f"{name} Status" for name in hosts]
    out = dict(raw)
    out["probes"] = probes
    out["columns"] = columns
    out["stopped"] = raw["hosts"][0]["stopped"]
    return out


class RecordingSet:
    """The data files of one recording, one per acquisition host, read as one.

    Attributes
    ----------
    hosts : list of str
        The names of the hosts that have a file in the set, in host order.
    files : list of str
        Their files, in the same order.
    master : str
        The host whose lines give Time, Speed and Sync.
    recordings : list of Recording
        Each host's file on its own.
    time : int
        The recording's time, microseconds since 1970, from its file names.
    """

    def __init__(self, path: PathLike, *, time: Optional[TimeLike] = None,
                 encoding: Optional[str] = None, salvage: bool = False):
        self.encoding = _args.check_encoding(encoding)
        self.salvage = bool(salvage)
        at = None if time is None else _args.microseconds(time, "time")
        found = _cdt.find_set(_args.path_bytes(path), at)
        text = lambda b: _args.decode(b, self.encoding)  # noqa: E731
        present = [i for i, p in enumerate(found["paths"]) if p is not None]
        self._paths = [found["paths"][i] for i in present]
        self.hosts = [text(found["hosts"][i]) for i in present]
        self.files = [_os.fsdecode(p) for p in self._paths]
        self._master = present.index(found["master"])
        self.master = self.hosts[self._master]
        self.time: int = found["time"]
        self.recordings = [Recording(p, salvage=self.salvage, encoding=self.encoding)
                           for p in self._paths]
        self._decoder = self.recordings[0]._decoder
        self.stopped: Optional[Dict[str, Any]] = None

    def __repr__(self) -> str:
        return f"<RecordingSet {self.time}: hosts {self.hosts}, master {self.master}>"

    def read(self, *, blades: Optional[Blades] = None, start: Optional[TimeLike] = None,
             stop: Optional[TimeLike] = None,
             revolutions: Optional[Revolutions] = None) -> SetLines:
        """The set's lines as numpy arrays (see :class:`SetLines`), with the
        selection keywords of :meth:`Recording.read` applied to every host."""
        selection = _args.selection(None, blades, start, stop, revolutions)
        raw = _cdt.read_set(self._paths, self._master, self.salvage, selection, self._decoder)
        lines = SetLines(_set_raw(raw, self.hosts), self.hosts, path=self.files[self._master],
                         windowed=start is not None or revolutions is not None)
        self.stopped = {h: dict(host["stopped"]) for h, host in zip(self.hosts, raw["hosts"])}
        return lines

    def to_pandas(self, **selection):
        """The set's lines as a pandas DataFrame: the master's five fixed
        columns, every host's probe columns as its CSV names them, and one
        "HOST Status" column per host (see :class:`SetLines`)."""
        return self.read(**selection).to_pandas()

    def columns(self) -> List[str]:
        """The names of the set's columns, in order (repeats kept)."""
        names = ["Time", "Speed", "Sync", "Start Rev", "End Rev"]
        for rec in self.recordings:
            names += rec.columns()[5:]
        return names + [f"{h} Status" for h in self.hosts]


def open_set(path: PathLike, *, time: Optional[TimeLike] = None,
             encoding: Optional[str] = None) -> RecordingSet:
    """Opens the recording set that `path` names: any one of its files, a
    directory with one recording, or a directory and the recording's
    ``time``, grouped as ``cdt sets`` groups a directory."""
    return RecordingSet(path, time=time, encoding=encoding)


__all__: List[str] = ["open_set", "RecordingSet", "SetLines", "MISSING", "TIME_OFF", "SPEED_OFF"]
