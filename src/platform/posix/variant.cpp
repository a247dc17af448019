// The OLE Automation subset a host needs to build and free string cells, for platforms
// without oleaut32, and the library's writes into Variant cells.
//
// A BSTR is one malloc block: a uint32_t byte length, the UTF-16 code units, a 0 unit. The
// returned pointer is the first code unit, so a host reads the length at pointer - 4.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/failure.h"
#include "platform/variant.h"

namespace {

constexpr std::size_t kPrefix = sizeof(uint32_t);

unsigned char* BlockOf(BSTR text) { return reinterpret_cast<unsigned char*>(text) - kPrefix; }

// Cell types that own nothing, so clearing them just forgets the value and copying them
// copies the bytes.
bool IsPlainType(VARTYPE vt) {
  if (vt & VT_BYREF) return true;  // a reference owns nothing
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_ERROR: case VT_BOOL: case VT_DECIMAL: case VT_I1: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" {

TARVO_API BSTR SysAllocStringLen(const char16_t* text, uint32_t length) {
  // The byte length must fit the 32-bit prefix.
  if (length > (UINT32_MAX - kPrefix - sizeof(char16_t)) / sizeof(char16_t)) return nullptr;
  const std::size_t bytes = std::size_t{length} * sizeof(char16_t);
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + sizeof(char16_t)));
  if (!block) return nullptr;
  const uint32_t prefix = static_cast<uint32_t>(bytes);
  std::memcpy(block, &prefix, kPrefix);
  auto* units = reinterpret_cast<char16_t*>(block + kPrefix);
  if (text) {
    std::memcpy(units, text, bytes);
  } else {
    std::memset(units, 0, bytes);
  }
  units[length] = 0;
  return units;
}

TARVO_API BSTR SysAllocString(const char16_t* text) {
  if (!text) return nullptr;
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  if (n > UINT32_MAX) return nullptr;
  return SysAllocStringLen(text, static_cast<uint32_t>(n));
}

TARVO_API void SysFreeString(BSTR text) {
  if (text) std::free(BlockOf(text));
}

TARVO_API uint32_t SysStringLen(BSTR text) {
  if (!text) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, BlockOf(text), kPrefix);
  return bytes / sizeof(char16_t);
}

TARVO_API void VariantInit(VARIANT* v) {
  if (!v) return;
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
}

TARVO_API int32_t VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (v->vt == VT_BSTR) {
    SysFreeString(v->bstrVal);
    v->bstrVal = nullptr;
  } else if (!IsPlainType(v->vt)) {
    return DISP_E_BADVARTYPE;  // objects and arrays cannot exist here; leave the cell alone
  }
  v->vt = VT_EMPTY;
  return S_OK;
}

}  // extern "C"

namespace tarvo {

void VariantSetText(VARIANT& v, std::u16string_view text) {
  // Allocate before clearing: text may view the cell's own string.
  if (text.size() > UINT32_MAX) throw std::bad_alloc();
  BSTR fresh = SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
  if (!fresh) throw std::bad_alloc();
  VariantRelease(v);
  v.vt = VT_BSTR;
  v.bstrVal = fresh;
}

void VariantAssign(VARIANT& dst, const VARIANT& src) {
  if (&dst == &src) return;
  if (src.vt == VT_BSTR) {
    BSTR copy = nullptr;  // a NULL BSTR stays NULL: it reads as the empty string anyway
    if (src.bstrVal) {
      copy = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
      if (!copy) throw std::bad_alloc();
    }
    VariantRelease(dst);
    dst = src;
    dst.bstrVal = copy;
    return;
  }
  if (!IsPlainType(src.vt)) {
    Raise(FailureKind::VariantConversion, "cannot copy a Variant of type " +
                                              std::to_string(src.vt) + " (" +
                                              VariantTypeName(src.vt) + ")");
  }
  VariantRelease(dst);
  dst = src;
}

void VariantRelease(VARIANT& v) {
  if (VariantClear(&v) != S_OK) v.vt = VT_EMPTY;
}

}  // namespace tarvo
