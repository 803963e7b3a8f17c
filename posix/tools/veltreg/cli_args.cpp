#include "cli_args.h"

#include <algorithm>
#include <cctype>

namespace veltreg {

static std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::optional<std::string> Arguments::value(const std::string& option) const {
  auto found = values.find(option);
  if (found == values.end()) return std::nullopt;
  return found->second;
}

bool isHelp(const std::string& arg) { return arg == "/?" || arg == "-?" || lower(arg) == "--help"; }

std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const std::set<std::string>& withValue,
                                        const std::set<std::string>& flags) {
  Arguments parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string option = arg.size() >= 2 ? lower(arg.substr(1)) : std::string();
    bool known = withValue.count(option) != 0 || flags.count(option) != 0;
    // Only a known option counts as one, so that a path such as /tmp/x.reg stays an argument.
    if (!known || (arg[0] != '/' && arg[0] != '-')) {
      parsed.positional.push_back(arg);
      continue;
    }
    if (parsed.has(option)) return std::nullopt;
    if (withValue.count(option) != 0) {
      if (i + 1 >= args.size()) return std::nullopt;
      parsed.values[option] = args[++i];
    } else {
      parsed.flags.insert(option);
    }
  }
  return parsed;
}

}  // namespace veltreg
