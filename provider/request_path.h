// The class named by a request's object path, as WMI's namespace is asked for it.
#pragma once

#include <oleauto.h>
#include <windows.h>

// S_OK and the path's model class (empty when the path names none) in `className`;
// WBEM_E_INVALID_OBJECT_PATH when the path does not parse; WBEM_E_OUT_OF_MEMORY when the
// text cannot be held.
HRESULT classNameOfPath(BSTR objectPath, BSTR* className);
