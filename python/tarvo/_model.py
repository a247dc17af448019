"""A model file read once, fitted and simulated as often as one likes.

Each call prepares the model afresh with the data and values given and runs the engine in a
session of its own with the GIL released: threads can fit one model or several at once.
"""

from __future__ import annotations

import operator
import os
import sys
import warnings
from typing import Callable, Iterable, Mapping, Optional, Union

import numpy as np
import pandas as pd

from tarvo import _core, _toml
from tarvo._result import FitResult

PathLike = Union[str, "os.PathLike[str]"]
Data = Union[None, PathLike, pd.DataFrame]
Names = Union[None, str, Iterable[str]]


def _values(values, arg="values"):
    """(name, number) pairs of a mapping of adjustable names to numbers: a dict, or a
    FitResult's ``values`` (whose bound adjustables the library checks against their
    formulas)."""
    if values is None:
        return []
    if not hasattr(values, "items"):
        raise TypeError(f"{arg} must map adjustable names to numbers, not "
                        f"{type(values).__name__}")
    return [(str(name), float(v)) for name, v in values.items()]


def _names(arg, what):
    if arg is None:
        return []
    if isinstance(arg, str):
        return [arg]
    names = list(arg)
    for n in names:
        if not isinstance(n, str):
            raise TypeError(f"{what}={names!r}: adjustable names are expected, not {n!r}")
    return names


def _whole(v, what):
    """An int setting: None, or a whole number given as an int (a float is refused, also
    3.0: the setting counts)."""
    if v is None:
        return None
    if isinstance(v, (bool, np.bool_)):
        raise TypeError(f"{what}={v!r}: an int is expected, not bool")
    try:
        return operator.index(v)
    except TypeError:
        raise TypeError(f"{what}={v!r}: an int is expected, not {type(v).__name__}") from None


def _number(v, what):
    if v is None:
        return None
    if isinstance(v, (bool, np.bool_)) or not isinstance(v, (int, float, np.integer,
                                                               np.floating)):
        raise TypeError(f"{what}={v!r}: a number is expected, not {type(v).__name__}")
    return float(v)


def _data(data, name="<DataFrame>"):
    """The data arguments of _core: (path, columns, table, csv text, name). A DataFrame of
    numbers goes as its columns and a float64 array; one with other cells as CSV text, for
    the reader to name the cell that is wrong."""
    if data is None:
        return None, None, None, None, ""
    if isinstance(data, (str, os.PathLike)):
        return os.fspath(data), None, None, None, ""
    if isinstance(data, pd.DataFrame):
        columns = [str(c) for c in data.columns]
        try:
            table = data.to_numpy(dtype=np.float64)
        except (TypeError, ValueError):
            return None, None, None, _csv(data), name
        return None, columns, table, None, name
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
    """The data file's text of a DataFrame whose cells are not all numbers: numbers exact
    (shortest round trip), missing cells empty, text that needs quoting quoted."""
    header = [str(c) for c in frame.columns]
    rows = [[_cell(v) for v in row] for row in frame.itertuples(index=False, name=None)]
    if any(any(ch in cell for ch in ',"\n\r') for row in [header, *rows] for cell in row):
        return frame.to_csv(index=False, float_format="%.17g")
    return "\n".join(",".join(line) for line in [header, *rows]) + "\n"


def _print_line(text):
    sys.stderr.write(text)
    sys.stderr.flush()


class Model:
    """A kinetic model: the structure of a model file (README, "Writing a model file").

    Read one with :meth:`from_toml` or :meth:`from_dict`; then :meth:`fit` and
    :meth:`simulate` as often as wanted, from any thread.
    """

    def __init__(self, handle: _core.ModelFile):
        self._model = handle

    @classmethod
    def from_toml(cls, path: PathLike) -> "Model":
        """Read a model file.

        Parameters
        ----------
        path : str or os.PathLike
            The model file (TOML); relative paths in it (data) start at its folder.

        Raises
        ------
        InputError
            The file is missing or wrong, with its line and column.
        """
        return cls(_core.read_model(os.fspath(path)))

    @classmethod
    def from_sbml(cls, path: PathLike) -> "Model":
        """Read an SBML file (Level 2 or 3), translated as ``tarvo import`` translates it.

        Parameters
        ----------
        path : str or os.PathLike
            The SBML file. The model has no data file: give ``data`` to :meth:`fit`, or
            simulate it on ``times``.

        Raises
        ------
        InputError
            The file cannot be read, or uses what the model language cannot hold (the
            message names the construct and the element's id).
        """
        path = os.fspath(path)
        return cls(_core.read_model_text(_core.import_sbml(path), path))

    def to_sbml(self) -> str:
        """The model at its file's values as SBML Level 3 Version 2 (``tarvo export``)."""
        return _core.export_sbml(self._model, {})

    @classmethod
    def from_dict(cls, d: Mapping, name: str = "<dict>") -> "Model":
        """A model from a dict of the model file's structure.

        Parameters
        ----------
        d : dict
            What ``tomllib.load`` gives for a model file. Relative paths in it start at the
            working folder.
        name : str
            The model's name in messages, which count lines of the dict's text: one per
            top-level key, one per entry of a list of tables.
        """
        return cls(_core.read_model_text(_toml.dumps(d), name))

    @property
    def path(self) -> str:
        """The model file's path (``name`` for a model from a dict)."""
        return self._model.path

    @property
    def outputs(self) -> list:
        """The names of the model's outputs."""
        return list(self._model.outputs)

    @property
    def adjustables(self) -> pd.DataFrame:
        """The declared adjustables: ``value``, ``free``, ``bound`` (has ``equal_to``)."""
        return pd.DataFrame(self._model.adjustables).set_index("name")

    def simulate(self, times: Optional[Iterable[float]] = None,
                 values: Optional[Mapping[str, float]] = None,
                 intervals: Optional[Iterable[int]] = None) -> pd.DataFrame:
        """Simulate the outputs.

        Parameters
        ----------
        times : array_like of float, optional
            The times to simulate at, increasing. None: the data's points.
        values : mapping of str to float, optional
            Values of adjustables for this call, over the model's. A fit's ``values`` may be
            handed back whole: a bound adjustable (``equal_to``) follows its formula, and a
            value given for it is taken when its formula gives that value, else refused.
        intervals : array_like of int, optional
            The interval of each time (default: all in interval 1).

        Returns
        -------
        pandas.DataFrame
            ``time``, ``interval`` and one column per output.

        Raises
        ------
        InputError
            A bad argument, named as such (``values={'k': 1.0}: ...``), or bad data
            (``<times>:LINE``: row LINE - 1 of the times).
        SimulationError
            The simulation failed.
        """
        source = (None, None, None, None, "")
        if times is not None:
            t = np.asarray(times, dtype=float).ravel()
            k = (np.ones(len(t)) if intervals is None
                 else np.asarray(intervals, dtype=float).ravel())
            if len(k) != len(t):
                raise ValueError(f"{len(t)} times but {len(k)} intervals")
            source = (None, ["interval", "time"], np.column_stack([k, t]), None, "<times>")
        out = _core.simulate(self._model, _values(values), *source)
        frame = pd.DataFrame({"time": out["time"], "interval": out["interval"]})
        for o, output in enumerate(out["outputs"]):
            frame[output] = out["values"][:, o]
        return frame

    def fit(self, data: Data = None, free: Names = None, fixed: Names = None,
            starts: Optional[int] = None, seed: Optional[int] = None,
            values: Optional[Mapping[str, float]] = None,
            progress: Union[bool, Callable[[str], object]] = True, profiles: bool = True,
            method: Optional[str] = None, tolerance: Optional[float] = None,
            max_calls: Optional[int] = None) -> FitResult:
        """Fit the free adjustables to data.

        Parameters
        ----------
        data : str, os.PathLike or pandas.DataFrame, optional
            None: the file the model names; a data file; or a DataFrame shaped like the data
            file (``time``, optional ``interval``, one column per output or replicate; NaN a
            missing replicate).
        free, fixed : str or list of str, optional
            Adjustables to fit or to hold, over the model's own flags.
        starts : int, optional
            Fit from that many starts spread over the values' ranges and keep the best (the
            converged one with the least weighted residual sum of squares).
        seed : int, optional
            Seed of the starts' random values (default 1).
        values : mapping of str to float, optional
            Start values (a fit's ``values`` too: see :meth:`simulate`).
        progress : bool or callable, optional
            True prints the progress lines on stderr, a callable receives each line (the
            calls, each start of a multi-start fit, each profile), False prints nothing.
        profiles : bool, optional
            False skips the profile-likelihood intervals.
        method, tolerance, max_calls : optional
            The integration method, its tolerance and the most fitting calls, over the
            model's.

        Returns
        -------
        FitResult
            Also when the fit fails or does not converge (``converged`` False,
            ``message`` says why), with a RuntimeWarning.

        Raises
        ------
        InputError
            Bad input; a bad argument is named as such (``fixed=['nope']: ...``).
        TypeError
            An argument of the wrong type (``starts=3.5``).
        """
        starts = _whole(starts, "starts")
        seed = _whole(seed, "seed")
        max_calls = _whole(max_calls, "max_calls")
        tolerance = _number(tolerance, "tolerance")
        if method is not None and not isinstance(method, str):
            raise TypeError(f"method={method!r}: a method's name is expected")
        if progress is True:
            progress = _print_line
        elif progress is False:
            progress = None
        run, model_warnings = _core.fit(
            self._model, _values(values), *_data(data), _names(free, "free"),
            _names(fixed, "fixed"), method, tolerance, max_calls, starts, seed,
            bool(profiles), progress)
        for w in model_warnings:
            warnings.warn(w, RuntimeWarning, stacklevel=2)
        result = FitResult(run, model_warnings, model=self._model)
        if not result.converged:
            warnings.warn(f"the fit {result.outcome}: {result.message}" if result.message
                          else f"the fit {result.outcome}", RuntimeWarning, stacklevel=2)
        return result

    def __repr__(self) -> str:
        return f"tarvo.Model({self.path!r})"
