"""tarvo.batch on a LocalCluster of two worker processes: synthetic data sets of the enzyme
example fitted side by side recover their truths; failures come back as rows with their
message; the forms tasks come in and the multi-start and bootstrap task lists."""

import tomllib
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

distributed = pytest.importorskip("distributed")
tarvo = pytest.importorskip("tarvo")
from tarvo import batch  # noqa: E402

pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")

ENZYME = Path(__file__).resolve().parents[2] / "examples" / "enzyme"
MODEL = str(ENZYME / "model.toml")
TRUTH = tomllib.loads((ENZYME / "truth.toml").read_text())
NOISE = 0.005


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster:
        with distributed.Client(cluster) as c:
            yield c


def synthetic(model, seed):
    """The enzyme example's design simulated at the truth, 3 replicates of normal noise."""
    design = pd.read_csv(ENZYME / "design.csv")
    exact = model.simulate(design["time"], values=TRUTH, intervals=design["interval"])
    rng = np.random.default_rng(seed)
    data = design.copy()
    for output in ("Abs340", "Fluo"):
        for r in range(1, 4):
            data[f"{output}.{r}"] = exact[output].to_numpy() + rng.normal(0, NOISE, len(design))
    return data


def test_sixteen_synthetic_sets_recover_their_truths(client):
    model = tarvo.Model.from_toml(MODEL)
    sets = [synthetic(model, seed) for seed in range(16)]
    results = batch.fit_many([(MODEL, d, {"name": f"set {i}"}) for i, d in enumerate(sets)],
                             client=client)
    assert list(results.index) == list(range(16))
    assert list(results["name"]) == [f"set {i}" for i in range(16)]
    assert results["converged"].all(), results["message"].tolist()
    assert results["worker"].nunique() == 2  # the fits ran on both workers
    for name, truth in TRUTH.items():
        inside = (results[f"{name}.lower"] <= truth) & (truth <= results[f"{name}.upper"])
        near = (results[name] - truth).abs() <= 3 * results[f"{name}.se"]
        assert (inside | near).all(), results[[name, f"{name}.se", f"{name}.lower",
                                               f"{name}.upper"]]
    assert not (results["Vmax.lower_open"] | results["Vmax.upper_open"]).any()
    # No two data sets give the same fit: each task fitted its own data.
    assert results["Vmax"].nunique() == 16


def test_failures_are_rows_with_their_message(client):
    bad_columns = pd.DataFrame({"time": [0.0, 1.0], "Nothing": [1.0, 2.0]})
    tasks = [
        (MODEL, None, {"free": ["Bogus"]}),
        (str(ENZYME / "absent.toml"), None, {}),
        (MODEL, bad_columns, {}),
        (MODEL, None, {"fixed": "Km;S0", "name": "fits"}),
        (MODEL, None, {"starts": 2.5}),
        (MODEL, None, {}),
    ]
    results = batch.fit_many(tasks, client=client)
    assert len(results) == len(tasks)
    assert list(results["outcome"]) == ["bad input"] * 3 + ["converged", "bad input",
                                                             "converged"]
    messages = results["message"].tolist()
    assert "'Bogus' is not an adjustable of the model" in messages[0]
    assert "absent.toml" in messages[1]
    assert "Nothing" in messages[2]
    assert messages[3] == ""
    assert messages[4] == "starts=2.5: an int is expected, not float"
    # A converged fit keeps its warnings: with Km free, Vmax and Km go together.
    assert "Vmax and Km cannot be told apart" in results.loc[5, "warnings"]
    assert "cannot be told apart" not in results.loc[3, "warnings"]
    assert np.isnan(results.loc[0, "Vmax"]) and not np.isnan(results.loc[3, "Vmax"])
    assert np.isnan(results.loc[3, "Km.se"]) and results.loc[3, "Vmax.se"] > 0


def test_task_forms_agree_and_bad_overrides_are_refused(client):
    overrides = {"values": {"Vmax": 0.03, "Km": 0.02}, "fixed": ["S0"]}
    as_list = batch.fit_many([(MODEL, None, overrides)], client=client)
    # The manifest's spellings in a DataFrame of tasks, an empty data cell included.
    frame = pd.DataFrame({"model": [MODEL], "data": [np.nan], "set": ["Vmax=0.03; Km=0.02"],
                          "fixed": ["S0"]})
    as_frame = batch.fit_many(frame, client=client)
    for column in ("Vmax", "Vmax.se", "Km.upper", "S0", "calls"):
        assert as_list.loc[0, column] == as_frame.loc[0, column], column
    assert as_list.loc[0, "S0"] == 0.04  # held at the file's value
    with pytest.raises(ValueError, match="task 1: unknown override 'frees'"):
        batch.fit_many([(MODEL, None, {}), (MODEL, None, {"frees": ["Km"]})], client=client)
    with pytest.raises(ValueError, match="task 0: no model"):
        batch.fit_many([{"data": None}], client=client)


def test_multi_start_and_bootstrap_expand_to_tasks(client):
    tasks = batch.multi_start_tasks(tarvo.Model.from_toml(MODEL), seeds=[3, 5], starts=2)
    assert [t[2]["seed"] for t in tasks] == [3, 5]
    results = batch.fit_many(tasks, client=client)
    top = batch.best(results)
    # The multi-start rule: the converged fit with the least weighted sum of squares.
    assert top["ssr"] == results["ssr"].min() and top["converged"]
    failed = results.assign(converged=[False, True], ssr=[0.0, 1.0])
    assert batch.best(failed).name == failed.index[1]
    with pytest.raises(ValueError, match="no fit converged"):
        batch.best(results.assign(converged=False))

    data = batch.read_data(ENZYME / "data.csv")
    boot = batch.bootstrap_tasks(MODEL, data, n=3, seed=1)
    first, second = boot[0][1], boot[1][1]
    assert not first.equals(second)
    replicates = [c for c in data.columns if c.startswith("Abs340.")]
    for r in range(len(data)):  # every resampled value is one of its own row's replicates
        assert set(first.loc[r, replicates]) <= set(data.loc[r, replicates])
    assert first[["interval", "time"]].equals(data[["interval", "time"]])
    with pytest.raises(ValueError, match="one column per output"):
        batch.bootstrap_tasks(MODEL, data[["interval", "time", "Abs340.1", "Fluo.1"]])


def test_without_a_client_a_local_cluster_comes_and_goes():
    results = batch.fit_many([(MODEL, None, {}), (MODEL, None, {"free": "Nope"})], workers=1)
    assert list(results["outcome"]) == ["converged", "bad input"]
    assert results["worker"].nunique() == 1
