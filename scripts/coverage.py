#!/usr/bin/python3
"""Coverage of the 95 % intervals that `tarvo fit` reports, on synthetic data.

For each replicate count (2 and 3) it makes N data sets of bench/coverage (A -> B -> C, two
outputs, four free constants) with `tarvo synth` at the true values of truth.toml plus
normal noise, fits each with `tarvo fit`, and counts per constant how often the truth lies
  - inside the profile-likelihood interval (ci in fit.json; an open side is unbounded),
  - within value +- 1.96 SE (residual-based),
  - within value +- 1.96 SD (the library's replicate-based SD).
A trustworthy 95 % interval holds the truth in 90-99 % of the data sets.

Usage: /usr/bin/python3 scripts/coverage.py [--sets N] [--jobs J] [--tarvo build/tarvo]
The default of 30 sets per replicate count takes about a minute; the README's table comes
from --sets 100.
"""
import argparse
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import tempfile
import tomllib

HERE = os.path.dirname(os.path.abspath(__file__))
BENCH = os.path.join(HERE, "..", "bench", "coverage")
NOISE = 0.02


def one_set(tarvo, replicates, seed, work):
    folder = os.path.join(work, f"r{replicates}-s{seed}")
    os.makedirs(folder)
    shutil.copy(os.path.join(BENCH, "model.toml"), folder)
    model = os.path.join(folder, "model.toml")
    subprocess.run([tarvo, "synth", model, "--design", os.path.join(BENCH, "design.csv"),
                    "--truth", os.path.join(BENCH, "truth.toml"), "--noise", str(NOISE),
                    "--replicates", str(replicates), "--seed", str(seed),
                    "-o", os.path.join(folder, "data.csv")],
                   check=True, capture_output=True)
    subprocess.run([tarvo, "fit", model, "-q", "-o", os.path.join(folder, "out")],
                   capture_output=True)
    try:
        with open(os.path.join(folder, "out", "fit.json")) as f:
            fit = json.load(f)
    except (OSError, ValueError):
        fit = {"converged": False}
    shutil.rmtree(folder)
    return fit


def holds(entry, truth):
    """(profile, SE, SD) coverage of one adjustable; None where the figure is missing."""
    v = entry["value"]
    ci, se, sd = entry.get("ci"), entry.get("se"), entry.get("sd")
    prof = None
    if ci:
        prof = ((ci["lower_open"] or ci["lower"] <= truth) and
                (ci["upper_open"] or truth <= ci["upper"]))
    return (prof,
            None if se is None else abs(v - truth) <= 1.96 * se,
            None if sd is None else abs(v - truth) <= 1.96 * sd)


def run(tarvo, replicates, sets, jobs, truth):
    counts = {name: [0, 0, 0] for name in truth}
    usable = 0
    with tempfile.TemporaryDirectory(prefix="tarvo-coverage-") as work:
        tarvo = shutil.copy(tarvo, work)  # a rebuild during the run must not disturb it
        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            fits = pool.map(lambda s: one_set(tarvo, replicates, s, work),
                            range(1, sets + 1))
            for fit in fits:
                if not fit["converged"]:
                    continue
                usable += 1
                for e in fit["adjustables"]:
                    if e["name"] in truth:
                        for k, h in enumerate(holds(e, truth[e["name"]])):
                            counts[e["name"]][k] += bool(h)
    return usable, counts


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--sets", type=int, default=30, help="data sets per replicate count")
    ap.add_argument("--jobs", type=int, default=1, help="fits at a time")
    ap.add_argument("--tarvo", default=os.path.join(HERE, "..", "build", "tarvo"))
    args = ap.parse_args()
    with open(os.path.join(BENCH, "truth.toml"), "rb") as f:
        truth = tomllib.load(f)
    tarvo = os.path.abspath(args.tarvo)
    print(f"{args.sets} data sets per row, noise SD {NOISE}; share of 95 % intervals holding "
          "the truth")
    print(f"| replicates | constant | profile | value +- 1.96 SE | value +- 1.96 SD (library) |")
    print(f"|---|---|---|---|---|")
    bad = False
    for replicates in (2, 3):
        usable, counts = run(tarvo, replicates, args.sets, args.jobs, truth)
        for name, (prof, se, sd) in counts.items():
            share = [100 * c / usable if usable else 0 for c in (prof, se, sd)]
            bad = bad or not 90 <= share[0] <= 99
            print(f"| {replicates} | {name} | {share[0]:.0f} % | {share[1]:.0f} % | "
                  f"{share[2]:.0f} % |")
        if usable < args.sets:
            print(f"({args.sets - usable} of {args.sets} fits with {replicates} replicates "
                  "did not converge and are left out)")
    sys.stdout.flush()
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
