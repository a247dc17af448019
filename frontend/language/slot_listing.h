// Readable account of formulas for the tarvo tool: the coded text with each constant token
// followed by its value, and a compiled slot program one slot a line, nested programs
// indented under the slot that calls them. Operands are named from the cell they read, among
// the cells the formulas were compiled against.
#pragma once

#include <string>

#include "api/formula_inspection.h"

namespace tarvo::frontend {

// Shortest text that reads back as the same double ("2", "0.0015", "inf", "nan").
std::string NumberText(double x);

// "+Ca*Fa" -> "+Ca[=2]*Fa" (UTF-8).
std::string CodedWithConstants(const FormulaCells& cells, const Text& coded);

// Slots 0..stop-1 of c, each line starting with indent spaces.
std::string SlotListing(const FormulaCells& cells, const compil& c, int indent);

}  // namespace tarvo::frontend
