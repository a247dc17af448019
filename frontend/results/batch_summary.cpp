#include "results/batch_summary.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "language/text.h"
#include "results/uncertainty_report.h"

namespace tarvo::frontend {

namespace {

Cell Number(double v) { return std::isfinite(v) ? Cell(v) : Cell(); }

Cell Flag(const std::optional<bool>& b) { return b ? Cell(*b) : Cell(); }

std::string Text(const Cell& c, bool milliseconds) {
  if (const auto* b = std::get_if<bool>(&c)) return *b ? "true" : "false";
  if (const auto* n = std::get_if<long long>(&c)) return std::to_string(*n);
  if (const auto* s = std::get_if<std::string>(&c)) return CsvField(*s);
  if (const auto* d = std::get_if<double>(&c)) {
    char b[40];
    if (milliseconds) {
      std::snprintf(b, sizeof b, "%.3f", *d);
      return b;
    }
    const auto r = std::to_chars(b, b + sizeof b, *d);
    return std::string(b, r.ptr);
  }
  return "";
}

}  // namespace

std::string FitMessage(const std::string& outcome, const std::string& erreur_text, int calls) {
  if (!erreur_text.empty() || outcome == "converged") return erreur_text;
  if (outcome == "not converged")
    return "not converged after " + std::to_string(calls) + " calls (max_calls)";
  return outcome;
}

void SummarizeFit(const FitResult& r, double ssr, SummaryRow& row) {
  row.outcome = r.outcome;
  row.converged = r.outcome == "converged";
  row.message = FitMessage(r.outcome, r.erreur_text, r.calls);
  row.calls = r.calls;
  row.erreur_calc = r.figures.erreur_calc;
  row.aic = r.uncertainty.criteria.aic;
  row.ssr = ssr;
  const Uncertainty& u = r.uncertainty;
  row.adjustables.clear();
  for (const AdjustableResult& a : r.adjustables) {
    SummaryAdjustable s;
    s.name = a.name;
    s.value = a.value;
    if (a.has_sd) s.sd = a.sd;
    for (size_t i = 0; i < u.names.size(); ++i) {
      if (u.names[i] != a.name) continue;
      if (u.available && i < u.se.size()) s.se = u.se[i];
      if (i < u.intervals.size() && u.intervals[i].computed) {
        const Interval& c = u.intervals[i];
        s.lower = c.lower;
        s.upper = c.upper;
        s.lower_open = c.lower_open;
        s.upper_open = c.upper_open;
      }
    }
    row.adjustables.push_back(s);
  }
  for (auto& w : UncertaintyWarnings(u)) row.warnings.push_back(std::move(w));
}

SummaryTable BuildSummary(const std::vector<std::string>& lead_columns,
                          const std::vector<std::vector<Cell>>& lead,
                          const std::vector<SummaryRow>& rows,
                          const std::vector<std::string>& trail_columns,
                          const std::vector<std::vector<Cell>>& trail) {
  std::vector<std::string> names;
  bool ssr = false;
  for (const SummaryRow& r : rows) {
    ssr = ssr || !std::isnan(r.ssr);
    for (const SummaryAdjustable& a : r.adjustables)
      if (std::find(names.begin(), names.end(), a.name) == names.end()) names.push_back(a.name);
  }
  SummaryTable t;
  t.columns = lead_columns;
  for (const char* c : {"model", "data", "outcome", "converged", "calls", "ErreurCalc", "aic"})
    t.columns.push_back(c);
  if (ssr) t.columns.push_back("ssr");
  t.columns.push_back("seconds");
  for (const auto& n : names)
    for (const char* s : {"", ".sd", ".se", ".lower", ".upper", ".lower_open", ".upper_open"})
      t.columns.push_back(n + s);
  t.columns.push_back("message");
  t.columns.push_back("warnings");
  t.columns.insert(t.columns.end(), trail_columns.begin(), trail_columns.end());

  for (size_t k = 0; k < rows.size(); ++k) {
    const SummaryRow& r = rows[k];
    std::vector<Cell> cells = k < lead.size() ? lead[k] : std::vector<Cell>(lead_columns.size());
    cells.resize(lead_columns.size());
    cells.insert(cells.end(), {r.model, r.data, r.outcome, r.converged});
    cells.push_back(r.calls ? Cell(static_cast<long long>(*r.calls)) : Cell());
    cells.push_back(Number(r.erreur_calc));
    cells.push_back(r.converged ? Number(r.aic) : Cell());
    if (ssr) cells.push_back(r.converged ? Number(r.ssr) : Cell());
    cells.push_back(Number(r.seconds));
    for (const auto& n : names) {
      const auto a = std::find_if(r.adjustables.begin(), r.adjustables.end(),
                                  [&n](const SummaryAdjustable& x) { return x.name == n; });
      if (a == r.adjustables.end()) {
        cells.resize(cells.size() + 7);
        continue;
      }
      for (double v : {a->value, a->sd, a->se, a->lower, a->upper}) cells.push_back(Number(v));
      cells.push_back(Flag(a->lower_open));
      cells.push_back(Flag(a->upper_open));
    }
    cells.push_back(r.message);
    std::string warnings;
    for (const auto& w : r.warnings) warnings += (warnings.empty() ? "" : "; ") + w;
    cells.push_back(warnings);
    std::vector<Cell> after = k < trail.size() ? trail[k] : std::vector<Cell>();
    after.resize(trail_columns.size());
    cells.insert(cells.end(), after.begin(), after.end());
    t.rows.push_back(std::move(cells));
  }
  return t;
}

std::string SummaryCsv(const SummaryTable& t) {
  std::string out;
  for (size_t c = 0; c < t.columns.size(); ++c) out += (c ? "," : "") + CsvField(t.columns[c]);
  out += '\n';
  for (const auto& row : t.rows) {
    for (size_t c = 0; c < row.size(); ++c)
      out += (c ? "," : "") + Text(row[c], t.columns[c] == "seconds");
    out += '\n';
  }
  return out;
}

int BestFit(const std::vector<bool>& converged, const std::vector<double>& ssr) {
  int best = -1;
  for (size_t k = 0; k < converged.size() && k < ssr.size(); ++k)
    if (converged[k] && !std::isnan(ssr[k]) && (best < 0 || ssr[k] < ssr[best]))
      best = static_cast<int>(k);
  return best;
}

}  // namespace tarvo::frontend
