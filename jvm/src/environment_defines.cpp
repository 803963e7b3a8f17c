// The system properties that tell Java where the machine and the installation keep things.
#include <jvm/JvmServices.h>

#include <shlobj.h>

#include "executable_path.h"
#include "path_rules.h"
#include "platform_names.h"

using namespace velt::jvm;

namespace {

std::string windowsDirectory() {
  char directory[MAX_PATH] = {};
  UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(directory, length);
}

std::optional<std::string> applicationDataFolder() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return std::nullopt;
  }
  folder[MAX_PATH - 1] = '\0';
  return std::string(folder);
}

}  // namespace

void JvmServices::buildEnvironmentDefines(std::string& windowsDefine, std::string& homeDefine,
                                          std::string& tempDefine, std::string& directoryDefine) {
  windowsDefine = "WINDIR=" + windowsDirectory();

  std::string installDirectory;
  std::string version;
  bool recordRead = readInstallRecord(homeDefine, installDirectory, version);

  // Without an application-data folder TEMPDIR stays empty: a version folder hung off nothing
  // would name a folder in the file system's root.
  tempDefine = "TEMPDIR=";
  if (auto folder = applicationDataFolder()) {
    tempDefine += *folder;
    if (recordRead) {
      tempDefine = tempDefine + kDirectorySeparator + "Norvex" + kDirectorySeparator + "TARVO" +
                   kDirectorySeparator + version;
    }
  }

  if (auto directory = programDirectory(executablePath())) {
    directoryDefine = "CWD=" + *directory + kDirectorySeparator;
  }
}
