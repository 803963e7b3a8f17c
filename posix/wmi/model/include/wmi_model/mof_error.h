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
        file_(std::move(file)),
        line_(line),
        column_(column),
        message_(message) {}
  const std::string& file() const { return file_; }
  int line() const { return line_; }
  int column() const { return column_; }
  const std::string& message() const { return message_; }

 private:
  std::string file_;
  int line_;
  int column_;
  std::string message_;
};

}  // namespace velt::wmi
