"""A quick look at a recording: one self-contained HTML page of pictures.

:func:`report` reads a data file once through the package's own reader and
writes ``NAME.html``: a summary table, the blade resonances of the analysis
with per stage its Campbell diagram and the blades' tip deflection amplitude
against speed, the units of every number, the shaft speed with the
unsynchronised stretches shaded, per probe the blade DNS and the RMS, per
probe the blades' time-of-arrival deviations and where their amplitude peaks
against the speed, and a few profile (waveform) records. Every axis says its
unit. The pictures are PNG images embedded in the page, so it needs nothing
but a browser to be read.

The package's modules: :mod:`.reduction` (the one pass over the lines, reduced
to what the pictures show), :mod:`.figures` (matplotlib), :mod:`.stages` (the
resonances' pictures, from the analysis), :mod:`.page` (the HTML), :mod:`.command` (``python3 -m cdt report``); this one opens the file,
runs the reads and writes the page.
"""

from __future__ import annotations

import os
import queue
import secrets
import threading
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Dict, Optional, Tuple

from .._cdt import FormatError
from .._open import open as _open
from .page import _compose
from .reduction import _batch_rows, _reduce

__all__ = ["report"]

# The most profile records the page loads to choose the few it draws.
_PROFILES_LOADED_MAX = 2000
# The reason a read gives when it reached the end of the records.
_END_OF_RECORDS = "end of records"


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


def _state_after_reading(opened: str, stopped: Dict[str, Any], info: Optional[Dict[str, Any]]) -> str:
    """The recording's state once it has been read: a file that opened as
    finished is damaged when the read of its lines stopped for another reason
    than the end of the records, or when ``cdt info``'s scan says so."""
    if opened != "finished":
        return opened
    if stopped.get("reason") not in (None, _END_OF_RECORDS):
        return "damaged"
    if ((info or {}).get("stopped") or {}).get("damaged"):
        return "damaged"
    return "finished"


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


def _read(rec, path: str, encoding) -> Tuple[Any, Dict[str, Any], Any, Any]:
    """The pass over the lines, with ``cdt info``'s scan and the profile
    records read on a second thread meanwhile (the C++ reader runs without
    the GIL): the reduction, where reading stopped, the info (or why there is
    none, as text) and the profiles."""
    with ThreadPoolExecutor(max_workers=1) as pool:
        side = pool.submit(_side_reads, path, rec.salvage, encoding)
        reduction = _reduce(_prefetched(rec.iter_batches(rows=_batch_rows(len(rec.columns())))))
        info, profiles = side.result()
    stopped = rec.stopped
    if stopped is None:
        # No batch came back, so none said where reading stopped: a read of
        # no columns does (one more pass over records that make no line).
        stopped = rec.read(probes=[]).stopped
    return reduction, stopped or {}, info, profiles


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
    return _write_page(_file_page(path, encoding), _page_path(path, out_dir))


def _file_page(path: str, encoding, followed=None) -> str:
    """The page of the file as HTML text. `followed`: the reduction and the
    reading's stop of a follow that has read all of the file's lines, which
    are then not read again."""
    rec, opened = _open_for_report(path, encoding)
    if followed is None:
        reduction, stopped, info, profiles = _read(rec, path, encoding)
    else:
        reduction, stopped = followed
        info, profiles = _side_reads(path, rec.salvage, encoding)
    info_error = info if isinstance(info, str) else None
    info = None if info_error else info
    state = _state_after_reading(opened, stopped, info)
    return _compose(rec, path, encoding, state, stopped, reduction, info, info_error, profiles)


def _page_path(path: str, out_dir: str) -> str:
    """Where the page of the file goes: NAME.html in out_dir."""
    file_name = os.path.basename(path)
    stem = file_name[:-5] if file_name.endswith(".temp") else file_name
    stem = stem[:-4] if stem.lower().endswith(".cdt") else stem
    return os.path.join(out_dir, stem + ".html")


def _write_page(text: str, out: str) -> str:
    os.makedirs(os.path.dirname(out) or ".", exist_ok=True)
    _write_staged(out, text.encode("utf-8"))
    return out


from .sets import report_set  # noqa: E402  (after the helpers it shares)

__all__ += ["report_set"]
