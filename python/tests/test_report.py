"""Quick-look pages of recordings of several shapes."""

import base64
import io
import json
import re
import resource
import signal
import struct
import subprocess
import sys
from pathlib import Path

import matplotlib.image
import numpy as np
import pytest

import cdt
from cdt.report.figures import _blade_ticks
from conftest import BUILD, synth

SHAPES = {
    # A run-up with profile records and the resonance the blades cross at 0.8
    # of the final speed.
    "runup": (["--revolutions", "3000", "--probes", "2", "--blades", "16", "--profiles", "400"],
              {"summary", "speed", "probe-Probe101", "toa-Probe101", "profiles"}),
    "ranges": (["--revolutions", "900", "--aggregate", "7", "--probes", "1", "--blades", "13"],
               {"summary", "speed", "probe-Probe101", "toa-Probe101"}),
    # Probes on channels 0 to 2 only: channel 3 has none.
    "missing_probe": (["--revolutions", "200", "--probes", "3", "--stages", "2", "--blades", "5,9"],
                      {"summary", "speed", "probe-Probe103", "toa-Probe103"}),
    "damaged": (["--revolutions", "300", "--damage", "--probes", "1", "--blades", "6"],
                {"summary", "speed", "probe-Probe101"}),
    "unfinished": (["--revolutions", "300", "--unfinished", "--probes", "1", "--blades", "6"],
                   {"summary", "speed", "probe-Probe101"}),
    # Blades driven through a resonance at engine order 8: the table at the top.
    "vibrating": (["--revolutions", "4000", "--probes", "4", "--blades", "3", "--extras", "0",
                   "--resonance", "8:360:0.005:0.5"],
                  {"summary", "resonances", "speed", "probe-Probe104"}),
}


@pytest.fixture(scope="module")
def pages(tmp_path_factory):
    base = tmp_path_factory.mktemp("report")
    made = {}
    for name, (options, _) in SHAPES.items():
        recording = synth(base / name, *options)[-1]
        page = cdt.report(recording, base / "pages")
        made[name] = (recording, open(page, encoding="utf-8").read(), page)
    return made


@pytest.mark.parametrize("shape", list(SHAPES))
def test_page_holds_every_section_that_applies(pages, shape):
    recording, text, page = pages[shape]
    assert page.endswith(".html") and ".cdt" not in page.rsplit("/", 1)[-1]
    sections = set(re.findall(r'<h2 id="([^"]+)"', text))
    assert SHAPES[shape][1] <= sections
    assert ("profiles" in sections) == (shape == "runup")
    images = re.findall(r'src="data:image/png;base64,([A-Za-z0-9+/=]+)"', text)
    assert len(images) == sum(1 for s in sections if s not in ("summary", "resonances"))
    assert "http" not in text.replace("http-equiv", "")  # nothing to fetch
    state = re.search(r'class="state (\w+)"', text).group(1)
    assert state == {"damaged": "damaged", "unfinished": "unfinished"}.get(shape, "finished")
    if state != "finished":
        assert 'class="note"' in text
    if shape == "missing_probe":
        assert "<i>no probe</i>" in text


def test_the_resonance_table_is_the_analysis(pages):
    recording, text, _ = pages["vibrating"]
    table = re.search(r'<h2 id="resonances">.*?</table>', text, re.S).group(0)
    rows = re.findall(r"<tr><td>([^<]*)</td><td>(\d+)</td><td>(\d+)</td><td>([\d.]+)</td>"
                      r"<td>([\d.]+)</td>", table)
    own = cdt.open(recording).resonances()
    assert len(own) == 3 and set(own["engine_order"]) == {8}
    assert [(int(b), int(k), float(f)) for _, b, k, _, f in rows] == [
        (b, k, round(f, 2)) for b, k, f in zip(own["blade"], own["engine_order"], own["frequency_hz"])]


def test_the_demo_shows_the_samples_resonance_and_writes_its_page(tmp_path):
    root = Path(__file__).resolve().parents[2]
    shown = subprocess.run([root / "scripts" / "demo.sh", BUILD, tmp_path], check=True,
                           capture_output=True, text=True).stdout
    # The sample's eight blades cross engine order 8 at 360 Hz, about 2700 rpm.
    table = shown.split("The blade resonances of the sample", 1)[1]
    assert len(re.findall(r"^ *\S+ +\d+ +8 +2[67]\d\d\.\d +3[56]\d\.", table, re.M)) == 8, shown
    assert shown.rstrip().endswith(f"resonance table included: {tmp_path}/sample.html"), shown
    page = (tmp_path / "sample.html").read_text(encoding="utf-8")
    assert '<h2 id="resonances">' in page and (tmp_path / "sample.csv").is_file()


def test_campbell_diagram_marks_the_truth_and_every_axis_has_its_unit(tmp_path, monkeypatch):
    """A `cdt synth --resonance` run-up: its stage's Campbell diagram has a
    dot at each blade's true crossing (speed, frequency), the amplitude
    picture draws every blade, and every axis of every picture says its
    unit (a blade number has none)."""
    from cdt.report import figures, stages
    drawn = {}

    def keep(fig, png=figures._png):
        title = next((ax.get_title() for ax in fig.axes if ax.get_title()), "")
        drawn[title] = fig.axes
        return png(fig)

    monkeypatch.setattr(figures, "_png", keep)
    monkeypatch.setattr(stages, "_png", keep)
    recording = synth(tmp_path / "rec", *SHAPES["vibrating"][0])[-1]
    truth = json.loads((tmp_path / "rec" / "Rig1.truth.json").read_text())["resonances"]
    text = open(cdt.report(recording, tmp_path / "pages"), encoding="utf-8").read()
    assert {"campbell-Stage1", "amplitude-Stage1"} <= set(re.findall(r'<h2 id="([^"]+)"', text))
    campbell = drawn["Stage1: Campbell diagram"][0]
    dots = np.vstack([c.get_offsets() for c in campbell.collections if len(c.get_offsets())])
    for t in truth:
        near = np.abs(dots[:, 0] - t["speed_rpm"]) / t["speed_rpm"] + np.abs(
            dots[:, 1] - t["frequency_hz"]) / t["frequency_hz"]
        assert near.min() < 0.02, (t, dots)
    amplitude = drawn["Stage1: tip deflection amplitude against speed, every blade"][0]
    assert len(amplitude.lines) == 3 and "(mm)" in amplitude.get_ylabel()
    for title, axes in drawn.items():
        for ax in axes:
            for label in (ax.get_xlabel(), ax.get_ylabel()):
                assert label in ("", "Blade") or re.search(r"\(.+\)", label), (title, label)
    assert "clearance unit" in text and "µs after the revolution" in text


def test_runup_marks_the_resonance_and_the_unsynchronised_start(pages):
    recording, text, _ = pages["runup"]
    peaks = [(int(b), float(s)) for s, b in re.findall(r"<li>at ([\d.]+) rpm: \d+ of \d+ blades; "
                                                        r"the largest, blade (\d+)", text)]
    assert peaks, "no resonance peak marked"
    # The synthetic blades resonate at 0.8 of the final 3000.
    assert abs(peaks[0][1] - 2400) < 120
    # Its first revolutions are not locked to the shaft: the summary counts
    # the CSV's unsynchronised lines, and the speed picture shades the start
    # red over the axes' height (the legend's red patch is a few rows only).
    lines = cdt.open(recording).read(probes=[])
    unsync = int(np.count_nonzero(~lines.sync))
    assert unsync > 0 and f"{len(lines)} ({unsync} not synchronised to the shaft)" in text
    speed = re.search(r'alt="shaft speed against time" src="data:image/png;base64,([^"]+)"', text).group(1)
    pixels = matplotlib.image.imread(io.BytesIO(base64.b64decode(speed)))[..., :3]
    r, g, b = pixels[..., 0], pixels[..., 1], pixels[..., 2]
    red = (r > 0.9) & (r - g > 0.05) & (abs(g - b) < 0.03)
    shaded = np.flatnonzero(red.sum(axis=0) > pixels.shape[0] // 3)
    assert shaded.size and shaded[0] < pixels.shape[1] // 8, "the unsynchronised start is not shaded"


def test_command_goes_on_after_a_file_it_cannot_open(pages, tmp_path):
    good = pages["ranges"][0]
    bad = tmp_path / "not-a-recording.cdt"
    bad.write_bytes(b"no data file" * 10)
    run = subprocess.run([sys.executable, "-m", "cdt", "report", str(bad), "nowhere.cdt", good,
                          "-o", str(tmp_path / "out")], capture_output=True, text=True)
    assert run.returncode == 1
    assert run.stdout.strip().endswith(".html") and len(run.stdout.splitlines()) == 1
    assert "not-a-recording.cdt" in run.stderr and "nowhere.cdt" in run.stderr


def test_a_page_cut_short_by_a_failing_write_leaves_the_old_one(pages, tmp_path):
    recording = pages["ranges"][0]
    out = tmp_path / "out"
    out.mkdir()
    old = out / (Path(recording).name[:-4] + ".html")
    old.write_text("the page before")

    def small_files():  # the page is about 200 kB
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (50_000, 50_000))

    run = subprocess.run([sys.executable, "-m", "cdt", "report", recording, "-o", str(out)],
                         preexec_fn=small_files, capture_output=True, text=True)
    assert run.returncode == 1 and run.stdout == "" and "File too large" in run.stderr, run.stderr
    assert [p.name for p in out.iterdir()] == [old.name] and old.read_text() == "the page before"


def relaid(source, target, edit=lambda text: text, records=None):
    """Writes a copy of a data file with its configuration text edited (and,
    given `records`, those records and no index), laid out afresh."""
    data = open(source, "rb").read()
    length, first, index, end = struct.unpack_from("<4Q", data, 16)
    text = edit(data[56:56 + length])
    body, entries = data[first:index], data[index:end]
    if records is not None:
        body, entries = records, b""
    start = (56 + len(text) + 7) & ~7
    shift = start - first
    moved = b"".join(struct.pack("<2Q", t, p + shift) for t, p in struct.iter_unpack("<2Q", entries))
    header = bytearray(data[:56])
    struct.pack_into("<4Q", header, 16, len(text), start, start + len(body), start + len(body) + len(moved))
    with open(target, "wb") as f:
        f.write(bytes(header) + text + b"\0" * (start - 56 - len(text)) + body + moved)
    return str(target)


LONG = "L" * 2400 + "$x^" + "M" * 2597


def hostile(base, case):
    """The recording of a hostile case and the command's extra options."""
    if case == "windows-1252 names, duplicates":
        return synth(base, "--revolutions", "80", "--blades", "7", "--name", "Prüfstand",
                     "--probe-names", "Sonde Süd,Same,Same,Other")[-1], []
    if case == "utf-8 names read as windows-1252":
        return synth(base, "--revolutions", "40", "--blades", "3", "--probes", "1", "--encoding", "utf-8",
                     "--probe-names", "Sonde Süd")[-1], ["--encoding", "windows-1252"]
    made = synth(base, "--revolutions", "80", "--probes", "1", "--blades", "5", "--probe-names", "P1",
                 "--start", "2300-01-01T00:00:00Z" if case == "after 2262" else "2011-05-06T12:30:00Z")[-1]
    if case == "12001 blades":
        return relaid(made, base / "wide.cdt", lambda t: t.replace(b"blades = 5\n", b"blades = 12001\n")), []
    if case == "5000-character name":
        return relaid(made, base / "long.cdt", lambda t: t.replace(b'"P1"', b'"' + LONG.encode() + b'"')), []
    if case == "no lines":
        return relaid(made, base / "empty.cdt", records=b""), []
    if case.startswith("damaged before the first line"):
        # The first record cut short: no line, so only the stop and cdt info
        # tell of the damage (and cdt info knows no cp437).
        data = open(made, "rb").read()
        first = int.from_bytes(data[24:32], "little")
        cut = relaid(made, base / "cut.cdt", records=data[first:first + 30])
        return cut, ["--encoding", "cp437"] if case.endswith("info") else []
    return made, []


CASES = {
    # case: (texts the page holds, texts it must not)
    "windows-1252 names, duplicates": (["<h1>Prüfstand.0000", 'id="probe-Sonde_Süd"', "Probe Same (channel 1)",
                                        "Probe Same (channel 2)", "Probe Other"], ["\ufffd"]),
    "utf-8 names read as windows-1252": (["Probe Sonde SÃ¼d"], ["Sonde Süd"]),
    "12001 blades": (["one curve per 101 consecutive blades"], []),
    "5000-character name": (["Probe " + LONG], []),
    "after 2262": (["2300-01-01 00:00:00.000 UTC to 2300-01-01"], ["1715-"]),
    "no lines": (["No lines could be read", "Reading stopped</th><td>end of records, at byte"], []),
    "damaged before the first line": (['class="state damaged"', "record cut short, at byte"], []),
    "damaged before the first line, without cdt info": (
        ['class="state damaged"', "record cut short, at byte", "not counted: "], []),
}


@pytest.mark.parametrize("case", list(CASES))
def test_command_gives_a_page_for_hostile_files(tmp_path, case):
    recording, options = hostile(tmp_path / "rec", case)
    run = subprocess.run([sys.executable, "-m", "cdt", "report", recording, "-o", str(tmp_path / "out"),
                          *options], capture_output=True)
    assert run.returncode == 0 and run.stderr == b"", run.stderr.decode(errors="replace")[-3000:]
    page = run.stdout.rstrip(b"\n")
    assert page.startswith(bytes(tmp_path / "out")) and b"\n" not in page  # the name's own bytes
    text = open(page, encoding="utf-8").read()
    holds, lacks = CASES[case]
    for t in holds:
        assert t in text
    for t in lacks:
        assert t not in text
    assert [p.name for p in (tmp_path / "out").iterdir()] == [page.rsplit(b"/", 1)[-1].decode("utf-8", "surrogateescape")]


def test_blade_ticks_stay_about_a_dozen_for_any_count():
    for count in (1, 7, 12, 13, 999, 12001, 10**7):
        ticks = _blade_ticks(count)
        assert ticks[0] == 1 and ticks == sorted(set(ticks)) and ticks[-1] <= count and len(ticks) <= 13
