// Raised failures: the few conditions that leave an exported call instead of being added to
// Erreur (exchange file trouble, a Variant that cannot be converted, the power of a negative
// base to a non-integral exponent). They travel as a C++ exception inside the library and are
// turned into the boundary's last-failure record by the exported call (api/boundary.h);
// none ever crosses the boundary.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace tarvo {

// Kinds, as Tarvo_last_failure reports them.
enum class FailureKind : int32_t {
  None = 0,
  InputOutput = 1,
  InvalidOperation = 2,
  VariantConversion = 3,
  // Not raised: Calcul_initial refused a model whose counts leave the library's tables. The
  // call returns normally with a code in Erreur; the record's message names the count.
  Refused = 4,
};

struct Failure : std::exception {
  FailureKind kind;
  std::string message;
  Failure(FailureKind k, std::string m) : kind(k), message(std::move(m)) {}
  const char* what() const noexcept override { return message.c_str(); }
};

[[noreturn]] void Raise(FailureKind kind, std::string message);

}  // namespace tarvo
