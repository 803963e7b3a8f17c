// The client's commands. Each answers its exit code; failures it can name go to the console
// first. Usage faults are thrown as Failure.
#pragma once

#include <memory>
#include <string>

#include "cli_args.h"
#include "console.h"
#include "session.h"
#include "status_text.h"

namespace veltwmi {

struct CommandContext {
  Session& session;
  Console& console;
  Format format = Format::kTable;
  std::string nameSpace = kDefaultNamespace;
};

int runEnum(const Command& command, CommandContext& context);
int runGet(const Command& command, CommandContext& context);
// A WQL data query; a query the service refuses is a usage fault, shown with a caret.
int runQuery(const Command& command, CommandContext& context);
// The lines that point at column `position` of a one-line `query`; "" when it cannot.
std::string caretUnder(const std::string& query, std::size_t position);
// The column a service's "position N: ..." description names, or 0.
std::size_t faultPosition(const std::string& description);
// Whether a watch operand is an event query rather than a class name.
bool isEventQuery(const std::string& operand);
int runPut(const Command& command, CommandContext& context);
int runCall(const Command& command, CommandContext& context);
int runClasses(const Command& command, CommandContext& context);
// Compiles each MOF file into the repository and prints what it added; stops at the first
// faulty file, of which nothing is added.
int runMofcomp(const Command& command, CommandContext& context);
// Reports every fault of the loaded MOF and its registrations; 1 when there is an error.
int runCheck(const Command& command, CommandContext& context);

// Events a watch holds while it prints; beyond them it drops what arrives (and says so).
constexpr std::size_t kWatchQueueLimit = 10000;

// A running event subscription whose events print as they come.
class Watch {
 public:
  virtual ~Watch() = default;  // cancels the subscription
  // Waits until --for elapsed (forever without it) or Ctrl-C; answers the exit code.
  virtual int wait() = 0;
  // Ends the subscription now; answers the exit code.
  virtual int stop() = 0;
  virtual bool openEnded() const = 0;  // no --for
};
// Subscribes; throws Failure when the subscription is refused.
std::unique_ptr<Watch> startWatch(const Command& command, CommandContext& context);
int runWatch(const Command& command, CommandContext& context);

// The class named by an object path: `Class.Key=...`, `Class=@`, `\\server\ns:Class...`.
std::string classOfPath(const std::string& path);

}  // namespace veltwmi
