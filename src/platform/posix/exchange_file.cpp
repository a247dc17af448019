// The exchange file on POSIX systems: C stdio on the path converted to UTF-8, the file name
// encoding of these systems.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/exchange_file.h"
#include "platform/exchange_file_common.h"
#include "platform/failure.h"
#include "platform/variant.h"

namespace tarvo {

namespace {

std::FILE* Stream(const ExchangeFile& f) { return static_cast<std::FILE*>(f.handle); }

[[noreturn]] void RaiseErrno(const char* what, const std::u16string& path, int error) {
  RaiseFileFailure(what, path, std::strerror(error));
}

std::string SystemPath(const char* what, const std::u16string& path) {
  CheckPathHasNoNul(what, path);
  return ToUtf8(path);
}

// Forgets the stream without reporting anything: used on the way to raising another failure.
void Abandon(ExchangeFile& f) {
  if (std::FILE* s = Stream(f)) std::fclose(s);
  f.handle = nullptr;
}

// A file rewritten by every simulation is overwritten in place and cut to the written length
// at close, instead of being truncated on open: the bytes are the same, but ext4 forces a
// truncated-then-rewritten file to disk at close (auto_da_alloc), which made each rewrite
// cost milliseconds of waiting. Missing files are created as before.
std::FILE* OpenForRewrite(const std::string& name) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* s = ::fdopen(fd, "wb");
  if (!s) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return s;
}

}  // namespace

void OpenExchangeFile(ExchangeFile& f, const std::u16string& path, std::size_t record_size,
                      bool writing, int32_t expected) {
  FileClose(f);
  const char* what = writing ? "cannot create" : "cannot open";
  const std::string name = SystemPath(what, path);
  std::FILE* s = writing ? OpenForRewrite(name) : std::fopen(name.c_str(), "rb");
  if (!s) RaiseErrno(what, path, errno);
  // A record is a few kilobytes: with stdio's default buffer each one would be a system call.
  constexpr std::size_t kStreamBuffer = 64 * 1024;
  f.stream_buffer.resize(kStreamBuffer);
  std::setvbuf(s, f.stream_buffer.data(), _IOFBF, f.stream_buffer.size());
  BindOpened(f, s, path, record_size, writing, expected);
}

void FileReadRecord(ExchangeFile& f, void* record) {
  std::FILE* s = Stream(f);
  if (!s || f.writing) RaiseNotOpen(f);
  const std::size_t got = std::fread(record, 1, f.record_size, s);
  if (got == f.record_size) {
    f.records += 1;
    return;
  }
  const int error = errno;
  const bool failed = std::ferror(s) != 0;
  Abandon(f);
  if (failed) RaiseErrno("cannot read", f.path, error);
  RaiseTooShort(f);
}

void FileWriteRecord(ExchangeFile& f, const void* record) {
  std::FILE* s = Stream(f);
  if (!s || !f.writing) RaiseNotOpen(f);
  if (std::fwrite(record, 1, f.record_size, s) != f.record_size) {
    const int error = errno;
    Abandon(f);
    RaiseErrno("cannot write", f.path, error);
  }
  f.records += 1;
}

void FileClose(ExchangeFile& f) {
  std::FILE* s = Stream(f);
  if (!s) return;
  f.handle = nullptr;
  if (!f.writing) {
    std::fclose(s);
    return;
  }
  // Buffered records reach the disk only now; losing them must not pass for success.
  int error = 0;
  if (std::fflush(s) != 0) error = errno;
  // Cut what an earlier, longer content left beyond the records written (regular files only).
  struct stat info {};
  const off_t length = static_cast<off_t>(f.records) * static_cast<off_t>(f.record_size);
  if (error == 0 && ::fstat(::fileno(s), &info) == 0 && S_ISREG(info.st_mode) &&
      info.st_size > length && ::ftruncate(::fileno(s), length) != 0)
    error = errno;
  if (std::fclose(s) != 0 && error == 0) error = errno;
  if (error != 0) RaiseErrno("cannot write", f.path, error);
}

void FilePrepareRewrite(ExchangeFile& f) {
  f.system_path.clear();
  if (f.path.find(u'\0') == std::u16string::npos) f.system_path = ToUtf8(f.path);
}

void FileRewrite(ExchangeFile& f, const void* data, std::size_t record_size, int32_t records) {
  FileClose(f);
  CheckPathHasNoNul("cannot create", f.path);
  const int fd = ::open(f.system_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) RaiseErrno("cannot create", f.path, errno);
  f.record_size = record_size;
  f.records = records;
  const auto* bytes = static_cast<const unsigned char*>(data);
  const std::size_t total = record_size * static_cast<std::size_t>(records < 0 ? 0 : records);
  std::size_t done = 0;
  int error = 0;
  while (done < total && error == 0) {
    const ssize_t n = ::write(fd, bytes + done, total - done);
    if (n > 0)
      done += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EINTR)
      error = errno;
    else if (n == 0)
      error = ENOSPC;
  }
  // Cut what an earlier, longer content left beyond the records written (regular files only).
  struct stat info {};
  const off_t length = static_cast<off_t>(total);
  if (error == 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > length &&
      ::ftruncate(fd, length) != 0)
    error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) RaiseErrno("cannot write", f.path, error);
}

void FileErase(const std::u16string& path) {
  const std::string name = SystemPath("cannot erase", path);
  if (::unlink(name.c_str()) != 0) RaiseErrno("cannot erase", path, errno);
}

bool FileExists(const std::u16string& path) {
  if (path.find(u'\0') != std::u16string::npos) return false;
  struct stat info {};
  return ::stat(ToUtf8(path).c_str(), &info) == 0;
}

}  // namespace tarvo
