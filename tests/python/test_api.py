"""The Python API on the bundled examples, against what the command writes for them."""

import json
import tomllib

import numpy as np
import pandas as pd
import pytest

import tarvo
from conftest import EXAMPLES

EXAMPLE_NAMES = sorted(p.name for p in EXAMPLES.iterdir() if (p / "model.toml").is_file())


def without_times(j):
    """fit.json without the time each call took, the one thing two runs do not share."""
    for h in j["history"]:
        del h["seconds"]
    return j


@pytest.fixture(scope="module")
def fits():
    """Each example fitted once through Python, with the path the command is given."""
    return {name: tarvo.Model.from_toml(str(EXAMPLES / name / "model.toml")).fit(progress=False)
            for name in EXAMPLE_NAMES}


@pytest.mark.parametrize("name", EXAMPLE_NAMES)
def test_fit_json_and_report_equal_the_commands(name, fits, run_command):
    out, printed = run_command("fit", str(EXAMPLES / name / "model.toml"))
    r = fits[name]
    assert without_times(json.loads(r.to_json())) == \
        without_times(json.loads((out / "fit.json").read_text()))
    assert r.converged
    # The command prints the report, then the files it wrote.
    report, files = printed.split("\n\nwrote ", 1)
    assert r.report() == report + "\n"


@pytest.mark.parametrize("name", ["consecutive", "enzyme"])
def test_figures_agree_with_fit_json(name, fits):
    """The figures read from the library's result types and those its fit.json writer
    gives, two ways to the same numbers."""
    r = fits[name]
    j = r.json
    free = [a["name"] for a in j["adjustables"] if a["status"] == "free"]
    assert r.values.to_dict() == {a["name"]: a["value"] for a in j["adjustables"]}
    assert r.se[free].to_dict() == {a["name"]: a["se"] for a in j["adjustables"]
                                     if a["name"] in free}
    assert list(r.ci.index) == free
    assert (r.ci["lower"] < r.values[free]).all() and (r.values[free] < r.ci["upper"]).all()
    cov = r.covariance.loc[free, free].to_numpy()
    np.testing.assert_allclose(np.sqrt(np.diag(cov)), r.se[free].to_numpy(), rtol=1e-12)
    np.testing.assert_allclose(np.diag(r.correlation), 1.0, rtol=1e-12)
    h = r.history
    assert len(h) == r.calls and bool(h["done"].iloc[-1])
    assert h[free].iloc[-1].to_dict() == r.values[free].to_dict()


def test_consecutive_fit_gives_its_known_figures(fits):
    """A -> B -> C fitted to its bundled data: the values, SEs and AIC as first found."""
    r = fits["consecutive"]
    expected = {"k1": (0.29877037, 0.0022206065), "k2": (0.080024227, 0.00033001484),
                "epsB": (1501.6387, 3.6548280)}
    for name, (value, se) in expected.items():
        assert r.values[name] == pytest.approx(value, rel=1e-7), name
        assert r.se[name] == pytest.approx(se, rel=1e-6), name
    assert r.status.to_dict() == {"k1": "free", "k2": "free", "epsB": "free",
                                  "epsA": "fixed", "epsC": "fixed", "Atot": "fixed"}
    assert np.isnan(r.se["epsA"]) and r.aic == pytest.approx(-955.80553594, rel=1e-9)
    assert r.ssr == pytest.approx(0.0028469413, rel=1e-7)


def bound_model():
    """The consecutive example with epsC bound to epsB."""
    d = tomllib.loads((EXAMPLES / "consecutive" / "model.toml").read_text())
    d["data"] = str(EXAMPLES / "consecutive" / "data.csv")
    for a in d["adjustables"]:
        if a["name"] == "epsC":
            a["equal_to"] = "epsB/7.5"
    return tarvo.Model.from_dict(d)


def test_a_fits_values_go_back_with_bound_adjustables():
    model = bound_model()
    lines = []
    r = model.fit(progress=lines.append, starts=2)
    assert r.status["epsC"] == "bound"
    assert r.values["epsC"] == pytest.approx(r.values["epsB"] / 7.5, rel=1e-12)
    # Every line reaches the callable: the starts, the calls, then a profile per free value.
    assert [ln.split()[:2] for ln in lines[:2]] == [["start", "1/2"], ["start", "2/2"]]
    assert [ln.split()[:2] for ln in lines[-3:]] == [["profile", n] for n in ("k1", "k2", "epsB")]
    # The fit's values, epsC included, simulate as the values without it.
    free_only = r.values.drop("epsC")
    assert model.simulate(values=r.values).equals(model.simulate(values=free_only))
    again = model.fit(values=r.values, progress=False, profiles=False)
    assert again.converged and again.calls <= 2
    with pytest.raises(tarvo.InputError, match=r"values=\{'epsC': 5.0\}: 'epsC' is bound by "
                       r"equal_to \(epsB/7.5\), which gives 200.3"):
        model.simulate(values={**r.values, "epsC": 5.0})


def test_tables_reach_the_reader_as_numbers():
    model = tarvo.Model.from_toml(EXAMPLES / "enzyme" / "model.toml")
    times = [0.0, 0.1, 1 / 3, 2 ** -40 + 1]
    sim = model.simulate(times, intervals=np.array([1, 1, 2, 2], dtype=np.int8))
    assert sim["time"].tolist() == times and sim["interval"].tolist() == [1, 1, 2, 2]


def test_from_dict_and_dataframe_give_the_file_fit(fits):
    """The model as a dict and its data as a DataFrame: the same fit as from the files."""
    folder = EXAMPLES / "enzyme"
    with open(folder / "model.toml", "rb") as f:
        d = tomllib.load(f)
    del d["data"]
    frame = pd.read_csv(folder / "data.csv", comment="#", float_precision="round_trip")
    r = tarvo.Model.from_dict(d).fit(frame, progress=False)
    assert r.values.to_dict() == fits["enzyme"].values.to_dict()
    assert r.se.equals(fits["enzyme"].se)


@pytest.mark.parametrize("dtype", [object, None])
def test_dataframe_reaches_the_reader_exactly(dtype):
    """A DataFrame with cells that are not all numbers goes as the data file's text: exact
    numbers, missing cells empty, and text that needs quoting quoted."""
    from tarvo._model import _csv
    frame = pd.DataFrame({"time": [0.0, 0.1, 1 / 3], "interval": [1, 1, 2],
                          "Y.1": [1e-300, np.nan, 2.5], "Y.2": [np.nan, -0.0, 7.0]}, dtype=dtype)
    lines = [line.split(",") for line in _csv(frame).splitlines()]
    assert lines[0] == ["time", "interval", "Y.1", "Y.2"]
    for row, cells in zip(frame.itertuples(index=False), lines[1:]):
        for v, cell in zip(row, cells):
            assert cell == "" if pd.isna(v) else float(cell) == v and cell.strip() == cell
    assert [line[1] for line in lines[1:]] == ["1", "1", "2"]
    quoted = _csv(pd.DataFrame({"time": [0.0], "Y": ["1,5"]}))
    assert quoted.splitlines()[1].endswith(',"1,5"')


def test_fit_control_and_progress():
    model = tarvo.Model.from_toml(EXAMPLES / "consecutive" / "model.toml")
    lines = []
    r = model.fit(fixed="epsB", values={"k1": 0.25}, starts=3, seed=7, progress=lines.append,
                  profiles=False)
    assert r.status["epsB"] == "fixed" and r.values["epsB"] == 1000
    assert len(r.json["starts"]) == 3 and r.ci.empty
    # Every line reaches the callable: the three starts, then the final fit's calls.
    assert [ln.split()[:2] for ln in lines[:3]] == [["start", f"{k}/3"] for k in (1, 2, 3)]
    assert lines[3].split() == ["call", "ErreurCalc", "change", "elapsed"]
    assert len(lines) == 3 + 1 + r.calls


def test_not_converged_warns_and_returns():
    d = tomllib.loads((EXAMPLES / "enzyme" / "model.toml").read_text())
    d["max_calls"] = 1
    d["data"] = str(EXAMPLES / "enzyme" / "data.csv")
    with pytest.warns(RuntimeWarning, match="not converged"):
        r = tarvo.Model.from_dict(d).fit(progress=False)
    assert not r.converged and r.outcome == "not converged" and r.calls == 1
    assert r.ci.empty and r.covariance is None


def test_simulate_at_data_points_equals_the_commands_points(run_command):
    path = EXAMPLES / "consecutive" / "model.toml"
    out, _ = run_command("simulate", str(path))
    points = pd.read_csv(out / "points.csv", float_precision="round_trip")
    sim = tarvo.Model.from_toml(path).simulate()
    assert list(sim.columns) == ["time", "interval", "Abs"]
    np.testing.assert_array_equal(sim["time"], points["time"])
    np.testing.assert_array_equal(sim["Abs"], points["Abs.sim"])


def test_simulate_at_times_with_values():
    model = tarvo.Model.from_toml(EXAMPLES / "enzyme" / "model.toml")
    times = np.linspace(0, 9, 10)
    slow = model.simulate(times, values={"Vmax": 0.0})
    fast = model.simulate(times)
    assert list(fast.columns) == ["time", "interval", "Abs340", "Fluo"]
    # With Vmax = 0 nothing reacts: the substrate's fluorescence stays at its start.
    np.testing.assert_allclose(slow["Fluo"], slow["Fluo"].iloc[0], rtol=0, atol=0)
    assert (np.diff(fast["Fluo"]) < 0).all()


def test_plot_draws_or_names_matplotlib(fits):
    r = fits["enzyme"]
    try:
        import matplotlib
    except ImportError:
        with pytest.raises(ImportError, match="matplotlib"):
            r.plot()
        return
    matplotlib.use("Agg")
    fig = r.plot()
    titles = [ax.get_title() for ax in fig.axes]
    assert titles == ["Abs340", "Fluo", "", ""]
    curve = fig.axes[0].get_lines()[1]
    assert len(curve.get_xdata()) > 100  # the dense curve, not the data points
