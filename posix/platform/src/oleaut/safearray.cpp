// SAFEARRAY: a descriptor with its bounds stored right-most dimension first, the element type
// kept in the four bytes before the descriptor, and elements that the array owns (BSTRs are
// freed, interfaces released and VARIANTs cleared with it).
#include <oleauto.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "../com/allocation_faults.h"
#include "variant_types.h"

namespace {

// Room before the descriptor; its last four bytes hold the element type.
constexpr size_t kHeaderBytes = 16;
constexpr size_t kMaxDataBytes = 0x7FFFFFFFu;

DWORD& storedVartype(SAFEARRAY* array) { return reinterpret_cast<DWORD*>(array)[-1]; }

size_t descriptorBytes(UINT dims) {
  return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

USHORT featuresOf(VARTYPE vt) {
  USHORT features = FADF_HAVEVARTYPE;
  if (vt == VT_BSTR) features |= FADF_BSTR;
  if (vt == VT_UNKNOWN) features |= FADF_UNKNOWN;
  if (vt == VT_DISPATCH) features |= FADF_DISPATCH;
  if (vt == VT_VARIANT) features |= FADF_VARIANT;
  return features;
}

// Element count, or -1 when the data would not fit the size limit.
long long elementCount(const SAFEARRAY* array) {
  unsigned long long count = 1;
  for (USHORT d = 0; d < array->cDims; ++d) {
    const unsigned long long elements = array->rgsabound[d].cElements;
    if (elements != 0 && count > kMaxDataBytes / elements) return -1;
    count *= elements;
  }
  if (count * array->cbElements > kMaxDataBytes) return -1;
  return static_cast<long long>(count);
}

SAFEARRAY* allocateDescriptor(VARTYPE vt, UINT dims) {
  if (velt::platform::allocationRefused()) return nullptr;
  auto* block = static_cast<unsigned char*>(std::calloc(1, kHeaderBytes + descriptorBytes(dims)));
  if (block == nullptr) return nullptr;
  auto* array = reinterpret_cast<SAFEARRAY*>(block + kHeaderBytes);
  storedVartype(array) = vt;
  array->cDims = static_cast<USHORT>(dims);
  array->fFeatures = featuresOf(vt);
  array->cbElements = velt::platform::oleaut::arrayElementSize(vt);
  return array;
}

void* allocateData(long long count, ULONG elementBytes) {
  if (velt::platform::allocationRefused()) return nullptr;
  return std::calloc(static_cast<size_t>(count), elementBytes);
}

void freeDescriptor(SAFEARRAY* array) {
  std::free(reinterpret_cast<unsigned char*>(array) - kHeaderBytes);
}

// Frees what the elements own and leaves them zeroed.
HRESULT clearElements(SAFEARRAY* array) {
  const long long count = elementCount(array);
  if (array->pvData == nullptr || count <= 0) return S_OK;
  if (array->fFeatures & FADF_BSTR) {
    auto* items = static_cast<BSTR*>(array->pvData);
    for (long long i = 0; i < count; ++i) SysFreeString(items[i]);
  } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* items = static_cast<IUnknown**>(array->pvData);
    for (long long i = 0; i < count; ++i) {
      if (items[i] != nullptr) items[i]->Release();
    }
  } else if (array->fFeatures & FADF_VARIANT) {
    auto* items = static_cast<VARIANT*>(array->pvData);
    for (long long i = 0; i < count; ++i) {
      const HRESULT hr = VariantClear(&items[i]);
      if (FAILED(hr)) return hr;
    }
  }
  std::memset(array->pvData, 0, static_cast<size_t>(count) * array->cbElements);
  return S_OK;
}

// Address of the element at the indices (left-most dimension first, varying fastest).
void* elementAt(SAFEARRAY* array, const LONG* indices) {
  size_t offset = 0;
  size_t stride = 1;
  for (USHORT d = 0; d < array->cDims; ++d) {
    const SAFEARRAYBOUND& bound = array->rgsabound[array->cDims - 1 - d];
    const long long position = static_cast<long long>(indices[d]) - bound.lLbound;
    if (position < 0 || position >= static_cast<long long>(bound.cElements)) return nullptr;
    offset += static_cast<size_t>(position) * stride;
    stride *= bound.cElements;
  }
  return static_cast<unsigned char*>(array->pvData) + offset * array->cbElements;
}

// Holds the array locked for the duration of one element access.
class ScopedLock {
 public:
  explicit ScopedLock(SAFEARRAY* array) : m_array(array) { SafeArrayLock(array); }
  ~ScopedLock() { SafeArrayUnlock(m_array); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  SAFEARRAY* m_array;
};

HRESULT copyElement(const SAFEARRAY* array, const void* source, void* destination) {
  if (array->fFeatures & FADF_BSTR) {
    BSTR text = *static_cast<const BSTR*>(source);
    BSTR copy = nullptr;
    if (text != nullptr) {
      copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), SysStringByteLen(text));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    *static_cast<BSTR*>(destination) = copy;
  } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* unknown = *static_cast<IUnknown* const*>(source);
    if (unknown != nullptr) unknown->AddRef();
    *static_cast<IUnknown**>(destination) = unknown;
  } else if (array->fFeatures & FADF_VARIANT) {
    auto* target = static_cast<VARIANT*>(destination);
    VariantInit(target);
    return VariantCopy(target, static_cast<const VARIANT*>(source));
  } else {
    std::memcpy(destination, source, array->cbElements);
  }
  return S_OK;
}

}  // namespace

extern "C" {

SAFEARRAY* STDAPICALLTYPE SafeArrayCreate(VARTYPE type, UINT dims, SAFEARRAYBOUND* bounds) {
  if (dims == 0 || dims > 0xFFFF || bounds == nullptr) return nullptr;
  if (velt::platform::oleaut::arrayElementSize(type) == 0) return nullptr;
  SAFEARRAY* array = allocateDescriptor(type, dims);
  if (array == nullptr) return nullptr;
  for (UINT d = 0; d < dims; ++d) array->rgsabound[dims - 1 - d] = bounds[d];
  const long long count = elementCount(array);
  if (count < 0) {
    freeDescriptor(array);
    return nullptr;
  }
  if (count > 0) {
    array->pvData = allocateData(count, array->cbElements);
    if (array->pvData == nullptr) {
      freeDescriptor(array);
      return nullptr;
    }
  }
  return array;
}

SAFEARRAY* STDAPICALLTYPE SafeArrayCreateVector(VARTYPE type, LONG lowerBound, ULONG elements) {
  SAFEARRAYBOUND bound{elements, lowerBound};
  return SafeArrayCreate(type, 1, &bound);
}

HRESULT STDAPICALLTYPE SafeArrayDestroy(SAFEARRAY* array) {
  if (array == nullptr) return S_OK;
  if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  const HRESULT hr = clearElements(array);
  if (FAILED(hr)) return hr;
  std::free(array->pvData);
  freeDescriptor(array);
  return S_OK;
}

HRESULT STDAPICALLTYPE SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
  if (array == nullptr || indices == nullptr) return E_INVALIDARG;
  const bool valueIsPointer = array->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH);
  if (value == nullptr && !valueIsPointer) return E_INVALIDARG;
  ScopedLock lock(array);
  void* element = elementAt(array, indices);
  if (element == nullptr) return DISP_E_BADINDEX;

  if (array->fFeatures & FADF_VARIANT) {
    return VariantCopy(static_cast<VARIANT*>(element), static_cast<const VARIANT*>(value));
  }
  if (!valueIsPointer) {
    std::memcpy(element, value, array->cbElements);
    return S_OK;
  }
  // BSTRs and interfaces arrive as the pointer itself, every other type by its address.
  void* replacement = nullptr;
  const HRESULT hr = copyElement(array, &value, &replacement);
  if (FAILED(hr)) return hr;
  if (array->fFeatures & FADF_BSTR) {
    SysFreeString(*static_cast<BSTR*>(element));
  } else if (auto* old = *static_cast<IUnknown**>(element)) {
    old->Release();
  }
  std::memcpy(element, &replacement, sizeof replacement);
  return S_OK;
}

HRESULT STDAPICALLTYPE SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value) {
  if (array == nullptr || indices == nullptr || value == nullptr) return E_INVALIDARG;
  ScopedLock lock(array);
  void* element = elementAt(array, indices);
  if (element == nullptr) return DISP_E_BADINDEX;
  // Whatever `value` held before is overwritten, not freed: it receives its own copy.
  return copyElement(array, element, value);
}

HRESULT STDAPICALLTYPE SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* lowerBound) {
  if (array == nullptr || lowerBound == nullptr) return E_INVALIDARG;
  if (dim == 0 || dim > array->cDims) return DISP_E_BADINDEX;
  *lowerBound = array->rgsabound[array->cDims - dim].lLbound;
  return S_OK;
}

HRESULT STDAPICALLTYPE SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* upperBound) {
  if (array == nullptr || upperBound == nullptr) return E_INVALIDARG;
  if (dim == 0 || dim > array->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& bound = array->rgsabound[array->cDims - dim];
  *upperBound = static_cast<LONG>(static_cast<long long>(bound.lLbound) + bound.cElements - 1);
  return S_OK;
}

UINT STDAPICALLTYPE SafeArrayGetDim(SAFEARRAY* array) {
  return array == nullptr ? 0 : array->cDims;
}

HRESULT STDAPICALLTYPE SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* type) {
  if (array == nullptr || type == nullptr) return E_INVALIDARG;
  if (array->fFeatures & FADF_HAVEVARTYPE) {
    *type = static_cast<VARTYPE>(storedVartype(array));
  } else if (array->fFeatures & FADF_BSTR) {
    *type = VT_BSTR;
  } else if (array->fFeatures & FADF_UNKNOWN) {
    *type = VT_UNKNOWN;
  } else if (array->fFeatures & FADF_DISPATCH) {
    *type = VT_DISPATCH;
  } else if (array->fFeatures & FADF_VARIANT) {
    *type = VT_VARIANT;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT STDAPICALLTYPE SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** destination) {
  if (destination == nullptr) return E_INVALIDARG;
  *destination = nullptr;
  if (source == nullptr) return S_OK;
  VARTYPE type = VT_EMPTY;
  HRESULT hr = SafeArrayGetVartype(source, &type);
  if (FAILED(hr)) return hr;
  SAFEARRAY* copy = allocateDescriptor(type, source->cDims);
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy->rgsabound, source->rgsabound, source->cDims * sizeof(SAFEARRAYBOUND));
  const long long count = elementCount(copy);
  if (count > 0 && source->pvData != nullptr) {
    copy->pvData = allocateData(count, copy->cbElements);
    if (copy->pvData == nullptr) {
      freeDescriptor(copy);
      return E_OUTOFMEMORY;
    }
    auto* from = static_cast<unsigned char*>(source->pvData);
    auto* to = static_cast<unsigned char*>(copy->pvData);
    for (long long i = 0; i < count; ++i) {
      const size_t offset = static_cast<size_t>(i) * copy->cbElements;
      hr = copyElement(copy, from + offset, to + offset);
      if (FAILED(hr)) {
        SafeArrayDestroy(copy);
        return hr;
      }
    }
  }
  *destination = copy;
  return S_OK;
}

HRESULT STDAPICALLTYPE SafeArrayLock(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  std::atomic_ref<ULONG>(array->cLocks).fetch_add(1);
  return S_OK;
}

HRESULT STDAPICALLTYPE SafeArrayUnlock(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(array->cLocks);
  ULONG current = locks.load();
  do {
    if (current == 0) return E_UNEXPECTED;
  } while (!locks.compare_exchange_weak(current, current - 1));
  return S_OK;
}

HRESULT STDAPICALLTYPE SafeArrayAccessData(SAFEARRAY* array, void** data) {
  if (array == nullptr || data == nullptr) return E_INVALIDARG;
  SafeArrayLock(array);
  *data = array->pvData;
  return S_OK;
}

HRESULT STDAPICALLTYPE SafeArrayUnaccessData(SAFEARRAY* array) { return SafeArrayUnlock(array); }

}  // extern "C"
