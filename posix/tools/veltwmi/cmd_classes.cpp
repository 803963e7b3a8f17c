// classes: the class definitions of the namespace, as the repository holds them.
#include "class_info.h"
#include "commands.h"
#include "request.h"

namespace veltwmi {

int runClasses(const Command& command, CommandContext& context) {
  IWbemServices* ns = context.session.nameSpace(context.nameSpace);
  std::vector<ComPtr<IWbemClassObject>> classes;
  if (!command.operands.empty()) {
    classes.push_back(context.session.classObject(ns, command.operands[0]));
  } else {
    Delivery delivered = request(
        context, "classes",
        [&](IWbemObjectSink* sink) {
          return ns->CreateClassEnumAsync(nullptr, WBEM_FLAG_DEEP, nullptr, sink);
        },
        [&](IWbemClassObject* cls) { classes.push_back(ComPtr<IWbemClassObject>::share(cls)); },
        false);
    if (delivered.exitCode != kExitOk) return delivered.exitCode;
  }
  std::string text;
  for (std::size_t i = 0; i < classes.size(); ++i) {
    ClassInfo info = classInfoOf(classes[i].get());
    switch (context.format) {
      case Format::kJson:
        text += (i ? ",\n  " : "[\n  ") + classJson(info);
        break;
      case Format::kMof:
        text += (i ? "\n" : "") + classMof(info);
        break;
      default:
        text += (i ? "\n" : "") + classListing(info);
    }
  }
  if (context.format == Format::kJson) text += classes.empty() ? "[]\n" : "\n]\n";
  std::lock_guard<std::mutex> lock(context.console.mutex);
  context.console.out << text << std::flush;
  return kExitOk;
}

}  // namespace veltwmi
