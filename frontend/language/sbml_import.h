// SBML (Level 2 and 3, read by libSBML) translated into a model file (model_file.h).
//
// What is translated, and how:
// - compartments (constant size) and global parameters become adjustables at their values
//   (never free), local parameters adjustables named REACTION_PARAMETER so that they cannot
//   clash; an initial assignment to one becomes its equal_to;
// - species become species in the unit their symbol reads in SBML math: the concentration,
//   or the amount with hasOnlySubstanceUnits. A reaction's rate (amount per time) is divided
//   by the compartment's size for a species held as a concentration. Boundary and constant
//   species get no rate;
// - function definitions are expanded (libSBML's converter) and assignment rules inlined into
//   every formula that reads their variable; each rule's variable is also an output (without
//   rules, every species is an output);
// - rate rules give the rate of a species, or of a parameter, which then becomes a species;
//   so does a parameter that an event assigns;
// - reactions become [[reactions]] blocks when their counts are whole and the species they
//   change share one unit, otherwise the terms of [rates];
// - events without delay whose trigger is the time (time >= t, gt(time, t), ...) open an
//   interval at that time (interval_times), their assignments its start formulas.
// Names the model language reserves (T, exp, ln, A1, F2, P3, ...) are renamed; the file says
// so in a comment, and every block opens with a comment naming the SBML element:
//   # SBML species 'S1' ("glucose")
// Anything else (algebraic rules, delays, fast reactions, non-constant compartments, events on
// species, packages, math the model language lacks, sizes beyond the library's limits) is
// refused with one diagnostic naming the construct and the element's id. Nothing is printed.
#pragma once

#include <string>
#include <vector>

namespace tarvo::frontend {

// Why a document was refused: the construct, the SBML id of the element holding it (empty when
// it has none) and its line in the file (0 when unknown).
struct SbmlDiagnostic {
  std::string construct;  // "algebraic rule", "event", "unreadable SBML", ...
  std::string id;
  std::string reason;  // the whole sentence
  int line = 0;
};

struct SbmlImport {
  std::string toml;                // the model file
  std::vector<std::string> notes;  // renamings and inlinings, one sentence each
  int species = 0, adjustables = 0, outputs = 0, intervals = 1, reactions = 0;
};

// 0 and the model file, or 2 and the diagnostic (the file unreadable, invalid or refused).
int ImportSbmlFile(const std::string& path, SbmlImport& out, SbmlDiagnostic& why);
int ImportSbmlText(const std::string& xml, SbmlImport& out, SbmlDiagnostic& why);

// "FILE:LINE: <reason>" (or "FILE: <reason>" without a line).
std::string DiagnosticText(const std::string& file, const SbmlDiagnostic& why);

}  // namespace tarvo::frontend
