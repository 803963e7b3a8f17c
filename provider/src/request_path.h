// The class named by a request's object path, as WMI's namespace is asked for it.
#pragma once

#include <windows.h>

#include <oleauto.h>
#include <wbemcli.h>

#include "com_ref.h"

// S_OK and the path's model class (empty when the path names none) in `className`;
// WBEM_E_INVALID_OBJECT_PATH when the path does not parse; WBEM_E_OUT_OF_MEMORY when the
// text cannot be held.
HRESULT classNameOfPath(BSTR objectPath, BSTR* className);

// The definition of the class named by `objectPath`, fetched from `ns` with the request's
// context: S_OK with `definition` set; the failure of classNameOfPath; WBEM_E_FAILED when there
// is no namespace or it has no such class.
HRESULT classDefinitionOfPath(IWbemServices* ns, BSTR objectPath, IWbemContext* context,
                              ComPtr<IWbemClassObject>& definition);
