# Types of tarvo._core, the extension module over the front end's library (python/src/core.cpp).
from typing import Callable, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

class TarvoError(Exception): ...
class InputError(TarvoError, ValueError): ...
class SimulationError(TarvoError): ...

class ModelFile:
    @property
    def path(self) -> str: ...
    @property
    def outputs(self) -> List[str]: ...
    @property
    def adjustables(self) -> List[dict]: ...
    @property
    def has_experiments(self) -> bool: ...

def read_model(path: str) -> ModelFile: ...
def read_model_text(text: str, name: str) -> ModelFile: ...
def import_sbml(path: str) -> str: ...
def export_sbml(model: ModelFile, values: Dict[str, float]) -> str: ...

class Figures:
    erreur_calc: float
    erreur_exp: float
    coeff: float
    data_values: int

class CallRecord:
    call: int
    erreur_calc: float
    change: float
    seconds: float
    erreur: int
    done: bool
    values: List[float]

class AdjustableResult:
    name: str
    value: float
    sd: float  # NaN when the library gives none
    status: str  # "free", "bound" or "fixed"
    equal_to: str

class StartRecord:
    number: int
    outcome: str
    ssr: float
    calls: int
    reached_best: bool
    start: List[Tuple[str, float]]
    end: List[Tuple[str, float]]

class Interval:
    computed: bool
    level: float
    lower: float
    upper: float
    lower_open: bool
    upper_open: bool
    flat: bool
    note: str

class Uncertainty:
    available: bool
    why_not: str
    names: List[str]
    values: List[float]
    se: List[float]
    covariance: List[List[float]]
    correlation: List[List[float]]
    dof: int
    s2: float
    aic: float
    aicc: float
    bic: float
    intervals: List[Interval]
    notes: List[str]

class Profile:
    name: str
    estimate: float
    threshold: float
    points: List[Tuple[float, float]]  # (value, z)
    interval: Interval
    refits: int

class FitResultData:
    outcome: str
    calls: int
    max_calls: int
    erreur: int
    erreur_text: str
    non_finite: bool
    free_count: int
    figures: Figures
    adjustables: List[AdjustableResult]
    history: List[CallRecord]
    uncertainty: Uncertainty
    starts: List[StartRecord]
    starts_tolerance: float

class FitRun:
    @property
    def result(self) -> FitResultData: ...
    profiles: List[Profile]
    @property
    def ssr(self) -> float: ...
    def report(self) -> str: ...
    def json(self) -> str: ...
    def plot_data(self) -> dict: ...
    def summary_row(self, warnings: Sequence[str]) -> dict: ...

Values = Sequence[Tuple[str, float]]
Table = Optional[npt.NDArray[np.float64]]

def fit(model: ModelFile, values: Values, data_path: Optional[str],
        columns: Optional[Sequence[str]], table: Table, data_text: Optional[str],
        data_name: str, free: Sequence[str], fixed: Sequence[str], method: Optional[str],
        tolerance: Optional[float], max_calls: Optional[int], starts: Optional[int],
        seed: Optional[int], profiles: bool,
        progress: Optional[Callable[[str], object]]) -> Tuple[FitRun, List[str]]: ...
def simulate(model: ModelFile, values: Values, data_path: Optional[str],
             columns: Optional[Sequence[str]], table: Table, data_text: Optional[str],
             data_name: str) -> dict: ...

Cell = Union[None, bool, int, float, str]

def summary_table(lead_columns: Sequence[str], lead: Sequence[Sequence[Cell]],
                  rows: Sequence[dict], trail_columns: Sequence[str],
                  trail: Sequence[Sequence[Cell]]) -> Tuple[List[str], List[List[Cell]]]: ...
def best_fit(converged: Sequence[bool], ssr: Sequence[float]) -> int: ...
