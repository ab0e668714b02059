"""Quick-look pages of recording sets (python3 -m cdt report --set)."""

import re
import subprocess
import sys

import cdt
from conftest import synth

NAME = "Rig1.0000.2011-05-06.12-30-00.html"


def report(*args):
    return subprocess.run([sys.executable, "-m", "cdt", "report", "--set", *map(str, args)],
                          capture_output=True, text=True)


def coverage(text):
    """The coverage table's rows: host -> [revolutions, lines, missing,
    time off, speed off, restarts] as the page writes them."""
    table = re.search(r'<table class="coverage">(.*?)</table>', text).group(1)
    rows = re.findall(r"<tr><td>(.*?)</td>(.*?)</tr>", table)
    return {host.replace(" (master)", ""): re.findall(r"<td>(.*?)</td>", cells)
            for host, cells in rows}


def test_a_set_with_departing_hosts_gets_one_page_that_counts_them(tmp_path):
    files = synth(tmp_path / "set", "--hosts", "3", "--revolutions", "2000", "--probes", "2",
                  "--blades", "6", "--drop", "Daq2:7", "--late", "Daq3:200", "--resync", "1500")
    run = report(tmp_path / "set", "-o", tmp_path / "out")
    assert run.returncode == 0 and run.stderr == "", run.stderr
    assert run.stdout.splitlines() == [str(tmp_path / "out" / NAME)]
    text = (tmp_path / "out" / NAME).read_text(encoding="utf-8")

    s = cdt.open_set(files[0])
    info = s.info()
    table = coverage(text)
    assert list(table) == s.hosts == ["Daq1", "Daq2", "Daq3"]
    for host in info["hosts"]:
        shown = table[host["name"]]
        assert shown == [f"{host['first_rev']} to {host['last_rev']}"] + [
            str(host[k]) for k in ("lines", "missing", "time_off", "speed_off", "restarts")]
    # What was injected: every 7th revolution of Daq2, the first 200 of Daq3,
    # one restart of every counter.
    missing = {h["name"]: h["missing"] for h in info["hosts"]}
    assert missing == {"Daq1": 0, "Daq2": 2000 // 7, "Daq3": 200}
    assert all(h["restarts"] == 1 for h in info["hosts"])
    assert "Hosts agree</th><td><b>no</b>" in text

    sections = set(re.findall(r'<h2 id="([^"]+)"', text))
    assert {"summary", "coverage", "speed"} <= sections
    assert len(s.probe_keys) == 6
    for key in s.probe_keys:
        assert {f"probe-{key}", f"toa-{key}"} <= sections
    images = re.findall(r'alt="([^"]+)" src="data:image/png;base64,', text)
    # The stage's Campbell diagram and amplitude against speed, then the
    # coverage, the speed and two pictures per probe.
    assert images[:3] == ["Stage1 Campbell diagram: frequency against speed",
                          "Stage1 tip deflection amplitude against speed, every blade",
                          "coverage of the hosts against time"] and len(images) == 2 + 2 + 2 * 6


def test_a_directory_gives_every_set_and_a_line_for_each_that_gets_none(tmp_path):
    base = tmp_path / "sets"
    synth(base, "--hosts", "2", "--revolutions", "200", "--probes", "1", "--blades", "4")
    damaged = synth(base, "--hosts", "2", "--revolutions", "200", "--probes", "1", "--blades", "4",
                    "--damage", "--start", "2011-05-06T13:00:00Z")
    junk = base / "Rig1.0000.Daq1.2011-05-06.14-00-00.cdt"
    junk.write_bytes(b"not a data file" * 10)
    out = tmp_path / "out"

    run = report(base, "-o", out)
    assert run.returncode == 1
    assert [line.rsplit("/", 1)[-1] for line in run.stdout.splitlines()] == [
        NAME, "Rig1.0000.2011-05-06.13-00-00.html"]
    assert run.stderr.splitlines() == [f"cdt report: {junk}: not a readable data file"]
    # The damaged set is read to its hosts' last whole records and says so.
    text = (out / "Rig1.0000.2011-05-06.13-00-00.html").read_text(encoding="utf-8")
    assert text.count('class="state damaged"') == 2 and 'class="note"' in text

    run = report(base, "--time", "2011-05-06T13:00:00Z", "-o", tmp_path / "one")
    assert run.returncode == 0 and len(run.stdout.splitlines()) == 1
    assert [p.name for p in (tmp_path / "one").iterdir()] == ["Rig1.0000.2011-05-06.13-00-00.html"]

    # Bad arguments: one line each, the others still get their pages.
    for args, said in [((tmp_path / "nowhere",), "No such file"),
                       ((base, "--time", "2011-05-06T15:00:00Z"), "no recording of"),
                       ((damaged[0], "--time", "2011-05-06T12:30:00Z"), "not of the time given"),
                       ((base, "--time", "2012"), "time: not an ISO 8601 time")]:
        run = report(*args, "-o", tmp_path / "bad")
        assert run.returncode == 1 and run.stdout == "", run.stdout
        assert len(run.stderr.splitlines()) == 1 and said in run.stderr, run.stderr
        assert "Traceback" not in run.stderr
    run = subprocess.run([sys.executable, "-m", "cdt", "report", "--time", "2012", str(base)],
                         capture_output=True, text=True)
    assert run.returncode == 2 and "--time is for --set" in run.stderr
