// The size a formula may have before any stage looks at its structure. The library's
// compiler refuses brackets nested deeper than kMaxNesting, and some stages of the simplifier
// take time quadratic in the length, so a formula beyond these limits is refused at once,
// with its length or depth, instead of being handed on.
#pragma once

#include <string>

namespace tarvo::frontend {

inline constexpr size_t kMaxFormulaLength = 10000;

// Empty when text is within the limits; else what is wrong ("12000 characters, at most ...",
// "brackets nested 300 deep at column 257, at most 256").
std::string FormulaSizeProblem(const std::string& text);

}  // namespace tarvo::frontend
