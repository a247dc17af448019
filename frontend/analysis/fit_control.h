// The fit control (language/fit_settings.h) applied over the model file's own settings:
// which adjustables are free (combined with the start values given), the method, tolerance
// and most fitting calls, and the number of starts of a multi-start fit and their seed. Each
// value is held to the same rules as the model file's key, and each problem is one message
// naming the setting and its value the control's way (FitControl::name).
#pragma once

#include <string>
#include <vector>

#include "language/fit_settings.h"
#include "language/prepare.h"

namespace tarvo::frontend {

// 0, or 2 with one message per problem added to errors.
// c's start_count and start_seed are filled from starts and seed.
int ApplyFitControl(FitControl& c, Prepared& p, std::vector<std::string>& errors);

}  // namespace tarvo::frontend
