#!/usr/bin/python3
"""Coverage of the 95 % intervals that `tarvo fit` reports, on synthetic data.

For each model and replicate count (2 and 3) it makes N data sets with `tarvo synth` at the
true values of the model's truth.toml plus normal noise, fits each with `tarvo fit`, and
counts per constant how often the truth lies
  - inside the profile-likelihood interval (ci in fit.json; an open side is unbounded),
  - within value +- 1.96 SE (residual-based),
  - within value +- 1.96 SD (the library's replicate-based SD).
A trustworthy 95 % interval holds the truth in 90-99 % of the data sets. The models:
  linear      bench/coverage: A -> B -> C, two outputs, four free constants, noise SD 0.02
  mm          bench/coverage_mm: Michaelis-Menten depletion, Vmax and Km free (correlated),
              relative noise 2 % (error_type = 2)
  mm-bounds   the same with both on a log scale, Km between 1e-4 and 10
  mm-wide     the same with Km between 1e-6 and 1e3
It also counts the fits that converged and their calls; for the mm variants fitted with mm in
the same run, it gives per data set the ratio of their calls to the plain mm fit's (the worst,
and how many exceed 1.5) and names the seeds over 1.5.

Usage: /usr/bin/python3 scripts/coverage.py [--sets N] [--jobs J] [--tarvo build/tarvo]
                                            [--models linear,mm,mm-bounds]
                                            [--replicates 2,3] [--block B]
--block B also gives the profile coverage of each block of B seeds (1-B, B+1-2B, ...).
The default of 30 sets per replicate count takes about a minute; the README's table comes
from --sets 40 (seeds 1 to 40).
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
NOISE = 0.02
# name: (folder under bench, model file, synth options, text replaced in the model file)
MODELS = {
    "linear": ("coverage", "model.toml", [], None),
    "mm": ("coverage_mm", "model.toml", ["--relative"], None),
    "mm-bounds": ("coverage_mm", "model_log_bounds.toml", ["--relative"], None),
    "mm-wide": ("coverage_mm", "model_log_bounds.toml", ["--relative"],
                ("min = 1e-4, max = 10", "min = 1e-6, max = 1e3")),
}


def one_set(tarvo, model_name, replicates, seed, work):
    sub, file, options, replace = MODELS[model_name]
    bench = os.path.join(HERE, "..", "bench", sub)
    folder = os.path.join(work, f"{model_name}-r{replicates}-s{seed}")
    os.makedirs(folder)
    with open(os.path.join(bench, file)) as f:
        text = f.read()
    if replace:
        text = text.replace(*replace)
    model = os.path.join(folder, "model.toml")
    with open(model, "w") as f:
        f.write(text)
    subprocess.run([tarvo, "synth", model, "--design", os.path.join(bench, "design.csv"),
                    "--truth", os.path.join(bench, "truth.toml"), "--noise", str(NOISE),
                    "--replicates", str(replicates), "--seed", str(seed),
                    "-o", os.path.join(folder, "data.csv")] + options,
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


def run(tarvo, model_name, replicates, sets, jobs, truth):
    counts = {name: [0, 0, 0] for name in truth}
    usable = 0
    calls = []
    per_seed = {}  # seed: calls of a converged fit
    held = {}  # seed: {constant: whether its profile interval holds the truth}
    with tempfile.TemporaryDirectory(prefix="tarvo-coverage-") as work:
        tarvo = shutil.copy(tarvo, work)  # a rebuild during the run must not disturb it
        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            fits = pool.map(lambda s: one_set(tarvo, model_name, replicates, s, work),
                            range(1, sets + 1))
            for seed, fit in enumerate(fits, 1):
                if not fit["converged"]:
                    continue
                usable += 1
                calls.append(fit["calls"])
                per_seed[seed] = fit["calls"]
                held[seed] = {}
                for e in fit["adjustables"]:
                    if e["name"] in truth:
                        for k, h in enumerate(holds(e, truth[e["name"]])):
                            counts[e["name"]][k] += bool(h)
                        held[seed][e["name"]] = bool(holds(e, truth[e["name"]])[0])
    return usable, counts, calls, per_seed, held


def block_lines(model_name, replicates, sets, block, held, names):
    """Profile coverage per block of `block` seeds (a fit that did not converge holds nothing)."""
    lines = []
    for first in range(1, sets + 1, block):
        seeds = range(first, min(first + block, sets + 1))
        n = {name: sum(held.get(s, {}).get(name, False) for s in seeds) for name in names}
        pooled = 100 * sum(n.values()) / (len(seeds) * len(names))
        lines.append(f"{model_name}, {replicates} replicates, seeds {first}-{seeds[-1]}: " +
                     ", ".join(f"{name} {n[name]}/{len(seeds)}" for name in names) +
                     f"; pooled {pooled:.0f} %")
    return lines


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--sets", type=int, default=30, help="data sets per replicate count")
    ap.add_argument("--jobs", type=int, default=1, help="fits at a time")
    ap.add_argument("--tarvo", default=os.path.join(HERE, "..", "build", "tarvo"))
    ap.add_argument("--models", default="linear,mm,mm-bounds",
                    help="comma-separated, of " + ", ".join(MODELS))
    ap.add_argument("--replicates", default="2,3", help="comma-separated replicate counts")
    ap.add_argument("--block", type=int, default=0,
                    help="also the profile coverage per block of this many seeds")
    args = ap.parse_args()
    tarvo = os.path.abspath(args.tarvo)
    print(f"{args.sets} data sets per row, noise SD {NOISE} (relative for mm); share of 95 % "
          "intervals holding the truth")
    print("| model | replicates | constant | profile | value +- 1.96 SE | "
          "value +- 1.96 SD (library) |")
    print("|---|---|---|---|---|---|")
    bad = False
    notes = []
    plain = {}  # replicates: the mm fits' calls per seed
    for model_name in args.models.split(","):
        with open(os.path.join(HERE, "..", "bench", MODELS[model_name][0], "truth.toml"),
                  "rb") as f:
            truth = tomllib.load(f)
        for replicates in [int(r) for r in args.replicates.split(",")]:
            usable, counts, calls, per_seed, held = run(tarvo, model_name, replicates, args.sets,
                                                        args.jobs, truth)
            for name, (prof, se, sd) in counts.items():
                share = [100 * c / usable if usable else 0 for c in (prof, se, sd)]
                bad = bad or not 88 <= share[0] <= 99
                print(f"| {model_name} | {replicates} | {name} | {share[0]:.0f} % | "
                      f"{share[1]:.0f} % | {share[2]:.0f} % |", flush=True)
            calls.sort()
            median = calls[len(calls) // 2] if calls else 0
            notes.append(f"{model_name}, {replicates} replicates: {usable} of {args.sets} fits "
                         f"converged, calls median {median}, max {max(calls, default=0)}")
            if args.block > 0:
                notes += block_lines(model_name, replicates, args.sets, args.block, held, list(truth))
            if model_name == "mm":
                plain[replicates] = per_seed
            elif model_name.startswith("mm-") and replicates in plain:
                ratios = {seed: c / plain[replicates][seed] for seed, c in per_seed.items()
                          if seed in plain[replicates]}
                over = sorted(seed for seed, q in ratios.items() if q > 1.5)
                notes[-1] += (f"; calls / plain mm fit's: max {max(ratios.values(), default=0):.2f}"
                              f", {len(over)} over 1.5" +
                              (" (seeds " + ", ".join(map(str, over)) + ")" if over else ""))
    for n in notes:
        print(n)
    sys.stdout.flush()
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
