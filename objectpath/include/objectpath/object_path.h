// The object-path model: server, namespace, model class and key properties.
#pragma once

#include <string>
#include <string_view>

#include "objectpath/property_map.h"

class ObjectPath {
 public:
  ObjectPath() = default;
  ObjectPath(const ObjectPath&) = default;
  ObjectPath& operator=(const ObjectPath&) = default;
  ObjectPath(ObjectPath&&) = default;
  ObjectPath& operator=(ObjectPath&&) = default;
  virtual ~ObjectPath() = default;

  // Orders by server, namespace and class (case-insensitively), then by the keys.
  virtual int compare(const ObjectPath& other) const;
  virtual void clear();

  // Stored as given, not validated.
  void setServer(std::string_view text);
  // Throws std::invalid_argument "invalid namespace path value." and keeps the old value.
  void setNamespace(std::string_view text);
  // Throws std::invalid_argument "invalid model class value." and keeps the old value.
  void setModelClass(std::string_view text);
  void setKeys(const PropertyMap& map);

  const std::string& getServer() const { return server; }
  const std::string& getNamespace() const { return nameSpace; }
  const std::string& modelClass() const { return className; }
  const PropertyMap& getKeys() const { return keys; }

 private:
  std::string server;
  std::string nameSpace;
  std::string className;
  PropertyMap keys;
};

struct IWbemClassObject;

// A path model built from a path text. (Building one from a WMI instance is a second
// constructor that lives in a source file of its own.)
class WbemObjectPath : public ObjectPath {
 public:
  // Parses \\server\namespace:Class.Key=Value,...; throws on a malformed path.
  explicit WbemObjectPath(std::string_view text);
  explicit WbemObjectPath(const char* text);
  // The path of a WMI object, read from its system and key properties; the object is only
  // read. Throws std::invalid_argument when no valid path can be built, _com_error when an
  // OLE Automation call fails.
  explicit WbemObjectPath(IWbemClassObject* object);
  ~WbemObjectPath() override = default;
};
