#include "library/setup.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "Symbolic/cells.h"
#include "Symbolic/compil.h"
#include "Symbolic/compiler.h"
#include "Symbolic/formula_pipeline.h"
#include "Symbolic/primitives.h"
#include "Symbolic/simplify.h"
#include "Symbolic/tokenizer.h"
#include "engines/engine.h"
#include "engines/external.h"
#include "engines/methods.h"
#include "library/record_copy.h"
#include "library/release.h"
#include "library/statistics.h"
#include "library/state.h"
#include "library/workers.h"
#include "platform/exchange_file.h"
#include "platform/failure.h"
#include "platform/variant.h"

namespace tarvo {

namespace {

// The host's error accumulator: every failure of the set-up adds to it (16-bit, wrapping as
// the host's own arithmetic does).
struct ErrorSum {
  SmallInt& e;
  void Add(int n) { e = static_cast<SmallInt>(e + n); }
  bool Clean() const { return e == 0; }
};

// Cells of the column-major Variant tables (1-based row, column as the host numbers it).
const VARIANT& EspecesCell(const VARIANT* t, int s, int k) { return t[k * kEspecesRows + s - 1]; }
const VARIANT& ParametresCell(const VARIANT* t, int p, int k) {
  return t[k * kParametresRows + p - 1];
}
const VARIANT& DeriveesCell(const VARIANT* t, int i, int j) {
  return t[(j - 1) * kDeriveesRows + i - 1];
}
compilptr& CoefficientSlot(EngineState& st, int i, int j) { return st.rates.formula[kMaxSpecies * (i - 1) + j - 1]; }
compilptr& FreeTermSlot(EngineState& st, int i) { return st.rates.formula[kMaxSpecies * kMaxSpecies + i - 1]; }

// An empty compiled-formula record for a non-empty cell, nil for an empty one.
compilptr AllocateFor(const VARIANT& cell) {
  if (VariantIsEmptyText(cell)) return nullptr;
  compilptr c = NewCompil();
  if (!c) throw std::bad_alloc();
  return c;
}

void Refuse(EngineState& st, ErrorSum& e, int16_t code, const std::string& message) {
  e.Add(code);
  Notify(st, FailureKind::Refused, "model refused: " + message);
}

// Counts of BInitials against the fixed tables. Returns the description of every offending
// count, empty when all fit.
std::string CheckCounts(const BInitials& m) {
  struct Count {
    const char* name;
    int value;
    int limit;
  };
  const Count counts[] = {
      {"NEspeces", m.NEspeces, kMaxSpecies},      {"NInterrupts", m.NInterrupts, kMaxIntervals},
      {"NParametres", m.NParametres, kMaxParameters}, {"NAjustables", m.NAjustables, kMaxAdjustables},
      {"NPoints", m.NPoints, kMaxPoints},         {"NSorties", m.NSorties, kMaxOutputs},
  };
  std::string problems;
  for (const Count& c : counts) {
    if (c.value >= 0 && c.value <= c.limit) continue;
    if (!problems.empty()) problems += "; ";
    problems += std::string(c.name) + " = " + std::to_string(c.value) +
                (c.value < 0 ? " is negative (allowed 0.." + std::to_string(c.limit) + ")"
                             : " exceeds the limit of " + std::to_string(c.limit));
  }
  return problems;
}

// What the reading of the exchange file found outside the tables: the first offending record
// of each kind is named.
struct FileProblems {
  std::string replicates;
  std::string intervals;
  std::string order;
};

// Step 4: every record of the file into its point record. Replicate counts outside 0..10 and
// intervals outside 1..NInterrupts are noted, and only what fits the tables is stored.
FileProblems ReadPoints(EngineState& st, PointTable& table) {
  const BInitials& m = st.initials;
  FileProblems problems;
  ExchangeFile& f = st.file;
  const bool given = st.given_records != nullptr;
  if (given && st.given_count < m.NPoints)
    Raise(FailureKind::InputOutput, "the records given hold " + std::to_string(st.given_count) +
                                        " points, fewer than NPoints = " +
                                        std::to_string(m.NPoints));
  if (!given) FileOpenRead(f, st.file.path, sizeof(FileRecord), m.NPoints);
  for (int j = 1; j <= m.NPoints; ++j) {
    FileRecord& r = st.buffer;
    if (given) r = st.given_records[j - 1];
    else FileReadRecord(f, &r);
    PointRecord& p = table.Points[j - 1];
    p.Interval = r.Interval;
    p.Time = r.Time;
    // Order is judged among intervals in range only; one out of range is refused on its own.
    const int intervals = m.NInterrupts;
    const auto in_range = [intervals](int k) { return k >= 1 && k <= intervals; };
    if (j > 1 && in_range(r.Interval) && in_range(table.Points[j - 2].Interval) &&
        r.Interval < table.Points[j - 2].Interval && problems.order.empty())
      problems.order = "point " + std::to_string(j) + ": Interval = " +
                       std::to_string(r.Interval) + " follows Interval = " +
                       std::to_string(table.Points[j - 2].Interval) + " of point " +
                       std::to_string(j - 1) + " (the points' intervals must not decrease)";
    if ((r.Interval < 1 || r.Interval > m.NInterrupts) && problems.intervals.empty())
      problems.intervals = "point " + std::to_string(j) + ": Interval = " +
                           std::to_string(r.Interval) + " is outside 1.." +
                           std::to_string(m.NInterrupts) + " (NInterrupts)";
    for (int o = 0; o < m.NSorties; ++o) {
      int n = r.NRep[o];
      if (n < 0 || n > kMaxReplicates) {
        if (problems.replicates.empty())
          problems.replicates = "point " + std::to_string(j) + ", output " +
                                std::to_string(o + 1) + ": NRep = " + std::to_string(n) +
                                " is outside 0.." + std::to_string(kMaxReplicates);
        n = n < 0 ? 0 : kMaxReplicates;
      }
      p.NRep[o] = static_cast<SmallInt>(n);
      for (int k = 0; k < n; ++k) p.YExp[o][k] = r.YExp[o][k] > 0.0 ? r.YExp[o][k] : 0.0;
    }
  }
  if (!given) FileClose(f);
  return problems;
}

// Step 3: species names, and an empty record for every non-empty start-value cell.
void AllocateSpecies(EngineState& st, const VARIANT* especes) {
  const BInitials& m = st.initials;
  for (int s = 1; s <= m.NEspeces; ++s) {
    PEspece& sp = st.species[s - 1];
    sp.Name = VariantToText(EspecesCell(especes, s, 0));
    for (int k = 1; k <= m.NInterrupts; ++k)
      sp.Formula[k - 1] = AllocateFor(EspecesCell(especes, s, k));
  }
}

// Steps 5 to 7: outputs, the derivative formula table, parameter names and equations.
void AllocateOthers(EngineState& st, const VARIANT* parametres, const BSorties& sorties, const VARIANT* derivees,
                    PointTable& table) {
  const BInitials& m = st.initials;
  for (int o = 0; o < m.NSorties; ++o) table.Outputs[o] = AllocateFor(sorties.Formula[o]);
  for (int i = 1; i <= m.NEspeces; ++i) {
    for (int j = 1; j <= m.NEspeces; ++j)
      CoefficientSlot(st, i, j) = AllocateFor(DeriveesCell(derivees, i, j));
    FreeTermSlot(st, i) = AllocateFor(DeriveesCell(derivees, i, kDeriveesColumns));
  }
  for (int p = 1; p <= m.NParametres; ++p) {
    PParam& par = st.parameters[p - 1];
    par.Name = VariantToText(ParametresCell(parametres, p, 0));
    for (int k = 1; k <= m.NInterrupts; ++k)
      par.Equation[k - 1] = AllocateFor(ParametresCell(parametres, p, k));
  }
}

// Step 8: the adjustables' names, values, flags and EqualTo texts. An EqualTo expression that
// contains the adjustable's own name is emptied in the host's cell.
//
// The standard deviation starts from the host's own SD entry and the last step from 0, so
// nothing of a model loaded earlier survives: a fit that converges on a perfect fit (where
// the deviations are not recomputed) hands the host back the deviations it sent, not those
// of another model.
void LoadAdjustables(EngineState& st, BAjustables& host) {
  for (int a = 1; a <= st.initials.NAjustables; ++a) {
    PAjustable& adj = st.adjustables[a - 1];
    adj.Name = VariantToText(*AdjName(&host, a));
    adj.Value = host.Value[a - 1];
    adj.Adjustable = host.Adjustable[a - 1];
    adj.SD = host.SD[a - 1];
    adj.dP = 0.0;
    VARIANT& cell = *AdjEqualTo(&host, a);
    if (!adj.Name.empty() && VariantToText(cell).find(adj.Name) != Text::npos)
      VariantSetText(cell, u"");
    adj.EqualTo = VariantToText(cell);
    if (!adj.EqualTo.empty()) {
      adj.Equation = NewCompil();
      if (!adj.Equation) throw std::bad_alloc();
    }
  }
}

// Step 9: the engine named exactly by Method, in the order of the method table, then among
// the external methods the caller accepts (extra; nil for the exported calls).
void SelectEngine(EngineState& st, const VARIANT& method, ErrorSum& e,
                  const ExternalMethodTable* extra) {
  e.Add(kErreurMethod);
  for (const MethodEntry& entry : kMethods) {
    if (VariantEqualsText(method, entry.name)) {
      st.engine = entry.engine;
      e.Add(-kErreurMethod);
      return;
    }
  }
  if (!extra || !extra->methods) return;
  for (int32_t k = 0; k < extra->count; ++k) {
    if (VariantEqualsText(method, extra->methods[k].name)) {
      st.external = &extra->methods[k];
      e.Add(-kErreurMethod);
      return;
    }
  }
}

// An external method that cannot integrate the compiled model refuses it with the method
// code and says why; one that can gets its work.
void PrepareExternal(EngineState& st, ErrorSum& e) {
  const ExternalMethod& m = *st.external;
  const int32_t n = st.initials.NEspeces;
  Text names[kMaxSpecies];
  for (int32_t s = 0; s < n && s < kMaxSpecies; ++s) names[s] = st.species[s].Name;
  const std::string reason = m.unsuitable(st.rates, st.cells, n, names);
  if (!reason.empty()) {
    Refuse(st, e, kErreurMethod, "method " + ToUtf8(m.name) + " cannot integrate it: " + reason);
    return;
  }
  st.work = m.create();
  if (!st.work) throw std::bad_alloc();
}

InlineTable Bindings(EngineState& st) {
  InlineTable t{};
  for (int n = 0; n < kMaxAdjustables; ++n) {
    t.text[n] = &st.adjustables[n].EqualTo;
    t.equation[n] = &st.adjustables[n].Equation;
  }
  return t;
}

// Steps 10 and 11: EqualTo texts into coded notation, their compilation, and NFree.
void CompileEqualTo(EngineState& st, BAjustables& host, ErrorSum& e, const InlineTable& bindings) {
  const int n = st.initials.NAjustables;
  for (int a = 0; a < n; ++a) {
    Text& text = st.adjustables[a].EqualTo;
    if (text.empty()) continue;
    int16_t error = 0;
    Tokenize(text, error, st.cells.constants);
    e.Add(error);
    Simplify(text, st.cells.constants);
  }
  // An expression is compiled, checked for references to its own adjustable and the
  // adjustable bound (its flag cleared here and in the host's block) only while the sum is
  // clean: once the set-up has failed, the flags stay as the host sent them and count in NFree.
  st.NFree = 0;
  for (int a = 0; a < n; ++a) {
    PAjustable& adj = st.adjustables[a];
    if (adj.Equation && e.Clean()) {
      int16_t faults = 0;
      Compile(st.cells, adj.EqualTo, adj.Equation, faults, &bindings);
      e.Add(faults);
      e.Add(CountRefs(&st.cells.adjustables[a], adj.Equation));
      adj.Adjustable = kFalse;
      host.Adjustable[a] = kFalse;
    }
    if (adj.Adjustable) st.NFree += 1;
  }
}

// Converts one formula cell and, while the sum is clean, simplifies and compiles it into c.
// self, when given, is the cell whose references in the formula count as errors.
void ConvertAndCompile(FormulaCells& cells, const VARIANT& cell, compilptr c, ErrorSum& e,
                       const InlineTable& bindings, const double* self = nullptr) {
  FormulaOptions options;
  options.bindings = &bindings;
  options.running_sum = &e.e;
  FormulaStages stages;
  CompileFormula(cells, VariantToText(cell), c, options, stages);
  if (stages.compiled && self) e.Add(CountRefs(self, c));
}

// Steps 12 to 15.
void CompileFormulas(EngineState& st, const VARIANT* especes, const VARIANT* parametres, const BSorties& sorties,
                     const VARIANT* derivees, PointTable& table, ErrorSum& e,
                     const InlineTable& bindings) {
  const BInitials& m = st.initials;
  for (int p = 1; p <= m.NParametres; ++p)
    for (int k = 1; k <= m.NInterrupts; ++k)
      if (compilptr c = st.parameters[p - 1].Equation[k - 1])
        ConvertAndCompile(st.cells, ParametresCell(parametres, p, k), c, e, bindings,
                          &st.cells.parameters[p - 1]);
  for (int s = 1; s <= m.NEspeces; ++s)
    for (int k = 1; k <= m.NInterrupts; ++k)
      if (compilptr c = st.species[s - 1].Formula[k - 1])
        ConvertAndCompile(st.cells, EspecesCell(especes, s, k), c, e, bindings);
  for (int o = 0; o < m.NSorties; ++o)
    if (compilptr c = table.Outputs[o]) ConvertAndCompile(st.cells, sorties.Formula[o], c, e, bindings);
  for (int i = 1; i <= m.NEspeces; ++i) {
    for (int j = 1; j <= m.NEspeces; ++j)
      if (compilptr c = CoefficientSlot(st, i, j))
        ConvertAndCompile(st.cells, DeriveesCell(derivees, i, j), c, e, bindings);
    if (compilptr c = FreeTermSlot(st, i))
      ConvertAndCompile(st.cells, DeriveesCell(derivees, i, kDeriveesColumns), c, e, bindings);
  }
}

// Step 16: replicate means and NData, summed in output, point, replicate order.
int32_t ReplicateMeans(EngineState& st, PointTable& table) {
  const BInitials& m = st.initials;
  int32_t ndata = 0;
  for (int o = 0; o < m.NSorties; ++o) {
    for (int j = 0; j < m.NPoints; ++j) {
      PointRecord& p = table.Points[j];
      const int n = p.NRep[o];
      if (n > 0) {
        double sum = 0.0;
        for (int k = 0; k < n; ++k) sum = sum + p.YExp[o][k];
        p.YMean[o] = sum / n;
        ndata += n;
      } else {
        p.YMean[o] = 0.0;
      }
    }
  }
  return ndata;
}

// Every write into a table goes to the records of its model's points (record 1 too when there
// are none), and within a record to the fields before the sensitivities and the sensitivities
// of the model's outputs; so clearing that much of the records a model can reach gives a
// fresh table, without touching the rest (for a small model, nearly all of its 20.9 MB). The
// tables come from malloc, not calloc: a block the heap hands back again would otherwise be
// cleared whole at every set-up after a Fin.
void ClearReachable(PointTable& t, int records, int outputs) {
  const size_t written = offsetof(PointRecord, Sens) +
                         sizeof(double) * kMaxAdjustables * static_cast<size_t>(outputs);
  std::memset(t.Outputs, 0, sizeof t.Outputs);
  for (int j = 0; j < records; ++j) std::memset(&t.Points[j], 0, written);
  std::memset(&t.Tail, 0, sizeof t.Tail);
}

void AcquireTables(EngineState& st, int npoints, int noutputs) {
  const int records = std::clamp(npoints, 1, static_cast<int>(kMaxPoints));
  const int outputs = std::clamp(noutputs, 0, static_cast<int>(kMaxOutputs));
  // What the earlier model wrote goes, and what this one will reach: both lie within the
  // larger of the two in records and in outputs, cleared once. Of the scratch table only the
  // fields a walk reads are ever read (the walked fields and the output handles, which each
  // walk copies over): those are all that is cleared there.
  int reach_records = records, reach_outputs = outputs;
  if (st.points && st.scratch) {
    reach_records = std::max(records, st.table_records);
    reach_outputs = std::max(outputs, st.table_outputs);
  } else {
    ReleaseTables(st);
    st.points = static_cast<PointTable*>(std::malloc(sizeof(PointTable)));
    st.scratch = static_cast<PointTable*>(std::malloc(sizeof(PointTable)));
    if (!st.points || !st.scratch) {
      ReleaseTables(st);
      throw std::bad_alloc();
    }
  }
  ClearReachable(*st.points, reach_records, reach_outputs);
  std::memset(st.scratch->Outputs, 0, sizeof st.scratch->Outputs);
  ClearWalked(st.scratch->Points, reach_records);
  st.table_records = records;
  st.table_outputs = outputs;
}

void ZeroCounts(BInitials& m) {
  m.NEspeces = m.NInterrupts = m.NParametres = m.NAjustables = m.NPoints = m.NSorties = 0;
}

// The set-up after the state was prepared; returns normally on a refusal too.
void Load(EngineState& st, const BInitials& hi, BFitSet& hf, const VARIANT* especes, BAjustables& ha,
          const VARIANT* parametres, const BSorties& hs, const VARIANT* derivees,
          const ExternalMethodTable* extra) {
  ErrorSum e{hf.Erreur};
  // 1. The engine copies; the host's Done is cleared first. The exchange file is bound here,
  //    so that Fin erases it after any set-up, refused or not.
  CopyInitials(st.initials, hi);
  hf.Done = kFalse;
  CopyFitSet(st.fitset, hf);
  st.file.path = VariantToText(hi.FileName);
  FilePrepareRewrite(st.file);
  const std::string count_problems = CheckCounts(hi);
  if (!count_problems.empty()) {
    ZeroCounts(st.initials);  // nothing of this model is ever walked
    Refuse(st, e, kErreurCountLimit, count_problems);
    return;
  }
  // 2. The point table and the fit's scratch table, cleared so that no field is ever read
  //    undefined, and the rewrite buffer (none for a caller that turned the rewrite off).
  AcquireTables(st, hi.NPoints, hi.NSorties);
  st.rewrite.assign(st.rewrite_file ? static_cast<size_t>(hi.NPoints) : 0, FileRecord{});
  const size_t terms = NormalTermsSize(hi.NPoints, hi.NSorties, hi.NAjustables);
  if (st.normal_terms.size() < terms) st.normal_terms.resize(terms);
  st.data.pairs.clear();  // the data's terms are this model's, made at step 16
  PointTable& table = *st.points;
  AllocateSpecies(st, especes);                     // 3.
  const FileProblems file = ReadPoints(st, table);  // 4.
  if (!file.replicates.empty() || !file.intervals.empty() || !file.order.empty()) {
    int16_t code = 0;
    std::string message;
    const std::pair<const std::string*, int16_t> found[] = {
        {&file.replicates, kErreurReplicateLimit},
        {&file.intervals, kErreurIntervalRange},
        {&file.order, kErreurIntervalOrder}};
    for (const auto& [text, value] : found) {
      if (text->empty()) continue;
      code = static_cast<int16_t>(code + value);
      message += (message.empty() ? "" : "; ") + *text;
    }
    Refuse(st, e, code, message);
    return;
  }
  AllocateOthers(st, parametres, hs, derivees, table);                // 5. to 7.
  LoadAdjustables(st, ha);                                            // 8.
  SelectEngine(st, hf.Method, e, extra);                              // 9.
  const InlineTable bindings = Bindings(st);
  CompileEqualTo(st, ha, e, bindings);                                // 10. and 11.
  CompileFormulas(st, especes, parametres, hs, derivees, table, e, bindings);  // 12. to 15.
  Classify_rates(st.rates);  // which rate formulas change at every stage
  if (st.external && e.Clean()) PrepareExternal(st, e);
  for (int o = 0; o < kMaxOutputs; ++o) {
    st.output_varying[o] = o < hi.NSorties && ReadsTimeOrSpecies(table.Outputs[o], st.cells);
    LayOut(o < hi.NSorties ? table.Outputs[o] : nullptr, st.output_sums[o]);
  }
  table.Tail.NData = ReplicateMeans(st, table);                       // 16.
  PrepareDataTerms(st, table);
  if (table.Tail.NData < st.NFree) e.Add(kErreurTooFewData);  // 17.
}

}  // namespace

void SetupModel(EngineState& st, const BInitials* initials, BFitSet* fitset, const VARIANT* especes,
                BAjustables* adjustables, const VARIANT* parametres, const BSorties* sorties,
                const VARIANT* derivees, const ExternalMethodTable* extra) {
  // Whatever happens below, a model loaded earlier is no longer usable: a set-up that fails,
  // raised failures included, leaves no model that Simulation or Ajustement could run.
  st.ready = false;
  // Records given in memory serve this set-up only, whatever becomes of it.
  struct Consume {
    EngineState& st;
    ~Consume() {
      st.given_records = nullptr;
      st.given_count = 0;
    }
  } consume{st};
  if (!initials || !fitset || !especes || !adjustables || !parametres || !sorties || !derivees)
    Raise(FailureKind::InvalidOperation, "Calcul_initial: an argument address is nil");
  // One model at a time: a model still loaded is released first, and once none is loaded the
  // constant table starts afresh (no compiled formula refers to its slots any more). Every
  // value cell starts from 0, so that nothing of an earlier model is ever read.
  if (st.loaded) ReleaseModel(st);
  st.cells = FormulaCells{};
  st.finite = true;
  st.loaded = true;
  st.ready = false;
  st.engine = nullptr;
  st.external = nullptr;
  st.NFree = 0;
  st.planned_threads = 1;
  st.walk_seconds = 0.0;
  Load(st, *initials, *fitset, especes, *adjustables, parametres, *sorties, derivees, extra);
  // The engine copy carries the set-up's outcome, so that an unusable model can never be
  // reported as a success by a later Simulation or Ajustement.
  st.fitset.Erreur = fitset->Erreur;
  const bool ready = fitset->Erreur == 0 && (st.engine != nullptr || st.work != nullptr);
  if (ready) PlanWorkers(st);
  st.ready = ready;
}

}  // namespace tarvo
