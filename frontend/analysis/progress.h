// How a long analysis reports as it goes: one line of text per step (a start of a
// multi-start fit, a profile), handed to the caller, who decides whether and where to show it.
// An empty function shows nothing.
#pragma once

#include <functional>
#include <string>

namespace tarvo::frontend {

using ProgressNote = std::function<void(const std::string& line)>;

}  // namespace tarvo::frontend
