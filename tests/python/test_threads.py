"""Models fitted in threads at once give what they give one after the other: each call has
an engine of its own."""

import json
from concurrent.futures import ThreadPoolExecutor

import tarvo
from conftest import EXAMPLES

NAMES = ["consecutive", "enzyme", "reversible", "second_order"]


def fit(name):
    model = tarvo.Model.from_toml(EXAMPLES / name / "model.toml")
    j = json.loads(model.fit(progress=False).to_json())
    for h in j["history"]:
        del h["seconds"]
    return j


def test_threads_fit_as_sequential():
    sequential = [fit(n) for n in NAMES]
    with ThreadPoolExecutor(max_workers=len(NAMES)) as pool:
        threaded = list(pool.map(fit, NAMES * 2))
    assert threaded == sequential * 2
