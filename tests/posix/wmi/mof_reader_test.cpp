#include <gtest/gtest.h>

#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

const char* const kDatetimeExpected =
    "datetime value expected (yyyymmddHHMMSS.mmmmmmsUUU or ddddddddHHMMSS.mmmmmm:000)";

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
      // system property names belong to the service
      {"class A { string __CLASS; };", 1, 18,
       "property __CLASS: names beginning with __ are reserved for system properties"},
      {"class A { void M([in] uint32 __X); };", 1, 30,
       "parameter __X: names beginning with __ are reserved for system properties"},
      // malformed values
      {"class A { real64 R = 1.2.3e; };", 1, 22, "malformed number 1.2.3e"},
      {"class A { real64 R = 1e; };", 1, 22, "malformed number 1e"},
      {"class A { uint32 X = 0x; };", 1, 22, "malformed number"},
      {"class A { real64 R = 1e999; };", 1, 22, "real number out of range"},
      {"class A { boolean B = 2; };", 1, 23, "boolean value expected (TRUE or FALSE)"},
      {"class A { char16 C = 'ab'; };", 1, 22, "a character literal holds one character"},
      {"class A { datetime D = \"yesterday\"; };", 1, 24, kDatetimeExpected},
      {"class A { datetime D = \"20241301000000.000000+000\"; };", 1, 24, kDatetimeExpected},
      {"class A { datetime D = \"00000001000000.000000:001\"; };", 1, 24, kDatetimeExpected},
      {"class A { datetime D[] = {\"20240101000000.000000+000\", \"x\"}; };", 1, 26,
       kDatetimeExpected},
      {"#pragma namespace(\"child\\\\\\\\x\")", 1, 19, "empty part in namespace name"},
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

// Where the pragmas in force leave the class a text declares, with its values as written.
TEST(MofReaderTest, ClassesLandWhereThePragmasSayWithTheirValues) {
  struct Case {
    const char* text;
    const char16_t* nameSpace;
    const char16_t* className;
    const char16_t* property;  // checked when not null
    const char16_t* value;
  } cases[] = {
      {"#pragma namespace(\"\\\\\\\\.\\\\root\\\\a\")\nclass T { };", u"root\\a", u"T", nullptr,
       nullptr},
      {"#pragma namespace(\"root\\\\a\")\n#pragma namespace(\"rootkit\")\nclass T { };",
       u"root\\a\\rootkit", u"T", nullptr, nullptr},
      {"#pragma namespace(\"root\\\\a\")\n#pragma namespace(\"\\\\root\\\\b\")\nclass T { };",
       u"root\\b", u"T", nullptr, nullptr},
      {"#pragma namespace(\"ROOT\\\\a\")\n#pragma namespace(\"c\\\\d\\\\\")\nclass T { };",
       u"root\\a\\c\\d", u"T", nullptr, nullptr},
      // well-formed values of every checked kind
      {"#pragma namespace(\"root\\\\v\")\n"
       "class V { datetime At = \"20240229235960.123456-300\";\n"
       "  datetime Span = \"00000001020304.000005:000\"; datetime Any = "
       "\"2024****000000.000000+000\";\n"
       "  real64 R = -1.5e-3; real32 F = 0.5; char16 C = 'x'; boolean B = FALSE; };",
       u"root\\v", u"V", u"Span", u"00000001020304.000005:000"},
      // comments, escapes and concatenated strings
      {"#pragma namespace(\"root\")\n#pragma namespace(\"child\")  // relative\n"
       "class T { string S = \"a\\\"b\" \"\\\\c\\x41\"; };",
       u"root\\child", u"T", u"S", u"a\"b\\cA"},
  };
  for (const Case& c : cases) {
    Service service;
    service.loadMofText(c.text, "case.mof");
    ComPtr<IWbemServices> ns;
    ASSERT_EQ(service.openNamespace(c.nameSpace, ns.put()), WBEM_S_NO_ERROR) << c.text;
    ComPtr<IWbemClassObject> cls(classOf(ns.get(), c.className));
    ASSERT_TRUE(cls) << c.text;
    if (c.property) {
      EXPECT_EQ(getText(cls.get(), c.property), c.value) << c.text;
    }
  }
}

}  // namespace
}  // namespace velt::wmi::test
