// What the commands hand the user: the goodness-of-fit figures, the fit report table, the
// machine-readable fit.json (the report plus the per-call history) and points.csv (time,
// interval, measured mean and simulated value of each output at each point, then the
// residual of each replicate present, replicate minus simulated).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tarvo/prepare.h"
#include "tarvo/uncertainty.h"

namespace tarvo::tool {

struct Figures {
  double erreur_calc = 0;
  double erreur_exp = 0;
  double coeff = 0;
  int data_values = 0;
};

struct CallRecord {
  int call = 0;
  double erreur_calc = 0;
  double change = 0;   // sum over free adjustables of the squared relative change
  double seconds = 0;  // time of this call
  int erreur = 0;
  bool done = false;
  std::vector<double> values;
};

struct AdjustableResult {
  std::string name;
  double value = 0;
  double sd = 0;
  bool has_sd = false;
  std::string status;  // "free", "bound" or "fixed"
  std::string equal_to;
};

// One start of a multi-start fit: where it started and ended (declared adjustables, on the
// user's scale), how it ended and its weighted residual sum of squares.
struct StartRecord {
  int number = 0;
  std::string outcome;  // "converged", "not converged" or "failed: why"
  double ssr = 0;
  int calls = 0;
  bool reached_best = false;
  std::vector<std::pair<std::string, double>> start, end;
};

struct FitResult {
  std::string outcome;  // "converged", "not converged", "failed", "interrupted"
  int calls = 0;
  int max_calls = 0;
  int erreur = 0;
  std::string erreur_text;
  bool non_finite = false;  // stopped because a simulation left the finite numbers
  int free_count = 0;
  Figures figures;
  std::vector<AdjustableResult> adjustables;
  std::vector<CallRecord> history;
  Uncertainty uncertainty;  // residual-based figures, after convergence
  std::vector<StartRecord> starts;  // a multi-start fit's starts, the best one first chosen
  double starts_tolerance = 0;      // relative: a start within it of the best SSR reached it
};

std::string Num(double v, int digits = 6);

// Where the simulation started: "t0 = 0, before the first data point (t = 0.2)" or
// "the first data point, t = 0".
std::string StartText(const Prepared& p);

void PrintFigures(std::FILE* out, const Figures& f, double error_type);
void PrintFitReport(std::FILE* out, const Prepared& p, const FitResult& r);

// The text of fit.json.
std::string FitJsonText(const Prepared& p, const FitResult& r);

// 0, or 2 and a message naming the file.
int WriteFitJson(const std::string& path, const Prepared& p, const FitResult& r,
                 std::string& message);
int WritePointsCsv(const std::string& path, const Prepared& p,
                   const std::vector<std::vector<double>>& ycalc, std::string& message);

}  // namespace tarvo::tool
