#include "support/host.h"

#include "platform/variant.h"

namespace tarvo::testhost {

int32_t Host::LastFailure(std::string* message) {
  char buffer[1024];
  const int32_t kind = Tarvo_last_failure(buffer, sizeof buffer);
  if (message) *message = buffer;
  return kind;
}

void Host::SetText(VARIANT& v, std::string_view utf8) { SetHostText(LinkedOle(), v, utf8); }

std::string Host::Text(const VARIANT& v) { return ToUtf8(VariantToText(v)); }

}  // namespace tarvo::testhost
