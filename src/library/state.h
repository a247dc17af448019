// The engine state: everything the library keeps between two exported calls, as module-level
// storage. Calcul_initial fills it, Simulation and Ajustement use it, Fin releases what it
// owns. The formula value cells live in Symbolic/cells.h and the derivative formula table in
// engines/engine.h; the tables here own every other compiled formula through their handles.
//
// Host indices are 1-based; entry n-1 of each table holds index n.
#pragma once

#include <cstdint>
#include <string>

#include "Symbolic/compil.h"
#include "Symbolic/limits.h"
#include "Symbolic/notation.h"
#include "engines/engine.h"
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

struct EngineState {
  BInitials initials;  // engine copies of the host records (their Variants are owned here)
  BFitSet fitset;
  PEspece species[kMaxSpecies];
  PParam parameters[kMaxParameters];
  PAjustable adjustables[kMaxAdjustables];
  PointTable* points;  // nil when no model is loaded
  FileRecord buffer;   // the file record buffer
  ExchangeFile file;
  Engine_proc engine;  // nil when Method matched no engine
  int32_t NFree;
  bool loaded;         // Calcul_initial ran and Fin has not
  bool ready;          // the last set-up left the host's Erreur at 0
  bool finite;         // the last Simulation kept every species and output finite
  // What the last call reports without raising it (a refused model, a scratch table that
  // could not be had): the exported call hands it to Tarvo_last_failure. None: nothing.
  FailureKind notice_kind;
  std::string notice;
};

// Records a notice of the current call (the last one given wins).
inline void Notify(EngineState& s, FailureKind kind, std::string message) {
  s.notice_kind = kind;
  s.notice = std::move(message);
}

extern EngineState g_state;

// True when the last Calcul_initial completed with Erreur 0 and no Fin followed it: only then
// may the model be simulated or fitted (compiled formulas, point table and engine in place).
inline bool ModelReady() {
  return g_state.loaded && g_state.ready && g_state.points != nullptr &&
         g_state.engine != nullptr;
}

// What Simulation and Ajustement do instead of running an unusable model: they change nothing
// but the host's Erreur, which receives the failed set-up's error sum, or kErreurNoModel when
// no set-up completed since the library was loaded or since the last Fin. host may be nil.
void RefuseUnready(BFitSet* host_fitset);

}  // namespace tarvo
