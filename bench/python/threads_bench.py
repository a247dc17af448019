"""The front end's analyses on every core against one thread, measured side by side in one run.

Wall time of `tarvo fit examples/enzyme/model.toml` (profiles on: the SE columns and one
profile per free adjustable run side by side) and of the same fit with --starts 4 (the starts
side by side too), each with TARVO_THREADS=1 and with the default (the machine's cores). The
two settings run in turn for several rounds, the order alternating, so that a change in the
machine's load falls on both; the figures are the medians of the rounds, and the ratio is
one thread's median over the default's. Each round also checks that fit.json gives the same
figures either way (every number but the calls' timings).

With --network, also the 30-species network of peer_bench.py (8 free constants, 999 times x
6 outputs; its data generated here as there) fitted by "BDF" and by "EXACT" without profiles:
there the perturbed walks of each fitting call and the SE columns carry most of the work. The
tool's own start-up, report and plots (about a second for 12,000 plotted values) stay on one
thread; so the fits are also run through the Python module in this process (needs
PYTHONPATH=build/python), the two settings alternating fit by fit, which times the fit alone:
the network without profiles and with them (Model.fit's default: a refit per free constant),
and the enzyme with profiles from 4 starts. Without profiles each fitting call's two step
simulations must follow one another, which bounds the gain on two cores to about 1.5x.

Run from the repository on a build with the tool:
    /usr/bin/python3 bench/python/threads_bench.py [--tarvo build/tarvo] [--rounds 9]
        [--network]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
MODEL = str(ROOT / "examples" / "enzyme" / "model.toml")


def figures(path):
    """fit.json without the timings of the fitting calls."""
    d = json.loads(Path(path).read_text())
    for call in d.get("history", []):
        call.pop("seconds", None)
    return d


def run(tarvo, extra, threads, out, model=MODEL):
    env = dict(os.environ)
    env.pop("TARVO_THREADS", None)
    if threads is not None:
        env["TARVO_THREADS"] = str(threads)
    began = time.perf_counter()
    subprocess.run([tarvo, "fit", "-q", "-o", out, *extra, model], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    return time.perf_counter() - began, figures(Path(out) / "fit.json")


def api_rounds(cases, rounds):
    """Fits through the Python module, TARVO_THREADS set before each fit (the library reads it
    at each set-up, the front end at each analysis). cases: (name, model path, fit options)."""
    import tarvo
    print(f"{'Python Model.fit':30} {'TARVO_THREADS=1':>16} {'default':>10} {'ratio':>7}  same figures")
    for name, model, options in cases:
        times = {1: [], None: []}
        got = {}
        for r in range(rounds + 1):
            for threads in ((1, None) if r % 2 == 0 else (None, 1)):
                os.environ.pop("TARVO_THREADS", None)
                if threads is not None:
                    os.environ["TARVO_THREADS"] = str(threads)
                began = time.perf_counter()
                f = tarvo.Model.from_toml(model).fit(progress=False, **options)
                if r > 0:  # the first round warms up
                    times[threads].append(time.perf_counter() - began)
                got[threads] = [repr(v) for v in (*f.values, *f.se, f.calls)]  # NaN as text
        os.environ.pop("TARVO_THREADS", None)
        one, default = statistics.median(times[1]), statistics.median(times[None])
        same = got[1] == got[None]
        print(f"{name:30} {one * 1e3:13.0f} ms {default * 1e3:7.0f} ms "
              f"{one / default:6.2f}x  {'yes' if same else 'NO'}")
        if not same:
            sys.exit(1)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--tarvo", default=str(ROOT / "build" / "tarvo"))
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--network", action="store_true", help="also the 30-species network, and fits through the Python module")
    args = ap.parse_args()
    # --no-profiles for reference: what stays on one thread (start-up, the fit, the SE columns
    # only, the report and the plots).
    cases = [("enzyme fit, profiles", [], MODEL), ("enzyme fit, --starts 4", ["--starts", "4"], MODEL),
             ("enzyme fit, --no-profiles", ["--no-profiles"], MODEL)]
    work = tempfile.TemporaryDirectory()
    api_cases = []
    if args.network:
        sys.path.insert(0, str(Path(__file__).resolve().parent))
        import peer_bench  # the same network and data as the peer comparison
        problem = peer_bench.make_network()
        problem.make_data()
        for method in ("BDF", "EXACT"):
            path = str(problem.write(Path(work.name) / "network", method, peer_bench.RTOL))
            cases.append((f"network {method}, --no-profiles", ["--no-profiles"], path))
            api_cases.append((f"network {method}, no profiles", path, {"profiles": False}))
            api_cases.append((f"network {method}, profiles", path, {}))
        api_cases.append(("enzyme, profiles, 4 starts", MODEL, {"starts": 4}))
    print(f"cores: {os.cpu_count()}; rounds: {args.rounds}; medians of wall time")
    if api_cases:
        api_rounds(api_cases, args.rounds)
    print(f"{'tarvo fit':30} {'TARVO_THREADS=1':>16} {'default':>10} {'ratio':>7}  same figures")
    with tempfile.TemporaryDirectory() as tmp:
        for name, extra, model in cases:
            times = {1: [], None: []}
            same = True
            run(args.tarvo, extra, None, f"{tmp}/warm", model)  # page cache
            for r in range(args.rounds):
                order = (1, None) if r % 2 == 0 else (None, 1)
                got = {}
                for threads in order:
                    t, fig = run(args.tarvo, extra, threads, f"{tmp}/{threads}", model)
                    times[threads].append(t)
                    got[threads] = fig
                same = same and got[1] == got[None]
            one, default = statistics.median(times[1]), statistics.median(times[None])
            print(f"{name:30} {one * 1e3:13.0f} ms {default * 1e3:7.0f} ms {one / default:6.2f}x"
                  f"  {'yes' if same else 'NO'}")
            if not same:
                sys.exit(1)


if __name__ == "__main__":
    main()
