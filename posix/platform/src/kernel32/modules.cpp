// Modules over the dynamic loader: the executable and the libraries LoadLibraryA loads.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>
#include <winplatform/posix_hooks.h>

#include "path_text.h"

namespace {

std::mutex overrideMutex;
std::optional<std::string> executableOverride;  // guarded by overrideMutex

std::string realExecutablePath() {
  std::vector<char> buffer(4096);
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  return length > 0 ? std::string(buffer.data(), static_cast<size_t>(length)) : std::string();
}

std::string executablePath() {
  {
    std::lock_guard lock(overrideMutex);
    if (executableOverride) return *executableOverride;
  }
  static const std::string real = realExecutablePath();
  return real;
}

HMODULE executableModule() {
  static HMODULE const self = reinterpret_cast<HMODULE>(dlopen(nullptr, RTLD_NOW));
  return self;
}

std::optional<std::string> libraryPath(HMODULE module) {
  link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return std::nullopt;
  return std::string(map->l_name);
}

// Relative names are looked for beside the executable, then along PATH (entries separated by
// ':' or by the ';' Windows code appends with), then by the loader's own search.
std::vector<std::string> searchDirectories() {
  std::vector<std::string> directories;
  std::string exe = executablePath();
  auto slash = exe.rfind('/');
  if (slash != std::string::npos) directories.push_back(exe.substr(0, slash));
  char pathValue[32768];
  DWORD length = GetEnvironmentVariableA("PATH", pathValue, sizeof pathValue);
  if (length > 0 && length < sizeof pathValue) {
    std::string path(pathValue, length);
    size_t begin = 0;
    while (begin <= path.size()) {
      size_t end = path.find_first_of(":;", begin);
      if (end == std::string::npos) end = path.size();
      if (end > begin)
        directories.push_back(velt::platform::posixPath(path.substr(begin, end - begin).c_str()));
      begin = end + 1;
    }
  }
  return directories;
}

// The loader keeps the name it was given, and a module's name must be a full path as on
// Windows, so a name relative to the current folder is made full while that folder holds.
HMODULE openLibrary(const std::string& path) {
  std::string name = path;
  if (name.front() != '/' && name.find('/') != std::string::npos) {
    char* current = getcwd(nullptr, 0);
    if (current != nullptr) {
      name = std::string(current) + "/" + name;
      free(current);
    }
  }
  return reinterpret_cast<HMODULE>(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
}

}  // namespace

extern "C" {

void VeltSetModuleFileNameOverride(const char* path) {
  std::lock_guard lock(overrideMutex);
  if (path == nullptr) {
    executableOverride.reset();
  } else {
    executableOverride = path;
  }
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size) {
  std::optional<std::string> path;
  if (module == nullptr || module == executableModule()) {
    path = executablePath();
  } else {
    path = libraryPath(module);
  }
  if (!path || path->empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (filename == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path->size() >= size) {  // truncated, still terminated, and the caller is told
    std::memcpy(filename, path->data(), size - 1);
    filename[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(filename, path->c_str(), path->size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path->size());
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr) return executableModule();
  // Only an already loaded library answers, and without taking a reference on it.
  void* handle = dlopen(velt::platform::posixPath(moduleName).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  dlclose(handle);
  return reinterpret_cast<HMODULE>(handle);
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr || *fileName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string name = velt::platform::posixPath(fileName);
  HMODULE module = nullptr;
  if (name.front() == '/') {
    module = openLibrary(name);
  } else {
    for (const auto& directory : searchDirectories()) {
      module = openLibrary(directory + "/" + name);
      if (module != nullptr) break;
    }
    if (module == nullptr) module = openLibrary(name);
  }
  if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return module;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  if (module == nullptr || procName == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(module, procName);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  if (module == nullptr || dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
