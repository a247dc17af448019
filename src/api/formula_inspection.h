// What a caller above the api may use of the formula pipeline to explain a formula rather
// than run it: the one path from host text to a compiled record (CompileFormula, with each
// stage's result), the cells a formula binds to, the coded notation and its constants, and
// what a compiled record reads (time, species). The front end's diagnosis, slot listing and
// formula limits go through these, so they read formulas exactly as set-up does.
#pragma once

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "Symbolic/compiler.h"
#include "Symbolic/formula_pipeline.h"
#include "Symbolic/notation.h"
#include "Symbolic/primitives.h"
#include "api/limits.h"
#include "api/text.h"
