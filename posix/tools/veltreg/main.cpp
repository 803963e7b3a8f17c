// veltreg: reads and edits the registry from the command line, the way its users know from
// the registry console tool.
#include <strings.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli_args.h"
#include "commands.h"

namespace {

constexpr const char* kUsage = R"(VELTREG Operation [Parameter List]

  Operation  QUERY | ADD | DELETE | EXPORT

  KEY        ROOTKEY\SubKey, where ROOTKEY is HKCR | HKCU | HKLM | HKU
             or HKEY_CLASSES_ROOT | HKEY_CURRENT_USER | HKEY_LOCAL_MACHINE | HKEY_USERS

VELTREG QUERY KEY [/v ValueName | /ve] [/s]
  /v   query the named value        /ve  query the default value (Default)
  /s   query all subkeys and values recursively

VELTREG ADD KEY [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]
  /t   REG_SZ | REG_EXPAND_SZ | REG_MULTI_SZ | REG_DWORD | REG_QWORD | REG_BINARY | REG_NONE
       (default REG_SZ)
  /s   separator of REG_MULTI_SZ items in Data (default "\0")
  /d   the data: text, a number (decimal or 0x hex) or hex bytes for REG_BINARY
  /f   overwrite an existing value without asking

VELTREG DELETE KEY [/v ValueName | /ve | /va] [/f]
  without /v, /ve or /va the key and everything below it is deleted
  /va  delete all values of the key    /f  delete without asking

VELTREG EXPORT KEY FileName [/y]
  writes the key and everything below it as a .reg text file; /y overwrites without asking

The registry is the file named by VELT_REGISTRY, else
$XDG_DATA_HOME/norvexvelt/registry.db ($HOME/.local/share when XDG_DATA_HOME is unset).

Return code: 0 success, 1 failure.
)";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || veltreg::isHelp(args[0])) {
    std::cout << kUsage;
    return args.empty() ? 1 : 0;
  }
  std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const std::string& arg : rest) {
    if (veltreg::isHelp(arg)) {
      std::cout << kUsage;
      return 0;
    }
  }
  const std::string& command = args[0];
  if (strcasecmp(command.c_str(), "query") == 0) return veltreg::runQuery(rest);
  if (strcasecmp(command.c_str(), "add") == 0) return veltreg::runAdd(rest);
  if (strcasecmp(command.c_str(), "delete") == 0) return veltreg::runDelete(rest);
  if (strcasecmp(command.c_str(), "export") == 0) return veltreg::runExport(rest);
  std::cerr << "ERROR: Invalid syntax.\nType \"veltreg /?\" for usage." << std::endl;
  return 1;
}
