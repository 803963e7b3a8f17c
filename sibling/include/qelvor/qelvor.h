// The sibling library's exports. The server tells it the WMI call context of each thread
// right before the thread enters Java and clears it right after; the library's natives, called
// from Java on that same thread, read it back.
#pragma once

#ifdef _WIN32
#define QELVOR_API __declspec(dllexport)
#else
#define QELVOR_API __attribute__((visibility("default")))
#endif

struct IWbemContext;

extern "C" {

// Remembers `context` (or forgets the thread's context, for null) for the calling thread
// only. No reference is taken: the caller keeps the context alive while it is set.
QELVOR_API void QELVOR_SetThreadWbemContext(IWbemContext* context);

// The context the calling thread set last, or null.
QELVOR_API IWbemContext* QELVOR_GetThreadWbemContext(void);

typedef void (*QELVOR_SetThreadWbemContextFunction)(IWbemContext* context);
typedef IWbemContext* (*QELVOR_GetThreadWbemContextFunction)(void);
}
