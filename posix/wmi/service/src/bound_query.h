// A data query bound to one class layout: every property its condition reads and every one its
// result keeps, found once by slot. Instances spawned from one class share their layout, so a
// query over them is bound once and then filters and projects each instance on its values as
// they are, without a look-up by name or a copy of a value it does not keep.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "wmi_model/class_model.h"
#include "wql/query.h"

namespace velt::wmi::detail {

class BoundQuery {
 public:
  BoundQuery(std::shared_ptr<const wql::Query> query, std::shared_ptr<const ClassLayout> layout);

  const std::shared_ptr<const ClassLayout>& layout() const { return m_layout; }
  // Which slots the result keeps: the selected properties and the keys.
  const std::vector<bool>& kept() const { return m_kept; }
  // Whether the values alone answer the condition. They do not when it reads a system
  // property, a path into an embedded object, or asks ISA: those go through the object.
  bool inPlace() const { return m_inPlace; }

  // Whether values laid out as layout() meet the condition; only when inPlace().
  bool matches(const std::vector<Variant>& values) const;
  // The values the result keeps, NULL in every other slot.
  std::vector<Variant> project(const std::vector<Variant>& values) const;

 private:
  void bind(const wql::Condition& condition);

  std::shared_ptr<const wql::Query> m_query;
  std::shared_ptr<const ClassLayout> m_layout;
  std::vector<bool> m_kept;
  // Each leaf of the condition and the slot of its property (-1: the layout has none).
  std::vector<std::pair<const wql::Condition*, int>> m_slots;
  bool m_inPlace = true;
};

}  // namespace velt::wmi::detail
