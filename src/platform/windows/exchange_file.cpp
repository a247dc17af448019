// The exchange file on Windows: the platform's own file calls on the wide-character path, so
// that any name the host can hold in a string (non-ASCII letters included) reaches the file
// system unchanged. Records are read and written one call each, without a second buffer.
#include <cstdint>
#include <string>

#include "platform/exchange_file.h"
#include "platform/exchange_file_common.h"
#include "platform/failure.h"
#include "platform/variant.h"

namespace tarvo {

namespace {

HANDLE Handle(const ExchangeFile& f) { return static_cast<HANDLE>(f.handle); }

// The causes a host is likely to meet get the same words on every platform; anything else
// carries the system's error number.
std::string ErrorText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "the file is in use by another process";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_WRITE_PROTECT:
      return "Read-only file system";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return "the file name is not valid";
    case ERROR_FILENAME_EXCED_RANGE:
      return "File name too long";
    default:
      return "Windows error " + std::to_string(error);
  }
}

[[noreturn]] void RaiseError(const char* what, const std::u16string& path, DWORD error) {
  RaiseFileFailure(what, path, ErrorText(error));
}

std::wstring SystemPath(const char* what, const std::u16string& path) {
  CheckPathHasNoNul(what, path);
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16");
  return std::wstring(path.begin(), path.end());
}

// Forgets the handle without reporting anything: used on the way to raising another failure.
void Abandon(ExchangeFile& f) {
  if (HANDLE h = Handle(f)) CloseHandle(h);
  f.handle = nullptr;
}

}  // namespace

void OpenExchangeFile(ExchangeFile& f, const std::u16string& path, std::size_t record_size,
                      bool writing, int32_t expected) {
  FileClose(f);
  const char* what = writing ? "cannot create" : "cannot open";
  const std::wstring name = SystemPath(what, path);
  HANDLE h = writing ? CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                     : CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) RaiseError(what, path, GetLastError());
  BindOpened(f, h, path, record_size, writing, expected);
}

void FileReadRecord(ExchangeFile& f, void* record) {
  HANDLE h = Handle(f);
  if (!h || f.writing) RaiseNotOpen(f);
  auto* bytes = static_cast<unsigned char*>(record);
  std::size_t got = 0;
  while (got < f.record_size) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(f.record_size - got);
    if (!ReadFile(h, bytes + got, want, &n, nullptr)) {
      const DWORD error = GetLastError();
      Abandon(f);
      RaiseError("cannot read", f.path, error);
    }
    if (n == 0) break;  // end of file
    got += n;
  }
  if (got == f.record_size) {
    f.records += 1;
    return;
  }
  Abandon(f);
  RaiseTooShort(f);
}

void FileWriteRecord(ExchangeFile& f, const void* record) {
  HANDLE h = Handle(f);
  if (!h || !f.writing) RaiseNotOpen(f);
  DWORD n = 0;
  const DWORD want = static_cast<DWORD>(f.record_size);
  if (!WriteFile(h, record, want, &n, nullptr)) {
    const DWORD error = GetLastError();
    Abandon(f);
    RaiseError("cannot write", f.path, error);
  }
  if (n != want) {  // a short write without an error: the disk is full
    Abandon(f);
    RaiseError("cannot write", f.path, ERROR_HANDLE_DISK_FULL);
  }
  f.records += 1;
}

void FileClose(ExchangeFile& f) {
  HANDLE h = Handle(f);
  if (!h) return;
  f.handle = nullptr;
  // Written records went to the system with each WriteFile; only the close can still fail.
  if (!CloseHandle(h) && f.writing) RaiseError("cannot write", f.path, GetLastError());
}

void FilePrepareRewrite(ExchangeFile& f) { f.system_path.clear(); }

void FileRewrite(ExchangeFile& f, const void* data, std::size_t record_size, int32_t records) {
  FileClose(f);
  CheckPathHasNoNul("cannot create", f.path);
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16");
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(f.path.c_str()), GENERIC_WRITE,
                         FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) RaiseError("cannot create", f.path, GetLastError());
  f.record_size = record_size;
  f.records = records;
  const auto* bytes = static_cast<const unsigned char*>(data);
  const std::size_t total = record_size * static_cast<std::size_t>(records < 0 ? 0 : records);
  std::size_t done = 0;
  DWORD error = 0;
  while (done < total && error == 0) {
    DWORD n = 0;
    const std::size_t left = total - done;
    const DWORD want = static_cast<DWORD>(left > 0x40000000u ? 0x40000000u : left);
    if (!WriteFile(h, bytes + done, want, &n, nullptr))
      error = GetLastError();
    else if (n == 0)
      error = ERROR_HANDLE_DISK_FULL;  // a short write without an error: the disk is full
    done += n;
  }
  if (!CloseHandle(h) && error == 0) error = GetLastError();
  if (error != 0) RaiseError("cannot write", f.path, error);
}

void FileErase(const std::u16string& path) {
  const std::wstring name = SystemPath("cannot erase", path);
  if (!DeleteFileW(name.c_str())) RaiseError("cannot erase", path, GetLastError());
}

bool FileExists(const std::u16string& path) {
  if (path.find(u'\0') != std::u16string::npos) return false;
  const std::wstring name(path.begin(), path.end());
  return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace tarvo
