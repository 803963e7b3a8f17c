// call: executes a method with typed in-parameters and shows the out-parameters.
#include "commands.h"
#include "request.h"

namespace veltwmi {

int runCall(const Command& command, CommandContext& context) {
  const std::string& path = command.operands.at(0);
  const std::string& method = command.operands.at(1);
  std::string className = classOfPath(path);
  IWbemServices* ns = context.session.nameSpace(context.nameSpace);
  Ref<IWbemClassObject> cls = context.session.classObject(ns, className);
  std::u16string wideMethod = widen(method);
  Ref<IWbemClassObject> inDef;
  if (FAILED(cls->GetMethod(wideMethod.c_str(), 0, inDef.put(), nullptr))) {
    throw usageError(className + " has no method '" + method + "'");
  }
  Ref<IWbemClassObject> in;
  if (inDef) {
    inDef->SpawnInstance(0, in.put());
    for (const Assignment& a : command.assignments) {
      putTyped(in.get(), method + "()", a.name, a.value);
    }
  } else if (!command.assignments.empty()) {
    throw usageError(method + "() takes no parameters");
  }

  Bstr widePath(widen(path)), methodName(wideMethod);
  auto format = makeFormatter(context.format, Shape::kOne, context.console);
  Delivery delivered = request(
      context, "call " + path + " " + method,
      [&](IWbemObjectSink* sink) {
        return ns->ExecMethodAsync(widePath, methodName, 0, nullptr, in.get(), sink);
      },
      [&](IWbemClassObject* object) { format->object(viewOf(object)); }, false);
  format->end();
  return delivered.exitCode;
}

}  // namespace veltwmi
