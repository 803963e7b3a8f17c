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
    : temporaryRoot_(makeTemporaryFolder("velt-exe-")), folder_(temporaryRoot_ / subfolder) {
  fs::create_directories(folder_);
  executable_ = (folder_ / name).string();
  VeltSetModuleFileNameOverride(executable_.c_str());
}

ExecutableFolder::~ExecutableFolder() {
  VeltSetModuleFileNameOverride(nullptr);
  std::error_code ignored;
  fs::remove_all(temporaryRoot_, ignored);
}

fs::path ExecutableFolder::file(const std::string& name) { return folder_ / name; }

bool ExecutableFolder::pretendExecutablePath(const std::string& path) {
  VeltSetModuleFileNameOverride(path.c_str());
  return true;
}

DebugOutputCapture::DebugOutputCapture() { VeltSetDebugOutputHook(collect, this); }

DebugOutputCapture::~DebugOutputCapture() { VeltSetDebugOutputHook(nullptr, nullptr); }

ScratchRegistry::ScratchRegistry(std::vector<std::string> classesRootKeys)
    : classesRootKeys_(std::move(classesRootKeys)),
      storeFolder_(makeTemporaryFolder("velt-registry-")) {
  setenv("VELT_REGISTRY", (storeFolder_ / "registry.db").c_str(), 1);
  VeltRegistryReset();
}

ScratchRegistry::~ScratchRegistry() {
  VeltRegistryReset();
  unsetenv("VELT_REGISTRY");
  std::error_code ignored;
  fs::remove_all(storeFolder_, ignored);
}

void createThreadMessageQueue() { VeltCreateThreadMessageQueue(); }

void allowComSecurityAgain() { VeltResetComSecurityForTesting(); }

}  // namespace velt::test::seams
