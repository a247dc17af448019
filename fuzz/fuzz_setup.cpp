// Fuzz target: the four exported calls on host blocks derived from the input, through the
// shared host (api/linked_host.h), which builds the Variant tables at their full size (30
// intervals) so that every count the library accepts stays inside the host's own memory.
//
// Derived from the input: the six counts of BInitials (now and then any 16-bit value, beyond
// the limits and negative included), every formula cell the counts reach (empty, assembled
// from formula fragments, raw bytes, or a number, date or boolean Variant), the adjustables'
// names, values (any bit pattern), EqualTo texts and flags, Method, the settings of BFitSet,
// the exchange file's records (Interval and NRep any 16-bit value now and then, replicates
// any bit pattern, the file sometimes shorter than NPoints) and a sequence of calls.
//
// Kept out so that a run stays short: tolerances below 1e-3 (the engines' step counts grow
// as 1/tolerance and have no budget yet), more than 12 records in the file, more than four
// Ajustement calls per input, and times other than steps of 0 to 1.75 forward. Raised
// failures are expected outcomes (Tarvo_last_failure records them); a sanitizer report, an
// escaping exception or a hang is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "api/linked_host.h"

namespace tarvo::fuzz {
namespace {

using Host = LinkedHost;

// Formula text assembled from fragments of the host language, so that most cells parse and
// the model gets as far as the engines.
std::string FormulaText(FuzzInput& in) {
  static const char* const kFragments[] = {
      "F1", "F2", "F3", "P1", "P2", "A1", "A2", "A3", "T", "1", "0", "2.5", "0.1", "1E300",
      "-", "+", "*", "/", "^", "(", ")", "EX(", "LN(", "k", "x", "1.2.3", "A51", "F31"};
  constexpr int kCount = sizeof kFragments / sizeof kFragments[0];
  std::string s;
  for (int n = 1 + in.Below(5); n > 0; --n) s += kFragments[in.Below(kCount)];
  return s;
}

void SetCell(FuzzInput& in, VARIANT& v) {
  switch (in.Below(8)) {
    case 0:
    case 1:
      return;  // stays Empty: no formula
    case 2:
    case 3:
    case 4:
      SetHostText(LinkedOle(), v, FormulaText(in));
      return;
    case 5:
    case 6:
      SetHostText(LinkedOle(), v, in.Text(24));
      return;
    default: {
      static const VARTYPE kTypes[] = {VT_R8, VT_I2, VT_BOOL, VT_DATE, VT_NULL, VT_EMPTY};
      VariantClear(&v);
      v.vt = kTypes[in.Below(6)];
      v.dblVal = 0.0;
      if (v.vt == VT_I2 || v.vt == VT_BOOL) v.iVal = in.Int16();
      return;
    }
  }
}

// A count: usually up to typical, now and then any 16-bit value.
int16_t Count(FuzzInput& in, int typical) {
  const uint8_t c = in.Byte();
  return c >= 0xF0 ? in.Int16() : static_cast<int16_t>(c % (typical + 1));
}

// How many of a count's rows or columns exist in the host's tables.
int Reach(int16_t count, int limit) { return std::clamp<int>(count, 0, limit); }

double Value(FuzzInput& in) {
  const uint8_t c = in.Byte();
  return c >= 0xF8 ? in.Double() : (c - 64) / 16.0;
}

HostSheet Settings(FuzzInput& in) {
  static const char* const kMethods[] = {"RUNGE-KUTTA 4", "RUNGE-KUTTA 5", "RUNGE-KUTTA QC",
                                         "CHU-BERMAN", "runge-kutta 4", ""};
  static const double kTolerances[] = {1e-1, 1e-2, 1e-3, 0.0, -1.0, 10.0};
  static const double kTypes[] = {0.0, 1.0, 2.0, -1.0};
  static const double kMarquard[] = {0.01, 0.0, 1.0, 100.0};
  HostSheet m;
  m.intervals = kMaxIntervals;
  m.method = kMethods[in.Below(6)];
  m.tolerance = kTolerances[in.Below(6)];
  m.type_erreur = kTypes[in.Below(4)];
  m.marquard = kMarquard[in.Below(4)];
  m.precision = in.Below(2) ? 1e-6 : 0.0;
  m.max_iter = static_cast<int16_t>(in.Below(3));
  return m;
}

// The exchange file: NPoints records, or fewer now and then; at most 12.
void Points(FuzzInput& in, HostSheet& m, int16_t npoints, int16_t noutputs) {
  int records = std::clamp<int>(npoints, 0, 12);
  if (records > 0 && in.Below(8) == 0) --records;
  const int outputs = Reach(noutputs, kMaxOutputs);
  double time = 0.0;
  for (int j = 0; j < records; ++j) {
    HostPoint p;
    const uint8_t c = in.Byte();
    p.interval = c >= 0xF0 ? in.Int16() : static_cast<int16_t>(1 + c % 3);
    time += 0.25 * in.Below(8);  // equal times too: that engine call reports 3
    p.time = time;
    p.replicates.resize(static_cast<size_t>(std::min(outputs, 3)));
    for (auto& reps : p.replicates)
      for (int k = in.Below(4); k > 0; --k) reps.push_back(Value(in));
    if (in.Below(16) == 0) p.nrep.push_back(in.Int16());
    m.points.push_back(p);
  }
}

void Cells(FuzzInput& in, Host& h) {
  const int species = Reach(h.initials.NEspeces, kMaxSpecies);
  const int intervals = Reach(h.initials.NInterrupts, kMaxIntervals);
  const int parameters = Reach(h.initials.NParametres, kMaxParameters);
  for (int s = 1; s <= species; ++s)
    for (int k = 0; k <= intervals; ++k) SetCell(in, h.Especes(s, k));
  for (int p = 1; p <= parameters; ++p)
    for (int k = 0; k <= intervals; ++k) SetCell(in, h.Parametres(p, k));
  for (int i = 1; i <= species; ++i) {
    for (int j = 1; j <= species; ++j) SetCell(in, h.Derivees(i, j));
    SetCell(in, h.Derivees(i, kFreeTermColumn));
  }
  for (int o = 0; o < Reach(h.initials.NSorties, kMaxOutputs); ++o)
    SetCell(in, h.sorties.Formula[o]);
  for (int a = 1; a <= Reach(h.initials.NAjustables, kMaxAdjustables); ++a) {
    SetHostText(LinkedOle(), *AdjName(&h.adjustables, a),
                in.Below(2) ? "A" + std::to_string(a) : "k");
    h.adjustables.Value[a - 1] = Value(in);
    if (in.Below(4) == 0) SetHostText(LinkedOle(), h.EqualTo(a), FormulaText(in));
    h.adjustables.Adjustable[a - 1] = in.Int16();
  }
}

void Run(FuzzInput& in) {
  HostSheet m = Settings(in);
  const int16_t species = Count(in, 3), intervals = Count(in, 3), parameters = Count(in, 3),
                adjustables = Count(in, 4), points = Count(in, 8), outputs = Count(in, 3);
  Points(in, m, points, outputs);
  Host h(m);
  h.initials.NEspeces = species;
  h.initials.NInterrupts = intervals;
  h.initials.NParametres = parameters;
  h.initials.NAjustables = adjustables;
  h.initials.NPoints = points;
  h.initials.NSorties = outputs;
  Cells(in, h);
  int fits = 0;
  for (int call = 0; call < 6; ++call) {
    switch (in.Below(5)) {
      case 0:
        h.fitset.Erreur = 0;
        h.CalculInitial();
        break;
      case 1:
        h.Simulate();
        break;
      case 2:
        if (++fits <= 4) h.Fit();
        break;
      case 3:
        h.Fin(in.Int16());
        break;
      default:
        h.CalculInitial();  // with whatever Erreur the last call left
        break;
    }
  }
  h.Fin();  // the next input starts without a model
}

}  // namespace
}  // namespace tarvo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tarvo::fuzz::FuzzInput in(data, size);
  tarvo::fuzz::Run(in);
  return 0;
}
