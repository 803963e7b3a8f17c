#include "mof_values.h"

namespace velt::wmi::detail {
namespace {

// The field at [from, from + width): digits within [low, high], or asterisks only.
bool field(const std::u16string& s, std::size_t from, std::size_t width, int low, int high) {
  bool stars = true, digits = true;
  int value = 0;
  for (std::size_t i = from; i < from + width; ++i) {
    stars = stars && s[i] == u'*';
    digits = digits && s[i] >= u'0' && s[i] <= u'9';
    if (digits) value = value * 10 + (s[i] - u'0');
  }
  return stars || (digits && value >= low && value <= high);
}

}  // namespace

bool isCimDatetime(const std::u16string& s) {
  if (s.size() != 25 || s[14] != u'.') return false;
  bool interval = s[21] == u':';
  if (!interval && s[21] != u'+' && s[21] != u'-') return false;
  if (!field(s, 8, 2, 0, 23) || !field(s, 10, 2, 0, 59) || !field(s, 12, 2, 0, 60) ||
      !field(s, 15, 6, 0, 999999)) {
    return false;
  }
  if (interval) return field(s, 0, 8, 0, 99999999) && s.compare(22, 3, u"000") == 0;
  return field(s, 0, 4, 0, 9999) && field(s, 4, 2, 1, 12) && field(s, 6, 2, 1, 31) &&
         field(s, 22, 3, 0, 999);
}

std::optional<std::string> mofValueFault(const Variant& item, CIMTYPE elementType) {
  if (item.isNull()) return std::nullopt;
  switch (elementType) {
    case CIM_BOOLEAN:
      if (item.vt() != VT_BOOL) return "boolean value expected (TRUE or FALSE)";
      return std::nullopt;
    case CIM_DATETIME:
      if (item.vt() != VT_BSTR || !isCimDatetime(item.asText())) {
        return "datetime value expected (yyyymmddHHMMSS.mmmmmmsUUU or "
               "ddddddddHHMMSS.mmmmmm:000)";
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace velt::wmi::detail
