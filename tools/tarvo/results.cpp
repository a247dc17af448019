#include "tarvo/results.h"

#include <cmath>
#include <filesystem>

#include "tarvo/plot.h"
#include "results/report.h"
#include "analysis/guard_warnings.h"
#include "analysis/simulate_at.h"
#include "session/work_budget.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

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

int WriteResults(const Prepared& p, const std::vector<double>& values,
                 const std::vector<std::vector<double>>& ycalc, const std::string& folder,
                 std::vector<std::string>& written, std::vector<std::string>& warnings,
                 std::string& message) {
  const std::string points = (fs::path(folder) / "points.csv").string();
  if (WritePointsCsv(points, p, ycalc, message) != 0) return 2;
  written.push_back(points);
  GuardWarnings(p, values, ycalc, warnings);
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

}  // namespace tarvo::cli
