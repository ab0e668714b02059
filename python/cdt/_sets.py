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


def _set_raw(raw: Dict[str, Any], hosts: List[str], keys: Dict[Any, str]) -> Dict[str, Any]:
    """The module's set read as the arrays of a read, probes of every host
    under their set keys (`keys`: by host position and channel)."""
    probes, columns = [], ["Time", "Speed", "Sync", "Start Rev", "End Rev"]
    for i, host in enumerate(raw["hosts"]):
        f, d = host["float_row"] - 1, host["double_row"]
        for p in host["probes"]:
            q = dict(p)
            q["key"] = keys[i, p["slot"]]
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
        # Every probe of the set: (host position, its key in the host, name,
        # key in the set). A name that one probe of the set has is its key;
        # the others are "NAME (HOST channel N)".
        probes = [(i, p["key"], p["name"], p["channel"])
                  for i, rec in enumerate(self.recordings) for p in rec._probes]
        names = [name for _, _, name, _ in probes]
        self._probes = [(i, key, name, name if names.count(name) == 1
                         else f"{name} ({self.hosts[i]} channel {channel})")
                        for i, key, name, channel in probes]
        self._keys = {(i, channel): set_key for (i, _, _, set_key), (_, _, _, channel)
                      in zip(self._probes, probes)}

    @property
    def probe_keys(self) -> List[str]:
        """The key of every probe of the set, host after host."""
        return [key for _, _, _, key in self._probes]

    def _host_probes(self, probes: Any) -> List[Optional[List[str]]]:
        """Per host the keys of its probes that `probes` names (None: all)."""
        choices = _args.probe_choices(probes)
        if choices is None:
            return [None] * len(self.hosts)
        kept: List[List[str]] = [[] for _ in self.hosts]
        for choice in choices:
            if not isinstance(choice, str):
                raise TypeError(f"probes: a set's probes are named by name or key, not by a "
                                f"channel number ({choice!r}): each host has channels 0 to 3")
            found = [(i, key) for i, key, _, set_key in self._probes if set_key == choice]
            found = found or [(i, key) for i, key, name, _ in self._probes if name == choice]
            if not found:
                raise _cdt.UnknownProbeError(
                    f"{self.files[self._master]}: no probe {choice!r} in the set (its probes: "
                    + ", ".join(repr(k) for k in self.probe_keys) + ")")
            for i, key in found:
                if key not in kept[i]:
                    kept[i].append(key)
        return kept

    def __repr__(self) -> str:
        return f"<RecordingSet {self.time}: hosts {self.hosts}, master {self.master}>"

    def read(self, *, probes: Any = None, blades: Optional[Blades] = None,
             start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
             revolutions: Optional[Revolutions] = None) -> SetLines:
        """The set's lines as numpy arrays (see :class:`SetLines`).

        The selection keywords are those of :meth:`Recording.read`, applied
        to every host; ``probes`` are the set's keys or names (a name keeps
        every probe of the set that has it)."""
        selections = [_args.selection(p, blades, start, stop, revolutions)
                      for p in self._host_probes(probes)]
        raw = _cdt.read_set(self._paths, self._master, self.salvage, selections, self._decoder)
        lines = SetLines(_set_raw(raw, self.hosts, self._keys), self.hosts,
                         path=self.files[self._master],
                         windowed=start is not None or revolutions is not None)
        self.stopped = {h: dict(host["stopped"]) for h, host in zip(self.hosts, raw["hosts"])}
        return lines

    def to_pandas(self, **selection):
        """The set's lines as a pandas DataFrame: the master's five fixed
        columns, every host's probe columns as its CSV names them, and one
        "HOST Status" column per host (see :class:`SetLines`)."""
        return self.read(**selection).to_pandas()

    def columns(self, *, probes: Any = None, blades: Optional[Blades] = None) -> List[str]:
        """The names of the set's columns, in order (repeats kept)."""
        names = ["Time", "Speed", "Sync", "Start Rev", "End Rev"]
        for rec, kept in zip(self.recordings, self._host_probes(probes)):
            names += rec.columns(probes=kept, blades=blades)[5:]
        return names + [f"{h} Status" for h in self.hosts]


def open_set(path: PathLike, *, time: Optional[TimeLike] = None,
             encoding: Optional[str] = None) -> RecordingSet:
    """Opens the recording set that `path` names: any one of its files, a
    directory with one recording, or a directory and the recording's
    ``time``, grouped as ``cdt sets`` groups a directory."""
    return RecordingSet(path, time=time, encoding=encoding)


__all__: List[str] = ["open_set", "RecordingSet", "SetLines", "MISSING", "TIME_OFF", "SPEED_OFF"]
