#include "test_layout.h"

#include <owners/unique_handle.h>

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include <windows.h>
#include <winplatform/posix_hooks.h>

#include "trace/trace.h"

namespace velt::test {

TestLayout::TestLayout(const std::string& programDirectory) {
  std::string pattern = (std::filesystem::temp_directory_path() / "velt-jvm-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
  m_root = pattern;
  m_executable = m_root / programDirectory / "server";
  std::filesystem::create_directories(m_executable.parent_path());
  std::filesystem::create_directories(m_root / "appdata");
  setenv("VELT_REGISTRY", (m_root / "registry.db").c_str(), 1);
  setenv("XDG_DATA_HOME", (m_root / "appdata").c_str(), 1);
  VeltSetModuleFileNameOverride(m_executable.c_str());
}

TestLayout::~TestLayout() {
  closeTraceLog();
  VeltSetModuleFileNameOverride(nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(m_root, ignored);
}

void TestLayout::link(const std::filesystem::path& target,
                      const std::filesystem::path& where) const {
  std::filesystem::create_directories((m_root / where).parent_path());
  std::filesystem::create_symlink(target, m_root / where);
}

void TestLayout::touch(const std::filesystem::path& where) const {
  std::filesystem::create_directories((m_root / where).parent_path());
  std::ofstream(m_root / where) << "";
}

void TestLayout::openLog() const {
  touch(std::filesystem::relative(programDirectory() / "qelvor.dbg", m_root));
  openTraceLog();
}

std::vector<std::string> TestLayout::logLines() const {
  std::vector<std::string> lines;
  std::ifstream log(programDirectory() / "qelvor.log");
  for (std::string line; std::getline(log, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> recordTexts(const std::vector<std::string>& lines) {
  std::vector<std::string> texts;
  for (const auto& line : lines) {
    if (line.empty()) continue;
    size_t space = line.find(' ');
    if (line.rfind("0x", 0) == 0 && space != std::string::npos) {
      texts.push_back(line.substr(space + 1));
    } else {
      texts.push_back(line);
    }
  }
  return texts;
}

bool containsInOrder(const std::vector<std::string>& actual,
                     const std::vector<std::string>& expected) {
  auto position = actual.begin();
  for (const auto& text : expected) {
    position = std::find(position, actual.end(), text);
    if (position == actual.end()) return false;
    ++position;
  }
  return true;
}

void writeInstallRecord(const std::string& installPath, const std::string& version) {
  velt::UniqueRegistryKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvex\\TARVO", 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot write the installation record");
  }
  RegSetValueExA(key.get(), "Install Path", 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(installPath.c_str()),
                 static_cast<DWORD>(installPath.size() + 1));
  RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                 static_cast<DWORD>(version.size() + 1));
}

void removeInstallRecord() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norvex\\TARVO"); }

}  // namespace velt::test
