#include "tarvo/results.h"

#include <cmath>
#include <filesystem>

#include "tarvo/plot.h"
#include "tarvo/report.h"
#include "tarvo/simulate_at.h"
#include "tarvo/work_budget.h"

namespace tarvo::tool {

namespace fs = std::filesystem;

std::string OutputFolder(const Model& model, const std::string& option) {
  if (!option.empty()) return option;
  const fs::path path(model.path);
  return (path.parent_path() / (path.stem().string() + "-results")).string();
}

int MakeOutputFolder(const std::string& folder, std::string& message) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder)) {
    message = "cannot create the output folder '" + folder + "'" +
              (ec ? ": " + ec.message() : std::string());
    return 2;
  }
  return 0;
}

namespace {

// The library's division guard makes x/0 worth 1e130 (or more, once multiplied), and its
// logarithm clamp makes ln(0) worth ln(1e-130), about -299.3: an output at such a level was
// decided by a guard, not by the model. The first point of each output so decided is named.
void GuardWarnings(const Prepared& p, const std::vector<std::vector<double>>& ycalc,
                   std::vector<std::string>& warnings) {
  for (size_t o = 0; o < p.model.outputs.size(); ++o)
    for (size_t j = 0; j < ycalc.size() && j < p.data.points.size(); ++j) {
      const double v = ycalc[j][o];
      const bool division = std::fabs(v) >= 1e129;
      const bool logarithm = std::fabs(v + 299.336) < 0.01;
      if (!division && !logarithm) continue;
      warnings.push_back(Where(p.model, p.model.outputs[o].formula) + ": the simulated value " +
                         Num(v) + " at t = " + Num(p.data.points[j].time) + " (" + p.data.path +
                         " line " + std::to_string(p.data.points[j].line) + ") comes from the "
                         "library's " + (division ? "division guard (a division by 0 counts as "
                         "1e130)" : "logarithm clamp (ln of 0 or below counts as ln(1e-130))") +
                         " in this formula or a rate it depends on");
      break;
    }
}

}  // namespace

int DenseCurve(const Prepared& p, const std::vector<double>& values,
               std::vector<DataPoint>& grid, std::vector<std::vector<double>>& curve,
               std::string& message) {
  // A fixed-step method's work grows with the number of grid points: fewer when needed.
  const int outputs = static_cast<int>(p.model.outputs.size());
  grid = DenseGrid(p.data, outputs, 600, p.model.t0);
  const double work = FixedStepWork(p, grid);
  if (work > kMaxFormulaEvaluations)
    grid = DenseGrid(p.data, outputs, static_cast<int>(600 * kMaxFormulaEvaluations / work),
                     p.model.t0);
  curve.clear();
  if (SimulateAt(p, values, grid, curve, message) == 0) return 0;
  curve.clear();
  return 2;
}

int WriteResults(const Prepared& p, const std::vector<double>& values,
                 const std::vector<std::vector<double>>& ycalc, const std::string& folder,
                 std::vector<std::string>& written, std::vector<std::string>& warnings,
                 std::string& message) {
  const std::string points = (fs::path(folder) / "points.csv").string();
  if (WritePointsCsv(points, p, ycalc, message) != 0) return 2;
  written.push_back(points);
  GuardWarnings(p, ycalc, warnings);
  std::vector<DataPoint> grid;
  std::vector<std::vector<double>> curve;
  std::string why;
  if (DenseCurve(p, values, grid, curve, why) != 0)
    warnings.push_back("the plot has no curve: its simulation on a dense time grid failed: " + why);
  const PlotData data = BuildPlotData(p, ycalc, grid, curve);
  if (DrawPlot(data, (fs::path(folder) / "plot").string(), written, why) != 0)
    warnings.push_back("no plot: " + why);
  return 0;
}

}  // namespace tarvo::tool
