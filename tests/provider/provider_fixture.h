// A provider served the way WMI meets it: the server entry started by COM activation in a
// temporary installation, a namespace of the WMI stand-in, and a scripted Glue whose calls are
// recorded in a file.
#pragma once

#include <gtest/gtest.h>

#include <javapointer/java_pointer.h>
#include <objbase.h>
#include <owners/com_ptr.h>
#include <owners/unique_handle.h>
#include <owners/utf_text.h>
#include <wbemprov.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_layout.h"
#include "wmi/service.h"

namespace velt::provider::test {

// Gadget (key Name, methods Resize and Reset) and GadgetEvent in root\test, served by the
// proxy provider's class identifier.
extern const char* const kProviderMof;

// Which Glue lies beside the executable: the scripted one, one lacking every member but its
// constructor, one lacking the constructor the provider calls, or none.
enum class GlueJar { kScripted, kBare, kUnbuildable, kNone };

class ProviderFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Lays the installation out; `sibling` false leaves the sibling library out; `gatedRuntime`
  // puts the real runtime behind a gate that can refuse attaches (refuseAttaches).
  void install(GlueJar glue = GlueJar::kScripted, bool sibling = true, bool gatedRuntime = false);
  // While on, the gated runtime's VM refuses every attach; the number of refusals so far.
  int refuseAttaches(bool refusing);
  // A provider object activated through COM (one reference, as IUnknown).
  ComPtr<IUnknown> activate();
  // Initialize through IWbemProviderInit with `services` (null: the stand-in's namespace); the
  // init sink's status, or -1 when none came.
  LONG initialize(IUnknown* provider, const char16_t* nameSpace = u"root\\test",
                  IWbemServices* services = nullptr);

  void setControl(const std::string& text);
  std::vector<std::string> glueCalls() const;  // the scripted Glue's records
  std::vector<std::string> traces() const;     // the trace log's record texts
  // Record texts since the last mark.
  // The server restarts its log when it starts again, so each test checks while it runs.
  void expectNoJniWarnings() const;
  void markTraces() { m_mark = traces().size(); }
  std::vector<std::string> tracesSinceMark() const;

  velt::test::TestLayout layout;
  wmi::Service service;
  ComPtr<IWbemServices> ns;
  std::string debugText;

 private:
  long m_liveBefore = 0;
  size_t m_mark = 0;
  bool m_installed = false;
};

// Java's view of a pointer.
inline long long javaLong(const void* pointer) { return pointerToJava(pointer).value(); }

// The interface part, one reference for the caller.
ComPtr<IWbemServices> servicesOf(IUnknown* provider);
ComPtr<IWbemEventProvider> eventsOf(IUnknown* provider);

// A blank Gadget with Name set, one reference for the caller.
ComPtr<IWbemClassObject> newGadget(IWbemServices* ns, const char16_t* name);

}  // namespace velt::provider::test
