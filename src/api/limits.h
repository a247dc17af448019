// The library's fixed sizes (species, intervals, parameters, adjustables, outputs, replicates,
// points) and its magnitude of zero, for callers above the api: a model or data set that
// passes these counts is one the library accepts.
#pragma once

#include "Symbolic/limits.h"
