#include "analysis/guard_warnings.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "Symbolic/limits.h"
#include "analysis/simulate_at.h"
#include "language/formula_lex.h"
#include "language/formula_syntax.h"
#include "language/text.h"

namespace tarvo::frontend {

namespace {

size_t Offset(const Lexeme& l) { return static_cast<size_t>(l.column - 1); }

bool IsOp(const Lexeme& l, const char* op) { return l.kind == LexKind::Operator && l.text == op; }

bool IsLn(const Lexeme& l) {
  if (l.kind != LexKind::Identifier || l.text.size() != 2) return false;
  return std::tolower(static_cast<unsigned char>(l.text[0])) == 'l' &&
         std::tolower(static_cast<unsigned char>(l.text[1])) == 'n';
}

// "t = 3 (data.csv line 5)": an experiment's point in its own time and file.
std::string PointText(const Prepared& p, size_t j) {
  const DataPoint& pt = p.data.points[j];
  double time = pt.time;
  std::string file = p.data.path;
  for (const ExperimentSpan& x : p.experiments)
    if (static_cast<int>(j) >= x.first_point && static_cast<int>(j) < x.first_point + x.points) {
      time -= x.offset;
      file = x.data;
    }
  return "t = " + Num(time) + " (" + file + " line " + std::to_string(pt.line) + ")";
}

// The arguments of ln and the divisors, simulated as outputs of their own at the data points:
// a guard decided the output where an argument is not above 1e-130 or a divisor is (near) 0.
void OperandWarnings(const Prepared& p, const std::vector<double>& values, std::vector<bool>& said,
                     std::vector<std::string>& warnings) {
  struct Probe {
    size_t output;
    GuardedOperand operand;
  };
  std::vector<Probe> probes;
  for (size_t o = 0; o < p.model.outputs.size(); ++o) {
    std::vector<std::string> seen;
    for (GuardedOperand& g : GuardedOperands(p.model.outputs[o].formula.text)) {
      const std::string key = (g.logarithm ? "ln " : "/ ") + g.text;
      if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
      seen.push_back(key);
      probes.push_back({o, std::move(g)});
    }
  }
  for (size_t first = 0; first < probes.size(); first += kMaxOutputs) {
    const size_t n = std::min(probes.size() - first, static_cast<size_t>(kMaxOutputs));
    Prepared q = p;
    q.model.outputs.clear();
    for (size_t k = 0; k < n; ++k) {
      OutputDecl d = p.model.outputs[probes[first + k].output];
      d.name = "operand " + std::to_string(k + 1);
      d.formula.text = probes[first + k].operand.text;
      d.offset = 0;
      q.model.outputs.push_back(d);
    }
    for (DataPoint& pt : q.data.points) pt.values.assign(n, {});
    q.data.replicate_columns.assign(n, 0);
    std::vector<std::string> errors;
    std::vector<std::vector<double>> y;
    std::string message;
    if (TranslateModel(q.model, p.text.intervals, q.text, errors) != 0 ||
        SimulateAt(q, values, q.data.points, y, message) != 0)
      continue;  // nothing to tell: the outputs' own simulation reports its problems
    for (size_t k = 0; k < n; ++k) {
      const Probe& pr = probes[first + k];
      for (size_t j = 0; j < y.size() && j < p.data.points.size(); ++j) {
        if (p.data.points[j].line == 0) continue;  // a start point without data
        const double v = y[j][k];
        if (pr.operand.logarithm ? v > kTiny : std::fabs(v) > kTiny) continue;
        const std::string& text = pr.operand.text;
        const std::string at = PointText(p, j);
        warnings.push_back(
            Where(p.model, p.model.outputs[pr.output].formula) + ": " +
            (pr.operand.logarithm
                 ? "ln(" + text + ") at " + at + ": its argument is " + Num(v) +
                       ", so the library's logarithm clamp counts it as ln(1e-130), about "
                       "-299.3, and that decides the simulated value (ln is defined above 0 "
                       "only)"
                 : "the divisor " + text + " is " + Num(v) + " at " + at +
                       ", so the library's division guard counts the quotient as 1e130, "
                       "whatever is divided, and that decides the simulated value"));
        said[pr.output] = true;
        break;
      }
    }
  }
}

// Outputs at a guard's level: a division by 0 in a rate it depends on, or a clamp of its
// own formula that the operands did not show (a failed probe).
void LevelWarnings(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                   const std::vector<bool>& said, std::vector<std::string>& warnings) {
  for (size_t o = 0; o < p.model.outputs.size(); ++o) {
    if (said[o]) continue;
    for (size_t j = 0; j < ycalc.size() && j < p.data.points.size(); ++j) {
      if (o >= ycalc[j].size()) break;
      const double v = ycalc[j][o];
      const bool division = std::fabs(v) >= 1e129;
      const bool logarithm = std::fabs(v + 299.336) < 0.01;
      if (!division && !logarithm) continue;
      warnings.push_back(Where(p.model, p.model.outputs[o].formula) + ": the simulated value " +
                         Num(v) + " at " + PointText(p, j) + " comes from the library's " +
                         (division ? "division guard (a division by 0 counts as 1e130)"
                                   : "logarithm clamp (ln of 0 or below counts as ln(1e-130))") +
                         " in this formula or a rate it depends on");
      break;
    }
  }
}

// An output far beyond its data: a number that large makes every other effect vanish in the
// rounding of the sums, and the fit can then only report adjustables without effect.
void MagnitudeWarnings(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                       std::vector<std::string>& warnings) {
  constexpr double kOrders = 1e6;
  for (size_t o = 0; o < p.model.outputs.size(); ++o) {
    double measured = 0;
    for (const DataPoint& pt : p.data.points)
      for (double v : pt.values[o]) measured = std::max(measured, std::fabs(v + p.model.outputs[o].offset));
    if (!(measured > 0)) continue;
    size_t at = 0;
    double largest = 0;
    for (size_t j = 0; j < ycalc.size() && j < p.data.points.size(); ++j) {
      const double v = o < ycalc[j].size() ? std::fabs(ycalc[j][o]) : 0;
      if (std::isfinite(v) && v < 1e129 && v > largest) largest = v, at = j;  // 1e129: a guard
    }
    if (!(largest > kOrders * measured)) continue;
    warnings.push_back(
        Where(p.model, p.model.outputs[o].formula) + ": the simulated value " +
        Num(ycalc[at][o]) + " at " + PointText(p, at) + " is " + Num(largest / measured, 2) +
        " times the largest measured value (" + Num(measured) + "): next to it every other effect on the data "
        "vanishes in rounding, so a fit finds adjustables with no effect (singular equations). "
        "Likely causes: an exp() of a large argument, a division by a value near 0, or a start "
        "value far from a plausible one");
  }
}

}  // namespace

std::vector<GuardedOperand> GuardedOperands(const std::string& formula) {
  std::vector<Lexeme> lex;
  std::string why;
  if (Lex(formula, lex, why) != 0) return {};
  const size_t n = lex.size();
  // Index past the bracket that closes the one at open (n when it is never closed).
  auto closing = [&](size_t open) {
    int depth = 0;
    for (size_t k = open; k < n; ++k) {
      depth += lex[k].kind == LexKind::Open ? 1 : lex[k].kind == LexKind::Close ? -1 : 0;
      if (depth == 0) return k + 1;
    }
    return n;
  };
  // Index past the operand that starts at i (i when there is none).
  auto operand = [&](size_t i) {
    if (i >= n) return i;
    if (lex[i].kind == LexKind::Open) return closing(i);
    if (lex[i].kind == LexKind::Identifier && i + 1 < n && lex[i + 1].kind == LexKind::Open &&
        IsFunctionName(lex[i].text))
      return closing(i + 1);
    if (lex[i].kind == LexKind::Number || lex[i].kind == LexKind::Identifier) return i + 1;
    if ((IsOp(lex[i], "-") || IsOp(lex[i], "+")) && i + 1 < n && lex[i + 1].kind == LexKind::Number)
      return i + 2;
    return i;
  };
  auto text = [&](size_t b, size_t e) {
    const size_t from = Offset(lex[b]);
    return formula.substr(from, Offset(lex[e - 1]) + lex[e - 1].text.size() - from);
  };
  std::vector<GuardedOperand> out;
  for (size_t i = 0; i < n; ++i) {
    if (IsLn(lex[i]) && i + 1 < n && lex[i + 1].kind == LexKind::Open) {
      const size_t end = closing(i + 1);  // past the closing bracket
      if (end <= n && end >= i + 4 && lex[end - 1].kind == LexKind::Close)
        out.push_back({true, text(i + 2, end - 1)});
    } else if (IsOp(lex[i], "/")) {
      size_t end = operand(i + 1);
      if (end < n && IsOp(lex[end], "^")) end = std::max(end, operand(end + 1));
      if (end <= i + 1) continue;
      // A number other than 0 is no risk: the library divides by it as written.
      if (end == i + 2 && lex[i + 1].kind == LexKind::Number &&
          std::fabs(std::strtod(lex[i + 1].text.c_str(), nullptr)) > kTiny)
        continue;
      out.push_back({false, text(i + 1, end)});
    }
  }
  return out;
}

void GuardWarnings(const Prepared& p, const std::vector<double>& values,
                   const std::vector<std::vector<double>>& ycalc,
                   std::vector<std::string>& warnings) {
  std::vector<bool> said(p.model.outputs.size(), false);
  OperandWarnings(p, values, said, warnings);
  LevelWarnings(p, ycalc, said, warnings);
  MagnitudeWarnings(p, ycalc, warnings);
}

}  // namespace tarvo::frontend
