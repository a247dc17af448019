#include <algorithm>
#include <new>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"

namespace tarvo {

namespace {

// Where the copy's slot reads what the original's slot reads at cell: the same entry of to's
// cells, the copy's own function value, the copy's nested record's result, or (a constant of
// the compiler's, never written) the very same address.
const double* Rebound(const compil* src, const compil* copy, int32_t stop, const double* cell,
                      const FormulaCells& from, FormulaCells& to) {
  const auto* begin = reinterpret_cast<const unsigned char*>(&from);
  const auto* at = reinterpret_cast<const unsigned char*>(cell);
  if (at >= begin && at < begin + sizeof(FormulaCells))
    return reinterpret_cast<const double*>(reinterpret_cast<unsigned char*>(&to) + (at - begin));
  if (cell == &src->function_value) return &copy->function_value;
  for (int32_t i = 0; i < stop; ++i)
    if (src->fonction[i] == Op_Call && src->donnee[i].call && cell == &src->donnee[i].call->result)
      return &copy->donnee[i].call->result;
  return cell;
}

}  // namespace

compilptr CloneCompil(const compil* src, const FormulaCells& from, FormulaCells& to) {
  if (!src) return nullptr;
  compilptr copy = NewCompil();
  if (!copy) throw std::bad_alloc();
  *copy = *src;
  const int32_t stop = std::clamp<int32_t>(src->stop, 0, kMaxSlots);
  // No slot of the copy may own the original's nested records, not even for a moment: Release
  // of a half-made copy frees what the copy holds.
  for (int32_t i = 0; i < kMaxSlots; ++i)
    if (copy->fonction[i] == Op_Call) copy->donnee[i].call = nullptr;
  try {
    for (int32_t i = 0; i < stop; ++i)
      if (src->fonction[i] == Op_Call) copy->donnee[i].call = CloneCompil(src->donnee[i].call, from, to);
  } catch (...) {
    Release(copy);
    throw;
  }
  for (int32_t i = 0; i < stop; ++i)
    if (src->fonction[i] != Op_Call)
      copy->donnee[i].cell = Rebound(src, copy, stop, src->donnee[i].cell, from, to);
  return copy;
}

}  // namespace tarvo
