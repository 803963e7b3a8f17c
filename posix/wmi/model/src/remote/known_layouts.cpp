#include "known_layouts.h"

#include <capnp/message.h>
#include <kj/exception.h>

namespace velt::wmi::remote {

std::string KnownLayouts::keyOf(rpc::Layout::Reader layout) {
  std::string key;
  kj::Maybe<kj::Exception> failure = kj::runCatchingExceptions([&] {
    kj::Array<capnp::word> words = capnp::canonicalize(layout);
    auto bytes = words.asBytes();
    key.assign(reinterpret_cast<const char*>(bytes.begin()), bytes.size());
  });
  if (failure != nullptr) return {};
  return key;
}

std::shared_ptr<const detail::ClassLayout> KnownLayouts::find(const std::string& key) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto found = m_layouts.find(key);
  return found == m_layouts.end() ? nullptr : found->second;
}

void KnownLayouts::remember(std::string key, std::shared_ptr<const detail::ClassLayout> layout) {
  if (key.empty() || !layout) return;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_layouts.count(key) != 0) return;
  if (m_layouts.size() >= kMaxKnownLayouts) {
    m_layouts.erase(m_order.front());
    m_order.pop_front();
  }
  m_order.push_back(key);
  m_layouts.emplace(std::move(key), std::move(layout));
}

std::size_t KnownLayouts::size() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_layouts.size();
}

KnownLayouts& knownLayouts() {
  static KnownLayouts* const table = new KnownLayouts();  // used by loop and worker threads
  return *table;                                          // until exit: never destroyed
}

}  // namespace velt::wmi::remote
