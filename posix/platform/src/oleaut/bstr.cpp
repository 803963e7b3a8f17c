// BSTR: a 32-bit byte count, then the text, then a 16-bit NUL that the count does not include.
// The caller holds a pointer to the text, so the count sits just before it.
#include <oleauto.h>

#include <cstdlib>
#include <cstring>

#include "../com/allocation_faults.h"

namespace {

constexpr size_t kPrefixBytes = sizeof(DWORD);
constexpr size_t kTerminatorBytes = sizeof(OLECHAR);
// Keeps prefix + text + terminator within the 32-bit count and any size_t.
constexpr UINT kMaxTextBytes = 0x7FFFFFF0u;

DWORD* prefixOf(BSTR bstr) { return reinterpret_cast<DWORD*>(bstr) - 1; }

// Allocates room for byteCount bytes of text; the text is zero-filled unless copied over.
BSTR allocateBytes(const void* text, UINT byteCount) {
  if (byteCount > kMaxTextBytes || velt::platform::allocationRefused()) return nullptr;
  auto* block =
      static_cast<unsigned char*>(std::malloc(kPrefixBytes + byteCount + kTerminatorBytes));
  if (block == nullptr) return nullptr;
  DWORD count = byteCount;
  std::memcpy(block, &count, sizeof count);
  unsigned char* data = block + kPrefixBytes;
  if (text != nullptr) {
    std::memcpy(data, text, byteCount);
  } else {
    std::memset(data, 0, byteCount);
  }
  // An odd byte count still ends with a whole 16-bit NUL.
  data[byteCount] = 0;
  data[byteCount + 1] = 0;
  return reinterpret_cast<BSTR>(data);
}

UINT unitsUpToNul(const OLECHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n > kMaxTextBytes / sizeof(OLECHAR) ? kMaxTextBytes : static_cast<UINT>(n);
}

}  // namespace

extern "C" {

BSTR STDAPICALLTYPE SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, unitsUpToNul(text));
}

BSTR STDAPICALLTYPE SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > kMaxTextBytes / sizeof(OLECHAR)) return nullptr;
  return allocateBytes(text, length * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR STDAPICALLTYPE SysAllocStringByteLen(LPCSTR bytes, UINT length) {
  return allocateBytes(bytes, length);
}

UINT STDAPICALLTYPE SysStringLen(BSTR bstr) {
  return bstr == nullptr ? 0 : *prefixOf(bstr) / sizeof(OLECHAR);
}

UINT STDAPICALLTYPE SysStringByteLen(BSTR bstr) { return bstr == nullptr ? 0 : *prefixOf(bstr); }

void STDAPICALLTYPE SysFreeString(BSTR bstr) {
  if (bstr != nullptr) std::free(prefixOf(bstr));
}

}  // extern "C"
