// call: executes a method with typed in-parameters and shows the out-parameters.
#include "commands.h"
#include "request.h"

namespace veltwmi {

int runCall(const Command& command, CommandContext& context) {
  const std::string& path = command.operands.at(0);
  const std::string& method = command.operands.at(1);
  std::string className = classOfPath(path);
  IWbemServices* ns = context.session.nameSpace(context.nameSpace);
  ComPtr<IWbemClassObject> cls = context.session.classObject(ns, className);
  std::u16string wideMethod = utf16FromUtf8(method);
  ComPtr<IWbemClassObject> inDef, outDef;
  if (FAILED(cls->GetMethod(wideMethod.c_str(), 0, inDef.put(), outDef.put()))) {
    throw usageError(className + " has no method '" + method + "'");
  }
  for (const Assignment& a : command.assignments) {
    std::u16string name = utf16FromUtf8(a.name);
    bool isIn = inDef && SUCCEEDED(inDef->Get(name.c_str(), 0, nullptr, nullptr, nullptr));
    bool isOut = outDef && SUCCEEDED(outDef->Get(name.c_str(), 0, nullptr, nullptr, nullptr));
    if (isIn) continue;
    if (isOut) {
      throw usageError(method + "(): '" + a.name +
                       "' is an out-parameter; the method sets it, the call cannot");
    }
    if (!inDef) throw usageError(method + "() takes no parameters");
    throw usageError(method + "() has no in-parameter '" + a.name + "'");
  }
  ComPtr<IWbemClassObject> in;
  if (inDef) {
    inDef->SpawnInstance(0, in.put());
    for (const Assignment& a : command.assignments) {
      putTyped(in.get(), method + "()", a.name, a.value);
    }
  }

  UniqueBstr widePath = bstrFromUtf8(path);
  UniqueBstr methodName = bstrFromUtf16(wideMethod);
  auto format = makeFormatter(context.format, Shape::kOne, context.console);
  Delivery delivered = request(
      context, "call " + path + " " + method,
      [&](IWbemObjectSink* sink) {
        return ns->ExecMethodAsync(widePath.get(), methodName.get(), 0, nullptr, in.get(), sink);
      },
      [&](IWbemClassObject* object) { format->object(viewOf(object)); }, false);
  format->end();
  return delivered.exitCode;
}

}  // namespace veltwmi
