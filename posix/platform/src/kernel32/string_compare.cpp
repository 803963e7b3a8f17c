// Case-insensitive comparison with ASCII folding, whatever the locale, as the C locale does.
#include <windows.h>

namespace {
int folded(char c) {
  auto byte = static_cast<unsigned char>(c);
  return (byte >= 'A' && byte <= 'Z') ? byte - 'A' + 'a' : byte;
}
}  // namespace

extern "C" {

int __cdecl _stricmp(const char* a, const char* b) {
  for (size_t i = 0;; ++i) {
    int difference = folded(a[i]) - folded(b[i]);
    if (difference != 0 || a[i] == '\0') return difference;
  }
}

}  // extern "C"
