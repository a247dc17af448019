#include "library/statistics.h"

#include <cmath>
#include <cstdint>

#include "Symbolic/compil.h"
#include "Symbolic/limits.h"
#include "library/state.h"

// Every loop runs over outputs (outer) and points (inner), and replicates innermost, so that
// the sums accumulate in a fixed order and the figures are reproducible to the last bit.
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
  return type_erreur == 0.0 ? 1.0 : Power(mean * calc, -0.5 * type_erreur);
}

void Weights(EngineState& st, PointTable& table, double type_erreur) {
  for (int o = 0; o < Outputs(st); ++o) {
    for (int j = 0; j < PointsCount(st); ++j) {
      PointRecord& p = table.Points[j];
      const double mean = p.YMean[o];
      const double calc = p.YCalc[o];
      p.Weight[o] = p.NRep[o] > 0 ? PairWeight(mean, calc, type_erreur) : 0.0;
    }
  }
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

size_t DataTermsAt(EngineState& st, int o, int j) {
  return (static_cast<size_t>(o) * static_cast<size_t>(PointsCount(st)) + static_cast<size_t>(j)) *
         kDataTermsSlot;
}

bool DataTermsReady(EngineState& st, const PointTable& table) {
  return &table == st.points && st.data_terms.size() == DataTermsAt(st, Outputs(st), 0);
}

}  // namespace

void PrepareDataTerms(EngineState& st, const PointTable& table) {
  st.data_terms.assign(DataTermsAt(st, Outputs(st), 0), 0.0);
  for (int o = 0; o < Outputs(st); ++o) {
    for (int j = 0; j < PointsCount(st); ++j) {
      const PointRecord& p = table.Points[j];
      double* slot = &st.data_terms[DataTermsAt(st, o, j)];
      if (p.YMean[o] > kTiny) slot[0] = std::log(p.YMean[o]);
      const int nrep = Reps(p, o);
      if (nrep > 1) {
        slot[1] = ReplicateVariance(p, o, nrep);
        if (slot[1] > kTiny) slot[2] = std::log(slot[1]);
      }
    }
  }
}

double Coeff_estimate(EngineState& st, PointTable& table, double type_erreur) {
  const bool ready = DataTermsReady(st, table);
  for (int o = 0; o < Outputs(st); ++o) {
    for (int j = 0; j < PointsCount(st); ++j) {
      PointRecord& p = table.Points[j];
      const double mean = p.YMean[o];
      if (!(mean > kTiny)) continue;  // keeps its earlier Variance; no reader looks at it
      double variance = 0.0;
      const int nrep = Reps(p, o);
      if (nrep > 1) {
        variance = ready ? st.data_terms[DataTermsAt(st, o, j) + 1] : ReplicateVariance(p, o, nrep);
      } else {
        const double d = mean - p.YCalc[o];
        variance = d * d;
      }
      p.Variance[o] = variance;
    }
  }
  // 40 outputs x 1000 points can exceed a 16-bit count: the count is 32-bit.
  int32_t n = 0;
  double sl = 0.0, sm = 0.0;
  for (int o = 0; o < Outputs(st); ++o) {
    for (int j = 0; j < PointsCount(st); ++j) {
      const PointRecord& p = table.Points[j];
      if (p.YMean[o] > kTiny && p.Variance[o] > kTiny) {
        const double* slot = ready ? &st.data_terms[DataTermsAt(st, o, j)] : nullptr;
        sl = sl + (slot && Reps(p, o) > 1 ? slot[2] : std::log(p.Variance[o]));
        sm = sm + (slot ? slot[0] : std::log(p.YMean[o]));
        n = n + 1;
      }
    }
  }
  return n > 0 ? std::exp((sl - type_erreur * sm) / n) : 1.0;
}

namespace {

// Weighted mean square of the replicates about a reference per pair (their mean, or the model).
template <class Reference>
double WeightedScatter(EngineState& st, const PointTable& table, Reference reference) {
  double s = 0.0, w = 0.0;
  for (int o = 0; o < Outputs(st); ++o) {
    for (int j = 0; j < PointsCount(st); ++j) {
      const PointRecord& p = table.Points[j];
      const double weight = p.Weight[o];
      const double ref = reference(p, o);
      for (int k = 0; k < Reps(p, o); ++k) {
        const double d = ref - p.YExp[o][k];
        s = s + d * d * weight;
        w = w + weight;
      }
    }
  }
  return w > kTiny ? s / w : 0.0;
}

}  // namespace

double Scatter_exp(EngineState& st, const PointTable& table) {
  return WeightedScatter(st, table, [](const PointRecord& p, int o) { return p.YMean[o]; });
}

double Scatter_calc(EngineState& st, const PointTable& table) {
  return WeightedScatter(st, table, [](const PointRecord& p, int o) { return p.YCalc[o]; });
}

}  // namespace tarvo
