#include <cstdlib>

#include <objbase.h>

#include "allocation_faults.h"

extern "C" {

LPVOID STDAPICALLTYPE CoTaskMemAlloc(SIZE_T bytes) {
  if (velt::platform::allocationRefused()) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void STDAPICALLTYPE CoTaskMemFree(LPVOID memory) { std::free(memory); }

}  // extern "C"
