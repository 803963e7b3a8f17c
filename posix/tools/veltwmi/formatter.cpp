#include "formatter.h"

#include <algorithm>
#include <string>
#include <vector>

#include "display_width.h"

namespace veltwmi {
namespace {

// A table for a whole result waits for its last row, so every column is as wide as its widest
// cell. A watch cannot wait for an end that may never come: its columns take their widths from
// the header and the first event, and a later, wider cell pushes its neighbours right.
class TableFormatter final : public Formatter {
 public:
  TableFormatter(Console& console, bool streaming) : m_console(console), m_streaming(streaming) {}

  void object(const ObjectView& view) override {
    std::vector<std::string> names, cells;
    for (const PropertyValue& p : view.properties) {
      names.push_back(p.name);
      cells.push_back(plainText(p));
    }
    bool fresh = m_blocks.empty() || names != m_blocks.back().header ||
                 view.className != m_blocks.back().className;
    if (!m_streaming) {
      if (fresh) m_blocks.push_back({view.className, names, {}});
      m_blocks.back().rows.push_back(std::move(cells));
      return;
    }
    std::lock_guard<std::mutex> lock(m_console.mutex);
    m_console.clearCounterLocked();
    if (fresh) {
      if (!m_blocks.empty()) m_console.out << '\n';
      m_blocks.assign(1, {view.className, names, {cells}});
      m_widths = widthsOf(m_blocks.back());
      writeHeader(names);
    }
    writeRow(cells);
    m_console.out.flush();
  }

  void end() override {
    if (m_streaming || m_blocks.empty()) return;
    std::lock_guard<std::mutex> lock(m_console.mutex);
    m_console.clearCounterLocked();
    for (std::size_t b = 0; b < m_blocks.size(); ++b) {
      if (b > 0) m_console.out << '\n';
      m_widths = widthsOf(m_blocks[b]);
      writeHeader(m_blocks[b].header);
      for (const auto& row : m_blocks[b].rows) writeRow(row);
    }
    m_console.out.flush();
  }

 private:
  // Consecutive objects of one class with the same properties share a header.
  struct Block {
    std::string className;
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
  };

  static std::vector<std::size_t> widthsOf(const Block& block) {
    std::vector<std::size_t> widths;
    for (const std::string& name : block.header) widths.push_back(displayWidth(name));
    for (const auto& row : block.rows) {
      for (std::size_t i = 0; i < row.size(); ++i) {
        widths[i] = std::max(widths[i], displayWidth(row[i]));
      }
    }
    return widths;
  }

  void writeHeader(const std::vector<std::string>& names) {
    writeRow(names);
    std::vector<std::string> rules;
    for (std::size_t w : m_widths) rules.push_back(std::string(w, '-'));
    writeRow(rules);
  }

  // A cell wider than its column pushes only as far as the next columns' padding absorbs.
  void writeRow(const std::vector<std::string>& cells) {
    std::string line;
    std::size_t lineWidth = 0, columnStart = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) {
        columnStart += m_widths[i - 1] + 2;
        std::size_t pad = lineWidth + 2 <= columnStart ? columnStart - lineWidth : 2;
        line += std::string(pad, ' ');
        lineWidth += pad;
      }
      line += cells[i];
      lineWidth += displayWidth(cells[i]);
    }
    line.erase(line.find_last_not_of(' ') + 1);
    m_console.out << line << '\n';
  }

  Console& m_console;
  const bool m_streaming;
  std::vector<Block> m_blocks;  // streaming: the current header only
  std::vector<std::size_t> m_widths;
};

class ListFormatter final : public Formatter {
 public:
  explicit ListFormatter(Console& console) : m_console(console) {}
  void object(const ObjectView& view) override {
    std::size_t width = 0;
    for (const PropertyValue& p : view.properties) width = std::max(width, p.name.size());
    std::lock_guard<std::mutex> lock(m_console.mutex);
    m_console.clearCounterLocked();
    if (m_count++ > 0) m_console.out << '\n';
    for (const PropertyValue& p : view.properties) {
      m_console.out << p.name << std::string(width - p.name.size(), ' ') << " : " << plainText(p)
                    << '\n';
    }
    m_console.out.flush();
  }

 private:
  Console& m_console;
  std::size_t m_count = 0;
};

class JsonFormatter final : public Formatter {
 public:
  JsonFormatter(Console& console, Shape shape) : m_console(console), m_shape(shape) {}
  void object(const ObjectView& view) override {
    std::string text = "{\"__CLASS\": " + jsonQuote(view.className);
    if (!view.relPath.empty()) text += ", \"__RELPATH\": " + jsonQuote(view.relPath);
    for (const PropertyValue& p : view.properties) {
      text += ", " + jsonQuote(p.name) + ": " + jsonText(p);
    }
    text += "}";
    std::lock_guard<std::mutex> lock(m_console.mutex);
    m_console.clearCounterLocked();
    if (m_shape == Shape::kMany) m_console.out << (m_count == 0 ? "[\n  " : ",\n  ");
    m_console.out << text;
    if (m_shape != Shape::kMany) m_console.out << '\n';
    ++m_count;
    m_console.out.flush();
  }
  void end() override {
    if (m_shape != Shape::kMany) return;
    std::lock_guard<std::mutex> lock(m_console.mutex);
    m_console.clearCounterLocked();
    m_console.out << (m_count == 0 ? "[]\n" : "\n]\n") << std::flush;
  }

 private:
  Console& m_console;
  Shape m_shape;
  std::size_t m_count = 0;
};

class MofFormatter final : public Formatter {
 public:
  explicit MofFormatter(Console& console) : m_console(console) {}
  void object(const ObjectView& view) override {
    std::string text = "instance of " + view.className + "\n{\n";
    for (const PropertyValue& p : view.properties) {
      if (p.value.isNull()) continue;
      text += "    " + p.name + " = " + mofText(p) + ";\n";
    }
    text += "};\n";
    std::lock_guard<std::mutex> lock(m_console.mutex);
    m_console.clearCounterLocked();
    if (m_count++ > 0) m_console.out << '\n';
    m_console.out << text << std::flush;
  }

 private:
  Console& m_console;
  std::size_t m_count = 0;
};

}  // namespace

std::unique_ptr<Formatter> makeFormatter(Format format, Shape shape, Console& console) {
  switch (format) {
    case Format::kList:
      return std::make_unique<ListFormatter>(console);
    case Format::kJson:
      return std::make_unique<JsonFormatter>(console, shape);
    case Format::kMof:
      return std::make_unique<MofFormatter>(console);
    case Format::kTable:
      break;
  }
  return std::make_unique<TableFormatter>(console, shape == Shape::kStream);
}

}  // namespace veltwmi
