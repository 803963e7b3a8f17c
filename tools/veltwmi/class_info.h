// What `veltwmi classes` shows of a class definition: keys, properties and method signatures.
#pragma once

#include <string>
#include <vector>

#include "com_support.h"

namespace veltwmi {

struct ClassInfo {
  struct Property {
    std::string name;
    CIMTYPE type = CIM_EMPTY;
    bool key = false;
  };
  struct Parameter {
    std::string name;
    CIMTYPE type = CIM_EMPTY;
    bool in = false;
    bool out = false;
  };
  struct Method {
    std::string name;
    std::string returns;  // "void" when there is no ReturnValue
    std::vector<Parameter> parameters;
  };
  std::string name;
  std::string superclass;
  std::string provider;  // empty for a static class
  bool singleton = false;
  std::vector<Property> properties;
  std::vector<Method> methods;
};

ClassInfo classInfoOf(IWbemClassObject* cls);

// The three renderings: an indented listing for people, a JSON object, a MOF declaration.
std::string classListing(const ClassInfo& info);
std::string classJson(const ClassInfo& info);
std::string classMof(const ClassInfo& info);

}  // namespace veltwmi
