#include <gtest/gtest.h>

#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

struct Fault {
  const char* text;
  int line;
  int column;
  const char* message;
};

TEST(MofReaderTest, FaultsNameFileLineAndColumn) {
  const Fault faults[] = {
      {"class A {\n  sint33 X;\n};", 2, 3, "unknown type sint33"},
      {"class A : Nowhere { };", 1, 11, "unknown superclass Nowhere"},
      {"class A {\n  [key] string K;\n  sint32 K;\n};", 3, 10, "property K declared twice"},
      {"class A { uint8 X = 256; };", 1, 21, "value does not fit type uint8"},
      {"class A { string S = \"open\n\"; };", 1, 22, "string not closed"},
      {"/* never closed\nclass A {};", 1, 1, "comment not closed"},
      {"[dynamic] class A { };", 1, 17, "dynamic class A names no provider"},
      {"class A { [key] real64 R; };", 1, 24, "property R cannot be a key"},
      {"instance of __MethodProviderRegistration { Provider = $Q; };", 1, 55, "undefined alias $Q"},
      {"instance of __Win32Provider { Name = \"P\"; CLSID = \"{12}\"; };", 1, 51,
       "malformed CLSID {12}"},
      {"class A { string S = \"a\\q\"; };", 1, 24, "unknown escape \\q"},
      {"class A { sint32 X }", 1, 20, "';' expected"},
  };
  for (const Fault& f : faults) {
    Service service;
    try {
      service.loadMofText(f.text, "bad.mof");
      ADD_FAILURE() << "accepted: " << f.text;
    } catch (const MofError& e) {
      EXPECT_EQ(e.file(), "bad.mof");
      EXPECT_EQ(e.line(), f.line) << f.text;
      EXPECT_EQ(e.column(), f.column) << f.text;
      EXPECT_EQ(e.message(), f.message) << f.text;
    }
  }
}

TEST(MofReaderTest, AFaultyTextAddsNothing) {
  Service service;
  EXPECT_THROW(service.loadMofText(
                   "#pragma namespace(\"root\\\\x\")\nclass Good { };\nclass Bad : Missing { };",
                   "half.mof"),
               MofError);
  IWbemServices* ns = nullptr;
  EXPECT_EQ(service.openNamespace(u"root\\x", &ns), WBEM_E_INVALID_NAMESPACE);
}

TEST(MofReaderTest, ReadsTheSampleNamespace) {
  Service service;
  service.loadMof(VELT_SAMPLE_MOF);
  IWbemServices* ns = nullptr;
  ASSERT_EQ(service.openNamespace(u"ROOT\\Norvex\\Sample", &ns), WBEM_S_NO_ERROR);
  for (const char16_t* cls :
       {u"NorvexSample_Device", u"NorvexSample_Slot", u"NorvexSample_Alert"}) {
    IWbemClassObject* def = classOf(ns, cls);
    ASSERT_NE(def, nullptr);
    def->Release();
  }
  ns->Release();
}

TEST(MofReaderTest, CommentsEscapesAndConcatenatedStrings) {
  Service service;
  service.loadMofText(
      "#pragma namespace(\"root\")\n#pragma namespace(\"child\")  // relative\n"
      "class T { string S = \"a\\\"b\" \"\\\\c\\x41\"; };",
      "t.mof");
  IWbemServices* ns = nullptr;
  ASSERT_EQ(service.openNamespace(u"root\\child", &ns), WBEM_S_NO_ERROR);
  IWbemClassObject* t = classOf(ns, u"T");
  EXPECT_EQ(getText(t, u"S"), u"a\"b\\cA");
  t->Release();
  ns->Release();
}

}  // namespace
}  // namespace velt::wmi::test
