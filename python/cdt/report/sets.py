"""A quick look at a recording set: one page of every probe of every host
and how the hosts' lines agree.

:func:`report_set` reads the set once in batches (its hosts joined by
revolution, as :func:`cdt.open_set` gives them), with the set's
:meth:`~cdt.RecordingSet.info` counted on a second thread meanwhile, and
writes the page of :mod:`.set_page`. :func:`_sets_in` finds every set of a
directory.
"""

from __future__ import annotations

import os
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Dict, List, Optional, Tuple, Union

from .. import _args
from .._cdt import FormatError
from .._sets import RecordingSet, open_set
from . import _open_for_report, _prefetched, _state_after_reading, _write_page
from .reduction import _SetReduction, _batch_rows, _reduce
from .set_page import _compose_set
from .texts import _time_text

__all__ = ["report_set"]


def _sets_in(directory: str, encoding: Optional[str]) -> List[Tuple[str, Any]]:
    """Every recording set of a directory, in the order of their times: per
    set (or per data file that opens none) its first file and what
    :func:`_opened_set` gives, or the error that file gave. Each data file's
    set is the one :func:`cdt.open_set` finds for it (so a directory of
    several configurations gives the sets of each); files of a set found
    before are not opened again."""
    names = sorted(os.listdir(os.fsencode(directory)))
    found: List[Tuple[str, Any]] = []
    seen = set()
    for entry in names:
        path = os.fsdecode(os.path.join(os.fsencode(directory), entry))
        if not entry.endswith(b".cdt") or not os.path.isfile(path):
            continue
        if os.path.normpath(path) in seen:
            continue
        try:
            opened = _opened_set(path, None, encoding)
        except Exception as e:  # the file gets its own line, the others their pages
            found.append((path, e))
            continue
        files = [os.path.normpath(f) for f in opened[0].files]
        if any(f in seen for f in files):
            continue  # a set already found, by a file in another host's slot
        seen.update(files)
        found.append((path, opened))
    if not found:
        # The module's own word for a directory without a recording.
        return [(directory, _opened_set(directory, None, encoding))]

    def order(item):
        first, opened = item
        if isinstance(opened, Exception):
            return 0, [first]
        return opened[0].time, opened[0].files

    return sorted(found, key=order)


def _opened_set(path: str, time, encoding: Optional[str]) -> Tuple[RecordingSet, List[str]]:
    """The set opened the way that shows most of it, and per host how its
    file opened ("finished", "unfinished" or "damaged"): a set with a file
    that was never finished or lost its index is read salvaged."""
    try:
        s = open_set(path, time=time, encoding=encoding)
        if all(rec.finished for rec in s.recordings):
            return s, ["finished"] * len(s.hosts)
    except FormatError as first:
        try:
            s = RecordingSet(path, time=time, encoding=encoding, salvage=True)
        except (FormatError, OSError):
            raise first from None
    else:
        s = RecordingSet(path, time=time, encoding=encoding, salvage=True)
    states = []
    for f in s.files:
        try:
            states.append(_open_for_report(f, encoding)[1])
        except (FormatError, OSError):
            states.append("damaged")
    return s, states


def _set_name(s: RecordingSet) -> str:
    """The set's name: the master's file name without its host part (the
    ".HOST." before its time) and without its extension."""
    return s.name


def _info(s: RecordingSet) -> Union[Dict[str, Any], str]:
    try:
        return s.info()
    except (FormatError, OSError, ValueError, MemoryError) as e:
        return str(e) or type(e).__name__


def report_set(path, out_dir=".", *, time=None, encoding=None):
    """Writes the quick-look page of one recording set and returns its path.

    The page is ``out_dir/NAME.html``, NAME the master's file name without
    its host part and extension (``Rig1.0000.2011-05-06.12-30-00.html`` for
    ``Rig1.0000.Daq1.2011-05-06.12-30-00.cdt``). It holds a summary of the
    set, a coverage panel (per host: its revolutions, lines, the set lines
    it misses or where its time or speed is off, its restarts, and where
    across the run they lie) and the pictures of a recording's page for
    every probe of every host, headed by the set's probe keys.

    Parameters
    ----------
    path : str, bytes or os.PathLike
        Any file of the set, a directory with one recording, or a directory
        and ``time``, as for :func:`cdt.open_set`.
    out_dir : str, bytes or os.PathLike
        Where the page goes (made when missing).
    time, encoding
        As for :func:`cdt.open_set`; a data file's set must be of ``time``
        where one is given.

    Raises
    ------
    FileNotFoundError, ValueError, cdt.FormatError
        As :func:`cdt.open_set` raises them.
    """
    path = os.fspath(path)
    path = os.fsdecode(path) if isinstance(path, bytes) else path
    s, states = _opened_set(path, time, encoding)
    if time is not None and not os.path.isdir(path) and s.time != _args.microseconds(time, "time"):
        raise ValueError(f"its recording is of {_time_text(s.time)}, not of the time given")
    return _report_opened(s, states, out_dir)


def _report_opened(s: RecordingSet, states: List[str], out_dir) -> str:
    """The page of a set that :func:`_opened_set` opened (see :func:`report_set`)."""
    out_dir = os.fsdecode(os.fspath(out_dir)) if out_dir else "."
    text = _set_page(s, states)
    return _write_page(text, os.path.join(out_dir, _set_name(s) + ".html"))


def _set_page(s: RecordingSet, states: List[str], followed=None) -> str:
    """The page of a set that :func:`_opened_set` opened, as HTML text.
    `followed`: the reduction and per host the reading's stop of a follow
    that has read all of the set's lines, which are then not read again."""
    if followed is None:
        reduction = _SetReduction(len(s.hosts))
        with ThreadPoolExecutor(max_workers=1) as pool:
            side = pool.submit(_info, s)
            _reduce(_prefetched(s.iter_batches(rows=_batch_rows(len(s.columns())))),
                    reduction=reduction)
            info = side.result()
        if s.stopped is None:
            # No batch came back, so none said where reading stopped: a read of
            # no columns does.
            s.read(probes=[])
        stopped = s.stopped or {}
    else:
        reduction, stopped = followed
        info = _info(s)
    info_error = info if isinstance(info, str) else None
    info = None if info_error else info
    for i, name in enumerate(s.hosts):
        host_info = info["hosts"][i].get("info") if info is not None else None
        states[i] = _state_after_reading(states[i], stopped.get(name, {}), host_info)
    return _compose_set(s, _set_name(s), s.encoding, states, stopped, reduction, info, info_error)
