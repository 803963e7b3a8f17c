// put: creates an instance or changes the named properties of an existing one, and shows what
// the provider stored.
#include "commands.h"
#include "request.h"

namespace veltwmi {
namespace {

// The instance the provider holds at `relPath` (a copy), or null with `status` saying why.
ComPtr<IWbemClassObject> instanceAt(IWbemServices* ns, const std::string& relPath,
                                    HRESULT& status) {
  ComPtr<ResultSink> sink = ResultSink::create();
  UniqueBstr path = bstrFromUtf8(relPath);
  HRESULT hr = ns->GetObjectAsync(path.get(), 0, nullptr, sink.get());
  ComPtr<IWbemClassObject> found;
  status = hr;
  if (SUCCEEDED(hr)) {
    for (;;) {
      ComPtr<IWbemClassObject> object;
      auto until = std::chrono::steady_clock::now() + std::chrono::minutes(5);
      ResultSink::Next next = sink->next(object, status, until);
      if (next == ResultSink::Next::kObject && !found) found = object;
      if (next == ResultSink::Next::kDone) break;
      if (next == ResultSink::Next::kTimedOut) {
        status = WBEM_E_TIMED_OUT;
        break;
      }
    }
  }
  if (SUCCEEDED(status) && !found) status = WBEM_E_NOT_FOUND;
  if (FAILED(status)) return {};
  ComPtr<IWbemClassObject> copy;
  if (SUCCEEDED(found->Clone(copy.put()))) return copy;
  return found;
}

// The current instance when the provider knows it, so that a change keeps the properties the
// user did not name; null when it does not exist yet, or a provider that cannot read it (this
// server answers a missing instance with a plain failure): the put creates it, and the put's
// own status tells the outcome.
ComPtr<IWbemClassObject> existingInstance(IWbemServices* ns, const std::string& relPath) {
  HRESULT ignored = WBEM_S_NO_ERROR;
  return instanceAt(ns, relPath, ignored);
}

}  // namespace

int runPut(const Command& command, CommandContext& context) {
  const std::string& className = command.operands.at(0);
  IWbemServices* ns = context.session.nameSpace(context.nameSpace);
  ComPtr<IWbemClassObject> cls = context.session.classObject(ns, className);
  ComPtr<IWbemClassObject> fresh;
  if (FAILED(cls->SpawnInstance(0, fresh.put()))) {
    throw usageError(className + " cannot have instances");
  }
  for (const Assignment& a : command.assignments) putTyped(fresh.get(), className, a.name, a.value);

  OwnedVariant relPath;
  fresh->Get(OLESTR("__RELPATH"), 0, relPath.get(), nullptr, nullptr);
  ComPtr<IWbemClassObject> instance = fresh;
  if (relPath.get()->vt == VT_BSTR) {
    ComPtr<IWbemClassObject> existing = existingInstance(ns, utf8FromUtf16(relPath.get()->bstrVal));
    if (existing) {
      instance = existing;
      for (const Assignment& a : command.assignments) {
        putTyped(instance.get(), className, a.name, a.value);
      }
    }
  }

  Delivery delivered = request(
      context, "put " + className,
      [&](IWbemObjectSink* sink) {
        return ns->PutInstanceAsync(instance.get(), WBEM_FLAG_CREATE_OR_UPDATE, nullptr, sink);
      },
      [](IWbemClassObject*) {}, false);
  if (delivered.exitCode != kExitOk) return delivered.exitCode;
  // What the provider kept, which may differ from what was sent (a value it ignores, clamps or
  // computes): read back by the keys.
  HRESULT status = WBEM_E_INVALID_OBJECT_PATH;
  ComPtr<IWbemClassObject> stored;
  if (relPath.get()->vt == VT_BSTR)
    stored = instanceAt(ns, utf8FromUtf16(relPath.get()->bstrVal), status);
  if (!stored) {
    context.console.message("put " + className +
                            ": written, but it cannot be read back: " + describeStatus(status));
    return kExitOk;
  }
  auto format = makeFormatter(context.format, Shape::kOne, context.console);
  format->object(viewOf(stored.get()));
  format->end();
  return kExitOk;
}

}  // namespace veltwmi
