// Loading one model: the body of the exported Calcul_initial.
//
// In: the host's records and blocks, shaped as records.h describes (the Variant tables
// column-major, Especes and Parametres with NInterrupts+1 columns). Out: the engine state
// holds the compiled model and the point table; the host's BFitSet receives Done = false and
// the error sum added to its Erreur (0: ready); the host's BAjustables may have EqualTo cells
// emptied and Adjustable flags cleared. Each adjustable's SD starts from the host's SD entry
// and its dP from 0. A model already loaded is released first (its exchange file is left
// alone), and the constant table starts afresh.
//
// A model whose counts leave the fixed tables (BInitials counts, replicate counts or intervals
// of the exchange file) is refused: a code of erreur_codes.h is added to Erreur and the last
// failure record names the count and its limit (kind Refused). Raised failures: exchange file
// trouble (InputOutput), a formula cell that is not text (VariantConversion); the state is
// then left loaded but unusable, safe to Fin.
//
// extra: the external methods (engines/external.h) that Method may also name; nil (the
// exported call) accepts the built-in four only. An external method that cannot integrate the
// model (its unsuitable hook gives a reason) adds kErreurMethod, and the failure record says
// why (kind Refused).
#pragma once

#include "engines/external.h"
#include "library/state.h"
#include "library/records.h"

namespace tarvo {

void SetupModel(EngineState& st, const BInitials* initials, BFitSet* fitset, const VARIANT* especes,
                BAjustables* adjustables, const VARIANT* parametres, const BSorties* sorties,
                const VARIANT* derivees, const ExternalMethodTable* extra = nullptr);

}  // namespace tarvo
