// The common first stage of the commands: read the model file and its data CSV, apply
// --set overrides, settle the number of intervals and translate every formula. Each problem
// becomes one message naming the file and place; any problem makes the input bad (exit 2).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "language/data_csv.h"
#include "language/model_file.h"
#include "language/model_text.h"

namespace tarvo::frontend {

// Where one experiment of a global fit lies in the model handed to the library
// (experiments.h): its points, intervals and the shift from its own times to the model's.
struct ExperimentSpan {
  std::string name, data;
  int first_point = 0, points = 0;  // in Prepared::data, a start point at t0 included
  int lead = 0;                      // 1 when such a start point was put in front, else 0
  int first_interval = 1, intervals = 1;
  double offset = 0;  // model time = experiment time + offset
};

struct Prepared {
  Model model;
  Dataset data;
  TranslatedModel text;
  std::vector<double> values;  // start value of each adjustable, --set applied
  std::vector<bool> free;      // free flag of each adjustable
  std::vector<ExperimentSpan> experiments;  // empty for a model with one data file
  std::vector<int> copy_of;  // per adjustable: the one it copies for a later experiment, or -1
  std::map<std::string, std::string> shown_as;  // internal name -> name in reports
  // Why method = "auto" picked model.method (language/method_choice.h); empty when the
  // model named its method.
  std::string method_choice;
};

// sets: "name=value" overrides of adjustable values. 0, or 2 with errors filled. A method
// "auto" is replaced by the one it picks (method_choice.h).
int Prepare(const std::string& model_path, const std::vector<std::string>& sets, Prepared& p,
            std::vector<std::string>& errors);

// The same from a model already read; data, when given, stands in for the file the model
// names (refused for a model with [[experiments]], whose experiments name their own).
int PrepareModel(const Model& model, const std::vector<std::string>& sets, const Dataset* data,
                 Prepared& p, std::vector<std::string>& errors);

// The data and formulas of a model with [[experiments]], laid out as one model
// (experiments.h). 0, or 2 with errors filled.
int PrepareExperiments(Prepared& p, std::vector<std::string>& errors);

// The points handed to the library are those given, preceded by a point without data at the
// model's t0 when t0 comes before the first of them, so that the start formulas of interval 1
// apply at t0. LeadPoints tells how many are put in front (0 or 1).
int LeadPoints(const Model& model, const std::vector<DataPoint>& points);

// Problems of t0 against the data: a point before t0, negative times without t0, or more
// points than the library takes once the start point at t0 is put in front of the data.
void CheckStartTime(const Model& model, const Dataset& data, std::vector<std::string>& errors);

// Free adjustables whose start value is exactly 0 (the fit moves a value in proportion to
// itself, so such a value never moves): one message each.
void CheckFreeValues(const Prepared& p, std::vector<std::string>& errors);

// Exit status 2 after printing each error as "tarvo: error: ..." on stderr.
int ReportBadInput(const std::vector<std::string>& errors);

// Number of data points as read: the start points an experiment puts in front at t0 are none.
int DataPoints(const Prepared& p);

// Number of replicate values in the data.
int DataValues(const Dataset& data);

}  // namespace tarvo::frontend
