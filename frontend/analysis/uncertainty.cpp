#include "analysis/uncertainty.h"

#include <atomic>
#include <cmath>

#include "analysis/distributions.h"
#include "analysis/parallel.h"
#include "analysis/residual_sums.h"
#include "language/text.h"
#include "analysis/simulate_at.h"

namespace tarvo::frontend {

namespace {

using Matrix = std::vector<std::vector<double>>;

// One (point, output) pair that takes part in the fit.
struct Row {
  size_t point = 0, output = 0;
  double weight = 0;  // NRep * w
};

std::vector<Row> FittedRows(const Prepared& p, const std::vector<std::vector<double>>& ycalc) {
  std::vector<Row> rows;
  for (size_t j = 0; j < p.data.points.size() && j < ycalc.size(); ++j)
    for (size_t o = 0; o < p.data.points[j].values.size() && o < ycalc[j].size(); ++o) {
      double mean = 0;
      if (!MeanOf(p.data.points[j], static_cast<int>(o), mean)) continue;
      const double w = LibraryWeight(mean, ycalc[j][o], p.model.outputs[o].offset,
                                     p.model.error_type);
      if (w > 0 && std::isfinite(w))
        rows.push_back({j, o, w * static_cast<double>(p.data.points[j].values[o].size())});
    }
  return rows;
}

// The simulated outputs on both sides of a difference, kept from column to column of a lane
// (a network's 1,000 points are 2,000 rows to allocate again otherwise).
struct Sides {
  std::vector<std::vector<double>> up, down;
};

// Central difference of the simulated outputs at the fitted rows for a step h of adjustable a.
int Column(GridSimulator& sim, std::vector<double> values, int a, double h,
           const std::vector<Row>& rows, Sides& sides, std::vector<double>& col,
           std::string& message) {
  std::vector<std::vector<double>>& up = sides.up;
  std::vector<std::vector<double>>& down = sides.down;
  const double v = values[a];
  values[a] = v + h;
  if (sim.At(values, up, message) != 0) return 2;
  values[a] = v - h;
  if (sim.At(values, down, message) != 0) return 2;
  col.resize(rows.size());
  for (size_t r = 0; r < rows.size(); ++r)
    col[r] = (up[rows[r].point][rows[r].output] - down[rows[r].point][rows[r].output]) / (2 * h);
  return 0;
}

double RelativeDifference(const std::vector<double>& x, const std::vector<double>& y) {
  double d = 0, n = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    d += (x[i] - y[i]) * (x[i] - y[i]);
    n += y[i] * y[i];
  }
  return n > 0 ? std::sqrt(d / n) : (d > 0 ? INFINITY : 0);
}

// Two neighbouring steps whose columns agree this closely (relative) settle the column: the
// third step could only change it at that level, far below what an SE is quoted to.
constexpr double kSettled = 1e-4;

// The column of adjustable a: of the three relative steps, the larger of the neighbouring
// pair that agree best (a larger step is less sensitive to the integration's own error); the
// smallest step is taken only when the two larger ones do not settle the column.
int StableColumn(GridSimulator& sim, const std::vector<double>& best, int a,
                 const std::vector<Row>& rows, Sides& sides, std::vector<double>& col,
                 double& disagreement, std::string& message) {
  const double scale = best[a] != 0 ? std::fabs(best[a]) : 1e-3;
  const double steps[] = {1e-3, 1e-4, 1e-5};
  std::vector<double> cols[3];
  for (int i = 0; i < 2; ++i)
    if (Column(sim, best, a, steps[i] * scale, rows, sides, cols[i], message) != 0) return 2;
  const double d01 = RelativeDifference(cols[0], cols[1]);
  if (d01 <= kSettled) {
    disagreement = d01;
    col = cols[0];
    return 0;
  }
  if (Column(sim, best, a, steps[2] * scale, rows, sides, cols[2], message) != 0) return 2;
  const double d12 = RelativeDifference(cols[1], cols[2]);
  const int pick = d01 <= d12 ? 0 : 1;
  disagreement = std::min(d01, d12);
  col = cols[pick];
  return 0;
}

}  // namespace

InformationCriteria Criteria(const ResidualSums& sums, int p) {
  InformationCriteria c;
  const double n = sums.values, k = p + 1;
  if (n <= 0 || !(sums.ssr > 0)) return {NAN, NAN, NAN};
  const double minus2logl = n * (std::log(2 * M_PI * sums.ssr / n) + 1) - sums.log_weights;
  c.aic = minus2logl + 2 * k;
  c.aicc = n - k - 1 > 0 ? c.aic + 2 * k * (k + 1) / (n - k - 1) : NAN;
  c.bic = minus2logl + k * std::log(n);
  return c;
}

LackOfFit LackOfFitTest(const ResidualSums& sums, int p) {
  LackOfFit l;
  l.dof_lack = sums.pairs - p;
  l.dof_pure = sums.values - sums.pairs;
  if (l.dof_lack <= 0 || l.dof_pure <= 0 || !(sums.pure_error > 0)) return l;
  const double lack = std::max(0.0, sums.ssr - sums.pure_error);
  l.f = (lack / l.dof_lack) / (sums.pure_error / l.dof_pure);
  l.p_value = FUpperTail(l.f, l.dof_lack, l.dof_pure);
  l.available = true;
  return l;
}

bool InvertScaled(const Matrix& a, Matrix& inv) {
  const size_t n = a.size();
  std::vector<double> d(n);
  for (size_t i = 0; i < n; ++i) {
    if (!(a[i][i] > 0)) return false;
    d[i] = std::sqrt(a[i][i]);
  }
  // Gauss-Jordan with partial pivoting on [S | I], S = D^-1 A D^-1 (unit diagonal).
  Matrix m(n, std::vector<double>(2 * n, 0));
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) m[i][j] = a[i][j] / (d[i] * d[j]);
    m[i][n + i] = 1;
  }
  for (size_t c = 0; c < n; ++c) {
    size_t piv = c;
    for (size_t r = c + 1; r < n; ++r)
      if (std::fabs(m[r][c]) > std::fabs(m[piv][c])) piv = r;
    if (!(std::fabs(m[piv][c]) > 1e-13)) return false;
    std::swap(m[c], m[piv]);
    const double f = m[c][c];
    for (double& x : m[c]) x /= f;
    for (size_t r = 0; r < n; ++r)
      if (r != c && m[r][c] != 0) {
        const double g = m[r][c];
        for (size_t k = 0; k < 2 * n; ++k) m[r][k] -= g * m[c][k];
      }
  }
  inv.assign(n, std::vector<double>(n));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) inv[i][j] = m[i][n + j] / (d[i] * d[j]);
  return true;
}

Uncertainty AssessUncertainty(const Prepared& p, const std::vector<double>& best,
                              const std::vector<std::vector<double>>& ycalc,
                              double walk_seconds, Session* loaded) {
  Uncertainty u;
  for (size_t a = 0; a < p.free.size(); ++a)
    if (p.free[a] && !p.model.adjustables[a].bound) {
      u.free_index.push_back(static_cast<int>(a));
      u.names.push_back(p.model.adjustables[a].name);
      u.values.push_back(best[a]);
    }
  const int np = static_cast<int>(u.free_index.size());
  u.sums = SumResiduals(p, ycalc);
  u.dof = u.sums.values - np;
  u.criteria = Criteria(u.sums, np);
  u.lack_of_fit = LackOfFitTest(u.sums, np);
  if (u.dof <= 0) {
    u.why_not = "no degrees of freedom left: " + std::to_string(u.sums.values) +
                " weighted values for " + std::to_string(np) + " free adjustables";
    return u;
  }
  u.s2 = u.sums.ssr / u.dof;
  const std::vector<Row> rows = FittedRows(p, ycalc);
  // The columns in lanes side by side, each lane one model set up once for all its columns
  // (each column's simulations are the same whichever lane runs them). Read in order, so the
  // first failure is the one the plain loop would meet (the columns after it go unused).
  std::vector<std::vector<double>> cols(np);
  std::vector<double> disagreements(np, 0);
  std::vector<std::string> messages(np);
  std::vector<int> status(np, 0);
  // A column costs four or six simulations; a lane beside the caller's costs a thread and a
  // set-up on it (about half a millisecond), worth it only beyond a few milliseconds of work.
  // The fit's own model has lanes that need no set-up (one per thread of its fit): those walk
  // the outputs alone, and any lane beyond them sets up a model of its own.
  constexpr double kWorthSharingSeconds = 2e-3;
  const int walkable = loaded ? SessionLanes(*loaded) : 0;
  const int lanes =
      walkable > 1 || 4 * np * walk_seconds > kWorthSharingSeconds ? TaskThreads(np) : 1;
  // Each lane takes the next column not yet taken: a column that needs its third step takes
  // half as long again as one that does not, and fixed shares left a lane idle.
  std::atomic<int> next{0};
  RunTasks(lanes, [&](int lane) {
    GridSimulator sim(p, p.data.points, lane < walkable ? loaded : nullptr,
                      lane < walkable ? lane : -1);
    Sides sides;
    for (int i = next++; i < np; i = next++)
      status[i] = StableColumn(sim, best, u.free_index[i], rows, sides, cols[i],
                               disagreements[i], messages[i]);
  });
  for (int i = 0; i < np; ++i) {
    const double disagreement = disagreements[i];
    if (status[i] != 0) {
      u.why_not = "a simulation near the fitted values failed: " + messages[i];
      return u;
    }
    if (disagreement > 1e-2)
      u.notes.push_back("the derivatives with respect to " + u.names[i] +
                        " change with the difference step by " + Num(100 * disagreement, 2) +
                        " %: its SE is approximate (tighten tolerance)");
  }
  Matrix a(np, std::vector<double>(np, 0));
  for (size_t r = 0; r < rows.size(); ++r)
    for (int i = 0; i < np; ++i)
      for (int j = 0; j < np; ++j) a[i][j] += rows[r].weight * cols[i][r] * cols[j][r];
  Matrix inv;
  if (!InvertScaled(a, inv)) {
    // Singular: a tiny ridge keeps the directions that the data do fix and shows the rest as
    // huge errors and correlations of +-1.
    for (int i = 0; i < np; ++i) a[i][i] *= 1 + 1e-10;
    bool ok = true;
    for (int i = 0; i < np; ++i) ok = ok && a[i][i] > 0;
    if (!ok || !InvertScaled(a, inv)) {
      u.why_not = "the simulated outputs do not depend on every free adjustable";
      for (int i = 0; i < np; ++i)
        if (!(a[i][i] > 0)) u.why_not += " (not on " + u.names[i] + ")";
      return u;
    }
    u.notes.push_back("J^T W J is singular: the data fix fewer combinations of the free "
                      "adjustables than there are adjustables");
  }
  u.covariance.assign(np, std::vector<double>(np));
  u.correlation.assign(np, std::vector<double>(np));
  u.se.resize(np);
  for (int i = 0; i < np; ++i)
    for (int j = 0; j < np; ++j) u.covariance[i][j] = u.s2 * inv[i][j];
  for (int i = 0; i < np; ++i) u.se[i] = std::sqrt(u.covariance[i][i]);
  for (int i = 0; i < np; ++i)
    for (int j = 0; j < np; ++j)
      u.correlation[i][j] = i == j ? 1 : u.covariance[i][j] / (u.se[i] * u.se[j]);
  u.available = true;
  return u;
}

}  // namespace tarvo::frontend
