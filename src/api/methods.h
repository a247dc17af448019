// The integration methods as a caller above the api sees them: the method table set-up
// compares Method with (kMethods, EngineForMethod) and every method's facts (kMethodFacts,
// FactsForMethod: fixed steps, the method library's, the tolerance range).
#pragma once

#include "engines/methods.h"
