#include "language/model_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "api/limits.h"
#include "api/methods.h"
#include "session/erreur_text.h"
#include "language/formula_limits.h"
#include "language/names.h"
#include "language/reactions.h"

namespace tarvo::frontend {

namespace {

namespace fs = std::filesystem;

// Thrown inside this file only; ReadModel turns it into status 2 and a message.
struct ModelError {
  std::string text;
};

struct Reader {
  std::string path;
  std::vector<std::string> lines;  // the file's lines, to find where a string's text starts

  std::string Place(const toml::source_region& r) const {
    return path + ":" + std::to_string(r.begin.line) + ":" + std::to_string(r.begin.column);
  }
  [[noreturn]] void Fail(const toml::node& n, const std::string& what) const {
    throw ModelError{Place(n.source()) + ": " + what};
  }
  [[noreturn]] void FailAt(int line, const std::string& what) const {
    throw ModelError{path + ":" + std::to_string(line) + ": " + what};
  }

  // Column of the first character of a string value's text (after its opening quotes).
  int TextColumn(const toml::node& n) const {
    const auto& b = n.source().begin;
    if (!n.is_string() || b.line == 0 || b.line > lines.size()) return b.column;
    const std::string& line = lines[b.line - 1];
    const size_t at = b.column - 1;
    if (line.compare(at, 3, "\"\"\"") == 0 || line.compare(at, 3, "'''") == 0)
      return static_cast<int>(b.column) + 3;
    return static_cast<int>(b.column) + 1;
  }
};

std::string NumberText(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

const std::set<std::string> kTopKeys = {"method", "tolerance", "error_type", "marquardt", "precision",
                                        "max_calls", "sd_every_call", "data", "t0", "plot", "species",
                                        "parameters", "adjustables", "outputs", "rates",
                                        "reactions", "experiments", "interval_times"};

// A top-level key written below a [section] header lands in that section.
std::string SectionHint(const std::string& key, const std::string& section) {
  if (!kTopKeys.count(key) || section.empty()) return "";
  return "; keys written after a [" + section + "] header belong to it: put [" + section +
         "] after the top-level keys";
}

void CheckKeys(const Reader& rd, const toml::table& t, const std::set<std::string>& allowed,
               const std::string& where, const std::string& section = "") {
  for (auto&& [key, node] : t) {
    if (allowed.count(std::string(key.str()))) continue;
    std::string list;
    for (const auto& a : allowed) list += (list.empty() ? "" : ", ") + a;
    throw ModelError{rd.Place(key.source()) + ": unknown key '" + std::string(key.str()) +
                     "'" + where + " (expected one of: " + list + ")" +
                     SectionHint(std::string(key.str()), section)};
  }
}

// A formula may be written as a string or as a plain number.
Formula ReadFormula(const Reader& rd, const toml::node& n, const std::string& label) {
  Formula f;
  f.label = label;
  f.line = static_cast<int>(n.source().begin.line);
  f.column = rd.TextColumn(n);
  if (auto s = n.as_string()) {
    f.text = s->get();
  } else if (auto i = n.as_integer()) {
    f.text = std::to_string(i->get());
  } else if (auto d = n.as_floating_point()) {
    if (!std::isfinite(d->get())) rd.Fail(n, label + ": " + NumberText(d->get()) +
                                                 " is not a finite number");
    f.text = NumberText(d->get());
  } else {
    rd.Fail(n, label + ": a formula must be a text in quotes or a number");
  }
  if (const std::string why = FormulaSizeProblem(f.text); !why.empty())
    rd.Fail(n, label + ": a formula of " + why);
  return f;
}

// One formula, or a list of formulas, one per interval.
std::vector<Formula> ReadFormulaList(const Reader& rd, const toml::node& n,
                                     const std::string& label) {
  std::vector<Formula> out;
  if (auto a = n.as_array()) {
    if (a->empty()) rd.Fail(n, label + ": the list is empty");
    if (a->size() > static_cast<size_t>(kMaxIntervals))
      rd.Fail(n, label + ": " + std::to_string(a->size()) + " intervals, at most " +
                     std::to_string(kMaxIntervals));
    for (size_t k = 0; k < a->size(); ++k)
      out.push_back(ReadFormula(rd, (*a)[k], label + ", interval " + std::to_string(k + 1)));
  } else {
    out.push_back(ReadFormula(rd, n, label));
  }
  return out;
}

double ReadNumber(const Reader& rd, const toml::node& n, const std::string& key) {
  if (auto i = n.as_integer()) return static_cast<double>(i->get());
  if (auto d = n.as_floating_point()) {
    if (!std::isfinite(d->get()))
      rd.Fail(n, "'" + key + "' must be a finite number, not " + NumberText(d->get()));
    return d->get();
  }
  rd.Fail(n, "'" + key + "' must be a number");
}


bool ReadBool(const Reader& rd, const toml::node& n, const std::string& key) {
  if (auto b = n.as_boolean()) return b->get();
  rd.Fail(n, "'" + key + "' must be true or false");
}

std::string ReadString(const Reader& rd, const toml::node& n, const std::string& key) {
  if (auto s = n.as_string()) return s->get();
  rd.Fail(n, "'" + key + "' must be a text in quotes");
}

std::string ReadLabel(const Reader& rd, const toml::node& n, const std::string& key) {
  std::string s = ReadString(rd, n, key);
  if (s.size() > kMaxLabel)
    rd.Fail(n, "'" + key + "' has " + std::to_string(s.size()) + " characters, at most " +
                   std::to_string(kMaxLabel));
  return s;
}

// The array of tables under key (written as key = [ {...}, ... ] or as [[key]] sections).
std::vector<const toml::table*> ReadTables(const Reader& rd, const toml::table& root,
                                           const std::string& key) {
  std::vector<const toml::table*> out;
  const toml::node* n = root.get(key);
  if (!n) return out;
  const toml::array* a = n->as_array();
  if (!a) rd.Fail(*n, "'" + key + "' must be a list of { name = ... } entries");
  for (const toml::node& e : *a) {
    if (!e.is_table()) rd.Fail(e, "each entry of '" + key + "' must be a { name = ... } table");
    out.push_back(e.as_table());
  }
  return out;
}

std::string ReadName(const Reader& rd, const toml::table& t, const std::string& what) {
  const toml::node* n = t.get("name");
  if (!n) throw ModelError{rd.Place(t.source()) + ": " + what + " without a name"};
  std::string name = ReadString(rd, *n, "name");
  std::string why;
  if (CheckName(name, why) != 0) rd.Fail(*n, what + " " + why);
  return name;
}

void ReadSettings(const Reader& rd, const toml::table& root, Model& m) {
  if (auto n = root.get("method")) {
    m.method = ReadString(rd, *n, "method");
    m.method_line = static_cast<int>(n->source().begin.line);
  }
  if (auto n = root.get("tolerance")) m.tolerance = ReadNumber(rd, *n, "tolerance");
  if (auto n = root.get("error_type")) m.error_type = ReadNumber(rd, *n, "error_type");
  if (auto n = root.get("marquardt")) m.marquardt = ReadNumber(rd, *n, "marquardt");
  if (auto n = root.get("precision")) m.precision = ReadNumber(rd, *n, "precision");
  if (auto n = root.get("sd_every_call")) m.sd_every_call = ReadBool(rd, *n, "sd_every_call");
  if (auto n = root.get("max_calls")) {
    auto i = n->as_integer();
    if (!i || i->get() < 1 || i->get() > 100000)
      rd.Fail(*n, "'max_calls' must be a whole number from 1 to 100000");
    m.max_calls = static_cast<int>(i->get());
  }
  if (auto n = root.get("t0")) {
    m.t0 = ReadNumber(rd, *n, "t0");
    m.has_t0 = true;
    m.t0_line = static_cast<int>(n->source().begin.line);
  }
  if (auto n = root.get("interval_times")) {
    // When intervals 2, 3, ... begin on a grid of one's own (simulate --times); data files
    // place them by their points instead.
    const toml::array* a = n->as_array();
    if (!a) rd.Fail(*n, "'interval_times' must be a list of times, as in [5.0, 12.5]");
    for (const toml::node& t : *a) {
      const double v = ReadNumber(rd, t, "interval_times");
      if (!m.interval_times.empty() && !(v > m.interval_times.back()))
        rd.Fail(t, "'interval_times' must increase");
      m.interval_times.push_back(v);
    }
    if (m.interval_times.size() + 1 > static_cast<size_t>(kMaxIntervals))
      rd.Fail(*n, "'interval_times' opens more than the 30 intervals a model may have");
  }
  if (!(m.tolerance > 0))
    rd.Fail(*root.get("tolerance"), "'tolerance' must be above 0");
  if (const std::string why = ToleranceProblem(m.method, m.tolerance); !why.empty()) {
    if (auto n = root.get("tolerance")) rd.Fail(*n, why);
    throw ModelError{rd.path + ": the default " + why + "; set 'tolerance'"};
  }
  if (!(m.error_type >= 0 && m.error_type <= 10))
    rd.Fail(*root.get("error_type"), "'error_type' must be from 0 (constant error) to 10");
  if (!(m.marquardt >= 0)) rd.Fail(*root.get("marquardt"), "'marquardt' must be 0 or above");
  if (!(m.marquardt <= 1e6))
    rd.Fail(*root.get("marquardt"), "'marquardt' must be at most 1e6 (above that no step moves)");
  if (!(m.precision > 0 && m.precision <= 1e-2))
    rd.Fail(*root.get("precision"), "'precision' must be above 0 and at most 0.01 (a sum of "
                                    "squared relative changes; 1e-8 is typical)");
  if (auto n = root.get("data")) {
    const std::string d = ReadString(rd, *n, "data");
    if (d.empty()) rd.Fail(*n, "'data' is empty");
    m.data = fs::path(d).is_absolute() ? d : (fs::path(m.dir) / d).lexically_normal().string();
  }
  if (auto n = root.get("plot")) {
    const toml::table* t = n->as_table();
    if (!t) rd.Fail(*n, "'plot' must be a table: [plot] with title, time_label and log_y");
    CheckKeys(rd, *t, {"title", "log_y", "time_label"}, " in [plot]", "plot");
    if (auto v = t->get("title")) m.title = ReadLabel(rd, *v, "title");
    if (auto v = t->get("log_y")) m.log_y = ReadBool(rd, *v, "log_y");
    if (auto v = t->get("time_label")) m.time_label = ReadLabel(rd, *v, "time_label");
  }
}

// scale, min and max of an adjustable: how the fit moves it.
void ReadFitScale(const Reader& rd, const toml::table& t, AdjustableDecl& a) {
  const std::string who = "adjustable " + a.name + ": ";
  for (const char* key : {"scale", "min", "max"})
    if (const toml::node* n = t.get(key); n && a.bound)
      rd.Fail(*n, who + "'" + key + "' does not apply to a value bound by equal_to");
  if (const toml::node* n = t.get("scale")) {
    a.scale = ReadString(rd, *n, "scale");
    if (a.scale != "log" && a.scale != "linear")
      rd.Fail(*n, who + "scale must be \"log\" (fit the logarithm of a positive value) or "
                      "\"linear\" (a signed value that may cross zero)");
  }
  if (const toml::node* n = t.get("min")) a.min = ReadNumber(rd, *n, "min"), a.has_min = true;
  if (const toml::node* n = t.get("max")) a.max = ReadNumber(rd, *n, "max"), a.has_max = true;
  if (a.has_min && a.has_max && !(a.min < a.max))
    rd.Fail(*t.get("max"), who + "max must be above min");
  if (a.scale == "log" && a.has_min && !(a.min > 0))
    rd.Fail(*t.get("min"), who + "a log-scale value needs min above 0");
  if (a.scale == "log" && a.has_max && !(a.max > 0))
    rd.Fail(*t.get("max"), who + "a log-scale value needs max above 0");
}

void ReadDeclarations(const Reader& rd, const toml::table& root, Model& m) {
  for (const toml::table* t : ReadTables(rd, root, "species")) {
    CheckKeys(rd, *t, {"name", "start"}, " in a species");
    SpeciesDecl s;
    s.name = ReadName(rd, *t, "species");
    s.line = static_cast<int>(t->source().begin.line);
    if (s.name == "free") rd.Fail(*t->get("name"), "'free' names the free term in [rates] and "
                                                   "cannot name a species");
    if (auto n = t->get("start")) s.start = ReadFormulaList(rd, *n, "species " + s.name + " start");
    else s.start.push_back({"0", "species " + s.name + " start", s.line, 0});
    m.species.push_back(std::move(s));
  }
  for (const toml::table* t : ReadTables(rd, root, "parameters")) {
    CheckKeys(rd, *t, {"name", "equation"}, " in a parameter");
    ParameterDecl p;
    p.name = ReadName(rd, *t, "parameter");
    p.line = static_cast<int>(t->source().begin.line);
    const toml::node* n = t->get("equation");
    if (!n) rd.FailAt(p.line, "parameter " + p.name + " has no equation");
    p.equation = ReadFormulaList(rd, *n, "parameter " + p.name);
    m.parameters.push_back(std::move(p));
  }
  for (const toml::table* t : ReadTables(rd, root, "adjustables")) {
    CheckKeys(rd, *t, {"name", "value", "free", "equal_to", "scale", "min", "max",
                       "per_experiment"}, " in an adjustable");
    AdjustableDecl a;
    a.name = ReadName(rd, *t, "adjustable");
    a.line = static_cast<int>(t->source().begin.line);
    if (auto n = t->get("value")) a.value = ReadNumber(rd, *n, "value");
    else if (!t->get("equal_to")) rd.FailAt(a.line, "adjustable " + a.name + " has no value");
    if (auto n = t->get("free")) a.free = ReadBool(rd, *n, "free");
    if (auto n = t->get("equal_to")) {
      a.bound = true;
      a.equal_to = ReadFormula(rd, *n, "adjustable " + a.name + " equal_to");
      if (a.free) rd.Fail(*n, "adjustable " + a.name + " is bound by equal_to and cannot "
                              "also be free");
    }
    ReadFitScale(rd, *t, a);
    if (auto n = t->get("per_experiment")) {
      a.per_experiment = ReadBool(rd, *n, "per_experiment");
      if (a.bound && a.per_experiment)
        rd.Fail(*n, "adjustable " + a.name + ": a value bound by equal_to cannot be per experiment");
      if (a.per_experiment && !root.get("experiments"))
        rd.Fail(*n, "adjustable " + a.name + ": per_experiment needs [[experiments]]");
    }
    m.adjustables.push_back(std::move(a));
  }
  for (const toml::table* t : ReadTables(rd, root, "outputs")) {
    CheckKeys(rd, *t, {"name", "formula", "offset"}, " in an output");
    OutputDecl o;
    o.line = static_cast<int>(t->source().begin.line);
    const toml::node* nn = t->get("name");
    if (!nn) rd.FailAt(o.line, "an output without a name");
    o.name = ReadString(rd, *nn, "name");
    const bool replicate_suffix =
        o.name.find('.') != std::string::npos &&
        o.name.find_first_not_of("0123456789", o.name.rfind('.') + 1) == std::string::npos;
    if (o.name.empty() || o.name.find_first_of(",\"") != std::string::npos ||
        replicate_suffix || o.name == "time" || o.name == "interval")
      rd.Fail(*nn, "output name '" + o.name + "' cannot head a data column (no commas or "
                   "quotes, no .N ending, not 'time' or 'interval')");
    const toml::node* fn = t->get("formula");
    if (!fn) rd.FailAt(o.line, "output " + o.name + " has no formula");
    o.formula = ReadFormula(rd, *fn, "output " + o.name);
    if (auto on = t->get("offset")) o.offset = ReadNumber(rd, *on, "offset");
    m.outputs.push_back(std::move(o));
  }
}

void ReadRates(const Reader& rd, const toml::table& root, Model& m) {
  const toml::node* n = root.get("rates");
  if (!n) return;
  const toml::table* rates = n->as_table();
  if (!rates) rd.Fail(*n, "'rates' must be a table: [rates] with one line per species");
  std::set<std::string> species;
  for (const auto& s : m.species) species.insert(s.name);
  for (auto&& [key, value] : *rates) {
    RateDecl r;
    r.species = std::string(key.str());
    r.line = static_cast<int>(key.source().begin.line);
    if (!species.count(r.species))
      throw ModelError{rd.Place(key.source()) + ": [rates] names '" + r.species +
                       "', which is not a declared species" +
                       SectionHint(r.species, "rates")};
    const std::string label = "rates " + r.species;
    if (const toml::table* t = value.as_table()) {
      for (auto&& [k2, v2] : *t) {
        const std::string col(k2.str());
        if (col == "free") {
          r.has_free = true;
          r.free_term = ReadFormula(rd, v2, label + "/free");
        } else if (species.count(col)) {
          r.coefficients.push_back({col, ReadFormula(rd, v2, label + "/" + col)});
        } else {
          throw ModelError{rd.Place(k2.source()) + ": " + label + ": '" + col +
                           "' is not a declared species (nor 'free', the free term)"};
        }
      }
    } else {
      // A plain formula is the whole rate, written as the free term.
      r.has_free = true;
      r.free_term = ReadFormula(rd, value, label);
    }
    m.rates.push_back(std::move(r));
  }
}

void ReadReactions(const Reader& rd, const toml::table& root, Model& m) {
  for (const toml::table* t : ReadTables(rd, root, "reactions")) {
    CheckKeys(rd, *t, {"equation", "rate"}, " in a reaction");
    ReactionDecl r;
    r.line = static_cast<int>(t->source().begin.line);
    const std::string label = "reaction " + std::to_string(m.reactions.size() + 1);
    const toml::node* e = t->get("equation");
    if (!e) rd.FailAt(r.line, label + " has no equation (equation = \"A + B -> C\")");
    if (!e->is_string()) rd.Fail(*e, label + ": 'equation' must be a text in quotes");
    r.equation = ReadFormula(rd, *e, label + " equation");
    const toml::node* k = t->get("rate");
    if (!k) rd.FailAt(r.line, label + " has no rate (a constant's name, or a rate law)");
    if (const toml::array* a = k->as_array()) {
      const char* names[] = {"forward", "reverse"};
      for (size_t i = 0; i < a->size() && i < 3; ++i)
        r.rates.push_back(ReadFormula(rd, (*a)[i], label + " " + (i < 2 ? names[i] : "") + " rate"));
    } else {
      r.rates.push_back(ReadFormula(rd, *k, label + " rate"));
    }
    m.reactions.push_back(std::move(r));
  }
}

void ReadExperiments(const Reader& rd, const toml::table& root, Model& m) {
  std::set<std::string> species, names;
  for (const auto& s : m.species) species.insert(s.name);
  for (const toml::table* t : ReadTables(rd, root, "experiments")) {
    CheckKeys(rd, *t, {"name", "data", "start"}, " in an experiment");
    ExperimentDecl e;
    e.line = static_cast<int>(t->source().begin.line);
    e.name = "exp" + std::to_string(m.experiments.size() + 1);
    if (auto n = t->get("name")) {
      e.name = ReadString(rd, *n, "name");
      if (e.name.empty() || e.name.size() > 20 ||
          e.name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") !=
              std::string::npos)
        rd.Fail(*n, "an experiment's name is 1 to 20 letters, digits or '_'");
    }
    if (!names.insert(e.name).second)
      rd.FailAt(e.line, "experiment '" + e.name + "' is declared twice");
    const toml::node* d = t->get("data");
    if (!d) rd.FailAt(e.line, "experiment " + e.name + " has no data file (data = \"...csv\")");
    const std::string file = ReadString(rd, *d, "data");
    if (file.empty()) rd.Fail(*d, "'data' is empty");
    e.data = fs::path(file).is_absolute() ? file : (fs::path(m.dir) / file).lexically_normal().string();
    if (auto n = t->get("start")) {
      const toml::table* st = n->as_table();
      if (!st) rd.Fail(*n, "experiment " + e.name + ": 'start' must be a table: { A = \"A0\" }");
      for (auto&& [key, value] : *st) {
        const std::string sp(key.str());
        if (!species.count(sp))
          throw ModelError{rd.Place(key.source()) + ": experiment " + e.name + ": '" + sp +
                           "' is not a declared species"};
        e.start.push_back({sp, ReadFormulaList(rd, value, "experiment " + e.name + " start " + sp)});
      }
    }
    m.experiments.push_back(std::move(e));
  }
  if (!m.experiments.empty() && root.get("data"))
    rd.Fail(*root.get("data"), "with [[experiments]] each experiment names its data file; "
                               "remove the top-level 'data'");
}

void CheckModel(const Reader& rd, Model& m) {
  auto limit = [&](size_t count, int most, const char* what) {
    if (count > static_cast<size_t>(most))
      throw ModelError{rd.path + ": " + std::to_string(count) + " " + what + ", at most " +
                       std::to_string(most)};
  };
  if (m.species.empty()) throw ModelError{rd.path + ": the model declares no species"};
  if (m.outputs.empty()) throw ModelError{rd.path + ": the model declares no outputs"};
  limit(m.species.size(), kMaxSpecies, "species");
  limit(m.parameters.size(), kMaxParameters, "parameters");
  limit(m.adjustables.size(), kMaxAdjustables, "adjustables");
  limit(m.outputs.size(), kMaxOutputs, "outputs");
  std::set<std::string> seen;
  auto unique = [&](const std::string& name, int line, const char* what) {
    if (!seen.insert(name).second)
      rd.FailAt(line, std::string(what) + " '" + name + "' is declared twice (names of " +
                          "species, parameters and adjustables must all differ)");
  };
  for (const auto& s : m.species) unique(s.name, s.line, "species");
  for (const auto& p : m.parameters) unique(p.name, p.line, "parameter");
  for (const auto& a : m.adjustables) unique(a.name, a.line, "adjustable");
  std::set<std::string> outputs;
  for (const auto& o : m.outputs)
    if (!outputs.insert(o.name).second) rd.FailAt(o.line, "output '" + o.name + "' is declared twice");
  for (const auto& s : m.species)
    m.intervals = std::max(m.intervals, static_cast<int>(s.start.size()));
  for (const auto& p : m.parameters)
    m.intervals = std::max(m.intervals, static_cast<int>(p.equation.size()));
}

// Lines too long, or keys nested too deep, for the TOML reader to be handed them (its parser
// recurses once per dotted part); "" when the text is fine.
std::string SizeProblem(const Reader& rd) {
  for (size_t k = 0; k < rd.lines.size(); ++k) {
    const std::string& line = rd.lines[k];
    const std::string where = rd.path + ":" + std::to_string(k + 1) + ": ";
    if (line.size() > kMaxModelLine)
      return where + "a line of " + std::to_string(line.size()) + " characters, at most " +
             std::to_string(kMaxModelLine);
    // The key part: a [header] line, or what comes before '=' (quoted parts skipped).
    int dots = 0;
    char quote = 0;
    const size_t first = line.find_first_not_of(" \t");
    const bool header = first != std::string::npos && line[first] == '[';
    for (char c : line) {
      if (quote) {
        if (c == quote) quote = 0;
        continue;
      }
      if (c == '"' || c == '\'') quote = c;
      else if (c == '.') ++dots;
      else if (c == '#' || (!header && c == '=') || (header && c == ']')) break;
    }
    if (dots >= kMaxKeyDepth && (header || line.find('=') != std::string::npos))
      return where + "a key of " + std::to_string(dots + 1) + " dotted parts, at most " +
             std::to_string(kMaxKeyDepth);
  }
  return "";
}

}  // namespace

int ReadModel(const std::string& path, Model& model, std::string& message) {
  model = Model{};
  model.path = path;
  model.dir = fs::path(path).parent_path().string();
  std::error_code ec;
  std::ifstream in(path, std::ios::binary);
  if (!in || fs::is_directory(path, ec)) {
    message = "cannot open model file '" + path + "'";
    if (!fs::exists(path, ec)) message += ": no such file";
    else if (fs::is_directory(path, ec)) message += ": it is a folder";
    return 2;
  }
  const auto bytes = fs::file_size(path, ec);
  if (!ec && bytes > kMaxModelBytes) {
    message = path + ": " + std::to_string(bytes) + " bytes, more than a model file may hold (" +
              std::to_string(kMaxModelBytes) + ")";
    return 2;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  return ReadModelText(buffer.str(), path, model, message);
}

int ReadModelText(const std::string& content, const std::string& path, Model& model,
                  std::string& message) {
  model = Model{};
  model.path = path;
  model.dir = fs::path(path).parent_path().string();
  if (content.size() > kMaxModelBytes) {
    message = path + ": " + std::to_string(content.size()) +
              " bytes, more than a model file may hold (" + std::to_string(kMaxModelBytes) + ")";
    return 2;
  }
  Reader rd{path, {}};
  {
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) rd.lines.push_back(line);
  }
  if (std::string why = SizeProblem(rd); !why.empty()) {
    message = why;
    return 2;
  }
  try {
    toml::table root = toml::parse(content, path);
    CheckKeys(rd, root, kTopKeys, "");
    ReadSettings(rd, root, model);
    ReadDeclarations(rd, root, model);
    ReadRates(rd, root, model);
    ReadReactions(rd, root, model);
    ReadExperiments(rd, root, model);
    CheckModel(rd, model);
    if (DeriveReactions(model, message) != 0) return 2;
  } catch (const toml::parse_error& e) {
    message = rd.Place(e.source()) + ": " + std::string(e.description());
    return 2;
  } catch (const ModelError& e) {
    message = e.text;
    return 2;
  }
  return 0;
}

std::string ToleranceProblem(const std::string& method, double tol) {
  if (method == "auto") {
    // The methods "auto" may pick (language/method_choice.h): the value must suit each.
    for (const char* candidate : {"EXACT", "BDF", "RUNGE-KUTTA QC"})
      if (std::string why = ToleranceProblem(candidate, tol); !why.empty())
        return why + " (method = \"auto\" may pick " + candidate + ")";
    return "";
  }
  const tarvo::MethodFacts* f = tarvo::FactsForMethod(method);
  if (!f || (tol >= f->tolerance_low && tol <= f->tolerance_high)) return "";
  auto shortest = [](double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return std::string(buf);
  };
  return "'tolerance' = " + shortest(tol) + " is outside " + shortest(f->tolerance_low) +
         " .. " + shortest(f->tolerance_high) +
         (f->uses_tolerance ? ", the range in which " + method + " gives meaningful results: "
                            : ", the range " + method + " accepts: ") +
         std::string(tol > f->tolerance_high ? f->why_high : f->why_low);
}

int FindAdjustable(const Model& model, const std::string& name) {
  for (size_t i = 0; i < model.adjustables.size(); ++i)
    if (model.adjustables[i].name == name) return static_cast<int>(i);
  return -1;
}

}  // namespace tarvo::frontend
