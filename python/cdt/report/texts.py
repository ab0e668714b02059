"""Times, durations and sizes as the page and its pictures write them."""

from __future__ import annotations

import datetime as _dt

import numpy as np


def _microseconds_of(t) -> int:
    """A record time as the file's unsigned microseconds: an int as it is, a
    datetime64[us] that views the file's uint64 word by its bits."""
    if isinstance(t, (int, np.integer)):
        return int(t)
    return int(np.datetime64(t, "us").astype(np.int64)) & 0xFFFFFFFFFFFFFFFF


def _time_text(us: int) -> str:
    """Microseconds since 1970 as UTC text; beyond year 9999 as the count itself."""
    try:
        when = _dt.datetime(1970, 1, 1) + _dt.timedelta(microseconds=us)
    except OverflowError:
        return f"{us} µs after 1970-01-01 UTC"
    return when.strftime("%Y-%m-%d %H:%M:%S.%f")[:-3] + " UTC"


def _duration_text(seconds: float) -> str:
    if seconds < 120:
        return f"{seconds:.2f} s"
    minutes, s = divmod(seconds, 60)
    hours, m = divmod(int(minutes), 60)
    return (f"{hours} h " if hours else "") + f"{m} min {s:.0f} s"


def _size_text(n: int) -> str:
    for unit in ("bytes", "kB", "MB", "GB"):
        if n < 1000 or unit == "GB":
            return f"{n:.0f} {unit}" if unit == "bytes" else f"{n:.1f} {unit}"
        n /= 1000
    return str(n)
