// Class layouts this process read whole, by their content. A provider that fetches its class
// for every instance it makes receives the same definition again and again; made on the layout
// read before, its instances share it, so a sink's stream carries that layout once and not
// with each of them.
#pragma once

#include <velt/wmi.capnp.h>

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "wmi_model/class_model.h"

namespace velt::wmi::remote {

// Layouts remembered at most; the oldest goes first, so a peer sending ever new classes costs
// bounded memory.
constexpr std::size_t kMaxKnownLayouts = 256;

class KnownLayouts {
 public:
  // The content's key: the layout's canonical bytes; empty when it has none (a malformed
  // message), then nothing is shared.
  static std::string keyOf(rpc::Layout::Reader layout);

  std::shared_ptr<const detail::ClassLayout> find(const std::string& key) const;
  void remember(std::string key, std::shared_ptr<const detail::ClassLayout> layout);
  std::size_t size() const;

 private:
  mutable std::mutex m_mutex;
  std::unordered_map<std::string, std::shared_ptr<const detail::ClassLayout>> m_layouts;
  std::deque<std::string> m_order;  // oldest first
};

// The process's one table, shared by every connection and stream.
KnownLayouts& knownLayouts();

}  // namespace velt::wmi::remote
