"""The live report page in headless Chromium: `python3 -m cdt report --follow DIR`
serves the page of the recording set that a `cdt synth --live` writer starts in
DIR; Chromium must see the page change at least twice while the files grow and
show the finished recording at the end, with no console errors, and the
final page must be written to the server's -o directory. The page's
title carries its lines and state; Chromium's DevTools list (plain HTTP) tells
the title it shows.

    browser_follow.py OUT_DIR     (CDT_BUILD_DIR names the build with `cdt`)

Exits 77 (skipped) when Chromium is not installed.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from browser_report import chromium  # noqa: E402  (the same browser options)
from conftest import CDT  # noqa: E402

TIMEOUT = 120


def shown_title(profile: Path):
    """The title of the page Chromium shows, from its DevTools list; None
    while the list is not up."""
    try:
        port = (profile / "DevToolsActivePort").read_text().split()[0]
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=5) as r:
            pages = [t for t in json.load(r) if t.get("type") == "page"]
    except (OSError, ValueError, IndexError):
        return None
    return pages[0].get("title") if pages else None


def main() -> int:
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if not browser:
        print("chromium is not installed (scripts/check-prereqs.sh --browser): skipped")
        return 77
    out = Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    out.mkdir(parents=True, exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix="cdt-follow-browser-"))
    processes = []
    try:
        directory = work / "live"
        directory.mkdir()
        server = subprocess.Popen([sys.executable, "-m", "cdt", "report", "--follow", str(directory),
                                   "--exit-when-done", "--idle", "60", "-o", str(out)],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        processes.append(server)
        url = server.stdout.readline().split()[-1]
        assert url.startswith("http://127.0.0.1:"), url
        env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
        profile = work / "profile"
        page = subprocess.Popen(
            [browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", f"--user-data-dir={profile}", "--enable-logging=stderr",
             "--v=0", "--remote-debugging-port=0", url],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
        processes.append(page)
        deadline = time.monotonic() + TIMEOUT
        while shown_title(profile) is None and time.monotonic() < deadline:
            time.sleep(0.2)
        # The hosts start writing once the page is up: it sees the set begin.
        # About 30 s of writing in real time, so that even a loaded machine
        # redraws the page more than twice meanwhile.
        writer = subprocess.Popen([str(CDT), "synth", "--live", "1", "--hosts", "2",
                                   "--revolutions", "1600", "--probes", "2", "--blades", "12",
                                   str(directory)],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(writer)
        while_growing, titles = set(), []
        while time.monotonic() < deadline:
            title = shown_title(profile)
            if title and (not titles or titles[-1] != title):
                titles.append(title)
                print(f"shown: {title}", flush=True)
            if writer.poll() is None and title and "following" in title:
                while_growing.add(title)
            if title and "finished" in title:
                break
            time.sleep(0.2)
        page.terminate()
        errors = [line for line in page.communicate(timeout=30)[1].splitlines()
                  if "CONSOLE" in line or "Uncaught" in line]
        problems = []
        if writer.wait(timeout=TIMEOUT) != 0:
            problems.append("the writer failed")
        if len(while_growing) < 2:
            problems.append(f"the page changed {len(while_growing)} times while the files grew")
        if not titles or "finished" not in titles[-1]:
            problems.append(f"the page never showed the finished recording: {titles}")
        if errors:
            problems.append("console errors:\n" + "\n".join(errors))
        status = server.wait(timeout=TIMEOUT)
        if status != 0:
            problems.append(f"the server exited with {status}: {server.stderr.read()[-2000:]}")
        written = server.stdout.read().split()
        if len(written) != 1 or not Path(written[0]).is_file() or Path(written[0]).parent != out:
            problems.append(f"the final page was not written to {out}: {written}")
        for p in problems:
            print(p, file=sys.stderr)
        return 1 if problems else 0
    finally:
        for p in processes:
            if p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
