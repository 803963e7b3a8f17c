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
  TableFormatter(Console& console, bool streaming) : console_(console), streaming_(streaming) {}

  void object(const ObjectView& view) override {
    std::vector<std::string> names, cells;
    for (const PropertyValue& p : view.properties) {
      names.push_back(p.name);
      cells.push_back(plainText(p));
    }
    bool fresh = blocks_.empty() || names != blocks_.back().header ||
                 view.className != blocks_.back().className;
    if (!streaming_) {
      if (fresh) blocks_.push_back({view.className, names, {}});
      blocks_.back().rows.push_back(std::move(cells));
      return;
    }
    std::lock_guard<std::mutex> lock(console_.mutex);
    console_.clearCounterLocked();
    if (fresh) {
      if (!blocks_.empty()) console_.out << '\n';
      blocks_.assign(1, {view.className, names, {cells}});
      widths_ = widthsOf(blocks_.back());
      writeHeader(names);
    }
    writeRow(cells);
    console_.out.flush();
  }

  void end() override {
    if (streaming_ || blocks_.empty()) return;
    std::lock_guard<std::mutex> lock(console_.mutex);
    console_.clearCounterLocked();
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
      if (b > 0) console_.out << '\n';
      widths_ = widthsOf(blocks_[b]);
      writeHeader(blocks_[b].header);
      for (const auto& row : blocks_[b].rows) writeRow(row);
    }
    console_.out.flush();
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
    for (std::size_t w : widths_) rules.push_back(std::string(w, '-'));
    writeRow(rules);
  }

  // A cell wider than its column pushes only as far as the next columns' padding absorbs.
  void writeRow(const std::vector<std::string>& cells) {
    std::string line;
    std::size_t lineWidth = 0, columnStart = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) {
        columnStart += widths_[i - 1] + 2;
        std::size_t pad = lineWidth + 2 <= columnStart ? columnStart - lineWidth : 2;
        line += std::string(pad, ' ');
        lineWidth += pad;
      }
      line += cells[i];
      lineWidth += displayWidth(cells[i]);
    }
    line.erase(line.find_last_not_of(' ') + 1);
    console_.out << line << '\n';
  }

  Console& console_;
  const bool streaming_;
  std::vector<Block> blocks_;  // streaming: the current header only
  std::vector<std::size_t> widths_;
};

class ListFormatter final : public Formatter {
 public:
  explicit ListFormatter(Console& console) : console_(console) {}
  void object(const ObjectView& view) override {
    std::size_t width = 0;
    for (const PropertyValue& p : view.properties) width = std::max(width, p.name.size());
    std::lock_guard<std::mutex> lock(console_.mutex);
    console_.clearCounterLocked();
    if (count_++ > 0) console_.out << '\n';
    for (const PropertyValue& p : view.properties) {
      console_.out << p.name << std::string(width - p.name.size(), ' ') << " : " << plainText(p)
                   << '\n';
    }
    console_.out.flush();
  }

 private:
  Console& console_;
  std::size_t count_ = 0;
};

class JsonFormatter final : public Formatter {
 public:
  JsonFormatter(Console& console, Shape shape) : console_(console), shape_(shape) {}
  void object(const ObjectView& view) override {
    std::string text = "{\"__CLASS\": " + jsonQuote(view.className);
    if (!view.relPath.empty()) text += ", \"__RELPATH\": " + jsonQuote(view.relPath);
    for (const PropertyValue& p : view.properties) {
      text += ", " + jsonQuote(p.name) + ": " + jsonText(p);
    }
    text += "}";
    std::lock_guard<std::mutex> lock(console_.mutex);
    console_.clearCounterLocked();
    if (shape_ == Shape::kMany) console_.out << (count_ == 0 ? "[\n  " : ",\n  ");
    console_.out << text;
    if (shape_ != Shape::kMany) console_.out << '\n';
    ++count_;
    console_.out.flush();
  }
  void end() override {
    if (shape_ != Shape::kMany) return;
    std::lock_guard<std::mutex> lock(console_.mutex);
    console_.clearCounterLocked();
    console_.out << (count_ == 0 ? "[]\n" : "\n]\n") << std::flush;
  }

 private:
  Console& console_;
  Shape shape_;
  std::size_t count_ = 0;
};

class MofFormatter final : public Formatter {
 public:
  explicit MofFormatter(Console& console) : console_(console) {}
  void object(const ObjectView& view) override {
    std::string text = "instance of " + view.className + "\n{\n";
    for (const PropertyValue& p : view.properties) {
      if (p.value.isNull()) continue;
      text += "    " + p.name + " = " + mofText(p) + ";\n";
    }
    text += "};\n";
    std::lock_guard<std::mutex> lock(console_.mutex);
    console_.clearCounterLocked();
    if (count_++ > 0) console_.out << '\n';
    console_.out << text << std::flush;
  }

 private:
  Console& console_;
  std::size_t count_ = 0;
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
