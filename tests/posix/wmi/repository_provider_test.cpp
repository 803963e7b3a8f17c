// A loaded provider and the repository under it: a change of a class it serves unloads it,
// whichever connection compiled the change, so that the next request activates it afresh; a
// compile that changes nothing leaves it loaded.
#include <gtest/gtest.h>

#include "gadget_namespace_test.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {
namespace {

// The gadget MOF with one more property on Gadget.
std::string changedGadgetMof(const char* property) {
  std::string text = veltwmi::test::kGadgetMof;
  std::size_t at = text.find("[key] string Name;");
  text.insert(at, std::string("string ") + property + "; ");
  return text;
}

class RepositoryProviderTest : public GadgetNamespaceTest {
 protected:
  ServiceOptions options() override {
    m_options.repositoryPath = m_dir / "data/repository.db";
    return m_options;
  }
  // Gets gadget g1 and answers whether its class has `property`.
  bool getHas(const char16_t* property) {
    velt::UniqueBstr path = velt::bstrFromUtf16(u"Gadget.Name=\"g1\"");
    velt::ComPtr<RecordingSink> sink(RecordingSink::create());
    EXPECT_EQ(m_ns->GetObjectAsync(path.get(), 0, nullptr, sink.get()), WBEM_S_NO_ERROR);
    EXPECT_EQ(sink->waitForFinalStatus(kWait).value_or(E_UNEXPECTED), WBEM_S_NO_ERROR);
    if (sink->objects().size() != 1) return false;
    return sink->objects()[0]->Get(property, 0, nullptr, nullptr, nullptr) == WBEM_S_NO_ERROR;
  }
  unsigned long activations() { return veltwmi::test::providerInitializations(); }

  ServiceOptions m_options;
};

TEST_F(RepositoryProviderTest, AClassChangeUnloadsTheProviderThatServesIt) {
  unsigned long start = activations();
  EXPECT_FALSE(getHas(u"Colour"));
  EXPECT_EQ(activations(), start + 1);
  EXPECT_EQ(m_service->activeProviderCount(), 1u);

  // Another connection compiles the same text: nothing changed, the provider stays.
  Service other(m_options);
  other.loadMofText(veltwmi::test::kGadgetMof, "gadgets.mof");
  EXPECT_FALSE(getHas(u"Colour"));
  EXPECT_EQ(activations(), start + 1);

  // Another connection changes the class: the next request finds the provider unloaded.
  other.loadMofText(changedGadgetMof("Colour"), "gadgets.mof");
  EXPECT_TRUE(getHas(u"Colour"));
  EXPECT_EQ(activations(), start + 2);
  EXPECT_EQ(m_service->activeProviderCount(), 1u);

  // Its own compile unloads at once, and tells the provider's watchers their subscription ended.
  velt::ComPtr<RecordingSink> watcher(RecordingSink::create());
  ASSERT_EQ(subscribe(m_ns.get(), watcher.get()), WBEM_S_NO_ERROR);
  m_service->loadMofText(changedGadgetMof("Shape"), "gadgets.mof");
  EXPECT_EQ(m_service->activeProviderCount(), 0u);
  EXPECT_EQ(watcher->waitForFinalStatus(kWait).value_or(E_UNEXPECTED), WBEM_E_SHUTTING_DOWN);
  EXPECT_TRUE(getHas(u"Shape"));
  EXPECT_EQ(activations(), start + 3);
}

}  // namespace
}  // namespace velt::wmi::test
