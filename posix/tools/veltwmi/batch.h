// Several commands in one session, so that they share one server process: from a script file
// (`veltwmi run SCRIPT`) or from standard input. A watch keeps running in the background
// while the next commands run, until its --for ends, a `wait`, or the end of the batch.
#pragma once

#include <istream>
#include <string>

#include "commands.h"

namespace veltwmi {

// Runs every line; stops at the first failing command and answers its exit code.
int runBatch(std::istream& input, const std::string& sourceName, CommandContext& defaults);

// One command of the session (enum, get, put, call, watch, classes).
int runCommand(const Command& command, CommandContext& context);

}  // namespace veltwmi
