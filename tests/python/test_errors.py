"""Every bad input raises with the command's message, naming the file, line and column."""

import re
import shutil

import pandas as pd
import pytest

import tarvo
from conftest import EXAMPLES

ENZYME = EXAMPLES / "enzyme"


@pytest.fixture
def enzyme_copy(tmp_path):
    for f in ("model.toml", "data.csv"):
        shutil.copy(ENZYME / f, tmp_path / f)
    return tmp_path


def spoil(path, old, new):
    text = path.read_text()
    assert old in text
    path.write_text(text.replace(old, new, 1))


@pytest.mark.parametrize("file,old,new,where,what", [
    ("model.toml", 'tolerance = 1e-7', 'tolerance = 1e-7 =', r"model\.toml:\d+:\d+", ""),
    ("model.toml", 'max_calls = 60', 'max_calls = 60\nmax_call = 2', r"model\.toml:\d+:1",
     "unknown key 'max_call'"),
    ("model.toml", '"-Vmax/(Km + S)"', '"-Vmax/(Km + Q)"', r"model\.toml:\d+:\d+", "Q"),
    ("data.csv", "1,0.5,0.0262082", "1,0.5,zero", r"data\.csv:4:3", "'zero'"),
    ("data.csv", "1,1,0.0401527", "1,0.2,0.0401527", r"data\.csv:5", "time"),
])
def test_bad_files_name_the_place(enzyme_copy, file, old, new, where, what):
    spoil(enzyme_copy / file, old, new)
    with pytest.raises(tarvo.InputError) as e:
        tarvo.Model.from_toml(enzyme_copy / "model.toml").fit(progress=False)
    assert re.search(where, str(e.value)), str(e.value)
    assert what in str(e.value)


@pytest.mark.parametrize("call,message", [
    (lambda m: m.fit(values={"nope": 1}), "values={'nope': 1.0}: 'nope' is not an adjustable"),
    (lambda m: m.fit(values={"Km": "x"}), "could not convert"),
    # Settings are named as the arguments they are, never as the command's flags.
    (lambda m: m.fit(free="nope"), "free=['nope']: 'nope' is not an adjustable of the model"),
    (lambda m: m.fit(fixed=["Km", "nope"]), "fixed=['nope']: 'nope' is not an adjustable"),
    (lambda m: m.fit(free="Km", fixed="Km"), "free=['Km'] and fixed=['Km']: choose one"),
    (lambda m: m.fit(starts=0), "starts=0: must be a whole number from 1 to 1000"),
    (lambda m: m.fit(starts=2, seed=-1), "seed=-1: must be a whole number from 0 to"),
    (lambda m: m.fit(max_calls=0), "max_calls=0: must be a whole number from 1 to 100000"),
    (lambda m: m.fit(method="rk4"), "method='rk4': not one of"),
    (lambda m: m.fit(tolerance=1.0), "tolerance=1: 'tolerance' = 1 is outside"),
    (lambda m: m.fit(starts=3.5), "starts=3.5: an int is expected, not float"),
    (lambda m: m.fit(seed=2.0), "seed=2.0: an int is expected, not float"),
    (lambda m: m.fit(starts=True), "starts=True: an int is expected, not bool"),
    (lambda m: m.fit(ENZYME / "missing.csv"), "no such file"),
    (lambda m: m.fit(pd.DataFrame({"time": [0, 1], "Abs": [1, 2]})),
     "<DataFrame>:1:2: column 'Abs' is not an output"),
    (lambda m: m.fit(object()), "path or a pandas.DataFrame"),
    (lambda m: m.fit(pd.DataFrame({"time": [0, 1, 2], "interval": [1, 1.5, 2]})),
     "<DataFrame>:3:2: interval '1.5' is not a whole number"),
    (lambda m: m.fit(pd.DataFrame({"time": [0, 1], "Fluo": [1, float("inf")]})),
     "<DataFrame>:3:2: 'inf' in column 2 (Fluo) is not a number"),
    (lambda m: m.fit(pd.DataFrame({"time": [0, 1, 1], "Fluo": [1, 2, 3]})),
     "<DataFrame>:4: time 1 is not after"),
    (lambda m: m.simulate([0, 2, 1]), "<times>:4"),
    (lambda m: tarvo.Model.from_toml(ENZYME / "none.toml"), "no such file"),
    (lambda m: tarvo.Model.from_dict({"method": "EULER", "speed": 1}), "<dict>:2:1: unknown key"),
    (lambda m: tarvo.Model.from_dict({"species": [{"name": "A"}, {"nam": "B"}]}), "<dict>:3"),
    (lambda m: tarvo.Model.from_dict({"t0": {1, 2}}), "not set"),
])
def test_bad_arguments_raise(call, message):
    model = tarvo.Model.from_toml(ENZYME / "model.toml")
    with pytest.raises((tarvo.TarvoError, ValueError, TypeError)) as e:
        call(model)
    assert message in str(e.value)


def test_wrong_types_are_type_errors():
    model = tarvo.Model.from_toml(ENZYME / "model.toml")
    for kwargs in ({"starts": 3.5}, {"seed": "7"}, {"max_calls": 10.0}, {"tolerance": "1e-8"}):
        with pytest.raises(TypeError, match=f"^{next(iter(kwargs))}="):
            model.fit(progress=False, **kwargs)


def test_kinds_of_error():
    assert issubclass(tarvo.InputError, tarvo.TarvoError)
    assert issubclass(tarvo.InputError, ValueError)
    assert issubclass(tarvo.SimulationError, tarvo.TarvoError)


def test_failed_simulation_raises():
    model = tarvo.Model.from_dict({
        "species": [{"name": "A", "start": "1"}],
        "adjustables": [{"name": "k", "value": 1.0}],
        "outputs": [{"name": "y", "formula": "A"}],
        "rates": {"A": {"A": "k*A"}},  # grows as exp(k t), without end
    })
    with pytest.raises(tarvo.SimulationError, match="the simulation failed: .*explodes"):
        model.simulate([0, 1e6], values={"k": 10.0})


def test_progress_callback_exception_ends_the_fit():
    def fail(line):
        raise KeyError("stop here")

    with pytest.raises(KeyError, match="stop here"):
        tarvo.Model.from_toml(ENZYME / "model.toml").fit(progress=fail)
