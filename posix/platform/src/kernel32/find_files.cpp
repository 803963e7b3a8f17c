// FindFirstFileA and friends over directory listings. Wildcards ('*', '?') apply to the last
// component only and match letters case-insensitively, as on Windows; the matches are taken
// as a snapshot when the search starts and handed out in case-insensitive name order.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kernel_objects.h"
#include "path_text.h"

namespace velt::platform {
namespace {

class FileSearch final : public KernelObject {
 public:
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool matches(const char* pattern, const char* name) {
  // Iterative wildcard match with one backtrack point for the latest '*'.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || fold(*pattern) == fold(*name)) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

FILETIME fileTime(const timespec& when) {
  // 100-ns intervals since 1601-01-01.
  constexpr uint64_t epochDifference = 11644473600ull;
  uint64_t ticks = (static_cast<uint64_t>(when.tv_sec) + epochDifference) * 10000000ull +
                   static_cast<uint64_t>(when.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool describe(const std::string& path, const std::string& name, WIN32_FIND_DATAA& data) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || name.size() >= MAX_PATH) return false;
  data = WIN32_FIND_DATAA{};
  if (S_ISDIR(info.st_mode)) {
    data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  } else {
    auto size = static_cast<uint64_t>(info.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
  }
  if ((info.st_mode & S_IWUSR) == 0) data.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  if (data.dwFileAttributes == 0) data.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
  data.ftCreationTime = fileTime(info.st_ctim);
  data.ftLastAccessTime = fileTime(info.st_atim);
  data.ftLastWriteTime = fileTime(info.st_mtim);
  std::memcpy(data.cFileName, name.c_str(), name.size() + 1);
  return true;
}

// Fills `found`; false with the Windows error when the directory itself is missing.
bool collect(const std::string& directory, const std::string& pattern,
             std::vector<WIN32_FIND_DATAA>& found, DWORD& error) {
  const std::string prefix =
      directory.empty() || directory.back() == '/' ? directory : directory + "/";
  if (pattern.find_first_of("*?") == std::string::npos) {
    WIN32_FIND_DATAA data;
    if (!pattern.empty() && describe(prefix + pattern, pattern, data)) found.push_back(data);
    error = ERROR_FILE_NOT_FOUND;
    return true;
  }
  DIR* listing = opendir(directory.empty() ? "." : directory.c_str());
  if (listing == nullptr) {
    error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  // "*.*" is Windows' way of saying every name, with or without a dot.
  const bool everything = pattern == "*.*";
  while (dirent* entry = readdir(listing)) {
    WIN32_FIND_DATAA data;
    if ((everything || matches(pattern.c_str(), entry->d_name)) &&
        describe(prefix + entry->d_name, entry->d_name, data)) {
      found.push_back(data);
    }
  }
  closedir(listing);
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return strcasecmp(a.cFileName, b.cFileName) < 0; });
  error = ERROR_FILE_NOT_FOUND;
  return true;
}

}  // namespace
}  // namespace velt::platform

using namespace velt::platform;

extern "C" {

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  if (fileName == nullptr || findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path = posixPath(fileName);
  auto slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? ""
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
  auto search = std::make_shared<FileSearch>();
  DWORD error = ERROR_FILE_NOT_FOUND;
  bool directoryFound = collect(directory, pattern, search->entries, error);
  if (!directoryFound || search->entries.empty()) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  *findData = search->entries[0];
  search->next = 1;
  return insertHandle(search);
}

BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
  auto search = lookupHandleAs<FileSearch>(findFile);
  if (!search || findData == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (search->next >= search->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *findData = search->entries[search->next++];
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE findFile) {
  if (!lookupHandleAs<FileSearch>(findFile)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  removeHandle(findFile);
  return TRUE;
}

}  // extern "C"
