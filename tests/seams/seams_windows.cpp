// The seams on Windows: the real executable, the debug output as the exception a debugger
// would see, and the machine's registry.
#include <atomic>
#include <stdexcept>

#include "seams.h"

namespace fs = std::filesystem;

namespace velt::test::seams {

namespace {

constexpr DWORD kModulePathSize = 1024;

void removeIfPresent(const fs::path& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

// OutputDebugStringA raises this exception for a debugger to take the text from: the length
// with the terminating zero, then the text. Continuing the execution tells it the text was
// taken.
std::atomic<DebugOutputCapture*> activeCapture{nullptr};

LONG CALLBACK takeDebugOutput(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  DebugOutputCapture* capture = activeCapture.load();
  if (capture == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  size_t lengthWithZero = static_cast<size_t>(record->ExceptionInformation[0]);
  const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
  if (text != nullptr && lengthWithZero > 0) capture->append(text, lengthWithZero - 1);
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

ExecutableFolder::ExecutableFolder(const std::string& /*subfolder*/, const std::string& /*name*/) {
  char path[kModulePathSize];
  DWORD length = GetModuleFileNameA(nullptr, path, kModulePathSize);
  if (length == 0 || length >= kModulePathSize) throw std::runtime_error("no executable path");
  m_executable.assign(path, length);
  m_folder = fs::path(m_executable).parent_path();
}

ExecutableFolder::~ExecutableFolder() {
  for (const fs::path& placed : m_placed) removeIfPresent(placed);
}

fs::path ExecutableFolder::file(const std::string& name) {
  fs::path path = m_folder / name;
  removeIfPresent(path);
  m_placed.push_back(path);
  return path;
}

bool ExecutableFolder::pretendExecutablePath(const std::string& /*path*/) { return false; }

DebugOutputCapture::DebugOutputCapture() {
  DebugOutputCapture* none = nullptr;
  if (!activeCapture.compare_exchange_strong(none, this)) {
    throw std::logic_error("debug output is already being captured");
  }
  m_handler = AddVectoredExceptionHandler(1, takeDebugOutput);
}

DebugOutputCapture::~DebugOutputCapture() {
  RemoveVectoredExceptionHandler(m_handler);
  activeCapture.store(nullptr);
}

ScratchRegistry::ScratchRegistry(std::vector<std::string> classesRootKeys)
    : m_classesRootKeys(std::move(classesRootKeys)) {
  if (!deleteKeys()) throw std::runtime_error("the test's registry keys cannot be deleted");
}

ScratchRegistry::~ScratchRegistry() { deleteKeys(); }

bool ScratchRegistry::deleteKeys() const {
  bool allGone = true;
  for (const std::string& key : m_classesRootKeys) {
    LSTATUS status = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
    allGone &= status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
  }
  return allGone;
}

void createThreadMessageQueue() {
  // The documented way to make the system create the queue before the thread waits on it.
  MSG message;
  PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

// A process sets its COM security once; later calls fail with RPC_E_TOO_LATE, which the
// server's entry ignores, so there is nothing to undo.
void allowComSecurityAgain() {}

}  // namespace velt::test::seams
