#include "engines/external/method_library.h"

#include "engines/external/bdf.h"
#include "engines/external/exact.h"

namespace tarvo {

// Made at the first use, so that a registration from another file's static initialiser finds
// the table built.
const ExternalMethodTable& MethodLibraryTable() {
  static const ExternalMethod methods[] = {ExactMethod(), BdfMethod()};
  static const ExternalMethodTable table{methods, 2};
  return table;
}

void RegisterMethodLibrary() { RegisterExternalMethods(&MethodLibraryTable()); }

}  // namespace tarvo
