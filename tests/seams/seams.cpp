// What both platforms share.
#include "seams.h"

namespace velt::test::seams {

std::string DebugOutputCapture::text() const {
  std::lock_guard lock(m_mutex);
  return m_text;
}

void DebugOutputCapture::append(const char* text, size_t length) {
  std::lock_guard lock(m_mutex);
  m_text.append(text, length);
}

}  // namespace velt::test::seams
