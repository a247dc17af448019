// Fuzz target: the formula pipeline on arbitrary text, as set-up runs it. The first line of
// the input is a formula in host notation; line n + 1 (n = 1..50), when not empty, is the
// EqualTo expression of adjustable n, so a formula that names An inlines it. Every text is
// tokenized and simplified; while nothing has failed each is compiled (the bindings first,
// each checked for references to its own adjustable), and the formula is then evaluated
// whatever its fault count, which a faulty record must survive; when it is laid out for
// differentiation, also with its species derivatives, whose value must be Evaluate's bit for
// bit. The raised failures of the formula stages (a negative base to a fractional power) are
// expected outcomes; any other exception, a differing value, a sanitizer report or a hang is
// a finding.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Symbolic/cells.h"
#include "Symbolic/compiler.h"
#include "Symbolic/gradient.h"
#include "Symbolic/primitives.h"
#include "Symbolic/simplify.h"
#include "Symbolic/tokenizer.h"
#include "fuzz_input.h"
#include "platform/failure.h"
#include "platform/variant.h"

namespace tarvo::fuzz {
namespace {

// Distinct, mostly non-integral values, so that powers and quotients take their real paths.
void FillCells(FormulaCells& cells) {
  for (int i = 0; i < kMaxSpecies; ++i) cells.species[i] = 0.5 + 0.25 * i;
  for (int i = 0; i < kMaxParameters; ++i) cells.parameters[i] = 1.5 - 0.125 * i;
  for (int i = 0; i < kMaxAdjustables; ++i) cells.adjustables[i] = 0.75 * (i + 1);
  cells.time = 2.5;
}

struct Bindings {
  Text coded[kMaxAdjustables];
  compilptr equation[kMaxAdjustables] = {};
  InlineTable table{};
  Bindings() {
    for (int a = 0; a < kMaxAdjustables; ++a) {
      table.text[a] = &coded[a];
      table.equation[a] = &equation[a];
    }
  }
  ~Bindings() {
    for (compilptr c : equation) Release(c);
  }
};

// Tokenize and simplify in place; false when a constant fold raised.
bool Convert(Text& text, int32_t& errors, ConstantTable& constants) {
  int16_t e = 0;
  Tokenize(text, e, constants);
  errors += e;
  try {
    Simplify(text, constants);
  } catch (const Failure&) {
    return false;
  }
  return true;
}

void Run(const std::vector<std::string>& lines) {
  FormulaCells cells;  // every formula of the input reads these; they outlive the records
  ResetConstants(cells.constants);
  FillCells(cells);
  int32_t errors = 0;
  Bindings b;
  for (int a = 0; a < kMaxAdjustables && a + 1 < static_cast<int>(lines.size()); ++a) {
    const std::string& host = lines[static_cast<size_t>(a) + 1];
    if (host.empty()) continue;
    b.coded[a] = FromUtf8(host);
    b.equation[a] = NewCompil();
    if (!Convert(b.coded[a], errors, cells.constants)) ++errors;
  }
  for (int a = 0; a < kMaxAdjustables && errors == 0; ++a) {
    if (!b.equation[a]) continue;
    int16_t faults = 0;
    Compile(cells, b.coded[a], b.equation[a], faults, &b.table);
    errors += faults;
    if (b.equation[a]) errors += CountRefs(&cells.adjustables[a], b.equation[a]);
  }
  Text formula = FromUtf8(lines[0]);
  if (!Convert(formula, errors, cells.constants) || errors != 0) return;
  compilptr target = NewCompil();
  int16_t faults = 0;
  Compile(cells, formula, target, faults, &b.table);
  try {
    for (int a = 0; a < kMaxAdjustables; ++a)
      if (b.equation[a]) cells.adjustables[a] = Evaluate(b.equation[a]);
    const double value = Evaluate(target);
    if (Differentiable(target)) {
      double gradient[kMaxSpecies];
      const double with = EvaluateGradient(target, cells, kMaxSpecies, gradient);
      const bool same = std::memcmp(&with, &value, sizeof value) == 0;
      if (!same && !(std::isnan(with) && std::isnan(value))) std::abort();
    }
  } catch (const Failure&) {
  }
  Release(target);
}

}  // namespace
}  // namespace tarvo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tarvo::fuzz::Run(tarvo::fuzz::Lines(data, size));
  return 0;
}
