// What the exchange file layers of every platform share: the open calls' bookkeeping and the
// wording of their failures, so a host sees the same messages on Linux and on Windows. Each
// platform file implements OpenExchangeFile with its own file calls.
#pragma once

#include <cstdint>
#include <string>

#include "platform/exchange_file.h"

namespace tarvo {

// Platform part of an open: closes f, opens path, raises on failure, then calls BindOpened.
void OpenExchangeFile(ExchangeFile& f, const std::u16string& path, std::size_t record_size,
                      bool writing, int32_t expected);
void BindOpened(ExchangeFile& f, void* handle, const std::u16string& path,
                std::size_t record_size, bool writing, int32_t expected);

// "<what> exchange file '<path>': <cause>"
[[noreturn]] void RaiseFileFailure(const char* what, const std::u16string& path,
                                   const std::string& cause);
// Refuses a path with an embedded NUL, which would name another file once handed to the system.
void CheckPathHasNoNul(const char* what, const std::u16string& path);
[[noreturn]] void RaiseNotOpen(const ExchangeFile& f);
// The record after the last one read is missing.
[[noreturn]] void RaiseTooShort(const ExchangeFile& f);

}  // namespace tarvo
