// The whole client behind main(): parses the command line, opens the session and runs one
// command or a batch. Tests drive it with their own streams and server entry.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "console.h"
#include "session.h"

namespace veltwmi {

struct Environment {
  ServerHost host;
  std::string defaultMof;  // the sample's MOF, compiled when the repository lacks it
  std::istream& in;        // batch commands when no command is given
  bool inIsTerminal = false;
  // The shared WMI service's program (veltwmid); empty: the stand-in runs in this process.
  std::string sharedService = {};
};

int runVeltwmi(const std::vector<std::string>& args, Console& console, Environment& environment);

// The usage text of one command, or of the whole tool for an empty name.
std::string helpText(const std::string& command);

}  // namespace veltwmi
