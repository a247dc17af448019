"""The result of a fit: the library's result types read into pandas objects, with the
report, fit.json's text and the plot."""

from __future__ import annotations

import json
import math
from typing import List, Optional

import numpy as np
import pandas as pd

from tarvo import _core


def _finite(v: float) -> float:
    return v if math.isfinite(v) else np.nan


class FitResult:
    """Values, standard errors, intervals and history of one fit.

    Every figure is the one ``tarvo fit`` writes into fit.json: ``sd`` is the library's SD
    (from the replicates' scatter), ``se`` the residual-based standard error, ``ci`` the
    profile-likelihood interval of each free adjustable. ``data`` gives the library's own
    result (``tarvo._core.FitResultData``) for anything not shown here.
    """

    def __init__(self, run: _core.FitRun, warnings: Optional[List[str]] = None,
                 model: Optional[_core.ModelFile] = None):
        self._run = run
        self._model = model
        #: The model's warnings, raised as RuntimeWarnings by the fit.
        self.warnings: List[str] = list(warnings or [])
        self.data: _core.FitResultData = run.result
        self._names = [a.name for a in self.data.adjustables]
        self._json: Optional[dict] = None

    @property
    def outcome(self) -> str:
        """``"converged"``, ``"not converged"``, ``"failed"`` or ``"interrupted"``."""
        return self.data.outcome

    @property
    def converged(self) -> bool:
        return self.data.outcome == "converged"

    @property
    def message(self) -> str:
        """Why the fit failed (``""`` when it did not)."""
        return self.data.erreur_text

    @property
    def calls(self) -> int:
        """The fitting calls of the final fit."""
        return self.data.calls

    @property
    def values(self) -> pd.Series:
        """Every declared adjustable's value at the end, bound ones included."""
        return pd.Series([a.value for a in self.data.adjustables], index=self._names,
                         name="value", dtype=float)

    @property
    def status(self) -> pd.Series:
        """``"free"``, ``"fixed"`` or ``"bound"`` per adjustable."""
        return pd.Series([a.status for a in self.data.adjustables], index=self._names,
                         name="status")

    @property
    def sd(self) -> pd.Series:
        """The library's SD per adjustable (NaN where it gives none)."""
        return pd.Series([a.sd for a in self.data.adjustables], index=self._names, name="sd",
                         dtype=float)

    def _free(self, per_free, name):
        u = self.data.uncertainty
        by_name = dict(zip(u.names, per_free))
        return pd.Series([_finite(by_name.get(n, np.nan)) for n in self._names],
                         index=self._names, name=name, dtype=float)

    @property
    def se(self) -> pd.Series:
        """The residual-based standard error per adjustable (NaN but for free ones of a fit
        with its uncertainty)."""
        u = self.data.uncertainty
        return self._free(u.se if u.available else [], "se")

    @property
    def ci(self) -> pd.DataFrame:
        """The profile-likelihood intervals: ``lower``, ``upper``, ``level``, ``lower_open``,
        ``upper_open``, ``flat``, a row per adjustable with an interval. An open side is
        where the profile stopped, not a bound of the interval."""
        u = self.data.uncertainty
        by_name = {n: c for n, c in zip(u.names, u.intervals) if c.computed}
        columns = ["lower", "upper", "level", "lower_open", "upper_open", "flat"]
        rows = {n: [_finite(c.lower), _finite(c.upper), c.level, c.lower_open, c.upper_open,
                    c.flat] for n in self._names if (c := by_name.get(n)) is not None}
        frame = pd.DataFrame.from_dict(rows, orient="index", columns=columns)
        return frame.astype({"lower": float, "upper": float, "level": float})

    def _matrix(self, m) -> Optional[pd.DataFrame]:
        u = self.data.uncertainty
        if not u.available:
            return None
        return pd.DataFrame(np.asarray(m, dtype=float), index=list(u.names),
                            columns=list(u.names))

    @property
    def covariance(self) -> Optional[pd.DataFrame]:
        """Covariance of the free adjustables (None without the uncertainty)."""
        return self._matrix(self.data.uncertainty.covariance)

    @property
    def correlation(self) -> Optional[pd.DataFrame]:
        return self._matrix(self.data.uncertainty.correlation)

    def _criterion(self, v: float) -> float:
        ok = self.converged and self.data.uncertainty.available
        return _finite(v) if ok else np.nan

    @property
    def aic(self) -> float:
        """Akaike's criterion (NaN unless the fit converged)."""
        return self._criterion(self.data.uncertainty.aic)

    @property
    def aicc(self) -> float:
        return self._criterion(self.data.uncertainty.aicc)

    @property
    def bic(self) -> float:
        return self._criterion(self.data.uncertainty.bic)

    @property
    def ssr(self) -> float:
        """The weighted residual sum of squares at the end, with the library's weights: the
        figure by which the best of several fits is chosen (NaN without a simulation)."""
        return self._run.ssr

    @property
    def history(self) -> pd.DataFrame:
        """One row per fitting call: ``ErreurCalc``, ``change``, ``seconds``, ``erreur``,
        ``done`` and the value of each adjustable after it."""
        rows = []
        for h in self.data.history:
            row = {"call": h.call, "ErreurCalc": h.erreur_calc, "change": h.change,
                   "seconds": h.seconds, "erreur": h.erreur, "done": h.done}
            row.update(zip(self._names, h.values))
            rows.append(row)
        return pd.DataFrame(rows).set_index("call") if rows else pd.DataFrame()

    @property
    def starts(self) -> pd.DataFrame:
        """A multi-start fit's starts: ``outcome``, ``ssr``, ``calls``, ``reached_best``,
        indexed by start number (empty for one start)."""
        rows = [{"start": s.number, "outcome": s.outcome, "ssr": s.ssr, "calls": s.calls,
                 "reached_best": s.reached_best} for s in self.data.starts]
        return pd.DataFrame(rows).set_index("start") if rows else pd.DataFrame()

    @property
    def profiles(self) -> dict:
        """The profile of each free adjustable: a DataFrame of ``value`` and ``z`` (the
        estimate at z = 0), by name."""
        return {p.name: pd.DataFrame(p.points, columns=["value", "z"])
                for p in self._run.profiles}

    @property
    def json(self) -> dict:
        """fit.json as a dict (read from :meth:`to_json` when first asked)."""
        if self._json is None:
            self._json = json.loads(self.to_json())
        return self._json

    def report(self) -> str:
        """The text ``tarvo fit`` prints before naming the files it wrote."""
        return self._run.report()

    def to_sbml(self) -> str:
        """The fitted model as SBML Level 3 Version 2: the model file with every declared
        adjustable at its fitted value (``tarvo export`` of the fitted model)."""
        if self._model is None:
            raise ValueError("this result does not know its model")
        return _core.export_sbml(self._model, {k: float(v) for k, v in self.values.items()})

    def to_json(self) -> str:
        """The text of fit.json, as ``tarvo fit`` writes it (for saving)."""
        return self._run.json()

    def plot(self):
        """Draw the fit with matplotlib.

        Per output the measured replicates, the model's curve (one piece per interval) and
        the residuals below, as the command draws them.

        Returns
        -------
        matplotlib.figure.Figure

        Raises
        ------
        ImportError
            matplotlib is missing.
        """
        try:
            import matplotlib.pyplot as plt
        except ImportError as e:
            raise ImportError("FitResult.plot needs matplotlib (Debian: python3-matplotlib); "
                              "the report and values need nothing more") from e
        from tarvo._plot import draw
        return draw(plt, self._run.plot_data())

    def __repr__(self) -> str:
        return f"<tarvo.FitResult {self.outcome}, {self.calls} calls>"
