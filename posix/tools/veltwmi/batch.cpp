#include "batch.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app.h"
#include "interrupt.h"
#include "status_text.h"
#include "wait_time.h"

namespace veltwmi {
namespace {

// Timed watches run out their time; open-ended ones wait for Ctrl-C unless `endOpen`.
int waitForAll(std::vector<std::unique_ptr<Watch>>& watches, bool endOpen) {
  int worst = kExitOk;
  for (auto& watch : watches) {
    int code = endOpen && watch->openEnded() ? watch->stop() : watch->wait();
    if (code != kExitOk && worst == kExitOk) worst = code;
  }
  watches.clear();
  return worst;
}

// Pauses a batch; Ctrl-C ends the pause.
void pause(double seconds) {
  std::mutex mutex;
  std::condition_variable never;
  std::unique_lock<std::mutex> lock(mutex);
  auto until = deadlineAfter(seconds);
  while (!interrupted() && std::chrono::steady_clock::now() < until) {
    never.wait_until(
        lock, std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(100)));
  }
}

}  // namespace

int runCommand(const Command& command, CommandContext& context) {
  if (command.name == "enum") return runEnum(command, context);
  if (command.name == "get") return runGet(command, context);
  if (command.name == "query") return runQuery(command, context);
  if (command.name == "put") return runPut(command, context);
  if (command.name == "call") return runCall(command, context);
  if (command.name == "watch") return runWatch(command, context);
  if (command.name == "classes") return runClasses(command, context);
  if (command.name == "mofcomp") return runMofcomp(command, context);
  if (command.name == "check") return runCheck(command, context);
  throw usageError(command.name + " runs only in a batch");
}

int runBatch(std::istream& input, const std::string& sourceName, CommandContext& defaults) {
  std::vector<std::unique_ptr<Watch>> watches;
  std::string line;
  int lineNumber = 0;
  int exitCode = kExitOk;
  while (exitCode == kExitOk && !interrupted() && std::getline(input, line)) {
    // Editors on Windows start a UTF-8 file with a byte-order mark; it is no part of the text.
    if (++lineNumber == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    std::string where = sourceName + ":" + std::to_string(lineNumber) + ": ";
    try {
      std::vector<std::string> words = splitWords(line);
      if (words.empty()) continue;
      Command command = parseBatchCommand(words);
      if (command.name.empty()) throw usageError("no command");
      CommandContext context = defaults;
      if (command.format) context.format = *command.format;
      if (command.nameSpace) context.nameSpace = *command.nameSpace;
      if (command.help) {
        std::lock_guard<std::mutex> lock(context.console.mutex);
        context.console.out << helpText(command.name);
      } else if (command.name == "echo") {
        std::string text;
        for (const std::string& word : command.operands) text += (text.empty() ? "" : " ") + word;
        std::lock_guard<std::mutex> lock(context.console.mutex);
        context.console.out << text << '\n' << std::flush;
      } else if (command.name == "sleep") {
        char* end = nullptr;
        double seconds = std::strtod(command.operands[0].c_str(), &end);
        if (*end != '\0' || !(seconds >= 0)) throw usageError("sleep wants seconds");
        pause(seconds);
      } else if (command.name == "wait") {
        exitCode = waitForAll(watches, false);
      } else if (command.name == "watch") {
        watches.push_back(startWatch(command, context));
      } else if (command.name == "help") {
        std::lock_guard<std::mutex> lock(context.console.mutex);
        context.console.out << helpText(command.operands.empty() ? "" : command.operands[0]);
      } else {
        exitCode = runCommand(command, context);
      }
    } catch (const Failure& failure) {
      defaults.console.message(where + failure.what());
      exitCode = failure.exitCode();
    }
    if (exitCode != kExitOk) {
      defaults.console.message(where + "the batch stops here");
    }
  }
  // Open-ended watches end with the batch; a failed batch does not wait for the others.
  int watchCode = exitCode == kExitOk ? waitForAll(watches, true) : kExitOk;
  for (auto& watch : watches) watch->stop();
  if (exitCode == kExitOk) exitCode = watchCode;
  if (exitCode == kExitOk && interrupted()) exitCode = kExitInterrupted;
  return exitCode;
}

}  // namespace veltwmi
