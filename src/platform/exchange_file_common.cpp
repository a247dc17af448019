#include "platform/exchange_file_common.h"

#include "platform/failure.h"
#include "platform/variant.h"

namespace tarvo {

namespace {

std::string Quoted(const std::u16string& path) { return "'" + ToUtf8(path) + "'"; }

}  // namespace

void BindOpened(ExchangeFile& f, void* handle, const std::u16string& path,
                std::size_t record_size, bool writing, int32_t expected) {
  f.handle = handle;
  f.path = path;
  f.record_size = record_size;
  f.records = 0;
  f.expected = expected;
  f.writing = writing;
}

void RaiseFileFailure(const char* what, const std::u16string& path, const std::string& cause) {
  Raise(FailureKind::InputOutput,
        std::string(what) + " exchange file " + Quoted(path) + ": " + cause);
}

void CheckPathHasNoNul(const char* what, const std::u16string& path) {
  if (path.find(u'\0') != std::u16string::npos)
    RaiseFileFailure(what, path, "the name contains a NUL character");
}

void RaiseNotOpen(const ExchangeFile& f) {
  Raise(FailureKind::InputOutput, "exchange file " + Quoted(f.path) + " is not open");
}

void RaiseTooShort(const ExchangeFile& f) {
  std::string missing = "record " + std::to_string(f.records + 1);
  if (f.expected > 0) missing += " of " + std::to_string(f.expected);
  Raise(FailureKind::InputOutput,
        "exchange file " + Quoted(f.path) + " is too short: " + missing + " missing");
}

void FileOpenRead(ExchangeFile& f, const std::u16string& path, std::size_t record_size) {
  OpenExchangeFile(f, path, record_size, false, 0);
}

void FileOpenRead(ExchangeFile& f, const std::u16string& path, std::size_t record_size,
                  int32_t expected) {
  OpenExchangeFile(f, path, record_size, false, expected);
}

void FileOpenWrite(ExchangeFile& f, const std::u16string& path, std::size_t record_size) {
  OpenExchangeFile(f, path, record_size, true, 0);
}

}  // namespace tarvo
