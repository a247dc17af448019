// Rate evaluation inside Step_rk4, three ways over the same steps:
//   (1) compiled formulas: the derivative formula table evaluated at every stage;
//   (2) hand-filled M and b: the same n x n block and free terms written by plain C++, then
//       the same Eval_rates (Mat_vec + b), which isolates what formula evaluation costs;
//   (3) a hand-written rate function: the floor no interpreter can beat.
// Models: a chain of 10 first-order reactions (coefficients -P1, P1, -P2, P2, ... on the
// diagonal and sub-diagonal, the rest empty) and a dense 30-species model with all 900
// coefficient slots filled. One iteration = 100 steps of 0.01 from the same start state, that
// is 400 rate evaluations; counters give rate evaluations per second, and the Ratios
// benchmarks time the ways interleaved and report (1)/(2) and (1)/(3).
#include <benchmark/benchmark.h>

#include <time.h>

#include <vector>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "engines/derivatives.h"
#include "engines/engine.h"
#include "engines/runge_kutta.h"

namespace {

using namespace tarvo;

// The benchmark's own model: value cells and the rate table compiled against them.
FormulaCells g_cells;
RateTable g_rates{&g_cells};

constexpr int kSteps = 100;
constexpr double kH = 0.01;
constexpr int kRatesPerIteration = 4 * kSteps;

compilptr OneSlot(Op op, const double* cell) {
  compilptr c = NewCompil();
  c->fonction[0] = op;
  c->donnee[0].cell = cell;
  c->stop = 1;
  return c;
}

compilptr TwoSlots(Op op0, const double* a, Op op1, const double* b) {
  compilptr c = OneSlot(op0, a);
  c->fonction[1] = op1;
  c->donnee[1].cell = b;
  c->stop = 2;
  return c;
}

void ClearTable() {
  for (compilptr& c : g_rates.formula) {
    Release(c);
    c = nullptr;
  }
}

// ---- Chain of 10 species: A1 -> A2 -> ... -> A10, rate constants P1..P9.
constexpr int kChain = 10;

void LoadChain() {
  ClearTable();
  for (int k = 0; k < kChain - 1; ++k) {
    g_cells.parameters[k] = 0.5 + 0.1 * k;
    const double* p = &g_cells.parameters[k];
    g_rates.formula[30 * k + k] = OneSlot(Op_FirstNeg, p);        // M_kk = -Pk
    g_rates.formula[30 * (k + 1) + k] = OneSlot(Op_First, p);     // M_k+1,k = Pk
  }
  Classify_rates(g_rates);
}

void ChainMatrix(SpeciesVector& b, SpeciesMatrix& M) {
  const double* p = g_cells.parameters;
  for (int i = 0; i < kChain; ++i) {
    b[i] = 0.0;
    for (int j = 0; j < kChain; ++j) M[30 * i + j] = 0.0;
  }
  for (int k = 0; k < kChain - 1; ++k) {
    M[30 * k + k] = -p[k];
    M[30 * (k + 1) + k] = p[k];
  }
}

void ChainRate(const SpeciesVector& y, SpeciesVector& f) {
  const double* p = g_cells.parameters;
  f[0] = -p[0] * y[0];
  for (int k = 1; k < kChain - 1; ++k) f[k] = p[k - 1] * y[k - 1] - p[k] * y[k];
  f[kChain - 1] = p[kChain - 2] * y[kChain - 2];
}

// ---- Dense 30 species: M_ii = -P1, M_ij = P2 * P3 (i != j), no free terms.
constexpr int kDense = 30;

void LoadDense() {
  ClearTable();
  g_cells.parameters[0] = 1.0;
  g_cells.parameters[1] = 0.02;
  g_cells.parameters[2] = 0.5;
  const double* p = g_cells.parameters;
  for (int i = 0; i < kDense; ++i)
    for (int j = 0; j < kDense; ++j)
      g_rates.formula[30 * i + j] =
          i == j ? OneSlot(Op_FirstNeg, &p[0]) : TwoSlots(Op_First, &p[1], Op_Mul, &p[2]);
  Classify_rates(g_rates);
}

void DenseMatrix(SpeciesVector& b, SpeciesMatrix& M) {
  const double* p = g_cells.parameters;
  for (int i = 0; i < kDense; ++i) {
    b[i] = 0.0;
    for (int j = 0; j < kDense; ++j) M[30 * i + j] = i == j ? -p[0] : p[1] * p[2];
  }
}

void DenseRate(const SpeciesVector& y, SpeciesVector& f) {
  const double* p = g_cells.parameters;
  const double off = p[1] * p[2];
  double total = 0.0;
  for (int j = 0; j < kDense; ++j) total += y[j];
  for (int i = 0; i < kDense; ++i) f[i] = -p[0] * y[i] + off * (total - y[i]);
}

SpeciesVector Start(int n) {
  SpeciesVector y{};
  for (int i = 0; i < n; ++i) y[i] = 1.0 / (1 + i);
  return y;
}

// ---- One iteration (100 steps) of each way.
double Compiled(int n) {
  SpeciesVector y = Start(n);
  Prepare_rates(g_rates, n);  // as an engine call does once
  for (int s = 0; s < kSteps; ++s) Step_rk4(g_rates, n, kH, s * kH, y);
  return y[n - 1];
}

template <class Fill>
double HandFilled(int n, Fill fill) {
  SpeciesVector y = Start(n), b;
  SpeciesMatrix M;
  for (int s = 0; s < kSteps; ++s)
    Step_rk4_with(n, kH, s * kH, y, [&](double, const SpeciesVector& z, SpeciesVector& f) {
      fill(b, M);
      Eval_rates(n, z, b, M, f);
    });
  return y[n - 1];
}

template <class RateFn>
double HandWritten(int n, RateFn rate) {
  SpeciesVector y = Start(n);
  for (int s = 0; s < kSteps; ++s)
    Step_rk4_with(n, kH, s * kH, y,
                  [&](double, const SpeciesVector& z, SpeciesVector& f) { rate(z, f); });
  return y[n - 1];
}

void Report(benchmark::State& state) {
  state.counters["rate_evals/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kRatesPerIteration, benchmark::Counter::kIsRate);
}

void BM_Chain_1_Compiled(benchmark::State& state) {
  LoadChain();
  for (auto _ : state) benchmark::DoNotOptimize(Compiled(kChain));
  Report(state);
  ClearTable();
}
void BM_Chain_2_HandFilled(benchmark::State& state) {
  LoadChain();
  for (auto _ : state) benchmark::DoNotOptimize(HandFilled(kChain, ChainMatrix));
  Report(state);
  ClearTable();
}
void BM_Chain_3_HandWritten(benchmark::State& state) {
  LoadChain();
  for (auto _ : state) benchmark::DoNotOptimize(HandWritten(kChain, ChainRate));
  Report(state);
  ClearTable();
}
void BM_Dense30_1_Compiled(benchmark::State& state) {
  LoadDense();
  for (auto _ : state) benchmark::DoNotOptimize(Compiled(kDense));
  Report(state);
  ClearTable();
}
void BM_Dense30_2_HandFilled(benchmark::State& state) {
  LoadDense();
  for (auto _ : state) benchmark::DoNotOptimize(HandFilled(kDense, DenseMatrix));
  Report(state);
  ClearTable();
}
void BM_Dense30_3_HandWritten(benchmark::State& state) {
  LoadDense();
  for (auto _ : state) benchmark::DoNotOptimize(HandWritten(kDense, DenseRate));
  Report(state);
  ClearTable();
}

// This thread's CPU time in seconds: the machine is shared, so wall time would count others.
double ThreadSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// The three ways timed in turn within each iteration, so that all see the same conditions.
template <class W1, class W2, class W3>
void Ratios(benchmark::State& state, W1 way1, W2 way2, W3 way3) {
  double t1 = 0, t2 = 0, t3 = 0;
  auto timed = [](auto way, double& total) {
    const double start = ThreadSeconds();
    benchmark::DoNotOptimize(way());
    total += ThreadSeconds() - start;
  };
  for (auto _ : state) {
    timed(way1, t1);
    timed(way2, t2);
    timed(way3, t3);
  }
  state.counters["(1)/(2)"] = t1 / t2;
  state.counters["(1)/(3)"] = t1 / t3;
}

void BM_Chain_Ratios(benchmark::State& state) {
  LoadChain();
  Ratios(
      state, [] { return Compiled(kChain); }, [] { return HandFilled(kChain, ChainMatrix); },
      [] { return HandWritten(kChain, ChainRate); });
  ClearTable();
}
void BM_Dense30_Ratios(benchmark::State& state) {
  LoadDense();
  Ratios(
      state, [] { return Compiled(kDense); }, [] { return HandFilled(kDense, DenseMatrix); },
      [] { return HandWritten(kDense, DenseRate); });
  ClearTable();
}

BENCHMARK(BM_Chain_1_Compiled);
BENCHMARK(BM_Chain_2_HandFilled);
BENCHMARK(BM_Chain_3_HandWritten);
BENCHMARK(BM_Chain_Ratios);
BENCHMARK(BM_Dense30_1_Compiled);
BENCHMARK(BM_Dense30_2_HandFilled);
BENCHMARK(BM_Dense30_3_HandWritten);
BENCHMARK(BM_Dense30_Ratios);

}  // namespace
