// The files a simulation or fit leaves in its output folder: points.csv and the plot (whose
// curve comes from a separate simulation on a dense time grid), and the folder itself.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

// The folder given with -o, or MODEL-results next to the model file.
std::string OutputFolder(const Model& model, const std::string& option);

// Creates the folder (and its parents). 0, or 2 and a message.
int MakeOutputFolder(const std::string& folder, std::string& message);

// points.csv, then the dense curve at values and the plot (plot.svg, plot.png). Files written
// go to written; a curve or plot that could not be made is a warning, not a failure.
// 0, or 2 and a message when points.csv cannot be written.
int WriteResults(const Prepared& p, const std::vector<double>& values,
                 const std::vector<std::vector<double>>& ycalc, const std::string& folder,
                 std::vector<std::string>& written, std::vector<std::string>& warnings,
                 std::string& message);

}  // namespace tarvo::cli
