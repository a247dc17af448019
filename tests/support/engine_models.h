// Hand-built compiled formulas and rate models for the engine tests. A DerivativeModel owns
// its value cells, a rate table bound to them and the formulas it builds; it releases its
// formulas when it goes. The table is classified again whenever a slot is filled, so the
// engines can run it as it stands; a test that calls a step routine directly asks for
// Prepared(n) first.
#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <vector>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "engines/derivatives.h"
#include "engines/engine.h"

namespace tarvo::testing {

// One slot: an operation and its operand (a value cell, or a nested formula for Op_Call).
struct Slot {
  Op op;
  const double* cell = nullptr;
  compil* call = nullptr;
};

inline compilptr BuildFormula(std::initializer_list<Slot> slots) {
  compilptr c = NewCompil();
  for (const Slot& s : slots) {
    c->fonction[c->stop] = s.op;
    if (s.op == Op_Call)
      c->donnee[c->stop].call = s.call;
    else
      c->donnee[c->stop].cell = s.cell;
    ++c->stop;
  }
  return c;
}

class DerivativeModel {
 public:
  DerivativeModel() = default;
  ~DerivativeModel() {
    for (compilptr c : owned_) Release(c);
  }
  DerivativeModel(const DerivativeModel&) = delete;
  DerivativeModel& operator=(const DerivativeModel&) = delete;

  FormulaCells cells;
  RateTable rates{&cells};

  const double* Species(int i) const { return &cells.species[i - 1]; }
  const double* Time() const { return &cells.time; }

  // The table with its fixed formulas evaluated for species 1..n, for the step routines.
  RateTable& Prepared(int32_t n) {
    Prepare_rates(rates, n);
    return rates;
  }

  // A cell holding v whose address stays valid while the model lives.
  const double* Constant(double v) { return &constants_.emplace_back(v); }

  // A top-level formula owned by the model.
  compilptr Formula(std::initializer_list<Slot> slots) {
    owned_.push_back(BuildFormula(slots));
    return owned_.back();
  }

  // M_ij := c and b_i := c (1-based species).
  void Coefficient(int i, int j, compilptr c) { Fill(30 * (i - 1) + (j - 1), c); }
  void FreeTerm(int i, compilptr c) { Fill(900 + (i - 1), c); }

  // M_ij := the constant v.
  void Coefficient(int i, int j, double v) { Coefficient(i, j, Formula({{Op_First, Constant(v)}})); }

  // M_ij := v, and each evaluation of it adds 1 to the returned counter (the result field of a
  // nested formula that reads its own result and adds 1). The counter also loads the time
  // without using it, so that the table evaluates it at every stage as it does any formula of
  // the time or the species.
  const double* CountedCoefficient(int i, int j, double v) {
    compilptr counter = BuildFormula({});
    counter->fonction[0] = Op_Load;
    counter->donnee[0].cell = Time();
    counter->fonction[1] = Op_First;
    counter->donnee[1].cell = &counter->result;
    counter->fonction[2] = Op_Add;
    counter->donnee[2].cell = Constant(1.0);
    counter->stop = 3;
    Coefficient(i, j, Formula({{Op_Call, nullptr, counter}, {Op_First, Constant(v)}}));
    return &counter->result;
  }

  // M_ij := v, and the returned cell holds the time of its last evaluation.
  const double* TimedCoefficient(int i, int j, double v) {
    compilptr clock = BuildFormula({{Op_First, Time()}});
    Coefficient(i, j, Formula({{Op_Call, nullptr, clock}, {Op_First, Constant(v)}}));
    return &clock->result;
  }

 private:
  void Fill(int slot, compilptr c) {
    rates.formula[slot] = c;
    Classify_rates(rates);
  }
  std::vector<compilptr> owned_;
  std::deque<double> constants_;
};

// A two-species model whose coefficients depend on the state and the time, so that every
// stage of a step sees different rates: f1 = -F2 F1 + T F2 + 0.3, f2 = 0.7 F1 - 1.3 F1 F2.
inline void BuildCoupledModel(DerivativeModel& m) {
  m.Coefficient(1, 1, m.Formula({{Op_FirstNeg, m.Species(2)}}));
  m.Coefficient(1, 2, m.Formula({{Op_First, m.Time()}}));
  m.FreeTerm(1, m.Formula({{Op_First, m.Constant(0.3)}}));
  m.Coefficient(2, 1, 0.7);
  m.Coefficient(2, 2, m.Formula({{Op_First, m.Constant(-1.3)}, {Op_Mul, m.Species(1)}}));
}

// The rate at (t, y) of the model, species 1..n, every formula evaluated afresh.
inline SpeciesVector RateAt(DerivativeModel& m, int32_t n, double t, const SpeciesVector& y) {
  SpeciesVector b{}, f{};
  SpeciesMatrix M{};
  Eval_rate_at(m.rates, n, t, y, b, M, f);
  return f;
}

// Runs an engine on the model with distinct input and output vectors; returns the output.
inline SpeciesVector RunEngine(DerivativeModel& m, Engine_proc engine, int32_t n, double t0,
                               double t1, double tol, const SpeciesVector& y_in,
                               int16_t& status) {
  SpeciesVector y_out{};
  engine(m.rates, n, t0, t1, tol, y_in.data(), y_out.data(), status);
  return y_out;
}

}  // namespace tarvo::testing
