"""Many recordings on a real two-worker cluster."""

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


def test_frame_on_the_cluster_equals_the_files_frames(client, six):
    frame = cdt.dask.read_recordings(six, rows_per_partition=25)
    assert frame.npartitions > len(six)
    got = frame.compute().reset_index(drop=True)
    expected = pd.concat([cdt.open(p).to_pandas().assign(File=p) for p in six], ignore_index=True)
    expected = expected[list(got.columns)]
    pd.testing.assert_frame_equal(got, expected, check_dtype=False)
    assert list(frame.columns) == list(got.columns) and got["Probe104 RMS"].isna().sum() > 0
    blades = [c for c in got.columns if c.startswith("Probe101 Blade")]
    by = frame.groupby("Start Rev")[blades].mean().compute().sort_index()
    pd.testing.assert_frame_equal(by, expected.groupby("Start Rev")[blades].mean(), check_dtype=False, rtol=1e-6)


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
