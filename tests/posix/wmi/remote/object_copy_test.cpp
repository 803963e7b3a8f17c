// WMI objects and contexts as they cross between processes: the copy a process receives is a
// whole object of the object model, equal to what was sent, whichever implementation sent it.
#include <capnp/message.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "declined_wbem.h"
#include "remote/known_layouts.h"
#include "remote/object_codec.h"
#include "test_namespace_fixture.h"
#include "wmi_model/class_object.h"
#include "wmi_model/objects.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

using detail::Variant;
using velt::ComPtr;

std::string narrowName(const std::u16string& name) { return velt::utf8FromUtf16(name); }

ComPtr<IWbemClassObject> copied(IWbemClassObject* object) {
  capnp::MallocMessageBuilder message;
  auto root = message.initRoot<rpc::WbemObject>();
  EXPECT_EQ(remote::writeObject(object, root), S_OK);
  ComPtr<IWbemClassObject> copy;
  EXPECT_EQ(remote::readObject(root.asReader(), copy), S_OK);
  return copy;
}

Variant value(IWbemClassObject* object, const std::u16string& name, CIMTYPE* type = nullptr) {
  Variant v;
  EXPECT_EQ(object->Get(name.c_str(), 0, v.get(), type, nullptr), WBEM_S_NO_ERROR)
      << narrowName(name);
  return v;
}

std::vector<std::u16string> textElements(const Variant& array) {
  std::vector<Variant> elements;
  std::vector<std::u16string> out;
  if (FAILED(detail::readElements(*array.get(), elements))) return {u"<not an array>"};
  for (const Variant& e : elements) out.push_back(e.asText());
  return out;
}

// Forwards to an object of the model what the codec reads, but is not one: its copy is read
// through the interface alone, as one from another implementation would be.
class Foreign final : public velt::test::DeclinedClassObject {
 public:
  explicit Foreign(IWbemClassObject* inner) : m_inner(inner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IWbemClassObject) return E_NOINTERFACE;
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }  // lives on the test's stack
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  STDMETHODIMP GetQualifierSet(IWbemQualifierSet** q) override {
    return m_inner->GetQualifierSet(q);
  }
  STDMETHODIMP Get(LPCWSTR n, LONG f, VARIANT* v, CIMTYPE* t, LONG* fl) override {
    return m_inner->Get(n, f, v, t, fl);
  }
  STDMETHODIMP GetNames(LPCWSTR q, LONG f, VARIANT* v, SAFEARRAY** n) override {
    return m_inner->GetNames(q, f, v, n);
  }
  STDMETHODIMP GetPropertyQualifierSet(LPCWSTR n, IWbemQualifierSet** q) override {
    return m_inner->GetPropertyQualifierSet(n, q);
  }
  STDMETHODIMP GetPropertyOrigin(LPCWSTR n, BSTR* c) override {
    return m_inner->GetPropertyOrigin(n, c);
  }
  STDMETHODIMP BeginMethodEnumeration(LONG f) override {
    return m_inner->BeginMethodEnumeration(f);
  }
  STDMETHODIMP NextMethod(LONG f, BSTR* n, IWbemClassObject** i, IWbemClassObject** o) override {
    return m_inner->NextMethod(f, n, i, o);
  }
  STDMETHODIMP EndMethodEnumeration() override { return m_inner->EndMethodEnumeration(); }
  STDMETHODIMP GetMethodQualifierSet(LPCWSTR n, IWbemQualifierSet** q) override {
    return m_inner->GetMethodQualifierSet(n, q);
  }

 private:
  IWbemClassObject* m_inner;
};

// Equal in every property, system ones (__RELPATH, __PATH ...) included, and in their types.
void expectSameObject(IWbemClassObject* sent, IWbemClassObject* got) {
  ASSERT_NE(got, nullptr);
  BSTR sentText = nullptr, gotText = nullptr;
  ASSERT_EQ(sent->GetObjectText(0, &sentText), WBEM_S_NO_ERROR);
  ASSERT_EQ(got->GetObjectText(0, &gotText), WBEM_S_NO_ERROR);
  EXPECT_EQ(std::u16string(gotText), std::u16string(sentText));
  SysFreeString(sentText);
  SysFreeString(gotText);
  EXPECT_EQ(namesOf(got, WBEM_FLAG_ALWAYS), namesOf(sent, WBEM_FLAG_ALWAYS));
  for (const std::u16string& name : namesOf(sent, WBEM_FLAG_ALWAYS)) {
    CIMTYPE sentType = 0, gotType = 0;
    Variant a = value(sent, name, &sentType), b = value(got, name, &gotType);
    EXPECT_EQ(gotType, sentType) << narrowName(name);
    EXPECT_EQ(b.vt(), a.vt()) << narrowName(name);
    EXPECT_EQ(valueText(b), valueText(a)) << narrowName(name);
  }
}

class ObjectCopyTest : public TestNamespaceTest {
 protected:
  ComPtr<IWbemClassObject> classNamed(const char16_t* name) {
    return ComPtr<IWbemClassObject>(classOf(m_ns.get(), name));
  }
  // A Kinds instance with every property set, arrays and the empty string included, spawned
  // from `kinds` when given.
  ComPtr<IWbemClassObject> fullKinds(IWbemClassObject* kinds = nullptr) {
    ComPtr<IWbemClassObject> instance;
    ComPtr<IWbemClassObject> definition = kinds ? ComPtr<IWbemClassObject>() : classNamed(u"Kinds");
    if (kinds == nullptr) kinds = definition.get();
    EXPECT_EQ(kinds->SpawnInstance(0, instance.put()), WBEM_S_NO_ERROR);
    const std::pair<const char16_t*, const char16_t*> texts[] = {
        {u"Name", u"k\u00e9"},
        {u"S8", u"-5"},
        {u"U8", u"200"},
        {u"S16", u"-300"},
        {u"U16", u"65535"},
        {u"S32", u"-7"},
        {u"U32", u"4000000000"},
        {u"S64", u"-9000000000"},
        {u"U64", u"18000000000000000000"},
        {u"R32", u"1.5"},
        {u"R64", u"-0.25"},
        {u"When", u"20240102030405.000000+000"},
        {u"C", u"65"}};
    for (const auto& [name, text] : texts) {
      EXPECT_EQ(putText(instance.get(), name, text), WBEM_S_NO_ERROR) << narrowName(name);
    }
    Variant yes = Variant::boolean(true);
    EXPECT_EQ(instance->Put(u"B", 0, yes.get(), 0), WBEM_S_NO_ERROR);
    Variant tags;
    tags.get()->vt = VT_ARRAY | VT_BSTR;
    tags.get()->parray = detail::makeStringArray({u"x", u"", u"z"});
    EXPECT_EQ(instance->Put(u"Tags", 0, tags.get(), 0), WBEM_S_NO_ERROR);
    return instance;
  }
};

TEST_F(ObjectCopyTest, InstancesArriveWithEveryValueTypeKeyAndPath) {
  ComPtr<IWbemClassObject> instance = fullKinds();
  ComPtr<IWbemClassObject> copy = copied(instance.get());
  expectSameObject(instance.get(), copy.get());
  // The copy is an instance of the model: it takes writes checked against its class.
  Variant text = Variant::text(u"not a number");
  EXPECT_EQ(copy->Put(u"S32", 0, text.get(), 0), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(copy->Put(u"Unknown", 0, text.get(), 0), WBEM_E_NOT_FOUND);
  // A null value stays null, the empty string stays empty.
  EXPECT_EQ(putText(instance.get(), u"Name", u""), WBEM_S_NO_ERROR);
  copy = copied(instance.get());
  EXPECT_EQ(value(copy.get(), u"Name").vt(), VT_BSTR);
  EXPECT_EQ(getText(copy.get(), u"Name"), u"");
  EXPECT_EQ(value(copy.get(), u"Numbers").vt(), VT_NULL);
}

TEST_F(ObjectCopyTest, ClassesArriveWithQualifiersDefaultsInheritanceAndMethods) {
  ComPtr<IWbemClassObject> kinds = classNamed(u"Kinds");
  ComPtr<IWbemClassObject> copy = copied(kinds.get());
  expectSameObject(kinds.get(), copy.get());
  ComPtr<IWbemQualifierSet> qualifiers;
  ASSERT_EQ(copy->GetQualifierSet(qualifiers.put()), WBEM_S_NO_ERROR);
  Variant description;
  EXPECT_EQ(qualifiers->Get(u"Description", 0, description.get(), nullptr), WBEM_S_NO_ERROR);
  EXPECT_EQ(description.asText(), u"all kinds");
  EXPECT_EQ(namesOf(copy.get(), WBEM_FLAG_KEYS_ONLY), std::vector<std::u16string>{u"Name"});
  // Defaults reach the instances spawned from the copy.
  ComPtr<IWbemClassObject> spawned;
  ASSERT_EQ(copy->SpawnInstance(0, spawned.put()), WBEM_S_NO_ERROR);
  EXPECT_EQ(value(spawned.get(), u"U16").get()->lVal, 7);
  EXPECT_EQ(textElements(value(spawned.get(), u"Tags")), (std::vector<std::u16string>{u"a", u"b"}));
  // Method signatures come along, so a provider can answer a method from the copy.
  ComPtr<IWbemClassObject> in, out;
  ASSERT_EQ(copy->GetMethod(u"Scale", 0, in.put(), out.put()), WBEM_S_NO_ERROR);
  ASSERT_TRUE(in && out);
  ComPtr<IWbemClassObject> originalIn, originalOut;
  ASSERT_EQ(kinds->GetMethod(u"Scale", 0, originalIn.put(), originalOut.put()), WBEM_S_NO_ERROR);
  expectSameObject(originalIn.get(), in.get());
  expectSameObject(originalOut.get(), out.get());

  ComPtr<IWbemClassObject> derived = copied(classNamed(u"Derived").get());
  expectSameObject(classNamed(u"Derived").get(), derived.get());
  EXPECT_EQ(derived->InheritsFrom(u"Base"), WBEM_S_NO_ERROR);
  BSTR origin = nullptr;
  ASSERT_EQ(derived->GetPropertyOrigin(u"Common", &origin), WBEM_S_NO_ERROR);
  EXPECT_EQ(std::u16string(origin), u"Base");
  SysFreeString(origin);
}

TEST_F(ObjectCopyTest, ObjectsOfAnotherImplementationArriveAsTheirInterfaceShowsThem) {
  ComPtr<IWbemClassObject> instance = fullKinds();
  Foreign foreign(instance.get());
  ComPtr<IWbemClassObject> copy = copied(&foreign);
  expectSameObject(instance.get(), copy.get());

  ComPtr<IWbemClassObject> kinds = classNamed(u"Kinds");
  Foreign foreignClass(kinds.get());
  ComPtr<IWbemClassObject> classCopy = copied(&foreignClass);
  expectSameObject(kinds.get(), classCopy.get());
  ComPtr<IWbemClassObject> in, out, originalIn, originalOut;
  ASSERT_EQ(classCopy->GetMethod(u"Scale", 0, in.put(), out.put()), WBEM_S_NO_ERROR);
  ASSERT_EQ(kinds->GetMethod(u"Scale", 0, originalIn.put(), originalOut.put()), WBEM_S_NO_ERROR);
  expectSameObject(originalIn.get(), in.get());
}

TEST_F(ObjectCopyTest, EmbeddedObjectsAndContextsCrossByValue) {
  ComPtr<IWbemClassObject> instance = fullKinds();
  Variant embedded;
  embedded.get()->vt = VT_UNKNOWN;
  embedded.get()->punkVal = instance.get();
  instance->AddRef();
  capnp::MallocMessageBuilder message;
  auto root = message.initRoot<rpc::Value>();
  ASSERT_EQ(remote::writeValue(*embedded.get(), root), S_OK);
  Variant back;
  ASSERT_EQ(remote::readValue(root.asReader(), back), S_OK);
  ASSERT_EQ(back.vt(), VT_UNKNOWN);
  ComPtr<IWbemClassObject> inner;
  ASSERT_EQ(back.get()->punkVal->QueryInterface(IID_IWbemClassObject,
                                                reinterpret_cast<void**>(inner.put())),
            S_OK);
  EXPECT_NE(inner.get(), instance.get()) << "a copy, not the sender's object";
  expectSameObject(instance.get(), inner.get());

  ComPtr<IWbemContext> context;
  ASSERT_EQ(createContext(context.put()), WBEM_S_NO_ERROR);
  Variant unsignedValue, empty = Variant::text(u""), null = Variant::null();
  unsignedValue.get()->vt = VT_UI4;
  unsignedValue.get()->ulVal = 4000000000u;
  context->SetValue(u"Count", 0, unsignedValue.get());
  context->SetValue(u"Empty", 0, empty.get());
  context->SetValue(u"Nothing", 0, null.get());
  capnp::MallocMessageBuilder contextMessage;
  auto contextRoot = contextMessage.initRoot<rpc::Context>();
  ASSERT_EQ(remote::writeContext(context.get(), contextRoot), S_OK);
  ComPtr<IWbemContext> copy;
  ASSERT_EQ(remote::readContext(contextRoot.asReader(), copy), S_OK);
  Variant count, gotEmpty, nothing;
  ASSERT_EQ(copy->GetValue(u"Count", 0, count.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(count.vt(), VT_UI4);
  EXPECT_EQ(count.get()->ulVal, 4000000000u);
  ASSERT_EQ(copy->GetValue(u"Empty", 0, gotEmpty.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(gotEmpty.vt(), VT_BSTR);
  ASSERT_EQ(copy->GetValue(u"Nothing", 0, nothing.get()), WBEM_S_NO_ERROR);
  EXPECT_EQ(nothing.vt(), VT_NULL);
}

// What one sink's stream carries: objects written in order with the stream's layouts.
struct Streamed {
  Streamed() : objects(message.initRoot<rpc::Indicated>().initObjects(8)) {}
  capnp::MallocMessageBuilder message;
  capnp::List<rpc::WbemObject>::Builder objects;
};

std::shared_ptr<const detail::ClassLayout> layoutOf(IWbemClassObject* object) {
  auto state = detail::stateOf(object);
  return state ? state->layout : nullptr;
}

TEST_F(ObjectCopyTest, AStreamCarriesEachLayoutOnceAndItsObjectsStayCopiesOfTheirOwn) {
  ComPtr<IWbemClassObject> kinds = classNamed(u"Kinds");
  ComPtr<IWbemClassObject> first = fullKinds(kinds.get()), second = fullKinds(kinds.get());
  ASSERT_EQ(putText(second.get(), u"Name", u"second"), WBEM_S_NO_ERROR);
  ComPtr<IWbemClassObject> derived = classNamed(u"Derived");
  remote::SentLayouts sent;
  Streamed stream;
  IWbemClassObject* order[] = {first.get(), derived.get(), second.get(), derived.get()};
  for (unsigned i = 0; i < 4; ++i) {
    ASSERT_EQ(remote::writeObject(order[i], stream.objects[i], &sent), S_OK);
  }
  auto objects = stream.objects.asReader();
  EXPECT_TRUE(objects[0].hasLayout() && objects[1].hasLayout());
  EXPECT_FALSE(objects[2].hasLayout() || objects[3].hasLayout()) << "a layout goes once";
  EXPECT_EQ(objects[2].getLayoutId(), objects[0].getLayoutId());
  EXPECT_EQ(objects[3].getLayoutId(), objects[1].getLayoutId());
  EXPECT_LT(objects[2].totalSize().wordCount * 3, objects[0].totalSize().wordCount)
      << "values only";

  remote::ReceivedLayouts received;
  std::vector<ComPtr<IWbemClassObject>> got(4);
  for (unsigned i = 0; i < 4; ++i) {
    ASSERT_EQ(remote::readObject(objects[i], got[i], &received), S_OK);
    expectSameObject(order[i], got[i].get());
  }
  // One layout read once, shared as instances spawned from one class share it ...
  EXPECT_EQ(layoutOf(got[0].get()), layoutOf(got[2].get()));
  EXPECT_EQ(layoutOf(got[1].get()), layoutOf(got[3].get()));
  // ... yet each object is its own: writing one changes neither the other nor the sender's.
  ASSERT_EQ(putText(got[0].get(), u"Name", u"changed"), WBEM_S_NO_ERROR);
  EXPECT_EQ(getText(got[2].get(), u"Name"), u"second");
  EXPECT_EQ(getText(first.get(), u"Name"), u"k\u00e9");
  Variant added = Variant::text(u"x");
  ASSERT_EQ(got[1]->Put(u"Added", 0, added.get(), CIM_STRING), WBEM_S_NO_ERROR);
  Variant none;
  EXPECT_EQ(got[3]->Get(u"Added", 0, none.get(), nullptr, nullptr), WBEM_E_NOT_FOUND);
  EXPECT_EQ(derived->Get(u"Added", 0, none.get(), nullptr, nullptr), WBEM_E_NOT_FOUND);

  // A call that never went out defined nothing: its layouts go again with the next one.
  remote::SentLayouts again;
  Streamed lost, next;
  ASSERT_EQ(remote::writeObject(first.get(), lost.objects[0], &again), S_OK);
  again.forgetAfter(0);
  ASSERT_EQ(remote::writeObject(first.get(), next.objects[0], &again), S_OK);
  EXPECT_TRUE(next.objects[0].hasLayout());
  EXPECT_EQ(next.objects[0].getLayoutId(), 1u);
}

// A provider that fetches its class for every instance receives the same class again and again:
// its instances share one layout, so that its sink's stream carries it once.
TEST_F(ObjectCopyTest, AClassReceivedAgainSharesTheLayoutReadBeforeYetStaysItsOwnCopy) {
  ComPtr<IWbemClassObject> kinds = classNamed(u"Kinds");
  ComPtr<IWbemClassObject> first = copied(kinds.get()), second = copied(kinds.get());
  ASSERT_NE(layoutOf(first.get()), nullptr);
  EXPECT_EQ(layoutOf(first.get()), layoutOf(second.get()));

  ComPtr<IWbemClassObject> one, other;
  ASSERT_EQ(first->SpawnInstance(0, one.put()), WBEM_S_NO_ERROR);
  ASSERT_EQ(second->SpawnInstance(0, other.put()), WBEM_S_NO_ERROR);
  remote::SentLayouts sent;
  Streamed stream;
  ASSERT_EQ(remote::writeObject(one.get(), stream.objects[0], &sent), S_OK);
  ASSERT_EQ(remote::writeObject(other.get(), stream.objects[1], &sent), S_OK);
  EXPECT_FALSE(stream.objects.asReader()[1].hasLayout()) << "the layout goes once";

  // Changing one received class reaches neither the other nor what is received later.
  Variant changed = Variant::text(u"changed"), added = Variant::text(u"x");
  ASSERT_EQ(first->Put(u"Name", 0, changed.get(), 0), WBEM_S_NO_ERROR);
  ASSERT_EQ(first->Put(u"Added", 0, added.get(), CIM_STRING), WBEM_S_NO_ERROR);
  ComPtr<IWbemClassObject> later = copied(kinds.get());
  Variant none;
  for (IWbemClassObject* untouched : {second.get(), later.get(), other.get()}) {
    EXPECT_EQ(untouched->Get(u"Added", 0, none.get(), nullptr, nullptr), WBEM_E_NOT_FOUND);
    EXPECT_TRUE(value(untouched, u"Name").isNull());
  }
  EXPECT_EQ(layoutOf(later.get()), layoutOf(second.get()));
  // A class of other content has a layout of its own.
  ComPtr<IWbemClassObject> changedCopy = copied(first.get());
  EXPECT_NE(layoutOf(changedCopy.get()), layoutOf(second.get()));
  expectSameObject(first.get(), changedCopy.get());
}

TEST_F(ObjectCopyTest, LayoutsReceivedWholeAreRememberedBoundedly) {
  ComPtr<IWbemClassObject> kinds = classNamed(u"Kinds");
  ComPtr<IWbemClassObject> early = copied(kinds.get());
  for (std::size_t i = 0; i < remote::kMaxKnownLayouts; ++i) {
    ComPtr<IWbemClassObject> clone;
    ASSERT_EQ(kinds->Clone(clone.put()), WBEM_S_NO_ERROR);
    Variant v = Variant::text(u"x" + velt::utf16FromUtf8(std::to_string(i)));
    ASSERT_EQ(clone->Put(u"Extra", 0, v.get(), CIM_STRING), WBEM_S_NO_ERROR);
    ComPtr<IWbemClassObject> copy = copied(clone.get());
    expectSameObject(clone.get(), copy.get());
  }
  EXPECT_LE(remote::knownLayouts().size(), remote::kMaxKnownLayouts);
  // The oldest went first: the class is read anew, equal but on a layout of its own.
  ComPtr<IWbemClassObject> again = copied(kinds.get());
  expectSameObject(kinds.get(), again.get());
  EXPECT_NE(layoutOf(again.get()), layoutOf(early.get()));
}

TEST_F(ObjectCopyTest, AStreamOfEverNewLayoutsHoldsABoundedTable) {
  ComPtr<IWbemClassObject> kinds = classNamed(u"Kinds");
  remote::SentLayouts sent;
  remote::ReceivedLayouts received;
  for (std::size_t i = 0; i <= remote::kMaxStreamLayouts; ++i) {
    ComPtr<IWbemClassObject> clone;  // a clone shares the layout; a new property makes a new one
    ASSERT_EQ(kinds->Clone(clone.put()), WBEM_S_NO_ERROR);
    Variant v = Variant::text(u"x");
    ASSERT_EQ(clone->Put(u"Extra", 0, v.get(), CIM_STRING), WBEM_S_NO_ERROR);
    Streamed stream;
    ASSERT_EQ(remote::writeObject(clone.get(), stream.objects[0], &sent), S_OK);
    ComPtr<IWbemClassObject> copy;
    ASSERT_EQ(remote::readObject(stream.objects[0].asReader(), copy, &received), S_OK);
    expectSameObject(clone.get(), copy.get());
    const uint32_t expected = i < remote::kMaxStreamLayouts ? uint32_t(i + 1) : 0;
    EXPECT_EQ(stream.objects[0].getLayoutId(), expected) << "beyond the bound, layouts go whole";
  }
  EXPECT_EQ(sent.count(), remote::kMaxStreamLayouts);
  EXPECT_FALSE(received.define(uint32_t(remote::kMaxStreamLayouts + 1), layoutOf(kinds.get())));
}

TEST_F(ObjectCopyTest, MalformedObjectsAreRefusedNotTrusted) {
  const long before = liveObjectCount();
  {
    capnp::MallocMessageBuilder message;
    auto root = message.initRoot<rpc::WbemObject>();
    ComPtr<IWbemClassObject> copy;
    EXPECT_EQ(remote::readObject(root.asReader(), copy), WBEM_E_INVALID_OBJECT) << "no class";
    ASSERT_EQ(remote::writeObject(fullKinds().get(), root), S_OK);
    root.initValues(2);  // fewer values than the class has properties
    EXPECT_EQ(remote::readObject(root.asReader(), copy), WBEM_E_INVALID_OBJECT);
    EXPECT_FALSE(copy);
    // An array whose elements are not of its element type.
    capnp::MallocMessageBuilder valueMessage;
    auto value = valueMessage.initRoot<rpc::Value>();
    value.setVt(VT_ARRAY | VT_I4);
    auto elements = value.initElements(1);
    elements[0].setVt(VT_BSTR);
    elements[0].setText(remote::textBytes(u"x"));
    Variant out;
    EXPECT_EQ(remote::readValue(value.asReader(), out), WBEM_E_TYPE_MISMATCH);
    EXPECT_EQ(out.vt(), VT_EMPTY);
  }
  {
    // Layout numbers: one the stream never defined, one outside any stream, a definition out
    // of sequence, and values that do not fit the numbered layout.
    remote::SentLayouts sent;
    Streamed stream;
    ComPtr<IWbemClassObject> kinds = fullKinds();
    ASSERT_EQ(remote::writeObject(kinds.get(), stream.objects[0], &sent), S_OK);
    ASSERT_EQ(remote::writeObject(kinds.get(), stream.objects[1], &sent), S_OK);
    auto defining = stream.objects[0].asReader(), numbered = stream.objects[1].asReader();
    ComPtr<IWbemClassObject> copy;
    remote::ReceivedLayouts fresh;
    EXPECT_EQ(remote::readObject(numbered, copy, &fresh), WBEM_E_INVALID_OBJECT) << "unknown";
    EXPECT_EQ(remote::readObject(numbered, copy), WBEM_E_INVALID_OBJECT) << "no stream";
    EXPECT_EQ(remote::readObject(defining, copy), WBEM_E_INVALID_OBJECT) << "no stream";
    stream.objects[0].setLayoutId(5);
    EXPECT_EQ(remote::readObject(defining, copy, &fresh), WBEM_E_INVALID_OBJECT) << "sequence";
    stream.objects[0].setLayoutId(1);
    ASSERT_EQ(remote::readObject(defining, copy, &fresh), S_OK);
    stream.objects[1].initValues(3);
    EXPECT_EQ(remote::readObject(numbered, copy, &fresh), WBEM_E_INVALID_OBJECT) << "values";
    stream.objects[1].setLayoutId(1000000);
    EXPECT_EQ(remote::readObject(numbered, copy, &fresh), WBEM_E_INVALID_OBJECT) << "range";
  }
  EXPECT_EQ(liveObjectCount(), before) << "nothing half-made is left behind";
}

}  // namespace
}  // namespace velt::wmi::test
