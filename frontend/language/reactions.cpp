#include "language/reactions.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "language/formula_lex.h"
#include "language/names.h"
#include "language/text.h"

namespace tarvo::frontend {

namespace {

struct Failure {
  std::string text;
};

struct Participant {
  int species;
  int count;
};

// One direction of a reaction: who reacts, and the net change of every species per event.
struct Direction {
  std::vector<Participant> reactants;
  std::map<int, int> net;  // species -> products minus reactants
  const Formula* rate = nullptr;
  bool mass_action = false;
};

int SpeciesIndex(const Model& m, const std::string& name) {
  for (size_t s = 0; s < m.species.size(); ++s)
    if (m.species[s].name == name) return static_cast<int>(s);
  return -1;
}

bool IsIdentifier(const std::string& s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

// A coefficient or term that can be multiplied or negated without brackets.
bool Plain(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (!(std::isalnum(c) || c == '_' || c == '*' || c == '.' || (c == '-' && i == 0)))
      return false;
  }
  return !s.empty();
}

std::string Bracketed(const std::string& s) { return Plain(s) ? s : "(" + s + ")"; }

// factor times body, written as a chemist would: "-k*A", "2*k*A", "-(Vmax/(Km + S))".
std::string Scaled(int factor, const std::string& body) {
  const std::string b = body[0] == '-' ? "(" + body + ")" : Bracketed(body);
  if (factor == 1) return body;  // a term: no + or - outside brackets
  if (factor == -1) return "-" + b;
  return std::to_string(factor) + "*" + b;
}

// a + term, with "a - x" for a term "-x".
std::string Join(const std::string& a, const std::string& term) {
  if (a.empty()) return term;
  return term[0] == '-' ? a + " - " + term.substr(1) : a + " + " + term;
}

struct Reader {
  const Model& model;
  int number;  // 1-based reaction number, for messages

  [[noreturn]] void Fail(const Formula& f, size_t offset, const std::string& what) const {
    throw Failure{model.path + ":" + std::to_string(f.line) + ":" +
                  std::to_string(f.column + static_cast<int>(offset)) + ": reaction " +
                  std::to_string(number) + ": " + what};
  }

  // "2 A + B" (or nothing) into its participants; offset: where side starts in the equation.
  std::vector<Participant> Side(const Formula& eq, const std::string& side, size_t offset) const {
    std::vector<Participant> out;
    if (Trim(side).empty()) return out;
    size_t start = 0;
    while (start <= side.size()) {
      size_t plus = side.find('+', start);
      if (plus == std::string::npos) plus = side.size();
      const std::string raw = side.substr(start, plus - start);
      const size_t lead = raw.find_first_not_of(" \t");
      const size_t at = offset + start + (lead == std::string::npos ? 0 : lead);
      std::string term = Trim(raw);
      int count = 1;
      size_t digits = 0;
      while (digits < term.size() && std::isdigit(static_cast<unsigned char>(term[digits])))
        ++digits;
      if (digits > 0) {
        if (digits > 3 || std::stoi(term.substr(0, digits)) == 0)
          Fail(eq, at, "the count '" + term.substr(0, digits) + "' must be a whole number from "
                       "1 to 999");
        count = std::stoi(term.substr(0, digits));
        term = Trim(term.substr(digits));
        if (!term.empty() && term[0] == '*') term = Trim(term.substr(1));
      }
      if (term.empty())  // point at the '+' that lacks its species
        Fail(eq, offset + (plus < side.size() ? plus : start - 1), "a '+' without a species");
      const int s = SpeciesIndex(model, term);
      if (s < 0)
        Fail(eq, at, "'" + term + "' is not a declared species (write counts as '2 A')");
      bool merged = false;
      for (auto& p : out)
        if (p.species == s) p.count += count, merged = true;
      if (!merged) out.push_back({s, count});
      start = plus + 1;
    }
    return out;
  }
};

bool NamesConstant(const Model& m, const std::string& name) {
  if (FindAdjustable(m, name) >= 0) return true;
  for (const auto& p : m.parameters)
    if (p.name == name) return true;
  return false;
}

// The directions of one reaction (one, or two for "<=>"), rates checked.
std::vector<Direction> ReadReaction(const Model& m, const NameTable& names,
                                    const ReactionDecl& r, const Reader& rd) {
  const std::string& text = r.equation.text;
  size_t arrow = text.find("<=>");
  const bool reversible = arrow != std::string::npos;
  if (!reversible) arrow = text.find("->");
  if (arrow == std::string::npos)
    rd.Fail(r.equation, 0, "no arrow: write '2 A + B -> C', or 'A <=> B' for a reversible pair");
  const size_t width = reversible ? 3 : 2;
  const size_t second = std::min(text.find("->", arrow + width), text.find("<=>", arrow + width));
  if (second != std::string::npos) rd.Fail(r.equation, second, "more than one arrow");
  const auto left = rd.Side(r.equation, text.substr(0, arrow), 0);
  const auto right = rd.Side(r.equation, text.substr(arrow + width), arrow + width);
  if (left.empty() && right.empty()) rd.Fail(r.equation, 0, "no species on either side");
  const size_t wanted = reversible ? 2 : 1;
  if (r.rates.size() != wanted) {
    const Formula& at = r.rates.empty() ? r.equation : r.rates.front();
    rd.Fail(at, 0, reversible ? "a reversible reaction takes two rates, forward and reverse: "
                                "rate = [\"kf\", \"kr\"]"
                              : "an irreversible reaction takes one rate: rate = \"k\"");
  }
  for (const Formula& f : r.rates) {
    std::string out, why;
    if (Translate(names, f.text, out, why) != 0) rd.Fail(f, 0, "rate: " + why);
  }
  std::vector<Direction> dirs;
  auto add = [&](const std::vector<Participant>& from, const std::vector<Participant>& to,
                 const Formula& rate) {
    Direction d;
    d.reactants = from;
    for (const auto& p : from) d.net[p.species] -= p.count;
    for (const auto& p : to) d.net[p.species] += p.count;
    d.rate = &rate;
    const std::string name = Trim(rate.text);
    d.mass_action = IsIdentifier(name) && NamesConstant(m, name);
    dirs.push_back(std::move(d));
  };
  add(left, right, r.rates[0]);
  if (reversible) add(right, left, r.rates[1]);
  return dirs;
}

// One term a reaction gives: the rate of species `row` in column `column` (-1: free term).
struct Derived {
  int row, column;
  std::string term;
};

// The rate of species `row` receives `term` in column `column` (-1: the free term).
void AddTerm(Model& m, int row, int column, const std::string& term, int line,
             std::vector<Derived>& log) {
  log.push_back({row, column, term});
  const std::string& name = m.species[row].name;
  RateDecl* rate = nullptr;
  for (auto& r : m.rates)
    if (r.species == name) rate = &r;
  if (!rate) {
    m.rates.push_back(RateDecl{name, {}, false, {}, line});
    rate = &m.rates.back();
  }
  if (column < 0) {
    if (!rate->has_free) rate->free_term = Formula{"", "rates " + name + "/free (reactions)", line, 0};
    rate->has_free = true;
    rate->free_term.text = Join(rate->free_term.text, term);
    return;
  }
  const std::string& col = m.species[column].name;
  for (auto& [c, f] : rate->coefficients)
    if (c == col) {
      f.text = Join(f.text, term);
      return;
    }
  rate->coefficients.push_back({col, Formula{term, "rates " + name + "/" + col + " (reactions)",
                                             line, 0}});
}

// Mass action: the constant times every reactant to its count, one factor of `column` left
// out (the column's species multiplies the coefficient).
std::string MassActionCoefficient(const Direction& d, int column, const Model& m) {
  std::string body = Trim(d.rate->text);
  for (const auto& p : d.reactants) {
    const int power = p.count - (p.species == column ? 1 : 0);
    if (power == 0) continue;
    body += "*" + m.species[p.species].name;
    if (power > 1) body += "^" + std::to_string(power);
  }
  return body;
}

void DeriveMassAction(Model& m, const Direction& d, int line, std::vector<Derived>& log) {
  for (const auto& [s, nu] : d.net) {
    if (nu == 0) continue;
    int column = d.reactants.empty() ? -1 : d.reactants.front().species;
    for (const auto& p : d.reactants)
      if (p.species == s) column = s;
    AddTerm(m, s, column, Scaled(nu, MassActionCoefficient(d, column, m)), line, log);
  }
}

// One top-level term of a rate law: the lexemes [begin, end) and its sign.
struct Term {
  size_t begin, end;
  int sign;
};

bool IsOp(const Lexeme& l, const char* op) { return l.kind == LexKind::Operator && l.text == op; }

std::vector<Term> SplitTerms(const std::vector<Lexeme>& lex) {
  std::vector<Term> terms;
  int depth = 0;
  size_t begin = 0;
  int sign = 1;
  for (size_t i = 0; i <= lex.size(); ++i) {
    const bool end = i == lex.size();
    if (!end) {
      if (lex[i].kind == LexKind::Open) ++depth;
      if (lex[i].kind == LexKind::Close) --depth;
    }
    const bool binary = !end && depth == 0 && i > begin && (IsOp(lex[i], "+") || IsOp(lex[i], "-")) &&
                        (lex[i - 1].kind == LexKind::Number ||
                         lex[i - 1].kind == LexKind::Identifier ||
                         lex[i - 1].kind == LexKind::Close);
    if (end || binary) {
      size_t b = begin;
      int s = sign;
      while (b < i && (IsOp(lex[b], "+") || IsOp(lex[b], "-"))) s *= IsOp(lex[b++], "-") ? -1 : 1;
      if (b < i) terms.push_back({b, i, s});
      if (!end) {
        sign = IsOp(lex[i], "-") ? -1 : 1;
        begin = i + 1;
      }
    }
  }
  return terms;
}

size_t Offset(const Lexeme& l) { return static_cast<size_t>(l.column - 1); }
size_t EndOffset(const Lexeme& l) { return Offset(l) + l.text.size(); }

// The coefficient of the term when written as (coefficient) * species: a species that is a
// factor at the term's top level (alone or to a whole power of 2 or more) is taken out,
// `row` preferred. Empty when no species is such a factor.
std::string TakeFactor(const Model& m, const std::string& text, const std::vector<Lexeme>& lex,
                       const Term& t, int row, int& column) {
  struct Candidate {
    size_t at, last;  // lexemes of the factor (the species, or through its power)
    int species, power;
  };
  std::vector<Candidate> found;
  int depth = 0;
  auto closes = [&](size_t k) { return k >= t.end || IsOp(lex[k], "*") || IsOp(lex[k], "/"); };
  for (size_t i = t.begin; i < t.end; ++i) {
    if (lex[i].kind == LexKind::Open) ++depth;
    if (lex[i].kind == LexKind::Close) --depth;
    if (depth != 0 || lex[i].kind != LexKind::Identifier) continue;
    const int s = SpeciesIndex(m, lex[i].text);
    if (s < 0 || (i > t.begin && !IsOp(lex[i - 1], "*"))) continue;
    if (closes(i + 1)) {
      found.push_back({i, i, s, 1});
    } else if (IsOp(lex[i + 1], "^") && i + 2 < t.end && lex[i + 2].kind == LexKind::Number &&
               closes(i + 3)) {
      const std::string& n = lex[i + 2].text;
      if (n.find_first_not_of("0123456789") == std::string::npos && n.size() < 4 && std::stoi(n) >= 2)
        found.push_back({i, i + 2, s, std::stoi(n)});
    }
  }
  if (found.empty()) return "";
  Candidate c = found.front();
  for (const auto& f : found)
    if (f.species == row) c = f;
  column = c.species;
  const size_t base = Offset(lex[t.begin]);
  std::string coef = text.substr(base, EndOffset(lex[t.end - 1]) - base);
  const std::string& name = lex[c.at].text;
  size_t from = Offset(lex[c.at]), to = EndOffset(lex[c.last]);
  std::string with;
  if (c.power > 2) with = name + "^" + std::to_string(c.power - 1);
  else if (c.power == 2) with = name;
  else if (c.at > t.begin) from = Offset(lex[c.at - 1]);         // "...*S": drop "*S"
  else if (c.last + 1 < t.end && IsOp(lex[c.last + 1], "*")) to = EndOffset(lex[c.last + 1]);
  else with = "1";                                                  // "S/x" or "S" alone
  coef.replace(from - base, to - from, with);
  return Trim(coef);
}

void DeriveRateLaw(Model& m, const Direction& d, int line, std::vector<Derived>& log) {
  std::vector<Lexeme> lex;
  std::string why;
  Lex(d.rate->text, lex, why);  // lexes: it translated
  for (const Term& t : SplitTerms(lex)) {
    const size_t base = Offset(lex[t.begin]);
    const std::string whole = Trim(d.rate->text.substr(base, EndOffset(lex[t.end - 1]) - base));
    for (const auto& [s, nu] : d.net) {
      if (nu == 0) continue;
      int column = -1;
      const std::string coef = TakeFactor(m, d.rate->text, lex, t, s, column);
      AddTerm(m, s, column, Scaled(nu * t.sign, coef.empty() ? whole : coef), line, log);
    }
  }
}

// The terms of a formula, each as its sign and its text without blanks or enclosing brackets,
// so that "-(Vmax/(Km + S))" and "- Vmax/(Km+S)" compare equal.
std::vector<std::string> TermKeys(const std::string& text) {
  std::vector<Lexeme> lex;
  std::string why;
  if (Lex(text, lex, why) != 0) return {};
  std::vector<std::string> keys;
  for (Term t : SplitTerms(lex)) {
    while (t.end - t.begin >= 2 && lex[t.begin].kind == LexKind::Open &&
           lex[t.end - 1].kind == LexKind::Close) {
      int depth = 0;
      bool whole = true;  // the first bracket closes at the term's end
      for (size_t i = t.begin; i + 1 < t.end && whole; ++i) {
        depth += lex[i].kind == LexKind::Open ? 1 : lex[i].kind == LexKind::Close ? -1 : 0;
        whole = depth > 0;
      }
      if (!whole) break;
      ++t.begin;
      --t.end;
    }
    std::string key = t.sign < 0 ? "-" : "+";
    for (size_t i = t.begin; i < t.end; ++i) key += lex[i].text;
    keys.push_back(key);
  }
  return keys;
}

// The formula of [rates] as written for species row, column (-1: the free term), or null.
const Formula* WrittenCell(const Model& m, const std::vector<RateDecl>& written, int row,
                           int column) {
  for (const RateDecl& r : written) {
    if (r.species != m.species[row].name) continue;
    if (column < 0) return r.has_free ? &r.free_term : nullptr;
    for (const auto& [col, f] : r.coefficients)
      if (col == m.species[column].name) return &f;
  }
  return nullptr;
}

// A reaction whose every term [rates] already holds would count its rate twice: refused,
// naming both places. Some terms held: a warning each.
void CheckRepeats(const Model& m, const std::vector<RateDecl>& written,
                  const std::vector<Derived>& log, const ReactionDecl& r, const Reader& rd,
                  std::vector<std::string>& warnings) {
  std::vector<std::string> held;
  for (const Derived& d : log) {
    const Formula* f = WrittenCell(m, written, d.row, d.column);
    const std::vector<std::string> mine = TermKeys(d.term);
    if (!f || mine.size() != 1) continue;
    const std::vector<std::string> there = TermKeys(f->text);
    if (std::find(there.begin(), there.end(), mine.front()) == there.end()) continue;
    held.push_back(f->label + " (line " + std::to_string(f->line) + ") holds " + Trim(d.term));
  }
  if (held.empty()) return;
  std::string list;
  for (const std::string& h : held) list += (list.empty() ? "" : "; ") + h;
  const std::string what = "'" + Trim(r.equation.text) + "' repeats what [rates] writes: " +
                           list;
  if (held.size() == log.size())
    rd.Fail(r.equation, 0, what + ". The rate would count twice: keep the reaction or those "
                           "[rates] terms, not both");
  warnings.push_back(m.path + ":" + std::to_string(r.equation.line) + ":" +
                     std::to_string(r.equation.column) + ": reaction " +
                     std::to_string(rd.number) + ": " + what + "; these terms count twice");
}

}  // namespace

int DeriveReactions(Model& model, std::string& message) {
  const NameTable names = BuildNameTable(model);
  const std::vector<RateDecl> written = model.rates;  // [rates] as the file has them
  try {
    for (size_t k = 0; k < model.reactions.size(); ++k) {
      const ReactionDecl& r = model.reactions[k];
      const Reader rd{model, static_cast<int>(k + 1)};
      std::vector<Derived> log;
      for (const Direction& d : ReadReaction(model, names, r, rd)) {
        if (d.mass_action) DeriveMassAction(model, d, r.line, log);
        else DeriveRateLaw(model, d, r.line, log);
      }
      CheckRepeats(model, written, log, r, rd, model.reaction_warnings);
    }
  } catch (const Failure& f) {
    message = f.text;
    return 2;
  }
  return 0;
}

std::string RateExpression(const RateDecl& rate) {
  std::string out;
  for (const auto& [col, f] : rate.coefficients) {
    const std::string c = Trim(f.text);
    out = Join(out, (Plain(c) ? c : "(" + c + ")") + "*" + col);
  }
  if (rate.has_free) out = Join(out, Bracketed(Trim(rate.free_term.text)));
  return out.empty() ? "0" : out;
}

}  // namespace tarvo::frontend
