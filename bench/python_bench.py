#!/usr/bin/python3
"""Throughput and memory of the Python package against the ways around it.

usage: python_bench.py BUILD_DIR

For a 200 MB and a 1 GB recording (cdt synth, four probes of 60 blades):
to_pandas() against cdt2csv followed by pandas.read_csv (target: 40 times
faster), read() against reading the file's bytes with numpy.fromfile
(target: at most 1.5 times that floor) and the peak memory of read() beyond
its arrays (target: 32 MiB at most); the parts of the 1 GB recording read
one after another and a one-line window; the 1 GB recording in parts of
50,000 lines on a two-worker distributed.LocalCluster against one
to_pandas() (target: no slower; each worker's peak memory at most its
largest part plus 64 MiB) and the workers' CPU for the mean of Speed alone
against read(probes=[]) (target: no more); then four 200 MB recordings on
that cluster against one process.

Environment: BENCH_DIR (default BUILD_DIR/python-bench), BENCH_RUNS (runs
per measurement, median taken, default 3), BENCH_SMALL=1 (20 MB and 100 MB
files, to try the script quickly), BENCH_KEEP=1 (keep the recordings).
"""

import json
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

build = Path(sys.argv[1] if len(sys.argv) > 1 else "build/release").resolve()
sys.path.insert(0, str(build / "python"))
os.environ["PYTHONPATH"] = str(build / "python") + os.pathsep + os.environ.get("PYTHONPATH", "")

import warnings  # noqa: E402

import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

import cdt  # noqa: E402
import cdt.dask  # noqa: E402
from cdt import _cdt  # noqa: E402

work = Path(os.environ.get("BENCH_DIR", build / "python-bench")).resolve()
runs = max(1, int(os.environ.get("BENCH_RUNS", "3")))
small = os.environ.get("BENCH_SMALL") == "1"
sizes = (20, 100) if small else (200, 1000)
MiB = 1 << 20


def synth(size, name, seed=1):
    out = work / name
    if not out.exists():
        subprocess.run([build / "tools" / "cdt", "synth", "--size", str(size), "--extras", "0",
                        "--profiles", "1000", "--seed", str(seed), out],
                       check=True, capture_output=True)
    return str(next(out.glob("*.cdt")))


def median_seconds(fn, n=runs):
    times = []
    for _ in range(n):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def csv_route(path):
    out = work / "csv"
    out.mkdir(exist_ok=True)
    subprocess.run([build / "driver" / "cdt2csv", path], check=True, cwd=out, capture_output=True)
    csv = out / (Path(path).stem + ".csv")
    pd.read_csv(csv)
    csv.unlink()


def read_memory(path):
    """Peak memory of read() beyond its arrays, in a fresh process."""
    code = f"""
import json, sys
sys.path.insert(0, {str(build / 'python')!r})
import cdt
rec = cdt.open({path!r})
rss = lambda: int(open('/proc/self/statm').read().split()[1]) * 4096
before = rss()
lines = rec.read()
# The high-water mark of this process's own memory (ru_maxrss would count
# the parent's resident memory at the fork too).
peak = next(int(l.split()[1]) * 1024 for l in open('/proc/self/status') if l.startswith('VmHWM:'))
size = sum(a.nbytes for a in (lines.float_block, lines.double_block, lines.time, lines.sync,
                               lines.start_rev, lines.end_rev))
print(json.dumps({{"before": before, "peak": peak, "arrays": size}}))
"""
    out = subprocess.run([sys.executable, "-c", code], check=True, capture_output=True, text=True)
    m = json.loads(out.stdout)
    return m["arrays"], m["peak"] - m["before"] - m["arrays"]


def verdict(ok):
    return "ok" if ok else "MISSED"


def main():
    warnings.simplefilter("ignore", DeprecationWarning)
    work.mkdir(parents=True, exist_ok=True)
    rows = []
    for size in sizes:
        path = synth(size, f"rev-{size}MB")
        rec = cdt.open(path)
        np.fromfile(path, dtype=np.uint8)  # the file in the page cache for every route
        floor = median_seconds(lambda: np.fromfile(path, dtype=np.uint8))
        read = median_seconds(rec.read)
        frame = median_seconds(rec.to_pandas)
        via_csv = median_seconds(lambda: csv_route(path), n=1 if size >= 1000 else runs)
        arrays, beyond = read_memory(path)
        rows.append((size, len(rec.read()), floor, read, frame, via_csv, arrays, beyond))

    print(f"\nPython package, {runs} run(s) each (median); recordings in {work}")
    print(f"{'file':>8} {'lines':>8} {'fromfile':>9} {'read()':>8} {'x floor':>8} "
          f"{'to_pandas':>10} {'csv+read_csv':>13} {'speed-up':>9} {'arrays':>9} {'beyond':>8}")
    ok = True
    for size, n, floor, read, frame, via_csv, arrays, beyond in rows:
        print(f"{size:>6}MB {n:>8} {floor:>8.3f}s {read:>7.3f}s {read / floor:>7.1f}x "
              f"{frame:>9.3f}s {via_csv:>12.2f}s {via_csv / frame:>8.1f}x "
              f"{arrays / MiB:>7.0f}Mi {beyond / MiB:>6.1f}Mi")
        ok &= read <= 1.5 * floor and via_csv >= 40 * frame and beyond <= 32 * MiB
    print("targets: read() <= 1.5x fromfile, to_pandas >= 40x csv+read_csv, "
          f"<= 32 MiB beyond the arrays: {verdict(ok)}")

    # The parts of the largest recording read one after another (each starts
    # where the plan says, so the last costs what the first does), and a one-line
    # window.
    rec = cdt.open(path)
    began = time.perf_counter()
    parts = rec.parts(rows=50000)
    plan_s = time.perf_counter() - began
    each = []
    for part in parts:
        began = time.perf_counter()
        rec.read(part=part)
        each.append(time.perf_counter() - began)
    first = int(rec.read(part=parts[0]).time_us[0])
    one_line = median_seconds(lambda: rec.read(stop=first + 1))
    print(f"parts: {len(parts)} of 50000 lines of the {sizes[-1]} MB recording, planned in "
          f"{plan_s:.2f}s, read one after another in {sum(each):.2f}s "
          f"({sum(each) / read:.2f}x read(); target <= 1.15x: {verdict(sum(each) <= 1.15 * read)}); "
          "each: " + " ".join(f"{e:.3f}" for e in each))
    print(f"a one-line window: {one_line * 1000:.1f} ms (target < 10 ms: {verdict(one_line < 0.01)})")

    # 1 s windows at 10 % and 90 % of the largest recording, in turn, each
    # from a new cdt.open and a start of its own: first as a new process
    # reads them (no grouping state kept), then again.
    times = rec.read(probes=[]).time_us
    def window_at(fraction, shift):
        start = int(times[int(len(times) * fraction)]) + shift
        began = time.perf_counter()
        cdt.open(path).read(start=start, stop=start + 1_000_000)
        return time.perf_counter() - began

    cold = {}
    for fraction in (0.1, 0.9):
        _cdt._forget_walk_states()
        cold[fraction] = window_at(fraction, 0)
    warm = {f: statistics.median(window_at(f, 1 + i) for i in range(runs)) for f in (0.1, 0.9)}
    print(f"1 s windows at 10 % / 90 %: first of the process {cold[0.1] * 1000:.1f} / "
          f"{cold[0.9] * 1000:.1f} ms ({cold[0.9] / cold[0.1]:.2f}x), again "
          f"{warm[0.1] * 1000:.1f} / {warm[0.9] * 1000:.1f} ms ({warm[0.9] / warm[0.1]:.2f}x; "
          f"target <= 1.3x: {verdict(warm[0.9] <= 1.3 * warm[0.1])})")

    blades = [c for c in rec.columns() if "Blade" in c]
    from distributed import Client, LocalCluster

    # The largest recording in parts of 50,000 lines on two workers against
    # one to_pandas(), each followed by the same reduction.
    def peak_rss():  # this process's own high-water mark (see read_memory)
        with open("/proc/self/status") as status:
            return next(int(l.split()[1]) * 1024 for l in status if l.startswith("VmHWM:"))

    single_s = median_seconds(lambda: rec.to_pandas()[blades].mean())
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        frame = cdt.dask.read_recordings(path, rows_per_partition=50000)
        # Each worker's memory with the modules loaded and no part read yet.
        client.run(lambda: [__import__(m) for m in ("cdt.dask", "dask.dataframe", "distributed")])
        before = client.run(peak_rss)
        frame.map_partitions(len).compute()  # each task's peak: reading its part
        after = client.run(peak_rss)
        cluster_s = median_seconds(lambda: frame[blades].mean().compute())
        # One column's mean: the graph is projected onto Speed, so the
        # workers read the lines' own columns and no probe's.
        speed = frame["Speed"].mean()
        speed.compute()

        def cpu_seconds():
            import resource
            used = resource.getrusage(resource.RUSAGE_SELF)
            return used.ru_utime + used.ru_stime

        spent = []
        for _ in range(runs):
            before_cpu = client.run(cpu_seconds)
            speed.compute()
            after_cpu = client.run(cpu_seconds)
            spent.append(sum(after_cpu[w] - before_cpu[w] for w in after_cpu))
        workers_cpu = statistics.median(spent)

    def column_cpu():
        began = time.process_time()
        rec.read(probes=[])
        return time.process_time() - began

    speed_cpu = statistics.median(column_cpu() for _ in range(runs))
    print(f"dask: Speed's mean of the {sizes[-1]} MB recording, the workers' CPU {workers_cpu:.2f}s "
          f"against read(probes=[]) {speed_cpu:.2f}s ({workers_cpu / speed_cpu:.2f}x; target <= 1x: "
          f"{verdict(workers_cpu <= speed_cpu)})")
    # A task's result: the part's frame and its File column.
    largest = max(rec.to_pandas(part=p).memory_usage().sum() + 8 * len(rec.read(part=p))
                  for p in parts)
    grown = max(after[w] - before[w] for w in after)
    print(f"dask: the {sizes[-1]} MB recording in {len(parts)} parts on a two-worker LocalCluster, "
          f"mean of {len(blades)} blade columns: {cluster_s:.2f}s against one to_pandas() "
          f"{single_s:.2f}s ({cluster_s / single_s:.2f}x; target <= 1x: "
          f"{verdict(cluster_s <= single_s)}); reading its parts, a worker's peak grew "
          f"{grown / MiB:.0f} MiB for parts of {largest / MiB:.0f} MiB (target <= part + 64 MiB: "
          f"{verdict(grown <= largest + 64 * MiB)})")

    # Four recordings: a reduction over every blade column on a two-worker
    # cluster against the same in one process.
    paths = [synth(sizes[0], f"dask-{i}", seed=i + 1) for i in range(4)]

    def one_process():
        return pd.concat([cdt.open(p).to_pandas() for p in paths])[blades].mean()

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster):
        frame = cdt.dask.read_recordings(paths)

        def on_cluster():
            return frame[blades].mean().compute()

        on_cluster()  # workers warm
        cluster_s = median_seconds(on_cluster)
    single_s = median_seconds(one_process)
    print(f"dask: 4 x {sizes[0]} MB, mean of {len(blades)} blade columns: one process "
          f"{single_s:.2f}s, two-worker LocalCluster {cluster_s:.2f}s ({single_s / cluster_s:.2f}x)")

    if os.environ.get("BENCH_KEEP") != "1":
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
