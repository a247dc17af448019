// The common first stage of the commands: read the model file and its data CSV, apply
// --set overrides, settle the number of intervals and translate every formula. Each problem
// becomes one message naming the file and place; any problem makes the input bad (exit 2).
#pragma once

#include <string>
#include <vector>

#include "tarvo/data_csv.h"
#include "tarvo/model_file.h"
#include "tarvo/model_text.h"

namespace tarvo::tool {

struct Prepared {
  Model model;
  Dataset data;
  TranslatedModel text;
  std::vector<double> values;  // start value of each adjustable, --set applied
  std::vector<bool> free;      // free flag of each adjustable
};

// sets: "name=value" overrides of adjustable values. 0, or 2 with errors filled.
int Prepare(const std::string& model_path, const std::vector<std::string>& sets, Prepared& p,
            std::vector<std::string>& errors);

// Exit status 2 after printing each error as "tarvo: error: ..." on stderr.
int ReportBadInput(const std::vector<std::string>& errors);

// Number of replicate values in the data.
int DataValues(const Dataset& data);

}  // namespace tarvo::tool
