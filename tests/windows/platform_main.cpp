// The Windows platform layer on its own, run under Wine beside the test host: Variant cells
// written and copied through oleaut32, the shared text forms read back from them, and the
// exchange file on wide-character paths.
//
// Prints one line per check and closes with "N passed, M failed"; exit status 0 only when
// nothing failed.
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "platform/exchange_file.h"
#include "platform/failure.h"
#include "platform/variant.h"

using namespace tarvo;

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what, const std::string& detail = "") {
  ok ? ++g_passed : ++g_failed;
  std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
              detail.c_str());
}

// The failure kind a call raises (None when it returns) and its message.
FailureKind Raised(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const Failure& e) {
    if (message) *message = e.message;
    return e.kind;
  }
  return FailureKind::None;
}

BSTR Alloc(std::u16string_view s) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()),
                           static_cast<UINT>(s.size()));
}

void VariantCells() {
  // Text written by the library is an oleaut32 string the host can measure and free.
  const std::u16string texts[] = {u"", u"RUNGE-KUTTA QC", u"k\u00e9\u03ba\U0001F600",
                                  std::u16string(u"a\0b", 3)};
  for (const std::u16string& t : texts) {
    VARIANT v;
    VariantInit(&v);
    VariantSetText(v, t);
    const bool ok = v.vt == VT_BSTR && SysStringLen(v.bstrVal) == t.size() &&
                    SysStringByteLen(v.bstrVal) == 2 * t.size() &&
                    v.bstrVal[t.size()] == 0 && VariantToText(v) == t;
    Check(ok, "VariantSetText of " + std::to_string(t.size()) + " units gives a system BSTR");
    Check(VariantClear(&v) == S_OK && v.vt == VT_EMPTY, "the host frees it with VariantClear");
  }

  // Replacing a cell's string by a view of itself, and over a number.
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_BSTR;
  self.bstrVal = Alloc(u"A1*2");
  VariantSetText(self, BstrText(self.bstrVal).substr(0, 2));
  Check(VariantToText(self) == u"A1", "VariantSetText from a view of the cell itself");
  VariantRelease(self);
  Check(self.vt == VT_EMPTY, "VariantRelease leaves the cell Empty");

  // Managed assignment: fresh copies, the destination's old string freed, NULL kept NULL.
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_BSTR;
  src.bstrVal = Alloc(u"CHU-BERMAN");
  VariantSetText(dst, u"old");
  VariantAssign(dst, src);
  Check(dst.vt == VT_BSTR && dst.bstrVal != src.bstrVal && VariantToText(dst) == u"CHU-BERMAN",
        "VariantAssign copies the string");
  VariantAssign(dst, dst);
  Check(VariantToText(dst) == u"CHU-BERMAN", "VariantAssign onto itself keeps the string");
  SysFreeString(src.bstrVal);
  src.bstrVal = nullptr;
  VariantAssign(dst, src);
  // The system may copy a NULL BSTR as NULL or as an empty string; both read as "".
  Check(dst.vt == VT_BSTR && SysStringLen(dst.bstrVal) == 0 && VariantIsEmptyText(dst),
        "a NULL BSTR copies as empty text");
  src.vt = VT_R8;
  src.dblVal = 2.5;
  VariantAssign(dst, src);
  Check(dst.vt == VT_R8 && dst.dblVal == 2.5, "VariantAssign copies a number");
  VariantRelease(dst);

  // Reading cells: the shared text forms, and the typing rule of formula cells.
  struct Case {
    VARTYPE vt;
    double x;
    const char16_t* text;
    bool compares;
  };
  const Case cases[] = {
      {VT_EMPTY, 0, u"", true},   {VT_R8, 2.5, u"2.5", false},   {VT_R8, 1e20, u"1E20", false},
      {VT_I2, -7, u"-7", false}, {VT_BOOL, -1, u"True", false}, {VT_R8, 0, u"0", false},
  };
  for (const Case& c : cases) {
    VARIANT v;
    VariantInit(&v);
    v.vt = c.vt;
    if (c.vt == VT_R8) v.dblVal = c.x;
    if (c.vt == VT_I2) v.iVal = static_cast<SHORT>(c.x);
    if (c.vt == VT_BOOL) v.boolVal = static_cast<VARIANT_BOOL>(c.x);
    const std::string name = "cell of type " + std::to_string(c.vt);
    Check(VariantToText(v) == c.text, name + " reads as '" + ToUtf8(c.text) + "'");
    const FailureKind kind = Raised([&] { VariantIsEmptyText(v); });
    Check(kind == (c.compares ? FailureKind::None : FailureKind::VariantConversion),
          name + (c.compares ? " compares as text" : " cannot be compared with text"));
  }
}

std::u16string Folder() {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetCurrentDirectoryW(MAX_PATH, buffer);
  std::u16string folder(buffer, buffer + n);
  folder += u"\\\u00e9change \u03ba\u03b1\u03b9 \u65e5\u672c";
  CreateDirectoryW(std::wstring(folder.begin(), folder.end()).c_str(), nullptr);
  return folder;
}

void ExchangeFiles() {
  const std::u16string folder = Folder();
  const std::u16string path = folder + u"\\donn\u00e9es \U0001F600.dat";
  constexpr std::size_t kSize = 3616;
  unsigned char out[2][kSize], in[kSize];
  for (std::size_t i = 0; i < kSize; ++i) {
    out[0][i] = static_cast<unsigned char>(i * 7);
    out[1][i] = static_cast<unsigned char>(255 - i);
  }

  ExchangeFile f;
  const FailureKind wrote = Raised([&] {
    FileOpenWrite(f, path, kSize);
    FileWriteRecord(f, out[0]);
    FileWriteRecord(f, out[1]);
    FileClose(f);
  });
  Check(wrote == FailureKind::None && FileExists(path), "write a file at a non-ASCII path");
  // The name on disk is the one the host gave, not a transliteration.
  const std::wstring wide(path.begin(), path.end());
  Check(GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES,
        "the system finds it under its wide name");

  bool same = true;
  const FailureKind read = Raised([&] {
    FileOpenRead(f, path, kSize, 2);
    for (auto& record : out) {
      FileReadRecord(f, in);
      same = same && std::memcmp(in, record, kSize) == 0;
    }
    FileClose(f);
  });
  Check(read == FailureKind::None && same, "read the records back");

  std::string message;
  const FailureKind short_file = Raised(
      [&] {
        FileOpenRead(f, path, kSize, 3);
        for (int i = 0; i < 3; ++i) FileReadRecord(f, in);
      },
      &message);
  Check(short_file == FailureKind::InputOutput && f.handle == nullptr &&
            message.find("record 3 of 3 missing") != std::string::npos,
        "a short file is an input/output failure", message);

  // A written file is truncated when written again.
  Raised([&] {
    FileOpenWrite(f, path, kSize);
    FileWriteRecord(f, out[1]);
    FileClose(f);
  });
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data);
  Check(data.nFileSizeLow == kSize && data.nFileSizeHigh == 0, "writing truncates the file");

  Check(Raised([&] { FileErase(path); }) == FailureKind::None && !FileExists(path),
        "erase the file");

  const std::u16string missing = folder + u"\\missing.dat";
  const FailureKind open_missing = Raised([&] { FileOpenRead(f, missing, kSize); }, &message);
  Check(open_missing == FailureKind::InputOutput &&
            message == "cannot open exchange file '" + ToUtf8(missing) +
                           "': No such file or directory",
        "a missing file is an input/output failure", message);
  const FailureKind erase_missing = Raised([&] { FileErase(missing); }, &message);
  Check(erase_missing == FailureKind::InputOutput &&
            message.find("cannot erase exchange file") == 0,
        "erasing a missing file is an input/output failure", message);
  const FailureKind no_folder =
      Raised([&] { FileOpenWrite(f, folder + u"\\no such folder\\x.dat", kSize); }, &message);
  Check(no_folder == FailureKind::InputOutput, "creating a file in a missing folder fails",
        message);
  const FailureKind nul = Raised(
      [&] { FileOpenWrite(f, std::u16string(u"x\0y.dat", 7), kSize); }, &message);
  Check(nul == FailureKind::InputOutput && message.find("NUL") != std::string::npos,
        "a name with a NUL character is refused");
  RemoveDirectoryW(std::wstring(folder.begin(), folder.end()).c_str());
}

}  // namespace

int main() {
  VariantCells();
  ExchangeFiles();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
