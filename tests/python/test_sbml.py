"""SBML from Python: Model.from_sbml reads what ``tarvo import`` reads, FitResult.to_sbml
writes the fitted model, and the two give back the same simulation."""
import numpy as np
import pytest

import tarvo
from conftest import EXAMPLES



def test_fitted_model_goes_to_sbml_and_back(tmp_path):
    model = tarvo.Model.from_toml(EXAMPLES / "consecutive" / "model.toml")
    fit = model.fit(progress=None, profiles=False)
    assert fit.converged
    path = tmp_path / "fitted.xml"
    path.write_text(fit.to_sbml())
    back = tarvo.Model.from_sbml(path)
    # The SBML model holds the fitted values as its own: no values given, same curve.
    assert back.adjustables.loc["k1", "value"] == pytest.approx(fit.values["k1"], rel=1e-12)
    times = np.linspace(0, 60, 13)
    expected = model.simulate(times=times, values=dict(fit.values))
    got = back.simulate(times=times)
    # Within the model's integration tolerance (1e-7): SBML holds each rate whole, so the
    # engine's step control sees the same equations in another arrangement.
    np.testing.assert_allclose(got["Abs"], expected["Abs"], rtol=1e-6)


def test_unreadable_sbml_is_an_input_error(tmp_path):
    path = tmp_path / "m.xml"
    path.write_text("<sbml><model id='m'><listOfSpecies>")
    with pytest.raises(tarvo.InputError, match="m.xml"):
        tarvo.Model.from_sbml(path)
