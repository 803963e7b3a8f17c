// Feeds arbitrary text to the WQL parser, as UTF-16 and byte by byte. It must answer a query or
// a fault inside the text (never a crash or a throw), and a pattern it accepts must match
// without running away.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "wql/query.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void parseAs(const std::u16string& text, velt::wql::QueryKind kind) {
  velt::wql::ParseResult result = velt::wql::parse(text, kind);
  if (!result.query) {
    require(result.error.position >= 1 && result.error.position <= text.size() + 1);
    require(!result.error.message.empty());
    return;
  }
  require(result.query->selectAll != !result.query->select.empty());
  for (const velt::wql::PropertyRef* ref : velt::wql::referencedProperties(*result.query)) {
    require(!ref->path.empty() && ref->position >= 1 && ref->position <= text.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string bytes(data, data + size);
  parseAs(bytes, velt::wql::QueryKind::kData);
  parseAs(bytes, velt::wql::QueryKind::kEvent);
  std::u16string wide;
  for (size_t i = 0; i + 1 < size; i += 2) wide += char16_t(data[i] | data[i + 1] << 8);
  parseAs(wide, velt::wql::QueryKind::kData);
  // The first half as a LIKE pattern, the rest as the value it is matched against.
  std::size_t faultAt = 0;
  std::u16string pattern = bytes.substr(0, size / 2), value = bytes.substr(size / 2);
  if (auto compiled = velt::wql::LikePattern::compile(pattern, &faultAt)) {
    compiled->matches(value);
  } else {
    require(faultAt < pattern.size() && pattern[faultAt] == u'[');
  }
  return 0;
}
