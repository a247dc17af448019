// The calls a host makes into Tarvo_64, with C linkage and no decoration. Every argument is an
// address; the records and blocks are laid out as library/records.h fixes them.
//
//   Calcul_initial  loads and compiles one model (a model still loaded is released first);
//                   its report is BFitSet.Erreur, 0 when the model is ready.
//   Simulation      simulates the loaded model once, computes the fit statistics, rewrites the
//                   exchange file and copies BFitSet (and, when Erreur is 0, the adjustables'
//                   values and flags) back. The third argument is never read.
//   Ajustement      one fitting iteration (same arguments as Simulation).
//   Fin             releases the model and erases the exchange file; mode is read by no one,
//                   both modes release everything. A Fin without a loaded model does nothing.
//
// Simulation and Ajustement without a model that set up with Erreur 0 change nothing but the
// host's Erreur (see README, "Erreur codes and call order"). No call lets a C++ exception out:
// a raised failure is recorded for Tarvo_last_failure (api/boundary.h).
#pragma once

#include <cstdint>

#include "library/records.h"
#include "platform/export.h"

extern "C" {

TARVO_API void Calcul_initial(tarvo::BInitials* initials, tarvo::BFitSet* fitset,
                              VARIANT* especes, tarvo::BAjustables* adjustables,
                              VARIANT* parametres, tarvo::BSorties* sorties, VARIANT* derivees);
TARVO_API void Simulation(tarvo::BInitials* initials, tarvo::BFitSet* fitset, void* unused,
                          tarvo::BAjustables* adjustables);
TARVO_API void Ajustement(tarvo::BInitials* initials, tarvo::BFitSet* fitset, void* unused,
                          tarvo::BAjustables* adjustables);
TARVO_API void Fin(const int16_t* mode);
TARVO_API int32_t Tarvo_last_failure(char* utf8_message, int32_t capacity);

}  // extern "C"

namespace tarvo {

// The engine state the exported calls act on (C++ callers inside the library's own programs:
// tests, tools; a host sees only the calls above).
struct EngineState;
EngineState& ProcessState();

}  // namespace tarvo
