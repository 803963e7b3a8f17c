// The seams through the POSIX platform layer's test hooks.
#include <stdlib.h>
#include <winplatform/posix_hooks.h>
#include <winplatform/registry_hooks.h>

#include <stdexcept>

#include "seams.h"

namespace fs = std::filesystem;

namespace velt::test::seams {

namespace {

fs::path makeTemporaryFolder(const char* prefix) {
  std::string pattern = (fs::temp_directory_path() / prefix).string() + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
  return pattern;
}

void collect(const char* text, void* capture) {
  static_cast<DebugOutputCapture*>(capture)->append(text, std::char_traits<char>::length(text));
}

}  // namespace

ExecutableFolder::ExecutableFolder(const std::string& subfolder, const std::string& name)
    : m_temporaryRoot(makeTemporaryFolder("velt-exe-")), m_folder(m_temporaryRoot / subfolder) {
  fs::create_directories(m_folder);
  m_executable = (m_folder / name).string();
  VeltSetModuleFileNameOverride(m_executable.c_str());
}

ExecutableFolder::~ExecutableFolder() {
  VeltSetModuleFileNameOverride(nullptr);
  std::error_code ignored;
  fs::remove_all(m_temporaryRoot, ignored);
}

fs::path ExecutableFolder::file(const std::string& name) { return m_folder / name; }

bool ExecutableFolder::pretendExecutablePath(const std::string& path) {
  VeltSetModuleFileNameOverride(path.c_str());
  return true;
}

DebugOutputCapture::DebugOutputCapture() { VeltSetDebugOutputHook(collect, this); }

DebugOutputCapture::~DebugOutputCapture() { VeltSetDebugOutputHook(nullptr, nullptr); }

ScratchRegistry::ScratchRegistry(std::vector<std::string> classesRootKeys)
    : m_classesRootKeys(std::move(classesRootKeys)),
      m_storeFolder(makeTemporaryFolder("velt-registry-")) {
  setenv("VELT_REGISTRY", (m_storeFolder / "registry.db").c_str(), 1);
  VeltRegistryReset();
}

ScratchRegistry::~ScratchRegistry() {
  VeltRegistryReset();
  unsetenv("VELT_REGISTRY");
  std::error_code ignored;
  fs::remove_all(m_storeFolder, ignored);
}

void createThreadMessageQueue() { VeltCreateThreadMessageQueue(); }

void allowComSecurityAgain() { VeltResetComSecurityForTesting(); }

}  // namespace velt::test::seams
