// OLE Automation Variants and BSTRs as the host passes them, and the few conversions the
// library needs: a cell to text, the empty-text and equality tests of formula cells and of
// Method, and writing text into a cell.
//
// Layout (64-bit): VARIANT is 24 bytes: vt at 0, three reserved 16-bit words, a 16-byte union
// at 8. A BSTR points at UTF-16LE code units, preceded by a uint32_t byte length (terminator
// not counted) and followed by a 0 code unit; a NULL BSTR reads as the empty string.
//
// On Windows the real oleaut32 functions are used. Elsewhere the library exports its own
// subset with the same names and C linkage, so a host (or a test) builds and frees cells
// through them, and the library replaces a host string only through them.
//
// Conversions that cannot be made raise FailureKind::VariantConversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/export.h"

#if defined(_WIN32)
#include <windows.h>
#include <oleauto.h>
#else
using BSTR = char16_t*;
using VARTYPE = uint16_t;

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
};
// Currency: a 64-bit integer counting ten-thousandths.
struct CY {
  int64_t int64;
};

// Status codes of VariantClear (HRESULT values).
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057u);
inline constexpr int32_t DISP_E_BADVARTYPE = static_cast<int32_t>(0x80020008u);

struct VARIANT {
  VARTYPE vt;
  uint16_t wReserved1;
  uint16_t wReserved2;
  uint16_t wReserved3;
  union {
    BSTR bstrVal;
    int16_t iVal;
    int32_t lVal;
    float fltVal;
    double dblVal;
    double date;
    int16_t boolVal;
    int32_t scode;
    CY cyVal;
    char cVal;
    uint8_t bVal;
    uint16_t uiVal;
    uint32_t ulVal;
    int64_t llVal;
    uint64_t ullVal;
    int32_t intVal;
    uint32_t uintVal;
    unsigned char raw[16];
  };
};

extern "C" {
TARVO_API BSTR SysAllocStringLen(const char16_t* text, uint32_t length);
TARVO_API BSTR SysAllocString(const char16_t* text);
TARVO_API void SysFreeString(BSTR text);
TARVO_API uint32_t SysStringLen(BSTR text);
TARVO_API void VariantInit(VARIANT* v);
TARVO_API int32_t VariantClear(VARIANT* v);
}
#endif

static_assert(sizeof(VARIANT) == 24, "64-bit OLE Automation VARIANT is 24 bytes");
static_assert(offsetof(VARIANT, vt) == 0);

namespace tarvo {

// The code units of a BSTR (empty for a NULL BSTR). The view lives as long as the string.
std::u16string_view BstrText(BSTR text);

// A short English name of a Variant type for messages ("double", "string", ...).
const char* VariantTypeName(VARTYPE vt);

// Text of any cell (names, EqualTo, FileName): strings as they are, Empty/Null as "",
// numbers, dates and booleans in their usual text form.
std::u16string VariantToText(const VARIANT& v);

// Formula cells: true when the cell holds the empty string or is Empty. A cell holding a
// number, a date or a boolean cannot be compared with text: raises VariantConversion.
bool VariantIsEmptyText(const VARIANT& v);

// Method: exact, case-sensitive equality with text. Same typing rule as VariantIsEmptyText.
bool VariantEqualsText(const VARIANT& v, std::u16string_view text);

// Replaces the cell's content by a fresh VT_BSTR holding text; the old content is cleared.
void VariantSetText(VARIANT& v, std::u16string_view text);

// Managed record assignment of one Variant: the destination's old string is freed and a fresh
// copy of the source's is allocated, so two records never share a string.
void VariantAssign(VARIANT& dst, const VARIANT& src);

// True when both cells hold strings (VT_BSTR) with the same code units: copying one onto the
// other would change nothing but the string's address.
bool VariantSameString(const VARIANT& a, const VARIANT& b);

// Frees what the cell holds and leaves it Empty.
void VariantRelease(VARIANT& v);

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace tarvo
