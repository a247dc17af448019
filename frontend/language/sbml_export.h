// A model file (model_file.h) written as SBML Level 3 Version 2, at its values: adjustables
// become constant parameters (an equal_to their initial assignment), species amounts in one
// compartment of size 1, the whole rate of each species (split form, reactions included) a
// rate rule, outputs assignment rules, and the start formulas of later intervals events at the
// times of interval_times. Nothing is printed.
#pragma once

#include <string>
#include <vector>

#include "language/model_file.h"

namespace tarvo::frontend {

// 0 and the SBML text; 2 and the problems (a model libSBML would refuse, intervals without a
// time, experiments); each problem one sentence.
int ExportSbml(const Model& model, std::string& xml, std::vector<std::string>& problems);

// The errors libSBML's consistency checks find in an SBML text (empty when it validates).
std::vector<std::string> SbmlErrors(const std::string& xml);

}  // namespace tarvo::frontend
