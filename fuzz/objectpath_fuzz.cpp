// Feeds arbitrary bytes to the path parser and the key-list parser. Only the documented
// exceptions may leave them, and whatever they accept must satisfy the model's invariants.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "objectpath/conversion.h"
#include "objectpath/object_path.h"
#include "objectpath/path_names.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void checkKeys(const PropertyMap& keys) {
  int entries = 0;
  for (const auto& [name, value] : keys) {
    require(isValidName(name));
    require(keys.get(name) == value);
    ++entries;
  }
  require(entries == keys.count());
  require(keys.compare(keys) == 0);
}

void parsePath(std::string_view text) {
  try {
    const WbemObjectPath parsed(text);
    require(isValidNamespace(parsed.getNamespace()));
    require(isValidName(parsed.modelClass()));
    checkKeys(parsed.getKeys());
    ObjectPath copy;
    copy = parsed;
    require(copy.compare(parsed) == 0 && parsed.compare(copy) == 0);
    copy.clear();
    require(copy.compare(ObjectPath()) == 0);
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
}

void parseKeyList(std::string_view text) {
  try {
    const KeyBindings keys(text);
    checkKeys(keys);
    const KeyBindings copy(static_cast<const PropertyMap&>(keys));
    require(copy.compare(keys) == 0);
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
}

void convert(const uint8_t* data, size_t size) {
  std::u16string wide;
  for (size_t i = 0; i + 1 < size; i += 2)
    wide += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  const std::string narrow = toUtf8(wide);
  require(narrow.size() <= 3 * wide.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  parsePath(text);
  parseKeyList(text);
  convert(data, size);
  return 0;
}
