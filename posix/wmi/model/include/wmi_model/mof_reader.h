// Reads MOF text into class definitions and instance declarations. What an instance means
// (a provider registration, for one) is for whoever holds the repository to decide, so the
// reader keeps every value with the place it was written.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wmi_model/class_model.h"

namespace velt::wmi::detail {

struct MofPlace {
  int line = 0;
  int column = 0;
};

// A value as written: one item for a scalar, `isAlias` for `$Name` (the item holds the name).
struct MofValue {
  MofPlace at;
  bool isArray = false;
  bool isAlias = false;
  std::vector<Variant> items;
};

struct MofInstance {
  std::u16string nameSpace;
  std::string className;
  MofPlace at;                             // of the class name
  std::optional<std::string> alias;        // from `as $Name`, without the '$'
  std::map<std::string, MofValue> values;  // by lower-case property name

  const MofValue* find(const std::string& lowerName) const {
    auto it = values.find(lowerName);
    return it == values.end() ? nullptr : &it->second;
  }
};

// Where a class declaration stands in the text: from its qualifier list (or the word `class`)
// through its closing `;`, so that the declaration can be read again on its own.
struct MofClassSource {
  MofPlace at;  // of the class name
  std::size_t begin = 0;
  std::size_t end = 0;
};

struct MofDocument {
  std::string fileName;
  std::vector<std::shared_ptr<const ClassDef>> classes;  // in the order declared
  std::vector<MofClassSource> classSources;              // one for each of `classes`
  std::vector<MofInstance> instances;                    // in the order declared

  [[noreturn]] void fail(MofPlace at, const std::string& message) const;
};

// The class of that name in that namespace from texts read before, or null.
using EarlierClasses = std::function<std::shared_ptr<const ClassDef>(
    const std::u16string& nameSpace, const std::u16string& className)>;

// Throws MofError naming the file, line and column of the first fault.
MofDocument readMof(std::string_view text, const std::string& fileName,
                    const std::u16string& server, const EarlierClasses& earlier);

}  // namespace velt::wmi::detail
