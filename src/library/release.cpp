#include "library/release.h"

#include <vector>

#include <cstdlib>

#include "Symbolic/compil.h"
#include "engines/engine.h"
#include "library/state.h"
#include "library/workers.h"
#include "platform/exchange_file.h"

namespace tarvo {

namespace {

void ReleaseHandle(compilptr& c) {
  Release(c);
  c = nullptr;
}

}  // namespace

// Every table is swept whole: entries beyond the model's counts are nil, and a model refused
// or interrupted half-way through set-up is released as safely as a complete one.
void ReleaseModel(EngineState& st) {
  StopWorkers(st);  // their threads are joined before anything of the model goes
  st.planned_threads = 1;
  for (PAjustable& a : st.adjustables) ReleaseHandle(a.Equation);
  if (st.points)
    for (compilptr& c : st.points->Outputs) ReleaseHandle(c);
  for (ProductSum& s : st.output_sums) LayOut(nullptr, s);
  for (PEspece& s : st.species)
    for (compilptr& c : s.Formula) ReleaseHandle(c);
  for (PParam& p : st.parameters)
    for (compilptr& c : p.Equation) ReleaseHandle(c);
  for (compilptr& c : st.rates.formula) ReleaseHandle(c);
  Classify_rates(st.rates);  // empty lists: nothing is left to evaluate
  st.engine = nullptr;
  if (st.external && st.work) st.external->destroy(st.work);
  st.external = nullptr;
  st.work = nullptr;
  st.loaded = false;
  st.ready = false;
}

void ReleaseTables(EngineState& st) {
  std::free(st.points);
  st.points = nullptr;
  std::free(st.scratch);
  st.scratch = nullptr;
  st.table_records = 0;
  st.table_outputs = 0;
  std::vector<FileRecord>().swap(st.rewrite);
}

// Both modes release everything: a non-zero mode would only leave unreachable records behind.
void FinishModel(EngineState& st, const int16_t* /*mode*/) {
  if (!st.loaded) return;
  ReleaseModel(st);
  ReleaseTables(st);
  FileErase(st.file.path);
}

}  // namespace tarvo
