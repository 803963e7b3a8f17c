// The class layouts one sink's stream has carried. Instances of one class share their layout,
// so the stream carries it with the first of them and a number with the others; the receiver
// keeps the layouts by number and makes every later instance on the one it already read, as
// SpawnInstance from one class would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "wmi_model/class_model.h"

namespace velt::wmi::remote {

// Layouts one stream numbers at most; further ones go whole with each object. Both sides hold
// at most this many, so a stream of ever new classes costs bounded memory.
constexpr std::size_t kMaxStreamLayouts = 256;

// The sending side. Not thread safe: the caller numbers and queues one call at a time, so that
// a layout's number reaches the receiver after its definition.
class SentLayouts {
 public:
  struct Numbered {
    uint32_t id = 0;     // 0: the table is full, the layout goes whole
    bool first = false;  // the layout goes with this object, numbered `id`
  };
  Numbered number(const std::shared_ptr<const detail::ClassLayout>& layout);

  // How many layouts are numbered; `forgetAfter` drops those numbered since, when the call
  // that carried them was never sent.
  std::size_t count() const { return m_layouts.size(); }
  void forgetAfter(std::size_t count);

 private:
  std::unordered_map<const detail::ClassLayout*, uint32_t> m_ids;
  // Held so that no address in m_ids is reused by another layout while the stream lives.
  std::vector<std::shared_ptr<const detail::ClassLayout>> m_layouts;
};

// The receiving side. A number it does not know, or a definition out of sequence, is a
// malformed message.
class ReceivedLayouts {
 public:
  std::shared_ptr<const detail::ClassLayout> find(uint32_t id) const;
  bool define(uint32_t id, std::shared_ptr<const detail::ClassLayout> layout);

 private:
  std::vector<std::shared_ptr<const detail::ClassLayout>> m_layouts;  // number n at n - 1
};

}  // namespace velt::wmi::remote
