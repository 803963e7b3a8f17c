#include <cstdlib>

#include <windows.h>

extern "C" {

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  if ((flags & ~LPTR) != 0) {  // only fixed memory is offered
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  SIZE_T size = bytes == 0 ? 1 : bytes;
  void* memory = (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, size) : std::malloc(size);
  if (memory == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return memory;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

}  // extern "C"
