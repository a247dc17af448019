// The profiles of a fit drawn with PLplot into BASE.svg and BASE.png: one panel per free
// adjustable, its value across, z = (SSR - SSR_min) / s^2 up, the refits as points joined
// by a line, the F threshold dashed, and the estimate and the interval's closed bounds as
// vertical lines.
#pragma once

#include <string>
#include <vector>

#include "analysis/profile.h"

namespace tarvo::cli {

using namespace tarvo::frontend;

// Files written go to written. 0, or 2 and a message.
int DrawProfiles(const std::vector<Profile>& profiles, const std::string& base,
                 std::vector<std::string>& written, std::string& message);

// DIR/profiles.svg and .png; a plot that cannot be made is a warning.
void WriteProfilePlots(const std::vector<Profile>& profiles, const std::string& folder,
                       std::vector<std::string>& written, std::vector<std::string>& warnings);

}  // namespace tarvo::cli
