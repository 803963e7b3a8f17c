// A temporary installation for one test: a program directory whose executable path the
// platform reports in place of the test's own, a trace log beside it, and a registry store and
// application-data folder of its own.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velt::test {

class TestLayout {
 public:
  // The executable is <root>/<programDirectory>/server.
  explicit TestLayout(const std::string& programDirectory = "ab");
  ~TestLayout();
  TestLayout(const TestLayout&) = delete;
  TestLayout& operator=(const TestLayout&) = delete;

  const std::filesystem::path& root() const { return m_root; }
  std::filesystem::path programDirectory() const { return m_executable.parent_path(); }
  const std::filesystem::path& executable() const { return m_executable; }

  // Makes `where` (relative to the root) a link to `target`, creating its folders.
  void link(const std::filesystem::path& target, const std::filesystem::path& where) const;
  void touch(const std::filesystem::path& where) const;

  // Opens the trace log beside the executable; the log is closed again by the destructor.
  void openLog() const;
  std::vector<std::string> logLines() const;

 private:
  std::filesystem::path m_root;
  std::filesystem::path m_executable;
};

// The records of the log, without the thread prefix, leaving out blank lines.
std::vector<std::string> recordTexts(const std::vector<std::string>& lines);

// Whether `expected` occurs in `actual` in this order, other lines allowed in between.
bool containsInOrder(const std::vector<std::string>& actual,
                     const std::vector<std::string>& expected);

// Registry helpers: writes or removes the installation record.
void writeInstallRecord(const std::string& installPath, const std::string& version);
void removeInstallRecord();

}  // namespace velt::test
