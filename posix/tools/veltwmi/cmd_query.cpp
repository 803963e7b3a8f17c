// query: a WQL data query that the service carries out, printed as enum prints.
#include <algorithm>
#include <cctype>

#include "commands.h"
#include "request.h"

namespace veltwmi {
namespace {

std::string lowered(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The properties a select list names, lower case; empty for *. Only for choosing the columns:
// the service has the last word on what the query means.
std::vector<std::string> selectedNames(const std::string& query) {
  std::string low = lowered(query);
  std::size_t select = low.find("select");
  std::size_t from = low.find(" from ");
  if (select == std::string::npos || from == std::string::npos || from < select) return {};
  std::string list = query.substr(select + 6, from - select - 6);
  std::vector<std::string> names;
  std::string name;
  for (char c : list + ",") {
    if (c == ',') {
      if (!name.empty()) names.push_back(lowered(name));
      name.clear();
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      name += c;
    }
  }
  if (names.size() == 1 && names[0] == "*") return {};
  return names;
}

}  // namespace

std::size_t faultPosition(const std::string& description) {
  std::size_t at = description.find("position ");
  if (at == std::string::npos) return 0;
  std::size_t value = 0;
  for (std::size_t i = at + 9;
       i < description.size() && std::isdigit(static_cast<unsigned char>(description[i])); ++i) {
    value = value * 10 + std::size_t(description[i] - '0');
    if (value > description.max_size()) return 0;
  }
  return value;
}

std::string caretUnder(const std::string& query, std::size_t position) {
  constexpr std::size_t kWidest = 200;
  if (position == 0 || query.size() > kWidest || position > query.size() + 1 ||
      query.find_first_of("\r\n\t") != std::string::npos) {
    return "";
  }
  // Columns count UTF-16 units; a query of plain ASCII is where they meet bytes.
  if (std::any_of(query.begin(), query.end(), [](char c) { return (c & 0x80) != 0; })) return "";
  return "\n  " + query + "\n  " + std::string(position - 1, ' ') + "^";
}

bool isEventQuery(const std::string& operand) {
  std::size_t start = operand.find_first_not_of(" \t\r\n");
  return start != std::string::npos && lowered(operand.substr(start, 7)) == "select ";
}

int runQuery(const Command& command, CommandContext& context) {
  const std::string& text = command.operands.at(0);
  IWbemServices* ns = context.session.nameSpace(context.nameSpace);
  UniqueBstr language = bstrFromUtf16(u"WQL");
  UniqueBstr query = bstrFromUtf8(text);
  std::vector<std::string> columns = selectedNames(text);
  auto format = makeFormatter(context.format, Shape::kMany, context.console);
  Delivery delivered = request(
      context, "query",
      [&](IWbemObjectSink* sink) {
        return ns->ExecQueryAsync(language.get(), query.get(), 0, nullptr, sink);
      },
      [&](IWbemClassObject* object) {
        ObjectView view = viewOf(object);
        if (!columns.empty()) {
          std::erase_if(view.properties, [&](const PropertyValue& p) {
            return std::find(columns.begin(), columns.end(), lowered(p.name)) == columns.end();
          });
        }
        format->object(view);
      },
      true);
  format->end();
  if (delivered.status == WBEM_E_INVALID_QUERY) {
    OwnedVariant description;
    if (delivered.statusObject) {
      delivered.statusObject->Get(u"Description", 0, description.get(), nullptr, nullptr);
    }
    std::string said = description.get()->vt == VT_BSTR ? utf8FromUtf16(description.get()->bstrVal)
                                                        : std::string();
    std::string caret = caretUnder(text, faultPosition(said));
    if (!caret.empty()) {
      // Continues the failure message just written, so it carries no prefix of its own.
      std::lock_guard<std::mutex> lock(context.console.mutex);
      context.console.err << caret.substr(1) << '\n' << std::flush;
    }
    return kExitUsage;
  }
  return delivered.exitCode;
}

}  // namespace veltwmi
