// Host records and the exchange file: field offsets are pinned by static_assert in
// library/records.h; here a file record travels through the file layer byte for byte, and
// the file's failures raise input/output failures that name the file and the cause.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "library/records.h"
#include "platform/exchange_file.h"
#include "platform/failure.h"
#include "platform/variant.h"

using namespace tarvo;

namespace {

// A scratch folder of this test process, removed at the end.
struct ScratchDir {
  std::filesystem::path dir;
  ScratchDir() {
    dir = std::filesystem::temp_directory_path() /
          ("tarvo_layouts_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~ScratchDir() { std::filesystem::remove_all(dir); }
  std::u16string Path(const std::u16string& name) const {
    return FromUtf8(dir.string()) + u"/" + name;
  }
};

FileRecord MakeRecord(int n) {
  FileRecord r;
  std::memset(&r, 0, sizeof r);
  r.Interval = static_cast<SmallInt>(n + 1);
  for (int o = 0; o < kMaxOutputs; ++o) {
    r.NRep[o] = static_cast<SmallInt>((n + o) % 11);
    r.YCalc[o] = -1.5 * o - n;
    for (int k = 0; k < kMaxReplicates; ++k) r.YExp[o][k] = 1000.0 * n + 10.0 * o + k + 0.25;
  }
  r.Time = 0.5 * n + 1.0 / 3.0;
  return r;
}

template <class T>
T ReadAt(const std::vector<unsigned char>& bytes, std::size_t offset) {
  T v;
  std::memcpy(&v, bytes.data() + offset, sizeof v);
  return v;
}

std::vector<unsigned char> FileBytes(const std::u16string& path) {
  std::ifstream in(ToUtf8(path), std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

std::string RaisedMessage(const std::function<void()>& f, FailureKind expected) {
  try {
    f();
  } catch (const Failure& e) {
    EXPECT_EQ(e.kind, expected);
    return e.message;
  }
  return "(nothing raised)";
}

}  // namespace

TEST(ExchangeFile, RecordsRoundTripByteForByte) {
  ScratchDir scratch;
  // A name outside ASCII, with a character beyond the 16-bit plane.
  const std::u16string path = scratch.Path(u"donn\u00e9es_\U0001F600.dat");
  constexpr int kRecords = 5;

  ExchangeFile f;
  FileOpenWrite(f, path, sizeof(FileRecord));
  for (int n = 0; n < kRecords; ++n) {
    const FileRecord r = MakeRecord(n);
    FileWriteRecord(f, &r);
  }
  FileClose(f);
  EXPECT_EQ(f.handle, nullptr);
  ASSERT_TRUE(FileExists(path));

  // The file is headerless little-endian records at the host's offsets.
  const std::vector<unsigned char> bytes = FileBytes(path);
  ASSERT_EQ(bytes.size(), kRecords * 3616u);
  for (int n = 0; n < kRecords; ++n) {
    SCOPED_TRACE(n);
    const std::size_t base = 3616u * n;
    const FileRecord expected = MakeRecord(n);
    EXPECT_EQ(ReadAt<int16_t>(bytes, base + 0), expected.Interval);
    EXPECT_EQ(ReadAt<int16_t>(bytes, base + 8 + 2 * 39), expected.NRep[39]);
    EXPECT_EQ(ReadAt<double>(bytes, base + 88), expected.Time);
    EXPECT_EQ(ReadAt<double>(bytes, base + 96 + 80 * 6 + 8 * 3), expected.YExp[6][3]);
    EXPECT_EQ(ReadAt<double>(bytes, base + 3296 + 8 * 39), expected.YCalc[39]);
  }

  FileOpenRead(f, path, sizeof(FileRecord), kRecords);
  for (int n = 0; n < kRecords; ++n) {
    FileRecord back;
    FileReadRecord(f, &back);
    const FileRecord expected = MakeRecord(n);
    EXPECT_EQ(std::memcmp(&back, &expected, sizeof back), 0) << "record " << n + 1;
  }
  EXPECT_EQ(f.records, kRecords);
  FileClose(f);
  FileClose(f);  // closing twice is harmless

  // Writing truncates what was there.
  FileOpenWrite(f, path, sizeof(FileRecord));
  const FileRecord one = MakeRecord(9);
  FileWriteRecord(f, &one);
  FileClose(f);
  EXPECT_EQ(FileBytes(path).size(), 3616u);

  FileErase(path);
  EXPECT_FALSE(FileExists(path));
}

TEST(ExchangeFile, FailuresNameTheFileAndTheCause) {
  ScratchDir scratch;
  const std::u16string two = scratch.Path(u"two.dat");
  {
    ExchangeFile f;
    FileOpenWrite(f, two, sizeof(FileRecord));
    for (int n = 0; n < 2; ++n) {
      const FileRecord r = MakeRecord(n);
      FileWriteRecord(f, &r);
    }
    FileClose(f);
  }
  const std::u16string partial = scratch.Path(u"partial.dat");
  {
    std::ofstream out(ToUtf8(partial), std::ios::binary);
    out << std::string(3616 + 100, 'x');
  }
  const std::string dir = ToUtf8(scratch.Path(u""));
  const std::u16string missing = scratch.Path(u"x.dat");

  // Reads records until the file layer raises; returns its message.
  auto read_all = [](const std::u16string& path, int expected) {
    return [path, expected] {
      ExchangeFile f;
      FileOpenRead(f, path, sizeof(FileRecord), expected);
      FileRecord r;
      for (int n = 0; n < 1000; ++n) {
        try {
          FileReadRecord(f, &r);
        } catch (...) {
          EXPECT_EQ(f.handle, nullptr) << "a failed read leaves the file closed";
          throw;
        }
      }
      FileClose(f);
    };
  };

  struct Case {
    const char* name;
    std::function<void()> action;
    std::string message;
  };
  const Case cases[] = {
      {"missing file", read_all(missing, 5),
       "cannot open exchange file '" + dir + "x.dat': No such file or directory"},
      {"short file with a known count", read_all(two, 5),
       "exchange file '" + dir + "two.dat' is too short: record 3 of 5 missing"},
      {"partial last record", read_all(partial, 0),
       "exchange file '" + dir + "partial.dat' is too short: record 2 missing"},
      {"folder that does not exist",
       [&] {
         ExchangeFile f;
         FileOpenWrite(f, scratch.Path(u"no/such/dir.dat"), sizeof(FileRecord));
       },
       "cannot create exchange file '" + dir + "no/such/dir.dat': No such file or directory"},
      {"erase a missing file", [&] { FileErase(missing); },
       "cannot erase exchange file '" + dir + "x.dat': No such file or directory"},
      {"embedded NUL in the name",
       [&] {
         ExchangeFile f;
         FileOpenRead(f, two + std::u16string(1, u'\0') + u"x", sizeof(FileRecord));
       },
       "cannot open exchange file '" + dir + "two.dat" + std::string(1, '\0') +
           "x': the name contains a NUL character"},
      {"read from a closed file",
       [&] {
         ExchangeFile f;
         f.path = two;
         FileRecord r;
         FileReadRecord(f, &r);
       },
       "exchange file '" + dir + "two.dat' is not open"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RaisedMessage(c.action, FailureKind::InputOutput), c.message);
  }
  EXPECT_TRUE(FileExists(two)) << "a failed read leaves the file in place";
}

// Records that cannot reach the disk must not pass for written: the loss shows at the latest
// when the file is closed.
TEST(ExchangeFile, LostWriteIsReported) {
  if (!FileExists(u"/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  const std::string message = RaisedMessage(
      [] {
        ExchangeFile f;
        FileOpenWrite(f, u"/dev/full", sizeof(FileRecord));
        const FileRecord r = MakeRecord(0);
        try {
          FileWriteRecord(f, &r);
          FileClose(f);
        } catch (...) {
          EXPECT_EQ(f.handle, nullptr);
          throw;
        }
      },
      FailureKind::InputOutput);
  EXPECT_EQ(message, "cannot write exchange file '/dev/full': No space left on device");
}
