// The host boundary: every exported call runs its body through Guarded, which clears the last
// failure, catches whatever the body raises (Failure, std::bad_alloc, anything else) and
// records it, so no C++ exception ever leaves the library. On Windows the call then leaves by
// raising a structured exception, so that the host's error handler sees it.
//
// Tarvo_last_failure(buffer, capacity) returns the kind of the last call's failure (0 none,
// 1 input/output, 2 invalid operation, 3 Variant conversion, 4 model refused by Calcul_initial
// with a code in Erreur, the call having returned normally) and copies its message as UTF-8,
// always NUL-terminated and truncated to capacity; a NULL buffer or capacity 0 just returns
// the kind. Reading it clears nothing.
//
// On Windows a failed call leaves through RaiseException with code kFailureExceptionBase +
// kind (0xE0547601 input/output, 0xE0547602 invalid operation, 0xE0547603 Variant
// conversion), continuable, with one parameter: the kind. A host handler that continues
// execution lets the call return normally; the record above is set either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

#include "platform/export.h"
#include "platform/failure.h"

extern "C" TARVO_API int32_t Tarvo_last_failure(char* utf8_message, int32_t capacity);

namespace tarvo {

// Customer-defined (bit 29), error severity; the low byte carries the kind.
inline constexpr uint32_t kFailureExceptionBase = 0xE0547600u;

// The message is kept up to kMaxFailureMessage bytes (cut at a UTF-8 character boundary).
inline constexpr std::size_t kMaxFailureMessage = 1023;

// Longest prefix of text[0..n) not longer than limit that does not split a UTF-8 sequence.
std::size_t Utf8Prefix(const char* text, std::size_t n, std::size_t limit) noexcept;

void ClearLastFailure() noexcept;
void SetLastFailure(FailureKind kind, std::string message);
// Allocation-free form, safe inside a catch handler of a noexcept function.
void SetLastFailure(FailureKind kind, const char* message) noexcept;
FailureKind LastFailureKind();
const std::string& LastFailureMessage();

// Leaves the exported call the platform's way after a recorded failure (a structured
// exception on Windows, a plain return elsewhere).
void LeaveAfterFailure();

template <class Body>
void Guarded(Body&& body) noexcept {
  ClearLastFailure();
  bool failed = false;
  try {
    body();
  } catch (const Failure& f) {
    SetLastFailure(f.kind, f.message.c_str());
    failed = true;
  } catch (const std::bad_alloc&) {
    SetLastFailure(FailureKind::InvalidOperation, "out of memory");
    failed = true;
  } catch (const std::exception& e) {
    SetLastFailure(FailureKind::InvalidOperation, e.what());
    failed = true;
  } catch (...) {
    SetLastFailure(FailureKind::InvalidOperation, "unknown failure");
    failed = true;
  }
  if (failed) LeaveAfterFailure();
}

}  // namespace tarvo
