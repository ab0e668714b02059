"""Quick-look pages of recordings of several shapes."""

import re
import subprocess
import sys

import pytest

import cdt
from conftest import synth

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
    assert len(images) == sum(1 for s in sections if s != "summary")
    assert "http" not in text.replace("http-equiv", "")  # nothing to fetch
    state = re.search(r'class="state (\w+)"', text).group(1)
    assert state == {"damaged": "damaged", "unfinished": "unfinished"}.get(shape, "finished")
    if state != "finished":
        assert 'class="note"' in text
    if shape == "missing_probe":
        assert "<i>no probe</i>" in text


def test_runup_marks_the_resonance_and_the_unsynchronised_start(pages):
    _, text, _ = pages["runup"]
    peaks = [(int(b), float(s)) for b, s in re.findall(r"<li>blade (\d+) at speed ([\d.]+)", text)]
    assert peaks, "no resonance peak marked"
    # The synthetic blades resonate at 0.8 of the final 3000.
    assert abs(peaks[0][1] - 2400) < 120
    assert "not synchronised" not in text or "Shaded red" in text


def test_command_goes_on_after_a_file_it_cannot_open(pages, tmp_path):
    good = pages["ranges"][0]
    bad = tmp_path / "not-a-recording.cdt"
    bad.write_bytes(b"no data file" * 10)
    run = subprocess.run([sys.executable, "-m", "cdt", "report", str(bad), "nowhere.cdt", good,
                          "-o", str(tmp_path / "out")], capture_output=True, text=True)
    assert run.returncode == 1
    assert run.stdout.strip().endswith(".html") and len(run.stdout.splitlines()) == 1
    assert "not-a-recording.cdt" in run.stderr and "nowhere.cdt" in run.stderr
