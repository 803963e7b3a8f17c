// What both platforms share.
#include "seams.h"

namespace velt::test::seams {

std::string DebugOutputCapture::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

void DebugOutputCapture::append(const char* text, size_t length) {
  std::lock_guard lock(mutex_);
  text_.append(text, length);
}

}  // namespace velt::test::seams
