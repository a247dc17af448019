#include "session/load_model.h"

#include "language/method_choice.h"
#include "session/erreur_text.h"

namespace tarvo::frontend {

int LoadModel(Session& s, const Prepared& p, std::vector<std::string>& errors,
              int* formula_faults) {
  if (formula_faults) *formula_faults = 0;
  // The library refuses it too, but only the front end can point at the formulas.
  if (std::string why = ExactProblem(p); !why.empty()) {
    errors.push_back(std::move(why));
    return 2;
  }
  const int e = StartSession(s, p.model, p.text, p.data.points, p.values, p.free);
  if (e == 0) return 0;
  if (e == kRaised) {
    errors.push_back("the library could not load the model: " + s.failure);
    return 2;
  }
  SetupFacts facts;
  facts.method = p.model.method;
  facts.data_values = DataValues(p.data);
  for (bool f : p.free) facts.free_count += f;
  facts.refusal = s.failure;
  for (const std::string& m : SetupErreurText(e, facts, formula_faults)) {
    std::string where = p.model.path;
    if (!KnownMethod(p.model.method) && m.rfind("method", 0) == 0 && p.model.method_line > 0)
      where += ":" + std::to_string(p.model.method_line);
    const bool hint = !formula_faults && m.find("in the formulas") != std::string::npos;
    errors.push_back(where + ": " + m + (hint ? "; tarvo check names the formula" : ""));
  }
  return 2;
}

}  // namespace tarvo::frontend
