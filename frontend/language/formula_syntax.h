// Checks the shape of a formula before it is translated: operands and operators alternate,
// brackets balance, functions are exp/ex/ln followed by a bracket. It also refuses the forms
// that the library would read differently from ordinary algebra, with a suggestion:
//   - a sign after an operator other than before a number (write k*(-x));
//   - a minus glued to a number raised to a power (the library reads -2^2 as (-2)^2);
//   - chained powers a^b^c (the library reads them as (a^b)^c).
// In: lexemes of formula_lex. Out: 0, or 2 and a message naming the column.
#pragma once

#include <string>
#include <vector>

#include "language/formula_lex.h"

namespace tarvo::frontend {

// True for the function names the front end accepts (exp, ex, ln in any letter case).
bool IsFunctionName(const std::string& identifier);

int CheckSyntax(const std::vector<Lexeme>& lexemes, std::string& message);

}  // namespace tarvo::frontend
