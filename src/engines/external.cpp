#include "engines/external.h"

#include <atomic>

namespace tarvo {

namespace {

std::atomic<const ExternalMethodTable*> registered{nullptr};

}  // namespace

void RegisterExternalMethods(const ExternalMethodTable* table) {
  registered.store(table, std::memory_order_release);
}

const ExternalMethodTable* RegisteredExternalMethods() {
  return registered.load(std::memory_order_acquire);
}

const ExternalMethod* FindExternalMethod(const ExternalMethodTable* table,
                                         std::u16string_view name) {
  if (!table || !table->methods) return nullptr;
  for (int32_t k = 0; k < table->count; ++k)
    if (table->methods[k].name == name) return &table->methods[k];
  return nullptr;
}

}  // namespace tarvo
