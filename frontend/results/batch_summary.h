// The summary of many fits, one row per fit: tarvo batch's summary.csv and the table of
// tarvo.batch.fit_many are this one table. The columns, after the caller's own (row and out,
// or task and name): model, data, outcome, converged, calls, ErreurCalc, aic, ssr (only when
// some row knows it), seconds, then per adjustable NAME, NAME.sd, NAME.se, NAME.lower,
// NAME.upper, NAME.lower_open, NAME.upper_open (adjustables in order of first appearance),
// message, warnings (joined by "; "), and the caller's trailing columns. A figure that does not exist is an empty cell;
// the information criteria and the residual sum of squares only of a converged fit.
#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "results/fit_result.h"

namespace tarvo::frontend {

struct SummaryAdjustable {
  std::string name;
  double value = NAN, sd = NAN, se = NAN, lower = NAN, upper = NAN;  // NaN: none
  std::optional<bool> lower_open, upper_open;                        // none without interval
};

struct SummaryRow {
  std::string model, data;
  std::string outcome = "not run";
  std::string message;
  bool converged = false;
  double seconds = NAN;
  std::optional<int> calls;
  double erreur_calc = NAN, aic = NAN;
  double ssr = NAN;  // the weighted residual sum of squares (residual_sums.h), when known
  std::vector<SummaryAdjustable> adjustables;
  std::vector<std::string> warnings;  // the model's and the fit's, a converged fit's too
};

// Why a fit did not converge, in a row: the library's text, or how it stopped.
std::string FitMessage(const std::string& outcome, const std::string& erreur_text, int calls);

// The row of a fit's result: outcome, message, calls, figures and adjustables (the figures
// fit.json gives them), the uncertainty's warnings after those already in row.warnings; ssr
// as residual_sums.h gives it. model, data and seconds are left.
void SummarizeFit(const FitResult& r, double ssr, SummaryRow& row);

using Cell = std::variant<std::monostate, bool, long long, double, std::string>;

struct SummaryTable {
  std::vector<std::string> columns;
  std::vector<std::vector<Cell>> rows;
};

// The table of rows, each preceded by its lead cells and followed by its trail cells (one
// vector per row, the columns named by lead_columns and trail_columns).
SummaryTable BuildSummary(const std::vector<std::string>& lead_columns,
                          const std::vector<std::vector<Cell>>& lead,
                          const std::vector<SummaryRow>& rows,
                          const std::vector<std::string>& trail_columns = {},
                          const std::vector<std::vector<Cell>>& trail = {});

// The table as CSV: numbers exact (shortest round trip), seconds to the millisecond,
// true/false, empty cells for none.
std::string SummaryCsv(const SummaryTable& t);

// The best of several fits: the converged one with the least weighted residual sum of
// squares (ties: the first); -1 when none converged.
int BestFit(const std::vector<bool>& converged, const std::vector<double>& ssr);

}  // namespace tarvo::frontend
