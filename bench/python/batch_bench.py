"""Batch fits on Dask and the cost of the Python layer, measured side by side in one run.

1. The wall time of N fits (default 64 synthetic data sets of the enzyme example) through
   tarvo.batch.fit_many on a LocalCluster of 1 and of 2 worker processes (one thread each;
   the clusters are started before the clock runs), and the ratio of the two; then how busy
   the pool kept its workers and how much slower each fit ran beside another. The two
   sizes run in turn for several rounds (the order alternating), so that a change of the
   machine's speed falls on both; the ratio reported is the median of the rounds'. The
   clusters are those fit_many starts (tarvo.batch.local_cluster, Dask's workers quietened);
   --dask-defaults measures clusters with Dask's default settings as well.
2. The time of one fit through the public call ``Model.fit`` against the library's own fit
   call underneath it (``tarvo._core.fit``: reading the data, the fit and its uncertainty in
   C++, nothing of Python but the arguments), both the best of R repeats, and the overhead
   as a percentage; for reference the wall time of ``tarvo fit`` as a process (TARVO_BIN).

Run from the repository with the module on PYTHONPATH (the README's "Python" section):
    PYTHONPATH=build/python /usr/bin/python3 bench/python/batch_bench.py [--fits 64]
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import tomllib
import warnings
from pathlib import Path

import numpy as np
import pandas as pd
from distributed import Client, LocalCluster

import tarvo
from tarvo import batch

ENZYME = Path(__file__).resolve().parents[2] / "examples" / "enzyme"
MODEL = str(ENZYME / "model.toml")


def data_sets(n):
    """n data sets of the example's design at its truth with normal noise, seeds 0..n-1."""
    model = tarvo.Model.from_toml(MODEL)
    truth = tomllib.loads((ENZYME / "truth.toml").read_text())
    design = pd.read_csv(ENZYME / "design.csv")
    exact = model.simulate(design["time"], values=truth, intervals=design["interval"])
    sets = []
    for seed in range(n):
        rng = np.random.default_rng(seed)
        d = design.copy()
        for output in ("Abs340", "Fluo"):
            for r in range(1, 4):
                d[f"{output}.{r}"] = exact[output].to_numpy() + rng.normal(0, 0.005, len(d))
        sets.append(d)
    return sets


def batch_wall(tasks, workers, quiet):
    cluster = batch.local_cluster(workers) if quiet else \
        LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=":0")
    with cluster, Client(cluster) as client:
        client.wait_for_workers(workers)
        client.run(lambda: __import__("tarvo"))  # the module loaded before the clock runs
        t0 = time.perf_counter()
        results = batch.fit_many(tasks, client=client)
        wall = time.perf_counter() - t0
    failed = int((~results["converged"]).sum())
    return wall, results["seconds"].sum(), failed


def timed(call):
    t0 = time.perf_counter()
    call()
    return time.perf_counter() - t0


def overhead(data, repeats, profiles):
    """Best times of the Python call and of the library call, timed in turn so that a change
    of the machine's load falls on both, and the median of their per-round ratios."""
    model = tarvo.Model.from_toml(MODEL)
    text = data.to_csv(index=False, float_format="%.17g")
    py_call = lambda: model.fit(data, progress=False, profiles=profiles)  # noqa: E731
    core = getattr(tarvo, "_core", None)
    lib_call = None
    if core is not None and hasattr(core, "fit"):
        handle = model._model
        lib_call = lambda: core.fit(handle, [], None, text, "<DataFrame>", [], [],  # noqa: E731
                                    "", "", profiles, None)
    py, lib, ratios = [], [], []
    for r in range(repeats):
        if lib_call is None:
            py.append(timed(py_call))
            continue
        pair = [timed(py_call), timed(lib_call)] if r % 2 == 0 else \
            list(reversed([timed(lib_call), timed(py_call)]))
        py.append(pair[0])
        lib.append(pair[1])
        ratios.append(pair[0] / pair[1])
    command = None
    program = os.environ.get("TARVO_BIN") or shutil.which("tarvo")
    if program:
        with tempfile.TemporaryDirectory() as d:
            args = [program, "fit", MODEL, "-q", "-o", d] + ([] if profiles else ["--no-profiles"])
            command = min(timed(lambda: subprocess.run(args, capture_output=True))
                          for _ in range(repeats))
    return min(py), (min(lib) if lib else None), \
        (float(np.median(ratios)) if ratios else None), command


def main():
    warnings.simplefilter("ignore")  # the example's data warn of a value at 0, every fit alike
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--fits", type=int, default=64)
    ap.add_argument("--repeats", type=int, default=20, help="repeats of the single-fit timing")
    ap.add_argument("--rounds", type=int, default=5, help="rounds of the 1- and 2-worker runs")
    ap.add_argument("--dask-defaults", action="store_true",
                    help="also measure clusters with Dask's default settings")
    ap.add_argument("--no-profiles", action="store_true",
                    help="SE only: skip the profile-likelihood intervals in every fit")
    args = ap.parse_args()
    profiles = not args.no_profiles
    sets = data_sets(args.fits)
    tasks = [(MODEL, d, {"profiles": profiles}) for d in sets]
    print(f"{args.fits} fits of the enzyme example (synthetic data sets), "
          f"{'with' if profiles else 'without'} profile intervals; {os.cpu_count()} cores")
    for quiet in (True, False) if args.dask_defaults else (True,):
        print("clusters of batch.local_cluster (Dask's workers quietened)" if quiet else
              "clusters with Dask's default settings")
        ratios, slow, busy2 = [], [], []
        for r in range(args.rounds):
            walls, busies = {}, {}
            for workers in ((1, 2) if r % 2 == 0 else (2, 1)):
                wall, busy, failed = batch_wall(tasks, workers, quiet)
                walls[workers], busies[workers] = wall, busy
                if failed:
                    print(f"  {failed} fits did not converge with {workers} workers")
            ratios.append(walls[1] / walls[2])
            slow.append(busies[2] / busies[1])
            busy2.append(busies[2] / (2 * walls[2]))
            print(f"  round {r + 1}: 1 worker {walls[1]:6.2f} s ({walls[1] / args.fits * 1000:5.1f} ms "
                  f"per fit), 2 workers {walls[2]:6.2f} s: {ratios[-1]:.2f}x")
        print(f"  2 workers are {np.median(ratios):.2f}x faster than 1 (median of "
              f"{args.rounds} rounds, {min(ratios):.2f}x to {max(ratios):.2f}x); workers busy {np.median(busy2) * 100:.0f} % of the wall "
              f"time with 2; a fit takes {np.median(slow):.2f}x as long beside another")

    py, lib, ratio, command = overhead(sets[0], args.repeats, profiles)
    print(f"one fit, best of {args.repeats} (the two calls timed in turn):")
    print(f"  Model.fit (Python)        {py * 1000:8.2f} ms")
    if lib is not None:
        print(f"  tarvo._core.fit (library) {lib * 1000:8.2f} ms")
        print(f"  overhead of the Python call: {(py / lib - 1) * 100:+.1f} % on the best times, "
              f"{(ratio - 1) * 100:+.1f} % median of the rounds")
    else:
        print("  tarvo._core.fit: not available in this tarvo package")
    if command is not None:
        print(f"  tarvo fit (a process, writing its files) {command * 1000:8.2f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
