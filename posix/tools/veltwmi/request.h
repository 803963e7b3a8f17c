// Carrying one asynchronous request's results to the output as they arrive.
#pragma once

#include <functional>
#include <string>

#include "commands.h"
#include "formatter.h"
#include "result_sink.h"

namespace veltwmi {

struct Delivery {
  int exitCode = kExitOk;
  HRESULT status = WBEM_S_NO_ERROR;
  std::size_t objects = 0;
  ComPtr<IWbemClassObject> statusObject;  // what came with a failure status, if anything
};

// Starts `call` with a new sink on a thread of its own (the stand-in and the provider deliver
// inside the call itself) and carries its results to `onObject` while it runs; a failure the
// call returns counts as its final status.
Delivery request(CommandContext& context, const std::string& what,
                 const std::function<HRESULT(IWbemObjectSink*)>& call,
                 const std::function<void(IWbemClassObject*)>& onObject, bool countRows);

// Takes the sink's objects until its final status, handing each to `onObject` (and counting
// on a terminal when `countRows`). A failure status is reported as `what`'s failure.
Delivery deliver(ResultSink& sink, CommandContext& context, const std::string& what,
                 const std::function<void(IWbemClassObject*)>& onObject, bool countRows);

// Sets `name` on `object` from text typed by the object's own definition; throws
// Failure(kExitUsage) for an unknown name or a value that does not fit.
void putTyped(IWbemClassObject* object, const std::string& owner, const std::string& name,
              const std::string& text);

}  // namespace veltwmi
