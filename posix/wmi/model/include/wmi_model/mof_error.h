// A MOF text that cannot be accepted, with the place of the fault.
#pragma once

#include <stdexcept>
#include <string>

namespace velt::wmi {

class MofError : public std::runtime_error {
 public:
  MofError(std::string file, int line, int column, const std::string& message)
      : std::runtime_error(file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " +
                           message),
        m_file(std::move(file)),
        m_line(line),
        m_column(column),
        m_message(message) {}
  const std::string& file() const { return m_file; }
  int line() const { return m_line; }
  int column() const { return m_column; }
  const std::string& message() const { return m_message; }

 private:
  std::string m_file;
  int m_line;
  int m_column;
  std::string m_message;
};

}  // namespace velt::wmi
