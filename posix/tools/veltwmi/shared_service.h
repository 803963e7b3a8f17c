// The WMI service every client of the user shares: veltwmid, reached through COM. The client
// registers it on first use (from the folder veltwmi runs from) and COM starts it when none
// runs; it holds the providers, so what one client puts another sees.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "com_support.h"

namespace veltwmi {

class SharedService {
 public:
  // `daemonExecutable` is registered when no veltwmid is; `repositoryPath` is the repository
  // the service must hold, so that a daemon of another user's data folder is not used.
  SharedService(std::string daemonExecutable, std::string repositoryPath);

  // The namespace, from the service; throws Failure(kExitSetup) naming what went wrong. When
  // the service has no such namespace, `provide` may add it to the repository: it answers
  // whether it changed anything, and then the service is asked once more.
  ComPtr<IWbemServices> connect(const std::string& nameSpace,
                                const std::function<bool()>& provide = {});
  // Whether the connection to the service was lost (the daemon ended or was killed).
  bool lost() const { return m_lost->load(); }

 private:
  void ensureRegistered() const;
  IWbemLocator* locator();
  std::string daemonLog() const;

  std::string m_daemonExecutable;
  std::string m_repositoryPath;
  ComPtr<IWbemLocator> m_locator;
  // Shared with the loss callbacks, which may run after this object is gone.
  std::shared_ptr<std::atomic<bool>> m_lost = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace veltwmi
