"""Lines and frames against the CSV that cdt2csv writes for the same file."""

import csv as csv_module
import datetime as dt
import io
import threading

import numpy as np
import pandas as pd
import pytest

import cdt
from conftest import (CDT, CDT2CSV, blade_records, decode_name, index_entries, records, run,
                      synth)


def csv_of(path, tmp_path):
    """The CSV cdt2csv writes, its header decoded as the installation wrote it
    (duplicate column names kept)."""
    run(CDT2CSV, path, cwd=tmp_path)
    csv = tmp_path / (path.rsplit("/", 1)[-1].rsplit(".", 1)[0] + ".csv")
    header, body = csv.read_bytes().split(b"\n", 1)
    names = next(csv_module.reader([decode_name(header)]))
    frame = pd.read_csv(io.BytesIO(body), header=None, float_precision="round_trip")
    frame.columns = names
    return frame


def as_csv_text(frame):
    """The frame's cells as the CSV writes them, parsed back as pandas does."""
    out = []
    for i, name in enumerate(frame.columns):
        col = frame.iloc[:, i]
        if name == "Time":
            us = col.dt.tz_localize(None).values.astype("datetime64[us]").astype(np.int64)
            out.append(pd.Series([
                dt.datetime.utcfromtimestamp(u // 60_000_000 * 60).strftime("%Y-%m-%d %H:%M:")
                + f"{(u // 1_000_000) % 60 + (u % 1_000_000) * 1e-6:05.2f}" for u in us]))
        elif name == "Sync":
            out.append(pd.Series(np.where(col, "Yes", "No"), dtype=object))
        elif name in ("Start Rev", "End Rev"):
            out.append(col.astype(np.int64))
        else:
            digits = "%.6g" if name == "Speed" else "%.8g"
            text = np.char.mod(digits, col.astype(np.float64))
            out.append(pd.Series([float(t) for t in text]))
    got = pd.concat(out, axis=1, ignore_index=True)
    got.columns = frame.columns
    return got


@pytest.mark.parametrize("shape", ["plain", "ranges", "three_probes", "damaged", "second_host",
                                   "cp1252_names", "utf8_names"])
def test_to_pandas_equals_the_csv(recordings, shape, tmp_path):
    path = recordings[shape]
    rec = cdt.open(path)
    frame = rec.to_pandas()
    expected = csv_of(path, tmp_path)
    lines = rec.read()
    assert list(frame.columns) == list(expected.columns) == rec.columns() == lines.columns()
    assert len(lines.probes) == len(rec.probe_names)  # probes sharing a name stay apart
    assert frame["Time"].dtype == "datetime64[ns, UTC]" and frame["Sync"].dtype == bool
    assert frame.filter(like="Blade").dtypes.eq(np.float32).all()
    got = as_csv_text(frame)
    pd.testing.assert_frame_equal(got, expected, check_dtype=False, check_exact=True)
    if shape == "damaged":
        assert rec.stopped["reason"] == "record cut short"


@pytest.mark.parametrize("shape, options, selection", [
    ("damaged", [], {}),
    ("cp1252_names", [], {}),  # the keys of probes that share a name tell them apart
    ("three_probes", ["--probes", "Probe102,Probe103", "--blades", "2-6"],
     {"probes": ["Probe102", "Probe103"], "blades": "2-6"}),
])
def test_the_long_frame_equals_cdt_exports_long_csv(recordings, shape, options, selection,
                                                    tmp_path):
    path = recordings[shape]
    rec = cdt.open(path)
    run(CDT, "export", "-o", tmp_path, "--layout", "long", *options, path)
    csv = tmp_path / (path.rsplit("/", 1)[-1].rsplit(".", 1)[0] + ".csv")
    header, body = csv.read_bytes().split(b"\n", 1)
    expected = pd.read_csv(io.BytesIO(body), header=None, float_precision="round_trip",
                           encoding="cp1252")
    expected.columns = header.decode().split(",")
    frame = rec.to_pandas(layout="long", **selection)
    assert list(frame.columns) == list(expected.columns) and len(frame) == len(expected) > 0
    assert frame["Blade"].dtype == np.uint16 and frame["TOA"].dtype == np.float32
    names = dict(zip(rec.probe_keys, rec.probe_names))
    assert list(frame["Probe"].astype(str).map(names)) == list(expected["Probe"])
    assert list(frame["Probe"].cat.categories) == list(rec.read(**selection).probes)
    assert (frame["Blade"].values == expected["Blade"].values).all()
    values = ["Time", "Speed", "Sync", "Start Rev", "End Rev", "DNS", "TOA"]
    pd.testing.assert_frame_equal(as_csv_text(frame[values]), expected[values],
                                  check_dtype=False, check_exact=True)


def test_windows_outside_the_recording_raise(recordings):
    rec = cdt.open(recordings["plain"])
    times = rec.read().time_us
    first, last = int(times[0]), int(times[-1])
    with pytest.raises(ValueError, match="stop: the window's stop lies before its start"):
        rec.read(start=last, stop=first)
    with pytest.raises(ValueError, match="the window ends before the recording's first line"):
        rec.to_pandas(start="2011-05-05", stop=first)
    with pytest.raises(ValueError, match="the window begins after the recording's last line"):
        rec.to_pandas(start=last + 1, stop="2030-01-01")
    # A window within the recording that holds no line is no mistake.
    assert len(rec.read(start=first + 1, stop=first + 2)) == 0
    assert len(rec.read(start=last)) == 1


def test_salvaged_unfinished_file_equals_its_recovered_copy(tmp_path):
    temp = synth(tmp_path / "crash", "--revolutions", "60", "--unfinished", "--blades", "5")[0]
    assert len(cdt.open(temp).read()) == 0  # a file being written shows no records
    salvaged = cdt.open(temp, salvage=True)
    assert not salvaged.finished
    run(CDT, "recover", temp)
    recovered = temp[: -len(".temp")]
    pd.testing.assert_frame_equal(salvaged.to_pandas(), cdt.open(recovered).to_pandas())
    assert len(salvaged.to_pandas()) == len(csv_of(recovered, tmp_path))


def test_selections_pick_columns_and_lines(recordings):
    rec = cdt.open(recordings["ranges"])
    whole = rec.to_pandas()
    part = rec.to_pandas(probes=["Probe102"], blades=range(2, 4), revolutions=(50, 120))
    assert list(part.columns) == ["Time", "Speed", "Sync", "Start Rev", "End Rev",
                                  "Probe102 RMS", "Probe102 DNS",
                                  "Probe102 Blade2 DNS", "Probe102 Blade3 DNS",
                                  "Probe102 Blade2 TOA", "Probe102 Blade3 TOA"]
    kept = whole[(whole["Start Rev"] >= 50) & (whole["Start Rev"] <= 120)]
    pd.testing.assert_frame_equal(part.reset_index(drop=True),
                                  kept[part.columns].reset_index(drop=True))
    # A blade beyond the stage of every probe kept is named, as cdt export names it.
    with pytest.raises(ValueError, match="no blade 99 in the probes selected"):
        rec.read(probes="Probe101", blades=[1, 13, 99])
    lines = rec.read(probes="Probe101", blades=[13, 1, 13])
    p = lines.probes["Probe101"]
    assert p.blade_dns.shape == (len(lines), 2) and list(p.blades) == [1, 13]
    np.testing.assert_array_equal(p.blade_dns[:, 1], whole["Probe101 Blade13 DNS"].values)
    with pytest.raises(KeyError):
        rec.read(probes=["nope"])


def test_time_windows_and_parts_join_to_the_whole_read(recordings):
    rec = cdt.open(recordings["plain"])
    whole = rec.to_pandas()
    times = whole["Time"]
    start, stop = times.iloc[10], times.iloc[30]
    window = rec.to_pandas(start=start.to_pydatetime(), stop=stop.isoformat())
    pd.testing.assert_frame_equal(window.reset_index(drop=True), whole.iloc[10:30].reset_index(drop=True))
    us = int(start.value // 1000)
    assert len(rec.read(start=us, stop=us)) == 0
    parts = rec.parts(rows=17)
    assert len(parts) > 3
    joined = pd.concat([rec.to_pandas(start=a, stop=b) for a, b in parts], ignore_index=True)
    pd.testing.assert_frame_equal(joined, whole)


def test_a_recording_keeps_where_its_window_reads_begin(recordings, tmp_path, monkeypatch):
    import os
    import shutil

    path = tmp_path / "copy.cdt"
    shutil.copy(recordings["plain"], path)
    rec = cdt.open(path)
    whole = rec.to_pandas()
    us = int(rec.read().time_us[30])
    module = cdt._recording._cdt
    real, walks = module.plan_starts, []
    monkeypatch.setattr(module, "plan_starts", lambda *a: walks.append(a[2]) or real(*a))
    expected = whole.iloc[30:].reset_index(drop=True)
    pd.testing.assert_frame_equal(rec.to_pandas(start=us), expected)
    pd.testing.assert_frame_equal(rec.to_pandas(start=us, probes="Probe101"),
                                  expected[rec.columns(probes="Probe101")])
    assert walks == [[us]]
    os.utime(path, ns=(0, 0))  # a changed file is walked again
    pd.testing.assert_frame_equal(rec.to_pandas(start=us), expected)
    assert walks == [[us], [us]]


def test_planned_parts_read_in_any_order_and_process_and_refuse_a_changed_file(recordings,
                                                                              tmp_path):
    import os
    import pickle
    import random
    import shutil
    import subprocess
    import sys

    path = tmp_path / "copy.cdt"
    shutil.copy(recordings["plain"], path)
    rec = cdt.open(path)
    whole = rec.to_pandas()
    parts = rec.parts(rows=17)
    assert len(parts) > 3 and all(p.plan is not None for p in parts[1:])
    assert [tuple(p) for p in parts] == [(a, b) for a, b in parts]
    order = list(range(len(parts)))
    random.Random(3).shuffle(order)
    frames = {i: rec.to_pandas(part=parts[i]) for i in order}
    pd.testing.assert_frame_equal(
        pd.concat([frames[i] for i in range(len(parts))], ignore_index=True), whole)
    # In another process, from pickles, the last part first.
    code = ("import pickle, sys, cdt\n"
            "path, parts = pickle.load(sys.stdin.buffer)\n"
            "rec = cdt.open(path)\n"
            "pickle.dump([rec.to_pandas(part=p) for p in parts], sys.stdout.buffer)\n")
    done = subprocess.run([sys.executable, "-c", code], input=pickle.dumps((str(path), parts[::-1])),
                          capture_output=True, check=True, env=os.environ)
    there = pickle.loads(done.stdout)[::-1]
    pd.testing.assert_frame_equal(pd.concat(there, ignore_index=True), whole)
    with pytest.raises(TypeError, match="part"):
        rec.read(part=parts[1], start=0)
    with open(path, "ab") as f:  # the file grows: the plan is not its plan any more
        f.write(bytes(8))
    with pytest.raises(ValueError, match="changed since its parts were planned"):
        rec.read(part=parts[2])
    parts = rec.parts(rows=17)  # rewritten with the same size: refused too
    data = path.read_bytes()
    path.write_bytes(data[:-20] + bytes(20))
    with pytest.raises(ValueError, match="changed since its parts were planned"):
        rec.read(part=parts[2])


def test_reads_on_two_cores_give_the_lines_of_one_reader(recordings, tmp_path):
    from cdt import _cdt

    entries = index_entries(open(recordings["plain"], "rb").read())
    lying = patched(recordings["plain"], tmp_path / "lying.cdt", {entries[50]: 1, entries[51]: 1})
    cases = [(recordings[s], {}) for s in ("plain", "ranges", "damaged", "second_host")]
    cases += [(lying, {}), (recordings["ranges"], {"revolutions": (40, 200)})]
    whole = cdt.open(recordings["plain"]).read()
    cases.append((recordings["plain"], {"start": int(whole.time_us[7]), "stop": int(whole.time_us[90])}))
    try:
        for path, window in cases:
            rec = cdt.open(path)
            _cdt._set_split_bytes(2**62)
            one, one_stopped = rec.to_pandas(**window), rec.stopped
            _cdt._set_split_bytes(1)  # every read splits
            two = rec.to_pandas(**window)
            pd.testing.assert_frame_equal(two, one, obj=f"{path} {window}")
            assert rec.stopped == one_stopped
            if not window:  # parts split at their planned middles
                parts = rec.parts(rows=20)
                assert all(p.middle is not None for p in parts[:-1])
                joined = pd.concat([rec.to_pandas(part=p) for p in parts[::-1]][::-1],
                                   ignore_index=True)
                pd.testing.assert_frame_equal(joined, one, obj=f"{path} parts")
    finally:
        _cdt._set_split_bytes(128 << 20)


def test_a_window_allocates_for_its_lines_not_for_the_file(tmp_path):
    import tracemalloc

    from conftest import synth

    rec = cdt.open(synth(tmp_path, "--revolutions", "20000", "--probes", "1", "--blades", "8")[0])
    whole = rec.read()
    first, middle = int(whole.time_us[0]), int(whole.time_us[10000])

    def peak(**window):
        tracemalloc.start()
        lines = rec.read(**window)
        used = tracemalloc.get_traced_memory()[1]
        tracemalloc.stop()
        return len(lines), used

    lines, full = peak()
    assert lines == 20000
    for window, count in [({"stop": first + 1}, 1), ({"start": middle, "stop": middle + 1}, 1),
                          ({"start": middle}, 10000)]:
        lines, used = peak(**window)
        assert lines == count, window
        # A window's arrays are made for the lines the index counts in it.
        assert used < full / 4 if count == 1 else used < full * 0.75, (window, used, full)


def test_batches_join_to_the_whole_read(recordings):
    rec = cdt.open(recordings["ranges"])
    batches = list(rec.iter_batches(rows=10, blades=[1]))
    assert {len(b) for b in batches[:-1]} == {10}
    joined = pd.concat([b.to_pandas() for b in batches], ignore_index=True)
    pd.testing.assert_frame_equal(joined, rec.to_pandas(blades=[1]))


def test_profiles_expand_packed_points(recordings):
    p = cdt.open(recordings["plain"]).profiles()
    assert len(p["time"]) == 6 and p["values"].shape == (6, 4096)
    assert (p["maxima"] >= p["values"]).all() and (p["minima"] <= p["values"]).all()


def test_convert_writes_the_bytes_of_cdt2csv(recordings, tmp_path):
    path = recordings["three_probes"]
    out = cdt.convert(path, tmp_path)
    (tmp_path / "ref").mkdir()
    run(CDT2CSV, path, cwd=tmp_path / "ref")
    ref = tmp_path / "ref" / out.rsplit("/", 1)[-1]
    assert open(out, "rb").read() == ref.read_bytes()


def test_recording_describes_the_file(recordings):
    with cdt.open(recordings["three_probes"]) as rec:
        assert rec.finished
        assert [s["blades"] for s in rec.configuration["stages"]] == [5, 9]
        assert rec.configuration["hosts"][0]["channels"][3]["probe"] is None
        # The text is the file's configuration block as it stands, which names the
        # configuration.
        header = rec.info()["header"]
        with open(recordings["three_probes"], "rb") as f:
            f.seek(header["configOffset"])
            block = f.read(header["configLength"])
        assert rec.configuration_text.encode() == block
        assert f'  name = "{rec.configuration["name"]}"\n' in rec.configuration_text
        assert rec.info()["header"]["dataOffset"] == rec.header["data_offset"]
    with pytest.raises(ValueError):
        rec.read()


def test_bad_files_raise_and_never_crash(tmp_path, recordings):
    with pytest.raises(FileNotFoundError):
        cdt.open(tmp_path / "missing.cdt")
    junk = tmp_path / "junk.cdt"
    junk.write_bytes(b"not a data file at all" * 3)
    with pytest.raises(cdt.FormatError, match="junk.cdt.*not a data file"):
        cdt.open(junk)
    assert issubclass(cdt.FormatError, ValueError)
    # Every cut of a real file either opens or raises FormatError.
    data = open(recordings["damaged"], "rb").read()
    for n in range(0, len(data), max(1, len(data) // 97)):
        cut = tmp_path / "cut.cdt"
        cut.write_bytes(data[:n])
        try:
            for salvage in (False, True):
                rec = cdt.open(cut, salvage=salvage)
                rec.read()
                rec.profiles()
        except cdt.FormatError:
            pass


def test_threads_read_files_at_once(recordings):
    paths = list(recordings.values())
    expected = [len(cdt.open(p).read()) for p in paths]
    got = [None] * len(paths)

    def read(i):
        got[i] = len(cdt.open(paths[i]).read())

    threads = [threading.Thread(target=read, args=(i,)) for i in range(len(paths))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert got == expected


def patched(source, target, edits):
    """A copy of `source` with u64 values written at offsets: {offset: value}."""
    data = bytearray(open(source, "rb").read())
    for at, value in edits.items():
        data[at:at + 8] = value.to_bytes(8, "little")
    target.write_bytes(bytes(data))
    return str(target)


def test_times_pandas_or_datetime64_cannot_hold_raise_naming_the_line(tmp_path):
    late = synth(tmp_path / "late", "--revolutions", "30", "--blades", "3", "--extras", "0",
                 "--start", "2300-01-01T00:00:00Z")[0]
    rec = cdt.open(late)
    lines = rec.read()
    assert lines.time[0] == np.datetime64("2300-01-01T00:00:00", "us")
    assert int(lines.time_us[0]) == (lines.time[0] - np.datetime64(0, "us")) // np.timedelta64(1, "us")
    with pytest.raises(ValueError, match=r"late.*line 1\b.*datetime64\[ns\]"):
        rec.to_pandas()
    # The line opened by the last channel-0 record is the last line; give it a time past 2**63.
    data = open(late, "rb").read()
    last = [at for at, channel in blade_records(data) if channel == 0][-1]
    huge = patched(late, tmp_path / "huge.cdt", {last + 12: 2**63 + 5})
    lines = cdt.open(huge).read()
    n = len(lines)
    assert int(lines.time_us[-1]) == 2**63 + 5 and (lines.time_us[:-1] < 2**63).all()
    with pytest.raises(ValueError, match=rf"huge\.cdt: line {n}\b"):
        lines.time
    batches = list(cdt.open(huge).iter_batches(rows=7))
    batches[0].time  # the lines before keep their times
    with pytest.raises(ValueError, match=rf"huge\.cdt: line {n}\b"):
        batches[-1].time
    # A follow numbers its batches' lines on from the batches before.
    followed = list(cdt.follow(huge, rows=7))
    assert len(followed) > 2
    with pytest.raises(ValueError, match=rf"huge\.cdt: line {n}\b"):
        followed[-1].time
    # Profiles: the same rule, naming the profile.
    prof = synth(tmp_path / "prof", "--revolutions", "30", "--blades", "3", "--extras", "0",
                 "--profiles", "10")[0]
    second = records(open(prof, "rb").read(), 2)[1][0]
    bad = cdt.open(patched(prof, tmp_path / "badprof.cdt", {second + 12: 2**63 + 5}))
    with pytest.raises(ValueError, match=r"badprof\.cdt: profile 2\b"):
        bad.profiles()


@pytest.mark.parametrize("jump_bytes", [2**62, 0])
def test_parts_leave_out_lying_index_times(recordings, tmp_path, jump_bytes):
    from cdt import _cdt

    source = recordings["plain"]
    data = open(source, "rb").read()
    entries = index_entries(data)
    position_79 = int.from_bytes(data[entries[79] + 8:entries[79] + 16], "little")
    lying = patched(source, tmp_path / "lying.cdt",
                    {entries[20]: 2**63 + 1, entries[40]: 2**64 - 1, entries[60]: 1,
                     entries[80] + 8: position_79})
    rec = cdt.open(lying)
    parts = rec.parts(rows=10)
    bounds = [b for part in parts for b in part if b is not None]
    assert len(parts) > 3 and all(0 <= b < 2**63 for b in bounds)
    assert all(a < b for (a, _), (b, _) in zip(parts[1:], parts[2:]))
    whole = rec.to_pandas()
    try:
        # 0: every window's own seek jumps near its entry where the records
        # there agree with the index, and walks from the start where not.
        _cdt._set_jump_bytes(jump_bytes)
        joined = pd.concat([rec.to_pandas(start=a, stop=b) for a, b in parts], ignore_index=True)
    finally:
        _cdt._set_jump_bytes(4 << 20)
    pd.testing.assert_frame_equal(joined, whole)


def test_batches_are_sized_by_what_the_file_holds(recordings, tmp_path):
    rec = cdt.open(recordings["plain"])
    (batch,) = list(rec.iter_batches(rows=2**40))  # 8 TiB if made at the size asked
    pd.testing.assert_frame_equal(batch.to_pandas(), rec.to_pandas())
    # Without an index the first guess is short: batches grow to `rows` lines each.
    temp = synth(tmp_path / "open", "--revolutions", "1500", "--probes", "1", "--blades", "1",
                 "--unfinished")[0]
    rec = cdt.open(temp, salvage=True)
    batches = list(rec.iter_batches(rows=1100))
    assert [len(b) for b in batches] == [1100, 400]
    joined = pd.concat([b.to_pandas() for b in batches], ignore_index=True)
    pd.testing.assert_frame_equal(joined, rec.to_pandas())
