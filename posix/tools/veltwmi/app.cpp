#include "app.h"

#include <filesystem>
#include <fstream>

#include "batch.h"
#include "crash_report.h"
#include "interrupt.h"
#include "status_text.h"

namespace veltwmi {
namespace {

int runParsed(const Invocation& invocation, Console& console, Environment& environment) {
  const Command& command = invocation.command;
  bool batch = command.name == "run" || (command.name.empty() && !environment.inIsTerminal);
  if (command.help || command.name == "help" || (command.name.empty() && !batch)) {
    std::string topic =
        command.name == "help" && !command.operands.empty() ? command.operands[0] : command.name;
    console.out << helpText(topic) << std::flush;
    return command.name.empty() && !command.help ? kExitUsage : kExitOk;
  }
  if (command.name == "wait" || command.name == "sleep" || command.name == "echo") {
    throw usageError(command.name + " runs only in a batch");
  }

  std::ifstream script;
  std::string sourceName = "stdin";
  if (command.name == "run" && !command.operands.empty() && command.operands[0] != "-") {
    sourceName = command.operands[0];
    std::error_code ignored;
    if (std::filesystem::is_directory(sourceName, ignored)) {
      throw Failure(kExitSetup, "the script " + sourceName + " is a folder, not a file");
    }
    script.open(sourceName);
    if (!script) throw Failure(kExitSetup, "cannot read the script " + sourceName);
  }

  // The user's repository, found through XDG_DATA_HOME, as every veltwmi finds it.
  RepositorySetup repository{velt::wmi::defaultRepositoryPath(), {}, environment.sharedService};
  // Only without MOF of one's own: a `check` of one's own MOF would report the sample's too.
  if (invocation.mofFiles.empty() && command.name != "mofcomp") {
    repository.sampleMof = environment.defaultMof;
  }
  Session session(invocation.mofFiles, environment.host, repository);
  CommandContext context{session, console};
  if (command.format) context.format = *command.format;
  if (command.nameSpace) context.nameSpace = *command.nameSpace;
  if (!batch) return runCommand(command, context);
  return runBatch(script.is_open() ? script : environment.in, sourceName, context);
}

}  // namespace

int runVeltwmi(const std::vector<std::string>& args, Console& console, Environment& environment) {
  setInterrupted(false);
  const auto started = std::filesystem::file_time_type::clock::now();
  int exitCode = kExitOk;
  try {
    exitCode = runParsed(parseCommandLine(args), console, environment);
  } catch (const Failure& failure) {
    console.message(failure.what());
    exitCode = failure.exitCode();
  }
  // A VM that crashed while the session ended may not have taken the process down yet. The
  // shared service, not this client, reached the provider's server: any report it left since
  // this command started is this command's.
  auto report = environment.sharedService.empty()
                    ? findCrashReport(environment.host.executablePath)
                    : findCrashReportSince(environment.host.executablePath, started);
  if (report) {
    console.message("the provider's Java VM crashed; its report: " + *report);
    return kExitVmCrashed;
  }
  return exitCode;
}

}  // namespace veltwmi
