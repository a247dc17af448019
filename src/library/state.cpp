#include "library/state.h"

#include "platform/variant.h"

namespace tarvo {

EngineState g_state{};

void RefuseUnready(BFitSet* host_fitset) {
  if (!host_fitset) return;
  const bool failed_setup = g_state.loaded && g_state.fitset.Erreur != 0;
  host_fitset->Erreur = failed_setup ? g_state.fitset.Erreur : kErreurNoModel;
}

namespace {

// At unload the strings of the engine state are released; compiled formulas and the point
// table belong to the loaded model and are Fin's to release.
struct UnloadRelease {
  ~UnloadRelease() {
    VariantRelease(g_state.initials.FileName);
    VariantRelease(g_state.fitset.Method);
  }
};
UnloadRelease g_unload_release;

}  // namespace

}  // namespace tarvo
