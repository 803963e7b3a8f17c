// The jar list: every jar file beside the executable, in the order the directory yields them.
#include <jvm/JvmServices.h>

#include <owners/unique_handle.h>

#include "executable_path.h"
#include "path_rules.h"
#include "platform_names.h"
#include "process_state.h"
#include "trace/trace.h"

using namespace velt::jvm;

bool JvmServices::buildClassPath(std::string& jarList) {
  auto directory = programDirectory(executablePath());
  if (!directory) return false;
  std::string directoryWithSeparator = *directory + kDirectorySeparator;

  jarList = *directory + kSearchPathSeparator;
  WIN32_FIND_DATAA found = {};
  velt::UniqueFindHandle search(
      FindFirstFileA((directoryWithSeparator + kJarPattern).c_str(), &found));
  if (!search) return true;
  // Not filtered: a folder named like a jar is listed too (the VM reads it as a class folder).
  do {
    traceLine(kTraceClass, "The File found is %s", found.cFileName, 0);
    jarList += directoryWithSeparator + found.cFileName + kSearchPathSeparator;
  } while (FindNextFileA(search.get(), &found));
  return true;
}
