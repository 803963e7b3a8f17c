#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "cli_args.h"
#include "commands.h"
#include "console.h"
#include "key_name.h"
#include "registry_access.h"

namespace veltreg {
namespace {

// The readers of the version 5.00 format take the file as UTF-16LE with a byte-order mark
// and Windows line ends; the text is built in UTF-8 and converted at the end.
constexpr const char* kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

LSTATUS writeTree(std::ostream& out, HKEY key, const std::string& fullName) {
  std::vector<Value> values;
  std::vector<std::string> children;
  if (LSTATUS status = allValues(key, values); status != ERROR_SUCCESS) return status;
  if (LSTATUS status = subkeyNames(key, children); status != ERROR_SUCCESS) return status;
  out << "[" << fullName << "]\r\n";
  for (const Value& value : values) out << exportLine(value) << "\r\n";
  out << "\r\n";
  for (const std::string& child : children) {
    velt::UniqueRegistryKey sub;
    if (LSTATUS status = openKey(key, child, KEY_READ, sub); status != ERROR_SUCCESS) return status;
    if (LSTATUS status = writeTree(out, sub.get(), fullName + "\\" + child);
        status != ERROR_SUCCESS) {
      return status;
    }
  }
  return ERROR_SUCCESS;
}

// Writes `bytes` to a new file beside `file` and renames it over `file`, so that the old file
// stays whole unless the new one is complete. An empty answer on success, else the reason.
std::string replaceFile(const std::string& file, const std::string& bytes) {
  // Through a symbolic link to the file it names, as writing in place would go.
  char resolved[PATH_MAX];
  struct stat info {};
  std::string target =
      lstat(file.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && realpath(file.c_str(), resolved)
          ? resolved
          : file;
  std::string temporary = target + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) return std::strerror(errno);
  // The new file gets the old one's permissions, or those a newly created file would get.
  mode_t mask = umask(0);
  umask(mask);
  mode_t mode = stat(target.c_str(), &info) == 0 ? info.st_mode & 07777 : 0666 & ~mask;
  std::string failure;
  for (size_t done = 0; failure.empty() && done < bytes.size();) {
    ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno != EINTR) failure = std::strerror(errno);
    if (written > 0) done += static_cast<size_t>(written);
  }
  if (failure.empty() && (fchmod(fd, mode) != 0 || fsync(fd) != 0)) failure = std::strerror(errno);
  if (close(fd) != 0 && failure.empty()) failure = std::strerror(errno);
  if (failure.empty() && rename(temporary.c_str(), target.c_str()) != 0) {
    failure = std::strerror(errno);
  }
  if (!failure.empty()) unlink(temporary.c_str());
  return failure;
}

}  // namespace

int runExport(const Args& args) {
  std::optional<Arguments> parsed = parseArguments(args, {}, {"y"});
  if (!parsed || parsed->positional.size() != 2) return reportSyntax("export");
  std::optional<KeyName> keyName = parseKeyName(parsed->positional[0]);
  if (!keyName) return reportError("Invalid key name.");
  const std::string& file = parsed->positional[1];
  velt::UniqueRegistryKey key;
  if (LSTATUS status = openKey(keyName->root, keyName->subKey, KEY_READ, key);
      status != ERROR_SUCCESS) {
    return reportStatus(status, keyName->full());
  }
  struct stat info {};
  if (!parsed->has("y") && stat(file.c_str(), &info) == 0 &&
      !confirm("File " + file + " already exists. Overwrite")) {
    return reportCancelled();
  }
  std::ostringstream text;
  text << kHeader;
  if (LSTATUS status = writeTree(text, key.get(), keyName->full()); status != ERROR_SUCCESS) {
    return reportStatus(status, keyName->full());
  }
  if (std::string failure = replaceFile(file, "\xff\xfe" + utf16le(text.str())); !failure.empty()) {
    return reportError("Unable to write to the file " + file + ": " + failure + ".");
  }
  return reportSuccess();
}

}  // namespace veltreg
