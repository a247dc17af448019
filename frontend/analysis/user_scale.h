// The fitted values as the user declared them: a fit runs on the library's scale (hidden
// adjustables of the transforms, copies of per-experiment adjustables under internal names);
// these turn its result back into the model file's names and scales.
#pragma once

#include <string>
#include <vector>

#include "language/prepare.h"
#include "language/transforms.h"
#include "results/fit_result.h"

namespace tarvo::frontend {

// The report, uncertainty and profiles back on the user's scale: the user's adjustables free
// again with their SE, interval and profile, the hidden ones left out.
void ToUserScale(const std::vector<Transform>& ts, const std::vector<double>& values,
                 size_t declared, FitResult& r, std::vector<Profile>& profiles);

// text with every internal name replaced by the user's: a transform's hidden NAME_fit by
// NAME, a per-experiment copy by "NAME@experiment", the hidden parameters NAME__now and
// T__offset by NAME and T.
std::string UserNames(const Prepared& p, const std::vector<Transform>& ts, const std::string& text);

// The reports' names of the per-experiment copies ("base@run2" instead of the internal name).
void ShowExperimentNames(const Prepared& p, FitResult& r, std::vector<Profile>& profiles);

}  // namespace tarvo::frontend
