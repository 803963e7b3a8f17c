// FormatMessageA for system texts. Inserts ("%1") are not expanded: the texts are handed out
// as they stand, which is what FORMAT_MESSAGE_IGNORE_INSERTS asks for and is always safe.
#include <cstring>

#include <windows.h>

#include "system_messages.h"

extern "C" {

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                            va_list*) {
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* text = velt::platform::systemMessageText(messageId);
  if (text == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  // System texts end with a line end, as on Windows.
  const size_t length = std::strlen(text) + 2;
  char* target = buffer;
  if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    // `size` is then the least number of characters to allocate.
    SIZE_T allocation = length + 1 > size ? length + 1 : size;
    target = static_cast<char*>(LocalAlloc(LMEM_FIXED, allocation));
    if (target == nullptr) return 0;
    *reinterpret_cast<LPSTR*>(buffer) = target;
  } else if (length + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(target, text, length - 2);
  std::memcpy(target + length - 2, "\r\n", 3);
  return static_cast<DWORD>(length);
}

}  // extern "C"
