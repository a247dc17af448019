// Simplify on coded formulas of about 2,000 characters: a long sum of rate-law terms (with
// groups to unwrap, constants to fold, repeated factors to merge and factors of 1), and a
// chain of nested groups, the driver's worst shape since every level is simplified again at
// every cycle of the levels above it. Set-up simplifies each formula once, so the figure to
// watch is one call, which must stay well under a second.
#include <benchmark/benchmark.h>

#include <string>

#include "Symbolic/primitives.h"
#include "Symbolic/simplify.h"
#include "Symbolic/tokenizer.h"

namespace {

tarvo::ConstantTable g_constants;

tarvo::Text Coded(const std::string& host) {
  tarvo::Text text(host.begin(), host.end());
  int16_t error = 0;
  tarvo::Tokenize(text, error, g_constants);
  return text;
}

// Terms such as P3*EX(-P4/(8.314*T))*F3*F4/(1+P5*F4)*(2*F3/F3^2)*1 until the text is long
// enough.
std::string RateSum(size_t length) {
  std::string host;
  for (int k = 0; host.size() < length; ++k) {
    const std::string a = std::to_string(1 + k % 30), b = std::to_string(1 + (k + 7) % 30);
    const std::string p = std::to_string(1 + k % 50), q = std::to_string(1 + (k + 3) % 50);
    if (!host.empty()) host += k % 3 ? "+" : "-";
    host += "P" + p + "*EX(-P" + q + "/(8.314*T))*F" + a + "*F" + b + "/(1+P" + q + "*F" +
            b + ")*(2*F" + a + "/F" + a + "^2)*1";
  }
  return host;
}

// (F1+(F2*(F3+(F4*(... ))))) nested until the text is long enough.
std::string NestedGroups(size_t length) {
  std::string open, close;
  for (int k = 0; open.size() + close.size() < length; ++k) {
    open += "F" + std::to_string(1 + k % 30) + (k % 2 ? "*(" : "+(");
    close += ")";
  }
  return open + "P1" + close;
}

void Run(benchmark::State& state, const std::string& host) {
  tarvo::ResetConstants(g_constants);
  const tarvo::Text coded = Coded(host);
  size_t simplified_length = 0;
  for (auto _ : state) {
    tarvo::Text text = coded;
    tarvo::Simplify(text, g_constants);
    simplified_length = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["chars_in"] = static_cast<double>(coded.size());
  state.counters["chars_out"] = static_cast<double>(simplified_length);
}

void BM_SimplifyRateSum(benchmark::State& state) { Run(state, RateSum(2000)); }
void BM_SimplifyNestedGroups(benchmark::State& state) { Run(state, NestedGroups(2000)); }

BENCHMARK(BM_SimplifyRateSum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimplifyNestedGroups)->Unit(benchmark::kMillisecond);

}  // namespace
