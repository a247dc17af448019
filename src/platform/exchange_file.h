// The exchange file: fixed-size little-endian records without header, one per experimental
// point. Open for reading or for writing (truncating), read or write one record, close, erase.
// Every failure raises FailureKind::InputOutput with a message naming the file and the cause
// ("cannot open exchange file 'x.dat': No such file or directory").
#pragma once

#include <cstddef>
#include <string>

namespace tarvo {

struct ExchangeFile {
  void* handle = nullptr;   // platform file handle, nil when closed
  std::u16string path;      // the path the file is bound to
  std::size_t record_size = 0;
};

void FileOpenRead(ExchangeFile& f, const std::u16string& path, std::size_t record_size);
void FileOpenWrite(ExchangeFile& f, const std::u16string& path, std::size_t record_size);
void FileReadRecord(ExchangeFile& f, void* record);        // raises on a short read
void FileWriteRecord(ExchangeFile& f, const void* record);
void FileClose(ExchangeFile& f);                            // safe when already closed
void FileErase(const std::u16string& path);                 // raises when it cannot be erased
bool FileExists(const std::u16string& path);

}  // namespace tarvo
