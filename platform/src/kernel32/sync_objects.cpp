// Threads and events as waitable kernel objects.
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "kernel_objects.h"

namespace velt::platform {
namespace {

// A signal with Windows' wait rules; the flag is guarded by the mutex.
class Signal {
 public:
  explicit Signal(bool manualReset, bool signalled)
      : manualReset_(manualReset), signalled_(signalled) {}

  void set() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    if (manualReset_) {
      changed_.notify_all();
    } else {
      changed_.notify_one();
    }
  }

  void reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
  }

  bool wait(DWORD milliseconds) {
    std::unique_lock lock(mutex_);
    auto ready = [this] { return signalled_; };
    if (milliseconds == INFINITE) {
      changed_.wait(lock, ready);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
      return false;
    }
    if (!manualReset_) signalled_ = false;  // an auto-reset event releases one waiter
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const bool manualReset_;
  bool signalled_;
};

class Event final : public KernelObject {
 public:
  Event(bool manualReset, bool initialState) : signal(manualReset, initialState) {}
  bool wait(DWORD milliseconds, bool&) override { return signal.wait(milliseconds); }
  Signal signal;
};

class Thread final : public KernelObject {
 public:
  bool wait(DWORD milliseconds, bool&) override { return finished.wait(milliseconds); }

  DWORD exitCode() {
    std::lock_guard lock(mutex);
    return code;
  }

  void finish(DWORD result) {
    {
      std::lock_guard lock(mutex);
      code = result;
    }
    finished.set();
  }

  Signal finished{true, false};
  std::mutex mutex;
  DWORD code = STILL_ACTIVE;
};

}  // namespace
}  // namespace velt::platform

using namespace velt::platform;

extern "C" {

HANDLE WINAPI CreateThread(void*, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                           DWORD creationFlags, LPDWORD threadId) {
  // Suspended creation has no POSIX counterpart; refusing it beats starting early.
  if (start == nullptr || creationFlags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<Thread>();
  // Shared with the new thread, which may still be touching it when this call returns.
  auto newId = std::make_shared<std::promise<DWORD>>();
  auto idKnown = newId->get_future();
  try {
    std::thread([thread, start, parameter, newId] {
      newId->set_value(GetCurrentThreadId());
      thread->finish(start(parameter));
    }).detach();
  } catch (const std::system_error&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // The caller may post to the new thread at once, so its id must be known before returning.
  DWORD id = idKnown.get();
  if (threadId != nullptr) *threadId = id;
  return insertHandle(thread);
}

HANDLE WINAPI CreateEventA(void*, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (name != nullptr) {  // named events would be shared across processes: not offered
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return insertHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL WINAPI SetEvent(HANDLE event) {
  auto object = lookupHandleAs<Event>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->signal.set();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE event) {
  auto object = lookupHandleAs<Event>(event);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->signal.reset();
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto object = lookupHandle(handle);
  bool waitable = true;
  bool signalled = object && object->wait(milliseconds, waitable);
  if (!object || !waitable) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return signalled ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  auto object = lookupHandleAs<Thread>(thread);
  if (!object || exitCode == nullptr) {
    SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = object->exitCode();
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  // Search handles close with FindClose, as on Windows.
  auto object = lookupHandle(handle);
  if (!object || (!dynamic_cast<Thread*>(object.get()) && !dynamic_cast<Event*>(object.get()))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  removeHandle(handle);
  return TRUE;
}

}  // extern "C"
