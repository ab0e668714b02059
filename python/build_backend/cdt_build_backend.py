"""The build backend of pyproject.toml (PEP 517): the wheel of the Python package `cdt`
made by the project's own CMake build.

build_wheel configures the source tree in Release, without sanitizers, tests or
benchmarks, builds the target cdt_python for the interpreter that runs the backend and
packs what that build put into <build>/python/cdt: the pure-Python modules and the
extension module _cdt. build_sdist packs the source tree. The backend uses only the
standard library, so a frontend needs nothing from a package index to run it; what the
build needs (cmake, a C++20 compiler, pybind11, NumPy for the interpreter) comes from the
system.

It builds in a temporary directory, removed afterwards, unless the config setting
build-dir (``pip install -C build-dir=DIR``, ``python -m build -C build-dir=DIR``) or the
environment variable CDT_WHEEL_BUILD_DIR names a directory to keep, where the next build
recompiles only what changed. CMAKE_ARGS adds options to the configure step (e.g.
``-DCDT_WERROR=ON``); CMake itself reads CMAKE_BUILD_PARALLEL_LEVEL,
CMAKE_CXX_COMPILER_LAUNCHER (ccache) and CXX.
"""

import base64
import csv
import gzip
import hashlib
import importlib
import io
import os
import re
import shlex
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import time
import zipfile
from pathlib import Path

try:
    import tomllib
except ModuleNotFoundError:  # Python before 3.11
    try:
        import tomli as tomllib
    except ModuleNotFoundError:
        tomllib = None

# The [project] keys this backend writes into the metadata; any other is refused rather
# than silently left out of it.
_PROJECT_KEYS = {"name", "description", "requires-python", "dependencies",
                 "optional-dependencies", "dynamic", "classifiers", "keywords", "urls"}
# Left out of a source distribution made without git: the builds, their outputs and
# the frontends' (python -m build writes dist/).
_NOT_SOURCE = {".git", "build", "demo-output", "dist"}


class BuildError(Exception):
    """A build that cannot go on; the message says what to do."""


class _Project:
    """The package's metadata: pyproject.toml's [project] with project()'s version."""

    def __init__(self, root):
        self.root = root
        if tomllib is None:
            raise BuildError("reading pyproject.toml needs Python 3.11 or the package tomli "
                             "(Debian: python3-tomli)")
        with open(root / "pyproject.toml", "rb") as file:
            table = tomllib.load(file).get("project", {})
        unknown = sorted(set(table) - _PROJECT_KEYS)
        if unknown:
            raise BuildError(f"pyproject.toml: [project] keys {', '.join(unknown)} are not "
                             f"written by {__name__}; add them to it first")
        if table.get("dynamic") != ["version"]:
            raise BuildError("pyproject.toml: the version is project()'s in CMakeLists.txt "
                             "(dynamic = [\"version\"])")
        self.table = table
        self.name = table["name"]
        self.version = _cmake_version(root / "CMakeLists.txt")
        # The name as file names spell it (the binary distribution format).
        self.stem = f"{re.sub(r'[-_.]+', '_', self.name).lower()}-{self.version}"
        self.dist_info = f"{self.stem}.dist-info"

    def metadata(self):
        """Core metadata (METADATA, PKG-INFO) as text."""
        table = self.table
        lines = ["Metadata-Version: 2.1", f"Name: {self.name}", f"Version: {self.version}"]
        if "description" in table:
            lines.append(f"Summary: {table['description']}")
        if "keywords" in table:
            lines.append(f"Keywords: {','.join(table['keywords'])}")
        for label, url in table.get("urls", {}).items():
            lines.append(f"Project-URL: {label}, {url}")
        lines += [f"Classifier: {c}" for c in table.get("classifiers", [])]
        if "requires-python" in table:
            lines.append(f"Requires-Python: {table['requires-python']}")
        lines += [f"Requires-Dist: {r}" for r in table.get("dependencies", [])]
        for extra, requirements in table.get("optional-dependencies", {}).items():
            extra = re.sub(r"[-_.]+", "-", extra).lower()
            lines.append(f"Provides-Extra: {extra}")
            for requirement in requirements:
                requirement, _, marker = requirement.partition(";")
                condition = f'extra == "{extra}"'
                if marker.strip():
                    condition = f"({marker.strip()}) and {condition}"
                lines.append(f"Requires-Dist: {requirement.strip()}; {condition}")
        return "\n".join(lines) + "\n"


def _cmake_version(cmakelists):
    match = re.search(r"project\s*\(\s*cdt\s+VERSION\s+([0-9]+(?:\.[0-9]+)*)\b",
                      cmakelists.read_text(encoding="utf-8"))
    if not match:
        raise BuildError(f"{cmakelists}: no project(cdt VERSION ...) to take the version from")
    return match.group(1)


def _wheel_tag():
    """The tag of a wheel with an extension module for this interpreter, as pip expects
    of a local build: e.g. cp311-cp311-linux_x86_64."""
    implementation = {"cpython": "cp", "pypy": "pp"}.get(sys.implementation.name,
                                                         sys.implementation.name)
    interpreter = f"{implementation}{sys.version_info[0]}{sys.version_info[1]}"
    soabi = sysconfig.get_config_var("SOABI") or ""
    if soabi.startswith("cpython-"):
        abi = "cp" + soabi.split("-")[1]  # cp311, or cp311d for a debug interpreter
    elif soabi:
        abi = re.sub(r"[-.]", "_", soabi)
    else:
        abi = "none"
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    if platform == "linux_x86_64" and sys.maxsize <= 2**32:
        platform = "linux_i686"  # a 32-bit interpreter on a 64-bit kernel
    return f"{interpreter}-{abi}-{platform}"


def _timestamp():
    """The members' time: SOURCE_DATE_EPOCH's, else a fixed one, so that the same
    sources give the same archive."""
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))  # 1980-01-01, zip's first
    return max(epoch, 315532800)


def _run(command, env=None):
    print("+", shlex.join(str(a) for a in command), flush=True)
    if subprocess.run([str(a) for a in command], env=env).returncode != 0:
        raise BuildError(f"{Path(command[0]).name} failed: {shlex.join(map(str, command))}")


def _build_dir_setting(config_settings):
    value = (config_settings or {}).get("build-dir") or os.environ.get("CDT_WHEEL_BUILD_DIR")
    if isinstance(value, list):  # given more than once
        value = value[-1]
    return Path(value).absolute() if value else None


# Where Debian's python3-numpy and pybind11-dev are seen; an interpreter first on PATH
# (pyenv, conda) sees neither.
_SYSTEM_PYTHON = "/usr/bin/python3"


def _imports(python, module):
    return subprocess.run([python, "-c", f"import {module}"], capture_output=True,
                          cwd=tempfile.gettempdir()).returncode == 0


def _importable(module):
    """Whether this process, which sees what the interpreter sees, can import `module`."""
    try:
        importlib.import_module(module)
    except ImportError:
        return False
    return True


def _pybind11_found():
    """Whether CMake will find pybind11: Debian's pybind11-dev, or the interpreter's own
    package (which tells CMake where it is)."""
    return (Path("/usr/lib/cmake/pybind11").is_dir() or Path("/usr/share/cmake/pybind11").is_dir()
            or _importable("pybind11"))


def _check_interpreter():
    """Stops at once, before a frontend looks for NumPy in a package index, when this
    interpreter cannot build the extension module, naming the one that can."""
    # The module is built against the interpreter's own NumPy. A virtual environment of
    # an interpreter that is not the system's (pyenv, conda), or one made without
    # --system-site-packages, or a frontend's isolated build environment sees no NumPy;
    # pip would then go to an index for it and end with its own message.
    lacking = [m for m, ok in (("numpy", _importable("numpy")),
                               ("pybind11", _pybind11_found())) if not ok]
    if not lacking:
        return
    recipe = (f"{_SYSTEM_PYTHON} -m venv --system-site-packages venv && "
              "venv/bin/pip install --no-build-isolation .")
    if lacking == ["numpy"] and Path(_SYSTEM_PYTHON).exists() and _imports(_SYSTEM_PYTHON, "numpy"):
        advice = (f"{_SYSTEM_PYTHON} can: install from an environment made with it, `{recipe}` "
                  "(without build isolation: a frontend's isolated environment sees no NumPy "
                  "either; python -m build --no-isolation)")
    else:
        advice = ("scripts/check-prereqs.sh --python installs Debian's python3-numpy and "
                  f"pybind11-dev for {_SYSTEM_PYTHON}; then `{recipe}`")
    # Our message alone, not a traceback around it.
    raise SystemExit(f"cdt: {sys.executable} cannot import {' or '.join(lacking)}, which the "
                     f"extension module is built with. {advice}")


def _cmake_build(root, build_dir):
    cmake = shutil.which("cmake")
    if not cmake:
        raise BuildError("cmake not found (Debian: scripts/check-prereqs.sh --python)")
    configure = [cmake, "-S", root, "-B", build_dir]
    if not (build_dir / "CMakeCache.txt").exists() and shutil.which("ninja"):
        configure += ["-G", "Ninja"]  # as the presets build; kept by a build directory
    # The caller's options first, so that the wheel's own settings below stay: a wheel
    # never holds a sanitizer or debug build.
    configure += shlex.split(os.environ.get("CMAKE_ARGS", ""))
    configure += ["-DCMAKE_BUILD_TYPE=Release", "-DCDT_SANITIZE=OFF", "-DCDT_FUZZ=OFF",
                  "-DCDT_TESTS=OFF", "-DCDT_BENCH=OFF", "-DCDT_PYTHON=ON",
                  f"-DCDT_PYTHON_EXECUTABLE={sys.executable}"]
    _run(configure)
    build = [cmake, "--build", build_dir, "--target", "cdt_python"]
    if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
        build += ["--parallel", str(os.cpu_count() or 1)]
    _run(build)


def _package_files(build_dir):
    """(path in the wheel, file) of the package as the build made it."""
    package = build_dir / "python" / "cdt"
    module = package / ("_cdt" + sysconfig.get_config_var("EXT_SUFFIX"))
    if not module.is_file():
        raise BuildError(f"the build made no {module.name} in {package}")
    files = [p for p in package.rglob("*")
             if p.is_file() and (p.suffix in (".py", ".pyi") or p.name == "py.typed")]
    files.append(module)
    return sorted((p.relative_to(package.parent).as_posix(), p) for p in files)


def _write_wheel(path, members, dist_info):
    """Writes the wheel `path` from (name, bytes, executable) members, RECORD last; the
    archive is renamed into place when complete."""
    date_time = time.gmtime(_timestamp())[:6]
    rows = []
    part = path.with_name(path.name + ".part")
    with zipfile.ZipFile(part, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data, executable in members:
            info = zipfile.ZipInfo(name, date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = (0o100755 if executable else 0o100644) << 16
            wheel.writestr(info, data)
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
            rows.append([name, f"sha256={digest.decode()}", str(len(data))])
        rows.append([f"{dist_info}/RECORD", "", ""])
        record = io.StringIO()
        csv.writer(record, lineterminator="\n").writerows(rows)
        info = zipfile.ZipInfo(f"{dist_info}/RECORD", date_time)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o100644 << 16
        wheel.writestr(info, record.getvalue())
    os.replace(part, path)


def _wheel_file(tag):
    return (f"Wheel-Version: 1.0\nGenerator: {__name__}\nRoot-Is-Purelib: false\n"
            f"Tag: {tag}\n")


# ---- PEP 517 hooks ------------------------------------------------------------------


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    project = _Project(Path.cwd())
    # pip resolves the requirements of these metadata (NumPy) before it builds.
    _check_interpreter()
    folder = Path(metadata_directory) / project.dist_info
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "METADATA").write_text(project.metadata(), encoding="utf-8")
    (folder / "WHEEL").write_text(_wheel_file(_wheel_tag()), encoding="utf-8")
    return project.dist_info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    root = Path.cwd()
    project = _Project(root)
    _check_interpreter()
    kept = _build_dir_setting(config_settings)
    build_dir = kept or Path(tempfile.mkdtemp(prefix="cdt-wheel-"))
    try:
        _cmake_build(root, build_dir)
        members = [(name, path.read_bytes(), os.access(path, os.X_OK))
                   for name, path in _package_files(build_dir)]
    finally:
        if not kept:
            shutil.rmtree(build_dir, ignore_errors=True)
    tag = _wheel_tag()
    members += [(f"{project.dist_info}/METADATA", project.metadata().encode(), False),
                (f"{project.dist_info}/WHEEL", _wheel_file(tag).encode(), False)]
    name = f"{project.stem}-{tag}.whl"
    _write_wheel(Path(wheel_directory) / name, members, project.dist_info)
    return name


def _source_files(root):
    """The source tree's files, relative to it: git's files that are not ignored in a
    checkout, else every file but the builds'."""
    if (root / ".git").exists() and shutil.which("git"):
        listed = subprocess.run(
            ["git", "-C", str(root), "ls-files", "-z", "--cached", "--others",
             "--exclude-standard"], capture_output=True)
        if listed.returncode == 0:
            names = [os.fsdecode(n) for n in listed.stdout.split(b"\0") if n]
            # Deleted in the working tree, but still in git's index.
            return sorted(n for n in set(names) if os.path.lexists(root / n))
    found = []
    for folder, subfolders, files in os.walk(root):
        here = Path(folder).relative_to(root)
        subfolders[:] = sorted(s for s in subfolders if s != "__pycache__" and
                               not (here == Path(".") and s in _NOT_SOURCE))
        found += [(here / f).as_posix() for f in files]
    return sorted(found)


def build_sdist(sdist_directory, config_settings=None):
    root = Path.cwd()
    project = _Project(root)
    name = f"{project.stem}.tar.gz"
    path = Path(sdist_directory) / name
    part = path.with_name(name + ".part")
    mtime = _timestamp()

    def normalized(info):
        info.uid = info.gid = 0
        info.uname = info.gname = ""
        info.mtime = mtime
        info.mode = 0o755 if info.isdir() or info.mode & 0o100 else 0o644
        return info

    with open(part, "wb") as raw, gzip.GzipFile(fileobj=raw, mode="wb", mtime=mtime) as zipped, \
            tarfile.open(fileobj=zipped, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for relative in _source_files(root):
            if relative != "PKG-INFO":
                tar.add(root / relative, arcname=f"{project.stem}/{relative}",
                        recursive=False, filter=normalized)
        pkg_info = project.metadata().encode()
        info = normalized(tarfile.TarInfo(f"{project.stem}/PKG-INFO"))
        info.size = len(pkg_info)
        tar.addfile(info, io.BytesIO(pkg_info))
    os.replace(part, path)
    return name
