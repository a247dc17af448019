#include "analysis/compare.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "analysis/distributions.h"
#include "analysis/residual_sums.h"
#include "analysis/uncertainty.h"
#include "language/text.h"

namespace tarvo::frontend {

namespace {

// A long fit says where it is this often.
constexpr double kNoteSeconds = 5;

std::vector<std::string> DataFiles(const Prepared& p) {
  std::vector<std::string> files;
  if (p.experiments.empty()) files.push_back(p.data.path);
  for (const ExperimentSpan& e : p.experiments) files.push_back(e.data);
  return files;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ea, eb;
  const auto ca = std::filesystem::weakly_canonical(a, ea), cb = std::filesystem::weakly_canonical(b, eb);
  if (!ea && !eb && ca == cb) return true;
  return Contents(a) == Contents(b);
}

bool SameData(const Prepared& a, const Prepared& b) {
  const std::vector<std::string> fa = DataFiles(a), fb = DataFiles(b);
  if (fa.size() != fb.size()) return false;
  for (size_t i = 0; i < fa.size(); ++i)
    if (!SameFile(fa[i], fb[i])) return false;
  return true;
}

std::string Texts(const std::vector<Formula>& fs) {
  std::string s;
  for (const Formula& f : fs) s += f.text + ";";
  return s;
}

// The equations of a model as text, section by section.
std::vector<std::pair<std::string, std::string>> Equations(const Model& m) {
  std::string species, parameters, rates, outputs, experiments;
  for (const SpeciesDecl& d : m.species) species += d.name + "=" + Texts(d.start) + "\n";
  for (const ParameterDecl& d : m.parameters)
    parameters += d.name + "=" + Texts(d.equation) + "\n";
  for (const RateDecl& d : m.rates) {
    rates += d.species + ":";
    for (const auto& [column, f] : d.coefficients) rates += column + "*" + f.text + ";";
    rates += (d.has_free ? d.free_term.text : "") + "\n";
  }
  for (const ReactionDecl& d : m.reactions) rates += d.equation.text + ":" + Texts(d.rates) + "\n";
  for (const OutputDecl& d : m.outputs)
    outputs += d.name + "=" + d.formula.text + "+" + Num(d.offset) + "\n";
  for (const ExperimentDecl& d : m.experiments) {
    experiments += d.name + ":";
    for (const auto& [name, fs] : d.start) experiments += name + "=" + Texts(fs);
    experiments += "\n";
  }
  return {{"species", species},  {"parameters", parameters}, {"rates", rates},
          {"outputs", outputs},  {"experiments", experiments},
          {"start times", Num(m.t0) + (m.has_t0 ? "" : "?")}};
}

std::set<std::string> Names(const Prepared& p, bool free_only) {
  std::set<std::string> names;
  for (size_t a = 0; a < p.model.adjustables.size(); ++a)
    if (!free_only || p.free[a]) names.insert(p.model.adjustables[a].name);
  return names;
}

void Fit(ComparedModel& m, const ProgressNote& note) {
  using Clock = std::chrono::steady_clock;
  const auto began = Clock::now();
  auto last_note = began;
  FitProgress progress;
  if (note)
    progress.call = [&](const CallRecord& c, double elapsed) {
      const auto now = Clock::now();
      if (std::chrono::duration<double>(now - last_note).count() < kNoteSeconds) return;
      last_note = now;
      note(m.path + ": call " + std::to_string(c.call) + ", ErreurCalc " +
           Num(c.erreur_calc, 6) + ", " + Num(elapsed, 3) + " s");
    };
  FitOptions options;
  options.profiles = false;
  std::vector<std::string> errors;
  FitRun& run = m.run;
  if (RunFitOn(run, options, progress, errors) != 0) {
    m.failed = true;
    m.outcome = "FAILED: " + errors.front();
  } else {
    const FitResult& r = run.r;
    m.converged = r.outcome == "converged";
    m.failed = run.ycalc.empty();
    const std::string calls = std::to_string(r.calls) + " call" + (r.calls == 1 ? "" : "s");
    m.outcome = m.converged         ? "converged after " + calls
                : r.outcome == "failed" ? "FAILED at call " + std::to_string(r.calls)
                                        : "NOT converged after " + calls;
    if (!r.erreur_text.empty()) m.outcome += ": " + r.erreur_text;
  }
  for (bool f : run.p.free) m.free += f;
  if (!m.failed) m.sums = SumResiduals(run.p, run.ycalc);
  if (m.converged) m.criteria = Criteria(m.sums, m.free);
  if (note)
    note(m.path + ": " + m.outcome + " (" +
         Num(std::chrono::duration<double>(Clock::now() - began).count(), 3) +
         " s)");
}

}  // namespace

std::string WhyNotNested(const ComparedModel& small, const ComparedModel& big) {
  if (small.failed || big.failed) return (small.failed ? small : big).path + " failed";
  if (!small.converged || !big.converged)
    return (!small.converged ? small : big).path + " did not converge";
  const auto es = Equations(small.run.user.model), eb = Equations(big.run.user.model);
  for (size_t i = 0; i < es.size(); ++i)
    if (es[i].second != eb[i].second)
      return "their " + es[i].first + " differ: the F test needs the same equations";
  if (Names(small.run.user, false) != Names(big.run.user, false))
    return "they declare different adjustables";
  const std::set<std::string> fs = Names(small.run.user, true), fb = Names(big.run.user, true);
  if (fs == fb) return "they have the same free adjustables";
  if (!std::includes(fb.begin(), fb.end(), fs.begin(), fs.end()))
    return "neither one's free adjustables are a subset of the other's";
  if (big.free <= small.free)
    return "the extra free adjustables of " + big.path + " are held at their bounds";
  if (big.sums.values - big.free <= 0) return "no degrees of freedom left in " + big.path;
  return "";
}

int CompareModels(const std::vector<std::string>& paths, const ProgressNote& note,
                  Comparison& out, std::vector<std::string>& errors) {
  out = Comparison{};
  out.models.resize(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    ComparedModel& m = out.models[i];
    m.path = paths[i];
    FitControl control;
    if (Prepare(paths[i], {}, m.run.p, errors) != 0 || SetUpFit(control, m.run, errors) != 0)
      return 2;
  }
  for (size_t i = 1; i < out.models.size(); ++i)
    if (!SameData(out.models[0].run.user, out.models[i].run.user)) {
      errors.push_back(paths[i] + " is fitted to other data than " + paths[0] + " (" +
                       DataFiles(out.models[i].run.user).front() + " against " +
                       DataFiles(out.models[0].run.user).front() +
                       "): models are compared on the same data only");
      return 2;
    }
  for (ComparedModel& m : out.models) Fit(m, note);

  // Ranking: converged by AICc, then the others.
  std::vector<size_t>& order = out.order;
  for (size_t i = 0; i < out.models.size(); ++i) order.push_back(i);
  auto rank = [&](size_t i) {
    const ComparedModel& m = out.models[i];
    return m.converged ? 0 : m.failed ? 2 : 1;
  };
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    return rank(a) == 0 && out.models[a].criteria.aicc < out.models[b].criteria.aicc;
  });
  double best = INFINITY, total = 0;
  for (const ComparedModel& m : out.models)
    if (m.converged && std::isfinite(m.criteria.aicc)) best = std::min(best, m.criteria.aicc);
  for (const ComparedModel& m : out.models)
    if (m.converged && std::isfinite(m.criteria.aicc)) total += std::exp(-0.5 * (m.criteria.aicc - best));
  for (ComparedModel& m : out.models) {
    const bool ranked = m.converged && std::isfinite(m.criteria.aicc);
    m.delta_aicc = ranked ? m.criteria.aicc - best : NAN;
    m.weight = ranked ? std::exp(-0.5 * m.delta_aicc) / total : NAN;
  }

  for (size_t a = 0; a < out.models.size(); ++a)
    for (size_t b = a + 1; b < out.models.size(); ++b) {
      size_t s = a, g = b;
      if (Names(out.models[a].run.user, true).size() > Names(out.models[b].run.user, true).size())
        std::swap(s, g);
      const ComparedModel& small = out.models[s];
      const ComparedModel& big = out.models[g];
      if (std::string why = WhyNotNested(small, big); !why.empty()) {
        out.no_f_tests.push_back({a, b, why});
        continue;
      }
      FTest t;
      t.small = s;
      t.big = g;
      t.dof_num = big.free - small.free;
      t.dof_den = big.sums.values - big.free;
      t.f = std::max(0.0, ((small.sums.ssr - big.sums.ssr) / t.dof_num) /
                              (big.sums.ssr / t.dof_den));
      t.p_value = FUpperTail(t.f, t.dof_num, t.dof_den);
      t.needed = t.p_value < 0.05;
      out.f_tests.push_back(t);
    }
  return 0;
}

}  // namespace tarvo::frontend
