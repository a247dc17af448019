// The value cells that compiled formulas read: species, parameter and adjustable values, the
// time variable and the constant table. Each engine instance owns one FormulaCells; the
// compiler binds slot operands to the addresses of the cells it is given, and the simulation
// driver and the engines write them. Formulas compiled against one FormulaCells never read
// another's, so instances are independent.
//
// Index n (1-based in formula notation) lives in entry n-1.
#pragma once

#include <cstdint>

#include "Symbolic/limits.h"

namespace tarvo {

// Constant table: slots 1..count-1 are in use (slot n in value[n-1]).
struct ConstantTable {
  double value[kMaxConstants] = {};
  int32_t count = 1;
};

struct FormulaCells {
  double species[kMaxSpecies] = {};
  double parameters[kMaxParameters] = {};
  double adjustables[kMaxAdjustables] = {};
  double time = 0.0;
  ConstantTable constants;
};

}  // namespace tarvo
