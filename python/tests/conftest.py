"""Recordings made by this build's `cdt synth`, shared by the tests."""

import os
import subprocess
from pathlib import Path

import pytest

BUILD = Path(os.environ.get("CDT_BUILD_DIR", Path(__file__).resolve().parents[2] / "build" / "release"))
CDT = BUILD / "tools" / "cdt"
CDT2CSV = BUILD / "driver" / "cdt2csv"


def run(*args, cwd=None):
    """Runs a program of the build and returns its standard output lines.

    Bytes that are not UTF-8 (a file name in the installation's code page)
    come back as surrogate escapes, as os.fsdecode gives them."""
    args = [a if isinstance(a, (str, bytes, os.PathLike)) else str(a) for a in args]
    out = subprocess.run(args, check=True, capture_output=True, cwd=cwd)
    return out.stdout.decode("utf-8", "surrogateescape").splitlines()


def decode_name(data):
    """Text of a data file decoded as the installation wrote it: UTF-8 when valid, else
    Windows-1252 (the WHATWG mapping, where the five bytes cp1252 leaves out map to
    the code points of their values)."""
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return "".join(bytes([b]).decode("cp1252") if b not in b"\x81\x8d\x8f\x90\x9d" else chr(b)
                       for b in data)


def synth(directory, *options):
    """Makes a recording with `cdt synth` and returns the paths it printed."""
    return run(CDT, "synth", *options, directory)


@pytest.fixture(scope="session")
def recordings(tmp_path_factory):
    """Recordings of every shape the tests compare with the CSV, by name."""
    base = tmp_path_factory.mktemp("recordings")
    shapes = {
        "plain": ["--revolutions", "120", "--profiles", "20"],
        "ranges": ["--revolutions", "300", "--aggregate", "7", "--blades", "13"],
        "three_probes": ["--revolutions", "90", "--probes", "3", "--stages", "2", "--blades", "5,9"],
        # A cut last record (empty cells) and recorded NaNs (the CSV's nan): NaN alike.
        "damaged": ["--revolutions", "80", "--damage", "--blades", "6", "--nan-cells", "7"],
        "second_host": ["--revolutions", "50", "--hosts", "2", "--blades", "4"],
        # Names in the installation's code page (0xFC for ü, in the file name too), one
        # of them on three probes, and names written as UTF-8.
        "cp1252_names": ["--revolutions", "40", "--blades", "4", "--name", "Prüfstand",
                         "--probe-names", "Sonde Süd,Same,Same,Other"],
        "utf8_names": ["--revolutions", "40", "--blades", "3", "--encoding", "utf-8",
                       "--probe-names", "Sonde°1,Ωmega,Same,Same"],
    }
    made = {}
    for name, options in shapes.items():
        paths = synth(base / name, *options)
        made[name] = paths[-1]
    return made


def records(data, kind):
    """(offset, first body byte) of every record of type `kind` of a data file's bytes."""
    at = int.from_bytes(data[24:32], "little")
    end = int.from_bytes(data[32:40], "little") or len(data)
    found = []
    while at + 20 <= end:
        size = int.from_bytes(data[at:at + 4], "little")
        if size < 24:
            break
        if int.from_bytes(data[at + 4:at + 6], "little") == kind:
            found.append((at, data[at + 20]))
        at += size - 4
    return found


def blade_records(data):
    """(offset, channel) of every blade record (type 3) of a data file's bytes."""
    return records(data, 3)


def index_entries(data):
    """Offsets of the index entries (16 bytes: time, then position) of a data file's bytes."""
    start = int.from_bytes(data[32:40], "little")
    end = int.from_bytes(data[40:48], "little")
    return list(range(start, end - 15, 16))
