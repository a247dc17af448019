// Sentences for the library's Erreur codes, formatted from the one table of outcome codes
// (api/outcome_codes.h) with what the front end knows besides: the method's name, the counts
// of data values and free adjustables, and the message of a refused set-up. Erreur is a sum
// after Calcul_initial (formula faults, 9 for an unknown method or one that cannot integrate
// the model, 1 for too few data, round thousands for a refused model) and a single status
// after Simulation (the last engine call) or Ajustement (engine or linear solver).
#pragma once

#include <string>
#include <vector>

namespace tarvo::frontend {

// Whether the library's method table holds exactly this name.
bool KnownMethod(const std::string& method);
// The table's names, each in double quotes, separated by ", ".
std::string MethodNames();

// What the front end knows about the model when it reads a set-up's Erreur.
struct SetupFacts {
  std::string method;
  int data_values = 0;   // replicate values in the data
  int free_count = 0;    // free adjustables
  std::string refusal;   // message of a Refused failure of the set-up, if any
};

// One sentence per part of the sum; the part left over after the known causes is the
// formula faults, reported as such.
std::vector<std::string> SetupErreurText(int erreur, const SetupFacts& facts,
                                         int* formula_faults = nullptr);

std::string SimulationErreurText(int erreur, const std::string& method);
std::string FitErreurText(int erreur, const std::string& method, int free_count);

}  // namespace tarvo::frontend
