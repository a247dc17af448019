#include "language/slot_listing.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "api/formula_inspection.h"
#include "api/limits.h"
#include "api/text.h"

namespace tarvo::frontend {

namespace {

const char* OpName(Op op) {
  static const char* const kNames[] = {"Op_Load", "Op_First", "Op_FirstNeg", "Op_Add",
                                       "Op_Sub",  "Op_Mul",   "Op_Div",      "Op_Pow",
                                       "Op_Ln",   "Op_Exp",   "Op_Call"};
  return op < Op_Count ? kNames[op] : "Op_?";
}

bool IsKindLetter(char16_t c) {
  return c == u'A' || c == u'C' || c == u'F' || c == u'P' || c == u'Q' || c == u'T';
}

// Which cell a slot reads, by its address.
std::string CellName(const FormulaCells& cells, const compil& c, const double* cell) {
  auto within = [cell](const double* first, int n) { return cell >= first && cell < first + n; };
  if (within(cells.species, kMaxSpecies))
    return "F" + std::to_string(cell - cells.species + 1);
  if (within(cells.parameters, kMaxParameters))
    return "P" + std::to_string(cell - cells.parameters + 1);
  if (within(cells.adjustables, kMaxAdjustables))
    return "A" + std::to_string(cell - cells.adjustables + 1);
  if (within(cells.constants.value, kMaxConstants)) {
    const int n = static_cast<int>(cell - cells.constants.value) + 1;
    return ToUtf8(Text{u'C', IndexChar(n)}) + " = " + NumberText(*cell);
  }
  if (cell == &cells.time) return "T";
  if (cell == &c.function_value) return "function cell";
  for (int32_t i = 0; i < c.stop && i < kMaxSlots; ++i) {
    if (c.fonction[i] == Op_Call && c.donnee[i].call && cell == &c.donnee[i].call->result)
      return "result of slot " + std::to_string(i);
  }
  return "(unbound)";
}

}  // namespace

std::string NumberText(double x) {
  if (std::isnan(x)) return "nan";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, x);
  return std::string(buffer, result.ptr);
}

std::string CodedWithConstants(const FormulaCells& cells, const Text& coded) {
  // Runs of text are converted whole, so that a surrogate pair stays one character.
  std::string out;
  size_t run = 0;
  for (size_t i = 0; i + 1 < coded.size(); ++i) {
    const int n = IndexOf(coded[i + 1]);
    if (coded[i] == u'C' && n >= 1 && n <= kMaxConstants) {
      out += ToUtf8(std::u16string_view(coded).substr(run, i + 2 - run));
      out += "[=" + NumberText(cells.constants.value[n - 1]) + "]";
      run = i + 2;
    }
    if (IsKindLetter(coded[i])) ++i;  // the index character is no kind letter
  }
  out += ToUtf8(std::u16string_view(coded).substr(std::min(run, coded.size())));
  return out;
}

std::string SlotListing(const FormulaCells& cells, const compil& c, int indent) {
  std::string out;
  const std::string pad(static_cast<size_t>(indent), ' ');
  for (int32_t i = 0; i < c.stop && i < kMaxSlots; ++i) {
    char head[48];
    std::snprintf(head, sizeof head, "%3d  %-12s ", static_cast<int>(i), OpName(c.fonction[i]));
    out += pad + head;
    if (c.fonction[i] == Op_Call) {
      const compil* nested = c.donnee[i].call;
      out += nested ? "nested program, " + std::to_string(nested->stop) + " slot(s)\n"
                    : "(none)\n";
      if (nested) out += SlotListing(cells, *nested, indent + 6);
    } else {
      out += CellName(cells, c, c.donnee[i].cell) + "\n";
    }
  }
  return out;
}

}  // namespace tarvo::frontend
