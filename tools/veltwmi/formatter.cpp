#include "formatter.h"

#include <algorithm>
#include <string>
#include <vector>

namespace veltwmi {
namespace {

// Columns take their widths from the header and the first row; later rows that are wider
// push their neighbours right rather than wait for the whole result.
class TableFormatter final : public Formatter {
 public:
  explicit TableFormatter(Console& console) : console_(console) {}

  void object(const ObjectView& view) override {
    std::lock_guard<std::mutex> lock(console_.mutex);
    console_.clearCounterLocked();
    std::vector<std::string> names;
    for (const PropertyValue& p : view.properties) names.push_back(p.name);
    if (names != columns_ || view.className != className_) {
      columns_ = names;
      className_ = view.className;
      widths_.clear();
      for (const PropertyValue& p : view.properties) {
        widths_.push_back(std::max(p.name.size(), plainText(p).size()));
      }
      if (rows_ > 0) console_.out << '\n';
      writeRow(columns_);
      std::vector<std::string> rules;
      for (std::size_t w : widths_) rules.push_back(std::string(w, '-'));
      writeRow(rules);
    }
    std::vector<std::string> cells;
    for (const PropertyValue& p : view.properties) cells.push_back(plainText(p));
    writeRow(cells);
    ++rows_;
    console_.out.flush();
  }

 private:
  // A cell wider than its column pushes only as far as the next columns' padding absorbs.
  void writeRow(const std::vector<std::string>& cells) {
    std::string line;
    std::size_t columnStart = 0;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (i > 0) {
        columnStart += widths_[i - 1] + 2;
        std::size_t pad = line.size() + 2 <= columnStart ? columnStart - line.size() : 2;
        line += std::string(pad, ' ');
      }
      line += cells[i];
    }
    line.erase(line.find_last_not_of(' ') + 1);
    console_.out << line << '\n';
  }

  Console& console_;
  std::vector<std::string> columns_;
  std::string className_;
  std::vector<std::size_t> widths_;
  std::size_t rows_ = 0;
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
  return std::make_unique<TableFormatter>(console);
}

}  // namespace veltwmi
