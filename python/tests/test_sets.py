"""Recording sets: the hosts' lines joined by revolution, against a pandas merge of the
hosts' own frames."""

import numpy as np
import pandas as pd
import pytest

import cdt
from conftest import CDT2CSV, run, synth


def merged(frames, master=0):
    """The hosts' frames merged on (segment, Start Rev, End Rev), as a set joins them: a
    segment ends where a host's counter goes back; Time, Speed and Sync from the master, or
    else the first host that has the line."""
    key = ["segment", "Start Rev", "End Rev"]
    fixed = ["Time", "Speed", "Sync"]
    parts = []
    for i, f in enumerate(frames):
        f = f.copy()
        f.insert(0, "segment", (f["Start Rev"].astype(np.int64).diff() < 0).cumsum())
        f = f.rename(columns={c: (i, c) for c in fixed})
        f[("present", i)] = True
        parts.append(f)
    out = parts[0]
    for f in parts[1:]:
        out = out.merge(f, on=key, how="outer", sort=True)
    order = [master] + [i for i in range(len(frames)) if i != master]
    for c in fixed:
        value = out[(order[0], c)]
        for i in order[1:]:
            value = value.where(out[("present", order[0])].fillna(False), out[(i, c)])
        out[c] = value
    return out


def test_a_set_is_its_hosts_lines_joined_by_revolution(tmp_path):
    paths = synth(tmp_path / "set", "--hosts", "3", "--revolutions", "300", "--blades", "3",
                  "--probes", "2", "--drop", "2:7", "--late", "3:25", "--early", "2:10",
                  "--resync", "150", "--clock-offset", "3:40")
    s = cdt.open_set(paths[1])
    assert s.hosts == ["Daq1", "Daq2", "Daq3"] and s.master == "Daq1" and s.files == paths
    got = s.to_pandas()
    frames = [cdt.open(p).to_pandas() for p in paths]
    expected = merged(frames)
    assert len(got) == len(expected) == 300
    assert list(got.columns) == s.columns()
    for c in ["Time", "Speed", "Sync"]:
        assert (got[c].values == expected[c].values).all(), c
    for c in ["Start Rev", "End Rev"]:
        assert (got[c].values.astype(np.int64) == expected[c].values.astype(np.int64)).all()
    for f in frames:
        for c in f.columns[5:]:
            np.testing.assert_array_equal(got[c].values, expected[c].values.astype(f[c].dtype))
    # The statuses say what was injected: host 2 drops every 7th of the 290 revolutions
    # it records, host 3 starts 25 late; host 3's clock 40 us off is within half a revolution.
    status = got[[f"Daq{i} Status" for i in (1, 2, 3)]]
    assert list((status & cdt.sets.MISSING != 0).sum()) == [0, 41 + 10, 25]
    assert (status & (cdt.sets.TIME_OFF | cdt.sets.SPEED_OFF) == 0).all().all()
    # Probes chosen by name, and the same join.
    part = s.to_pandas(probes=["Probe101", "Probe106"], blades=[2])
    assert list(part.columns) == ["Time", "Speed", "Sync", "Start Rev", "End Rev",
                                  "Probe101 RMS", "Probe101 DNS", "Probe101 Blade2 DNS",
                                  "Probe101 Blade2 TOA", "Probe106 RMS", "Probe106 DNS",
                                  "Probe106 Blade2 DNS", "Probe106 Blade2 TOA", "Daq1 Status",
                                  "Daq2 Status", "Daq3 Status"]
    pd.testing.assert_frame_equal(part, got[part.columns])
    with pytest.raises(cdt.UnknownProbeError, match="no probe 'nope' in the set"):
        s.read(probes="nope")


def test_a_set_of_one_host_is_that_hosts_file(tmp_path):
    (path,) = synth(tmp_path / "one", "--revolutions", "60", "--blades", "4", "--aggregate", "3")
    s = cdt.open_set(tmp_path / "one")
    own = cdt.open(path).to_pandas()
    got = s.to_pandas()
    pd.testing.assert_frame_equal(got.drop(columns=["Daq1 Status"]), own)
    assert (got["Daq1 Status"] == 0).all()
    assert repr(s) == "<RecordingSet 2011-05-06T12:30:00Z: hosts ['Daq1'], master Daq1>"


def test_sets_are_found_or_refused_by_name(tmp_path):
    synth(tmp_path / "d", "--hosts", "2", "--revolutions", "10")
    synth(tmp_path / "d", "--hosts", "2", "--revolutions", "10", "--start", "2011-05-06T13:00:00Z")
    with pytest.raises(ValueError, match="2 recordings"):
        cdt.open_set(tmp_path / "d")
    s = cdt.open_set(tmp_path / "d", time="2011-05-06T13:00:00Z")
    assert len(s.to_pandas()) == 10 and s.files[0].endswith("13-00-00.cdt")
    with pytest.raises(FileNotFoundError):
        cdt.open_set(tmp_path / "missing.cdt")
    found = cdt.find_sets(tmp_path / "d")
    assert [f.time for f in found] == sorted(f.time for f in found) and len(found) == 2


def test_set_keys_that_collide_are_those_of_the_exports(tmp_path):
    # A name equal to another probe's set key takes its channel too; the Parquet
    # export names the same keys (export/parquet_export_test.cpp).
    paths = synth(tmp_path, "--hosts", "2", "--revolutions", "5", "--probes", "2", "--blades", "1",
                  "--probe-names", "Same,Same (Daq2 channel 0),Same,P")
    s = cdt.open_set(paths[0])
    assert s.probe_keys == ["Same (Daq1 channel 0)", "Same (Daq2 channel 0) (Daq1 channel 1)",
                            "Same (Daq2 channel 0)", "P"]
    assert len(s.read(probes="Same (Daq2 channel 0) (Daq1 channel 1)").probes) == 1


def test_a_damaged_host_file_is_left_out_and_named_and_nothing_else_is_lost(tmp_path):
    import json
    import subprocess
    import warnings

    import cdt.dask

    from conftest import CDT

    d = tmp_path / "d"
    first = synth(d, "--hosts", "3", "--revolutions", "40", "--blades", "2",
                  "--clock-offset", "3:500")
    second = synth(d, "--hosts", "2", "--revolutions", "30", "--start", "2011-05-06T13:00:00Z")
    with open(first[1], "r+b") as f:  # Daq2's header no longer says "data file"
        f.write(b"\0" * 16)
    with pytest.warns(cdt.SetWarning, match="Daq2.*left out of its set"):
        found = cdt.find_sets(d)
    assert [len(s.to_pandas()) for s in found] == [40, 30]
    assert found[0].hosts == ["Daq1", "Daq3"] and "Daq2" in found[0].left_out
    assert found[0].info()["agree"] is False
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", cdt.SetWarning)
        frame = cdt.dask.read_sets(d, errors="skip", rows_per_partition=13)
        assert len(frame.compute(scheduler="synchronous")) == 70
    out = subprocess.run([CDT, "sets", "--json", d], capture_output=True, text=True)
    assert out.returncode == 1 and "Daq2" in out.stderr and "left out" in out.stderr
    one = json.loads(out.stdout.splitlines()[0])
    assert one["agree"] is False and "cannot be read" in one["hosts"][1]["error"]
    # The configured master's file gone: the first host that has one leads, its
    # times and speeds (Daq3's clock runs 500 us ahead of Daq1's).
    import os
    os.remove(first[0])
    with pytest.warns(cdt.SetWarning):
        s = cdt.open_set(first[2])
    assert s.master == "Daq3" and s.hosts == ["Daq3"]
    own = cdt.open(first[2]).to_pandas()
    assert (s.to_pandas()["Time"].values == own["Time"].values).all()


@pytest.fixture(scope="module")
def departures(tmp_path_factory):
    """A set whose lines fall across part edges: a host that drops, one that starts late
    with its clock off, and a resynchronisation; a few hundred lines per part."""
    base = tmp_path_factory.mktemp("departures")
    return synth(base, "--hosts", "3", "--revolutions", "2400", "--blades", "5", "--drop",
                 "2:7", "--late", "3:200", "--resync", "1200", "--clock-offset", "3:300")


def test_parts_and_batches_give_exactly_the_read_in_any_order_and_process(departures, tmp_path):
    import multiprocessing
    import pickle
    import random

    s = cdt.open_set(departures[0])
    whole = s.to_pandas()
    parts = s.parts(rows=300)
    assert len(parts) >= 6 and parts[0][0] is None and parts[-1][1] is None
    order = list(range(len(parts)))
    random.Random(5).shuffle(order)
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        frames = dict(zip(order, pool.map(_read_part, [(departures[0], pickle.dumps(parts[k]))
                                                       for k in order])))
    pd.testing.assert_frame_equal(
        pd.concat([frames[k] for k in range(len(parts))], ignore_index=True), whole)
    # The whole read in two halves on two cores, as a large set reads, is the same read.
    cdt._cdt._set_split_bytes(1)
    try:
        pd.testing.assert_frame_equal(s.to_pandas(), whole)
    finally:
        cdt._cdt._set_split_bytes(128 << 20)
    batches = list(s.iter_batches(rows=250, probes="Probe105", part=parts[2]))
    assert all(len(b) <= 250 for b in batches)
    one = s.to_pandas(probes="Probe105", part=parts[2])
    pd.testing.assert_frame_equal(pd.concat([b.to_pandas() for b in batches], ignore_index=True),
                                  one)
    # The counts of info() are the statuses of the read.
    info = s.info()
    assert info["lines"] == len(whole) and info["agree"] is False
    for host in info["hosts"]:
        status = whole[f"{host['name']} Status"]
        assert host["missing"] == int((status & cdt.sets.MISSING != 0).sum())
        assert host["lines"] == len(whole) - host["missing"]
    assert [h["restarts"] for h in info["hosts"]] == [1, 1, 1]
    # A file of the set changed since the plan is refused.
    with open(departures[1], "ab") as f:
        f.write(b"\0")
    try:
        with pytest.raises(ValueError, match="changed since its parts were planned"):
            s.read(part=parts[1])
    finally:
        with open(departures[1], "r+b") as f:
            f.truncate(f.seek(0, 2) - 1)


@pytest.mark.parametrize("period,phase", [(7, 3), (13, 5), (40, 20), (33, 1)])
def test_parts_are_exact_where_counters_restart_every_few_revolutions(tmp_path, period, phase):
    # The same keys come again within the join's window: each part's set lines and
    # statuses must still be those of the whole read, for every size of part.
    paths = synth(tmp_path, "--hosts", "2", "--revolutions", "1500", "--blades", "3",
                  "--resync", f"{period}/{period}", "--resync", f"2:{period + phase}/{period}",
                  "--drop", "2:11")
    s = cdt.open_set(paths[0])
    whole = s.to_pandas()
    for rows in (1, 97, 400, 10**6):
        parts = s.parts(rows=rows)
        joined = pd.concat([s.to_pandas(part=p) for p in parts], ignore_index=True)
        pd.testing.assert_frame_equal(joined, whole)
    assert len(s.parts(rows=97)) > 3
    cdt._cdt._set_split_bytes(1)
    try:
        pd.testing.assert_frame_equal(s.to_pandas(), whole)
    finally:
        cdt._cdt._set_split_bytes(128 << 20)


def _read_part(args):
    path, part = args
    import pickle
    return cdt.open_set(path).to_pandas(part=pickle.loads(part))
