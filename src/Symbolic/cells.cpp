#include "Symbolic/cells.h"

namespace tarvo {

FormulaCells g_cells{};
ConstantTable g_constants{{0.0}, 1};

}  // namespace tarvo
