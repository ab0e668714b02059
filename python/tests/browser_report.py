"""Report pages as a browser shows them: headless Chromium opens the page of a
run-up recording and that of a recording set, every image must decode to a
non-zero size and the console must stay free of errors; a screenshot of each
page is kept.

    browser_report.py OUT_DIR     (CDT_BUILD_DIR names the build with `cdt`)

Exits 77 (skipped) when Chromium is not installed.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import cdt  # noqa: E402
from conftest import synth  # noqa: E402

# Reports every image's state into the DOM once the page has loaded, and
# logs an error for any that did not decode.
CHECK = """<script>
window.addEventListener("load", () => {
  const images = Array.from(document.images);
  const bad = images.filter(i => !i.complete || i.naturalWidth === 0 || i.naturalHeight === 0);
  bad.forEach(i => console.error("image did not decode: " + i.alt));
  const sizes = images.map(i => i.naturalWidth + "x" + i.naturalHeight).join(" ");
  document.body.setAttribute("data-images", images.length + " images, " + bad.length + " bad: " + sizes);
});
</script>"""


def chromium(*args, profile):
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS")}
    command = [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", "--no-first-run",
               "--disable-dev-shm-usage", f"--user-data-dir={profile}", "--enable-logging=stderr",
               "--v=0", *args]
    return subprocess.run(command, capture_output=True, text=True, timeout=120, env=env)


def check(page: Path, out: Path, work: Path):
    """Problems of a page in the browser (none: an empty list); keeps its screenshot in out."""
    checked = work / ("checked-" + page.name)
    checked.write_text(page.read_text().replace("</body>", CHECK + "</body>"))
    run = chromium("--virtual-time-budget=10000", "--dump-dom", checked.as_uri(),
                   profile=work / "profile1")
    found = re.search(r'data-images="(\d+) images, (\d+) bad: ([^"]*)"', run.stdout)
    errors = [line for line in run.stderr.splitlines()
              if "CONSOLE" in line or "Uncaught" in line or "image did not decode" in line]
    shot = out / (page.stem + ".png")
    shoot = chromium(f"--screenshot={shot}", "--window-size=1100,4200", "--hide-scrollbars",
                     page.as_uri(), profile=work / "profile2")
    problems = []
    if run.returncode != 0 or not found:
        problems.append(f"the page's check did not run (status {run.returncode}):\n{run.stderr[-2000:]}")
    else:
        images, bad, sizes = int(found.group(1)), int(found.group(2)), found.group(3)
        print(f"{page.name}: {images} images ({sizes}), {bad} that did not decode")
        if images < 4 or bad:
            problems.append(f"{page.name}: {bad} of {images} images did not decode")
    if errors:
        problems.append(f"{page.name}: console errors:\n" + "\n".join(errors))
    if shoot.returncode != 0 or not shot.exists() or shot.stat().st_size == 0:
        problems.append(f"no screenshot (status {shoot.returncode}):\n{shoot.stderr[-2000:]}")
    else:
        print(f"screenshot: {shot}")
    return problems


def main() -> int:
    if not (shutil.which("chromium") or shutil.which("chromium-browser")):
        print("chromium is not installed (scripts/check-prereqs.sh --browser): skipped")
        return 77
    out = Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    out.mkdir(parents=True, exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix="cdt-report-browser-"))
    try:
        # A run-up whose blades cross a resonance: the page's resonance
        # table, Campbell diagram and amplitude pictures.
        recording = synth(work / "rec", "--revolutions", "3000", "--probes", "4", "--blades", "24",
                          "--profiles", "500", "--resonance", "8:360:0.005:0.5")[-1]
        # A recording set of two hosts, one of them starting late.
        synth(work / "set", "--hosts", "2", "--revolutions", "1000", "--probes", "1", "--blades",
              "12", "--late", "Daq2:100")
        problems = []
        for page in (cdt.report(recording, out), cdt.report_set(work / "set", out / "set")):
            problems += check(Path(page), out, work)
            if 'alt="Stage1 Campbell diagram' not in Path(page).read_text(encoding="utf-8"):
                problems.append(f"{page}: no Campbell diagram")
        for p in problems:
            print(p, file=sys.stderr)
        return 1 if problems else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
