// Fit control given on the command line, over the model file's own settings: which
// adjustables are free (--free NAME, --fix NAME, any number of each, combined with --set) and
// the method, tolerance and most fitting calls (--method, --tolerance, --max-calls), and the
// number of starts of a multi-start fit and their seed (--starts, --seed). Each
// value is held to the same rules as the model file's key, and each problem is one message
// naming the option and its value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "language/prepare.h"

namespace tarvo::frontend {

struct FitControl {
  std::vector<std::string> free;
  std::vector<std::string> fix;
  std::string method;     // empty: the file's
  std::string tolerance;  // as typed; empty: the file's
  std::string max_calls;  // as typed; empty: the file's
  std::string starts;     // as typed; empty: one start
  std::string seed;       // as typed; empty: 1
  int start_count = 1;    // read from starts
  uint64_t start_seed = 1;
};

// 0, or 2 with one message per problem added to errors.
// c's start_count and start_seed are filled from what was typed.
int ApplyFitControl(FitControl& c, Prepared& p, std::vector<std::string>& errors);

}  // namespace tarvo::frontend
