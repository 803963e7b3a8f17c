// The path of a WMI instance, read from the stand-in's objects and from objects whose
// answers the test scripts.
#include <gtest/gtest.h>

#include <owners/com_ptr.h>

#include <stdexcept>

#include "objectpath/object_path.h"
#include "scripted_class_object.h"
#include "wmi/service.h"
#include "wmi_test_support.h"

namespace {

using velt::ComPtr;
using velt::wmi::test::putInt;
using velt::wmi::test::putText;

const char* const kMof = R"MOF(
#pragma namespace("\\\\.\\root\\paths")
class Keyed { [key] string Name; [key] sint32 Slot; string Other; };
class Keyless { string Name; };
)MOF";

class InstancePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service.loadMofText(kMof, "paths.mof");
    ASSERT_EQ(service.openNamespace(u"root\\paths", ns.put()), WBEM_S_NO_ERROR);
  }
  void TearDown() override {
    ns.reset();
    service.shutdown();
  }
  ComPtr<IWbemClassObject> spawn(const char16_t* className) {
    ComPtr<IWbemClassObject> cls(velt::wmi::test::classOf(ns.get(), className));
    ComPtr<IWbemClassObject> instance;
    cls->SpawnInstance(0, instance.put());
    return instance;
  }

  velt::wmi::Service service;
  ComPtr<IWbemServices> ns;
};

std::string messageOf(IWbemClassObject* object) {
  try {
    WbemObjectPath path(object);
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "<built>";
}

TEST_F(InstancePathTest, BuildsClassNamespaceAndKeysAsText) {
  ComPtr<IWbemClassObject> keyed = spawn(u"Keyed");
  putText(keyed.get(), u"Name", u"Zo\u00eb \"q\"");
  putInt(keyed.get(), u"Slot", 42);
  WbemObjectPath path(keyed.get());
  EXPECT_EQ(path.modelClass(), "Keyed");
  EXPECT_EQ(path.getKeys().count(), 2);
  EXPECT_EQ(path.getKeys().get("name"), "Zo\xc3\xab \"q\"");
  EXPECT_EQ(path.getKeys().get("Slot"), "42");
  EXPECT_EQ(path.getNamespace(), "root\\paths");

  ComPtr<IWbemClassObject> keyless = spawn(u"Keyless");
  EXPECT_EQ(WbemObjectPath(keyless.get()).getKeys().count(), 0);
}

TEST_F(InstancePathTest, RefusesWhatCannotNameTheInstance) {
  EXPECT_EQ(messageOf(nullptr), "");
  ComPtr<IWbemClassObject> keyed = spawn(u"Keyed");
  putInt(keyed.get(), u"Slot", 1);  // Name stays null
  EXPECT_EQ(messageOf(keyed.get()), "could not get key value.");
}

using velt::objectpath::test::ScriptedClassObject;

// An object of class Gadget with key Name="a", its system properties left to the caller.
void answerGadget(ScriptedClassObject& object) {
  object.answerText(u"__CLASS", u"Gadget");
  object.answerText(u"Name", u"a");
  object.setKeyNames({u"Name"});
}

// How a system property can fail to give text.
struct UnreadableAnswer {
  const char* what;
  void (*apply)(ScriptedClassObject&, const std::u16string&);
};

const UnreadableAnswer kUnreadable[] = {
    {"missing", [](ScriptedClassObject& o, const std::u16string& n) { o.forget(n); }},
    {"null", [](ScriptedClassObject& o, const std::u16string& n) { o.answerType(n, VT_NULL); }},
    {"an interface",
     [](ScriptedClassObject& o, const std::u16string& n) { o.answerType(n, VT_UNKNOWN); }},
};

TEST(InstancePathAnswersTest, ServerAndNamespaceWithoutTextLeaveTheirFieldsEmpty) {
  // The scripted object does name its server and namespace when it has them.
  ScriptedClassObject named;
  answerGadget(named);
  named.answerText(u"__SERVER", u"HOST");
  named.answerText(u"__NAMESPACE", u"root\\paths");
  WbemObjectPath readable(&named);
  EXPECT_EQ(readable.getServer(), "HOST");
  EXPECT_EQ(readable.getNamespace(), "root\\paths");

  for (const UnreadableAnswer& server : kUnreadable) {
    for (const UnreadableAnswer& nameSpace : kUnreadable) {
      SCOPED_TRACE(std::string("server ") + server.what + ", namespace " + nameSpace.what);
      ScriptedClassObject object;
      answerGadget(object);
      server.apply(object, u"__SERVER");
      nameSpace.apply(object, u"__NAMESPACE");
      WbemObjectPath path(&object);
      EXPECT_EQ(path.getServer(), "");
      EXPECT_EQ(path.getNamespace(), "");
      EXPECT_EQ(path.modelClass(), "Gadget");
      EXPECT_EQ(path.getKeys().get("Name"), "a");
    }
  }
  // A namespace the name rule refuses is ignored the same way.
  ScriptedClassObject badNamespace;
  answerGadget(badNamespace);
  badNamespace.answerText(u"__NAMESPACE", u"root\\no good");
  EXPECT_EQ(WbemObjectPath(&badNamespace).getNamespace(), "");
}

TEST(InstancePathAnswersTest, AClassNameWithoutValidTextFailsThePath) {
  // (A missing class reads as empty text, which the name rule lets pass: no row of its own.)
  for (const UnreadableAnswer& className : kUnreadable) {
    if (std::string(className.what) == "missing") continue;
    SCOPED_TRACE(std::string("class ") + className.what);
    ScriptedClassObject object;
    answerGadget(object);
    className.apply(object, u"__CLASS");
    EXPECT_EQ(messageOf(&object), "failed to get class name.");
  }
  for (const char16_t* badName : {u"Bad Class", u"9Lives", u"_Under", u"Caf\u00e9"}) {
    ScriptedClassObject object;
    answerGadget(object);
    object.answerText(u"__CLASS", badName);
    EXPECT_EQ(messageOf(&object), "failed to get class name.");
    EXPECT_EQ(object.getCalls(), 3) << "no key property is read once the class fails";
  }
}

}  // namespace
