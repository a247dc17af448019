"""tarvo's fits against scipy and lmfit fits of the same problems, side by side in one run.

Three problems, each with data generated here from its truth (relative noise, fixed seeds):
  abc      A -> B -> C, 200 times x 3 outputs x 3 replicates, 2 free (k1, k2)
  enzyme   S + E <=> ES -> E + P, substrate added at t = 50 (interval 2), 2 free (k1, kcat)
  network  30 species in a chain with a reversible step every fifth species, rate constants
           over three decades (make_network below, with its truth), 999 times x 6 outputs
           x 2 replicates, 8 free

Every fit uses the same data, start values and relative error model (the weight of a squared
residual is 1/(mean of the replicates x model value), as tarvo's error_type = 2). tarvo fits
through the Python module, one fresh model per fit (Model.from_toml, then Model.fit with
profiles=False: set-up, the fit, its standard errors, release). The peers fit with
  - scipy.optimize.least_squares (method "trf") around solve_ivp(LSODA),
  - lmfit.minimize (leastsq) around solve_ivp(LSODA),
  - least_squares (trf) around solve_ivp(BDF) given the exact Jacobian,
at rtol = tarvo's tolerance and atol = rtol x the largest start value (as tarvo's "BDF"), each
with a right-hand side written out in NumPy (the enzyme's by hand, the linear ones as M @ y). Each time printed is the median of --repeats fits after one
untimed warm-up fit, the fits of all in rounds (each once a round, the order reversed every
other round, so that the machine's drift falls on all alike); the ratio is that of the
fastest peer to tarvo. Then the fitted values of
all, with tarvo's SEs and the largest distance between tarvo's and each peer's values in SEs
(a peer whose finite differences of a loose integration stall away from the optimum shows up
there).

Run from the repository with the module on PYTHONPATH (the README's "Python" section):
    PYTHONPATH=build/python /usr/bin/python3 bench/python/peer_bench.py [--repeats 5]
        [--problems abc enzyme network] [--keep DIR]
"""

import argparse
import os
import statistics
import sys
import tempfile
import time
import warnings
from pathlib import Path

import lmfit
import numpy as np
from scipy.integrate import solve_ivp
from scipy.linalg import expm
from scipy.optimize import least_squares


RTOL = 1e-8


class Problem:
    """A kinetic model as both sides see it: tarvo's model file text and a right-hand side
    with its Jacobian for solve_ivp. Rates are mass action; params maps names to values."""

    def __init__(self, name, species, reactions, outputs, start, params, free, guess,
                 intervals, replicates, noise, seed, hand=None):
        self.name = name
        self.species = species            # names
        self.reactions = reactions        # (reactants, products, rate name)
        self.outputs = outputs            # (name, {species: weight}, constant)
        self.start = start                # per interval: {species: formula text}
        self.params = params              # truth of every adjustable
        self.free = free
        self.guess = guess                # start values of the free ones
        self.intervals = intervals        # per interval: array of times
        self.replicates = replicates
        self.noise = noise
        self.seed = seed
        self.hand = hand                  # p -> (f, jac) written out by hand, or None
        self.index = {s: i for i, s in enumerate(species)}
        self.linear = all(len(r[0]) <= 1 for r in reactions)

    # --- the model, in numbers -----------------------------------------------------------
    def rhs(self, p):
        idx = self.index
        if self.hand is not None:
            return self.hand(p)
        if self.linear:
            m = self.matrix(p)
            return (lambda t, y: m @ y), (lambda t, y: m)
        terms = [([idx[s] for s in r], [idx[s] for s in q], p[k]) for r, q, k in self.reactions]
        n = len(self.species)

        def f(t, y):
            d = np.zeros(n)
            for rs, ps, k in terms:
                v = k * np.prod(y[rs])
                d[rs] -= v
                d[ps] += v
            return d

        def jac(t, y):
            j = np.zeros((n, n))
            for rs, ps, k in terms:
                for a in rs:
                    dv = k * np.prod([y[b] for b in rs if b != a]) if len(rs) > 1 else k
                    j[rs, a] -= dv
                    j[ps, a] += dv
            return j

        return f, jac

    def matrix(self, p):
        n = len(self.species)
        m = np.zeros((n, n))
        for r, q, k in self.reactions:
            a = self.index[r[0]]
            m[a, a] -= p[k]
            for s in q:
                m[self.index[s], a] += p[k]
        return m

    def reset(self, k, y, p):
        """The state after interval k's start formulas (k from 0), from the state before."""
        out = y.copy()
        for s, text in self.start[k].items():
            env = dict(p)
            env.update({name: y[i] for i, name in enumerate(self.species)})
            out[self.index[s]] = eval(text, {}, env)  # the bench's own formulas
        return out

    def simulate(self, p, method="LSODA", exact_jacobian=False, rtol=RTOL, atol=None):
        """The outputs at every time (rows), one column per output. Interval 1 starts at 0;
        each later one at its first time, reached with the previous interval's rates, where
        its start formulas act (that point shows the state after them), as in tarvo."""
        f, jac = self.rhs(p)
        m = self.matrix(p) if self.linear else None
        if atol is None:
            atol = rtol * max(abs(v) for v in self.reset(0, np.zeros(len(self.species)), p))
        extra = {"jac": jac} if exact_jacobian else {}

        def advance(y, t0, times):
            if method == "expm":
                out, t_prev = [], t0
                for t in times:
                    y = expm(m * (t - t_prev)) @ y
                    t_prev = t
                    out.append(y)
                return np.array(out)
            sol = solve_ivp(f, (t0, times[-1]), y, method=method, t_eval=times, rtol=rtol,
                            atol=atol, **extra)
            if not sol.success:
                raise RuntimeError(sol.message)
            return sol.y.T

        y = self.reset(0, np.zeros(len(self.species)), p)
        t = 0.0
        states = []
        for k, times in enumerate(self.intervals):
            if k > 0:
                y = self.reset(k, advance(y, t, times[:1])[-1], p)
                t = times[0]
            if times[0] == t:
                states.append(y)
                rest = times[1:]
            else:
                rest = times
            x = advance(y, t, rest)
            states.extend(x)
            y, t = x[-1], rest[-1]
        x = np.array(states)
        cols = []
        for _, weights, const in self.outputs:
            cols.append(sum(w * x[:, self.index[s]] for s, w in weights.items()) + const)
        return np.column_stack(cols)

    # --- data and files ------------------------------------------------------------------
    def make_data(self):
        exact = self.simulate(self.params, method="expm") if self.linear else \
            self.simulate(self.params, method="Radau", exact_jacobian=True, rtol=1e-12,
                          atol=1e-20)
        rng = np.random.default_rng(self.seed)
        self.data = exact[:, :, None] * (1 + self.noise * rng.standard_normal(
            exact.shape + (self.replicates,)))
        self.mean = self.data.mean(axis=2)

    def write(self, folder, method, tolerance):
        folder.mkdir(parents=True, exist_ok=True)
        rows = ["interval,time," + ",".join(f"{o[0]}.{r + 1}" for o in self.outputs
                                              for r in range(self.replicates))]
        j = 0
        for k, times in enumerate(self.intervals):
            for t in times:
                vals = [f"{self.data[j, o, r]:.17g}" for o in range(len(self.outputs))
                        for r in range(self.replicates)]
                rows.append(f"{k + 1},{t:.17g}," + ",".join(vals))
                j += 1
        (folder / "data.csv").write_text("\n".join(rows) + "\n")
        lines = [f'method = "{method}"', f"tolerance = {tolerance:g}", "error_type = 2",
                 "precision = 1e-8", "max_calls = 100", 'data = "data.csv"', ""]
        for s in self.species:
            starts = [self.start[k].get(s, s) for k in range(len(self.intervals))]
            while len(starts) > 1 and starts[-1] == s:
                starts.pop()
            if starts == [s]:
                starts = ["0"]
            value = starts[0] if len(starts) == 1 else "[" + ", ".join(
                f'"{x}"' for x in starts) + "]"
            value = value if value.startswith("[") else f'"{value}"'
            lines += ["[[species]]", f'name = "{s}"', f"start = {value}", ""]
        for name, v in self.params.items():
            free = name in self.free
            value = self.guess[name] if free else v
            lines += ["[[adjustables]]", f'name = "{name}"', f"value = {value:.17g}"]
            lines += ["free = true", ""] if free else [""]
        for name, weights, const in self.outputs:
            formula = " + ".join(f"{w:.17g}*{s}" if w != 1 else s for s, w in weights.items())
            if const:
                formula += f" + {const:g}"
            lines += ["[[outputs]]", f'name = "{name}"', f'formula = "{formula}"', ""]
        for r, q, k in self.reactions:
            lines += ["[[reactions]]", f'equation = "{" + ".join(r)} -> {" + ".join(q)}"',
                      f'rate = "{k}"', ""]
        path = folder / f"model_{method.replace(' ', '_')}.toml"
        path.write_text("\n".join(lines))
        return path

    # --- the peers' residuals ------------------------------------------------------------
    def residuals(self, theta, method, exact_jacobian):
        p = dict(self.params)
        p.update(zip(self.free, theta))
        y = self.simulate(p, method=method, exact_jacobian=exact_jacobian)
        weight = np.sqrt(np.clip(self.mean * y, 1e-300, None))
        return ((y[:, :, None] - self.data) / weight[:, :, None]).ravel()


def abc():
    times = np.linspace(0.2, 40, 200)
    return Problem(
        "A -> B -> C", ["A", "B", "C"], [(["A"], ["B"], "k1"), (["B"], ["C"], "k2")],
        [("yA", {"A": 1}, 0), ("yB", {"B": 1}, 0), ("yC", {"C": 1}, 0)],
        [{"A": "Atot"}], {"k1": 0.3, "k2": 0.08, "Atot": 1.0}, ["k1", "k2"],
        {"k1": 0.5, "k2": 0.05}, [times], 3, 0.02, 1)


def enzyme_rhs(p):
    k1, km1, kcat = p["k1"], p["km1"], p["kcat"]

    def f(t, y):
        s, e, es, _ = y
        v1, v2, v3 = k1 * s * e, km1 * es, kcat * es
        return np.array([v2 - v1, v2 + v3 - v1, v1 - v2 - v3, v3])

    def jac(t, y):
        s, e, _, _ = y
        return np.array([[-k1 * e, -k1 * s, km1, 0.0],
                         [-k1 * e, -k1 * s, km1 + kcat, 0.0],
                         [k1 * e, k1 * s, -km1 - kcat, 0.0],
                         [0.0, 0.0, kcat, 0.0]])

    return f, jac


def enzyme():
    first = np.linspace(1, 49, 49)
    second = np.linspace(50, 100, 51)
    return Problem(
        "enzyme", ["S", "E", "ES", "P"],
        [(["S", "E"], ["ES"], "k1"), (["ES"], ["S", "E"], "km1"), (["ES"], ["E", "P"], "kcat")],
        [("yS", {"S": 1}, 0), ("yP", {"P": 1}, 0)],
        [{"S": "S0", "E": "E0"}, {"S": "S + Sadd"}],
        {"k1": 10.0, "km1": 1.0, "kcat": 2.0, "S0": 0.5, "Sadd": 0.5, "E0": 0.02},
        ["k1", "kcat"], {"k1": 5.0, "kcat": 3.0}, [first, second], 3, 0.02, 2, enzyme_rhs)


def make_network(seed=3):
    """The 30-species network and its truth: X1 -> X2 -> ... -> X30 with X5 <=> X6,
    X10 <=> X11, ... reversible; forward constants 10^U(-1, 2), reverse half the forward.
    Six outputs, one per block of five species, each the block's species weighted 0.2, 0.4,
    ..., 1.0 (as absorptivities that differ) plus a 0.001 baseline. Free: the 8 slowest
    forward constants (the ones the data tell), started 30 % above or 25 % below the truth."""
    rng = np.random.default_rng(seed)
    species = [f"X{i}" for i in range(1, 31)]
    reactions, params = [], {"X0tot": 1.0}
    for i in range(1, 30):
        k = f"k{i}"
        params[k] = float(10 ** rng.uniform(-1, 2))
        reactions.append(([f"X{i}"], [f"X{i + 1}"], k))
        if i % 5 == 0:
            params[f"kr{i}"] = params[k] / 2
            reactions.append(([f"X{i + 1}"], [f"X{i}"], f"kr{i}"))
    outputs = [(f"Y{b + 1}", {f"X{5 * b + j}": 0.2 * j for j in range(1, 6)}, 0.001)
               for b in range(6)]
    forward = sorted((params[f"k{i}"], f"k{i}") for i in range(1, 30))
    free = sorted((k for _, k in forward[:8]), key=lambda k: int(k[1:]))
    guess = {k: params[k] * (1.3 if n % 2 == 0 else 0.75) for n, k in enumerate(free)}
    return Problem("network", species, reactions, outputs, [{"X1": "X0tot"}], params, free,
                   guess, [np.linspace(0.1, 99.9, 999)], 2, 0.02, 4)


def timed_rounds(calls, repeats):
    """name -> call, each run once untimed (a warm-up), then in repeats rounds each timed once,
    the order reversed every other round: the machine's speed drifts by a quarter from minute
    to minute, and so the drift falls on all alike. name -> (result of its last call, median
    seconds); a call that raises RuntimeError is dropped, with its message, name -> str."""
    results, times = {}, {}
    for name, call in calls.items():
        try:
            results[name] = call()
            times[name] = []
        except RuntimeError as e:
            results[name] = str(e).strip().splitlines()[0]
    names = list(times)
    for r in range(repeats):
        for name in (names if r % 2 == 0 else reversed(names)):
            t0 = time.perf_counter()
            results[name] = calls[name]()
            times[name].append(time.perf_counter() - t0)
    return {name: (res, statistics.median(times[name])) if name in times else res
            for name, res in results.items()}


def tarvo_fit(path):
    import tarvo  # here, so that the problems serve scripts run without the module

    def call():
        r = tarvo.Model.from_toml(path).fit(progress=False, profiles=False)
        return r.values, r.se, r.converged, r.calls
    return call


def peer_fits(problem):
    x0 = np.array([problem.guess[k] for k in problem.free])

    def scipy_fit(method, exact_jacobian):
        def call():
            r = least_squares(problem.residuals, x0, method="trf", x_scale="jac",
                              bounds=(0, np.inf), args=(method, exact_jacobian))
            return dict(zip(problem.free, r.x)), r.nfev
        return call

    def lmfit_fit():
        params = lmfit.Parameters()
        for k in problem.free:
            params.add(k, value=problem.guess[k], min=0)

        def resid(pars):
            return problem.residuals([pars[k].value for k in problem.free], "LSODA", False)

        def call():
            r = lmfit.minimize(resid, params, method="leastsq")
            return {k: r.params[k].value for k in problem.free}, r.nfev
        return call

    return {"scipy trf + LSODA": scipy_fit("LSODA", False),
            "lmfit leastsq + LSODA": lmfit_fit(),
            "scipy trf + BDF (exact Jacobian)": scipy_fit("BDF", True)}


def run(problem, methods, repeats, folder):  # folder: of this problem
    problem.make_data()
    print(f"\n== {problem.name}: {sum(len(t) for t in problem.intervals)} times x "
          f"{len(problem.outputs)} outputs x {problem.replicates} replicates, "
          f"{len(problem.free)} free, rtol {RTOL:g}")
    calls = peer_fits(problem)
    for method, tol in methods:
        calls["tarvo " + method] = tarvo_fit(problem.write(folder, method, tol))
    timed = timed_rounds(calls, repeats)
    peers = {}
    for name, got in timed.items():
        if name.startswith("tarvo "):
            continue
        if isinstance(got, str):
            print(f"  {name:34s} failed: {got}")
            continue
        (values, nfev), seconds = got
        peers[name] = (values, seconds)
        print(f"  {name:34s} {seconds * 1000:10.1f} ms  (nfev {nfev})")
    fastest = min(peers.items(), key=lambda kv: kv[1][1])
    ours = {}
    for method, _ in methods:
        (values, se, converged, fit_calls), seconds = timed["tarvo " + method]
        ours[method] = (values, se)
        note = "" if converged else "  NOT CONVERGED"
        print(f"  tarvo {method:28s} {seconds * 1000:10.1f} ms  ({fit_calls} calls)  "
              f"{fastest[1][1] / seconds:6.1f}x the fastest peer ({fastest[0]}){note}")
    print("  fitted values (tarvo's SE in brackets):")
    header = f"    {'':8s} {'truth':>10s}" + "".join(f" {m[:14]:>22s}" for m in ours) + \
        "".join(f" {n[:18]:>18s}" for n in peers)
    print(header)
    for k in problem.free:
        line = f"    {k:8s} {problem.params[k]:10.5g}"
        for values, se in ours.values():
            line += f" {values[k]:10.6g} ({se[k]:8.2g})"
        for values, _ in peers.values():
            line += f" {values[k]:18.6g}"
        print(line)
    for method, (values, se) in ours.items():
        far = ", ".join(f"{n}: {max(abs(values[k] - pv[k]) / se[k] for k in problem.free):.3g}"
                        for n, (pv, _) in peers.items())
        print(f"  tarvo {method}: largest distance from each peer's values, in tarvo's SEs: {far}")


def main():
    warnings.simplefilter("ignore")
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--repeats", type=int, default=5)
    ap.add_argument("--problems", nargs="+", default=["abc", "enzyme", "network"],
                    choices=["abc", "enzyme", "network"])
    ap.add_argument("--keep", help="write the problems' model files and data here")
    args = ap.parse_args()
    print(f"tarvo against scipy {__import__('scipy').__version__} and lmfit {lmfit.__version__}, "
          f"{os.cpu_count()} cores; medians of {args.repeats} fits")
    plan = {
        "abc": (abc, [("RUNGE-KUTTA QC", RTOL), ("EXACT", RTOL), ("auto", RTOL)]),
        "enzyme": (enzyme, [("RUNGE-KUTTA QC", RTOL), ("BDF", RTOL), ("auto", RTOL)]),
        "network": (make_network, [("BDF", RTOL), ("EXACT", RTOL), ("RUNGE-KUTTA QC", RTOL)]),
    }
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(args.keep) if args.keep else Path(tmp)
        for name in args.problems:
            make, methods = plan[name]
            run(make(), methods, args.repeats, folder / name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
