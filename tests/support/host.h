// The test host: the shared host of api/host_records.h (records built as a macro host builds
// them, every string a BSTR from the library's exported SysAllocStringLen; the exchange file;
// Calcul_initial, Simulation, Ajustement and Fin) bound to the calls this program links, under
// the names the tests use. Each Host gets its own exchange file in the temporary directory,
// removed when the Host goes if Fin left it there. It never calls Fin by itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "api/linked_host.h"

namespace tarvo::testhost {

using Model = HostSheet;
using Point = HostPoint;
using Adjustable = HostSheet::Adjustable;
using Rate = HostSheet::Rate;

inline constexpr int kFreeTerm = kFreeTermColumn;

class Host : public LinkedHost {
 public:
  explicit Host(const Model& model) : LinkedHost(model) {}

  // Tarvo_last_failure: the kind, and the message into *message when given.
  static int32_t LastFailure(std::string* message = nullptr);

  std::string EqualToText(int a) { return Text(EqualTo(a)); }

  static void SetText(VARIANT& v, std::string_view utf8);
  static std::string Text(const VARIANT& v);
};

}  // namespace tarvo::testhost
