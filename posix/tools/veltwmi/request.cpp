#include "request.h"

#include <objbase.h>

#include <thread>

#include "interrupt.h"
#include "value_typing.h"

#include "status_text.h"

namespace veltwmi {

Delivery deliver(ResultSink& sink, CommandContext& context, const std::string& what,
                 const std::function<void(IWbemClassObject*)>& onObject, bool countRows) {
  Delivery result;
  for (;;) {
    ComPtr<IWbemClassObject> object;
    HRESULT status = WBEM_S_NO_ERROR;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    ResultSink::Next next = sink.next(object, status, until);
    if (next == ResultSink::Next::kObject) {
      onObject(object.get());
      ++result.objects;
      if (countRows) context.console.showCount(result.objects);
    } else if (next == ResultSink::Next::kDone) {
      result.status = status;
      break;
    } else if (context.session.serviceLost()) {
      // The service that was to answer is gone: its answer will never come.
      result.status = RPC_E_DISCONNECTED;
      break;
    } else if (interrupted()) {
      context.console.message(what + ": interrupted");
      result.exitCode = kExitInterrupted;
      return result;
    }
  }
  if (countRows) {
    std::lock_guard<std::mutex> lock(context.console.mutex);
    context.console.clearCounterLocked();
  }
  if (FAILED(result.status)) {
    // A provider's own account of the failure replaces the advice to look in the trace log.
    ComPtr<IWbemClassObject> statusObject = sink.statusObject();
    result.statusObject = statusObject;
    std::string detail = extendedStatusText(statusObject.get());
    context.console.message(detail.empty() ? context.session.failureText(what, result.status)
                                           : what + ": " + describeStatus(result.status) + detail);
    result.exitCode = kExitRequestFailed;
  }
  return result;
}

Delivery request(CommandContext& context, const std::string& what,
                 const std::function<HRESULT(IWbemObjectSink*)>& call,
                 const std::function<void(IWbemClassObject*)>& onObject, bool countRows) {
  ComPtr<ResultSink> sink = ResultSink::create();
  std::thread caller([&call, sink] {
    bool joined = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    HRESULT hr = call(sink.get());
    if (FAILED(hr)) sink->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
    if (joined) CoUninitialize();
  });
  Delivery delivered = deliver(*sink, context, what, onObject, countRows);
  caller.join();  // an interrupted request still ends in the provider's own time
  return delivered;
}

void putTyped(IWbemClassObject* object, const std::string& owner, const std::string& name,
              const std::string& text) {
  std::u16string wide = utf16FromUtf8(name);
  CIMTYPE type = CIM_EMPTY;
  if (FAILED(object->Get(wide.c_str(), 0, nullptr, &type, nullptr)) || name.rfind("__", 0) == 0) {
    throw usageError(owner + " has no property '" + name + "'");
  }
  OwnedVariant value;
  typedValue(type, text, name, value.get());
  HRESULT hr = object->Put(wide.c_str(), 0, value.get(), 0);
  if (FAILED(hr)) throw usageError(name + ": " + describeStatus(hr));
}

}  // namespace veltwmi
