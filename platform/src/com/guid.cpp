// Every GUID constant is an inline constexpr in the headers; this unit anchors the library
// until the runtime pieces land.
#include <guiddef.h>
