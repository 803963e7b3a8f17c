// An object sink for clients and tests: records every Indicate and SetStatus in the order
// they arrive, from any thread, and lets the caller wait for the final status.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include <wbemcli.h>

namespace velt::wmi {

struct SinkEvent {
  enum Kind { kIndicate, kSetStatus } kind = kIndicate;
  std::vector<IWbemClassObject*> objects;  // Indicate: held by the sink while it lives
  LONG flags = 0;                          // SetStatus
  HRESULT status = S_OK;                   // SetStatus
};

class RecordingSink : public IWbemObjectSink {
 public:
  // A new sink with one reference for the caller.
  static RecordingSink* create();

  virtual std::vector<SinkEvent> events() const = 0;
  // Every object indicated so far, in order (held by the sink).
  virtual std::vector<IWbemClassObject*> objects() const = 0;
  // The status of the first SetStatus with WBEM_STATUS_COMPLETE, waiting up to `timeout`.
  virtual std::optional<HRESULT> waitForFinalStatus(std::chrono::milliseconds timeout) const = 0;
  // Waits until `count` objects have been indicated.
  virtual bool waitForObjects(std::size_t count, std::chrono::milliseconds timeout) const = 0;

 protected:
  ~RecordingSink() = default;
};

}  // namespace velt::wmi
