// Finds the Java runtime library: first in the runtime tree beside the installation, then by
// its bare name through the platform's library search (which includes PATH).
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
      if (traced) trace(kTraceClass, "Attempting in the case where Tarvo isn't installed.", 0);
      library = LoadLibraryA(candidate);
      if (library == nullptr) return nullptr;
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
