// The engine state: everything one loaded model keeps between two calls, as one value.
// Set-up fills it, simulation and fitting use it, release frees what it owns: the value cells
// that its compiled formulas read (and the constant table), the rate table, every compiled
// formula through its handles, the point table and the fit's scratch table. The exported
// calls act on one process-wide instance (api/); C++ callers may hold any number, each used
// by one thread at a time. Compiled formulas point into their own instance's cells, so an
// instance is never copied or moved.
//
// Host indices are 1-based; entry n-1 of each table holds index n.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Symbolic/compil.h"
#include "Symbolic/limits.h"
#include "Symbolic/notation.h"
#include "Symbolic/product_sum.h"
#include "Symbolic/cells.h"
#include "engines/derivatives.h"
#include "engines/engine.h"
#include "library/data_terms.h"
#include "engines/external.h"
#include "library/erreur_codes.h"
#include "library/records.h"
#include "platform/exchange_file.h"
#include "platform/failure.h"

namespace tarvo {

struct PEspece {
  Text Name;
  compilptr Formula[kMaxIntervals];  // entry k-1 for interval k; nil: no formula
};

struct PParam {
  Text Name;
  compilptr Equation[kMaxIntervals];
};

struct PAjustable {
  Text Name;
  Text EqualTo;        // coded EqualTo text after set-up
  compilptr Equation;  // compiled EqualTo expression; nil: a plain value
  double Value;
  double SD;
  double dP;           // last fitting step
  WordBool Adjustable;
};

struct Workers;  // library/workers.h

// A slot of the normal equations' terms: replicate count, weight, weighted residual and the
// sensitivity to each free adjustable.
inline size_t NormalTermsSlot(int32_t free) { return 3 + static_cast<size_t>(free); }
inline size_t NormalTermsSize(int32_t points, int32_t outputs, int32_t adjustables) {
  return static_cast<size_t>(points) * static_cast<size_t>(outputs) * NormalTermsSlot(adjustables);
}

struct EngineState {
  EngineState();  // out of line: Workers is complete only there
  EngineState(const EngineState&) = delete;
  EngineState& operator=(const EngineState&) = delete;
  ~EngineState();  // releases the model and the strings it still holds

  FormulaCells cells;
  RateTable rates{&cells};
  BInitials initials{};  // engine copies of the host records (their Variants are owned here)
  BFitSet fitset{};
  PEspece species[kMaxSpecies]{};
  PParam parameters[kMaxParameters]{};
  PAjustable adjustables[kMaxAdjustables]{};
  // The point table and the fit's scratch table: allocated by the first set-up, never per call,
  // and kept while one model replaces another (nil before the first set-up and after Fin).
  PointTable* points = nullptr;
  PointTable* scratch = nullptr;
  int32_t table_records = 0;      // leading records of both tables that may hold data
  int32_t table_outputs = 0;      // outputs whose fields and sensitivities those may hold
  FileRecord buffer{};            // the file record buffer
  std::vector<FileRecord> rewrite;  // the exchange file's new content, one record a point
  // The terms of the normal equations, gathered record by record (fitting/normal_equations):
  // a slot of NormalTermsSlot(free) values per (output, point), sized by the set-up for every
  // adjustable free (NormalTermsSize).
  std::vector<double> normal_terms;
  // What the figures of a simulation read of the data alone (library/statistics): made by
  // the set-up once the means are known.
  DataTerms data;
  // Whether Simulation and Ajustement rewrite the exchange file (always, for the exported
  // calls). An in-process caller that takes the simulated outputs from the point table
  // instead turns it off: for a large model the rewrite costs more than the walk.
  bool rewrite_file = true;
  int16_t shown_status = 0;  // the Erreur the last simulation's outputs were shown with
  // Records an in-process caller hands the set-up instead of the exchange file (nil: the
  // file). The set-up copies what it needs; the caller keeps them alive through it only.
  const FileRecord* given_records = nullptr;
  int32_t given_count = 0;
  ExchangeFile file{};
  Engine_proc engine = nullptr;  // nil when Method matched no built-in engine
  // A method of the external table (engines/external.h) that an instance accepted instead,
  // and the work it keeps between its calls (created by a set-up that succeeds, destroyed
  // by the release of the model). Both nil with a built-in engine.
  const ExternalMethod* external = nullptr;
  EngineWork* work = nullptr;
  // Outputs whose formula reads the time or a species; the others keep the value they took
  // at the start of the interval (output_value) for every point of it.
  bool output_varying[kMaxOutputs]{};
  double output_value[kMaxOutputs]{};
  // The output formulas of the point table laid out as sums of products where they are one
  // (laid out by each set-up, cleared by the release that frees the formulas).
  ProductSum output_sums[kMaxOutputs];
  int32_t NFree = 0;
  // The worker instances and threads that difference the model at once (library/workers.h);
  // nil when the fit runs on the caller's thread alone, or until the first fitting job worth
  // sharing. fit_threads, when above 0, is the number of threads the next set-up provides for
  // (at most one per free adjustable), in place of the cores and TARVO_THREADS; planned_threads
  // is the number the last set-up provided for (1: no workers).
  std::unique_ptr<Workers> workers;
  int32_t fit_threads = 0;
  int32_t planned_threads = 1;
  // Whether the workers wait for the first fitting job worth sharing instead of being made by
  // the set-up (unless fit_threads asks for threads). Off for the exported calls, whose fitting
  // calls take no memory; an in-process caller that fits many small models turns it on.
  bool defer_workers = false;
  double walk_seconds = 0.0;  // wall-clock time of the last simulation's walk over the points
  bool loaded = false;  // set-up ran and release has not
  bool ready = false;   // the last set-up left the host's Erreur at 0
  bool finite = true;   // the last simulation kept every species and output finite
  // What the last call reports without raising it (a refused model, a scratch table that
  // could not be had): the exported call hands it to Tarvo_last_failure. None: nothing.
  FailureKind notice_kind = FailureKind::None;
  std::string notice;
};

// Records a notice of the current call (the last one given wins).
inline void Notify(EngineState& s, FailureKind kind, std::string message) {
  s.notice_kind = kind;
  s.notice = std::move(message);
}

// True when the last set-up completed with Erreur 0 and no release followed it: only then
// may the model be simulated or fitted (compiled formulas, tables and engine in place: a
// built-in engine, or an external one with its work).
inline bool ModelReady(const EngineState& s) {
  return s.loaded && s.ready && s.points != nullptr && s.scratch != nullptr &&
         (s.engine != nullptr || (s.external != nullptr && s.work != nullptr));
}

// What Simulation and Ajustement do instead of running an unusable model: they change nothing
// but the host's Erreur, which receives the failed set-up's error sum, or kErreurNoModel when
// no set-up completed since the library was loaded or since the last Fin. host may be nil.
void RefuseUnready(const EngineState& s, BFitSet* host_fitset);

}  // namespace tarvo
