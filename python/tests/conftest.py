"""Recordings made by this build's `cdt synth`, shared by the tests."""

import os
import subprocess
from pathlib import Path

import pytest

BUILD = Path(os.environ.get("CDT_BUILD_DIR", Path(__file__).resolve().parents[2] / "build" / "release"))
CDT = BUILD / "tools" / "cdt"
CDT2CSV = BUILD / "driver" / "cdt2csv"


def run(*args, cwd=None):
    """Runs a program of the build and returns its standard output lines."""
    out = subprocess.run([str(a) for a in args], check=True, capture_output=True, text=True, cwd=cwd)
    return out.stdout.splitlines()


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
        "damaged": ["--revolutions", "80", "--damage", "--blades", "6"],
        "second_host": ["--revolutions", "50", "--hosts", "2", "--blades", "4"],
    }
    made = {}
    for name, options in shapes.items():
        paths = synth(base / name, *options)
        made[name] = paths[-1]
    return made
