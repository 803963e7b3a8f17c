// The daemon's pieces in this process: its settings, the namespaces a resource names, and the
// locator's answers and object counts.
#include <gtest/gtest.h>

#include <fstream>

#include "daemon_config.h"
#include "gadget_provider.h"
#include "lifetime.h"
#include "locator.h"
#include "temp_dir.h"
#include "wmi_model/objects.h"
#include "wmi_test_support.h"

namespace veltwmid::test {
namespace {

TEST(DaemonConfigTest, ReadsItsKeysAndNamesTheLineOfAFault) {
  TempDir folder;
  DaemonConfig missing = readConfig(folder / "none.conf");
  EXPECT_EQ(missing.providerIdleSeconds, 30u);
  EXPECT_EQ(missing.daemonIdleSeconds, 30u);
  EXPECT_TRUE(missing.mofFiles.empty());

  std::ofstream(folder / "good.conf") << "# comment\n\n provider-idle-seconds = 5 # five\n"
                                         "daemon-idle-seconds=0\nmof = /a.mof\nmof = /b c.mof\n"
                                         "repository = /r.db\n";
  DaemonConfig good = readConfig(folder / "good.conf");
  EXPECT_EQ(good.providerIdleSeconds, 5u);
  EXPECT_EQ(good.daemonIdleSeconds, 0u);
  EXPECT_EQ(good.mofFiles, (std::vector<std::string>{"/a.mof", "/b c.mof"}));
  EXPECT_EQ(good.repositoryPath, "/r.db");

  for (const char* bad :
       {"provider-idle-seconds = -1\n", "daemon-idle-seconds = 5s\n",
        "provider-idle-seconds = 99999999999999999999\n", "daemon-idle-seconds =\n", "idle = 3\n",
        "mof\n", "mof =\n", "repository = here.db\n"}) {
    std::ofstream(folder / "bad.conf") << "# first\n" << bad;
    try {
      readConfig(folder / "bad.conf");
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const ConfigError& fault) {
      EXPECT_NE(std::string(fault.what()).find("bad.conf:2:"), std::string::npos) << fault.what();
    }
  }
}

TEST(ResourceNameTest, LocalResourcesNameTheirNamespaceAndOtherMachinesAreUnreachable) {
  EXPECT_EQ(localNamespace(u"root\\test", u"box").nameSpace, u"root\\test");
  EXPECT_EQ(localNamespace(u"\\\\.\\root\\test", u"box").nameSpace, u"root\\test");
  EXPECT_EQ(localNamespace(u"//BOX/root/test", u"box").nameSpace, u"root\\test");
  EXPECT_EQ(localNamespace(u"\\\\localhost\\root", u"box").nameSpace, u"root");
  EXPECT_EQ(localNamespace(u"\\\\other\\root", u"box").status, HRESULT(0x800706BA));
  EXPECT_EQ(localNamespace(u"", u"box").status, WBEM_E_INVALID_NAMESPACE);
  EXPECT_EQ(localNamespace(u"\\\\.", u"box").status, WBEM_E_INVALID_NAMESPACE);
  EXPECT_EQ(localNamespace(u"\\\\.\\", u"box").status, WBEM_E_INVALID_NAMESPACE);
}

TEST(LocatorTest, AnswersAsWmiDoesAndCountsWhatClientsHold) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  {
    velt::wmi::Service service;
    service.loadMofText(veltwmi::test::kGadgetMof, "gadgets.mof");
    service.loadMofText("#pragma namespace(\"root\\\\test\\\\child\")\nclass T { };", "child.mof");
    Lifetime lifetime;
    velt::ComPtr<IClassFactory> factory = makeLocatorFactory(service, lifetime);
    velt::ComPtr<IWbemLocator> locator;
    ASSERT_EQ(
        factory->CreateInstance(nullptr, IID_IWbemLocator, reinterpret_cast<void**>(locator.put())),
        S_OK);
    EXPECT_EQ(lifetime.objects(), 1);

    const velt::UniqueBstr good = velt::bstrFromUtf16(u"root\\test"),
                           unknown = velt::bstrFromUtf16(u"root\\nowhere"),
                           user = velt::bstrFromUtf16(u"someone");
    velt::ComPtr<IWbemServices> ns;
    EXPECT_EQ(locator->ConnectServer(unknown.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                     ns.put()),
              WBEM_E_INVALID_NAMESPACE);
    EXPECT_EQ(locator->ConnectServer(good.get(), user.get(), nullptr, nullptr, 0, nullptr, nullptr,
                                     ns.put()),
              WBEM_E_LOCAL_CREDENTIALS);
    EXPECT_EQ(
        locator->ConnectServer(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, ns.put()),
        WBEM_E_INVALID_PARAMETER);
    EXPECT_FALSE(ns);
    ASSERT_EQ(locator->ConnectServer(good.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                     ns.put()),
              WBEM_S_NO_ERROR);
    velt::ComPtr<IWbemClassObject> gadget(velt::wmi::test::classOf(ns.get(), u"Gadget"));
    EXPECT_TRUE(gadget);
    EXPECT_EQ(lifetime.objects(), 2);
    const velt::UniqueBstr childName = velt::bstrFromUtf16(u"child");
    velt::ComPtr<IWbemServices> child;
    ASSERT_EQ(ns->OpenNamespace(childName.get(), 0, nullptr, child.put(), nullptr),
              WBEM_S_NO_ERROR);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    locator = {};
    ns = {};
    EXPECT_EQ(lifetime.objects(), 1) << "a namespace opened from the client's still counts";
    child = {};
    EXPECT_EQ(lifetime.objects(), 0);
    EXPECT_TRUE(lifetime.inUse()) << "a lock keeps the daemon";
    factory->LockServer(FALSE);
    factory->LockServer(FALSE);  // one unlock too many counts nothing
    EXPECT_FALSE(lifetime.inUse());
    factory->LockServer(TRUE);
    EXPECT_TRUE(lifetime.inUse());
  }
  CoUninitialize();
}

}  // namespace
}  // namespace veltwmid::test
