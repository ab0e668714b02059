"""The package as users install it: the wheel of a clean source tree, installed with pip into
a fresh virtual environment, then the Python tests against that installation.

    pip_wheel.py SOURCE_DIR BUILD_DIR VERSION WORK_DIR

The source distribution of SOURCE_DIR is unpacked into WORK_DIR/src, the wheel is built from
there without build isolation (the backend of pyproject.toml compiles the extension in
Release), and must leave that tree as it was. The wheel goes into a virtual environment made
with --system-site-packages (Debian's NumPy, pandas, Dask and pytest) by pip with no index.
The tests get the programs cdt and cdt2csv from BUILD_DIR (CDT_BUILD_DIR); the slow tests of
the report pages are left to python.pytest. On the unpacked tree the README's install recipe
is run as written, with a python3 first on PATH that cannot import NumPy (readme_recipe).
VERSION is project()'s, which the installed package must have. Exits with 77 (skipped) when
venv, pip or python -m build is missing.
"""

import os
import shutil
import subprocess
import sys
import tarfile
import time
import zipfile
from pathlib import Path

SKIP = 77


def main(source, build, version, work):
    # venv makes environments without pip unless ensurepip is there.
    needed = (("venv", "python3-venv"), ("ensurepip", "python3-venv"), ("build", "python3-build"))
    missing = [package for module, package in needed
               if run_quiet([sys.executable, "-I", "-c", f"import {module}"]) != 0]
    if missing:
        print(f"skipped: {sys.executable} lacks {', '.join(sorted(set(missing)))} "
              "(scripts/check-prereqs.sh --python installs them)")
        return SKIP
    for program in (build / "tools" / "cdt", build / "driver" / "cdt2csv"):
        if not program.is_file():
            print(f"{program} is missing: build the programs first")
            return 1

    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    dist = work / "dist"
    # What the user's shell may hold would change what is built and imported.
    env = {k: v for k, v in os.environ.items()
           if k not in ("PYTHONPATH", "PYTHONHOME", "LD_PRELOAD", "ASAN_OPTIONS", "CMAKE_ARGS",
                        "CDT_WHEEL_BUILD_DIR", "CDT_BUILD_DIR")}
    # Else the backend's own bytecode lands in the tree (python/build_backend/__pycache__,
    # which git ignores).
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    if shutil.which("ccache"):
        # Paths stay the same from run to run (WORK_DIR/src, WORK_DIR/wheel-build), so
        # the compiler's results are found again.
        env.setdefault("CMAKE_C_COMPILER_LAUNCHER", "ccache")
        env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
    started = time.monotonic()

    step(env, work, sys.executable, "-m", "build", "--sdist", "--no-isolation",
         "--outdir", dist, source)
    sdists = list(dist.glob("*.tar.gz"))
    assert [s.name for s in sdists] == [f"cdt-{version}.tar.gz"], sdists
    with tarfile.open(sdists[0]) as sdist:
        if hasattr(tarfile, "data_filter"):
            sdist.extraction_filter = tarfile.data_filter
        sdist.extractall(work / "src")
    tree = work / "src" / f"cdt-{version}"
    before = listing(tree)
    for needed in ("pyproject.toml", "CMakeLists.txt", "PKG-INFO", "python/cdt/__init__.py"):
        assert needed in before, f"{needed} is not in the source distribution"

    step(env, work, sys.executable, "-m", "build", "--wheel", "--no-isolation",
         "--outdir", dist, "-C", f"build-dir={work / 'wheel-build'}", tree)
    built = time.monotonic()
    after = listing(tree)
    assert after == before, f"the build left files in the source tree: {sorted(after - before)}"

    readme_recipe(env, work, tree, work / "wheel-build", version)

    wheels = list(dist.glob("*.whl"))
    assert len(wheels) == 1, wheels
    wheel = wheels[0]
    # A wheel with an extension module names its interpreter, ABI and platform; pip
    # refuses one that does not fit the interpreter.
    _, tag_version, interpreter, abi, platform = wheel.stem.split("-")
    assert tag_version == version and abi != "none" and platform != "any", wheel.name
    with zipfile.ZipFile(wheel) as archive:
        modules = [n for n in archive.namelist() if n.startswith("cdt/_cdt.") and n.endswith(".so")]
        assert len(modules) == 1, archive.namelist()
        module = archive.read(modules[0])
        assert b"__asan_init" not in module and b"__ubsan_handle" not in module, \
            f"{modules[0]} is built with sanitizers"
        for name in ("cdt/__init__.py", "cdt/dask.py", "cdt/report/__init__.py", "cdt/py.typed"):
            assert name in archive.namelist(), f"{name} is not in the wheel"

    venv = work / "venv"
    step(env, work, sys.executable, "-m", "venv", "--system-site-packages", venv)
    python = venv / "bin" / "python"
    step(env, work, python, "-m", "pip", "install", "--no-index", "--disable-pip-version-check",
         wheel)
    # From WORK_DIR, so that only the installed package can be imported.
    shown = subprocess.run(
        [python, "-c", "import cdt, cdt.dask, cdt.report, importlib.metadata as m; "
                       "print(cdt.__file__); print(m.version('cdt'))"],
        cwd=work, env=env, check=True, capture_output=True, text=True).stdout.split()
    assert Path(shown[0]).is_relative_to(venv), f"cdt imported from {shown[0]}"
    assert shown[1] == version, f"installed version {shown[1]}, project() says {version}"
    step(env, work, python, "-m", "cdt", "--help")

    tests = source / "python" / "tests"
    step(dict(env, CDT_BUILD_DIR=str(build)), work, python, "-m", "pytest", "-q",
         "-p", "no:cacheprovider", f"--ignore={tests / 'test_report.py'}",
         f"--ignore={tests / 'test_report_sets.py'}", tests)
    print(f"wheel {wheel.name}: built in {built - started:.0f} s, installed and tested in "
          f"{time.monotonic() - built:.0f} s")
    return 0


def readme_recipe(env, work, tree, kept, version):
    """The README's Python install, as written, on a workstation whose python3 first on
    PATH cannot import NumPy (pyenv, conda; here a plain virtual environment): it works.
    And an environment of that python3 stops at once with the build backend's message
    naming the interpreter that can, before pip would look for NumPy in an index. No
    index is reachable: a contact would fail rather than wait."""
    lines = tree.joinpath("README.md").read_text(encoding="utf-8").split("\n## Python\n", 1)[1]
    commands = []
    for line in lines.lstrip("\n").splitlines():
        if not line.startswith("    "):
            break
        command = line.split("  #", 1)[0].strip()
        if not command.startswith("scripts/check-prereqs.sh"):  # the machine has them
            commands.append(command)
    assert any("pip install" in c for c in commands), commands
    plain = work / "plain-python"
    step(env, work, "/usr/bin/python3", "-m", "venv", "--without-pip", plain)
    env = dict(env, PATH=f"{plain / 'bin'}:{env['PATH']}", PIP_NO_INDEX="1",
               PIP_INDEX_URL="http://127.0.0.1:9/simple", PIP_DISABLE_PIP_VERSION_CHECK="1")
    assert run_quiet(["env", f"PATH={env['PATH']}", "python3", "-c", "import numpy"]) != 0

    # As written, with the kept build folder of the wheel's build (the same tree), so
    # that it recompiles nothing.
    for command in commands:
        step(dict(env, CDT_WHEEL_BUILD_DIR=str(kept)), tree, "bash", "-c", command)
    shown = subprocess.run([tree / "venv" / "bin" / "python", "-c",
                            "import cdt; print(cdt.__file__, cdt.__version__)"],
                           cwd=work, env=env, check=True, capture_output=True, text=True)
    where, installed = shown.stdout.split()
    assert Path(where).is_relative_to(tree / "venv") and installed == version, shown.stdout

    # The environment a pyenv or conda python3 makes cannot see Debian's NumPy.
    step(env, work, "python3", "-m", "venv", work / "pyenv-venv")
    started = time.monotonic()
    out = subprocess.run([work / "pyenv-venv" / "bin" / "pip", "install",
                          "--no-build-isolation", "."], cwd=tree, env=env,
                         capture_output=True, text=True)
    took = time.monotonic() - started
    said = out.stdout + out.stderr
    assert out.returncode != 0 and took < 10, (took, said)
    assert "cannot import numpy" in said and \
        "/usr/bin/python3 -m venv --system-site-packages venv" in said, said
    assert "No matching distribution" not in said, said
    # The build without pip, for that python3, says the same before it compiles anything.
    out = subprocess.run(["cmake", "-S", tree, "-B", work / "configure-plain",
                          "-DCDT_PYTHON=ON", "-DCDT_TESTS=OFF",
                          f"-DCDT_PYTHON_EXECUTABLE={plain / 'bin' / 'python3'}"],
                         cwd=work, env=env, capture_output=True, text=True)
    said = " ".join((out.stdout + out.stderr).split())
    assert out.returncode != 0 and "cannot import NumPy; /usr/bin/python3 can" in said, said
    print(f"the README's recipe works with a python3 that cannot import NumPy first on PATH; "
          f"an environment of that python3 stops in {took:.1f} s with the backend's message, "
          "and CMake names /usr/bin/python3 too")


def run_quiet(command):
    return subprocess.run(command, capture_output=True, cwd="/").returncode


def step(env, cwd, *command):
    print("+", " ".join(map(str, command)), flush=True)
    subprocess.run(list(map(str, command)), cwd=cwd, env=env, check=True)


def listing(tree):
    return {p.relative_to(tree).as_posix() for p in tree.rglob("*")}


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    source, build, version, work = sys.argv[1:]
    sys.exit(main(Path(source).resolve(), Path(build).resolve(), version, Path(work).resolve()))
