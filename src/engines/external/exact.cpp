#include "engines/external/exact.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include <Eigen/Dense>
#include <unsupported/Eigen/MatrixFunctions>

#include "Symbolic/compil.h"
#include "Symbolic/compiler.h"
#include "engines/external/exact_step.h"
#include "platform/variant.h"

struct tarvo::EngineWork {
  // One interval's rates and the exponentials of its gaps. key holds M (n x n, row-major)
  // then b (n).
  struct Interval {
    std::vector<double> key;
    std::vector<double> gaps;
    std::vector<Eigen::MatrixXd> exps;  // top n rows of exp([[M h, b h], [0, 0]])
    size_t next = 0;  // the entry after the one used last
  };
  Interval intervals[kMaxIntervals + 1];  // entry 0: a walk that announced no interval
  Interval* current = nullptr;
  int32_t n = 0;
  bool finite = true;  // M and b of the current interval are finite
  Eigen::MatrixXd scratch;
};

namespace tarvo {

namespace {

constexpr int kFreeTermBase = kMaxSpecies * kMaxSpecies;

std::string Name(const Text* names, int32_t i) {
  const std::string s = names ? ToUtf8(names[i]) : std::string();
  return s.empty() ? "species " + std::to_string(i + 1) : s;
}

void BeginInterval(EngineWork* w, RateTable& r, int32_t n, int32_t interval, double, double) {
  n = SpeciesCount(n);
  if (interval < 0 || interval > kMaxIntervals) interval = 0;
  Prepare_rates(r, n);
  EngineWork::Interval& slot = w->intervals[interval];
  const size_t size = static_cast<size_t>(n) * static_cast<size_t>(n + 1);
  // The exponentials are kept only for bit for bit the same M and b (a NaN never matches).
  bool same = slot.key.size() == size;
  bool finite = true;
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = 0; j <= n; ++j) {
      const double v = j < n ? r.M[kMaxSpecies * i + j] : r.b[i];
      finite = finite && std::isfinite(v);
      if (same) {
        const double k = slot.key[static_cast<size_t>(i * (n + 1) + j)];
        same = k == v && std::bit_cast<uint64_t>(k) == std::bit_cast<uint64_t>(v);
      }
    }
  }
  if (!same) {
    slot.key.resize(size);
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j <= n; ++j)
        slot.key[static_cast<size_t>(i * (n + 1) + j)] = j < n ? r.M[kMaxSpecies * i + j] : r.b[i];
    slot.gaps.clear();
    slot.exps.clear();
  }
  slot.next = 0;
  w->n = n;
  w->finite = finite;
  w->current = &slot;
}

// Whether a cached gap may serve for gap h between times of magnitude up to scale: equal, or
// within 4 units in the last place of the times. Measured times such as 0.05 j give gaps that
// differ in their last bits; the times themselves are known no better, and the state moves by
// about |M| x that difference, below the rounding the times already carry.
bool SameGap(double cached, double h, double scale) {
  return cached == h ||
         std::fabs(cached - h) <= 4 * std::numeric_limits<double>::epsilon() * scale;
}

// exp([[M h, b h], [0, 0]]) of the current interval, top n rows, into e.
void Exponential(const EngineWork::Interval& slot, int32_t n, double h, Eigen::MatrixXd& e) {
  Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n + 1, n + 1);
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j <= n; ++j) a(i, j) = slot.key[static_cast<size_t>(i * (n + 1) + j)] * h;
  const Eigen::MatrixXd full = a.exp();
  e = full.topRows(n);
}

void Advance(EngineWork* w, RateTable& r, int32_t n, double t0, double t1, double /*tol*/,
             const double* y_in, double* y_out, int16_t& status) {
  n = SpeciesCount(n);
  status = 0;
  double y[kMaxSpecies];
  for (int k = 0; k < kMaxSpecies; ++k) y[k] = y_in[k];
  if (!(t1 > t0)) {
    status = kStatusEmptyInterval;
    for (int k = 0; k < kMaxSpecies; ++k) y_out[k] = y[k];
    return;
  }
  if (!w->current || w->n != n) BeginInterval(w, r, n, 0, t0, t1);
  const double h = t1 - t0;
  const double scale = std::fmax(std::fabs(t0), std::fabs(t1));
  if (!w->finite || !std::isfinite(h)) {
    for (int32_t i = 0; i < n; ++i) y_out[i] = std::numeric_limits<double>::quiet_NaN();
    for (int k = n; k < kMaxSpecies; ++k) y_out[k] = y[k];
    return;
  }
  EngineWork::Interval& slot = *w->current;
  const Eigen::MatrixXd* e = nullptr;
  // A walk meets its gaps in the order the previous walk did: the entry after the last one
  // used is tried first, then all of them.
  const size_t count = slot.gaps.size();
  if (slot.next < count && SameGap(slot.gaps[slot.next], h, scale)) e = &slot.exps[slot.next++];
  for (size_t g = 0; g < count && !e; ++g)
    if (SameGap(slot.gaps[g], h, scale)) {
      e = &slot.exps[g];
      slot.next = g + 1;
    }
  if (!e) {
    if (slot.gaps.size() < kExactGapCache) {
      slot.exps.emplace_back();
      Exponential(slot, n, h, slot.exps.back());
      slot.gaps.push_back(h);
      slot.next = slot.gaps.size();
      e = &slot.exps.back();
    } else {
      Exponential(slot, n, h, w->scratch);
      e = &w->scratch;
    }
  }
  // y_out := E[:, n] + E[:, 0..n) y (y is a copy of y_in): four rows a vector where the
  // processor has them, else by Eigen's vectorised product into y_out itself, so that no
  // temporary is allocated; the same values either way.
  if (!ExactStepWide(e->data(), n, y, y_out)) {
    Eigen::Map<Eigen::VectorXd> out(y_out, n);
    out = e->col(n);
    out.noalias() += e->leftCols(n) * Eigen::Map<const Eigen::VectorXd>(y, n);
  }
  for (int k = n; k < kMaxSpecies; ++k) y_out[k] = y[k];
}

EngineWork* Create() { return new (std::nothrow) EngineWork(); }
void Destroy(EngineWork* w) { delete w; }

}  // namespace

std::string ExactUnsuitable(const RateTable& rates, const FormulaCells& cells, int32_t n,
                            const Text* names) {
  n = SpeciesCount(n);
  std::string found;
  int count = 0;
  constexpr int kNamed = 4;  // formulas named in full; the rest are counted
  for (int32_t slot = 0; slot < kDerivativeSlots; ++slot) {
    const compil* c = rates.formula[slot];
    if (!c) continue;
    const bool free_term = slot >= kFreeTermBase;
    const int32_t i = free_term ? slot - kFreeTermBase : slot / kMaxSpecies;
    const int32_t j = free_term ? 0 : slot % kMaxSpecies;
    if (i >= n || j >= n) continue;
    bool read[kMaxSpecies] = {};
    MarkSpeciesRead(c, cells, read);
    const bool time = CountRefs(&cells.time, c) > 0;
    std::string what;
    for (int32_t s = 0; s < kMaxSpecies; ++s)
      if (read[s]) what += (what.empty() ? "" : ", ") + Name(names, s);
    if (time) what += what.empty() ? "the time T" : " and the time T";
    if (what.empty()) continue;
    if (++count > kNamed) continue;
    if (!found.empty()) found += "; ";
    found += free_term ? "the free term of " + Name(names, i)
                       : "the coefficient of " + Name(names, j) + " in the rate of " +
                             Name(names, i);
    found += " reads " + what;
  }
  if (count == 0) return "";
  if (count > kNamed) found += "; and " + std::to_string(count - kNamed) + " more";
  return "its rates must be linear with constant coefficients (no coefficient or free term "
         "may read a species or the time): " + found;
}

ExternalMethod ExactMethod() {
  return {u"EXACT", ExactUnsuitable, Create, Destroy, BeginInterval, Advance};
}

}  // namespace tarvo
