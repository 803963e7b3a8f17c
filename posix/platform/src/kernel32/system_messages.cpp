#include "system_messages.h"

#include <objbase.h>
#include <oleauto.h>

namespace velt::platform {
namespace {

struct Message {
  DWORD code;
  const char* text;
};

constexpr Message win32Messages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_NO_MORE_FILES, "There are no more files."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_ENVVAR_NOT_FOUND, "The system could not find the environment option that was entered."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_MR_MID_NOT_FOUND,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {ERROR_BADDB, "The configuration registry database is corrupt."},
    {ERROR_BADKEY, "The configuration registry key is invalid."},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened."},
    {ERROR_CANTREAD, "The configuration registry key could not be read."},
    {ERROR_CANTWRITE, "The configuration registry key could not be written."},
    {ERROR_KEY_DELETED,
     "Illegal operation attempted on a registry key that has been marked for deletion."},
    {ERROR_NO_UNICODE_TRANSLATION,
     "No mapping for the Unicode character exists in the target multi-byte code page."},
    {ERROR_NOT_FOUND, "Element not found."},
    {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle."},
    {ERROR_INVALID_THREAD_ID, "The thread identifier is invalid."},
};

constexpr Message comMessages[] = {
    {static_cast<DWORD>(E_NOTIMPL), "Not implemented"},
    {static_cast<DWORD>(E_NOINTERFACE), "No such interface supported"},
    {static_cast<DWORD>(E_POINTER), "Invalid pointer"},
    {static_cast<DWORD>(E_ABORT), "Operation aborted"},
    {static_cast<DWORD>(E_FAIL), "Unspecified error"},
    {static_cast<DWORD>(E_UNEXPECTED), "Catastrophic failure"},
    {static_cast<DWORD>(CLASS_E_NOAGGREGATION),
     "Class does not support aggregation (or class object is remote)"},
    {static_cast<DWORD>(CLASS_E_CLASSNOTAVAILABLE), "ClassFactory cannot supply requested class"},
    {static_cast<DWORD>(REGDB_E_CLASSNOTREG), "Class not registered"},
    {static_cast<DWORD>(CO_E_NOTINITIALIZED), "CoInitialize has not been called."},
    {static_cast<DWORD>(CO_E_CLASSSTRING), "Invalid class string"},
    {static_cast<DWORD>(CO_E_OBJNOTREG), "Object is not registered"},
    {static_cast<DWORD>(CO_E_OBJISREG), "Object is already registered"},
    {static_cast<DWORD>(CO_E_SERVER_EXEC_FAILURE), "Server execution failed"},
    {static_cast<DWORD>(RPC_E_CHANGED_MODE), "Cannot change thread mode after it is set."},
    {static_cast<DWORD>(DISP_E_TYPEMISMATCH), "Type mismatch."},
    {static_cast<DWORD>(DISP_E_BADVARTYPE), "Bad variable type."},
    {static_cast<DWORD>(DISP_E_OVERFLOW), "Out of present range."},
    {static_cast<DWORD>(DISP_E_BADINDEX), "Invalid index."},
    {static_cast<DWORD>(DISP_E_ARRAYISLOCKED), "Memory is locked."},
    {static_cast<DWORD>(RPC_E_TOO_LATE),
     "Security must be initialized before any interfaces are marshalled or unmarshalled. It "
     "cannot be changed once initialized."},
};

template <size_t N>
const char* find(const Message (&table)[N], DWORD code) {
  for (const auto& message : table) {
    if (message.code == code) return message.text;
  }
  return nullptr;
}

}  // namespace

const char* systemMessageText(DWORD code) {
  if (const char* text = find(comMessages, code)) return text;
  if ((code & 0xFFFF0000u) == 0x80070000u) return find(win32Messages, code & 0xFFFFu);
  return find(win32Messages, code);
}

}  // namespace velt::platform
