// The outside world of the server and trace suites: where the executable lives, what reaches
// the debug output, and a registry to write to. On POSIX the platform layer's test seams steer
// them; on Windows, where nothing can be steered, the tests work with the real thing and
// clean up after themselves.
#pragma once

#include <windows.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace velt::test::seams {

// The executable's folder as GetModuleFileNameA(NULL) reports it. On POSIX a pretend
// executable `name` in `subfolder` (may be empty) of a fresh temporary folder; on Windows the
// test program itself, which cannot move, so the arguments are not used there.
class ExecutableFolder {
 public:
  ExecutableFolder(const std::string& subfolder, const std::string& name);
  ~ExecutableFolder();
  ExecutableFolder(const ExecutableFolder&) = delete;
  ExecutableFolder& operator=(const ExecutableFolder&) = delete;

  const std::string& executable() const { return m_executable; }
  // The path of `name` beside the executable; whatever stands there is removed now and again
  // when this object goes, since on Windows the folder is shared with earlier runs.
  std::filesystem::path file(const std::string& name);
  // Makes the executable's path `path` until this object goes. False where the real path
  // cannot be replaced (Windows).
  bool pretendExecutablePath(const std::string& path);

 private:
  std::filesystem::path m_temporaryRoot;  // empty on Windows
  std::filesystem::path m_folder;
  std::string m_executable;
  std::vector<std::filesystem::path> m_placed;
};

// Collects every OutputDebugStringA text of the process while it exists. One at a time.
class DebugOutputCapture {
 public:
  DebugOutputCapture();
  ~DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

  std::string text() const;
  void append(const char* text, size_t length);

 private:
  mutable std::mutex m_mutex;
  std::string m_text;
  void* m_handler = nullptr;
};

// A registry the test may write to. On POSIX a store of its own; on Windows the machine's,
// where the given keys under HKEY_CLASSES_ROOT (every key the test may write) are deleted
// before and after.
class ScratchRegistry {
 public:
  explicit ScratchRegistry(std::vector<std::string> classesRootKeys);
  ~ScratchRegistry();
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

 private:
  bool deleteKeys() const;  // false when a key stays
  std::vector<std::string> m_classesRootKeys;
  std::filesystem::path m_storeFolder;  // empty on Windows
};

// Gives the calling thread its message queue now, so that messages posted to it before its
// first GetMessageA are kept.
void createThreadMessageQueue();

// Lets the next CoInitializeSecurity of the process take effect again, where that can be done.
void allowComSecurityAgain();

}  // namespace velt::test::seams
