// The exchange file: fixed-size little-endian records without header, one per experimental
// point. Open for reading or for writing (truncating), read or write one record, close, erase.
// Every failure raises FailureKind::InputOutput with a message naming the file and the cause
// ("cannot open exchange file 'x.dat': No such file or directory"). A failed read or write
// closes the file before it raises, so no handle outlives a failure. Closing a file that was
// written reports a failure to flush it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

struct ExchangeFile {
  void* handle = nullptr;   // platform file handle, nil when closed
  std::u16string path;      // the path the file is bound to
  std::string system_path;  // path in the system's encoding, prepared by FilePrepareRewrite
  std::size_t record_size = 0;
  int32_t records = 0;    // records read or written since the file was opened
  int32_t expected = 0;   // records the caller means to read (for messages); 0: not known
  bool writing = false;
  std::vector<char> stream_buffer;  // the open stream's buffer where the platform sets one
};

void FileOpenRead(ExchangeFile& f, const std::u16string& path, std::size_t record_size);
// The same, naming the number of records the caller will read, so that a short file is
// reported as "record 3 of 5 missing".
void FileOpenRead(ExchangeFile& f, const std::u16string& path, std::size_t record_size,
                  int32_t expected);
void FileOpenWrite(ExchangeFile& f, const std::u16string& path, std::size_t record_size);
void FileReadRecord(ExchangeFile& f, void* record);        // raises on a short read
void FileWriteRecord(ExchangeFile& f, const void* record);
void FileClose(ExchangeFile& f);  // safe when already closed; raises when a write is lost

// The whole file rewritten at once: FilePrepareRewrite converts f.path once (at set-up), then
// every FileRewrite writes bytes (a whole number of records) as the file's new content in one
// write, creating the file when missing and cutting what a longer earlier content left, and
// closes it; failures raise as those of FileOpenWrite, FileWriteRecord and FileClose do.
// FileRewrite allocates nothing unless it raises.
void FilePrepareRewrite(ExchangeFile& f);
void FileRewrite(ExchangeFile& f, const void* data, std::size_t record_size, int32_t records);
void FileErase(const std::u16string& path);                 // raises when it cannot be erased
bool FileExists(const std::u16string& path);

}  // namespace tarvo
