// The host of api/host_records.h bound to the exported calls and OLE functions this program
// links (tests, benchmarks, fuzz targets): the same records and calls a macro host makes,
// without loading the library.
#pragma once

#include <string>
#include <utility>

#include "api/exports.h"
#include "api/host_records.h"

namespace tarvo {

inline HostCalls LinkedCalls() {
  return {&::Calcul_initial, &::Simulation, &::Ajustement, &::Fin, &::Tarvo_last_failure};
}

class LinkedHost : public SheetHost {
 public:
  explicit LinkedHost(const HostSheet& sheet, std::string path = "")
      : SheetHost(sheet, LinkedCalls(), LinkedOle(), std::move(path)) {}
};

}  // namespace tarvo
