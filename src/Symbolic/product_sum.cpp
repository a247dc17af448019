#include "Symbolic/product_sum.h"

namespace tarvo {

namespace {

constexpr double kOne = 1.0;

}  // namespace

void LayOut(const compil* c, ProductSum& s) {
  s.source = nullptr;
  s.terms.clear();
  if (!c || c->stop < 1 || c->stop > kMaxSlots) return;
  for (int32_t k = 0; k < c->stop; ++k) {
    const Op op = c->fonction[k];
    const double* cell = c->donnee[k].cell;
    const bool opens = k == 0 ? op == Op_First || op == Op_FirstNeg : op == Op_Add || op == Op_Sub;
    if (opens) {
      s.terms.push_back({cell, &kOne, op == Op_FirstNeg || op == Op_Sub ? -1.0 : 1.0});
    } else if (op == Op_Mul && k > 0 && s.terms.back().second == &kOne) {
      s.terms.back().second = cell;
    } else {
      s.terms.clear();
      return;
    }
  }
  s.source = c;
}

}  // namespace tarvo
