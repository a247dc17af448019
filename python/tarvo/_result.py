"""The result of a fit: fit.json read into pandas objects, plus the report and the plot."""

import json

import numpy as np
import pandas as pd


def _number(v):
    return np.nan if v is None else float(v)


def _matrix(m):
    if m is None:
        return None
    return pd.DataFrame(m["matrix"], index=m["names"], columns=m["names"], dtype=float)


class FitResult:
    """Values, standard errors, intervals and history of one fit.

    Every figure is the one ``tarvo fit`` writes into fit.json: ``sd`` is the library's SD
    (from the replicates' scatter), ``se`` the residual-based standard error, ``ci`` the
    profile-likelihood interval of each free adjustable."""

    def __init__(self, run):
        self._run = run
        self._json = run.json()
        self.json = json.loads(self._json)

    @property
    def outcome(self):
        """"converged", "not converged", "failed" or "interrupted"."""
        return self.json["outcome"]

    @property
    def converged(self):
        return bool(self.json["converged"])

    @property
    def message(self):
        """Why the fit failed ("" when it did not)."""
        return self.json["erreur_text"]

    @property
    def calls(self):
        return self.json["calls"]

    def _column(self, key):
        adj = self.json["adjustables"]
        return pd.Series([_number(a.get(key)) for a in adj], index=[a["name"] for a in adj],
                         name=key, dtype=float)

    @property
    def values(self):
        return self._column("value")

    @property
    def status(self):
        adj = self.json["adjustables"]
        return pd.Series([a["status"] for a in adj], index=[a["name"] for a in adj], name="status")

    @property
    def sd(self):
        return self._column("sd")

    @property
    def se(self):
        return self._column("se")

    @property
    def ci(self):
        """DataFrame of the intervals: lower, upper, level, lower_open, upper_open, flat
        (a row per adjustable with an interval)."""
        rows = {a["name"]: a["ci"] for a in self.json["adjustables"] if a.get("ci")}
        columns = ["lower", "upper", "level", "lower_open", "upper_open", "flat"]
        frame = pd.DataFrame.from_dict(rows, orient="index", columns=columns)
        return frame.astype({"lower": float, "upper": float, "level": float})

    @property
    def covariance(self):
        return _matrix(self.json["covariance"])

    @property
    def correlation(self):
        return _matrix(self.json["correlation"])

    @property
    def aic(self):
        return _number(self.json["aic"])

    @property
    def aicc(self):
        return _number(self.json["aicc"])

    @property
    def bic(self):
        return _number(self.json["bic"])

    @property
    def history(self):
        """One row per fitting call: ErreurCalc, change, seconds, erreur, done and the
        value of each adjustable after it."""
        rows = []
        for h in self.json["history"]:
            row = {k: h[k] for k in ("call", "ErreurCalc", "change", "seconds", "erreur", "done")}
            row.update(h["values"])
            rows.append(row)
        return pd.DataFrame(rows).set_index("call") if rows else pd.DataFrame()

    def report(self):
        """The text ``tarvo fit`` prints before naming the files it wrote."""
        return self._run.report()

    def to_json(self):
        """The text of fit.json."""
        return self._json

    def plot(self):
        """The command's picture with matplotlib: per output the measured replicates, the
        model's curve (one piece per interval) and the residuals below. Returns the Figure."""
        try:
            import matplotlib.pyplot as plt
        except ImportError as e:
            raise ImportError("FitResult.plot needs matplotlib (Debian: python3-matplotlib); "
                              "the report and values need nothing more") from e
        from tarvo._plot import draw
        return draw(plt, self._run.plot_data())

    def __repr__(self):
        return f"<tarvo.FitResult {self.outcome}, {self.calls} calls>"
