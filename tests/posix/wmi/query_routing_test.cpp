// Queries carried out by the service over a provider that serves none: the class is enumerated
// and only the matching instances come back, projected, one at a time; event subscriptions are
// filtered the same way; a faulty query says where its fault is.
#include <gtest/gtest.h>

#include "gadget_namespace_test.h"
#include "status_sink.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

// The description a sink's final status object carries.
std::u16string described(StatusSink* sink) {
  ComPtr<IWbemClassObject> object = sink->wait().second;
  return object ? getText(object.get(), u"Description") : u"<no status object>";
}

class QueryRoutingTest : public GadgetNamespaceTest {
 protected:
  // The query's final status; its objects stay in `*keep` when asked for.
  HRESULT query(const std::u16string& text, RecordingSink** keep = nullptr) {
    velt::UniqueBstr wql = velt::bstrFromUtf16(u"WQL"), q = velt::bstrFromUtf16(text);
    return run(
        [&](IWbemObjectSink* s) { return m_ns->ExecQueryAsync(wql.get(), q.get(), 0, nullptr, s); },
        keep);
  }
  HRESULT putGadget(const char16_t* name, LONG size) {
    ComPtr<IWbemClassObject> gadget = veltwmi::test::newGadget(m_ns.get(), name, size);
    return run(
        [&](IWbemObjectSink* s) { return m_ns->PutInstanceAsync(gadget.get(), 0, nullptr, s); });
  }
};

// How conditions compare values is the query language's test; here the service applies them
// to what the provider enumerated and keeps only the selected properties, keys included.
TEST_F(QueryRoutingTest, OnlyMatchingInstancesComeBackWithTheSelectedPropertiesAndKeys) {
  ASSERT_EQ(putGadget(u"big", 5000), WBEM_S_NO_ERROR);
  RecordingSink* got = nullptr;
  ASSERT_EQ(query(u"SELECT Name FROM gadget WHERE Size >= 1 AND NOT Name LIKE 'b%'", &got),
            WBEM_S_NO_ERROR);
  std::vector<IWbemClassObject*> objects = got->objects();
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(getText(objects[0], u"Name"), u"g1");
  EXPECT_EQ(getText(objects[0], u"__RELPATH"), u"Gadget.Name=\"g1\"");
  EXPECT_EQ(getText(objects[1], u"Name"), u"g2");
  OwnedVariant unselected;  // though the provider set it
  objects[1]->Get(u"Size", 0, unselected.get(), nullptr, nullptr);
  EXPECT_EQ(unselected.get()->vt, VT_NULL);
  got->Release();

  // A condition on a system property reads each object itself; the projection is the same.
  ASSERT_EQ(query(u"SELECT Name FROM Gadget WHERE __CLASS = 'gadget' AND Size = 2", &got),
            WBEM_S_NO_ERROR);
  ASSERT_EQ(got->objects().size(), 1u);
  EXPECT_EQ(getText(got->objects()[0], u"Name"), u"g2");
  OwnedVariant dropped;
  got->objects()[0]->Get(u"Size", 0, dropped.get(), nullptr, nullptr);
  EXPECT_EQ(dropped.get()->vt, VT_NULL);
  got->Release();
}

TEST_F(QueryRoutingTest, AFaultyQueryIsRefusedWithItsPosition) {
  struct Case {
    const char16_t* language;
    std::u16string text;
    HRESULT status;
    std::u16string description;
  };
  const Case cases[] = {
      {u"WQL", u"SELECT * FROM Gadget WHERE Size >", WBEM_E_INVALID_QUERY,
       u"position 34: expected a constant, found end of query"},
      {u"WQL", u"SELECT Nmae FROM Gadget", WBEM_E_INVALID_QUERY,
       u"position 8: Gadget has no property 'Nmae'"},
      {u"WQL", u"SELECT * FROM Gadget WHERE Szie = 1", WBEM_E_INVALID_QUERY,
       u"position 28: Gadget has no property 'Szie'"},
      {u"WQL", u"SELECT * FROM Gizmo", WBEM_E_INVALID_CLASS, u"<no status object>"},
      {u"SQL", u"SELECT * FROM Gadget", WBEM_E_INVALID_QUERY_TYPE, u"<no status object>"},
  };
  for (const Case& c : cases) {
    velt::UniqueBstr language = velt::bstrFromUtf16(c.language), q = velt::bstrFromUtf16(c.text);
    ComPtr<StatusSink> sink(new StatusSink);
    EXPECT_EQ(m_ns->ExecQueryAsync(language.get(), q.get(), 0, nullptr, sink.get()),
              WBEM_S_NO_ERROR);
    EXPECT_EQ(sink->wait().first, c.status);
    EXPECT_EQ(described(sink.get()), c.description);
  }
  ComPtr<StatusSink> events(new StatusSink);
  EXPECT_EQ(subscribe(m_ns.get(), events.get(), u"SELECT * FROM GadgetChanged WHERE Size = = 1"),
            WBEM_E_INVALID_QUERY);
  EXPECT_EQ(described(events.get()), u"position 42: expected a constant, found '='");
}

TEST_F(QueryRoutingTest, EventsAreFilteredByTheConditionUntilCancelled) {
  RecordingSink* everything = RecordingSink::create();
  RecordingSink* filtered = RecordingSink::create();
  ASSERT_EQ(subscribe(m_ns.get(), everything, u"SELECT * FROM GadgetChanged"), WBEM_S_NO_ERROR);
  ASSERT_EQ(subscribe(m_ns.get(), filtered,
                      u"SELECT * FROM GadgetChanged WITHIN 1 WHERE Size > 10 AND Name LIKE 'h%'"),
            WBEM_S_NO_ERROR);
  EXPECT_EQ(putGadget(u"hot", 5), WBEM_S_NO_ERROR);
  EXPECT_EQ(putGadget(u"cold", 50), WBEM_S_NO_ERROR);
  EXPECT_EQ(putGadget(u"hotter", 50), WBEM_S_NO_ERROR);
  // Events reach subscribers in order, so once the unfiltered one has all three the filtered
  // one has seen them too.
  ASSERT_TRUE(everything->waitForObjects(3, kWait));
  ASSERT_TRUE(filtered->waitForObjects(1, kWait));
  ASSERT_EQ(filtered->objects().size(), 1u);
  EXPECT_EQ(getText(filtered->objects()[0], u"Name"), u"hotter");

  EXPECT_EQ(m_ns->CancelAsyncCall(filtered), WBEM_S_NO_ERROR);
  EXPECT_EQ(filtered->waitForFinalStatus(kWait), WBEM_E_CALL_CANCELLED);
  EXPECT_EQ(m_ns->CancelAsyncCall(filtered), WBEM_E_NOT_FOUND);
  EXPECT_EQ(putGadget(u"hottest", 60), WBEM_S_NO_ERROR);
  ASSERT_TRUE(everything->waitForObjects(4, kWait));
  EXPECT_EQ(filtered->objects().size(), 1u);
  EXPECT_EQ(m_ns->CancelAsyncCall(everything), WBEM_S_NO_ERROR);
  everything->Release();
  filtered->Release();
}

}  // namespace
}  // namespace velt::wmi::test
