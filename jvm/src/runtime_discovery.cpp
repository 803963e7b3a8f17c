// Finds the Java runtime library: first in the runtime tree beside the installation, then by
// its bare name through the platform's library search (which includes PATH), and on POSIX
// finally under JAVA_HOME. A search that finds nothing says what it tried.
#include <jvm/JvmServices.h>

#include "entry_point.h"
#include "executable_path.h"
#include "path_rules.h"
#include "platform_names.h"
#include "process_state.h"
#include "trace/trace.h"

using namespace velt::jvm;

FARPROC JvmServices::findEntryPoint(const char* candidate, const char* entryPointName,
                                    bool traced) {
  if (runtimeLibrary == nullptr) {
    std::string path = executablePath();
    if (traced) traceLine(kTraceClass, "ucTemp = %s", path.c_str(), 0);
    auto base = runtimeBase(path);
    if (!base) return nullptr;

    // Held by value, so a long candidate path is traced and tried whole; the platform refuses
    // what it cannot load.
    std::string fullPath = *base + kRuntimeSubdirectory + candidate;
    if (traced) trace(kTraceClass, fullPath.c_str(), 0);
    HMODULE library = LoadLibraryA(fullPath.c_str());
    if (library == nullptr) {
      m_triedRuntimes.push_back(fullPath);
      if (traced) trace(kTraceClass, "Attempting in the case where Tarvo isn't installed.", 0);
      library = LoadLibraryA(candidate);
      if (library == nullptr) {
        m_triedRuntimes.push_back(std::string(candidate) + " through the library search (PATH)");
        return nullptr;
      }
    }
    runtimeLibrary = library;
    if (traced) trace(kTraceClass, "Found jvm.dll and loaded it.", 0);
  }
  return GetProcAddress(runtimeLibrary, entryPointName);
}

JvmServices::GetDefaultInitArgsFunction JvmServices::findGetDefaultInitArgs(const char* candidate) {
  return entryPointAs<GetDefaultInitArgsFunction>(
      findEntryPoint(candidate, "JNI_GetDefaultJavaVMInitArgs", true));
}

JvmServices::CreateJavaVMFunction JvmServices::findCreateJavaVM(const char* candidate) {
  return entryPointAs<CreateJavaVMFunction>(findEntryPoint(candidate, "JNI_CreateJavaVM", false));
}

JvmServices::GetDefaultInitArgsFunction JvmServices::findInJavaHome() {
#ifdef _WIN32
  return nullptr;  // the library search of Windows covers PATH, where installers put the runtime
#else
  if (runtimeLibrary != nullptr) return nullptr;  // loaded, only without the entry point
  char home[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("JAVA_HOME", home, sizeof home);
  if (length == 0 || length >= sizeof home) return nullptr;
  std::string fullPath(home, length);
  if (fullPath.back() != kDirectorySeparator) fullPath += kDirectorySeparator;
  fullPath += kRuntimeUnderJavaHome;
  trace(kTraceClass, fullPath.c_str(), 0);
  HMODULE library = LoadLibraryA(fullPath.c_str());
  if (library == nullptr) {
    m_triedRuntimes.push_back(fullPath + " (JAVA_HOME)");
    return nullptr;
  }
  runtimeLibrary = library;
  trace(kTraceClass, "Found jvm.dll and loaded it.", 0);
  return entryPointAs<GetDefaultInitArgsFunction>(
      GetProcAddress(runtimeLibrary, "JNI_GetDefaultJavaVMInitArgs"));
#endif
}

void JvmServices::describeRuntimeNotFound() {
  std::string text;
  if (runtimeLibrary != nullptr) {
    char loaded[MAX_PATH] = {};
    GetModuleFileNameA(runtimeLibrary, loaded, sizeof loaded);
    text = std::string("The Java runtime ") + loaded +
           " has no JNI_GetDefaultJavaVMInitArgs: it is not a Java VM library.";
  } else {
    text = "The Java runtime was not found. Tried:";
    for (const std::string& file : m_triedRuntimes) text += " " + file + ";";
#ifdef _WIN32
    text += std::string(" put the folder holding ") + kRuntimeFileName + " on PATH.";
#else
    text += std::string(" put the folder holding ") + kRuntimeFileName +
            " on PATH, or set JAVA_HOME to the Java installation.";
#endif
  }
  trace(kTraceClass, text.c_str(), 0);
  m_runtimeSearchFailure = text;
}
