// Reading Variant cells as text, the same on every platform: the text form of each cell type
// and the typing rule of formula cells and Method (a string, Empty or Null compares as text;
// anything else cannot be compared with text and raises VariantConversion).
//
// Text forms do not depend on the locale: numbers use '.' and at most 15 significant digits
// (7 for single precision) with an exponent written like "1E20" or "1.5E-7"; booleans are
// "True" and "False"; dates are ISO 8601, "YYYY-MM-DD", "HH:MM:SS" for a bare time of day, or
// both separated by a space.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "platform/variant.h"

namespace tarvo {

namespace {

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Formats x with `digits` significant digits, exponent as the host writes it: "1E20", "1E-5".
std::string RealText(double x, int digits) {
  if (std::isnan(x)) return "NAN";
  if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, digits);
  std::string s(buf, r.ptr);
  const auto e = s.find('e');
  if (e == std::string::npos) return s;
  std::string mantissa = s.substr(0, e);
  std::string exponent = s.substr(e + 1);
  bool negative = false;
  if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
    negative = exponent[0] == '-';
    exponent.erase(0, 1);
  }
  while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
  return mantissa + (negative ? "E-" : "E") + exponent;
}

template <class Int>
std::string IntText(Int v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Currency counts ten-thousandths; trailing zeros of the fraction are dropped.
std::string CurrencyText(int64_t v) {
  const bool negative = v < 0;
  const uint64_t m = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  std::string s = (negative ? "-" : "") + IntText(m / 10000);
  uint64_t frac = m % 10000;
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(frac));
    std::string f(buf);
    while (f.back() == '0') f.pop_back();
    s += "." + f;
  }
  return s;
}

// Days since 1970-01-01 to a proleptic Gregorian date.
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

// An OLE date counts days from 1899-12-30; its fraction is the time of day, also for
// negative dates (-1.25 is 1899-12-29 06:00).
std::string DateText(double d, VARTYPE vt) {
  if (!(d >= -657434.0 && d < 2958466.0)) {
    Raise(FailureKind::VariantConversion,
          "cannot convert a Variant of type " + std::to_string(vt) + " (date) to text: " +
              RealText(d, 15) + " is outside the years 100 to 9999");
  }
  const double whole = std::trunc(d);
  int64_t day = static_cast<int64_t>(whole);
  int64_t seconds = std::llround(std::fabs(d - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    day += 1;
  }
  char buf[48];
  if (day == 0 && seconds != 0) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return buf;
  }
  int64_t y = 0;
  unsigned m = 0, dd = 0;
  CivilFromDays(day - 25569, y, m, dd);
  if (seconds == 0) {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, dd);
  } else {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02d:%02d:%02d", static_cast<long long>(y),
                  m, dd, static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60));
  }
  return buf;
}

bool ComparesAsText(const VARIANT& v) {
  return v.vt == VT_EMPTY || v.vt == VT_NULL || v.vt == VT_BSTR;
}

[[noreturn]] void RaiseNotText(const VARIANT& v) {
  Raise(FailureKind::VariantConversion, "cannot compare a Variant of type " +
                                            std::to_string(v.vt) + " (" +
                                            VariantTypeName(v.vt) + ") with text");
}

}  // namespace

std::u16string_view BstrText(BSTR text) {
  if (!text) return {};
  return std::u16string_view(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

const char* VariantTypeName(VARTYPE vt) {
  if (vt & VT_BYREF) return "reference";
  if (vt & VT_ARRAY) return "array";
  switch (vt) {
    case VT_EMPTY: return "empty";
    case VT_NULL: return "null";
    case VT_I2: return "int16";
    case VT_I4: return "int32";
    case VT_R4: return "single";
    case VT_R8: return "double";
    case VT_CY: return "currency";
    case VT_DATE: return "date";
    case VT_BSTR: return "string";
    case VT_ERROR: return "error";
    case VT_BOOL: return "boolean";
    case VT_DECIMAL: return "decimal";
    case VT_I1: return "int8";
    case VT_UI1: return "uint8";
    case VT_UI2: return "uint16";
    case VT_UI4: return "uint32";
    case VT_I8: return "int64";
    case VT_UI8: return "uint64";
    case VT_INT: return "int";
    case VT_UINT: return "uint";
    default: return "unsupported";
  }
}

std::u16string VariantToText(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: return std::u16string();
    case VT_BSTR: return std::u16string(BstrText(v.bstrVal));
    case VT_I2: return Widen(IntText(v.iVal));
    case VT_I4: return Widen(IntText(v.lVal));
    case VT_R4: return Widen(RealText(v.fltVal, 7));
    case VT_R8: return Widen(RealText(v.dblVal, 15));
    case VT_CY: return Widen(CurrencyText(v.cyVal.int64));
    case VT_DATE: return Widen(DateText(v.date, v.vt));
    case VT_BOOL: return v.boolVal != 0 ? u"True" : u"False";
    case VT_I1: return Widen(IntText(static_cast<int>(static_cast<signed char>(v.cVal))));
    case VT_UI1: return Widen(IntText(static_cast<unsigned>(v.bVal)));
    case VT_UI2: return Widen(IntText(static_cast<unsigned>(v.uiVal)));
    case VT_UI4: return Widen(IntText(static_cast<uint32_t>(v.ulVal)));
    case VT_I8: return Widen(IntText(static_cast<int64_t>(v.llVal)));
    case VT_UI8: return Widen(IntText(static_cast<uint64_t>(v.ullVal)));
    case VT_INT: return Widen(IntText(static_cast<int32_t>(v.intVal)));
    case VT_UINT: return Widen(IntText(static_cast<uint32_t>(v.uintVal)));
    default:
      Raise(FailureKind::VariantConversion, "cannot convert a Variant of type " +
                                                std::to_string(v.vt) + " (" +
                                                VariantTypeName(v.vt) + ") to text");
  }
}

bool VariantIsEmptyText(const VARIANT& v) {
  if (!ComparesAsText(v)) RaiseNotText(v);
  return v.vt != VT_BSTR || SysStringLen(v.bstrVal) == 0;
}

bool VariantEqualsText(const VARIANT& v, std::u16string_view text) {
  if (!ComparesAsText(v)) RaiseNotText(v);
  if (v.vt != VT_BSTR) return text.empty();
  return BstrText(v.bstrVal) == text;
}

bool VariantSameString(const VARIANT& a, const VARIANT& b) {
  return a.vt == VT_BSTR && b.vt == VT_BSTR && BstrText(a.bstrVal) == BstrText(b.bstrVal);
}

}  // namespace tarvo
