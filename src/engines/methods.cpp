#include "engines/methods.h"

#include "engines/chu_berman.h"
#include "engines/rk_qc.h"
#include "engines/runge_kutta.h"

namespace tarvo {

const MethodEntry kMethods[kMethodCount] = {
    {u"CHU-BERMAN", Engine_chu_berman},
    {u"RUNGE-KUTTA QC", Engine_rk_qc},
    {u"RUNGE-KUTTA 4", Engine_rk4},
    {u"RUNGE-KUTTA 5", Engine_rk5},
};

Engine_proc EngineForMethod(std::u16string_view name) {
  for (const MethodEntry& m : kMethods)
    if (name == m.name) return m.engine;
  return nullptr;
}

}  // namespace tarvo
