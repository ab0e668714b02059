"""A data file open for reading: its description and its selected lines."""

from __future__ import annotations

import builtins as _builtins
import json as _json
import os as _os
from typing import Any, Dict, Iterator, List, Optional, Tuple

import numpy as _np

from . import _args, _cdt
from ._args import Blades, PathLike, Probes, Revolutions, TimeLike
from ._follow import Follow
from ._lines import Lines

# What the frames' type hints name, imported when they are resolved.
pandas = _args.Deferred("pandas")


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
        ``name``; ``counter_clockwise`` (the rotation direction); ``stages``
        (``name``, ``blades``, ``diameter``, ``opr_to_blade0``: radians from
        the once-per-revolution mark to blade 0); ``hosts`` (name, and per
        channel its ``probe`` and ``stage``, None where the channel has no
        probe, and for a probe its ``radial_position``
        (radians, in the direction of rotation), ``axial_position`` and
        ``set_back``).
    stopped : dict or None
        After a read: why and at which offset reading stopped.
    """

    def __init__(self, path: PathLike, *, salvage: bool = False, encoding: Optional[str] = None):
        self._path = _args.path_bytes(path)
        self.path = _os.fsdecode(self._path)
        self.salvage = bool(salvage)
        self.encoding = _args.check_encoding(encoding)
        # How the module decodes names: its own rule, or this encoding's codec.
        self._decoder = None if self.encoding is None else self._text
        d = _cdt.describe(self._path, self.salvage, self._decoder)
        self.finished: bool = d["finished"]
        self.header: Dict[str, int] = d["header"]
        self.configuration: Dict[str, Any] = self._decoded(d["configuration"])
        self.configuration_text: str = self._text(d["configuration_text"])
        self.host_index: Optional[int] = d["host_index"]
        self._probes = [{"name": p["name"], "key": p["key"], "channel": p["slot"],
                         "blades": p["blades"]} for p in d["probes"]]
        self.stopped: Optional[Dict[str, Any]] = None
        self._closed = False
        # Where reads of window starts begin, as walks found them (a read
        # with a start, parts()), with the file's identity then: a second
        # window from the same start begins there without a walk.
        self._starts: Dict[int, Any] = {}
        self._starts_of: Any = None

    def _text(self, data: bytes) -> str:
        return _args.decode(data, self.encoding, self.path)

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

    def deflections(self, *, probes: Optional[Probes] = None, start: Optional[TimeLike] = None,
                    stop: Optional[TimeLike] = None,
                    revolutions: Optional[Revolutions] = None) -> "pandas.DataFrame":
        """The tip deflections of the recording's stages as a tidy frame
        (Stage, Blade, Probe, Start Rev, Time, Speed, Deflection): see
        :func:`cdt.analysis.deflections`."""
        from .analysis import deflections
        return deflections(self, probes=probes, start=start, stop=stop, revolutions=revolutions)

    def resonances(self, *, stage: Any = None, orders: Any = None,
                   start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
                   revolutions: Optional[Revolutions] = None,
                   rejected: bool = False) -> "pandas.DataFrame":
        """The blade resonances, as ``cdt analyse --json`` lists them (the
        same numbers): see :func:`cdt.analysis.resonances`."""
        from .analysis import resonances
        return resonances(self, stage=stage, orders=orders, start=start, stop=stop,
                          revolutions=revolutions, rejected=rejected)

    def columns(self, *, probes: Optional[Probes] = None,
                blades: Optional[Blades] = None) -> List[str]:
        """The CSV's column names in order, from the configuration (repeats kept).

        Parameters
        ----------
        probes, blades
            As for :meth:`read`: the columns such a read keeps, checked in
            the same way.
        """
        self._check_open()
        selection = _args.selection(probes=probes, blades=blades)
        return _cdt.columns(self._path, self.salvage, selection, self._decoder)

    def _lines(self, raw: Dict[str, Any], first_line: int, windowed: bool) -> Lines:
        lines = Lines(raw, path=self.path, first_line=first_line, windowed=windowed)
        self.stopped = lines.stopped
        return lines

    def read(self, *, probes: Optional[Probes] = None, blades: Optional[Blades] = None,
             start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
             revolutions: Optional[Revolutions] = None, part: Optional[Part] = None) -> Lines:
        """Reads the selected lines as numpy arrays.

        Parameters
        ----------
        probes : str, int or list of them, optional
            The probes whose columns are kept (all by default; ``[]`` keeps
            none): keys (:attr:`probe_keys`), names (a name keeps every
            probe of that name) or channel numbers 0 to 3, as int or as
            digits. Columns stay in the CSV's order. One that names no probe
            raises :class:`UnknownProbeError` (a KeyError and a ValueError)
            listing the keys there are.
        blades : int, iterable of int, range or str, optional
            1-based blade numbers whose columns are kept (an empty one keeps
            none), or a list text as ``cdt export --blades`` takes it
            (``"1-10,15"``). Numbers beyond a probe's stage are left out for that
            probe; a number beyond the stage of every kept probe raises
            ValueError naming the blades there are. The DNS means stay the
            means over all blades.
        start, stop : datetime, str, int or numpy.datetime64, optional
            A time window [start, stop): datetime (naive is UTC), pandas
            Timestamp, ISO 8601 text or int microseconds since 1970. A line
            belongs to the window of its *window time*: the latest record
            time up to the line's first record, which is that record's own
            time unless the recording's times went back before it. Window
            times never decrease along the file, so consecutive windows cut
            the lines into consecutive runs and joining them gives exactly
            the unwindowed read, however the groups of records fall across a
            boundary. A read with a start goes to the index entry before it,
            once records have confirmed the entry: far into the file (4 MiB
            or more), the records from a few entries before it, which must
            parse, follow one another from entry to entry and agree with
            those entries' times and positions, and must fix how the records
            there group into lines; the index is trusted for the records
            before that stretch, which are not read (a damaged record there
            is not seen). Any disagreement, a grouping those records leave
            open (channels that come round in the same order throughout group
            alike from any start, so only the records from the file's start
            tell), and every start nearer the file's beginning walk the
            record headers instead, trusting nothing: from the start, or
            from a state of the grouping that an earlier walk of this file
            in this process kept (one every 4 MiB), so only the first such
            read of a file costs a pass over the bytes before it. Kept
            states are used while the file's size, modification time,
            header and index are unchanged. The Recording keeps where a read
            from a start begins, so a later read from the same start (or
            from a start of :meth:`parts`) begins there at once, while the
            file is unchanged. A read ends once the window time has passed
            ``stop``.
        revolutions : (first, last), optional
            Keeps the lines whose Start Rev lies in [first, last]; either may
            be None.
        part : Part, optional
            One of :meth:`parts`: its window, begun where the plan says
            without walking the records before it (instead of ``start`` and
            ``stop``). A file that changed since the plan raises ValueError.

        Returns
        -------
        Lines
            The arrays are made as long as the index counts the window's
            lines (a window of revolutions alone, whose lines the index
            cannot count, starts at no more than 65536), grown only where
            that is too short, and cut to the lines read where more than a
            little is left over (the block rows are views of their lines
            either way). A read over more than 128 MiB of records decodes
            its two halves on two cores.

        Raises
        ------
        TypeError, ValueError
            A wrong type or value, naming the argument. A ``stop`` not after
            ``start`` and a window that keeps no line because it lies wholly
            before the recording's first line or after its last raise
            ValueError (a window within the recording that holds no line
            gives no lines).
        UnknownProbeError
            A probe the recording's host does not have.

        Examples
        --------
        >>> lines = rec.read(probes=["Probe101", 2], blades=range(1, 11),
        ...                  start="2011-05-06T12:30:00Z", stop="2011-05-06T12:31:00Z")
        >>> lines.probes["Probe101"].blade_dns.shape      # (lines, 10)
        """
        lines, selection = self._read(probes, blades, start, stop, revolutions, part)
        if part is None and len(lines) == 0:
            self._check_window(selection.start, selection.stop)
        return lines

    def _read(self, probes: Any, blades: Any, start: Any, stop: Any, revolutions: Any,
              part: Optional[Part]) -> Tuple[Lines, Any]:
        """The lines of read() and the checked selection, without the check
        of a window outside the recording (for windows of the package's own
        making, which may lie past the last line)."""
        self._check_open()
        start, stop, planned = self._part_window(part, start, stop)
        selection = _args.selection(probes, blades, start, stop, revolutions)
        if part is None and selection.start is not None:
            planned = self._planned_start(selection.start)
        middle, counted = (part.middle, part.counted) if part is not None else (None, None)
        raw = _cdt.read(self._path, self.salvage, selection, self._decoder, planned, middle,
                        counted)
        windowed = start is not None or revolutions is not None
        return self._lines(raw, 1, windowed), selection

    def _any_line(self, start: Optional[int], stop: Optional[int]) -> Optional[int]:
        """The window time of the first line in [start, stop), None when there is none."""
        s = _cdt.Selection()
        s.probes = []
        s.start, s.stop = start, stop
        planned = None if start is None else self._planned_start(start)
        raw = _cdt.BatchReader(self._path, self.salvage, s, 1, self._decoder, planned).next()
        return None if raw is None or raw["rows"] == 0 else int(raw["time"][0])

    def _check_window(self, start: Optional[int], stop: Optional[int]) -> None:
        """Raises ValueError for a time window that lies wholly before the
        recording's first line or after its last (another day, another time
        zone): that is a mistake, not a stretch without lines. A recording
        without lines has none to be outside of."""
        if start is None and stop is None:
            return
        first = self._any_line(None, None)
        if first is None:
            return
        shown = _cdt.format_time
        if stop is not None and self._any_line(None, stop) is None:
            raise ValueError(f"{self.path}: the window ends before the recording's first line: "
                             f"stop {shown(stop)}, first line at {shown(first)}")
        if start is not None and self._any_line(start, None) is None:
            raise ValueError(f"{self.path}: the window begins after the recording's last line: "
                             f"start {shown(start)}, first line at {shown(first)}")

    def _planned_start(self, start: int) -> Any:
        """Where a read from `start` begins: kept from an earlier walk of
        this file as it is now, or planned (a walk) and kept."""
        identity = _identity(self._path)
        if identity != self._starts_of:
            self._starts, self._starts_of = {}, identity
        if start not in self._starts:
            if len(self._starts) >= 4096:  # a few hundred kilobytes at most
                self._starts.clear()
            self._starts[start] = _cdt.plan_starts(self._path, self.salvage, [start])[0]
        return self._starts[start]

    def _part_window(self, part: Optional[Part], start: Any, stop: Any) -> Tuple[Any, Any, Any]:
        """The window and planned start of a read: its own, or the part's."""
        if part is None:
            return start, stop, None
        if not isinstance(part, Part):
            raise TypeError(f"part: one of Recording.parts(), not {type(part).__name__}")
        if start is not None or stop is not None:
            raise TypeError("part: a part is a window of its own; give no start or stop with it")
        if part.identity != _identity(self._path):
            raise ValueError(f"{self.path}: the file changed since its parts were planned (its "
                             "size, time or header differ); plan them again with parts()")
        return part[0], part[1], part.plan

    def to_pandas(self, *, probes: Optional[Probes] = None, blades: Optional[Blades] = None,
                  start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
                  revolutions: Optional[Revolutions] = None,
                  part: Optional[Part] = None, layout: str = "wide") -> "pandas.DataFrame":
        """The selected lines as a pandas DataFrame with the CSV header's names.

        Parameters
        ----------
        probes, blades, start, stop, revolutions, part
            The selection, as for :meth:`read`.
        layout : {"wide", "long"}
            ``"long"``: the rows of ``cdt export --layout long``, one per
            line, probe and blade (see :meth:`Lines.to_pandas`), ready for
            pivoting and grouping.

        Returns
        -------
        pandas.DataFrame
            One row per CSV line: Time as datetime64[ns] (UTC; a time after
            2262-04-11 raises ValueError naming the file and the line, see
            :meth:`Lines.to_pandas`), Sync bool, Start Rev and End Rev
            integers, the measurements float32 (the DNS means float64),
            empty cells NaN.

        Examples
        --------
        >>> frame = rec.to_pandas(probes="Probe101", revolutions=(1000, 2000))
        >>> frame[["Time", "Speed", "Probe101 Blade1 DNS"]].head()
        """
        if layout not in ("wide", "long"):
            raise ValueError(f"layout: 'wide' or 'long', not {layout!r}")
        return self.read(probes=probes, blades=blades, start=start, stop=stop,
                         revolutions=revolutions, part=part).to_pandas(layout)

    def iter_batches(self, rows: int = 65536, *, probes: Optional[Probes] = None,
                     blades: Optional[Blades] = None, start: Optional[TimeLike] = None,
                     stop: Optional[TimeLike] = None,
                     revolutions: Optional[Revolutions] = None,
                     part: Optional[Part] = None) -> Iterator[Lines]:
        """Yields the selected lines as :class:`Lines` of at most ``rows`` lines.

        Parameters
        ----------
        rows : int
            The most lines a batch holds (fewer only in the last one).
        probes, blades, start, stop, revolutions, part
            The selection, as for :meth:`read`; checked at the call.

        Yields
        ------
        Lines
            Memory stays at one batch whatever the file's size, and a batch
            is never made larger than the file's records could fill.

        Examples
        --------
        >>> for batch in rec.iter_batches(rows=100_000, probes="Probe101"):
        ...     peak = max(peak, float(np.nanmax(batch.probes["Probe101"].rms)))
        """
        self._check_open()
        rows = _args.row_count(rows)
        # Checked and opened here, so that a wrong argument raises at the call.
        start, stop, planned = self._part_window(part, start, stop)
        selection = _args.selection(probes, blades, start, stop, revolutions)
        if part is None and selection.start is not None:
            planned = self._planned_start(selection.start)
        reader = _cdt.BatchReader(self._path, self.salvage, selection, rows, self._decoder,
                                  planned)
        return self._batches(reader, start is not None or revolutions is not None)

    def _batches(self, reader: "_cdt.BatchReader", windowed: bool) -> Iterator[Lines]:
        first_line = 1
        while True:
            raw = reader.next()
            if raw is None:
                return
            lines = self._lines(raw, first_line, windowed)
            first_line += len(lines)
            yield lines

    def follow(self, rows: int = 65536, idle: Optional[float] = 60.0, *,
               probes: Optional[Probes] = None, blades: Optional[Blades] = None,
               start: Optional[TimeLike] = None, stop: Optional[TimeLike] = None,
               revolutions: Optional[Revolutions] = None) -> "Follow":
        """Follows the file while it is being written: its lines as they complete.

        The file may be named by its ".temp" name or by its final one: the
        follow reads whichever exists and goes on across the writer's rename.
        Records are read from the first; a line is handed out once the
        record after it (or the end of the file) shows it complete.

        Parameters
        ----------
        rows : int
            The most lines a batch holds.
        idle : float or None
            Seconds without growth after which a file that is not finished
            is given up (its recorder died): the follow then ends with a
            :class:`cdt.FollowWarning`, having handed out the lines of its
            whole records, exactly those ``cdt recover`` keeps. None or 0:
            wait as long as it takes.
        probes, blades, start, stop, revolutions
            The selection, as for :meth:`read` (checked once the file's
            configuration and the host of its lines are known).

        Returns
        -------
        cdt.Follow
            An iterator of :class:`Lines` batches, ending when the recording
            is finished, given up or stopped. Joined in order the batches
            are the lines of :meth:`read` of the finished file.

        Examples
        --------
        >>> with cdt.open("Rig1.0000.Daq1.2011-05-06.12-30-00.cdt.temp") as rec:
        ...     for batch in rec.follow(probes="Probe101"):
        ...         print(batch.start_rev[-1], float(batch.speed[-1]))
        """
        self._check_open()
        return _follow(self._path, rows, idle, self._decoder, probes, blades, start, stop,
                       revolutions)

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
        late = _np.flatnonzero(raw["time_us"] >= _np.uint64(_args.US_LIMIT))
        if late.size:
            i = int(late[0])
            raise ValueError(f"{self.path}: profile {i + 1}: the time {int(raw['time_us'][i])} "
                             "microseconds since 1970 lies beyond what datetime64[us] holds")
        raw["time"] = raw["time"].view("datetime64[us]")
        return raw

    def parts(self, rows: int = 65536) -> List[Part]:
        """Windows that tile the recording, planned so that each reads at its own cost.

        Each part is a (start, stop) window of microseconds, a tuple, that
        also carries where and in which grouping state its read begins: one
        walk over the record headers plans them all, so ``read(part=p)``
        (and ``to_pandas``, ``iter_batches``) starts there at once, in this
        process or in another (parts pickle). Reading every part with
        ``read(part=...)`` or ``read(start=..., stop=...)``, in any order,
        and joining the results in the parts' order gives exactly
        :meth:`read`: windows are consecutive [start, stop) intervals of
        window time (see :meth:`read`), the first open at its start and the
        last at its end, their bounds increasing. The cuts are the times of
        every ``rows``-th index entry; the index has an entry wherever the
        time moves on, about one per line, so a part holds about ``rows``
        lines. Entry times that cannot be true (2**63 or later, or out of
        order with their neighbours) are left out. A part remembers the
        file's size, time and header: a file changed since raises ValueError
        when the part is read.

        Examples
        --------
        >>> frames = [rec.to_pandas(part=p) for p in rec.parts(rows=50_000)]
        """
        self._check_open()
        rows = _args.row_count(rows)
        identity = _identity(self._path)
        times = _cdt.index_times(self._path, self.salvage)
        bounds = _part_bounds(times, rows)
        # Each part's middle is planned too, so that a large part's read
        # splits there on two cores without a walk of its own.
        halves = sorted(set(_part_bounds(times, max(1, rows // 2))) - set(bounds))
        starts = sorted(set(bounds) | set(halves))
        plan_of = dict(zip(starts, _cdt.plan_starts(self._path, self.salvage, starts)
                           if starts else []))
        if identity != self._starts_of:
            self._starts, self._starts_of = {}, identity
        if len(self._starts) + len(plan_of) <= 4096:
            self._starts.update(plan_of)
        edges = [None] + bounds + [None]
        # The entries whose times lie in a window, as a read counts them to
        # size its arrays: the part carries them, so that its read needs no
        # index.
        ordered = _np.sort(_np.asarray(times, dtype=_np.uint64))

        def entries(low, high):
            a = 0 if low is None else int(_np.searchsorted(ordered, _np.uint64(low)))
            b = len(ordered) if high is None else int(_np.searchsorted(ordered, _np.uint64(high)))
            return max(0, b - a)

        parts = []
        at = 0
        for i in range(len(edges) - 1):
            low, high = edges[i], edges[i + 1]
            while at < len(halves) and low is not None and halves[at] <= low:
                at += 1
            middle = None
            if at < len(halves) and (high is None or halves[at] < high):
                middle = (halves[at], plan_of[halves[at]])
            counted = (entries(low, high), entries(low, middle[0]) if middle else 0)
            parts.append(Part(low, high, plan_of.get(low), identity, middle, counted))
        return parts


def _follow(path: bytes, rows: Any, idle: Any, decoder: Any, probes: Any, blades: Any,
            start: Any, stop: Any, revolutions: Any) -> "Follow":
    """The follow of a file, its arguments checked."""
    from . import _follow as follow

    rows = _args.row_count(rows)
    idle = follow.idle_seconds(idle)
    selection = _args.selection(probes, blades, start, stop, revolutions)
    windowed = start is not None or revolutions is not None
    return follow.follow_file(path, selection, rows, idle, decoder, windowed)


class Part(tuple):
    """A window (start, stop) of :meth:`Recording.parts`, with its planned start.

    A tuple of two (microseconds since 1970, or None at an open end), so
    ``start, stop = part`` works; ``plan`` is where its read begins (None:
    with a seek of its own), ``middle`` a time inside it and where a read
    from there begins (None: none planned), at which a large part's read
    splits on two cores, ``counted`` the index entries in the part and
    before its middle (its read sizes its arrays by them, without loading
    the index), ``identity`` the file's size, modification time and header
    when it was planned.
    """

    plan: Any
    identity: Any
    middle: Any
    counted: Any

    def __new__(cls, start: Optional[int], stop: Optional[int], plan: Any = None,
                identity: Any = None, middle: Any = None, counted: Any = None) -> "Part":
        self = super().__new__(cls, (start, stop))
        self.plan = plan
        self.identity = identity
        self.middle = middle
        self.counted = counted
        return self

    def __reduce__(self):
        return Part, (self[0], self[1], self.plan, self.identity, self.middle, self.counted)


def _identity(path: bytes) -> Tuple[int, int, bytes]:
    """What tells a file apart from a changed one: its size, time and header."""
    status = _os.stat(path)
    with _builtins.open(path, "rb") as f:
        return status.st_size, status.st_mtime_ns, f.read(56)


def _part_bounds(times: _np.ndarray, rows: int) -> List[int]:
    """The increasing times of every `rows`-th index entry that can be true."""
    t = _np.asarray(times, dtype=_np.uint64)
    if len(t) < 2:
        return []
    # An entry is kept where it lies in order between its neighbours and
    # below 2**63: a lying entry would only make uneven parts, but its time
    # is no time a window can be given.
    ordered = _np.ones(len(t), dtype=bool)
    ordered[1:] &= t[1:] >= t[:-1]
    ordered[:-1] &= t[:-1] <= t[1:]
    ordered &= t < _np.uint64(_args.US_LIMIT)
    return sorted(set(int(x) for x in t[ordered][rows::rows]))
