// Evaluate on straight-line programs of 1, 8 and 64 slots, reported as time per slot.
// The arithmetic programs mix the four operators as compiled rate formulas do; the "mixed"
// programs add a power, an exponential and a nested call to every eight slots.
#include <benchmark/benchmark.h>

#include <vector>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"

namespace {

using tarvo::compil;
using tarvo::compilptr;

// Operand values near 1, so that long programs stay finite and away from the guards.
double values[8] = {1.0001, 0.9998, 1.0003, 1.0002, 0.9995, 1.0004, 0.9997, 1.0001};

void Set(compilptr p, int i, tarvo::Op op, const double* cell) {
  p->fonction[i] = op;
  p->donnee[i].cell = cell;
}

// First a, then + * / - ... cycling over the operands.
compilptr Arithmetic(int slots) {
  static const tarvo::Op cycle[] = {tarvo::Op_Mul, tarvo::Op_Add, tarvo::Op_Div,
                                    tarvo::Op_Sub, tarvo::Op_Mul, tarvo::Op_Add,
                                    tarvo::Op_Mul};
  compilptr p = tarvo::NewCompil();
  Set(p, 0, tarvo::Op_First, &values[0]);
  for (int i = 1; i < slots; ++i) Set(p, i, cycle[(i - 1) % 7], &values[i % 8]);
  p->stop = slots;
  return p;
}

// Blocks of eight slots: a*b^h - exp(e + f)/c, the group (e + f) a nested call.
compilptr Mixed(int slots, std::vector<compilptr>& nested) {
  compilptr p = tarvo::NewCompil();
  int i = 0;
  while (i + 8 <= slots) {
    compilptr group = tarvo::NewCompil();
    Set(group, 0, tarvo::Op_First, &values[4]);
    Set(group, 1, tarvo::Op_Add, &values[5]);
    group->stop = 2;
    nested.push_back(group);
    Set(p, i, i == 0 ? tarvo::Op_First : tarvo::Op_Add, &values[0]);
    Set(p, i + 1, tarvo::Op_Load, &values[1]);
    Set(p, i + 2, tarvo::Op_Pow, &values[7]);  // exponent 1.0001: the exp/ln branch
    Set(p, i + 3, tarvo::Op_Mul, &p->function_value);
    p->fonction[i + 4] = tarvo::Op_Call;
    p->donnee[i + 4].call = group;
    Set(p, i + 5, tarvo::Op_Exp, &group->result);
    Set(p, i + 6, tarvo::Op_Sub, &p->function_value);
    Set(p, i + 7, tarvo::Op_Div, &values[2]);
    i += 8;
  }
  p->stop = i;
  return p;
}

void Report(benchmark::State& state, int slots) {
  // An inverted rate: CPU seconds per slot, printed with its unit ("1.5ns").
  state.counters["time_per_slot"] =
      benchmark::Counter(static_cast<double>(slots) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Evaluate(benchmark::State& state) {
  const int slots = static_cast<int>(state.range(0));
  compilptr p = Arithmetic(slots);
  for (auto _ : state) benchmark::DoNotOptimize(tarvo::Evaluate(p));
  Report(state, slots);
  tarvo::Release(p);
}
BENCHMARK(BM_Evaluate)->Arg(1)->Arg(8)->Arg(64);

void BM_EvaluateMixed(benchmark::State& state) {
  const int slots = static_cast<int>(state.range(0));
  std::vector<compilptr> nested;
  compilptr p = Mixed(slots, nested);
  // Nested group slots run too: count them.
  const int executed = p->stop + 2 * static_cast<int>(nested.size());
  for (auto _ : state) benchmark::DoNotOptimize(tarvo::Evaluate(p));
  Report(state, executed);
  tarvo::Release(p);  // frees the nested groups with it
}
BENCHMARK(BM_EvaluateMixed)->Arg(8)->Arg(64);

}  // namespace
