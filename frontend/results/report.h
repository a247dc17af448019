// What the commands hand the user: the goodness-of-fit figures, the fit report table, the
// machine-readable fit.json (the report plus the per-call history) and points.csv (time,
// interval, measured mean and simulated value of each output at each point, then the
// residual of each replicate present, replicate minus simulated).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "language/prepare.h"
#include "language/text.h"
#include "results/fit_result.h"

namespace tarvo::frontend {


// Where the simulation started: "t0 = 0, before the first data point (t = 0.2)" or
// "the first data point, t = 0".
std::string StartText(const Prepared& p);

void PrintFigures(std::FILE* out, const Figures& f, double error_type);
void PrintFitReport(std::FILE* out, const Prepared& p, const FitResult& r);

// The whole report of a fit as the command prints it: the report table, then, for a model
// with experiments, one line per experiment (experiment_sums in the experiments' order), then
// the multi-start summary.
std::string FitReportText(const Prepared& p, const FitResult& r,
                          const std::vector<ResidualSums>& experiment_sums);

// The text of fit.json.
std::string FitJsonText(const Prepared& p, const FitResult& r);

// 0, or 2 and a message naming the file.
int WriteFitJson(const std::string& path, const Prepared& p, const FitResult& r,
                 std::string& message);
int WritePointsCsv(const std::string& path, const Prepared& p,
                   const std::vector<std::vector<double>>& ycalc, std::string& message);

}  // namespace tarvo::frontend
