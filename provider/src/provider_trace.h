// The provider's records in the trace log and its texts for an attached debugger.
#pragma once

#include <windows.h>

#include "trace/trace.h"

inline void providerTrace(const char* text) { trace("CProxyProvider", text, 0); }

inline void debugOutput(const char* text) { OutputDebugStringA(text); }
