"""Recording sets: the hosts' files of one moment, joined by revolution."""

from __future__ import annotations

import os as _os
import warnings as _warnings
from typing import Any, Dict, Iterator, List, Optional

import numpy as _np

from . import _args, _cdt
from ._args import Blades, PathLike, Probes, Revolutions, TimeLike
from ._follow import SetFollow
from ._lines import Lines
from ._recording import Recording, _identity, _part_bounds
# The status bits of a host's line in a set line (lines/set_join.h), here too
# so that cdt.sets.MISSING, ... keep working.
from .status import MISSING, SPEED_OFF, TIME_OFF

# What the frames' type hints name, imported when they are resolved.
pandas = _args.Deferred("pandas")

# How far before and after a part's window its hosts are read
# (kSetPartMargin of lines/set_reader.h), in microseconds.
_MARGIN = 4_000_000



class SetWarning(UserWarning):
    """A host's file left out of its recording set (it cannot be read): the
    set goes on with the other hosts' files."""


class SetLines(Lines):
    """Lines of a recording set: the hosts' lines joined on (Start Rev, End Rev).

    As :class:`Lines`, with every host's probes (keys made unique across
    the set: ``"NAME (HOST channel N)"`` where several probes share a name),
    and per host a ``status`` row: 0 where the host's line agrees, else a sum
    of ``cdt.status.MISSING`` (the host has no line there; its cells are NaN),
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
    name : str
        The name of the set's outputs (``cdt export --set``, the report):
        the master's file name without its host part and extension, such as
        ``Rig1.0000.2011-05-06.12-30-00``.
    left_out : dict of str to str
        Hosts whose file is there but cannot be read, each with the reason;
        opening the set warns of each (:class:`cdt.SetWarning`).
    """

    def __init__(self, path: PathLike, *, time: Optional[TimeLike] = None,
                 encoding: Optional[str] = None, salvage: bool = False):
        self.encoding = _args.check_encoding(encoding)
        self.salvage = bool(salvage)
        at = None if time is None else _args.microseconds(time, "time")
        found = _find_set(_args.path_bytes(path), at)
        text = lambda b: _args.decode(b, self.encoding)  # noqa: E731
        present, self.recordings, self.left_out = [], [], {}
        for i, p in enumerate(found["paths"]):
            if p is None:
                continue
            try:
                self.recordings.append(Recording(p, salvage=self.salvage, encoding=self.encoding))
            except _cdt.FormatError as error:
                # A damaged host file costs its own lines, not the set's.
                self.left_out[text(found["hosts"][i])] = str(error)
                _warnings.warn(f"{_os.fsdecode(p)}: left out of its set: {error}", SetWarning,
                               stacklevel=2)
                continue
            present.append(i)
        if not present:
            raise _cdt.FormatError(f"{_os.fsdecode(_args.path_bytes(path))}: no file of the "
                                   "set can be read: " + "; ".join(self.left_out.values()))
        self._paths = [found["paths"][i] for i in present]
        # Per host of the configuration its file, None where it has none or
        # it cannot be read (the analysis joins them as the configuration
        # numbers its hosts), and each present host's position.
        self._host_paths = [p if i in present else None for i, p in enumerate(found["paths"])]
        self._host_position = {h: i for i, h in enumerate(present)}
        self.hosts = [text(found["hosts"][i]) for i in present]
        self.files = [_os.fsdecode(p) for p in self._paths]
        # The configured master where its file is there and readable, else
        # the first host that has one (the rule of the set's files).
        readable = [p if i in present else None for i, p in enumerate(found["paths"])]
        self._master = present.index(_cdt.set_master(readable))
        self.master = self.hosts[self._master]
        self._host_master = present[self._master]
        self.time: int = found["time"]
        # What the set's outputs are named after (as the file system names it).
        self.name: str = _os.fsdecode(found["name"])
        self._decoder = self.recordings[0]._decoder
        self.stopped: Optional[Dict[str, Any]] = None
        for slot, rec in zip(present, self.recordings):
            if rec.host_index is None and rec.path.endswith(".temp"):
                # Being written: no record read yet says whose lines the
                # file holds; its host in the set does.
                rec._probes = [{"name": p["name"], "key": p["key"], "channel": p["slot"],
                                "blades": p["blades"]}
                               for p in _cdt.host_probes(rec._path, slot, self._decoder)]
        self._probes, self._keys = _set_probes(
            self.hosts, [[(p["key"], p["name"], p["channel"]) for p in rec._probes]
                         for rec in self.recordings])

    @property
    def configuration(self) -> Dict[str, Any]:
        """The set's configuration with its geometry, as
        :attr:`Recording.configuration` has it (the master's file's)."""
        return self.recordings[self._master].configuration

    @property
    def probe_keys(self) -> List[str]:
        """The key of every probe of the set, host after host."""
        return [key for _, _, _, key in self._probes]

    def deflections(self, *, probes: Optional[Probes] = None, start: Optional[TimeLike] = None,
                    stop: Optional[TimeLike] = None,
                    revolutions: Optional[Revolutions] = None) -> "pandas.DataFrame":
        """The tip deflections of the set's stages, every host's probes on
        the same revolution: see :func:`cdt.analysis.deflections`."""
        from .analysis import deflections
        return deflections(self, probes=probes, start=start, stop=stop, revolutions=revolutions)

    def resonances(self, *, stage: Any = None, orders: Any = None,
                   start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
                   revolutions: Optional[Revolutions] = None,
                   rejected: bool = False) -> "pandas.DataFrame":
        """The set's blade resonances, as ``cdt analyse --set --json`` lists
        them: see :func:`cdt.analysis.resonances`."""
        from .analysis import resonances
        return resonances(self, stage=stage, orders=orders, start=start, stop=stop,
                          revolutions=revolutions, rejected=rejected)

    def _host_probes(self, probes: Any) -> List[Optional[List[str]]]:
        """Per host the keys of its probes that `probes` names (None: all)."""
        return _host_probes(probes, self._probes, len(self.hosts), self.files[self._master])

    def __repr__(self) -> str:
        return (f"<RecordingSet {_cdt.format_time(self.time)}: hosts {self.hosts}, "
                f"master {self.master}>")

    def _selections(self, probes, blades, start, stop, revolutions) -> List[Any]:
        return [_args.selection(p, blades, start, stop, revolutions)
                for p in self._host_probes(probes)]

    def _part_reads(self, part: Optional["SetPart"], start: Any, stop: Any) -> Dict[str, Any]:
        """The hosts' windows of a read, and what a part adds: its planned
        starts, the set lines it keeps and the lines it expects."""
        if part is None:
            return {"start": start, "stop": stop, "planned": None, "keep": None, "hint": None}
        if not isinstance(part, SetPart):
            raise TypeError(f"part: one of RecordingSet.parts(), not {type(part).__name__}")
        if start is not None or stop is not None:
            raise TypeError("part: a part is a window of its own; give no start or stop with it")
        if part.identities != [_identity(p) for p in self._paths]:
            raise ValueError(f"{self.files[self._master]}: a file of the set changed since its "
                             "parts were planned (its size, time or header differ); plan them "
                             "again with parts()")
        low, high = part
        begin = part.begin if part.begin is not None else low
        return {"start": None if low is None else begin,
                "stop": None if high is None else high + _MARGIN,
                "planned": part.planned, "keep": (low, high), "hint": part.hint}

    def read(self, *, probes: Optional[Probes] = None, blades: Optional[Blades] = None,
             start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
             revolutions: Optional[Revolutions] = None,
             part: Optional["SetPart"] = None) -> SetLines:
        """The set's lines as numpy arrays (see :class:`SetLines`).

        The selection keywords are those of :meth:`Recording.read`, applied
        to every host; ``probes`` are the set's keys or names (a name keeps
        every probe of the set that has it); ``part`` is one of
        :meth:`parts`."""
        reads = self._part_reads(part, start, stop)
        selections = self._selections(probes, blades, reads["start"], reads["stop"], revolutions)
        raw = _cdt.read_set(self._paths, self._master, self.salvage, selections, self._decoder,
                            reads["planned"], reads["keep"], reads["hint"])
        self.stopped = {h: dict(host["stopped"]) for h, host in zip(self.hosts, raw["hosts"])}
        return self._lines(raw, 1, reads["start"] is not None or revolutions is not None)

    def _lines(self, raw: Dict[str, Any], first_line: int, windowed: bool) -> SetLines:
        return SetLines(_set_raw(raw, self.hosts, self._keys), self.hosts,
                        path=self.files[self._master], first_line=first_line, windowed=windowed)

    def iter_batches(self, rows: int = 65536, *, probes: Optional[Probes] = None,
                     blades: Optional[Blades] = None, start: Optional[TimeLike] = None,
                     stop: Optional[TimeLike] = None, revolutions: Optional[Revolutions] = None,
                     part: Optional["SetPart"] = None) -> Iterator[SetLines]:
        """Yields the set's lines as :class:`SetLines` of at most ``rows``
        lines, the selection as for :meth:`read` (checked at the call).
        Memory stays at one batch and the lines each host holds while the
        others catch up (its ring: about two seconds of lines)."""
        rows = _args.row_count(rows)
        reads = self._part_reads(part, start, stop)
        selections = self._selections(probes, blades, reads["start"], reads["stop"], revolutions)
        reader = _cdt.SetBatchReader(self._paths, self._master, self.salvage, selections,
                                     self._decoder, reads["planned"], reads["keep"],
                                     min(rows, reads["hint"] or rows))
        return self._batches(reader, rows, reads["start"] is not None or revolutions is not None)

    def _batches(self, reader: Any, rows: int, windowed: bool) -> Iterator[SetLines]:
        first_line = 1
        while True:
            raw = reader.next(rows)
            if raw is None:
                return
            self.stopped = {h: dict(host["stopped"]) for h, host in zip(self.hosts, raw["hosts"])}
            lines = self._lines(raw, first_line, windowed)
            first_line += len(lines)
            yield lines

    def parts(self, rows: int = 65536) -> List["SetPart"]:
        """Windows that tile the set, each read at its own cost.

        A part is a [start, stop) window of microseconds (a tuple) that
        keeps the set lines whose first line (the earliest of its hosts'
        lines, in window time) lies in it. The cuts lie near every
        ``rows``-th index time of the master, each where the planning saw a
        join begun a few seconds earlier (the part's ``begin``) hold exactly
        what the whole set's join holds, so that the part's set lines are
        the whole set's by construction, even where revolution counters
        restart every few revolutions (a cut is moved on, or left out,
        until they agree). Reading every part, in any order and in any
        process (parts pickle), and joining the results in the parts' order
        gives exactly :meth:`read`. Planning reads the hosts' lines once
        (without their cells), and one walk per host plans where its reads
        begin; a part remembers the files' sizes, times and
        headers, and a file changed since raises ValueError when it is read.
        """
        rows = _args.row_count(rows)
        master = self.recordings[self._master]
        times = _np.asarray(_cdt.index_times(master._path, self.salvage), dtype=_np.uint64)
        # The join decides each line against what it holds: a cut goes where
        # a join begun at the part's start holds what the whole set's holds.
        cuts = _cdt.plan_set_cuts(self._paths, self._master, self.salvage,
                                  [int(b) for b in _part_bounds(times, rows)])
        bounds = [cut for _, cut in cuts]
        identities = [_identity(p) for p in self._paths]
        starts = [start for start, _ in cuts]
        plans = [_cdt.plan_starts(p, self.salvage, starts) if starts else [] for p in self._paths]
        ordered = [_np.sort(_np.asarray(_cdt.index_times(p, self.salvage), dtype=_np.uint64))
                   for p in self._paths]

        def expected(low, high):
            # The most lines a host's index puts in the window: about the
            # set lines there, where the hosts agree.
            most = 0
            for t in ordered:
                a = 0 if low is None else int(_np.searchsorted(t, _np.uint64(low)))
                b = len(t) if high is None else int(_np.searchsorted(t, _np.uint64(high)))
                most = max(most, b - a)
            return most

        edges = [None] + bounds + [None]
        parts = []
        for i in range(len(edges) - 1):
            low, high = edges[i], edges[i + 1]
            planned = None if low is None else [plan[i - 1] for plan in plans]
            begin = None if low is None else starts[i - 1]
            parts.append(SetPart(low, high, planned, identities, expected(low, high), begin))
        return parts

    def follow(self, rows: int = 65536, idle: Optional[float] = 60.0, *, probes: Optional[Probes] = None,
               blades: Optional[Blades] = None, start: Optional[TimeLike] = None,
               stop: Optional[TimeLike] = None,
               revolutions: Optional[Revolutions] = None) -> "SetFollow":
        """Follows the set while its hosts write their files (see
        :class:`cdt.SetFollow`): set lines as :class:`SetLines` batches of at
        most ``rows``, each once every host has passed it or ended; joined
        in order, exactly :meth:`read` of the finished set. ``idle`` and
        the selection as for :meth:`Recording.follow` and :meth:`read`.

        A set being written is opened by :func:`open_set` of one of its
        files (either name) or of a directory where only it is (being)
        recorded.

        Examples
        --------
        >>> s = cdt.open_set("Rig1.0000.Daq1.2011-05-06.12-30-00.cdt.temp")
        >>> for batch in s.follow(idle=30):
        ...     print(len(batch), batch.status["Daq2"].max())
        """
        from . import _follow as follow

        rows = _args.row_count(rows)
        idle = follow.idle_seconds(idle)
        if all(rec.host_index is not None for rec in self.recordings):
            # The set's probes as its files describe them now: a probe it
            # does not have raises at the call.
            self._host_probes(probes)
        _args.selection(None, blades, start, stop, revolutions)  # checked at the call
        follower = _cdt.SetFollower(self._paths, self._master, idle, self._decoder)
        where = self.files[self._master]
        hosts = self.hosts
        windowed = start is not None or revolutions is not None

        def begin(found: List[Dict[str, Any]]) -> List[Any]:
            # The hosts of the files' lines are known now: the set's probes
            # named as a read of the set names them.
            set_probes, keys = _set_probes(
                hosts, [[(p["key"], p["name"], p["slot"]) for p in h["probes"]] for h in found])
            state["keys"] = keys
            return [_args.selection(p, blades, start, stop, revolutions)
                    for p in _host_probes(probes, set_probes, len(hosts), where)]

        state: Dict[str, Any] = {}

        def make(raw: Dict[str, Any], first_line: int) -> SetLines:
            self.stopped = {h: dict(host["stopped"]) for h, host in zip(hosts, raw["hosts"])}
            return SetLines(_set_raw(raw, hosts, state["keys"]), hosts, path=where,
                            first_line=first_line, windowed=windowed)

        return follow.SetFollow(where, follower, make, idle, begin, hosts, self.files, rows)

    def info(self) -> Dict[str, Any]:
        """How the set's hosts agree, as ``cdt sets --json`` tells it:
        ``time`` (ISO text), ``master``, ``lines`` (of the set), ``agree``
        and per host its ``name``, ``file``, ``lines`` (its own),
        ``missing``, ``time_off``, ``speed_off`` (set lines where it has
        none, or its time or speed is off: see :class:`SetLines`),
        ``restarts`` (times its counter went back), ``first_rev`` and
        ``last_rev``, and ``info``: :meth:`Recording.info` of its file;
        ``left_out`` names the hosts whose file could not be read (with the
        reason), and a set with any does not agree.
        This reads the whole set once."""
        summary = _cdt.summarize_set(self._paths, self._master, self.salvage)
        hosts = []
        for name, path, rec, counts in zip(self.hosts, self.files, self.recordings,
                                           summary["hosts"]):
            host = {"name": name, "file": path}
            host.update({k: v for k, v in counts.items() if k != "stopped"})
            host["stopped"] = dict(counts["stopped"])
            host["info"] = rec.info()
            hosts.append(host)
        when = _cdt.format_time(self.time)
        return {"time": when, "master": self.master, "lines": summary["lines"],
                "agree": summary["agree"] and not self.left_out, "hosts": hosts,
                "left_out": dict(self.left_out)}

    def to_pandas(self, *, probes: Optional[Probes] = None, blades: Optional[Blades] = None,
                  start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
                  revolutions: Optional[Revolutions] = None,
                  part: Optional["SetPart"] = None) -> "pandas.DataFrame":
        """The set's lines as a pandas DataFrame: the master's five fixed
        columns, every host's probe columns as its CSV names them, and one
        "HOST Status" column per host (see :class:`SetLines`). The selection
        as for :meth:`read`."""
        return self.read(probes=probes, blades=blades, start=start, stop=stop,
                         revolutions=revolutions, part=part).to_pandas()

    def columns(self, *, probes: Optional[Probes] = None, blades: Optional[Blades] = None) -> List[str]:
        """The names of the set's columns, in order (repeats kept)."""
        names = ["Time", "Speed", "Sync", "Start Rev", "End Rev"]
        for rec, kept in zip(self.recordings, self._host_probes(probes)):
            names += rec.columns(probes=kept, blades=blades)[5:]
        return names + [f"{h} Status" for h in self.hosts]


def _find_set(path: bytes, time: Optional[int]) -> Dict[str, Any]:
    """The set `path` names: of finished files as find_set finds it, else
    the recording being written there (its ".temp" files)."""
    from ._follow import live_set

    try:
        return _cdt.find_set(path, time)
    except (ValueError, FileNotFoundError):
        found = live_set(path, time)
        if found is None:
            raise
        return found


def _set_probes(hosts: List[str], probes: List[List[Any]]):
    """Every probe of the set, from per host its probes' (key in the host,
    name, channel): a list of (host position, key in the host, name, key in
    the set), and the set keys by (host position, channel). A name that one
    probe of the set has is its key; the others are "NAME (HOST channel N)",
    and so is a name that equals such a key."""
    flat = [(i, key, name, channel) for i, host in enumerate(probes)
            for key, name, channel in host]
    # One rule with cdt export --set's, in the module.
    set_keys = _cdt.set_probe_keys(list(hosts), [[(name, channel) for _, name, channel in host]
                                                 for host in probes])
    flat_keys = [k for host in set_keys for k in host]
    set_probes = [(i, key, name, set_key)
                  for (i, key, name, _), set_key in zip(flat, flat_keys)]
    keys = {(i, channel): set_key for (i, _, _, set_key), (_, _, _, channel)
            in zip(set_probes, flat)}
    return set_probes, keys


def _host_probes(probes: Any, set_probes: List[Any], hosts: int,
                 where: str) -> List[Optional[List[str]]]:
    """Per host the keys of its probes that `probes` names (None: all)."""
    choices = _args.probe_choices(probes)
    if choices is None:
        return [None] * hosts
    kept: List[List[str]] = [[] for _ in range(hosts)]
    for choice in choices:
        if not isinstance(choice, str):
            raise TypeError(f"probes: a set's probes are named by name or key, not by a "
                            f"channel number ({choice!r}): each host has channels 0 to 3")
        found = [(i, key) for i, key, _, set_key in set_probes if set_key == choice]
        found = found or [(i, key) for i, key, name, _ in set_probes if name == choice]
        if not found:
            raise _cdt.UnknownProbeError(
                f"{where}: no probe {choice!r} in the set (its probes: "
                + ", ".join(repr(k) for _, _, _, k in set_probes) + ")")
        for i, key in found:
            if key not in kept[i]:
                kept[i].append(key)
    return kept


class SetPart(tuple):
    """One window of :meth:`RecordingSet.parts`: (start, stop) in
    microseconds, None for an open end. ``begin`` is the time its hosts are
    read from, ``planned`` per host where that read begins, ``identities`` the files' sizes, times and headers when it
    was planned, ``hint`` the lines it is expected to hold."""

    planned: Any
    identities: Any
    hint: Any
    begin: Any

    def __new__(cls, start: Optional[int], stop: Optional[int], planned: Any = None,
                identities: Any = None, hint: Any = None,
                begin: Optional[int] = None) -> "SetPart":
        self = super().__new__(cls, (start, stop))
        self.planned = planned
        self.identities = identities
        self.hint = hint
        self.begin = begin
        return self

    def __reduce__(self):
        return SetPart, (self[0], self[1], self.planned, self.identities, self.hint, self.begin)


def open_set(path: PathLike, *, time: Optional[TimeLike] = None,
             encoding: Optional[str] = None) -> RecordingSet:
    """Opens the recording set that `path` names: any one of its files, a
    directory with one recording, or a directory and the recording's
    ``time``, grouped as ``cdt sets`` groups a directory."""
    return RecordingSet(path, time=time, encoding=encoding)


def find_sets(directory: PathLike, *, encoding: Optional[str] = None) -> List[RecordingSet]:
    """Every recording set of a directory, in time order, grouped as
    ``cdt sets`` groups it."""
    path = _args.path_bytes(directory)
    return [RecordingSet(path, time=t, encoding=encoding) for t in _cdt.set_times(path)]


__all__: List[str] = ["open_set", "find_sets", "SetWarning", "SetPart", "RecordingSet", "SetLines", "MISSING", "TIME_OFF", "SPEED_OFF"]
