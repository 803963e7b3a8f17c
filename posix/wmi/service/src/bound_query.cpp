#include "bound_query.h"

#include "wql/evaluate.h"

namespace velt::wmi::detail {
namespace {

bool selected(const wql::Query& query, const std::u16string& name) {
  for (const wql::PropertyRef& ref : query.select) {
    if (equalsIgnoreCase(ref.path.front(), name)) return true;
  }
  return false;
}

}  // namespace

BoundQuery::BoundQuery(std::shared_ptr<const wql::Query> query,
                       std::shared_ptr<const ClassLayout> layout)
    : m_query(std::move(query)), m_layout(std::move(layout)) {
  m_kept.reserve(m_layout->properties.size());
  for (const PropertyDef& p : m_layout->properties) {
    m_kept.push_back(m_query->selectAll || selected(*m_query, p.name) || p.isKey());
  }
  if (m_query->where) bind(*m_query->where);
}

void BoundQuery::bind(const wql::Condition& c) {
  using Kind = wql::Condition::Kind;
  if (c.kind == Kind::kAnd || c.kind == Kind::kOr || c.kind == Kind::kNot) {
    for (const wql::Condition& child : c.children) bind(child);
    return;
  }
  const std::vector<std::u16string>& path = c.property.path;
  if (c.kind == Kind::kIsa || path.size() != 1 || path.front().rfind(u"__", 0) == 0) {
    m_inPlace = false;
    return;
  }
  m_slots.emplace_back(&c, m_layout->findProperty(path.front()));
}

bool BoundQuery::matches(const std::vector<Variant>& values) const {
  if (!m_query->where) return true;
  return wql::holdsWith(*m_query->where, [&](const wql::Condition& leaf) {
    int slot = -1;
    for (const auto& [bound, at] : m_slots) {
      if (bound == &leaf) {
        slot = at;
        break;
      }
    }
    if (slot < 0) return wql::leafHolds(leaf, nullptr, CIM_EMPTY);
    return wql::leafHolds(leaf, values[slot].get(), m_layout->properties[slot].type);
  });
}

std::vector<Variant> BoundQuery::project(const std::vector<Variant>& values) const {
  std::vector<Variant> shown;
  shown.reserve(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    shown.push_back(m_kept[i] ? values[i] : Variant::null());
  }
  return shown;
}

}  // namespace velt::wmi::detail
