"""The tip-timing analysis from Python: the command's numbers, the geometry,
the deflections, and scipy's own fit of one resonance."""

import json
import shutil

import numpy as np
import pytest

import cdt
from conftest import CDT, run, synth

ANGLES = [0.0, 37.3, 98.6, 161.9]
RUN = ["--revolutions", "12000", "--blades", "3", "--extras", "0",
       "--resonance", "8:360:0.005:0.5", "--probe-angles", ",".join(map(str, ANGLES))]


@pytest.fixture(scope="module")
def made(tmp_path_factory):
    """The same four probes in one file and spread over a two-host set."""
    base = tmp_path_factory.mktemp("analysis")
    one = synth(base / "one", *RUN)
    two = synth(base / "two", *RUN, "--hosts", "2", "--probes", "2")
    truth = json.loads((base / "one" / "Rig1.truth.json").read_text())
    return one[-1], two, truth


def same_as_command(frame, *args):
    """Each row of the frame is the command's resonance, to the digits the
    JSON prints (all but the fit's timing)."""
    listed = json.loads("\n".join(run(CDT, "analyse", "--json", *args)))["resonances"]
    assert len(frame) == len(listed)
    for row, want in zip(frame.to_dict("records"), listed):
        for key, value in want.items():
            if key in ("path", "fit_ms"):
                continue
            got = row[key]
            if isinstance(value, float):
                assert float(f"{got:.9g}") == value, key
            else:
                assert (list(got) if key == "alias_candidates" else got) == value, key


def test_recording_resonances_geometry_deflections_and_scipy(made):
    path, _, truth = made
    rec = cdt.open(path)
    # The geometry the analysis takes, without parsing the configuration's text.
    stage = rec.configuration["stages"][0]
    assert stage["blades"] == 3 and stage["diameter"] > 0 and "opr_to_blade0" in stage
    channels = rec.configuration["hosts"][0]["channels"]
    angles = {c["probe"]: c["radial_position"] for c in channels}
    assert np.allclose(list(angles.values()), np.radians(ANGLES))
    assert rec.configuration["counter_clockwise"] is False

    frame = rec.resonances()
    same_as_command(frame, path)
    # Against the truth: every blade's crossing of order 8, nothing else.
    expected = {t["blade"]: t for t in truth["resonances"] if t["engine_order"] == 8}
    assert sorted(frame["blade"]) == sorted(expected)
    for row in frame.to_dict("records"):
        t = expected[row["blade"]]
        assert row["engine_order"] == 8 and row["alias_candidates"] == []
        assert abs(row["frequency_hz"] / t["frequency_hz"] - 1) < 0.005
        assert abs(row["amplitude"] / t["amplitude"] - 1) < 0.1
        assert abs(row["damping_ratio"] / t["damping_ratio"] - 1) < 0.3

    # The deflections: tidy, every probe of every blade on every kept line.
    d = rec.deflections()
    assert list(d.columns) == ["Stage", "Blade", "Probe", "Start Rev", "Time", "Speed",
                               "Deflection"]
    assert len(d) == 3 * 4 * (12000 - 3)  # the first 3 revolutions are not synchronised
    assert str(d["Time"].dtype) == "datetime64[ns, UTC]"
    window = rec.deflections(probes=["Probe101", 2], revolutions=(5000, 5099))
    assert len(window) == 3 * 2 * 100 and window["Start Rev"].between(5000, 5099).all()
    with pytest.raises(cdt.UnknownProbeError):
        rec.deflections(probes="nothing")

    # scipy's least squares on the same window of blade 1: the circumferential
    # fit per revolution, then the single-degree-of-freedom model fitted anew.
    optimize = pytest.importorskip("scipy.optimize")
    r = frame[frame["blade"] == 1].iloc[0]
    rows = d[(d["Blade"] == 1) & d["Start Rev"].between(r["first_revolution"],
                                                          r["last_revolution"])]
    x = rows.pivot(index="Start Rev", columns="Probe", values="Deflection")
    speed = rows.groupby("Start Rev")["Speed"].first().loc[x.index].to_numpy()
    theta = np.array([angles[p] for p in x.columns])
    k = 8
    design = np.column_stack([np.sin(k * theta), np.cos(k * theta), np.ones_like(theta)])
    coef = np.linalg.lstsq(design, x.to_numpy().T, rcond=None)[0]
    q = coef[1] + 1j * coef[0]
    drive = k * 2 * np.pi * speed / 60
    s = (speed - speed.mean()) / np.ptp(speed)

    def columns(p):
        ratio = drive / (2 * np.pi * p[0])
        return np.column_stack([1 / (1 - ratio**2 + 2j * p[1] * ratio), np.ones_like(s), s])

    def residual(p, sign):
        m = columns(p)
        target = q if sign > 0 else np.conj(q)
        c = np.linalg.lstsq(m, target, rcond=None)[0]
        e = target - m @ c
        return np.concatenate([e.real, e.imag])

    peak = speed[np.argmax(np.convolve(np.abs(q), np.ones(21) / 21, mode="same"))]
    fits = [optimize.least_squares(residual, [k * peak / 60, 0.01], args=(sign,),
                                   bounds=([1, 1e-5], [1e4, 0.5]), x_scale=[1, 0.001])
            for sign in (1, -1)]
    fit = min(fits, key=lambda f: f.cost)
    fn, zeta = fit.x
    m = columns(fit.x)
    c = np.linalg.lstsq(m, q if fit is fits[0] else np.conj(q), rcond=None)[0]
    amplitude = abs(c[0]) / (2 * zeta * np.sqrt(1 - zeta**2))
    assert abs(fn / r["frequency_hz"] - 1) < 1e-4
    assert abs(zeta / r["damping_ratio"] - 1) < 0.02
    assert abs(amplitude / r["amplitude"] - 1) < 0.02


def test_set_joins_its_hosts_probes_as_the_command_does(made, tmp_path):
    _, two, truth = made
    rs = cdt.open_set(two[0])
    assert rs.configuration["stages"][0]["diameter"] > 0
    frame = rs.resonances()
    same_as_command(frame, "--set", two[0])
    assert sorted(frame["blade"]) == [1, 2, 3] and (frame["engine_order"] == 8).all()
    d = rs.deflections(revolutions=(100, 199))
    assert d["Probe"].nunique() == 4 and len(d) == 3 * 4 * 100
    # One host's file alone has two of the stage's probes: no engine order, and why.
    alone = cdt.open(two[0])
    assert alone.resonances().empty
    why = alone.resonances(rejected=True)
    assert len(why) >= 3
    assert (why["reason"] == "fewer than 3 probes on the stage: no engine order").all()
    # A set whose second host has no file: named, its probes left out.
    shutil.copy(two[0], tmp_path)
    with pytest.warns(cdt.SetWarning, match="no file of host 'Daq2'"):
        assert cdt.open_set(tmp_path).resonances().empty
