#include "language/experiments.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

#include "api/limits.h"
#include "language/formula_lex.h"
#include "language/text.h"

namespace tarvo::frontend {

namespace {

using Renames = std::map<std::string, std::string>;

std::string Text(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  const std::string s(buf, r.ptr);
  return v < 0 ? "(" + s + ")" : s;
}

// text with whole identifiers renamed; a text that does not lex is left as it is (the
// model as written has translated already).
std::string Rename(const std::string& text, const Renames& to) {
  std::vector<Lexeme> lex;
  std::string why;
  if (Lex(text, lex, why) != 0) return text;
  std::string out = text;
  for (auto l = lex.rbegin(); l != lex.rend(); ++l) {
    if (l->kind != LexKind::Identifier) continue;
    const auto it = to.find(l->text);
    if (it != to.end()) out.replace(static_cast<size_t>(l->column - 1), l->text.size(), it->second);
  }
  return out;
}

bool Uses(const std::string& text, const std::string& name) {
  return Rename(text, {{name, ""}}) != text;
}

// The per-experiment adjustables and, for experiment e, the names its formulas read them by.
struct Copies {
  std::vector<int> originals;
  std::vector<Renames> per_experiment;  // experiment -> name -> copy
};

Copies MakeCopies(Prepared& p, std::vector<std::string>& errors) {
  Copies c;
  Model& m = p.model;
  const size_t declared = m.adjustables.size();
  p.copy_of.assign(declared, -1);
  c.per_experiment.resize(m.experiments.size());
  for (size_t a = 0; a < declared; ++a) {
    if (!m.adjustables[a].per_experiment) continue;
    c.originals.push_back(static_cast<int>(a));
    const std::string name = m.adjustables[a].name;
    p.shown_as[name] = name + "@" + m.experiments[0].name;
    for (size_t e = 1; e < m.experiments.size(); ++e) {
      AdjustableDecl copy = m.adjustables[a];
      copy.name = name + "__" + m.experiments[e].name;
      if (FindAdjustable(m, copy.name) >= 0)
        errors.push_back(m.path + ":" + std::to_string(copy.line) + ": adjustable " + name +
                         ": the name " + copy.name + ", which its copy for experiment " +
                         m.experiments[e].name + " needs, is taken");
      p.shown_as[copy.name] = name + "@" + m.experiments[e].name;
      c.per_experiment[e][name] = copy.name;
      m.adjustables.push_back(copy);
      p.values.push_back(p.values[a]);
      p.free.push_back(p.free[a]);
      p.copy_of.push_back(static_cast<int>(a));
    }
  }
  for (const auto& d : m.adjustables)
    for (int a : c.originals)
      if (d.bound && Uses(d.equal_to.text, m.adjustables[a].name))
        errors.push_back(m.path + ":" + std::to_string(d.equal_to.line) + ": adjustable " +
                         d.name + ": equal_to may not read " + m.adjustables[a].name +
                         ", which has one value per experiment");
  if (m.adjustables.size() > static_cast<size_t>(kMaxAdjustables))
    errors.push_back(m.path + ": the per-experiment copies make " +
                     std::to_string(m.adjustables.size()) + " adjustables, at most " +
                     std::to_string(kMaxAdjustables));
  return c;
}

// Reads the experiments' data and puts their points one after another.
int LayPoints(Prepared& p, std::vector<std::string>& errors) {
  Model& m = p.model;
  std::vector<std::string> outputs;
  for (const auto& o : m.outputs) outputs.push_back(o.name);
  const double t0 = m.t0;
  const size_t before = errors.size();
  double last = 0;
  int interval = 0;
  for (size_t e = 0; e < m.experiments.size(); ++e) {
    Dataset d;
    std::string message;
    if (ReadData(m.experiments[e].data, outputs, d, message) != 0) {
      errors.push_back(message);
      continue;
    }
    CheckStartTime(m, d, errors);
    ExperimentSpan s;
    s.name = m.experiments[e].name;
    s.data = d.path;
    s.first_interval = interval + 1;
    s.intervals = std::max(m.intervals, d.last_interval);
    // Just after the previous experiment's last point, whatever the scale of the times.
    s.offset = e == 0 ? 0 : last + 1e-6 * std::max(1.0, std::fabs(last)) - t0;
    s.first_point = static_cast<int>(p.data.points.size());
    if (d.points.empty()) continue;
    if (d.points.front().time > t0) {
      DataPoint start;
      start.interval = s.first_interval;
      start.time = t0 + s.offset;
      start.values.assign(outputs.size(), {});
      p.data.points.push_back(start);
      s.lead = 1;
    }
    for (DataPoint pt : d.points) {
      pt.interval += interval;
      pt.time += s.offset;
      p.data.points.push_back(pt);
    }
    s.points = static_cast<int>(p.data.points.size()) - s.first_point;
    last = p.data.points.back().time;
    interval += s.intervals;
    p.data.path += (p.data.path.empty() ? "" : ", ") + d.path;
    auto& columns = p.data.replicate_columns;  // the most any experiment gives each output
    columns.resize(std::max(columns.size(), d.replicate_columns.size()), 0);
    for (size_t o = 0; o < d.replicate_columns.size(); ++o)
      columns[o] = std::max(columns[o], d.replicate_columns[o]);
    p.experiments.push_back(s);
  }
  if (errors.size() == before && p.data.points.size() > static_cast<size_t>(kMaxPoints)) {
    int leads = 0;
    for (const ExperimentSpan& x : p.experiments) leads += x.lead;
    errors.push_back(m.path + ": the experiments' " + std::to_string(p.data.points.size() - leads) +
                     " data points" +
                     (leads > 0 ? " and the " + std::to_string(leads) + " start point" +
                                      (leads == 1 ? "" : "s") + " at t0 = " + Num(t0) +
                                      " (one for each experiment whose data start later; the "
                                      "simulation starts there)"
                                : "") +
                     " make " + std::to_string(p.data.points.size()) + " points, more than the "
                     "library's " + std::to_string(kMaxPoints) + " for one fit" +
                     (leads > 0 ? ": set t0 to the experiments' first time, or drop points"
                                : ": drop points, or fit fewer experiments together"));
  }
  if (interval > kMaxIntervals)
    errors.push_back(m.path + ": the experiments need " + std::to_string(interval) +
                     " intervals together, at most " + std::to_string(kMaxIntervals));
  p.data.last_interval = std::max(1, interval);
  return errors.empty() ? 0 : 2;
}

// Start formulas and parameter equations of every interval of every experiment.
void LayIntervals(Prepared& p, const Copies& c) {
  Model& m = p.model;
  for (auto& s : m.species) {
    std::vector<Formula> all;
    for (size_t e = 0; e < p.experiments.size(); ++e) {
      const ExperimentSpan& x = p.experiments[e];
      const std::vector<Formula>* list = &s.start;
      for (const auto& [name, starts] : m.experiments[e].start)
        if (name == s.name) list = &starts;
      Renames to = c.per_experiment[e];
      to["T"] = "(T - " + Text(x.offset) + ")";
      for (int k = 0; k < x.intervals; ++k) {
        Formula f = k < static_cast<int>(list->size())
                        ? (*list)[k]
                        : Formula{s.name, "species " + s.name + " start (continues)", s.line, 0};
        f.text = Rename(f.text, to);
        all.push_back(f);
      }
    }
    s.start = all;
  }
  for (auto& par : m.parameters) {
    std::vector<Formula> all;
    for (size_t e = 0; e < p.experiments.size(); ++e) {
      const ExperimentSpan& x = p.experiments[e];
      Renames to = c.per_experiment[e];
      to["T"] = "(T - " + Text(x.offset) + ")";
      for (int k = 0; k < x.intervals; ++k) {
        Formula f = par.equation[std::min<size_t>(k, par.equation.size() - 1)];
        f.text = Rename(f.text, to);
        all.push_back(f);
      }
    }
    par.equation = all;
  }
}

// A hidden parameter holding, in each interval, the text its experiment gives.
void AddHidden(Prepared& p, const std::string& name,
               const std::vector<std::string>& per_experiment) {
  ParameterDecl h;
  h.name = name;
  for (size_t e = 0; e < p.experiments.size(); ++e)
    for (int k = 0; k < p.experiments[e].intervals; ++k)
      h.equation.push_back({per_experiment[e], "experiment " + p.experiments[e].name, 0, 0});
  p.model.parameters.push_back(h);
}

// Rates and outputs have one formula for all intervals: they read the experiment's time and
// per-experiment values through hidden parameters.
void RouteSharedFormulas(Prepared& p, const Copies& c) {
  Model& m = p.model;
  std::vector<Formula*> shared;
  for (auto& o : m.outputs) shared.push_back(&o.formula);
  for (auto& r : m.rates) {
    for (auto& [col, f] : r.coefficients) shared.push_back(&f);
    if (r.has_free) shared.push_back(&r.free_term);
  }
  auto used = [&](const std::string& name) {
    for (const Formula* f : shared)
      if (Uses(f->text, name)) return true;
    return false;
  };
  Renames to;
  if (used("T")) {
    std::vector<std::string> offsets;
    for (const auto& x : p.experiments) offsets.push_back(Text(x.offset));
    AddHidden(p, "T__offset", offsets);
    to["T"] = "(T - T__offset)";
  }
  for (int a : c.originals) {
    const std::string name = m.adjustables[a].name;
    if (!used(name)) continue;
    std::vector<std::string> now{name};
    for (size_t e = 1; e < p.experiments.size(); ++e) now.push_back(c.per_experiment[e].at(name));
    AddHidden(p, name + "__now", now);
    to[name] = name + "__now";
  }
  for (Formula* f : shared) f->text = Rename(f->text, to);
}

}  // namespace

int LayExperiments(Prepared& p, std::vector<std::string>& errors) {
  const size_t before = errors.size();
  const Copies c = MakeCopies(p, errors);
  if (errors.size() != before || LayPoints(p, errors) != 0) return 2;
  LayIntervals(p, c);
  RouteSharedFormulas(p, c);
  Model& m = p.model;
  if (m.parameters.size() > static_cast<size_t>(kMaxParameters)) {
    errors.push_back(m.path + ": the experiments' hidden parameters make " +
                     std::to_string(m.parameters.size()) + " parameters, at most " +
                     std::to_string(kMaxParameters));
    return 2;
  }
  m.intervals = p.data.last_interval;
  m.has_t0 = true;  // the first experiment starts at t0, where its start point is
  return 0;
}

int FindShownAdjustable(const Prepared& p, const std::string& name) {
  if (name.find('@') == std::string::npos) return FindAdjustable(p.model, name);
  for (const auto& [internal, shown] : p.shown_as)
    if (shown == name) return FindAdjustable(p.model, internal);
  return -1;
}

std::vector<int> AdjustablesNamed(const Prepared& p, const std::string& name) {
  const int a = FindShownAdjustable(p, name);
  if (a < 0) return {};
  std::vector<int> all{a};
  if (name.find('@') == std::string::npos)
    for (size_t c = 0; c < p.copy_of.size(); ++c)
      if (p.copy_of[c] == a) all.push_back(static_cast<int>(c));
  return all;
}

std::string ShownNamesHint(const Prepared& p, const std::string& name) {
  const std::string plain = name.substr(0, name.find('@'));
  const int a = FindAdjustable(p.model, plain);
  if (a < 0 || p.shown_as.count(plain) == 0) return "";
  std::string names = p.shown_as.at(plain);
  for (size_t c = 0; c < p.copy_of.size(); ++c)
    if (p.copy_of[c] == a) names += ", " + p.shown_as.at(p.model.adjustables[c].name);
  return " (one per experiment: " + names + ")";
}

}  // namespace tarvo::frontend
