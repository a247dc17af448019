#include "library/release.h"

#include <cstdlib>

#include "Symbolic/compil.h"
#include "engines/engine.h"
#include "library/state.h"
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
void ReleaseModel() {
  for (PAjustable& a : g_state.adjustables) ReleaseHandle(a.Equation);
  if (g_state.points)
    for (compilptr& c : g_state.points->Outputs) ReleaseHandle(c);
  for (PEspece& s : g_state.species)
    for (compilptr& c : s.Formula) ReleaseHandle(c);
  for (PParam& p : g_state.parameters)
    for (compilptr& c : p.Equation) ReleaseHandle(c);
  for (compilptr& c : g_derivatives) ReleaseHandle(c);
  std::free(g_state.points);
  g_state.points = nullptr;
  g_state.engine = nullptr;
  g_state.loaded = false;
  g_state.ready = false;
}

// Both modes release everything: a non-zero mode would only leave unreachable records behind.
void FinishModel(const int16_t* /*mode*/) {
  if (!g_state.loaded) return;
  ReleaseModel();
  FileErase(g_state.file.path);
}

}  // namespace tarvo
