"""Selection arguments: probes by name, key or channel; wrong ones named in the message."""

import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import cdt
from conftest import CDT

BASE = ["Time", "Speed", "Sync", "Start Rev", "End Rev"]


@pytest.mark.parametrize("selection, error, argument", [
    ({"blades": [1.9]}, TypeError, "blades"),
    ({"blades": True}, TypeError, "blades"),
    ({"blades": b"12"}, TypeError, "blades"),
    ({"blades": np.array([1.0])}, TypeError, "blades"),
    ({"blades": [2**32]}, ValueError, "blades"),
    ({"blades": [0]}, ValueError, "blades"),
    ({"revolutions": (1.7, 3.2)}, TypeError, "revolutions"),
    ({"revolutions": 5}, TypeError, "revolutions"),
    ({"revolutions": (-5, 10)}, ValueError, "revolutions"),
    ({"revolutions": (1, 2, 3)}, ValueError, "revolutions"),
    ({"revolutions": (0, 2**64)}, ValueError, "revolutions"),
    ({"start": 2**64}, ValueError, "start"),
    ({"start": -1}, ValueError, "start"),
    ({"start": pd.NaT}, ValueError, "start"),
    ({"stop": np.datetime64("NaT")}, ValueError, "stop"),
    ({"stop": 1.5e15}, TypeError, "stop"),
    ({"stop": "yesterday"}, ValueError, "stop"),
    ({"probes": b"Probe101"}, TypeError, "probes"),
    ({"probes": [1.0]}, TypeError, "probes"),
    ({"probes": [4]}, ValueError, "probes"),
    ({"probes": ["nope"]}, KeyError, "nope"),
])
def test_wrong_arguments_raise_naming_the_argument(recordings, selection, error, argument):
    rec = cdt.open(recordings["ranges"])
    for call in (rec.read, rec.to_pandas, rec.iter_batches):
        with pytest.raises(error, match=argument) as caught:
            call(**selection)
        assert "incompatible" not in str(caught.value) and "_cdt" not in str(caught.value)
    if "probes" in selection or "blades" in selection:
        with pytest.raises(error, match=argument):
            rec.columns(**selection)


@pytest.mark.parametrize("call, error", [
    (lambda rec: rec.iter_batches(rows=0), ValueError),
    (lambda rec: rec.iter_batches(rows=2.0), TypeError),
    (lambda rec: rec.parts(rows=-3), ValueError),
    (lambda rec: cdt.open(b"a\0b.cdt"), ValueError),
    (lambda rec: cdt.open(3.5), TypeError),
    (lambda rec: cdt.open(rec.path, encoding=5), TypeError),
    (lambda rec: cdt.open(rec.path, encoding="no-such-codec"), ValueError),
])
def test_wrong_calls_raise(recordings, call, error):
    rec = cdt.open(recordings["ranges"])
    with pytest.raises(error):
        call(rec)


def test_blade_lists_are_taken_as_cdt_export_takes_them(recordings, tmp_path):
    rec = cdt.open(recordings["ranges"])  # 13 blades
    csv = tmp_path / (Path(rec.path).stem + ".csv")
    for text in ["1-3", "1-10,13", "3,1-2,2", "0", "3-1", "1,,2", "", "1-", "-3", " 1", "+1",
                 "\u0663", "1-65536", "00000000000000000001"]:
        out = subprocess.run([CDT, "export", "-o", tmp_path, "--blades", text, rec.path],
                             capture_output=True, text=True)
        if out.returncode == 0:
            assert rec.columns(blades=text) == csv.read_text().split("\n", 1)[0].split(","), text
            continue
        assert out.returncode == 2, (text, out.stderr)
        with pytest.raises(ValueError) as caught:
            rec.columns(blades=text)
        assert str(caught.value) == "blades: " + out.stderr.splitlines()[0].split(": ", 1)[1]


def test_unknown_probes_are_key_and_value_errors(recordings):
    rec = cdt.open(recordings["ranges"])
    with pytest.raises(KeyError, match="no probe 'nope'") as caught:
        rec.read(probes="nope")
    assert isinstance(caught.value, ValueError) and rec.path in str(caught.value)


@pytest.mark.parametrize("selection", [
    {"blades": []}, {"blades": range(0)}, {"blades": range(5, 3)}, {"probes": []},
])
def test_empty_selections_select_nothing(recordings, selection):
    rec = cdt.open(recordings["ranges"])
    frame = rec.to_pandas(**selection)
    assert list(frame.columns) == rec.columns(**selection)
    assert not frame.columns.str.contains("Blade").any()
    if "probes" in selection:
        assert list(frame.columns) == BASE
    else:
        assert list(frame.filter(like="RMS").columns) == [f"{n} RMS" for n in rec.probe_names]
    assert len(frame) == len(rec.read())


def test_probes_by_name_key_or_channel(recordings):
    rec = cdt.open(recordings["cp1252_names"])
    assert rec.probe_names == ["Sonde Süd", "Same", "Same", "Other"]
    assert rec.probe_keys == ["Sonde Süd", "Same (channel 1)", "Same (channel 2)", "Other"]
    whole = rec.read()
    assert [(k, p.name, p.channel) for k, p in whole.probes.items()] == [
        ("Sonde Süd", "Sonde Süd", 0), ("Same (channel 1)", "Same", 1),
        ("Same (channel 2)", "Same", 2), ("Other", "Other", 3)]
    for probes, keys in [("Same", ["Same (channel 1)", "Same (channel 2)"]),
                         ("Same (channel 2)", ["Same (channel 2)"]),
                         ([3, "Sonde Süd"], ["Sonde Süd", "Other"]),
                         (np.int64(1), ["Same (channel 1)"]),
                         ("2", ["Same (channel 2)"])]:  # digits: a channel, as cdt export takes it
        lines = rec.read(probes=probes)
        assert list(lines.probes) == keys
        for key in keys:
            np.testing.assert_array_equal(lines.probes[key].blade_dns, whole.probes[key].blade_dns)
