#include "analysis/refit.h"

#include "session/erreur_text.h"
#include "analysis/fit_cycle.h"
#include "session/library_session.h"
#include "analysis/simulate_at.h"

namespace tarvo::frontend {

namespace {

int Fail(Refit& r, const std::string& why) {
  r.message = why;
  return 2;
}

}  // namespace

int RefitFrom(const Prepared& p, const std::vector<double>& start, const std::vector<bool>& free,
              Refit& r) {
  r = Refit{};
  int free_count = 0;
  for (bool f : free) free_count += f;
  if (free_count == 0) {
    r.values = start;
    return SimulateAt(p, start, p.data.points, r.ycalc, r.message) == 0 ? 0 : 2;
  }
  Session s;
  int e = StartSession(s, p.model, p.text, p.data.points, start, free);
  if (e != 0) return Fail(r, e > 0 && e != kNoFile ? "the set-up reported Erreur " + std::to_string(e)
                                                   : s.failure);
  e = RunSimulation(s);
  if (e != 0) return Fail(r, e == kRaised ? s.failure : SimulationErreurText(e, p.model.method));
  // A refit that cycles (fit_cycle.h) has reached the precision its finite differences
  // allow: it ends there as converged instead of running to max_calls.
  std::vector<int> free_index;
  for (size_t a = 0; a < free.size(); ++a)
    if (free[a]) free_index.push_back(static_cast<int>(a));
  std::vector<CallRecord> history;
  bool done = false;
  while (!done && r.calls < p.model.max_calls) {
    ++r.calls;
    e = RunFitCall(s);
    if (e == kRaised) return Fail(r, s.failure);
    if (e != 0) return Fail(r, FitErreurText(e, p.model.method, free_count));
    done = s.blocks.fitset.Done != 0;
    if (done) break;
    CallRecord c;
    c.call = r.calls;
    c.erreur_calc = s.blocks.fitset.ErreurCalc;
    for (int a : free_index) {
      c.values.resize(a + 1);
      c.values[a] = AdjustableValue(s, a);
    }
    history.push_back(c);
    done = FindCycle(history, free_index, {}, CycleLevel(p.model.precision)).found;
  }
  r.values.resize(start.size());
  for (size_t a = 0; a < start.size(); ++a) r.values[a] = AdjustableValue(s, static_cast<int>(a));
  if (ReadResults(s, r.ycalc) != 0) return Fail(r, s.failure);
  return done ? 0 : 1;
}

}  // namespace tarvo::frontend
