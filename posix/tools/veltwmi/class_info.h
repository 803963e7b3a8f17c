// What `veltwmi classes` shows of a class definition: keys, properties and method signatures,
// with the qualifiers the MOF gave them.
#pragma once

#include <string>
#include <vector>

#include "com_support.h"

namespace veltwmi {

// A qualifier as the MOF wrote it: its name and its value as a MOF literal (TRUE for a bare
// flag such as [key]).
struct QualifierText {
  std::string name;
  std::string value;
};
using QualifierTexts = std::vector<QualifierText>;

struct ClassInfo {
  struct Property {
    std::string name;
    CIMTYPE type = CIM_EMPTY;
    bool key = false;
    QualifierTexts qualifiers;
  };
  struct Parameter {
    std::string name;
    CIMTYPE type = CIM_EMPTY;
    bool in = false;
    bool out = false;
    QualifierTexts qualifiers;  // without in, out and the ID the reader numbers them with
  };
  struct Method {
    std::string name;
    std::string returns;  // "void" when there is no ReturnValue
    std::vector<Parameter> parameters;
    bool isStatic = false;
    QualifierTexts qualifiers;
  };
  std::string name;
  std::string superclass;
  std::string provider;  // empty for a static class
  bool singleton = false;
  QualifierTexts qualifiers;
  std::vector<Property> properties;
  std::vector<Method> methods;
};

ClassInfo classInfoOf(IWbemClassObject* cls);

// Every qualifier of the set, in its order; empty for a null set.
QualifierTexts qualifierTexts(IWbemQualifierSet* set);

// The three renderings: an indented listing for people, a JSON object, a MOF declaration.
std::string classListing(const ClassInfo& info);
std::string classJson(const ClassInfo& info);
std::string classMof(const ClassInfo& info);

}  // namespace veltwmi
