"""The report's reductions of the lines, fed hand-made batches."""

from types import SimpleNamespace

import numpy as np
import pytest

from cdt.report.reduction import _PTP_LINES, _Bins, _peaks, _reduce

NAN = np.nan


class Batch(SimpleNamespace):
    """Lines as Recording.iter_batches yields them, with what the reduction reads."""

    def __len__(self):
        return len(self.speed)

    def __getitem__(self, rows):
        probes = {k: SimpleNamespace(blades=p.blades, rms=p.rms[rows], blade_dns=p.blade_dns[rows],
                                     blade_toa=p.blade_toa[rows]) for k, p in self.probes.items()}
        return Batch(time_us=self.time_us[rows], speed=self.speed[rows], sync=self.sync[rows],
                     start_rev=self.start_rev[rows], end_rev=self.end_rev[rows], probes=probes)


def lines(speed, probes, first_rev=1):
    """Lines one revolution (and 10 ms) apart, synchronised after the first three;
    `probes`: key -> (rms, blade_dns, blade_toa) of shapes (n,), (n, blades), (n, blades)."""
    n = len(speed)
    made = {}
    for key, (rms, dns, toa) in probes.items():
        blades = np.arange(1, np.shape(dns)[1] + 1, dtype=np.uint32)
        made[key] = SimpleNamespace(blades=blades, rms=np.asarray(rms, np.float32),
                                    blade_dns=np.asarray(dns, np.float32),
                                    blade_toa=np.asarray(toa, np.float64))
    revs = np.arange(first_rev, first_rev + n, dtype=np.uint32)
    return Batch(time_us=np.uint64(1_300_000_000_000_000) + np.arange(n, dtype=np.uint64) * np.uint64(10_000),
                 speed=np.asarray(speed, np.float32), sync=revs > first_rev + 2, start_rev=revs,
                 end_rev=revs, probes=made)


def reduced(batch, rows=None):
    """The reduction of the lines, in batches of `rows` lines (all at once by default)."""
    rows = rows or max(len(batch), 1)
    return _reduce([batch[a:a + rows] for a in range(0, max(len(batch), 1), rows)], columns=4)


def nan_cells():
    rms = [1.0, NAN, 3.0, NAN, 5.0]
    dns = [[1, NAN], [NAN, NAN], [3, 30], [4, NAN], [NAN, 50]]
    toa = np.full((5, 2), 0.5)
    return lines([100, 100, 100, 100, 100], {"P": (rms, dns, toa)})


def check_nan_cells(r):
    assert r.totals["lines"] == 5 and r.probes["P"].lines_seen == 3
    assert np.nansum(r.bins.get("P.rms.count")) == 3 and np.nansum(r.bins.get("P.rms.sum")) == 9
    assert np.nanmin(r.bins.get("P.rms.min")) == 1 and np.nanmax(r.bins.get("P.rms.max")) == 5
    # The DNS mean of a bin is over the cells that hold a value, per blade.
    count = r.bins.get("P.dns.count").sum(axis=0)
    total = r.bins.get("P.dns.sum").sum(axis=0)
    assert count.tolist() == [3, 2] and total.tolist() == [8, 80]


def probe_without_lines():
    n = 40
    empty = (np.full(n, NAN), np.full((n, 3), NAN), np.full((n, 3), NAN))
    alive = (np.ones(n), np.ones((n, 3)), np.full((n, 3), 0.25))
    return lines(np.full(n, 500.0), {"alive": alive, "silent": empty})


def check_probe_without_lines(r):
    silent, alive = r.probes["silent"], r.probes["alive"]
    assert list(r.probes) == ["alive", "silent"]
    assert silent.lines_seen == 0 and not silent.toa_seen and alive.lines_seen == 40 and alive.toa_seen
    assert np.isnan(r.bins.mean("silent.rms")).all() and np.isnan(r.bins.get("silent.dev")).all()
    assert np.isnan(r.bins.mean("silent.dns")).all() and (r.bins.mean("alive.dns") == 1).all()


def single_line():
    return lines([1234.5], {"P": ([2.0], [[7.0, 8.0]], [[0.1, 0.2]])}, first_rev=77)


def check_single_line(r):
    t = r.totals
    assert (t["lines"], t["unsync"], t["first_rev"], t["last_rev"]) == (1, 1, 77, 77)
    assert t["first_time"] == t["last_time"] == 1_300_000_000_000_000
    assert r.bins.used == 1 and r.bins.get("speed.max").tolist() == [1234.5]
    # No blade has a running mean yet, nor a whole window of peak to peak.
    assert np.isnan(r.bins.get("P.dev")).all()
    speed, ptp = r.probes["P"].deviation.amplitude()
    assert speed.size == 0 and ptp.shape == (0, 2)


def no_lines():
    return lines([], {"P": (np.empty(0), np.empty((0, 2)), np.empty((0, 2)))})


def check_no_lines(r):
    assert r.totals["lines"] == 0 and r.totals["first_time"] is None and r.probes == {}
    assert r.bins.used == 0


CASES = {
    "NaN cells": (nan_cells, check_nan_cells),
    "a probe without lines": (probe_without_lines, check_probe_without_lines),
    "a single line": (single_line, check_single_line),
    "no lines": (no_lines, check_no_lines),
}


@pytest.mark.parametrize("case", list(CASES))
def test_reduction_of_hand_made_lines(case):
    make, check = CASES[case]
    batch = make()
    whole = reduced(batch)
    check(whole)
    # Batches of any size reduce to the same bins as the lines all at once.
    for rows in (1, 3):
        parts = reduced(batch, rows)
        assert parts.totals == whole.totals and parts.bins.width == whole.bins.width
        for name in whole.bins.data:
            np.testing.assert_allclose(parts.bins.get(name), whole.bins.get(name), rtol=1e-12, err_msg=name)


def runup(resonance):
    """A run-up from 1000 to 3000 over 6000 revolutions of 5 blades, where
    one blade vibrates most strongly at one speed: `resonance` (blade, speed)."""
    n, blades = 6000, 5
    speed = np.linspace(1000, 3000, n)
    angle = np.tile(np.arange(blades) * 72.0, (n, 1))
    blade, at = resonance
    angle[:, blade - 1] += 4.0 * np.exp(-(((speed - at) / 40.0) ** 2)) * np.sin(np.arange(n) * 2.3)
    toa = angle / speed[:, None]
    return lines(speed, {"P": (np.ones(n), np.ones((n, blades)), toa)})


@pytest.mark.parametrize("resonance", [(3, 2400.0), (5, 1300.0)])
def test_resonance_peak_stands_at_its_speed_and_blade(resonance):
    r = reduced(runup(resonance), rows=1000)
    speed, ptp = r.probes["P"].deviation.amplitude()
    # One amplitude per window of _PTP_LINES lines (no more than the bins hold).
    assert len(speed) == 6000 // _PTP_LINES and ptp.shape == (len(speed), 5)
    # The running means and windows carry across batches.
    whole = reduced(runup(resonance)).probes["P"].deviation.amplitude()
    np.testing.assert_allclose(speed, whole[0], rtol=1e-12)
    np.testing.assert_allclose(ptp, whole[1], rtol=0, atol=1e-9)
    found = _peaks(speed, ptp, r.probes["P"].blades)
    blade, at = resonance
    assert found and found[0][1] == blade and abs(found[0][0] - at) < 30


def test_bins_keep_the_last_partial_bin():
    # 37 lines into at most 8 bins: width 8, and the fifth bin holds 5 lines.
    bins = _Bins(columns=4)
    values = np.arange(37, dtype=np.float64)
    for a, b in ((0, 5), (5, 16), (16, 37)):
        bins.add("v.max", "max", values[a:b])
        bins.add("v.sum", "sum", values[a:b])
        bins.add("v.count", "count", values[a:b])
        bins.advance(b - a)
    assert bins.width == 8 and bins.used == 5
    assert bins.get("v.max").tolist() == [7, 15, 23, 31, 36]
    assert bins.get("v.count").tolist() == [8, 8, 8, 8, 5] and bins.get("v.sum").sum() == values.sum()
