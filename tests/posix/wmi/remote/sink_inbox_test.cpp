// Indications arrive as their sender encoded them, several calls one after another, and are
// read where they are made on the real sink: every object of every call reaches it in order,
// and bytes that are not what a sender writes make nothing and fail the stream as a sink's
// failure would.
#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "child_process.h"
#include "remote/object_codec.h"
#include "remote/sink_inbox.h"
#include "remote/stream_failure.h"
#include "remote/stream_layouts.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

using remote::IncomingCall;
using velt::ComPtr;

// The calls' objects as a sender streams them: each call a flat message, back to back.
IncomingCall encoded(const std::vector<std::vector<IWbemClassObject*>>& calls,
                     remote::SentLayouts& layouts) {
  std::vector<capnp::word> words;
  for (const auto& objects : calls) {
    capnp::MallocMessageBuilder message;
    auto list = message.initRoot<rpc::Indicated>().initObjects(unsigned(objects.size()));
    for (unsigned i = 0; i < objects.size(); ++i) {
      EXPECT_EQ(remote::writeObject(objects[i], list[i], &layouts), S_OK);
    }
    kj::Array<capnp::word> flat = capnp::messageToFlatArray(message);
    words.insert(words.end(), flat.begin(), flat.end());
  }
  IncomingCall call;
  call.encoded = kj::heapArray<capnp::word>(words.data(), words.size());
  call.bytes = words.size() * sizeof(capnp::word);
  return call;
}

// What accepting `call` answered, once every call accepted was made.
HRESULT acceptAndWait(const std::shared_ptr<remote::SinkInbox>& inbox, IncomingCall call) {
  auto shared = std::make_shared<IncomingCall>(std::move(call));
  return remoting::runOnLoop([inbox, shared]() -> kj::Promise<HRESULT> {
    return inbox->accept(std::move(*shared))
        .then([] { return S_OK; },
              [](kj::Exception&& failure) { return remote::statusOfSinkFailure(failure); })
        .then([inbox](HRESULT accepted) {
          return inbox->whenAllHandled().then([accepted] { return accepted; });
        });
  });
}

TEST(SinkInboxTest, CallsReadWhereTheyAreMadeInOrderAndUnreadableOnesMakeNothing) {
  Service service;
  service.loadMofText(kTestMof, "test.mof");
  ComPtr<IWbemServices> ns;
  ASSERT_EQ(service.openNamespace(u"root\\test", ns.put()), WBEM_S_NO_ERROR);
  ComPtr<IWbemClassObject> base(classOf(ns.get(), u"Base"));
  std::vector<ComPtr<IWbemClassObject>> made(5);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(base->SpawnInstance(0, made[i].put()), WBEM_S_NO_ERROR);
    ASSERT_EQ(putInt(made[i].get(), u"Id", i), WBEM_S_NO_ERROR);
  }
  ComPtr<RecordingSink> sink(RecordingSink::create());
  sink->AddRef();  // the inbox's own reference
  auto inbox = std::make_shared<remote::SinkInbox>(remoting::HeldReference(sink.get()));

  // Two calls in one batch, then one more: the layout went once, with the first object.
  remote::SentLayouts layouts;
  EXPECT_EQ(
      acceptAndWait(inbox, encoded({{made[0].get(), made[1].get()}, {made[2].get()}}, layouts)),
      S_OK);
  EXPECT_EQ(acceptAndWait(inbox, encoded({{made[3].get(), made[4].get()}}, layouts)), S_OK);
  std::vector<IWbemClassObject*> got = sink->objects();
  ASSERT_EQ(got.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(getInt(got[i], u"Id"), i);

  // A segment table that promises more than follows: nothing of it is made, and the sender's
  // next call learns that the stream failed.
  IncomingCall garbage;
  garbage.encoded = kj::heapArray<capnp::word>(2);
  const uint32_t table[4] = {0, 1000, 0, 0};
  std::memcpy(static_cast<void*>(garbage.encoded.begin()), table, sizeof table);
  garbage.bytes = 16;
  EXPECT_EQ(acceptAndWait(inbox, std::move(garbage)), S_OK);
  EXPECT_EQ(sink->objects().size(), 5u);
  EXPECT_EQ(acceptAndWait(inbox, encoded({{made[0].get()}}, layouts)), WBEM_E_INVALID_OBJECT);
  remoting::runOnLoop([inbox]() -> kj::Promise<HRESULT> {
    inbox->close();
    return S_OK;
  });
  // The inbox, and with it its reference on the sink, goes with the last worker job that held
  // it; the sink holds the objects it was given until then.
  inbox.reset();
  EXPECT_TRUE(velt::test::within(std::chrono::seconds(10), [&] {
    sink->AddRef();
    return sink->Release() == 1;
  }));
}

}  // namespace
}  // namespace velt::wmi::test
