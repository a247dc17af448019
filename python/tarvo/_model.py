"""A model file read once, fitted and simulated as often as one likes.

Each call prepares the model afresh with the data and values given and runs the engine in a
session of its own with the GIL released: threads can fit one model or several at once.
"""

import os
import sys
import warnings

import numpy as np
import pandas as pd

from tarvo import _core, _toml
from tarvo._result import FitResult


def _sets(values):
    """--set overrides from a mapping of adjustable names to numbers (exact round trip)."""
    if values is None:
        return []
    if not hasattr(values, "items"):
        raise TypeError("values must map adjustable names to numbers")
    return [f"{name}={float(v)!r}" for name, v in values.items()]


def _names(arg, what):
    if arg is None:
        return []
    if isinstance(arg, str):
        return [arg]
    names = list(arg)
    for n in names:
        if not isinstance(n, str):
            raise TypeError(f"{what} takes adjustable names, not {n!r}")
    return names


def _data(data):
    """(path, csv text, name) of a data argument: None, a path, or a DataFrame shaped like
    the data file (time, optional interval, one column per output or replicate)."""
    if data is None:
        return None, None, ""
    if isinstance(data, (str, os.PathLike)):
        return os.fspath(data), None, ""
    if isinstance(data, pd.DataFrame):
        return None, _csv(data), "<DataFrame>"
    raise TypeError(f"data is a path or a pandas.DataFrame, not {type(data).__name__}")


def _cell(v):
    """A data cell as the data file writes it: floats exact (shortest round trip), NaN and
    None empty (a missing replicate), anything else as its text for the reader to judge."""
    if isinstance(v, (float, np.floating)):
        return "" if v != v else repr(float(v))
    if isinstance(v, (int, np.integer)) and not isinstance(v, (bool, np.bool_)):
        return str(int(v))
    return "" if v is None or v is pd.NA else str(v)


def _csv(frame):
    """The data file's text of a DataFrame: numbers exact (shortest round trip), missing cells
    empty. pandas' writer costs more than a short fit's own Python call: a table of numbers is
    written by the library, other cells here, and text that needs quoting by pandas."""
    header = [str(c) for c in frame.columns]
    plain = not any(ch in name for name in header for ch in ',"\n\r')
    table = frame.to_numpy()  # numbers only: float64 or int64; any other cell: objects
    if plain and table.dtype.kind in "iuf":
        return _core.data_text(header, table)
    rows = [[_cell(v) for v in row] for row in frame.itertuples(index=False, name=None)]
    if not plain or any(any(ch in cell for ch in ',"\n\r') for row in rows for cell in row):
        return frame.to_csv(index=False, float_format="%.17g")
    return "\n".join(",".join(line) for line in [header, *rows]) + "\n"


def _print_line(text):
    sys.stderr.write(text)
    sys.stderr.flush()


class Model:
    """A kinetic model: the structure of a model file (README, "Writing a model file")."""

    def __init__(self, handle):
        self._model = handle

    @classmethod
    def from_toml(cls, path):
        """Reads a model file; relative paths in it (data) start at its folder."""
        return cls(_core.read_model(os.fspath(path)))

    @classmethod
    def from_dict(cls, d, name="<dict>"):
        """A model from a dict of the model file's structure; its relative paths start at
        the working folder. Messages name it ``name`` and count lines of the dict's text
        (one per top-level key, one per entry of a list of tables)."""
        return cls(_core.read_model_text(_toml.dumps(d), name))

    @property
    def path(self):
        return self._model.path

    @property
    def outputs(self):
        return list(self._model.outputs)

    @property
    def adjustables(self):
        """DataFrame of the declared adjustables: value, free, bound."""
        return pd.DataFrame(self._model.adjustables).set_index("name")

    def simulate(self, times=None, values=None, intervals=None):
        """The simulated outputs at the given times (interval 1 unless intervals are given),
        or at the data's points when times is None, as a DataFrame: time, interval and one
        column per output. values overrides adjustables for this call."""
        path, text, name = None, None, ""
        if times is not None:
            t = np.asarray(times, dtype=float).ravel()
            k = np.ones(len(t), dtype=int) if intervals is None else np.asarray(intervals).ravel()
            if len(k) != len(t):
                raise ValueError(f"{len(t)} times but {len(k)} intervals")
            frame = pd.DataFrame({"interval": k, "time": t})
            text, name = frame.to_csv(index=False, float_format="%.17g"), "<times>"
        out = _core.simulate(self._model, _sets(values), path, text, name)
        frame = pd.DataFrame({"time": out["time"], "interval": out["interval"]})
        y = np.asarray(out["values"], dtype=float).reshape(len(out["time"]), len(out["outputs"]))
        for o, output in enumerate(out["outputs"]):
            frame[output] = y[:, o]
        return frame

    def fit(self, data=None, free=None, fixed=None, starts=None, seed=None, values=None,
            progress=True, profiles=True):
        """Fits the free adjustables to data (None: the file the model names; a path; or a
        DataFrame shaped like the data file).

        free, fixed: names to fit or to hold, over the model's own flags. starts: fit from
        that many starts spread over the values' ranges and keep the best (seed: of their
        random values). values: start values. progress: True prints the command's progress
        lines on stderr, a callable receives each line, False prints nothing. profiles:
        False skips the profile-likelihood intervals.

        A fit that fails or does not converge returns its result (``converged`` False,
        ``message`` saying why) with a RuntimeWarning; bad input raises InputError."""
        path, text, name = _data(data)
        if progress is True:
            progress = _print_line
        elif progress is False:
            progress = None
        run, model_warnings = _core.fit(
            self._model, _sets(values), path, text, name, _names(free, "free"),
            _names(fixed, "fixed"), "" if starts is None else str(starts),
            "" if seed is None else str(seed), bool(profiles), progress)
        for w in model_warnings:
            warnings.warn(w, RuntimeWarning, stacklevel=2)
        result = FitResult(run)
        if not result.converged:
            warnings.warn(f"the fit {result.outcome}: {result.message}" if result.message
                          else f"the fit {result.outcome}", RuntimeWarning, stacklevel=2)
        return result

    def __repr__(self):
        return f"tarvo.Model({self.path!r})"
