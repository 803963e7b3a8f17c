// A scratch folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velt-XXXXXX").string();
    m_path = mkdtemp(pattern.data());
  }
  ~TempDir() {
    // A server the test started may still be ending, removing its own socket meanwhile: an
    // entry that vanished under the removal is no failure, and what is left goes next round.
    std::error_code ignored;
    for (int round = 0; round < 5 && std::filesystem::exists(m_path, ignored); ++round) {
      std::filesystem::remove_all(m_path, ignored);
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }

  std::string touch(const std::string& name) const {
    auto file = m_path / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "x";
    return file.string();
  }

 private:
  std::filesystem::path m_path;
};
