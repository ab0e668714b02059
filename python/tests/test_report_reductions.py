"""The report's reductions of the lines, fed hand-made batches."""

import numpy as np

from cdt.report.reduction import _Bins


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
