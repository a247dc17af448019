#include "platform/failure.h"

namespace tarvo {

void Raise(FailureKind kind, std::string message) { throw Failure(kind, std::move(message)); }

}  // namespace tarvo
