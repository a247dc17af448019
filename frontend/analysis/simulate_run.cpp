#include "analysis/simulate_run.h"

#include "session/load_model.h"
#include "session/non_finite.h"
#include "session/work_budget.h"

namespace tarvo::frontend {

int SimulateOn(Prepared& p, SimulateRun& run, std::string& message,
               std::vector<std::string>& errors) {
  // Nothing is fitted here, so the library need not count the data against free adjustables.
  p.free.assign(p.free.size(), false);
  Session s;
  if (LoadWithinBudget(s, p, errors) != 0) return 2;
  const int e = RunSimulation(s);
  if (e == kRaised) {
    message = "the simulation failed: " + s.failure;
    return 1;
  }
  if (ReadResults(s, run.ycalc) != 0) {
    message = s.failure;
    return 1;
  }
  int bad_point = -1, bad_output = -1;
  FirstNonFinite(run.ycalc, bad_point, bad_output);
  // Without data ErreurCalc is no measure, so only the code and the outputs tell.
  const double calc = DataValues(p.data) > 0 ? s.blocks.fitset.ErreurCalc : 0.0;
  if (bad_point >= 0 || LeftFiniteNumbers(e, calc)) {
    message = NonFiniteText(p, run.ycalc, p.values);
    return 1;
  }
  const BFitSet& f = s.blocks.fitset;
  run.erreur = e;
  run.figures = Figures{f.ErreurCalc, f.ErreurExp, f.Coeff, DataValues(p.data)};
  run.values = p.values;
  for (size_t a = 0; a < run.values.size(); ++a)
    run.values[a] = AdjustableValue(s, static_cast<int>(a));
  return 0;
}

}  // namespace tarvo::frontend
