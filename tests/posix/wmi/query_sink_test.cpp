// The service's query sink on its own, fed objects that each come on a layout of their own (a
// class object changed before spawning makes one), with the slots of their properties moved
// about: each must be filtered and projected on its own layout, however many there are. A
// failed allocation while it works is its answer to the provider, never an exception.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "failing_new.h"
#include "host/counting_sink.h"
#include "query_sinks.h"
#include "test_namespace_fixture.h"
#include "wmi_model/class_object.h"
#include "wmi_test_support.h"
#include "wql/query.h"

namespace velt::wmi::test {
namespace {

class QuerySinkTest : public TestNamespaceTest {
 protected:
  // An instance of Kinds on a layout of its own: a property added, and for some S8 taken
  // away, which moves every later slot (S32 among them) one place up.
  ComPtr<IWbemClassObject> instanceOnItsOwnLayout(int i, const std::u16string& name) {
    ComPtr<IWbemClassObject> cls(classOf(m_ns.get(), u"Kinds"));
    EXPECT_TRUE(cls);
    if (!cls) return {};
    OwnedVariant extra;
    extra.get()->vt = VT_I4;
    extra.get()->lVal = i;
    std::u16string added = u"Extra" + velt::utf16FromUtf8(std::to_string(i));
    EXPECT_EQ(cls->Put(added.c_str(), 0, extra.get(), CIM_SINT32), WBEM_S_NO_ERROR);
    if (i % 3 == 0) {
      EXPECT_EQ(cls->Delete(u"S8"), WBEM_S_NO_ERROR);
    }
    ComPtr<IWbemClassObject> instance;
    EXPECT_EQ(cls->SpawnInstance(0, instance.put()), WBEM_S_NO_ERROR);
    putText(instance.get(), u"Name", name.c_str());
    putInt(instance.get(), u"S32", i);
    putInt(instance.get(), u"U32", 1000 + i);
    return instance;
  }
};

TEST_F(QuerySinkTest, ObjectsOnManyLayoutsAreEachFilteredAndProjectedOnTheirOwn) {
  wql::ParseResult parsed = wql::parse(
      u"SELECT S32 FROM Kinds WHERE Name LIKE 'keep%' AND U32 > 1000", wql::QueryKind::kData);
  ASSERT_TRUE(parsed.query) << parsed.error.text();
  auto query = std::make_shared<const wql::Query>(std::move(*parsed.query));
  ComPtr<IWbemClassObject> kinds(classOf(m_ns.get(), u"Kinds"));
  std::optional<detail::ObjectState> queried = detail::stateOf(kinds.get());
  ASSERT_TRUE(queried);

  constexpr int kLayouts = 24;  // more than the sink keeps bound
  std::vector<ComPtr<IWbemClassObject>> objects;
  for (int i = 0; i < kLayouts; ++i) {
    std::u16string name = (i % 2 ? u"keep-" : u"drop-") + velt::utf16FromUtf8(std::to_string(i));
    objects.push_back(instanceOnItsOwnLayout(i, name));
    ASSERT_TRUE(objects.back());
  }
  ComPtr<RecordingSink> client(RecordingSink::create());
  ComPtr<IWbemObjectSink> sink = detail::makeQuerySink(client.get(), query, queried->layout);
  // Twice over, so that layouts bound earlier come back after others were bound.
  for (int round = 0; round < 2; ++round) {
    for (const ComPtr<IWbemClassObject>& object : objects) {
      IWbemClassObject* one = object.get();
      ASSERT_EQ(sink->Indicate(1, &one), WBEM_S_NO_ERROR);
    }
  }

  std::vector<IWbemClassObject*> got = client->objects();
  ASSERT_EQ(got.size(), std::size_t(kLayouts));  // the odd ones, U32 > 1000 but for i = 0
  for (std::size_t k = 0; k < got.size(); ++k) {
    const int i = 2 * int(k % (kLayouts / 2)) + 1;
    const std::string at = "object " + std::to_string(k);
    EXPECT_EQ(getText(got[k], u"Name"), u"keep-" + velt::utf16FromUtf8(std::to_string(i))) << at;
    OwnedVariant s32, u32, extra;
    ASSERT_EQ(got[k]->Get(u"S32", 0, s32.get(), nullptr, nullptr), WBEM_S_NO_ERROR) << at;
    EXPECT_EQ(s32.get()->vt, VT_I4) << at;
    EXPECT_EQ(s32.get()->lVal, i) << at;
    got[k]->Get(u"U32", 0, u32.get(), nullptr, nullptr);  // read, not selected
    EXPECT_EQ(u32.get()->vt, VT_NULL) << at;
    std::u16string added = u"Extra" + velt::utf16FromUtf8(std::to_string(i));
    ASSERT_EQ(got[k]->Get(added.c_str(), 0, extra.get(), nullptr, nullptr), WBEM_S_NO_ERROR) << at;
    EXPECT_EQ(extra.get()->vt, VT_NULL) << at;
  }
}

TEST_F(QuerySinkTest, AFailedAllocationIsAnsweredAsOutOfMemoryAndNothingHalfMadeGoesOn) {
  wql::ParseResult parsed =
      wql::parse(u"SELECT S32 FROM Kinds WHERE Name LIKE 'keep%'", wql::QueryKind::kData);
  ASSERT_TRUE(parsed.query) << parsed.error.text();
  auto query = std::make_shared<const wql::Query>(std::move(*parsed.query));
  ComPtr<IWbemClassObject> kinds(classOf(m_ns.get(), u"Kinds"));
  std::optional<detail::ObjectState> queried = detail::stateOf(kinds.get());
  ASSERT_TRUE(queried);
  ComPtr<IWbemClassObject> object = instanceOnItsOwnLayout(1, u"keep-1");
  ASSERT_TRUE(object);

  // Each allocation of one Indicate fails in turn, on a new sink so that nothing is bound yet.
  for (long index = 0;; ++index) {
    ComPtr<host::CountingSink> client(new host::CountingSink);
    ComPtr<IWbemObjectSink> sink = detail::makeQuerySink(client.get(), query, queried->layout);
    IWbemClassObject* one = object.get();
    HRESULT hr = E_UNEXPECTED;
    velt::test::failAllocation(index);
    try {
      hr = sink->Indicate(1, &one);
    } catch (...) {
      ADD_FAILURE() << "an exception left Indicate at allocation " << index;
    }
    const bool failed = !velt::test::allocationFailurePending();
    velt::test::failAllocation(-1);
    if (!failed) {
      EXPECT_EQ(hr, WBEM_S_NO_ERROR);
      EXPECT_EQ(client->indicated(), 1);
      EXPECT_GT(index, 0);
      break;
    }
    EXPECT_EQ(hr, WBEM_E_OUT_OF_MEMORY) << "allocation " << index;
    EXPECT_EQ(client->indicated(), 0) << "allocation " << index;
  }
}

}  // namespace
}  // namespace velt::wmi::test
