#include "language/formula_limits.h"

#include "api/formula_inspection.h"

namespace tarvo::frontend {

std::string FormulaSizeProblem(const std::string& text) {
  if (text.size() > kMaxFormulaLength)
    return std::to_string(text.size()) + " characters, at most " +
           std::to_string(kMaxFormulaLength);
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '(') ++depth;
    if (text[i] == ')') --depth;
    if (depth > kMaxNesting)
      return "brackets nested more than " + std::to_string(kMaxNesting) +
             " deep (the library's limit) at column " + std::to_string(i + 1);
  }
  return "";
}

}  // namespace tarvo::frontend
