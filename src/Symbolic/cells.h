// The value cells that compiled formulas read: species, parameter and adjustable values, the
// time variable, the function cell and the constant table. They are module-level storage
// shared by every formula of the loaded model; the compiler binds slot operands to their
// addresses, and the simulation driver and the engines write them.
//
// Index n (1-based in formula notation) lives in entry n-1.
#pragma once

#include <cstdint>

#include "Symbolic/limits.h"

namespace tarvo {

struct FormulaCells {
  double species[kMaxSpecies];
  double parameters[kMaxParameters];
  double adjustables[kMaxAdjustables];
  double time;
  double function_cell;  // result of the last power, ln or exp, consumed by the next slot
};

// Constant table: slots 1..count-1 are in use (slot n in value[n-1]).
struct ConstantTable {
  double value[kMaxConstants];
  int32_t count;
};

extern FormulaCells g_cells;
extern ConstantTable g_constants;

}  // namespace tarvo
