"""Following a recording while it is being written: its lines batch by batch
as they complete, until the recording is finished."""

from __future__ import annotations

import errno as _errno
import os as _os
import threading as _threading
import warnings as _warnings
from typing import Any, Callable, Dict, List, Optional

from . import _args, _cdt
from ._lines import Lines

# The longest wait inside the module between two looks from Python: a
# KeyboardInterrupt, a close() or a stop() ends a follow within about this.
_WAIT = 0.1


class FollowWarning(UserWarning):
    """A follow gave up on a file that stopped growing before it was finished.

    The lines followed are those of its whole records, exactly what
    ``cdt recover`` keeps of it (and :func:`cdt.open` with ``salvage=True``
    reads)."""


def idle_seconds(idle: Any) -> float:
    """The idle time of a follow in seconds; None or 0: never give up."""
    if idle is None:
        return 0.0
    if isinstance(idle, bool) or not isinstance(idle, (int, float)):
        raise TypeError(f"idle: seconds (a number) or None, not {type(idle).__name__}")
    if not idle >= 0 or idle == float("inf"):
        raise ValueError(f"idle: seconds from 0 on (0 or None: never give up), not {idle!r}")
    return float(idle)


def _seconds_text(idle: float) -> str:
    return f"{idle:g} s"


class Follow:
    """The lines of a recording being written, as :class:`Lines` batches.

    Made by :meth:`Recording.follow` and :func:`cdt.follow`. Iterating it
    yields each batch of complete lines as soon as the file holds them (at
    most ``rows`` lines each), and ends when the recording is finished, when
    it was given up after ``idle`` seconds without growth (with a
    :class:`FollowWarning`), or after :meth:`stop` or :meth:`close`. Joined
    in order, the batches are exactly the lines a read of the finished file
    gives (given up: of ``cdt recover``'s file).

    The waits release the GIL; a KeyboardInterrupt, :meth:`close` (also at
    the end of a ``with`` block) or :meth:`stop` from another thread ends
    the follow within a fraction of a second.

    Attributes
    ----------
    status : str
        "following" until the follow ends, then "finished", "idle" (given
        up) or "stopped".
    path : str
        The path followed (either name of the file).
    """

    def __init__(self, path: str, follower: Any, make: Callable[[Dict[str, Any], int], Any],
                 idle: float):
        self.path = path
        self.status = "following"
        self._follower = follower
        self._make = make
        self._idle = idle
        self._first_line = 1
        self._lock = _threading.Lock()

    def __iter__(self) -> "Follow":
        return self

    def __next__(self):
        while self.status == "following":
            raw = self._next()
            status = self._status_of(raw)
            lines = None
            if raw["rows"]:
                lines = self._make(raw, self._first_line)
                self._first_line += len(lines)
            if status != "waiting":
                self._end(status, raw)
            if lines is not None:
                return lines
        raise StopIteration

    def _next(self) -> Dict[str, Any]:
        return self._follower.next(_WAIT)

    @staticmethod
    def _status_of(raw: Dict[str, Any]) -> str:
        return raw["status"]

    def _end(self, status: str, raw: Dict[str, Any]) -> None:
        self.status = status
        if status == "idle":
            self._given_up(raw)

    def _given_up(self, raw: Dict[str, Any]) -> None:
        state = self._follower.state()
        if not state["open_path"]:
            raise FileNotFoundError(_errno.ENOENT, "no data file appeared there within "
                                    + _seconds_text(self._idle), self.path)
        if "probes" not in raw:
            raise _cdt.FormatError(f"{self.path}: has not grown for {_seconds_text(self._idle)} "
                                   "and holds no whole configuration")
        _warnings.warn(
            f"{_os.fsdecode(state['open_path'])}: has not grown for "
            f"{_seconds_text(self._idle)} and is not finished (its recorder seems to have "
            f"stopped): the follow kept the {state['lines']} lines of its {state['records']} "
            f"whole records (to byte {state['position']}), as cdt recover keeps them",
            FollowWarning, stacklevel=3)

    def stop(self) -> None:
        """Ends the follow from any thread: the iteration stops within a
        fraction of a second (the lines not yet handed out are dropped)."""
        self._follower.stop()

    def close(self) -> None:
        """Ends the follow; the iteration stops."""
        self._follower.stop()
        if self.status == "following":
            self.status = "stopped"

    def state(self) -> Dict[str, Any]:
        """Where the follow stands: ``open_path`` (the file being read, empty
        while there is none), ``records`` and ``lines`` handed out so far,
        ``position`` (the end of the last whole record), ``file_size``."""
        d = dict(self._follower.state())
        d["open_path"] = _os.fsdecode(d["open_path"])
        return d

    def __enter__(self) -> "Follow":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<cdt.Follow {self.path!r}: {self.status}>"


def follow_file(path: bytes, selection: Any, rows: int, idle: float, decoder: Any,
                windowed: bool) -> Follow:
    shown = _os.fsdecode(path)
    follower = _cdt.FileFollower(path, selection, rows, idle, decoder)

    def make(raw: Dict[str, Any], first_line: int) -> Lines:
        return Lines(raw, path=shown, first_line=first_line, windowed=windowed)

    return Follow(shown, follower, make, idle)


class SetFollow(Follow):
    """The lines of a recording set being written, as :class:`SetLines`
    batches: as :class:`Follow`, each set line handed out once every host
    has passed it or ended, so that the batches joined are exactly
    :meth:`RecordingSet.read` of the finished set. A host given up after
    the idle time contributes the lines of its whole records (with a
    :class:`FollowWarning` naming it); the others are followed on."""

    def __init__(self, path: str, follower: Any, make: Callable[[Dict[str, Any], int], Any],
                 idle: float, begin: Callable[[List[Dict[str, Any]]], List[Any]], hosts: List[str],
                 files: List[str], rows: int):
        super().__init__(path, follower, make, idle)
        self._begin = begin
        self._begun = False
        self._rows = rows
        self._host_names = hosts
        self._files = files

    def _next(self) -> Dict[str, Any]:
        if not self._begun:
            hosts = self._follower.hosts(_WAIT)
            if hosts is None:
                return {"rows": 0, "follow": "stopped" if self._stopping else "waiting"}
            self._follower.begin(self._begin(hosts))
            self._begun = True
        return self._follower.next(self._rows, _WAIT)

    _stopping = False

    def stop(self) -> None:
        self._stopping = True
        super().stop()

    def close(self) -> None:
        self._stopping = True
        super().close()

    @staticmethod
    def _status_of(raw: Dict[str, Any]) -> str:
        return raw["follow"]

    def _given_up(self, raw: Dict[str, Any]) -> None:
        states = self._follower.state()
        given_up = [f"{host} ({_os.fsdecode(s['open_path'])}: {s['lines']} lines of its "
                    f"{s['records']} whole records)"
                    for host, s, status in zip(self._host_names, states, raw["host_follow"])
                    if status == "idle"]
        _warnings.warn(
            f"{self.path}: given up after {_seconds_text(self._idle)} without growth, as cdt "
            "recover keeps them: " + ", ".join(given_up), FollowWarning, stacklevel=3)

    def state(self) -> List[Dict[str, Any]]:  # type: ignore[override]
        """Per host where its follow stands (see :meth:`Follow.state`)."""
        out = []
        for s in self._follower.state():
            d = dict(s)
            d["open_path"] = _os.fsdecode(d["open_path"])
            out.append(d)
        return out


def live_set(path: bytes, time: Optional[int]) -> Optional[Dict[str, Any]]:
    """The set of a recording being written that `path` names (a directory:
    the latest recording of ``.cdt.temp`` files in it, or the one of `time`;
    a data file by either name), as find_set describes a set; None where
    `path` names none."""
    if _os.path.isdir(path):
        candidates = []
        for entry in sorted(_os.listdir(path)):
            if not entry.endswith(b".cdt.temp"):
                continue
            t = _cdt.name_time(entry[:-5])
            if t and (time is None or t == time):
                candidates.append((t, entry))
        # The latest recording; of its files the first in name order that opens.
        latest = max((t for t, _ in candidates), default=None)
        for t, entry in candidates:
            if t != latest:
                continue
            try:
                return _cdt.find_live_set(_os.path.join(path, entry))
            except (ValueError, OSError):
                continue
        return None
    if path.endswith(b".temp") or _os.path.exists(path + b".temp"):
        return _cdt.find_live_set(path)
    return None


def check_rows(rows: Any) -> int:
    return _args.row_count(rows)
