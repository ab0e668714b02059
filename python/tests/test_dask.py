"""Many recordings on a real two-worker cluster."""

import os
import shutil
import struct
from pathlib import Path

import dask
import pandas as pd
import pytest

import cdt
import cdt.dask
from conftest import CDT2CSV, run, synth

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster:
        with distributed.Client(cluster) as c:
            yield c


@pytest.fixture(scope="module")
def six(tmp_path_factory):
    base = tmp_path_factory.mktemp("six")
    paths = []
    # Three runs of two hosts, the second run with three probes: the union of
    # columns has NaN for the fourth probe there.
    paths += synth(base / "a", "--revolutions", "60", "--hosts", "2", "--blades", "5")
    paths += synth(base / "b", "--revolutions", "45", "--hosts", "2", "--blades", "5", "--probes", "3",
                   "--start", "2011-05-06T13:00:00Z")
    paths += synth(base / "c", "--revolutions", "30", "--hosts", "2", "--blades", "5", "--aggregate", "4",
                   "--start", "2011-05-06T14:00:00Z")
    return paths


def computed(frame, paths, **read):
    """The frame's partitions joined, after checking that every partition has
    the metadata's columns and dtypes exactly and that each file's rows are
    its own to_pandas() (exact dtypes, revolutions widened to uint64), NaN in
    the columns it lacks."""
    meta = list(zip(frame.columns, frame.dtypes))
    parts = dask.compute(*frame.to_delayed())
    for part in parts:
        assert list(zip(part.columns, part.dtypes)) == meta
    got = pd.concat(parts, ignore_index=True)
    for p in paths:
        own = cdt.open(p, encoding=read.get("encoding")).to_pandas(
            **{k: v for k, v in read.items() if k != "encoding"})
        rows = got[got["File"] == os.fsdecode(p)].reset_index(drop=True)
        assert len(rows) == len(own)
        # The k-th column of a name in the file is the k-th of that name in the union.
        place = {key: i for i, key in enumerate(cdt.dask._occurrences(list(got.columns)))}
        kept = [place[key] for key in cdt.dask._occurrences(list(own.columns))]
        # Revolution numbers are uint64 in every partition (a file's own frame
        # narrows them where they fit).
        own = own.astype({"Start Rev": "uint64", "End Rev": "uint64"})
        pd.testing.assert_frame_equal(rows.iloc[:, kept], own)
        rest = [i for i in range(1, got.shape[1]) if i not in kept]
        assert rows.iloc[:, rest].isna().all().all()
    return got


def test_frame_on_the_cluster_equals_the_files_frames(client, six):
    frame = cdt.dask.read_recordings(six, rows_per_partition=25)
    assert frame.npartitions > len(six)
    got = computed(frame, six)
    assert got["Probe104 RMS"].isna().sum() > 0
    expected = pd.concat([cdt.open(p).to_pandas() for p in six], ignore_index=True)
    blades = [c for c in got.columns if c.startswith("Probe101 Blade")]
    by = frame.groupby("Start Rev")[blades].mean().compute().sort_index()
    pd.testing.assert_frame_equal(by, expected.groupby("Start Rev")[blades].mean(), check_dtype=False, rtol=1e-6)


def test_names_in_windows_1252_and_shared_names_keep_every_probe(client, tmp_path):
    # Three probes share a name in one file, two in the other: the union has
    # three of each of its columns, the second file NaN in the third.
    one = synth(tmp_path / "a", "--revolutions", "30", "--blades", "3", "--name", "Prüfstand",
                "--probe-names", "Sonde Süd,Same,Same,Same")[-1]
    two = synth(tmp_path / "b", "--revolutions", "20", "--blades", "3", "--probes", "3",
                "--probe-names", "Same,Sonde Süd,Same", "--start", "2011-05-06T13:00:00Z")[-1]
    paths = [os.fsencode(one), Path(two)]
    frame = cdt.dask.read_recordings(paths, rows_per_partition=8)
    assert list(frame.columns).count("Same RMS") == 3 and "Sonde Süd Blade3 TOA" in frame.columns
    computed(frame, paths)
    utf8 = synth(tmp_path / "c", "--revolutions", "5", "--probes", "1", "--encoding", "utf-8",
                 "--probe-names", "Sonde Süd")[-1]
    frame = cdt.dask.read_recordings(utf8, encoding="windows-1252")
    assert "Sonde SÃ¼d RMS" in frame.columns
    computed(frame, [utf8], encoding="windows-1252")


def test_times_beyond_pandas_and_lying_index_entries(client, tmp_path):
    lying = synth(tmp_path / "a", "--revolutions", "60", "--blades", "4")[-1]
    with open(lying, "r+b") as f:
        index = struct.unpack("<Q", f.read(40)[32:40])[0]
        f.seek(index + 16 * 10)
        f.write(struct.pack("<Q", 2**63 + 5))
    computed(cdt.dask.read_recordings([lying], rows_per_partition=8, errors="skip"), [lying])
    late = synth(tmp_path / "b", "--revolutions", "5", "--blades", "4", "--start", "2300-01-01T00:00:00Z")[-1]
    frame = cdt.dask.read_recordings(late)
    with pytest.raises(ValueError, match=os.path.basename(late)):
        frame.compute()


def test_convert_refuses_to_overwrite_its_input(client, tmp_path):
    recording = tmp_path / "rec.csv"
    shutil.copy(synth(tmp_path / "a", "--revolutions", "10", "--blades", "3")[-1], recording)
    before = recording.read_bytes()
    with pytest.raises(OSError, match="rec.csv"):
        cdt.dask.convert_recordings([recording], tmp_path)
    with pytest.warns(UserWarning, match="rec.csv"):
        assert cdt.dask.convert_recordings([recording], tmp_path, errors="skip") == []
    assert recording.read_bytes() == before


def test_bad_recordings_fail_or_are_skipped(client, six, tmp_path):
    bad = tmp_path / "bad.cdt"
    bad.write_bytes(b"\0" * 100)
    with pytest.raises(cdt.FormatError, match="bad.cdt"):
        cdt.dask.read_recordings([six[0], bad])
    with pytest.warns(UserWarning, match="bad.cdt"):
        frame = cdt.dask.read_recordings([bad, six[0]], errors="skip")
    assert len(frame.compute()) == len(cdt.open(six[0]).read())
    with pytest.warns(UserWarning, match="bad.cdt"):
        written = cdt.dask.convert_recordings([six[0], bad, six[1]], tmp_path, errors="skip")
    assert len(written) == 2
    (tmp_path / "ref").mkdir()
    run(CDT2CSV, six[1], cwd=tmp_path / "ref")
    assert open(written[1], "rb").read() == (tmp_path / "ref" / written[1].rsplit("/", 1)[-1]).read_bytes()
    with pytest.raises(cdt.FormatError):
        cdt.dask.convert_recordings([bad], tmp_path)


def test_a_time_index_has_the_divisions_of_recordings_that_follow_one_another(client, six,
                                                                              tmp_path):
    runs = [synth(tmp_path / "a", "--revolutions", "80", "--blades", "3")[-1],
            synth(tmp_path / "b", "--revolutions", "50", "--blades", "3", "--probes", "2",
                  "--start", "2011-05-06T13:00:00Z")[-1]]
    frame = cdt.dask.read_recordings(runs[::-1], rows_per_partition=16, index="Time")
    assert frame.known_divisions and frame.npartitions > 4 and "Time" not in frame.columns
    expected = pd.concat([cdt.open(p).to_pandas().astype({"Start Rev": "uint64", "End Rev": "uint64"})
                          .set_index("Time") for p in runs])
    expected.insert(0, "File", [p for p in runs for _ in range(len(cdt.open(p).read()))])
    got = frame.compute()
    pd.testing.assert_frame_equal(got, expected[got.columns], check_like=False)
    # .loc reads only the partitions of its window.
    t0, t1 = expected.index[20], expected.index[40]
    window = frame.loc[t0:t1]
    assert window.npartitions < frame.npartitions / 2
    pd.testing.assert_frame_equal(window.compute(), got.loc[t0:t1])
    # Hosts of one set share their times: no divisions, the same lines.
    shared = cdt.dask.read_recordings(six, rows_per_partition=25, index="Time")
    assert not shared.known_divisions and len(shared) == len(cdt.dask.read_recordings(six))
    # A clock that goes back leaves a partition's division: computing it says so.
    data = bytearray(open(runs[0], "rb").read())
    from conftest import blade_records
    at = blade_records(bytes(data))[100][0]
    data[at + 12:at + 20] = (1).to_bytes(8, "little")
    back = tmp_path / "back.cdt"
    back.write_bytes(bytes(data))
    with pytest.raises(ValueError, match="back.cdt: its line times go back"):
        cdt.dask.read_recordings(back, rows_per_partition=16, index="Time").compute()
    with pytest.raises(ValueError, match="index: None or 'Time'"):
        cdt.dask.read_recordings(back, index="Start Rev")


def test_sets_on_the_cluster_equal_the_set_frames_and_divide_by_revolution(client, tmp_path):
    synth(tmp_path / "d", "--hosts", "3", "--revolutions", "1500", "--blades", "4", "--drop",
          "2:9", "--late", "3:100", "--resync", "700")
    synth(tmp_path / "d", "--hosts", "2", "--revolutions", "900", "--blades", "4", "--drop",
          "2:5", "--start", "2011-05-06T13:00:00Z")
    sets = cdt.find_sets(tmp_path / "d")
    frame = cdt.dask.read_sets(tmp_path / "d", rows_per_partition=200)
    assert not frame.known_divisions
    expected = []
    for s in sets:
        f = s.to_pandas().astype({"Start Rev": "uint64", "End Rev": "uint64"})
        f.insert(0, "Set", s.files[0])
        expected.append(f)
    expected = pd.concat(expected, ignore_index=True)
    # The second set has no third host: it misses every line there.
    expected["Daq3 Status"] = expected["Daq3 Status"].fillna(cdt.sets.MISSING).astype("uint8")
    got = frame.compute().reset_index(drop=True)
    pd.testing.assert_frame_equal(got, expected)
    # One set counted on: divisions on Start Rev, and .loc reads only its partitions.
    by_rev = cdt.dask.read_sets(sets[1].files[1], rows_per_partition=200, index="Start Rev")
    assert by_rev.known_divisions and by_rev.npartitions == 5
    window = by_rev.loc[250:420]
    assert window.npartitions == 2
    own = sets[1].to_pandas().set_index("Start Rev")
    assert (window.compute()["Probe105 DNS"].values.tobytes()
            == own.loc[250:420, "Probe105 DNS"].values.tobytes())
    # A set whose counter restarts keeps unknown divisions under the same index.
    assert not cdt.dask.read_sets(sets[0].files[0], rows_per_partition=200,
                                  index="Start Rev").known_divisions


def test_a_computation_reads_only_the_columns_it_uses(client, six, tmp_path, monkeypatch):
    from dask.core import flatten
    from dask.dataframe.optimize import optimize_dataframe_getitem
    from dask.layers import DataFrameIOLayer

    def io_columns(collection):
        """The columns the graph's reading tasks receive once Dask projects it."""
        graph = optimize_dataframe_getitem(collection.dask,
                                           keys=list(flatten(collection.__dask_keys__())))
        layers = [l for l in graph.layers.values() if isinstance(l, DataFrameIOLayer)]
        return [sorted(l.io_func.columns) for l in layers]

    frame = cdt.dask.read_recordings(six, rows_per_partition=25)
    expected = pd.concat([cdt.open(p).to_pandas() for p in six], ignore_index=True)
    # The tasks of a one-column computation receive that column alone, and
    # read no probe for it.
    assert io_columns(frame["Speed"]) == [["Speed"]]
    probes_read = []
    read = cdt.Recording.read

    def spy(self, **selection):
        probes_read.append(selection.get("probes"))
        return read(self, **selection)

    with monkeypatch.context() as m:
        m.setattr(cdt.Recording, "read", spy)
        mean = frame["Speed"].mean().compute(scheduler="sync")
    assert len(probes_read) == frame.npartitions and all(p == [] for p in probes_read)
    assert mean == pytest.approx(expected["Speed"].mean(), rel=1e-6)
    # Columns of one probe (absent from one run): read with that probe alone.
    wanted = ["Probe104 Blade2 TOA", "Start Rev"]
    assert io_columns(frame[wanted]) == [sorted(wanted)]
    got = frame[wanted].compute().reset_index(drop=True)
    pd.testing.assert_frame_equal(got, expected[wanted].astype({"Start Rev": "uint64"}))
    # A set: statuses and one probe's column, equal to the whole frame's.
    synth(tmp_path / "s", "--hosts", "3", "--revolutions", "300", "--blades", "4", "--drop", "2:9")
    sets = cdt.dask.read_sets(tmp_path / "s", rows_per_partition=70)
    wanted = ["Daq2 Status", "Probe105 DNS"]
    assert io_columns(sets[wanted]) == [sorted(wanted)]
    pd.testing.assert_frame_equal(sets[wanted].compute(), sets.compute()[wanted])


def test_a_campaign_analysed_on_the_cluster_is_each_recordings_table(client, tmp_path):
    # A run-up through a resonance and one that never reaches its resonance.
    loud = synth(tmp_path / "loud", "--revolutions", "8000", "--blades", "2", "--extras", "0",
                 "--resonance", "5:200:0.008:0.3")[-1]
    quiet = synth(tmp_path / "quiet", "--revolutions", "3000", "--blades", "2", "--extras", "0",
                  "--resonance", "8:2000:0.005:0.5", "--start", "2011-05-06T13:00:00Z")[-1]
    table = cdt.dask.analyse_recordings([loud, quiet])
    own = cdt.open(loud).resonances()
    assert len(own) == 2 and list(table.columns) == ["source"] + list(own.columns)
    assert (table["source"] == loud).all()
    pd.testing.assert_frame_equal(table.drop(columns=["source", "fit_ms"]),
                                  own.drop(columns="fit_ms"))
