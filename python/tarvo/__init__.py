"""Kinetics simulation and fitting in Python, over the same engine as the ``tarvo`` command.

>>> import tarvo
>>> model = tarvo.Model.from_toml("examples/enzyme/model.toml")
>>> result = model.fit()                # the data file the model names
>>> result.values, result.se, result.ci
>>> print(result.report())              # the table ``tarvo fit`` prints

Errors raise :class:`InputError` (a ``ValueError``) with the library's messages, which name
the file, line and column, or the argument given (``fixed=['nope']: ...``), and
:class:`SimulationError` when a simulation fails; both are :class:`TarvoError`. An argument
of the wrong type raises ``TypeError`` (``starts=3.5``).
"""

from tarvo._core import InputError, SimulationError, TarvoError
from tarvo._model import Model
from tarvo._result import FitResult

__all__ = ["Model", "FitResult", "TarvoError", "InputError", "SimulationError"]
