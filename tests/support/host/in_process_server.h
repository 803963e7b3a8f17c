// The provider served the way WMI serves it, inside one process: a temporary installation (the
// server's folder with the sibling library, the SDK and a cheap Glue, the Java runtime beside
// it), a registry of its own with the server registered, the WMI stand-in with a namespace
// whose classes the provider serves, and COM activation that runs the server's entry. Asked
// for, the same installation holds the server's executable, which COM then starts as a process
// of its own, as users get it.
#pragma once

#include <wbemprov.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace velt::host {

struct HostOptions {
  // Switches the trace log on (the marker file beside the executable).
  bool traceLog = false;
  // Jars laid beside the server in place of the cheap Glue (the SDK is always there), such as
  // the real Glue with providers of a test's own.
  std::vector<std::filesystem::path> javaJars;
  // The server's executable, copied into the installation and started as a process of its own
  // (in a private runtime folder); empty: the entry runs in this process.
  std::filesystem::path serverExecutable;
};

class InProcessServer {
 public:
  // The namespace served, its instance class (key "Name", method "Grow") and its event class.
  static constexpr const char16_t* kNamespace = u"root\\bench";
  static constexpr const char16_t* kItemClass = u"Bench_Item";
  static constexpr const char16_t* kEventClass = u"Bench_Event";

  explicit InProcessServer(HostOptions options = {});
  // Shuts the stand-in down and waits for the server's entry to end.
  ~InProcessServer();
  InProcessServer(const InProcessServer&) = delete;
  InProcessServer& operator=(const InProcessServer&) = delete;

  IWbemServices* services() const { return m_namespace; }

  // A new instance of the item class named `name`, one reference for the caller.
  IWbemClassObject* newItem(const char16_t* name) const;
  // A new event object, one reference for the caller.
  IWbemClassObject* newEvent() const;

  // A provider object of its own, made through COM activation and initialised on the
  // namespace; null when either fails. One reference for the caller.
  IWbemServices* newProviderObject() const;

  // Shuts the stand-in down (releasing its providers) and waits for the server to end; true
  // when it ended in time (in this process: with exit code 0). The destructor does this too.
  bool shutDown();

  // How many stand-in objects were alive when the host was made.
  long liveObjectsAtStart() const { return m_liveAtStart; }
  std::filesystem::path logPath() const;
  // Where a server in a process of its own writes its standard output and error.
  std::filesystem::path consoleLogPath() const;
  const std::filesystem::path& programDirectory() const { return m_programDirectory; }

 private:
  std::filesystem::path m_root;
  std::filesystem::path m_programDirectory;
  std::string m_executable;
  bool m_ownProcess = false;
  struct Stand;
  Stand* m_stand = nullptr;
  IWbemServices* m_namespace = nullptr;
  long m_liveAtStart = 0;
  bool m_shutDown = false;
  bool m_keep = false;
};

// Initialises `provider` (IWbemProviderInit) on the namespace and waits for its init sink;
// the status reported there.
HRESULT initializeProvider(IUnknown* provider, IWbemServices* nameSpace);

}  // namespace velt::host
