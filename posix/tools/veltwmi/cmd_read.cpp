// enum and get: the two reading requests.
#include <objectpath/object_path.h>
#include <wmi_model/object_path_text.h>

#include <algorithm>
#include <cctype>

#include "class_info.h"
#include "commands.h"
#include "request.h"

namespace veltwmi {
namespace {

bool sameName(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// The keys of `path` against the class's key properties, as put checks property names: a
// misspelt, missing or non-key name never reaches the provider. A path the parser refuses goes
// on, so the service names its fault.
void checkPathKeys(IWbemClassObject* cls, const std::string& className, const std::string& path) {
  std::vector<std::string> keys;
  std::string keyList;
  ClassInfo info = classInfoOf(cls);
  for (const ClassInfo::Property& p : info.properties) {
    if (!p.key) continue;
    keys.push_back(p.name);
    keyList += (keyList.empty() ? "" : ", ") + p.name;
  }
  if (keys.empty()) return;
  if (path.size() >= className.size() &&
      sameName(path.substr(path.size() - className.size()), className)) {
    throw usageError("get " + path + ": a class path names no instance of " + className +
                     " (its keys: " + keyList + ")");
  }
  std::vector<std::string> given;
  try {
    WbemObjectPath parsed(path);
    for (const auto& [name, value] : parsed.getKeys()) given.push_back(name);
  } catch (const std::exception&) {
    return;
  }
  if (given.empty()) return;  // Class=@ or a fault the service names
  for (const std::string& name : given) {
    auto known = std::find_if(info.properties.begin(), info.properties.end(),
                              [&](const ClassInfo::Property& p) { return sameName(p.name, name); });
    if (known == info.properties.end()) {
      throw usageError(className + " has no key '" + name + "' (its keys: " + keyList + ")");
    }
    if (!known->key) {
      throw usageError("'" + name + "' is not a key of " + className + " (its keys: " + keyList +
                       ")");
    }
  }
  for (const std::string& key : keys) {
    if (std::none_of(given.begin(), given.end(),
                     [&](const std::string& name) { return sameName(name, key); })) {
      throw usageError("get " + path + ": the key '" + key + "' is missing (its keys: " + keyList +
                       ")");
    }
  }
}

// The class of an object that is not `className` nor derived from it; empty when it fits.
std::string foreignClass(IWbemClassObject* object, const std::string& className) {
  OwnedVariant cls;
  object->Get(OLESTR("__CLASS"), 0, cls.get(), nullptr, nullptr);
  std::string actual = cls.get()->vt == VT_BSTR ? utf8FromUtf16(cls.get()->bstrVal) : std::string();
  if (sameName(actual, className)) return {};
  std::u16string wide = utf16FromUtf8(className);
  if (object->InheritsFrom(wide.c_str()) == WBEM_S_NO_ERROR) return {};
  return actual.empty() ? "an object without a class" : actual;
}

}  // namespace

std::string classOfPath(const std::string& path) {
  // Read as the service reads it, so the class checked here is the one the request reaches. A
  // path without a class is named whole when its class cannot be found.
  std::optional<std::u16string> className = velt::wmi::classOfObjectPath(utf16FromUtf8(path));
  return className ? utf8FromUtf16(*className) : path;
}

int runEnum(const Command& command, CommandContext& context) {
  const std::string& className = command.operands.at(0);
  IWbemServices* ns = context.session.nameSpace(context.nameSpace);
  context.session.classObject(ns, className);
  UniqueBstr name = bstrFromUtf8(className);
  auto format = makeFormatter(context.format, Shape::kMany, context.console);
  Delivery delivered = request(
      context, "enum " + className,
      [&](IWbemObjectSink* sink) {
        return ns->CreateInstanceEnumAsync(name.get(), 0, nullptr, sink);
      },
      [&](IWbemClassObject* object) { format->object(viewOf(object)); }, true);
  format->end();
  return delivered.exitCode;
}

int runGet(const Command& command, CommandContext& context) {
  const std::string& path = command.operands.at(0);
  IWbemServices* ns = context.session.nameSpace(context.nameSpace);
  std::string className = classOfPath(path);
  checkPathKeys(context.session.classObject(ns, className).get(), className, path);
  UniqueBstr wide = bstrFromUtf8(path);
  auto format = makeFormatter(context.format, Shape::kOne, context.console);
  std::string foreign;
  Delivery delivered = request(
      context, "get " + path,
      [&](IWbemObjectSink* sink) { return ns->GetObjectAsync(wide.get(), 0, nullptr, sink); },
      [&](IWbemClassObject* object) {
        std::string other = foreignClass(object, className);
        if (other.empty()) {
          format->object(viewOf(object));
        } else if (foreign.empty()) {
          foreign = other;
        }
      },
      false);
  format->end();
  if (delivered.exitCode == kExitOk && !foreign.empty()) {
    context.console.message("get " + path + ": the provider answered an instance of " + foreign +
                            ", not of " + className);
    return kExitRequestFailed;
  }
  if (delivered.exitCode == kExitOk && delivered.objects == 0) {
    context.console.message(context.session.failureText("get " + path, WBEM_E_NOT_FOUND));
    return kExitRequestFailed;
  }
  return delivered.exitCode;
}

}  // namespace veltwmi
