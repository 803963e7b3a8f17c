#include <gtest/gtest.h>

#include <vector>

#include <owners/com_ptr.h>
#include <owners/unique_handle.h>

#include "wmi_model/class_object.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

using velt::ComPtr;

class ClassObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_service.loadMofText(kTestMof, "test.mof");
    ASSERT_EQ(m_service.openNamespace(u"root\\test", &m_ns), WBEM_S_NO_ERROR);
  }
  void TearDown() override {
    m_ns->Release();
    m_service.shutdown();
    EXPECT_EQ(liveObjectCount(), 0);
  }
  ComPtr<IWbemClassObject> spawn(const char16_t* cls) {
    ComPtr<IWbemClassObject> def(classOf(m_ns, cls));
    ComPtr<IWbemClassObject> instance;
    EXPECT_EQ(def->SpawnInstance(0, instance.put()), WBEM_S_NO_ERROR);
    return instance;
  }

  Service m_service{[] {
    ServiceOptions options;
    options.serverName = u"HOST1";
    return options;
  }()};
  IWbemServices* m_ns = nullptr;
};

std::shared_ptr<const detail::ClassLayout> layoutOf(IWbemClassObject* object) {
  auto state = detail::stateOf(object);
  return state ? state->layout : nullptr;
}

std::u16string textOf(IWbemClassObject* object, const char16_t* name) {
  detail::Variant v;
  if (FAILED(object->Get(name, 0, v.get(), nullptr, nullptr))) return u"<missing>";
  return v.isNull() ? u"<null>" : v.asText();
}

// A provider that fetches its class for every instance it makes gets instances of one layout,
// so that a stream carries it once; each fetched class still changes only itself.
TEST_F(ClassObjectTest, SeparateFetchesShareOneLayoutYetEachClassIsItsOwnCopy) {
  ComPtr<IWbemClassObject> first(classOf(m_ns, u"Base")), second(classOf(m_ns, u"Base"));
  ComPtr<IWbemClassObject> one, other;
  ASSERT_EQ(first->SpawnInstance(0, one.put()), WBEM_S_NO_ERROR);
  ASSERT_EQ(second->SpawnInstance(0, other.put()), WBEM_S_NO_ERROR);
  ASSERT_NE(layoutOf(one.get()), nullptr);
  EXPECT_EQ(layoutOf(one.get()), layoutOf(other.get()));
  EXPECT_EQ(layoutOf(first.get()), layoutOf(second.get()));

  detail::Variant changed = detail::Variant::text(u"changed"), added = detail::Variant::text(u"x");
  ASSERT_EQ(first->Put(u"Common", 0, changed.get(), 0), WBEM_S_NO_ERROR);
  ASSERT_EQ(first->Put(u"Added", 0, added.get(), CIM_STRING), WBEM_S_NO_ERROR);
  ASSERT_EQ(first->Delete(u"Id"), WBEM_S_NO_ERROR);
  EXPECT_EQ(textOf(first.get(), u"Added"), u"x");
  EXPECT_EQ(textOf(first.get(), u"Id"), u"<missing>");
  // Siblings sharing a layout stay apart as received copies do (the object copy test); here, the
  // repository's class and what it spawned are untouched.
  ComPtr<IWbemClassObject> fresh(classOf(m_ns, u"Base"));
  for (IWbemClassObject* untouched : {fresh.get(), other.get()}) {
    EXPECT_EQ(textOf(untouched, u"Added"), u"<missing>");
    EXPECT_EQ(textOf(untouched, u"Id"), u"<null>");
    EXPECT_EQ(textOf(untouched, u"Common"), u"base");
  }
  EXPECT_EQ(layoutOf(fresh.get()), layoutOf(second.get())) << "the repository's class is unchanged";
}

TEST_F(ClassObjectTest, PropertiesKeepTheirTypesAndConvertWrittenValues) {
  ComPtr<IWbemClassObject> k = spawn(u"Kinds");
  struct Case {
    const char16_t* name;
    VARTYPE inType;
    LONG in;
    CIMTYPE cim;
    VARTYPE stored;
  } cases[] = {{u"S8", VT_I4, -5, CIM_SINT8, VT_I2},     {u"U8", VT_I4, 200, CIM_UINT8, VT_UI1},
               {u"S16", VT_I4, -300, CIM_SINT16, VT_I2}, {u"U16", VT_I4, 60000, CIM_UINT16, VT_I4},
               {u"S32", VT_I4, -7, CIM_SINT32, VT_I4},   {u"U32", VT_I4, -1, CIM_UINT32, VT_I4},
               {u"C", VT_I4, 65, CIM_CHAR16, VT_I2},     {u"B", VT_I4, 1, CIM_BOOLEAN, VT_BOOL}};
  for (const Case& c : cases) {
    velt::OwnedVariant in;
    in.get()->vt = c.inType;
    in.get()->lVal = c.in;
    EXPECT_EQ(k->Put(c.name, 0, in.get(), 0), WBEM_S_NO_ERROR);
    velt::OwnedVariant out;
    CIMTYPE type = 0;
    ASSERT_EQ(k->Get(c.name, 0, out.get(), &type, nullptr), WBEM_S_NO_ERROR);
    EXPECT_EQ(type, c.cim);
    EXPECT_EQ(out.get()->vt, c.stored);
  }
  // Out of range or the wrong kind of value is refused and leaves the value alone.
  velt::OwnedVariant big;
  big.get()->vt = VT_I4;
  big.get()->lVal = 300;
  EXPECT_EQ(k->Put(u"U8", 0, big.get(), 0), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(k->Put(u"Name", 0, big.get(), 0), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(putText(k.get(), u"S32", u"12x"), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(k->Put(u"S32", 0, big.get(), CIM_STRING), WBEM_E_TYPE_MISMATCH);
  velt::OwnedVariant u8;
  k->Get(u"U8", 0, u8.get(), nullptr, nullptr);
  EXPECT_EQ(u8.get()->bVal, 200);

  // 64-bit values travel as decimal text, both ways, to their limits.
  EXPECT_EQ(putText(k.get(), u"S64", u"-9223372036854775808"), WBEM_S_NO_ERROR);
  EXPECT_EQ(getText(k.get(), u"S64"), u"-9223372036854775808");
  EXPECT_EQ(putText(k.get(), u"U64", u"18446744073709551615"), WBEM_S_NO_ERROR);
  EXPECT_EQ(putText(k.get(), u"U64", u"18446744073709551616"), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(putText(k.get(), u"U64", u"-1"), WBEM_E_TYPE_MISMATCH);

  // Null clears; unknown and system names are refused.
  EXPECT_EQ(k->Put(u"S32", 0, nullptr, 0), WBEM_S_NO_ERROR);
  EXPECT_EQ(getText(k.get(), u"S32"), u"<null>");
  EXPECT_EQ(putText(k.get(), u"Nope", u"x"), WBEM_E_NOT_FOUND);
  EXPECT_EQ(putText(k.get(), u"__CLASS", u"x"), WBEM_E_READ_ONLY);
  velt::OwnedVariant none;
  EXPECT_EQ(k->Get(u"Nope", 0, none.get(), nullptr, nullptr), WBEM_E_NOT_FOUND);
}

TEST_F(ClassObjectTest, DefaultsAndArraysRoundTrip) {
  ComPtr<IWbemClassObject> k = spawn(u"Kinds");
  velt::OwnedVariant r64, u16, tags;
  k->Get(u"R64", 0, r64.get(), nullptr, nullptr);
  EXPECT_EQ(r64.get()->dblVal, 2.5);
  k->Get(u"U16", 0, u16.get(), nullptr, nullptr);
  EXPECT_EQ(u16.get()->lVal, 7);
  CIMTYPE type = 0;
  k->Get(u"Tags", 0, tags.get(), &type, nullptr);
  EXPECT_EQ(type, CIM_STRING | CIM_FLAG_ARRAY);
  ASSERT_EQ(tags.get()->vt, VT_ARRAY | VT_BSTR);
  EXPECT_EQ(namesIn(tags.get()->parray), (std::vector<std::u16string>{u"a", u"b"}));
  tags.get()->vt = VT_EMPTY;

  // An array of VT_I2 written into a sint32[] is converted element by element.
  velt::OwnedVariant numbers;
  numbers.get()->vt = VT_ARRAY | VT_I2;
  numbers.get()->parray = SafeArrayCreateVector(VT_I2, 0, 3);
  for (LONG i = 0; i < 3; ++i) {
    SHORT value = SHORT(10 * (i + 1));
    SafeArrayPutElement(numbers.get()->parray, &i, &value);
  }
  ASSERT_EQ(k->Put(u"Numbers", 0, numbers.get(), 0), WBEM_S_NO_ERROR);
  velt::OwnedVariant back;
  k->Get(u"Numbers", 0, back.get(), nullptr, nullptr);
  ASSERT_EQ(back.get()->vt, VT_ARRAY | VT_I4);
  LONG index = 2, third = 0;
  SafeArrayGetElement(back.get()->parray, &index, &third);
  EXPECT_EQ(third, 30);
  // A scalar is no array.
  velt::OwnedVariant scalar;
  scalar.get()->vt = VT_I4;
  EXPECT_EQ(k->Put(u"Numbers", 0, scalar.get(), 0), WBEM_E_TYPE_MISMATCH);
}

TEST_F(ClassObjectTest, GetNamesSelectsByFlags) {
  ComPtr<IWbemClassObject> p = spawn(u"Pair");
  SAFEARRAY* list = nullptr;
  EXPECT_EQ(namesOf(p.get(), WBEM_FLAG_KEYS_ONLY), (std::vector<std::u16string>{u"Name", u"Slot"}));
  EXPECT_EQ(namesOf(p.get(), WBEM_FLAG_NONSYSTEM_ONLY),
            (std::vector<std::u16string>{u"Name", u"Slot", u"Data"}));
  std::vector<std::u16string> all = namesOf(p.get(), WBEM_FLAG_ALWAYS);
  EXPECT_EQ(all.size(), 13u);
  EXPECT_EQ(all.front(), u"__GENUS");
  EXPECT_EQ(namesOf(p.get(), WBEM_FLAG_SYSTEM_ONLY).size(), 10u);
  EXPECT_EQ(namesOf(p.get(), WBEM_FLAG_ONLY_IF_FALSE, u"key"),
            (std::vector<std::u16string>{u"Data"}));
  // A qualifier condition needs a qualifier name, and the other way round.
  EXPECT_EQ(p->GetNames(u"key", 0, nullptr, &list), WBEM_E_INVALID_PARAMETER);
  EXPECT_EQ(p->GetNames(nullptr, WBEM_FLAG_ONLY_IF_TRUE, nullptr, &list), WBEM_E_INVALID_PARAMETER);

  ComPtr<IWbemClassObject> d = spawn(u"Derived");
  EXPECT_EQ(namesOf(d.get(), WBEM_FLAG_LOCAL_ONLY), (std::vector<std::u16string>{u"Extra"}));
  EXPECT_EQ(namesOf(d.get(), WBEM_FLAG_PROPAGATED_ONLY),
            (std::vector<std::u16string>{u"Id", u"Common"}));
  EXPECT_EQ(getText(d.get(), u"Common"), u"base");
  EXPECT_EQ(getText(d.get(), u"__SUPERCLASS"), u"Base");
  EXPECT_EQ(getText(d.get(), u"__DYNASTY"), u"Base");
  EXPECT_EQ(d->InheritsFrom(u"base"), WBEM_S_NO_ERROR);
  velt::OwnedVariant count;
  d->Get(u"__PROPERTY_COUNT", 0, count.get(), nullptr, nullptr);
  EXPECT_EQ(count.get()->lVal, 3);
}

TEST_F(ClassObjectTest, PathsQuoteStringKeysAndSortKeysByName) {
  ComPtr<IWbemClassObject> p = spawn(u"Pair");
  EXPECT_EQ(getText(p.get(), u"__RELPATH"), u"<null>");  // keys not yet set
  putText(p.get(), u"Name", u"a \"quoted\" C:\\dir");
  putInt(p.get(), u"Slot", -1);  // uint32 carried in VT_I4
  EXPECT_EQ(getText(p.get(), u"__RELPATH"),
            u"Pair.Name=\"a \\\"quoted\\\" C:\\\\dir\",Slot=4294967295");
  EXPECT_EQ(getText(p.get(), u"__PATH"),
            u"\\\\HOST1\\root\\test:Pair.Name=\"a \\\"quoted\\\" C:\\\\dir\",Slot=4294967295");
  EXPECT_EQ(getText(p.get(), u"__SERVER"), u"HOST1");
  EXPECT_EQ(getText(p.get(), u"__NAMESPACE"), u"root\\test");
  velt::OwnedVariant genus;
  p->Get(u"__GENUS", 0, genus.get(), nullptr, nullptr);
  EXPECT_EQ(genus.get()->lVal, WBEM_GENUS_INSTANCE);

  ComPtr<IWbemClassObject> copy;
  ASSERT_EQ(p->Clone(copy.put()), WBEM_S_NO_ERROR);
  putInt(p.get(), u"Slot", 2);
  EXPECT_EQ(getText(copy.get(), u"__RELPATH"),
            u"Pair.Name=\"a \\\"quoted\\\" C:\\\\dir\",Slot=4294967295");

  ComPtr<IWbemClassObject> s = spawn(u"Settings");
  EXPECT_EQ(getText(s.get(), u"__RELPATH"), u"Settings=@");
  ComPtr<IWbemClassObject> cls(classOf(m_ns, u"Pair"));
  EXPECT_EQ(getText(cls.get(), u"__RELPATH"), u"Pair");
  EXPECT_EQ(getText(cls.get(), u"__PATH"), u"\\\\HOST1\\root\\test:Pair");
}

TEST_F(ClassObjectTest, MethodsHaveParameterClassesThatSpawnInstances) {
  ComPtr<IWbemClassObject> cls(classOf(m_ns, u"Kinds"));
  ComPtr<IWbemClassObject> in, out;
  ASSERT_EQ(cls->GetMethod(u"Scale", 0, in.put(), out.put()), WBEM_S_NO_ERROR);
  EXPECT_EQ(namesOf(in.get(), WBEM_FLAG_NONSYSTEM_ONLY),
            (std::vector<std::u16string>{u"Value", u"Label"}));
  EXPECT_EQ(namesOf(out.get(), WBEM_FLAG_NONSYSTEM_ONLY),
            (std::vector<std::u16string>{u"ReturnValue", u"Label", u"Doubled"}));
  ComPtr<IWbemClassObject> result;
  ASSERT_EQ(out->SpawnInstance(0, result.put()), WBEM_S_NO_ERROR);
  EXPECT_EQ(putInt(result.get(), u"ReturnValue", 3), WBEM_S_NO_ERROR);
  EXPECT_EQ(getText(result.get(), u"__CLASS"), u"__PARAMETERS");
  EXPECT_EQ(putInt(result.get(), u"Value", 1), WBEM_E_NOT_FOUND);  // an in-parameter only
  EXPECT_EQ(cls->GetMethod(u"Missing", 0, in.put(), out.put()), WBEM_E_NOT_FOUND);
}

// A derived class holds its superclass's definition shared; the class object still shows
// every inherited property in its slot, overrides merged, and the derivation in order.
TEST(DerivedClassTest, ShowsTheWholeChain) {
  Service service;
  service.loadMofText(
      "#pragma namespace(\"root\\\\d\")\n"
      "class A { [key] string K; uint32 X = 1; uint32 M(); uint32 N(); };\n"
      "class B : A { [Description(\"b\")] uint32 X = 2; string Y; uint32 M(); };\n"
      "class C : B { string Z; };",
      "d.mof");
  ComPtr<IWbemServices> ns;
  ASSERT_EQ(service.openNamespace(u"root\\d", ns.put()), WBEM_S_NO_ERROR);
  ComPtr<IWbemClassObject> c(classOf(ns.get(), u"C"));
  ASSERT_TRUE(c);
  EXPECT_EQ(namesOf(c.get(), WBEM_FLAG_NONSYSTEM_ONLY),
            (std::vector<std::u16string>{u"K", u"X", u"Y", u"Z"}));
  velt::OwnedVariant x;
  LONG flavor = 0;
  ASSERT_EQ(c->Get(u"X", 0, x.get(), nullptr, &flavor), WBEM_S_NO_ERROR);
  EXPECT_EQ(x.get()->lVal, 2);
  EXPECT_EQ(flavor, WBEM_FLAVOR_ORIGIN_PROPAGATED);
  velt::UniqueBstr origin;
  ASSERT_EQ(c->GetPropertyOrigin(u"X", origin.put()), WBEM_S_NO_ERROR);
  EXPECT_EQ(std::u16string(origin.get()), u"A");
  EXPECT_EQ(getText(c.get(), u"__DYNASTY"), u"A");
  EXPECT_EQ(getText(c.get(), u"__SUPERCLASS"), u"B");
  ASSERT_EQ(c->GetMethodOrigin(u"M", origin.put()), WBEM_S_NO_ERROR);
  EXPECT_EQ(std::u16string(origin.get()), u"B");
}

}  // namespace
}  // namespace velt::wmi::test
