// Queries carried out by the service over a provider that serves none: the class is enumerated
// and only the matching instances come back, projected, one at a time; event subscriptions are
// filtered the same way; a faulty query says where its fault is.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "gadget_namespace_test.h"
#include "wmi_model/com_object.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

// Keeps the status object of the final status, which the recording sink does not.
class StatusSink final : public detail::ComObject<IWbemObjectSink, IID_IWbemObjectSink> {
 public:
  STDMETHODIMP Indicate(LONG, IWbemClassObject**) override { return WBEM_S_NO_ERROR; }
  STDMETHODIMP SetStatus(LONG flags, HRESULT status, BSTR, IWbemClassObject* object) override {
    if (flags != WBEM_STATUS_COMPLETE) return WBEM_S_NO_ERROR;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = status;
    m_description = object ? getText(object, u"Description") : u"<no status object>";
    m_done.notify_all();
    return WBEM_S_NO_ERROR;
  }
  std::pair<HRESULT, std::u16string> wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait_for(lock, kWait, [&] { return m_status.has_value(); });
    return {m_status.value_or(E_UNEXPECTED), m_description};
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_done;
  std::optional<HRESULT> m_status;
  std::u16string m_description;
};

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
    IWbemClassObject* cls = classOf(m_ns.get(), u"Gadget");
    IWbemClassObject* gadget = nullptr;
    cls->SpawnInstance(0, &gadget);
    cls->Release();
    putText(gadget, u"Name", name);
    putInt(gadget, u"Size", size);
    HRESULT status =
        run([&](IWbemObjectSink* s) { return m_ns->PutInstanceAsync(gadget, 0, nullptr, s); });
    gadget->Release();
    return status;
  }
};

TEST_F(QueryRoutingTest, OnlyMatchingInstancesComeBackWithTheSelectedPropertiesAndKeys) {
  ASSERT_EQ(putGadget(u"big", 5000), WBEM_S_NO_ERROR);
  RecordingSink* got = nullptr;
  ASSERT_EQ(query(u"SELECT Size FROM Gadget WHERE Size >= 1 AND NOT Name LIKE 'b%'", &got),
            WBEM_S_NO_ERROR);
  std::vector<IWbemClassObject*> objects = got->objects();
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(getText(objects[0], u"Name"), u"g1");  // the key stays, so the path does
  EXPECT_EQ(getText(objects[0], u"__RELPATH"), u"Gadget.Name=\"g1\"");
  EXPECT_EQ(getText(objects[1], u"Name"), u"g2");
  OwnedVariant size, unselected;
  objects[1]->Get(u"Size", 0, size.get(), nullptr, nullptr);
  EXPECT_EQ(size.get()->vt, VT_I4);
  EXPECT_EQ(size.get()->lVal, 2);
  got->Release();

  // SELECT * keeps everything; numbers compare as numbers (5000 > 999 though "5000" < "999").
  ASSERT_EQ(query(u"select * from gadget where size > 999 or Name = 'G0'", &got), WBEM_S_NO_ERROR);
  objects = got->objects();
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(getText(objects[0], u"Name"), u"big");
  EXPECT_EQ(getText(objects[1], u"Name"), u"g0");
  got->Release();

  // What is not selected comes back null, though the provider set it.
  ASSERT_EQ(query(u"SELECT Name FROM Gadget WHERE Active IS NULL AND Size > 999", &got),
            WBEM_S_NO_ERROR);
  ASSERT_EQ(got->objects().size(), 1u);
  got->objects()[0]->Get(u"Size", 0, unselected.get(), nullptr, nullptr);
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
    std::u16string text;
    HRESULT status;
    std::u16string description;
  };
  const Case cases[] = {
      {u"SELECT * FROM Gadget WHERE Size >", WBEM_E_INVALID_QUERY,
       u"position 34: expected a constant, found end of query"},
      {u"SELECT Nmae FROM Gadget", WBEM_E_INVALID_QUERY,
       u"position 8: Gadget has no property 'Nmae'"},
      {u"SELECT * FROM Gadget WHERE Szie = 1", WBEM_E_INVALID_QUERY,
       u"position 28: Gadget has no property 'Szie'"},
      {u"SELECT * FROM Gizmo", WBEM_E_INVALID_CLASS, u"<no status object>"},
  };
  for (const Case& c : cases) {
    velt::UniqueBstr wql = velt::bstrFromUtf16(u"WQL"), q = velt::bstrFromUtf16(c.text);
    StatusSink* sink = new StatusSink();
    EXPECT_EQ(m_ns->ExecQueryAsync(wql.get(), q.get(), 0, nullptr, sink), WBEM_S_NO_ERROR);
    auto [status, description] = sink->wait();
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(description, c.description);
    sink->Release();
  }
  velt::UniqueBstr sql = velt::bstrFromUtf16(u"SQL"),
                   q = velt::bstrFromUtf16(u"SELECT * FROM Gadget");
  RecordingSink* sink = RecordingSink::create();
  EXPECT_EQ(m_ns->ExecQueryAsync(sql.get(), q.get(), 0, nullptr, sink), WBEM_S_NO_ERROR);
  EXPECT_EQ(sink->waitForFinalStatus(kWait), WBEM_E_INVALID_QUERY_TYPE);
  sink->Release();

  StatusSink* events = new StatusSink();
  EXPECT_EQ(subscribe(m_ns.get(), events, u"SELECT * FROM GadgetChanged WHERE Size = = 1"),
            WBEM_E_INVALID_QUERY);
  EXPECT_EQ(events->wait().second, u"position 42: expected a constant, found '='");
  events->Release();
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
