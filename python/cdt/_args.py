"""The checks of the package's arguments: paths, encodings, times, blades, windows.

Each raises TypeError for a wrong type and ValueError for a wrong value,
naming the argument.
"""

from __future__ import annotations

import codecs as _codecs
import datetime as _dt
import importlib as _importlib
import os as _os
import sys as _sys
import types as _types
from typing import Any, Iterable, List, Optional, Tuple, Union

import numpy as _np

from . import _cdt

TimeLike = Union[_dt.datetime, str, int, _np.datetime64]
PathLike = Union[str, bytes, "_os.PathLike[str]", "_os.PathLike[bytes]"]
Blades = Union[int, Iterable[int], range, str]
Probes = Union[str, int, Iterable[Union[str, int]]]
Revolutions = Tuple[Optional[int], Optional[int]]



class Deferred(_types.ModuleType):
    """A module imported at the first use of one of its attributes: the type
    hints name pandas (``-> "pandas.DataFrame"``) and resolve, while
    ``import cdt`` does not import it."""

    def __getattr__(self, name: str) -> Any:
        return getattr(_importlib.import_module(self.__name__), name)


_U64 = 2**64
# Times from here on have no datetime64[us] value (int64 microseconds).
US_LIMIT = 2**63
# Times from here on (2262-04-11T23:47:16.854775 UTC and later) have no
# datetime64[ns] value.
NS_LIMIT = (2**63 - 1) // 1000 + 1
_BLADE_LIMIT = 2**32


def path_bytes(path: Any, name: str = "path") -> bytes:
    """A path as the file system's bytes (os.fsencode of str, bytes or os.PathLike)."""
    if not isinstance(path, (str, bytes, _os.PathLike)):
        raise TypeError(f"{name}: a str, bytes or os.PathLike, not {type(path).__name__}")
    data = _os.fsencode(_os.fspath(path))
    if b"\0" in data:
        raise ValueError(f"{name}: a path holds no NUL byte: {path!r}")
    return data


def check_encoding(encoding: Optional[str]) -> Optional[str]:
    if encoding is None:
        return None
    if not isinstance(encoding, str):
        raise TypeError(f"encoding: the name of a text codec (str) or None, not {type(encoding).__name__}")
    try:
        _codecs.lookup(encoding)
        b"".decode(encoding)
    except LookupError:
        raise ValueError(f"encoding: {encoding!r} names no text codec of Python's "
                         "(e.g. 'cp1252', 'cp1250', 'utf-8'), or None") from None
    return encoding


def decode(data: bytes, encoding: Optional[str], path: Optional[str] = None) -> str:
    """A name or text of a data file (its bytes) as str.

    With ``encoding=None``: UTF-8 when the bytes are valid UTF-8, otherwise
    Windows-1252 as the WHATWG Encoding Standard maps it (every byte maps,
    so this never fails and nothing is replaced). With an encoding named,
    Python's codec of that name; bytes it cannot decode raise ValueError
    (naming ``path`` when given).
    """
    if encoding is None:
        return _cdt.decode_name(bytes(data))
    try:
        return bytes(data).decode(encoding)
    except LookupError:
        raise ValueError(f"encoding: {encoding!r} names no text codec of Python's") from None
    except UnicodeDecodeError as e:
        where = f"{path}: " if path is not None else ""
        raise ValueError(f"{where}{bytes(data)!r} is not {encoding} text ({e.reason} at byte "
                         f"{e.start}); name the installation's code page with encoding=") from None


def is_int(value: Any) -> bool:
    return isinstance(value, (int, _np.integer)) and not isinstance(value, (bool, _np.bool_))


def is_nat(value: Any) -> bool:
    if isinstance(value, _np.datetime64):
        return bool(_np.isnat(value))
    pandas = _sys.modules.get("pandas")
    return pandas is not None and value is pandas.NaT


def microseconds(value: TimeLike, name: str) -> int:
    """A time as microseconds since 1970 (UTC).

    Accepts an int (microseconds, 0 to 2**64 - 1), a datetime (naive ones
    are UTC), a numpy.datetime64, a pandas Timestamp or ISO 8601 text.
    """
    form = ("a datetime (naive is UTC), pandas Timestamp, numpy.datetime64, ISO 8601 text "
            "or int microseconds since 1970")
    if isinstance(value, (bool, _np.bool_)):
        raise TypeError(f"{name}: {form}, not a bool")
    if is_int(value):
        if not 0 <= value < _U64:
            raise ValueError(f"{name}: microseconds since 1970 from 0 to 2**64 - 1, not {value}")
        return int(value)
    if is_nat(value):
        raise ValueError(f"{name}: {form}, not NaT")
    if isinstance(value, str):
        # The grammar of the cdt commands' times (offsets, a blank for "T", a date alone).
        us = _cdt.parse_time(value)
        if us is None:
            raise ValueError(f"{name}: not an ISO 8601 time from 1970 on, such as "
                             f"'2011-05-06T12:30:45.25Z' or '2011-05-06 14:30+02:00': {value!r}")
        return us
    if isinstance(value, _np.datetime64):
        us = int(value.astype("datetime64[us]").astype(_np.int64))
    elif isinstance(value, _dt.datetime):
        if value.tzinfo is not None:
            value = value.astimezone(_dt.timezone.utc).replace(tzinfo=None)
        us = (value - _dt.datetime(1970, 1, 1)) // _dt.timedelta(microseconds=1)
    elif isinstance(value, _dt.date):
        us = (_dt.datetime(value.year, value.month, value.day) - _dt.datetime(1970, 1, 1)) // (
            _dt.timedelta(microseconds=1))
    else:
        raise TypeError(f"{name}: {form}, not {type(value).__name__}")
    if us < 0:
        raise ValueError(f"{name}: a time before 1970: {value!r}")
    return int(us)


# The largest number a blade list text may name, as the command line's
# --blades takes it (a stage has at most that many blades).
_BLADE_TEXT_LIMIT = 65535


def blade_list(text: str) -> List[int]:
    """The ascending distinct blade numbers of a list text such as "1-10,15",
    as ``cdt export --blades`` reads it: items of decimal digits, single
    numbers or ranges FIRST-LAST, from 1 to 65535, none empty, no range
    ending before its start."""
    named = set()
    for item in text.split(","):
        first, dash, last = item.partition("-")
        if not dash:
            last = first
        bounds = []
        for part in (first, last):
            # Only ASCII digits (str.isdigit also takes other scripts'), at
            # most 19 of them, as the command line takes them.
            if not part or len(part) > 19 or any(c not in "0123456789" for c in part):
                break
            bounds.append(int(part))
        if (len(bounds) != 2 or bounds[0] < 1 or bounds[1] > _BLADE_TEXT_LIMIT
                or bounds[1] < bounds[0]):
            raise ValueError(f"blades: '{text}' is not a blade list such as 1-10,15")
        named.update(range(bounds[0], bounds[1] + 1))
    return sorted(named)


def blade_numbers(blades: Any) -> List[int]:
    """Checked 1-based blade numbers; an empty iterable selects no blade, a
    str is a blade list such as "1-10,15" (:func:`blade_list`)."""
    form = ("an int, an iterable of ints, a range of 1-based blade numbers or a blade list "
            "such as '1-10,15'")
    if isinstance(blades, str):
        return blade_list(blades)
    if is_int(blades):
        blades = [blades]
    elif isinstance(blades, (bytes, bool, float, _np.bool_, _np.floating)) or not hasattr(
            blades, "__iter__"):
        raise TypeError(f"blades: {form}, not {type(blades).__name__}")
    numbers = []
    for b in blades:
        if not is_int(b):
            raise TypeError(f"blades: {form}, not a {type(b).__name__} ({b!r})")
        if not 1 <= b < _BLADE_LIMIT:
            raise ValueError(f"blades: blade numbers from 1 to {_BLADE_LIMIT - 1}, not {b}")
        numbers.append(int(b))
    return numbers


def revolution_window(revolutions: Any) -> Tuple[Optional[int], Optional[int]]:
    form = "a pair (first, last) of revolution numbers (ints from 0 to 2**64 - 1, or None)"
    if isinstance(revolutions, (str, bytes)) or not hasattr(revolutions, "__len__"):
        raise TypeError(f"revolutions: {form}, not {type(revolutions).__name__}")
    if len(revolutions) != 2:
        raise ValueError(f"revolutions: {form}, not {len(revolutions)} values")
    bounds = []
    for r in revolutions:
        if r is None:
            bounds.append(None)
            continue
        if not is_int(r):
            raise TypeError(f"revolutions: {form}, not a {type(r).__name__} ({r!r})")
        if not 0 <= r < _U64:
            raise ValueError(f"revolutions: {form}, not {r}")
        bounds.append(int(r))
    return bounds[0], bounds[1]


def row_count(rows: Any) -> int:
    if not is_int(rows):
        raise TypeError(f"rows: a positive int, not {type(rows).__name__}")
    if rows < 1:
        raise ValueError(f"rows: a positive int (at least 1), not {rows}")
    # No read holds more lines than this; the module takes it as a size_t.
    return int(min(rows, 2**62))




def probe_choices(probes: Any) -> Optional[List[Union[str, int]]]:
    """Checked probe choices (names or keys as str, channel numbers as int); None keeps all.

    Which probes they name is decided against the recording's configuration
    by the module, under the rules every view shares.
    """
    if probes is None:
        return None
    form = "a probe name or key (str), a channel number (int 0 to 3), or a list of them"
    if isinstance(probes, str) or is_int(probes):
        probes = [probes]
    elif isinstance(probes, (bytes, bytearray)) or not hasattr(probes, "__iter__"):
        raise TypeError(f"probes: {form}, not {type(probes).__name__}")
    choices: List[Union[str, int]] = []
    for item in probes:
        if isinstance(item, str):
            choices.append(item)
        elif is_int(item):
            if not 0 <= item <= 3:
                raise ValueError(f"probes: channel numbers from 0 to 3, not {item}")
            choices.append(int(item))
        else:
            raise TypeError(f"probes: {form}, not a {type(item).__name__} ({item!r})")
    return choices


def selection(probes: Any = None, blades: Any = None, start: Any = None, stop: Any = None,
              revolutions: Any = None) -> "_cdt.Selection":
    """The checked selection as the module takes it."""
    s = _cdt.Selection()
    s.probes = probe_choices(probes)
    if blades is not None:
        s.blades = blade_numbers(blades)
    if start is not None:
        s.start = microseconds(start, "start")
    if stop is not None:
        s.stop = microseconds(stop, "stop")
    if s.start is not None and s.stop is not None and s.stop < s.start:
        # A mistake (the bounds swapped), as the command line's --from and
        # --to take it, not a request for no lines; an empty window [t, t)
        # stays one, as windows that tile a recording may be.
        raise ValueError(f"stop: the window's stop lies before its start "
                         f"({_cdt.format_time(s.stop)} is before {_cdt.format_time(s.start)})")
    if revolutions is not None:
        s.first_revolution, s.last_revolution = revolution_window(revolutions)
    return s
