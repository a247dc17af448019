"""Many fits at once on Dask: a laptop's cores through a LocalCluster, or a cluster's workers.

>>> from tarvo.batch import fit_many
>>> table = fit_many([("examples/enzyme/model.toml", "plate/A1.csv", {}),
...                   ("examples/enzyme/model.toml", "plate/A2.csv", {"fixed": ["S0"]})])

Each task is fitted on a worker by a model of its own (read there from the model file or
dict), so tasks share nothing and any number run side by side. The results come back as one
DataFrame, one row per task in the order given: outcome, converged, message (why a fit
failed), seconds, and per adjustable its value, SD, SE and interval as ``fit.json`` gives them
(columns ``Vmax``, ``Vmax.sd``, ``Vmax.se``, ``Vmax.lower``, ``Vmax.upper``,
``Vmax.lower_open``, ``Vmax.upper_open``: an open side is where the profile stopped, not a
bound), the columns of ``tarvo batch``'s summary.csv. A task that fails is a row with its message, never a lost task.

Multi-start and bootstrap runs are lists of tasks like any other: :func:`multi_start_tasks`
and :func:`bootstrap_tasks` make them, :func:`best` picks the best fit of a multi-start run.
"""

from __future__ import annotations

import os
import socket
import sys
import time
import warnings
from typing import Iterable, List, Optional, Sequence, Union

import numpy as np
import pandas as pd

from tarvo import _core

__all__ = ["fit_many", "local_cluster", "multi_start_tasks", "bootstrap_tasks", "best",
           "read_data", "QUIET_WORKERS"]

# The keys an overrides dict may hold, and what they mean to Model.fit.
_OVERRIDES = ("values", "free", "fixed", "starts", "seed", "method", "tolerance", "max_calls",
              "profiles", "name")
# Task columns of a DataFrame of tasks besides model and data: the manifest's spellings too.
_ALIASES = {"set": "values", "out": "name"}


def _values(v):
    """Start values: a mapping, or the manifest's "k1=0.3;k2=0.1"."""
    if v is None or isinstance(v, float) and np.isnan(v):
        return None
    if isinstance(v, str):
        pairs = [p.split("=", 1) for p in v.split(";") if p.strip()]
        bad = [p[0] for p in pairs if len(p) != 2]
        if bad:
            raise ValueError(f"set {v!r}: {bad[0].strip()!r} is not name=value")
        return {k.strip(): float(x) for k, x in pairs}
    return dict(v)


def _names(v):
    """Adjustable names: a list, or the manifest's "Vmax;Km"."""
    if v is None or isinstance(v, float) and np.isnan(v):
        return None
    if isinstance(v, str):
        return [n.strip() for n in v.split(";") if n.strip()]
    return list(v)


def _count(v):
    """starts and seed as whole numbers (a DataFrame column of them may hold floats)."""
    return int(v) if isinstance(v, (float, np.floating)) and float(v).is_integer() else v


def _absolute(p):
    """A path as the workers must find it (absolute); dicts and DataFrames as they are."""
    if isinstance(p, (str, os.PathLike)):
        return os.path.abspath(os.fspath(p))
    return p


def _describe(p):
    if p is None:
        return ""
    if isinstance(p, (str, os.PathLike)):
        return os.fspath(p)
    if isinstance(p, pd.DataFrame):
        return f"<DataFrame {len(p)} rows>"
    return f"<{type(p).__name__}>"


def _tasks(tasks):
    """The tasks as a list of dicts: model, data and the overrides."""
    if isinstance(tasks, pd.DataFrame):
        rows = []
        for rec in tasks.to_dict("records"):
            rec = {_ALIASES.get(k, k): v for k, v in rec.items()
                   if not (isinstance(v, float) and np.isnan(v))}  # empty cells
            data = rec.pop("data", None)
            if isinstance(data, float) and np.isnan(data):
                data = None
            rows.append((rec.pop("model"), data, rec))
        tasks = rows
    out = []
    for i, task in enumerate(tasks):
        if isinstance(task, dict):
            task = (task.get("model"), task.get("data"),
                    {k: v for k, v in task.items() if k not in ("model", "data")})
        model, data, overrides = (list(task) + [None, None])[:3]
        overrides = {_ALIASES.get(k, k): v for k, v in dict(overrides or {}).items()}
        unknown = sorted(set(overrides) - set(_OVERRIDES))
        if unknown:
            raise ValueError(f"task {i}: unknown override {unknown[0]!r} "
                             f"(known: {', '.join(_OVERRIDES)})")
        if model is None:
            raise ValueError(f"task {i}: no model")
        if not isinstance(model, (str, os.PathLike, dict)):
            # A tarvo.Model travels as its file: each worker reads a model of its own.
            path = getattr(model, "path", None)
            if not (isinstance(path, str) and os.path.isfile(path)):
                raise ValueError(f"task {i}: the model is a path, a dict or a Model read "
                                 f"from a file, not {model!r}")
            model = path
        out.append({"task": i, "model": _absolute(model), "data": _absolute(data), **overrides})
    return out


def _row(job, outcome, message, seconds, fit=None, worker=True):
    """A finished task: its own cells (task, name, worker) and the summary row of its fit
    (``_core`` writes the summary's cells, as for ``tarvo batch``)."""
    row = dict(fit or {})
    if not fit:
        row.update(outcome=outcome, message=message)
    row.update(model=_describe(job["model"]) if not isinstance(job["model"], dict) else "<dict>",
               data=_describe(job["data"]), seconds=seconds)
    return {"task": job["task"], "name": job.get("name") or "", "row": row,
            "worker": f"{socket.gethostname()}:{os.getpid()}" if worker else ""}


_TRIM_SET = False


def _keep_freed_memory():
    """Dask's nanny starts each worker with MALLOC_TRIM_THRESHOLD_=65536, so glibc hands back
    the top of the heap on nearly every free, and setting it also stops glibc from raising its
    mmap threshold, so every block of 128 KiB or more is mapped and unmapped afresh. A fit takes
    and frees its buffers call after call, and the pages so returned are faulted in again: on a
    virtual machine that made a fit 1.5x slower, and more with two workers side by side. Freed
    memory up to 64 MiB is kept, and blocks below 32 MiB come from the heap."""
    global _TRIM_SET
    if _TRIM_SET:
        return
    _TRIM_SET = True
    if sys.platform.startswith("linux"):
        try:
            import ctypes
            libc = ctypes.CDLL("libc.so.6")
            libc.mallopt(-1, 64 << 20)  # M_TRIM_THRESHOLD
            libc.mallopt(-3, 32 << 20)  # M_MMAP_THRESHOLD
        except (OSError, AttributeError):
            pass


def fit_one(job):
    """Fits one task (a dict of _tasks) on the worker that runs it: a dict, never raises."""
    _keep_freed_memory()
    # The tasks already run side by side, one per worker thread or process: each fit's own
    # threads would only crowd the cores (a TARVO_THREADS of the user's own is kept).
    os.environ.setdefault("TARVO_THREADS", "1")
    t0 = time.perf_counter()
    try:
        import tarvo
        model = job["model"]
        model = (tarvo.Model.from_dict(model) if isinstance(model, dict)
                 else tarvo.Model.from_toml(model))
        with warnings.catch_warnings():
            # The row keeps the model's warnings; a fit that does not converge says so in its
            # message.
            warnings.simplefilter("ignore")
            result = model.fit(job["data"], free=_names(job.get("free")),
                               fixed=_names(job.get("fixed")), starts=_count(job.get("starts")),
                               seed=_count(job.get("seed")), values=_values(job.get("values")),
                               method=job.get("method"), tolerance=job.get("tolerance"),
                               max_calls=_count(job.get("max_calls")),
                               progress=False, profiles=job.get("profiles", True))
        return _row(job, None, None, time.perf_counter() - t0,
                    result._run.summary_row(result.warnings))
    except Exception as e:  # every failure is a row with its message
        outcome = "bad input" if isinstance(e, (ValueError, TypeError)) else "failed"
        return _row(job, outcome, f"{type(e).__name__}: {e}" if outcome == "failed" else str(e),
                    time.perf_counter() - t0)


# Dask settings for workers whose tasks are CPU-bound fits on every core: each worker samples
# its own stacks every 10 ms and polls the system several times a second, and beside fits that
# fill the cores those wake-ups slow every fit (by about a tenth with 2 workers on 2 cores).
# The profiler goes (the fits run in C++, where it sees nothing) and the monitors slow down.
QUIET_WORKERS = {
    "distributed.worker.profile.enabled": False,
    "distributed.admin.tick.interval": "1s",
    "distributed.admin.system-monitor.interval": "2s",
    "distributed.worker.memory.monitor-interval": "1s",
}


def local_cluster(workers: Optional[int] = None, **kwargs):
    """The LocalCluster fit_many starts without a client.

    Parameters
    ----------
    workers : int, optional
        Single-threaded worker processes (default: one per core), with QUIET_WORKERS.
    **kwargs
        Passed to ``distributed.LocalCluster``.

    Returns
    -------
    distributed.LocalCluster
    """
    import dask
    from distributed import LocalCluster
    options = dict(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                   processes=True, dashboard_address=":0")
    options.update(kwargs)
    with dask.config.set(QUIET_WORKERS):
        return LocalCluster(**options)


def fit_many(tasks: Union[Sequence, pd.DataFrame], client=None, workers: Optional[int] = None,
             progress: bool = False) -> pd.DataFrame:
    """Fit every task on Dask workers.

    Parameters
    ----------
    tasks : list or pandas.DataFrame
        A list of ``(model, data, overrides)`` or of dicts with those keys, or a DataFrame
        with columns model, data and any overrides. model is a model file's path or a dict
        of its structure; data a data file's path, a DataFrame shaped like the data file, or
        None (the file the model names). overrides holds values (a mapping or
        ``"k1=0.3;k2=0.1"``), free and fixed (names, or ``"a;b"``), starts, seed, method,
        tolerance, max_calls, profiles and name (a label for the row). Paths must be valid
        where the workers run; relative ones are made absolute here.
    client : distributed.Client, optional
        Without one a LocalCluster of ``workers`` processes (default: one per core, one
        thread each) runs the fits and is closed after.
    progress : bool
        True prints the count of finished fits on stderr.

    Returns
    -------
    pandas.DataFrame
        A row per task in the order given, indexed by task: name, then the columns of
        ``tarvo batch``'s summary.csv (outcome, converged, calls, ErreurCalc, aic, ssr,
        seconds, per adjustable its value, SD, SE and interval, message, warnings), and
        worker. A task that fails is a row with its message.
    """
    jobs = _tasks(tasks)
    if not jobs:
        return _frame([])
    own = None
    if client is None:
        from distributed import Client
        own = local_cluster(workers)
        client = Client(own)
    try:
        futures = client.map(fit_one, jobs, pure=False)
        _watch(futures, progress)
        rows = []
        for job, f in zip(jobs, futures):
            try:
                rows.append(f.result())
            except Exception as e:  # the worker died under the task, or it was cancelled
                rows.append(_row(job, "failed", f"{type(e).__name__}: {e}", float("nan"),
                                 worker=False))
    finally:
        if own is not None:
            client.close()
            own.close()
    return _frame(rows)


def _watch(futures, progress):
    if not progress:
        return
    from distributed import as_completed
    terminal = sys.stderr.isatty()
    done = failed = 0
    for f in as_completed(futures):
        done += 1
        failed += f.status != "finished" or not f.result()["row"].get("converged")
        line = f"fit_many: {done}/{len(futures)} fits, {failed} not converged"
        sys.stderr.write(("\r\033[K" + line) if terminal else line + "\n")
        sys.stderr.flush()
    if terminal:
        sys.stderr.write("\n")


def _frame(rows):
    """The table of the finished tasks: task (the index), name, the summary's columns, and
    worker."""
    if not rows:
        return pd.DataFrame()
    columns, cells = _core.summary_table(
        ["task", "name"], [[r["task"], r["name"]] for r in rows], [r["row"] for r in rows],
        ["worker"], [[r["worker"]] for r in rows])
    frame = pd.DataFrame(cells, columns=columns).set_index("task")
    text = {"name", "model", "data", "outcome", "converged", "message", "warnings", "worker"}
    for c in frame.columns:
        if c not in text and not c.endswith("_open"):
            frame[c] = pd.to_numeric(frame[c], errors="coerce")
    frame["converged"] = frame["converged"].astype(bool)
    return frame


def read_data(path: Union[str, "os.PathLike[str]"]) -> pd.DataFrame:
    """A data file as a DataFrame in the shape Model.fit takes (its # comment lines
    dropped); repeated column names keep their replicate numbers (Y, Y.1, ...)."""
    return pd.read_csv(path, comment="#")


def multi_start_tasks(model, data=None, seeds: Union[int, Iterable[int]] = 8, starts: int = 4,
                      **overrides) -> List[tuple]:
    """One task per seed, each fitting from ``starts`` starts spread over the values'
    ranges: seeds is a count (seeds 1..n) or the seeds themselves. fit_many runs them
    side by side; :func:`best` keeps the converged fit with the least ``ssr``."""
    seeds = range(1, seeds + 1) if isinstance(seeds, int) else seeds
    return [(model, data, {**overrides, "starts": starts, "seed": int(s), "name": f"seed {s}"})
            for s in seeds]


def best(results: pd.DataFrame) -> pd.Series:
    """The best fit of a table of fit_many: the converged one with the least weighted
    residual sum of squares (``ssr``), by the rule of a multi-start fit's starts.

    Raises
    ------
    ValueError
        No fit converged.
    """
    ssr = results["ssr"] if "ssr" in results else pd.Series(np.nan, index=results.index)
    k = _core.best_fit(list(results["converged"].astype(bool)), list(ssr.astype(float)))
    if k < 0:
        raise ValueError("no fit converged: " + "; ".join(results["message"].astype(str)))
    return results.iloc[k]


def _output(column):
    """The output a data column belongs to: Abs340.2 -> Abs340."""
    head, dot, tail = column.rpartition(".")
    return head if dot and tail.isdigit() else column


def bootstrap_tasks(model, data, n: int = 100, seed: int = 0, **overrides) -> List[tuple]:
    """n tasks, each fitting data resampled at every time point: for each output, the
    replicates of a row are drawn with replacement from that row's own (missing ones stay
    missing). The spread of the fitted values over the tasks estimates their uncertainty.
    data: a path or a DataFrame with replicate columns (Y.1, Y.2 or Y, Y.1)."""
    frame = read_data(data) if isinstance(data, (str, os.PathLike)) else data.copy()
    groups = {}
    for c in frame.columns:
        if c not in ("time", "interval"):
            groups.setdefault(_output(c), []).append(c)
    if all(len(cols) < 2 for cols in groups.values()):
        raise ValueError("bootstrap_tasks resamples replicates: the data has one column per "
                         "output")
    rng = np.random.default_rng(seed)
    tasks = []
    for b in range(n):
        sample = frame.copy()
        for cols in groups.values():
            y = frame[cols].to_numpy(dtype=float)
            for r in range(len(y)):
                have = y[r][~np.isnan(y[r])]
                if len(have):
                    pick = rng.choice(have, size=len(have), replace=True)
                    row = np.full(len(cols), np.nan)
                    row[~np.isnan(y[r])] = pick
                    y[r] = row
            sample[cols] = y
        tasks.append((model, sample, {**overrides, "name": f"bootstrap {b + 1}"}))
    return tasks
