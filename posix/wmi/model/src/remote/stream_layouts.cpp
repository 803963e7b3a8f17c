#include "stream_layouts.h"

namespace velt::wmi::remote {

SentLayouts::Numbered SentLayouts::number(
    const std::shared_ptr<const detail::ClassLayout>& layout) {
  if (auto found = m_ids.find(layout.get()); found != m_ids.end()) return {found->second, false};
  if (m_layouts.size() >= kMaxStreamLayouts) return {};
  m_layouts.push_back(layout);
  const auto id = uint32_t(m_layouts.size());
  m_ids.emplace(layout.get(), id);
  return {id, true};
}

void SentLayouts::forgetAfter(std::size_t count) {
  while (m_layouts.size() > count) {
    m_ids.erase(m_layouts.back().get());
    m_layouts.pop_back();
  }
}

std::shared_ptr<const detail::ClassLayout> ReceivedLayouts::find(uint32_t id) const {
  if (id == 0 || id > m_layouts.size()) return nullptr;
  return m_layouts[id - 1];
}

bool ReceivedLayouts::define(uint32_t id, std::shared_ptr<const detail::ClassLayout> layout) {
  if (!layout || id != m_layouts.size() + 1 || m_layouts.size() >= kMaxStreamLayouts) {
    return false;
  }
  m_layouts.push_back(std::move(layout));
  return true;
}

}  // namespace velt::wmi::remote
