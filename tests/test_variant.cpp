// Variant cells and BSTRs: the exported allocation functions, the text form of every cell
// type, the typing rule of formula cells, copies that never share a string, and UTF-8.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "platform/failure.h"
#include "platform/variant.h"

using namespace tarvo;

namespace {

// A cell that frees what it holds, as a host's managed Variant does.
struct Cell {
  VARIANT v;
  Cell() { VariantInit(&v); }
  Cell(const Cell&) = delete;
  ~Cell() { VariantClear(&v); }
};

void SetString(VARIANT& v, std::u16string_view s) {
  VariantClear(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()));
}

using Fill = std::function<void(VARIANT&)>;

Fill Str(std::u16string s) { return [s](VARIANT& v) { SetString(v, s); }; }
Fill NullBstr() { return [](VARIANT& v) { v.vt = VT_BSTR; v.bstrVal = nullptr; }; }
Fill Typed(VARTYPE vt) { return [vt](VARIANT& v) { v.vt = vt; }; }
Fill R8(double x) { return [x](VARIANT& v) { v.vt = VT_R8; v.dblVal = x; }; }
Fill Date(double x) { return [x](VARIANT& v) { v.vt = VT_DATE; v.date = x; }; }

uint32_t PrefixOf(BSTR b) {
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(b) - 4, 4);
  return bytes;
}

// Failure kind raised by f, None when it returns.
FailureKind KindRaisedBy(const std::function<void()>& f, std::string* message = nullptr) {
  try {
    f();
  } catch (const Failure& e) {
    if (message) *message = e.message;
    return e.kind;
  }
  return FailureKind::None;
}

}  // namespace

TEST(Bstr, LayoutLengthAndTerminator) {
  const std::u16string cases[] = {u"", u"a", u"RUNGE-KUTTA QC", u"\u00e9\U0001F600x",
                                  std::u16string(u"a\0b", 3)};
  for (const auto& text : cases) {
    SCOPED_TRACE(ToUtf8(text));
    BSTR b = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(PrefixOf(b), 2 * text.size());
    EXPECT_EQ(SysStringLen(b), text.size());
    EXPECT_EQ(b[text.size()], 0);
    EXPECT_EQ(BstrText(b), text);
    SysFreeString(b);

    // SysAllocString stops at the first 0 unit.
    BSTR z = SysAllocString(text.c_str());
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(BstrText(z), std::u16string(text.c_str()));
    SysFreeString(z);
  }
}

TEST(Bstr, NullAndDegenerateArguments) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_TRUE(BstrText(nullptr).empty());
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  SysFreeString(nullptr);

  BSTR zeros = SysAllocStringLen(nullptr, 3);  // room for 3 units, filled with 0
  ASSERT_NE(zeros, nullptr);
  EXPECT_EQ(SysStringLen(zeros), 3u);
  EXPECT_EQ(BstrText(zeros), std::u16string(3, u'\0'));
  SysFreeString(zeros);

  // A length whose byte count does not fit the 32-bit prefix is refused, not wrapped.
  EXPECT_EQ(SysAllocStringLen(u"x", 0x80000000u), nullptr);
  EXPECT_EQ(SysAllocStringLen(u"x", 0xFFFFFFFFu), nullptr);

  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  VariantInit(nullptr);
}

TEST(Variant, TextOfEveryCellType) {
  struct Case {
    const char* name;
    Fill fill;
    std::u16string expected;
  };
  const Case cases[] = {
      {"empty", Typed(VT_EMPTY), u""},
      {"null", Typed(VT_NULL), u""},
      {"empty string", Str(u""), u""},
      {"NULL BSTR", NullBstr(), u""},
      {"non-ASCII with surrogate pair", Str(u"k\u2081\u00b7\u03a9\U0001F600"),
       u"k\u2081\u00b7\u03a9\U0001F600"},
      {"int16", [](VARIANT& v) { v.vt = VT_I2; v.iVal = -7; }, u"-7"},
      {"int32", [](VARIANT& v) { v.vt = VT_I4; v.lVal = 123456; }, u"123456"},
      {"single", [](VARIANT& v) { v.vt = VT_R4; v.fltVal = 0.1f; }, u"0.1"},
      {"double 0.1", R8(0.1), u"0.1"},
      {"double 1/3", R8(1.0 / 3.0), u"0.333333333333333"},
      {"double -2.5", R8(-2.5), u"-2.5"},
      {"double 1E20", R8(1e20), u"1E20"},
      {"double 1.5E-7", R8(1.5e-7), u"1.5E-7"},
      {"double 0.0001", R8(0.0001), u"0.0001"},
      {"double 15 digits", R8(123456789012345.0), u"123456789012345"},
      {"double 16 digits", R8(1234567890123456.0), u"1.23456789012346E15"},
      {"double NaN", R8(std::numeric_limits<double>::quiet_NaN()), u"NAN"},
      {"double -inf", R8(-std::numeric_limits<double>::infinity()), u"-INF"},
      {"currency", [](VARIANT& v) { v.vt = VT_CY; v.cyVal.int64 = 12345678; }, u"1234.5678"},
      {"currency negative", [](VARIANT& v) { v.vt = VT_CY; v.cyVal.int64 = -5000; }, u"-0.5"},
      {"date zero", Date(0.0), u"1899-12-30"},
      {"date and time", Date(45000.5), u"2023-03-15 12:00:00"},
      {"time of day", Date(0.75), u"18:00:00"},
      {"negative date", Date(-1.25), u"1899-12-29 06:00:00"},
      {"date rounding to midnight", Date(36526.9999999), u"2000-01-02"},
      {"last date", Date(2958465.0), u"9999-12-31"},
      {"first date", Date(-657434.0), u"0100-01-01"},
      {"true", [](VARIANT& v) { v.vt = VT_BOOL; v.boolVal = -1; }, u"True"},
      {"any non-zero is true", [](VARIANT& v) { v.vt = VT_BOOL; v.boolVal = 1; }, u"True"},
      {"false", [](VARIANT& v) { v.vt = VT_BOOL; v.boolVal = 0; }, u"False"},
      {"uint8", [](VARIANT& v) { v.vt = VT_UI1; v.bVal = 200; }, u"200"},
      {"int64", [](VARIANT& v) { v.vt = VT_I8; v.llVal = INT64_MIN; }, u"-9223372036854775808"},
      {"uint32", [](VARIANT& v) { v.vt = VT_UI4; v.ulVal = 4000000000u; }, u"4000000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Cell cell;
    c.fill(cell.v);
    EXPECT_EQ(ToUtf8(VariantToText(cell.v)), ToUtf8(c.expected));
  }
}

TEST(Variant, TextOfUnconvertibleCellsFails) {
  const Fill cases[] = {Typed(9 /* dispatch */), Typed(VT_BSTR | VT_BYREF),
                        Typed(VT_R8 | VT_ARRAY), Date(2958466.0), Date(-657435.0),
                        Date(std::numeric_limits<double>::quiet_NaN())};
  for (const auto& fill : cases) {
    Cell cell;
    fill(cell.v);
    SCOPED_TRACE(cell.v.vt);
    EXPECT_EQ(KindRaisedBy([&] { VariantToText(cell.v); }), FailureKind::VariantConversion);
    cell.v.vt = VT_EMPTY;  // nothing of these is owned
  }
}

// Formula cells and Method compare as text only when they hold a string or nothing.
TEST(Variant, TypingRuleOfFormulaCells) {
  enum Outcome { kNo, kYes, kFails };
  struct Case {
    const char* name;
    Fill fill;
    Outcome is_empty;
    Outcome equals_method;  // VariantEqualsText(cell, "RUNGE-KUTTA 4")
  };
  const Case cases[] = {
      {"empty", Typed(VT_EMPTY), kYes, kNo},
      {"null", Typed(VT_NULL), kYes, kNo},
      {"empty string", Str(u""), kYes, kNo},
      {"NULL BSTR", NullBstr(), kYes, kNo},
      {"the method name", Str(u"RUNGE-KUTTA 4"), kNo, kYes},
      {"other case", Str(u"runge-kutta 4"), kNo, kNo},
      {"trailing space", Str(u"RUNGE-KUTTA 4 "), kNo, kNo},
      {"prefix", Str(u"RUNGE-KUTTA"), kNo, kNo},
      {"embedded NUL", Str(std::u16string(u"RUNGE-KUTTA 4\0", 14)), kNo, kNo},
      {"the text 0", Str(u"0"), kNo, kNo},
      {"double", R8(5.0), kFails, kFails},
      {"double zero", R8(0.0), kFails, kFails},
      {"int16", Typed(VT_I2), kFails, kFails},
      {"date", Date(1.0), kFails, kFails},
      {"boolean", Typed(VT_BOOL), kFails, kFails},
      {"dispatch", Typed(9), kFails, kFails},
  };
  auto outcome = [](const std::function<bool()>& f) {
    try {
      return f() ? kYes : kNo;
    } catch (const Failure& e) {
      EXPECT_EQ(e.kind, FailureKind::VariantConversion);
      return kFails;
    }
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Cell cell;
    c.fill(cell.v);
    EXPECT_EQ(outcome([&] { return VariantIsEmptyText(cell.v); }), c.is_empty);
    EXPECT_EQ(outcome([&] { return VariantEqualsText(cell.v, u"RUNGE-KUTTA 4"); }),
              c.equals_method);
    if (cell.v.vt == 9) cell.v.vt = VT_EMPTY;
  }

  Cell number;
  R8(5.0)(number.v);
  std::string message;
  KindRaisedBy([&] { VariantIsEmptyText(number.v); }, &message);
  EXPECT_EQ(message, "cannot compare a Variant of type 5 (double) with text");
  Cell empty;
  EXPECT_TRUE(VariantEqualsText(empty.v, u""));
}

TEST(Variant, AssignCopiesAndNeverShares) {
  struct Case {
    const char* name;
    Fill source;
    Fill destination;
  };
  const Case cases[] = {
      {"string over string", Str(u"CHU-BERMAN"), Str(u"old text")},
      {"string over empty", Str(u"\u00e9t\u00e9"), Typed(VT_EMPTY)},
      {"string over number", Str(u"x"), R8(2.0)},
      {"empty string over string", Str(u""), Str(u"old")},
      {"NULL BSTR over string", NullBstr(), Str(u"old")},
      {"number over string", R8(2.5), Str(u"old")},
      {"empty over string", Typed(VT_EMPTY), Str(u"old")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Cell src, dst;
    c.source(src.v);
    c.destination(dst.v);
    const std::u16string before = VariantToText(src.v);
    VariantAssign(dst.v, src.v);
    EXPECT_EQ(dst.v.vt, src.v.vt);
    EXPECT_EQ(VariantToText(dst.v), before);
    EXPECT_EQ(VariantToText(src.v), before);
    if (src.v.vt == VT_BSTR && src.v.bstrVal) {
      EXPECT_NE(dst.v.bstrVal, src.v.bstrVal);
      // Changing the source afterwards leaves the copy alone.
      VariantSetText(src.v, u"changed");
      EXPECT_EQ(VariantToText(dst.v), before);
    }
  }

  Cell self;
  Str(u"same")(self.v);
  const BSTR kept = self.v.bstrVal;
  VariantAssign(self.v, self.v);
  EXPECT_EQ(self.v.bstrVal, kept);
  EXPECT_EQ(VariantToText(self.v), u"same");

  // A source the library cannot copy leaves the destination as it was.
  Cell object, dst;
  object.v.vt = 9;
  Str(u"kept")(dst.v);
  EXPECT_EQ(KindRaisedBy([&] { VariantAssign(dst.v, object.v); }),
            FailureKind::VariantConversion);
  EXPECT_EQ(VariantToText(dst.v), u"kept");
  object.v.vt = VT_EMPTY;
}

TEST(Variant, SetTextClearAndRelease) {
  Cell cell;
  VariantSetText(cell.v, u"");
  EXPECT_EQ(cell.v.vt, VT_BSTR);
  ASSERT_NE(cell.v.bstrVal, nullptr);  // an emptied cell holds a real empty string
  EXPECT_EQ(SysStringLen(cell.v.bstrVal), 0u);

  VariantSetText(cell.v, u"abc\U0001F600");
  // The new text may be the cell's own string.
  VariantSetText(cell.v, BstrText(cell.v.bstrVal).substr(1));
  EXPECT_EQ(VariantToText(cell.v), u"bc\U0001F600");

  EXPECT_EQ(VariantClear(&cell.v), S_OK);
  EXPECT_EQ(cell.v.vt, VT_EMPTY);

  cell.v.vt = 9;  // an object this platform cannot hold: left alone by VariantClear
  EXPECT_EQ(VariantClear(&cell.v), DISP_E_BADVARTYPE);
  EXPECT_EQ(cell.v.vt, 9);
  VariantRelease(cell.v);
  EXPECT_EQ(cell.v.vt, VT_EMPTY);

  R8(1.0)(cell.v);
  VariantRelease(cell.v);
  EXPECT_EQ(cell.v.vt, VT_EMPTY);
}

TEST(Utf8, RoundTripsAndReplacements) {
  const std::u16string R(1, char16_t(0xFFFD));
  struct Case {
    std::u16string utf16;
    std::string utf8;
    std::u16string back;  // differs from utf16 where an unpaired surrogate was replaced
  };
  const Case cases[] = {
      {u"", "", u""},
      {u"abc", "abc", u"abc"},
      {u"\u00e9", "\xC3\xA9", u"\u00e9"},
      {u"\u20ac", "\xE2\x82\xAC", u"\u20ac"},
      {u"\uffff", "\xEF\xBF\xBF", u"\uffff"},
      {u"\U0001F600", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD", R},
      {std::u16string(1, char16_t(0xDC00)) + u"a", "\xEF\xBF\xBD" "a", R + u"a"},
      {u"a" + std::u16string(1, char16_t(0xD83D)), "a\xEF\xBF\xBD", u"a" + R},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(ToUtf8(c.utf16), c.utf8);
    EXPECT_EQ(FromUtf8(c.utf8), c.back);
  }
}

TEST(Utf8, MalformedInputBecomesReplacementCharacters) {
  const std::u16string R(1, char16_t(0xFFFD));
  struct Case {
    std::string utf8;
    std::u16string expected;
  };
  const Case cases[] = {
      {"\x80", R},                                  // stray continuation byte
      {"\xC0\xAF", R + R},                          // overlong lead bytes are never valid
      {"\xE0\x80\xAF", R + R + R},                  // overlong three-byte form
      {"\xE2\x82", R},                              // sequence cut short at the end
      {"a\xE2\x82" "b", u"a" + R + u"b"},           // cut short inside the text
      {"\xED\xA0\x80", R + R + R},                  // an encoded surrogate
      {"\xF4\x90\x80\x80", R + R + R + R},          // above U+10FFFF
      {"\xF0\x9F\x98", R},                          // four-byte form missing its last byte
      {"\xFF" "x", R + u"x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8.size());
    EXPECT_EQ(FromUtf8(c.utf8), c.expected);
  }
}
