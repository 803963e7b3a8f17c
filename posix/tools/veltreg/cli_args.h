// Command-line options the way the registry tool takes them: "/v NAME", "-v NAME", "/f",
// matched without regard to case; everything else, unknown options included, is a positional
// argument (the commands refuse surplus ones).
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace veltreg {

struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // option (lower case, no slash) -> its argument
  std::set<std::string> flags;

  bool has(const std::string& option) const {
    return flags.count(option) != 0 || values.count(option) != 0;
  }
  std::optional<std::string> value(const std::string& option) const;
};

// Parses args; options named in `withValue` take the next argument, those in `flags` none.
// Nullopt on a missing option argument or a repeated option.
std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const std::set<std::string>& withValue,
                                        const std::set<std::string>& flags);

bool isHelp(const std::string& arg);

}  // namespace veltreg
