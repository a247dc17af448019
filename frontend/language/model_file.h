// The model file: one TOML file per model, written by hand, holding the settings, species,
// parameters, adjustables, outputs and rates of one kinetic model (README, "Writing a model
// file"). ReadModel parses and checks the file's structure; formula texts are kept as written
// (with the place they came from) for the name translation to check and convert later.
//
// In: a path. Out: a Model owning plain strings and numbers, or a message of the form
// "FILE:LINE:COLUMN: what is wrong" and status 2.
#pragma once

#include <string>
#include <vector>

namespace tarvo::frontend {

// One formula as the user wrote it, and where: label names it in messages
// ("rates B/A", "species A start, interval 2"); line and column locate the value in the
// model file (0 when unknown).
struct Formula {
  std::string text;
  std::string label;
  int line = 0;
  int column = 0;
};

struct SpeciesDecl {
  std::string name;
  std::vector<Formula> start;  // entry k-1 for interval k; later intervals continue the value
  int line = 0;
};

struct ParameterDecl {
  std::string name;
  std::vector<Formula> equation;  // entry k-1 for interval k; later intervals repeat the last
  int line = 0;
};

struct AdjustableDecl {
  std::string name;
  double value = 0;
  bool free = false;
  bool bound = false;  // has an equal_to expression
  Formula equal_to;
  // How a free value is fitted (transforms.h): scale "log" or "linear" (empty: as the
  // library fits it, relative steps that never cross zero), and bounds.
  std::string scale;
  bool has_min = false, has_max = false;
  double min = 0, max = 0;
  bool per_experiment = false;  // one copy per experiment (experiments.h)
  int line = 0;
};

struct OutputDecl {
  std::string name;
  Formula formula;
  double offset = 0;  // added to the data and to the formula before the library sees them
  int line = 0;
};

// The rate of one species in split form: a coefficient formula per species it multiplies,
// and a free term.
struct RateDecl {
  std::string species;
  std::vector<std::pair<std::string, Formula>> coefficients;
  bool has_free = false;
  Formula free_term;
  int line = 0;
};

// One reaction as written: "2 A + B -> C" or "A <=> B", with its rate (one formula, or two
// for a reversible pair: forward then reverse). A rate that is just the name of an adjustable
// or parameter is a mass-action constant; anything else is a rate law (reactions.h).
struct ReactionDecl {
  Formula equation;
  std::vector<Formula> rates;
  int line = 0;
};

// One experiment of a global fit: its own data file, and start formulas that replace the
// model's for the species it names (one, or a list per interval of the experiment).
struct ExperimentDecl {
  std::string name;
  std::string data;  // resolved against the model's folder
  std::vector<std::pair<std::string, std::vector<Formula>>> start;
  int line = 0;
};

struct Model {
  std::string path;  // as given on the command line
  std::string dir;   // folder of the model file; relative paths in it start here
  std::string method = "RUNGE-KUTTA QC";  // or "auto" (language/method_choice.h)
  int method_line = 0;
  double tolerance = 1e-6;
  double error_type = 0;
  double marquardt = 0.01;
  double precision = 1e-8;
  int max_calls = 50;
  double t0 = 0;  // time at which the interval-1 start formulas apply
  bool has_t0 = false;
  int t0_line = 0;
  bool sd_every_call = false;
  std::string data;  // data CSV, resolved against dir; empty when the file names none
  std::string title;
  bool log_y = false;
  std::string time_label = "time";
  std::vector<SpeciesDecl> species;
  std::vector<ParameterDecl> parameters;
  std::vector<AdjustableDecl> adjustables;
  std::vector<OutputDecl> outputs;
  std::vector<RateDecl> rates;  // hand-written [rates], then the terms of the reactions
  std::vector<ReactionDecl> reactions;
  std::vector<std::string> reaction_warnings;  // reaction terms [rates] already writes
  std::vector<ExperimentDecl> experiments;
  int intervals = 1;  // longest start / equation list; raised to the data's last interval
  std::vector<double> interval_times;  // start of intervals 2, 3, ... on a grid of one's own
};

// Sizes refused before the file reaches the TOML reader or the plot library.
inline constexpr size_t kMaxModelBytes = 1000000;
inline constexpr size_t kMaxModelLine = 20000;
inline constexpr int kMaxKeyDepth = 16;
inline constexpr size_t kMaxLabel = 200;  // [plot] title and time_label

// 0 and a filled model, or 2 and a message naming the file, line and column.
int ReadModel(const std::string& path, Model& model, std::string& message);

// The same from the text of a model file held in memory (a model handed over by the Python
// module); path names it in messages, and its folder is where relative paths start.
int ReadModelText(const std::string& content, const std::string& path, Model& model,
                  std::string& message);

// Empty, or why tol does not suit method: the range from engines/methods.h (kMethodFacts) and
// what goes wrong outside it. For "auto" (method_choice.h) the ranges of every method it may
// pick. An unknown method passes (the set-up reports it).
std::string ToleranceProblem(const std::string& method, double tol);

// Index of a declared adjustable by name, -1 when there is none.
int FindAdjustable(const Model& model, const std::string& name);

}  // namespace tarvo::frontend
