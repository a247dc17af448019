// The fitted values as the user declared them: a fit runs on the library's scale (hidden
// adjustables of the transforms, copies of per-experiment adjustables under internal names);
// these turn its result back into the model file's names and scales.
#pragma once

#include <vector>

#include "language/prepare.h"
#include "language/transforms.h"
#include "results/fit_result.h"

namespace tarvo::frontend {

// The report, uncertainty and profiles back on the user's scale: the user's adjustables free
// again with their SE, interval and profile, the hidden ones left out.
void ToUserScale(const std::vector<Transform>& ts, const std::vector<double>& values,
                 size_t declared, FitResult& r, std::vector<Profile>& profiles);

// The reports' names of the per-experiment copies ("base@run2" instead of the internal name).
void ShowExperimentNames(const Prepared& p, FitResult& r, std::vector<Profile>& profiles);

}  // namespace tarvo::frontend
