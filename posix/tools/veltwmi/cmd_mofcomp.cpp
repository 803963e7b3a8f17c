// mofcomp: class definitions and provider registrations into the repository, one file at a
// time, each whole or not at all.
#include "commands.h"

namespace veltwmi {
namespace {

using velt::wmi::CompiledItem;

const char* changeName(CompiledItem::Change change) {
  switch (change) {
    case CompiledItem::Change::kAdded:
      return "added";
    case CompiledItem::Change::kReplaced:
      return "replaced";
    default:
      return "unchanged";
  }
}

}  // namespace

int runMofcomp(const Command& command, CommandContext& context) {
  for (const std::string& file : command.operands) {
    velt::wmi::CompileReport report;
    try {
      report = context.session.service().loadMof(file);
    } catch (const std::exception& fault) {
      throw Failure(kExitSetup, std::string(fault.what()) + "\n  nothing of " + file +
                                    " was added to the repository");
    }
    std::string text = file + ":\n";
    if (report.empty()) text += "  (declares no class and no provider)\n";
    for (const CompiledItem& item : report) {
      text += std::string("  ") +
              (item.kind == CompiledItem::Kind::kClass ? "class    " : "provider ") +
              utf8FromUtf16(item.nameSpace) + ":" + utf8FromUtf16(item.name) + " " +
              changeName(item.change) + "\n";
    }
    std::lock_guard<std::mutex> lock(context.console.mutex);
    context.console.out << text << std::flush;
  }
  return kExitOk;
}

}  // namespace veltwmi
