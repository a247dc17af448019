// The library's writes into Variant cells on Windows, through the platform's own OLE
// Automation functions (oleaut32), so that every string the library hands to the host, or
// frees for it, belongs to the system allocator the host itself uses. Reading cells as text
// is shared with the other platforms (platform/variant_text.cpp).
#include <cstdint>
#include <new>
#include <string>

#include "platform/failure.h"
#include "platform/variant.h"

namespace tarvo {

namespace {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "OLE strings are UTF-16");

[[noreturn]] void RaiseCopy(const VARIANT& src, HRESULT status) {
  if (status == E_OUTOFMEMORY) throw std::bad_alloc();
  Raise(FailureKind::VariantConversion, "cannot copy a Variant of type " +
                                            std::to_string(src.vt) + " (" +
                                            VariantTypeName(src.vt) + ")");
}

}  // namespace

void VariantSetText(VARIANT& v, std::u16string_view text) {
  // Allocate before clearing: text may view the cell's own string.
  if (text.size() > UINT32_MAX / sizeof(OLECHAR) - 2) throw std::bad_alloc();
  BSTR fresh = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                 static_cast<UINT>(text.size()));
  if (!fresh) throw std::bad_alloc();
  VariantRelease(v);
  v.vt = VT_BSTR;
  v.bstrVal = fresh;
}

void VariantAssign(VARIANT& dst, const VARIANT& src) {
  if (&dst == &src) return;
  // VariantCopy frees the destination's old content and makes a deep copy of the source (a
  // fresh string for VT_BSTR; a NULL BSTR may come out NULL or empty, which read alike). It
  // only reads the source; the system header merely lacks the const.
  const HRESULT status = VariantCopy(&dst, const_cast<VARIANT*>(&src));
  if (FAILED(status)) RaiseCopy(src, status);
}

void VariantRelease(VARIANT& v) {
  if (FAILED(VariantClear(&v))) v.vt = VT_EMPTY;
}

}  // namespace tarvo
