// The command line (and each line of a batch): global options, the command and its operands.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace veltwmi {

enum class Format { kTable, kList, kJson, kMof };

struct Assignment {
  std::string name;
  std::string value;  // as typed; the class definition decides what it means
};

struct Command {
  std::string
      name;  // enum, get, put, call, watch, classes, mofcomp, check, run, help; empty: batch
  std::vector<std::string> operands;
  std::vector<Assignment> assignments;  // put and call: Prop=Value
  std::optional<Format> format;
  std::optional<std::string> nameSpace;
  std::optional<double> forSeconds;  // watch
  bool help = false;
};

struct Invocation {
  std::vector<std::string> mofFiles;  // empty: the sample's
  Command command;
};

// Parses a whole command line (without the program name); throws Failure(kExitUsage).
Invocation parseCommandLine(const std::vector<std::string>& args);
// Parses one batch line's words; --mof is refused there. Throws Failure(kExitUsage).
Command parseBatchCommand(const std::vector<std::string>& words);
// Splits a batch line into words the way a POSIX shell would for plain words and quotes:
// '...' is literal, "..." honours \" and \\, a backslash outside quotes escapes the next
// character, and # at the start of a word comments out the rest. Throws on an open quote.
std::vector<std::string> splitWords(const std::string& line);

std::optional<Format> formatNamed(const std::string& name);
const char* formatName(Format format);

}  // namespace veltwmi
