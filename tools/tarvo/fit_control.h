// Fit control given on the command line, over the model file's own settings: which
// adjustables are free (--free NAME, --fix NAME, any number of each, combined with --set) and
// the method, tolerance and most fitting calls (--method, --tolerance, --max-calls). Each
// value is held to the same rules as the model file's key, and each problem is one message
// naming the option and its value.
#pragma once

#include <string>
#include <vector>

#include "tarvo/prepare.h"

namespace tarvo::tool {

struct FitControl {
  std::vector<std::string> free;
  std::vector<std::string> fix;
  std::string method;     // empty: the file's
  std::string tolerance;  // as typed; empty: the file's
  std::string max_calls;  // as typed; empty: the file's
};

// 0, or 2 with one message per problem added to errors.
int ApplyFitControl(const FitControl& c, Prepared& p, std::vector<std::string>& errors);

}  // namespace tarvo::tool
