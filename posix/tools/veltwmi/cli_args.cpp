#include "cli_args.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "status_text.h"

namespace veltwmi {
namespace {

struct CommandShape {
  const char* name;
  std::size_t minOperands;
  std::size_t maxOperands;
  bool takesAssignments;
};

const CommandShape kShapes[] = {
    {"enum", 1, 1, false},
    {"get", 1, 1, false},
    {"query", 1, 1, false},
    {"put", 1, 1, true},
    {"call", 2, 2, true},
    {"watch", 1, 1, false},
    {"classes", 0, 1, false},
    {"mofcomp", 1, SIZE_MAX, false},
    {"check", 0, 0, false},
    {"run", 0, 1, false},
    {"help", 0, 1, false},
    // batch only
    {"wait", 0, 0, false},
    {"sleep", 1, 1, false},
    {"echo", 0, SIZE_MAX, false},
};

const CommandShape* shapeOf(const std::string& name) {
  for (const CommandShape& shape : kShapes) {
    if (name == shape.name) return &shape;
  }
  return nullptr;
}

bool isIdentifier(const std::string& text) {
  if (text.empty() || std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

bool endsWithMof(const std::string& word) {
  if (word.size() < 4) return false;
  std::string tail = word.substr(word.size() - 4);
  for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".mof";
}

// Splits "--name=value" into its parts; the value is empty when there is none.
std::pair<std::string, std::optional<std::string>> splitOption(const std::string& word) {
  std::size_t equals = word.find('=');
  if (word.rfind("--", 0) != 0 || equals == std::string::npos) return {word, std::nullopt};
  return {word.substr(0, equals), word.substr(equals + 1)};
}

class Parser {
 public:
  Parser(const std::vector<std::string>& words, bool batchLine)
      : m_words(words), m_batchLine(batchLine) {}

  Invocation parse() {
    Invocation result;
    Command& command = result.command;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    while (m_at < m_words.size()) {
      std::string word = m_words[m_at++];
      if (optionsEnded || word.empty() || word[0] != '-' || word == "-") {
        positional.push_back(word);
        continue;
      }
      auto [option, inlineValue] = splitOption(word);
      if (option == "--") {
        optionsEnded = true;
      } else if (option == "-h" || option == "--help") {
        command.help = true;
      } else if (option == "--mof") {
        if (m_batchLine) throw usageError("--mof is read once, from the command line");
        result.mofFiles.push_back(value(option, inlineValue));
        // "--mof a.mof b.mof": further MOF files follow without repeating the option.
        while (!inlineValue && m_at < m_words.size() && endsWithMof(m_words[m_at])) {
          result.mofFiles.push_back(m_words[m_at++]);
        }
      } else if (option == "-n" || option == "--namespace") {
        command.nameSpace = value(option, inlineValue);
      } else if (option == "-f" || option == "--format") {
        std::string name = value(option, inlineValue);
        command.format = formatNamed(name);
        if (!command.format) {
          throw usageError("unknown format '" + name + "': use table, list, json or mof");
        }
      } else if (option == "--for") {
        std::string text = value(option, inlineValue);
        char* end = nullptr;
        double seconds = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(seconds >= 0)) {
          throw usageError("--for wants a number of seconds, not '" + text + "'");
        }
        command.forSeconds = seconds;
      } else {
        throw usageError("unknown option '" + word + "'");
      }
    }
    if (positional.empty()) return result;  // batch from stdin, or plain --help
    command.name = positional.front();
    const CommandShape* shape = shapeOf(command.name);
    if (!shape) throw usageError("unknown command '" + command.name + "'");
    if (m_batchLine && command.name == "run") throw usageError("run cannot be nested in a batch");
    for (std::size_t i = 1; i < positional.size(); ++i) {
      const std::string& word = positional[i];
      std::size_t equals = word.find('=');
      bool operandsDone = command.operands.size() >= shape->minOperands;
      if (shape->takesAssignments && operandsDone && equals != std::string::npos) {
        std::string name = word.substr(0, equals);
        if (!isIdentifier(name)) throw usageError("'" + name + "' is not a property name");
        command.assignments.push_back({name, word.substr(equals + 1)});
      } else if (command.operands.size() < shape->maxOperands && command.assignments.empty()) {
        command.operands.push_back(word);
      } else {
        throw usageError(command.name + ": unexpected '" + word + "'" +
                         (shape->takesAssignments ? " (expected Name=Value)" : ""));
      }
    }
    if (command.help) return result;
    if (command.operands.size() < shape->minOperands) {
      throw usageError(command.name + ": missing operand (see veltwmi " + command.name +
                       " --help)");
    }
    if (command.name == "put" && command.assignments.empty()) {
      throw usageError("put: give at least one Name=Value");
    }
    if (command.forSeconds && command.name != "watch") {
      throw usageError("--for belongs to watch");
    }
    return result;
  }

 private:
  std::string value(const std::string& option, const std::optional<std::string>& inlineValue) {
    if (inlineValue) return *inlineValue;
    if (m_at >= m_words.size()) throw usageError(option + " needs a value");
    return m_words[m_at++];
  }

  const std::vector<std::string>& m_words;
  bool m_batchLine;
  std::size_t m_at = 0;
};

}  // namespace

Invocation parseCommandLine(const std::vector<std::string>& args) {
  return Parser(args, false).parse();
}

Command parseBatchCommand(const std::vector<std::string>& words) {
  return Parser(words, true).parse().command;
}

std::vector<std::string> splitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else if (c == '#' && !inWord) {
      break;
    } else if (c == '\'') {
      std::size_t close = line.find('\'', i + 1);
      if (close == std::string::npos) throw usageError("unterminated ' quote");
      word += line.substr(i + 1, close - i - 1);
      i = close;
      inWord = true;
    } else if (c == '"') {
      inWord = true;
      for (++i;; ++i) {
        if (i >= line.size()) throw usageError("unterminated \" quote");
        if (line[i] == '"') break;
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
          ++i;
        }
        word += line[i];
      }
    } else if (c == '\\' && i + 1 < line.size()) {
      word += line[++i];
      inWord = true;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::optional<Format> formatNamed(const std::string& name) {
  if (name == "table") return Format::kTable;
  if (name == "list") return Format::kList;
  if (name == "json") return Format::kJson;
  if (name == "mof") return Format::kMof;
  return std::nullopt;
}

const char* formatName(Format format) {
  switch (format) {
    case Format::kTable:
      return "table";
    case Format::kList:
      return "list";
    case Format::kJson:
      return "json";
    case Format::kMof:
      return "mof";
  }
  return "table";
}

}  // namespace veltwmi
