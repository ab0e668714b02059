"""The package's face: type hints that resolve, one dtype per column in every
view, the keywords of a selection spelled out, and no import cycle."""

import ast
import importlib.util
import inspect
import typing
from pathlib import Path

import numpy as np

import cdt
import cdt.dask
import cdt.status
from conftest import CDT, run, synth

SELECTION = ["probes", "blades", "start", "stop", "revolutions"]


def public_callables():
    for module in (cdt, cdt.dask, cdt.status):
        for name in module.__all__:
            value = getattr(module, name)
            if inspect.isclass(value):
                for attribute, member in vars(value).items():
                    if attribute.startswith("_") and attribute not in ("__init__", "__new__"):
                        continue
                    if isinstance(member, property):
                        member = member.fget
                    else:
                        member = getattr(value, attribute)
                    if callable(member):
                        yield f"{module.__name__}.{name}.{attribute}", member
            elif callable(value):
                yield f"{module.__name__}.{name}", value


def test_type_hints_of_every_public_function_resolve():
    checked = 0
    for name, function in public_callables():
        try:
            typing.get_type_hints(function)
        except Exception as e:  # noqa: BLE001  (any failure names the function)
            raise AssertionError(f"{name}: {e!r}") from e
        checked += 1
    assert checked > 40


def test_the_version_is_the_programs():
    assert run(CDT, "--version")[0].split()[1] == cdt.__version__


def test_selections_are_spelled_out_as_a_recording_spells_them():
    expected = {k: inspect.signature(cdt.Recording.read).parameters[k] for k in SELECTION}
    for function in (cdt.RecordingSet.read, cdt.RecordingSet.to_pandas, cdt.RecordingSet.follow,
                     cdt.RecordingSet.iter_batches, cdt.follow):
        parameters = inspect.signature(function).parameters
        assert not any(p.kind is p.VAR_KEYWORD for p in parameters.values()), function
        for key in SELECTION:
            assert parameters[key] == expected[key], (function, key)


def test_revolutions_are_uint64_in_every_view(tmp_path):
    paths = synth(tmp_path / "set", "--hosts", "2", "--revolutions", "40", "--blades", "3")
    with cdt.open(paths[0]) as rec:
        lines = rec.read()
        frames = [rec.to_pandas(), lines.to_pandas(), next(iter(rec.iter_batches(16))).to_pandas()]
        assert lines.start_rev.dtype == lines.end_rev.dtype == np.uint64
        one = frames[0]
    frames.append(cdt.open_set(paths[0]).to_pandas())
    for frame in frames:
        assert (frame.dtypes[["Start Rev", "End Rev"]] == np.uint64).all()
    # The same file read as a Dask frame is the same frame, dtypes and all.
    spread = cdt.dask.read_recordings(paths[:1], rows_per_partition=16).compute(
        scheduler="synchronous")
    assert spread.drop(columns="File").reset_index(drop=True).equals(one)


def test_status_bits_have_a_public_home_and_the_old_names_stay():
    assert (cdt.status.MISSING, cdt.status.TIME_OFF, cdt.status.SPEED_OFF) == (1, 2, 4)
    assert (cdt.sets.MISSING, cdt.sets.TIME_OFF, cdt.sets.SPEED_OFF) == (1, 2, 4)


def test_the_report_imports_modules_of_the_package_not_the_package():
    # A `from .. import NAME` of the report must name a module of the
    # package, never something cdt/__init__ defines or re-exports: the
    # package imports the report, and the report must not need it finished.
    report = Path(cdt.__file__).parent / "report"
    for source in sorted(report.glob("*.py")):
        for node in ast.walk(ast.parse(source.read_text())):
            if isinstance(node, ast.ImportFrom) and node.level >= 2 and not node.module:
                for alias in node.names:
                    assert importlib.util.find_spec(f"cdt.{alias.name}") is not None, \
                        (source.name, alias.name)
