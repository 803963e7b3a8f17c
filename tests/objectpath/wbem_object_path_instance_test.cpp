// The path of a WMI instance, read from the stand-in's objects.
#include <gtest/gtest.h>

#include <stdexcept>

#include "objectpath/object_path.h"
#include "wmi/service.h"

namespace {

const char* const kMof = R"MOF(
#pragma namespace("\\\\.\\root\\paths")
class Keyed { [key] string Name; [key] sint32 Slot; string Other; };
class Keyless { string Name; };
)MOF";

class InstancePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service.loadMofText(kMof, "paths.mof");
    ASSERT_EQ(service.openNamespace(u"root\\paths", &ns), WBEM_S_NO_ERROR);
  }
  void TearDown() override {
    ns->Release();
    service.shutdown();
  }
  IWbemClassObject* spawn(const char16_t* className) {
    BSTR name = SysAllocString(className);
    IWbemClassObject* cls = nullptr;
    ns->GetObject(name, 0, nullptr, &cls, nullptr);
    SysFreeString(name);
    IWbemClassObject* instance = nullptr;
    cls->SpawnInstance(0, &instance);
    cls->Release();
    return instance;
  }
  static void put(IWbemClassObject* object, const char16_t* name, const char16_t* text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text);
    object->Put(name, 0, &value, 0);
    VariantClear(&value);
  }
  static void putInt(IWbemClassObject* object, const char16_t* name, LONG number) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = number;
    object->Put(name, 0, &value, 0);
  }

  velt::wmi::Service service;
  IWbemServices* ns = nullptr;
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
  IWbemClassObject* keyed = spawn(u"Keyed");
  put(keyed, u"Name", u"Zo\u00eb \"q\"");
  putInt(keyed, u"Slot", 42);
  WbemObjectPath path(keyed);
  EXPECT_EQ(path.modelClass(), "Keyed");
  EXPECT_EQ(path.getKeys().count(), 2);
  EXPECT_EQ(path.getKeys().get("name"), "Zo\xc3\xab \"q\"");
  EXPECT_EQ(path.getKeys().get("Slot"), "42");
  EXPECT_EQ(path.getNamespace(), "root\\paths");
  keyed->Release();

  IWbemClassObject* keyless = spawn(u"Keyless");
  EXPECT_EQ(WbemObjectPath(keyless).getKeys().count(), 0);
  keyless->Release();
}

TEST_F(InstancePathTest, RefusesWhatCannotNameTheInstance) {
  EXPECT_EQ(messageOf(nullptr), "");
  IWbemClassObject* keyed = spawn(u"Keyed");
  putInt(keyed, u"Slot", 1);  // Name stays null
  EXPECT_EQ(messageOf(keyed), "could not get key value.");
  keyed->Release();
}

}  // namespace
