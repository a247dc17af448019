#include "library/statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "Symbolic/compil.h"
#include "Symbolic/limits.h"
#include "library/state.h"

// Every sum runs over outputs (outer) and points (inner), and replicates innermost, so that
// it accumulates in a fixed order and the figures are reproducible to the last bit; the
// records themselves are read and written point by point, once per simulation.
// The counts are those of the loaded model; set-up has checked them against the tables.

namespace tarvo {

namespace {

int Outputs(EngineState& st) { return st.initials.NSorties; }
int PointsCount(EngineState& st) { return st.initials.NPoints; }

// Replicates of a pair, never more than the table holds (set-up refuses larger counts).
int Reps(const PointRecord& p, int o) {
  const int n = p.NRep[o];
  return n < 0 ? 0 : (n > kMaxReplicates ? kMaxReplicates : n);
}

}  // namespace

double PairWeight(double mean, double calc, double type_erreur) {
  if (!(mean > kTiny && calc > kTiny)) return 0.0;
  if (type_erreur == 0.0) return 1.0;
  // The relative error model's Power(x, -1) is 1 * x inverted: 1 / x, without the call.
  if (type_erreur == 2.0) return 1.0 / (mean * calc);
  return Power(mean * calc, -0.5 * type_erreur);
}

namespace {

// The replicates' variance about their mean (two replicates or more).
double ReplicateVariance(const PointRecord& p, int o, int nrep) {
  double s = 0.0;
  for (int k = 0; k < nrep; ++k) {
    const double d = p.YMean[o] - p.YExp[o][k];
    s = s + d * d;
  }
  return s / (nrep - 1);
}

size_t PairCount(EngineState& st) {
  return static_cast<size_t>(std::max(Outputs(st), 0)) * static_cast<size_t>(std::max(PointsCount(st), 0));
}

void MakeDataTerms(EngineState& st, const PointTable& table, DataTerms& d) {
  const size_t pairs = PairCount(st);
  d.pairs.assign(pairs, PairTerms{});
  d.replicates.clear();
  for (int o = 0; o < Outputs(st); ++o) {
    for (int j = 0; j < PointsCount(st); ++j) {
      const PointRecord& p = table.Points[j];
      PairTerms& t = d.pairs[static_cast<size_t>(o) * static_cast<size_t>(PointsCount(st)) +
                             static_cast<size_t>(j)];
      t.mean = p.YMean[o];
      if (t.mean > kTiny) t.log_mean = std::log(t.mean);
      t.has_data = p.NRep[o] > 0;
      t.reps = Reps(p, o);
      t.first = static_cast<int32_t>(d.replicates.size() / 2);
      for (int k = 0; k < t.reps; ++k) {
        const double dev = t.mean - p.YExp[o][k];
        d.replicates.push_back(p.YExp[o][k]);
        d.replicates.push_back(dev * dev);
      }
      if (t.reps > 1) {
        t.variance = ReplicateVariance(p, o, t.reps);
        if (t.variance > kTiny) t.log_variance = std::log(t.variance);
      }
    }
  }
  d.calc.assign(pairs, 0.0);
  d.weight.assign(pairs, 0.0);
}

// One pass over the records, each read once: the weights and variances written back, the
// simulated values and weights gathered pair by pair.
void WeighRecords(EngineState& st, PointTable& table, double type_erreur, DataTerms& d) {
  const size_t points = static_cast<size_t>(PointsCount(st));
  for (size_t j = 0; j < points; ++j) {
    if (j + kRecordsAhead < points && Outputs(st) > 0) {
      const PointRecord& next = table.Points[j + kRecordsAhead];
      __builtin_prefetch(&next.YCalc[0], 0);
      __builtin_prefetch(&next.Weight[0], 1);
      __builtin_prefetch(&next.Variance[0], 1);
    }
    PointRecord& p = table.Points[j];
    for (int o = 0; o < Outputs(st); ++o) {
      const size_t at = static_cast<size_t>(o) * points + j;
      const PairTerms& t = d.pairs[at];
      const double calc = p.YCalc[o];
      const double weight = t.has_data ? PairWeight(t.mean, calc, type_erreur) : 0.0;
      p.Weight[o] = weight;
      // A pair without a usable mean keeps its earlier Variance; no reader looks at it.
      if (t.mean > kTiny) p.Variance[o] = t.reps > 1 ? t.variance : (t.mean - calc) * (t.mean - calc);
      d.calc[at] = calc;
      d.weight[at] = weight;
    }
  }
}

}  // namespace

void PrepareDataTerms(EngineState& st, const PointTable& table) { MakeDataTerms(st, table, st.data); }

SimulationFigures Statistics(EngineState& st, PointTable& table, double type_erreur) {
  DataTerms local;
  DataTerms& d = &table == st.points && st.data.pairs.size() == PairCount(st) ? st.data : local;
  if (&d == &local) MakeDataTerms(st, table, local);
  WeighRecords(st, table, type_erreur, d);
  // 40 outputs x 1000 points can exceed a 16-bit count: the count is 32-bit.
  int32_t n = 0;
  double sl = 0.0, sm = 0.0, s_exp = 0.0, s_calc = 0.0, w = 0.0;
  for (size_t at = 0; at < d.pairs.size(); ++at) {
    const PairTerms& t = d.pairs[at];
    const double calc = d.calc[at], weight = d.weight[at];
    if (t.mean > kTiny) {
      const double variance = t.reps > 1 ? t.variance : (t.mean - calc) * (t.mean - calc);
      if (variance > kTiny) {
        sl = sl + (t.reps > 1 ? t.log_variance : std::log(variance));
        sm = sm + t.log_mean;
        n = n + 1;
      }
    }
    const double* r = d.replicates.data() + 2 * static_cast<size_t>(t.first);
    for (int k = 0; k < t.reps; ++k) {
      const double dev = calc - r[2 * k];
      s_exp = s_exp + r[2 * k + 1] * weight;
      s_calc = s_calc + dev * dev * weight;
      w = w + weight;
    }
  }
  SimulationFigures f;
  f.coeff = n > 0 ? std::exp((sl - type_erreur * sm) / n) : 1.0;
  f.erreur_exp = w > kTiny ? s_exp / w : 0.0;
  f.erreur_calc = w > kTiny ? s_calc / w : 0.0;
  return f;
}

}  // namespace tarvo
