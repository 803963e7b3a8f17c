// enum and get: the two reading requests.
#include "commands.h"
#include "request.h"

namespace veltwmi {

std::string classOfPath(const std::string& path) {
  std::string rest = path;
  // A namespace prefix ends in a colon before the class; key values may hold colons too.
  std::size_t keysAt = rest.find('=');
  std::size_t colon = rest.rfind(':', keysAt == std::string::npos ? rest.size() : keysAt);
  if (colon != std::string::npos) rest = rest.substr(colon + 1);
  return rest.substr(0, rest.find_first_of(".="));
}

int runEnum(const Command& command, CommandContext& context) {
  const std::string& className = command.operands.at(0);
  IWbemServices* ns = context.session.nameSpace(context.nameSpace);
  context.session.classObject(ns, className);
  Bstr name(widen(className));
  auto format = makeFormatter(context.format, Shape::kMany, context.console);
  Delivery delivered = request(
      context, "enum " + className,
      [&](IWbemObjectSink* sink) { return ns->CreateInstanceEnumAsync(name, 0, nullptr, sink); },
      [&](IWbemClassObject* object) { format->object(viewOf(object)); }, true);
  format->end();
  return delivered.exitCode;
}

int runGet(const Command& command, CommandContext& context) {
  const std::string& path = command.operands.at(0);
  IWbemServices* ns = context.session.nameSpace(context.nameSpace);
  Bstr wide(widen(path));
  auto format = makeFormatter(context.format, Shape::kOne, context.console);
  Delivery delivered = request(
      context, "get " + path,
      [&](IWbemObjectSink* sink) { return ns->GetObjectAsync(wide, 0, nullptr, sink); },
      [&](IWbemClassObject* object) { format->object(viewOf(object)); }, false);
  format->end();
  if (delivered.exitCode == kExitOk && delivered.objects == 0) {
    context.console.message(context.session.failureText("get " + path, WBEM_E_NOT_FOUND));
    return kExitRequestFailed;
  }
  return delivered.exitCode;
}

}  // namespace veltwmi
