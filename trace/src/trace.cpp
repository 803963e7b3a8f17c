#include "trace/trace.h"

#include <owners/unique_handle.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

namespace {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

constexpr char kMarkerName[] = "qelvor.dbg";
constexpr char kLogName[] = "qelvor.log";
constexpr DWORD kModulePathSize = MAX_PATH;
constexpr size_t kRecordSize = 2048;
constexpr DWORD kDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

// Read by every tracing thread, written only by open and close.
std::atomic<bool> logEnabled{false};

// The stream is touched only under this lock, so each record reaches the file whole and a
// record racing with closeTraceLog is either written before the close or dropped.
std::mutex logMutex;
std::unique_ptr<std::ofstream> logStream;

bool markerExists(const std::string& directory) {
  WIN32_FIND_DATAA found;
  velt::UniqueFindHandle search(FindFirstFileA((directory + kMarkerName).c_str(), &found));
  return static_cast<bool>(search);
}

void writeRecord(const char* record) {
  std::lock_guard<std::mutex> lock(logMutex);
  if (!logStream) return;
  *logStream << record << '\n';
  logStream->flush();
}

}  // namespace

void openTraceLog() {
  closeTraceLog();

  char path[kModulePathSize];
  DWORD length = GetModuleFileNameA(nullptr, path, kModulePathSize);
  if (length == 0 || length >= kModulePathSize) return;
  path[length] = '\0';

  std::string executable(path, length);
  size_t separator = executable.rfind(kPathSeparator);
  if (separator == std::string::npos || separator == 0) return;
  std::string directory = executable.substr(0, separator + 1);
  if (!markerExists(directory)) return;

  std::lock_guard<std::mutex> lock(logMutex);
  // A log that cannot be created leaves the stream failed: logging stays on and every write is
  // dropped silently.
  logStream =
      std::make_unique<std::ofstream>(directory + kLogName, std::ios::out | std::ios::trunc);
  *logStream << executable << '\n';
  logStream->flush();
  logEnabled.store(true);
}

void closeTraceLog() {
  std::lock_guard<std::mutex> lock(logMutex);
  logEnabled.store(false);
  logStream.reset();
}

void traceFormatV(const char* /*className*/, const char* format, va_list arguments) {
  char record[kRecordSize];
  int prefixLength =
      std::snprintf(record, sizeof record, "0x%x ", static_cast<unsigned>(GetCurrentThreadId()));
  // vsnprintf cuts an overlong text at the buffer's end; the record stays terminated.
  std::vsnprintf(record + prefixLength, sizeof record - prefixLength, format, arguments);
  if (logEnabled.load()) writeRecord(record);
}

void traceFormat(const char* className, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  traceFormatV(className, format, arguments);
  va_end(arguments);
}

void trace(const char* className, const char* text, LONG status) {
  traceFormat(className, "%s\n", text);
  if (status < 0) traceSystemError(static_cast<DWORD>(status));
}

void traceLine(const char* className, const char* format, const void* argument,
               int argumentIsList) {
  char extended[kRecordSize];
  std::snprintf(extended, sizeof extended, "%s\n", format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  if (argumentIsList == 1) {
    va_list arguments;
    va_copy(arguments, *static_cast<va_list*>(const_cast<void*>(argument)));
    traceFormatV(className, extended, arguments);
    va_end(arguments);
  } else {
    traceFormat(className, extended, static_cast<const char*>(argument));
  }
#pragma GCC diagnostic pop
}

void traceSystemError(DWORD code) {
  char* systemText = nullptr;
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
                     kDefaultLanguage, reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
  traceFormat("", "0x%x Error (%x): %s\n", static_cast<unsigned>(GetCurrentThreadId()),
              static_cast<unsigned>(code),
              length != 0 && systemText != nullptr ? systemText : "(no system text)");
  if (systemText != nullptr) LocalFree(systemText);
}
