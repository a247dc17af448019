#include "library/state.h"

#include "library/release.h"
#include "library/workers.h"
#include "platform/variant.h"

namespace tarvo {

EngineState::EngineState() = default;

EngineState::~EngineState() {
  if (loaded) ReleaseModel(*this);
  ReleaseTables(*this);
  VariantRelease(initials.FileName);
  VariantRelease(fitset.Method);
}

void RefuseUnready(const EngineState& st, BFitSet* host_fitset) {
  if (!host_fitset) return;
  const bool failed_setup = st.loaded && st.fitset.Erreur != 0;
  host_fitset->Erreur = failed_setup ? st.fitset.Erreur : kErreurNoModel;
}

}  // namespace tarvo
