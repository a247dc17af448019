// The last-failure record of the exported calls and its reader, Tarvo_last_failure.
//
// The message buffer is reserved once at load, so recording a failure allocates nothing and
// cannot fail inside the catch handlers of Guarded.
#include "api/boundary.h"

#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tarvo {

namespace {

struct LastFailure {
  FailureKind kind = FailureKind::None;
  std::string message;
  LastFailure() { message.reserve(kMaxFailureMessage + 1); }
};

LastFailure g_last;

}  // namespace

std::size_t Utf8Prefix(const char* text, std::size_t n, std::size_t limit) noexcept {
  if (n <= limit) return n;
  std::size_t cut = limit;
  // Step back over continuation bytes to the start of the character the cut would split.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

void ClearLastFailure() noexcept {
  g_last.kind = FailureKind::None;
  g_last.message.clear();
}

void SetLastFailure(FailureKind kind, const char* message) noexcept {
  g_last.kind = kind;
  g_last.message.clear();
  if (!message) return;
  const std::size_t n = std::strlen(message);
  // Within the reserved capacity: no allocation.
  g_last.message.append(message, Utf8Prefix(message, n, kMaxFailureMessage));
}

void SetLastFailure(FailureKind kind, std::string message) {
  SetLastFailure(kind, message.c_str());
}

FailureKind LastFailureKind() { return g_last.kind; }

const std::string& LastFailureMessage() { return g_last.message; }

void LeaveAfterFailure() {
#if defined(_WIN32)
  const ULONG_PTR kind = static_cast<ULONG_PTR>(g_last.kind);
  RaiseException(kFailureExceptionBase + static_cast<DWORD>(g_last.kind), 0, 1, &kind);
#endif
}

}  // namespace tarvo

extern "C" TARVO_API int32_t Tarvo_last_failure(char* utf8_message, int32_t capacity) {
  using namespace tarvo;
  if (utf8_message && capacity > 0) {
    const std::string& m = g_last.message;
    const std::size_t n =
        Utf8Prefix(m.data(), m.size(), static_cast<std::size_t>(capacity) - 1);
    std::memcpy(utf8_message, m.data(), n);
    utf8_message[n] = '\0';
  }
  return static_cast<int32_t>(g_last.kind);
}
