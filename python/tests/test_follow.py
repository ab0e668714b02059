"""Following recordings while `cdt synth --live` writes them: the batches joined
are the finished recording's read, a dying writer's are what `cdt recover` keeps."""

import _thread
import os
import re
import signal
import subprocess
import sys
import threading
import time
import urllib.request
import warnings
from pathlib import Path

import pandas as pd
import pytest

import cdt
from conftest import CDT, run, synth


def live_writer(directory, *options, hosts=1):
    """A `cdt synth --live` writer and the paths of the files it is writing."""
    writer = subprocess.Popen([str(CDT), "synth", "--live", *options, str(directory)],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    paths = [writer.stdout.readline().strip() for _ in range(hosts)]
    assert all(p.endswith(".cdt.temp") for p in paths), paths
    return writer, paths


def when_readable(open_it, *args):
    """`open_it(*args)` once the writer has written the header and the
    configuration (it may still hold them in its buffer at first)."""
    deadline = time.monotonic() + 30
    while True:
        try:
            return open_it(*args)
        except ValueError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.02)


def joined(batches):
    return pd.concat([b.to_pandas() for b in batches], ignore_index=True)


def test_followed_batches_are_the_finished_files_lines(tmp_path):
    writer, (temp,) = live_writer(tmp_path, "4", "--revolutions", "300", "--blades", "6",
                                  "--probes", "2", "--profiles", "40", "--aggregate", "3")
    selection = dict(probes=[1], blades=range(2, 5), revolutions=(60, 250))
    results = {}

    def follow_selected():
        results["selected"] = list(cdt.follow(temp, rows=7, idle=30, **selection))

    # One follow from the first byte written, one once the file opens.
    other = threading.Thread(target=follow_selected)
    other.start()
    with when_readable(cdt.open, temp) as rec:
        assert not rec.finished
        batches = list(rec.follow(rows=50, idle=30))
    other.join()
    assert writer.wait(timeout=60) == 0
    final = temp[:-len(".temp")]
    with cdt.open(final) as rec:
        pd.testing.assert_frame_equal(joined(batches), rec.to_pandas())
        pd.testing.assert_frame_equal(joined(results["selected"]), rec.to_pandas(**selection))
    # Lines came as the file grew, never more than asked for at once.
    assert len(batches) > 1 and max(len(b) for b in batches) <= 50
    assert max(len(b) for b in results["selected"]) <= 7


def test_a_set_followed_is_the_finished_sets_join(tmp_path):
    writer, paths = live_writer(tmp_path, "3", "--hosts", "3", "--revolutions", "400",
                                "--blades", "5", "--probes", "1", "--late", "Daq2:50",
                                "--drop", "3:7", hosts=3)
    live = when_readable(cdt.open_set, paths[1])
    assert live.files == paths and live.master == "Daq1"
    follow = live.follow(rows=64, probes=["Probe101", "Probe103"], idle=30)
    batches = list(follow)
    assert writer.wait(timeout=60) == 0 and follow.status == "finished"
    finished = cdt.open_set(tmp_path)
    expected = finished.to_pandas(probes=["Probe101", "Probe103"])
    got = joined(batches)
    pd.testing.assert_frame_equal(got, expected)
    # The late host is missing from the first set lines, as in the read.
    assert got["Daq2 Status"].iloc[0] == cdt.sets.MISSING


def test_a_finished_set_longer_than_the_followers_ring_is_followed_whole(tmp_path):
    # More set lines than a host's ring has slots (about 4,100): every slot is freed and
    # used again, and the follow ends (a slot never freed would hand out a ring's worth
    # and wait for ever).
    import threading

    paths = synth(tmp_path, "--hosts", "2", "--revolutions", "4500", "--blades", "1",
                  "--probes", "1", "--drop", "2:9")
    s = cdt.open_set(paths[0])
    results = {}
    reader = threading.Thread(target=lambda: results.update(b=list(s.follow(rows=1000,
                                                                              idle=5))))
    reader.daemon = True
    reader.start()
    reader.join(timeout=300)
    assert not reader.is_alive(), "the follow of a finished set did not end"
    pd.testing.assert_frame_equal(joined(results["b"]), s.to_pandas())


def test_a_dying_writer_gives_what_recover_keeps(tmp_path):
    writer, (temp,) = live_writer(tmp_path, "4", "--revolutions", "200", "--blades", "4",
                                  "--probes", "2", "--unfinished")
    with pytest.warns(cdt.FollowWarning, match="has not grown for 5 s .* as cdt recover"):
        follow = cdt.follow(temp, idle=5)
        batches = list(follow)
    assert writer.wait(timeout=60) == 0 and follow.status == "idle"
    run(CDT, "recover", temp, tmp_path / "recovered.cdt")
    with cdt.open(tmp_path / "recovered.cdt") as rec:
        pd.testing.assert_frame_equal(joined(batches), rec.to_pandas())


def test_stop_close_and_interrupt_end_a_follow_promptly(tmp_path):
    writer, (temp,) = live_writer(tmp_path, "max", "--revolutions", "50", "--blades", "3",
                                  "--unfinished")
    assert writer.wait(timeout=60) == 0
    # A file that never grows again, followed without an idle time: only a
    # stop, a close or an interrupt ends the follow.
    # Stopped once every whole line was handed out (not after a fixed delay,
    # which a busy machine may outrun).
    follow = cdt.follow(temp, idle=None)
    watchdog = threading.Timer(60, follow.stop)
    watchdog.start()
    got = 0
    began = None
    for batch in follow:
        got += len(batch)
        if got >= 49 and began is None:
            threading.Timer(0.1, follow.stop).start()
            began = time.monotonic()
    watchdog.cancel()
    assert got == 49  # the line in progress is dropped
    assert follow.status == "stopped" and time.monotonic() - began < 30

    with cdt.follow(temp, idle=None) as follow:
        next(follow)
    assert follow.status == "stopped" and list(follow) == []

    # A runner that starts the tests with SIGINT ignored (a background job,
    # some CI runners) would make the interrupt below do nothing.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    follow = cdt.follow(temp, idle=None)
    watchdog = threading.Timer(60, follow.stop)
    watchdog.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            # The interrupt comes while the follow waits, inside this block.
            next(follow)
            threading.Timer(0.1, _thread.interrupt_main).start()
            began = time.monotonic()
            for _ in follow:
                pass
    finally:
        watchdog.cancel()
        follow.close()
        signal.signal(signal.SIGINT, previous)
    assert time.monotonic() - began < 30


def test_a_file_rewritten_in_place_fails_the_follow(tmp_path):
    # Each pass lasts seconds: a follow that starts late still reads bytes
    # the second pass changes afterwards.
    writer, (temp,) = live_writer(tmp_path, "2", "--revolutions", "400", "--start-over", "200",
                                  "--blades", "3")
    with pytest.raises(cdt.FormatError, match="rewritten in place"):
        for _ in cdt.follow(temp, idle=30):
            pass
    assert writer.wait(timeout=120) == 0


def test_follow_errors_name_the_file(tmp_path, recordings):
    with pytest.raises(FileNotFoundError, match="no data file appeared"):
        list(cdt.follow(tmp_path / "none.cdt", idle=0.2))
    with pytest.raises(cdt.UnknownProbeError, match="no probe 'nothing'"):
        list(cdt.follow(recordings["plain"], probes="nothing"))
    with pytest.raises(ValueError, match="idle"):
        cdt.follow(recordings["plain"], idle=-1)
    not_data = tmp_path / "x.cdt.temp"
    not_data.write_bytes(b"\0" * 100)
    with pytest.raises(cdt.FormatError, match="x.cdt.temp"):
        list(cdt.follow(not_data))
    # A finished file is followed to its end at once.
    with cdt.open(recordings["ranges"]) as rec:
        pd.testing.assert_frame_equal(joined(rec.follow()), rec.to_pandas())


def test_the_live_report_says_how_far_the_file_has_come_and_writes_its_final_page(tmp_path):
    # About 10 s of writing: the page is seen while the file grows.
    writer, (temp,) = live_writer(tmp_path / "rec", "4", "--revolutions", "2000", "--blades", "6")
    server = subprocess.Popen([sys.executable, "-m", "cdt", "report", "--follow", temp, "--idle",
                               "30", "--exit-when-done", "-o", str(tmp_path / "pages")],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    url = server.stdout.readline().split()[-1]
    growing = []
    while writer.poll() is None:
        with urllib.request.urlopen(url + "page", timeout=30) as reply:
            text = reply.read().decode("utf-8")
        if re.search(r"being written: [1-9]\d* lines so far", text):
            growing.append(text)
        time.sleep(0.3)
    out, err = server.communicate(timeout=300)
    assert writer.wait() == 0 and server.returncode == 0, err
    # While it grew, the page said how far it had been read, not where reading stopped.
    assert growing
    for text in growing:
        assert "Reading stopped" not in text and "whole records so far, to byte" in text
        assert "counted when finished" in text and "Blade resonances" not in text
    # The page written at the end is the one report writes of the finished file.
    (written,) = out.splitlines()
    again = cdt.report(temp[:-5], tmp_path / "again")
    assert os.path.basename(written) == os.path.basename(again)

    def page(path):
        return re.sub(r"Written by .* UTC\.", "", Path(path).read_text(encoding="utf-8"))

    assert page(written) == page(again)
