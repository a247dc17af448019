// tarvo compare MODEL MODEL... [--quiet]: fits each model to its own data and ranks them by
// AICc (then AIC and BIC beside it, with Akaike weights). When one model is another with
// some of its free adjustables fixed (same data, same adjustables in the same order, its free
// ones a strict subset of the other's), an F test says whether the extra adjustables are
// needed: F = ((SSR_small - SSR_big) / (p_big - p_small)) / (SSR_big / (n - p_big)).
// Exit status: 0 every fit converged, 1 some did not, 2 bad input.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "tarvo/command.h"
#include "analysis/residual_sums.h"
#include "analysis/distributions.h"
#include "analysis/refit.h"
#include "results/report.h"
#include "analysis/uncertainty.h"

namespace tarvo::frontend {

namespace {

struct CompareArgs {
  std::vector<std::string> models;
  bool quiet = false;
};

struct Candidate {
  Prepared p;
  int status = 0;  // of the fit: 0 converged, 1 not, 2 failed
  std::string message;
  ResidualSums sums;
  int free = 0;
  InformationCriteria criteria;
};

bool Nested(const Candidate& small, const Candidate& big) {
  const auto& a = small.p.model.adjustables;
  const auto& b = big.p.model.adjustables;
  if (small.p.model.data != big.p.model.data || a.size() != b.size()) return false;
  if (small.free >= big.free || small.sums.values != big.sums.values) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || (small.p.free[i] && !big.p.free[i])) return false;
  return true;
}

void PrintFTests(const std::vector<Candidate>& c) {
  for (const Candidate& s : c)
    for (const Candidate& b : c) {
      if (&s == &b || s.status == 2 || b.status == 2 || !Nested(s, b)) continue;
      const double d1 = b.free - s.free, d2 = b.sums.values - b.free;
      if (d2 <= 0) continue;
      const double f = std::max(0.0, ((s.sums.ssr - b.sums.ssr) / d1) / (b.sums.ssr / d2));
      const double pv = FUpperTail(f, d1, d2);
      std::printf("F test  %s within %s: F = %s on (%g, %g) dof, p = %s: %s\n",
                  s.p.model.path.c_str(), b.p.model.path.c_str(), Num(f, 4).c_str(), d1, d2,
                  Num(pv, 3).c_str(),
                  pv < 0.05 ? "the extra free adjustables improve the fit significantly"
                            : "the extra free adjustables are not needed");
    }
}

int RunCompare(const CompareArgs& args) {
  std::vector<Candidate> c(args.models.size());
  std::vector<std::string> errors;
  for (size_t i = 0; i < c.size(); ++i)
    if (Prepare(args.models[i], {}, c[i].p, errors) != 0) return ReportBadInput(errors);
  int worst = 0;
  for (Candidate& x : c) {
    for (bool f : x.p.free) x.free += f;
    Refit r;
    x.status = RefitFrom(x.p, x.p.values, x.p.free, r);
    x.message = r.message;
    if (x.status != 2) {
      x.sums = SumResiduals(x.p, r.ycalc);
      x.criteria = Criteria(x.sums, x.free);
    }
    worst = std::max(worst, x.status);
    if (!args.quiet)
      std::fprintf(stderr, "%s: %s after %d calls\n", x.p.model.path.c_str(),
                   x.status == 0 ? "converged" : x.status == 1 ? "NOT converged" : "FAILED",
                   r.calls);
  }
  std::vector<size_t> order(c.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  auto key = [&](size_t i) { return c[i].status == 2 ? INFINITY : c[i].criteria.aicc; };
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(a) < key(b); });
  const double best = key(order.front());
  double total = 0;
  for (size_t i : order)
    if (std::isfinite(key(i))) total += std::exp(-0.5 * (key(i) - best));
  std::printf("%-4s %-32s %5s %3s %13s %12s %12s %12s %9s %7s\n", "rank", "model", "n", "p",
              "SSR", "AIC", "AICc", "BIC", "dAICc", "weight");
  for (size_t r = 0; r < order.size(); ++r) {
    const Candidate& x = c[order[r]];
    if (x.status == 2) {
      std::printf("%-4s %-32s fit failed: %s\n", "-", x.p.model.path.c_str(), x.message.c_str());
      continue;
    }
    const double d = key(order[r]) - best;
    std::printf("%-4zu %-32s %5d %3d %13s %12s %12s %12s %9s %7s%s\n", r + 1,
                x.p.model.path.c_str(), x.sums.values, x.free, Num(x.sums.ssr).c_str(),
                Num(x.criteria.aic, 8).c_str(), Num(x.criteria.aicc, 8).c_str(),
                Num(x.criteria.bic, 8).c_str(), Num(d, 4).c_str(),
                Num(std::exp(-0.5 * d) / total, 3).c_str(),
                x.status == 1 ? "  (not converged)" : "");
  }
  PrintFTests(c);
  return worst == 0 ? 0 : 1;
}

void AddCompareCommand(CLI::App& app) {
  auto args = std::make_shared<CompareArgs>();
  CLI::App* cmd = app.add_subcommand(
      "compare", "Fit several model files to their data and rank them by AICc, with F tests "
                 "for nested ones");
  cmd->add_option("MODEL", args->models, "Model files (TOML)")->required()->expected(2, 50);
  cmd->add_flag("-q,--quiet", args->quiet, "No progress lines");
  SetStatusCallback(cmd, [args] { return RunCompare(*args); });
}

const Registration kRegistration{"compare", AddCompareCommand};

}  // namespace

}  // namespace tarvo::frontend
