// The thread cap a user sets for the library and the analyses above it, as a caller above the
// api sees it: TARVO_THREADS as a positive count, 0 when unset or not a positive number.
#pragma once

#include "library/workers.h"
