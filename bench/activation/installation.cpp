#include "installation.h"

#include <stdlib.h>
#include <windows.h>
#include <winplatform/registry_hooks.h>

#include <owners/unique_handle.h>

#include <stdexcept>

namespace velt::bench {
namespace {

namespace fs = std::filesystem;

constexpr char kClassKey[] = "CLSID\\{6D0F4A2E-93B7-4C51-A8E2-5F19C3D7B06A}\\LocalServer32";

void link(const fs::path& target, const fs::path& where) {
  fs::create_directories(where.parent_path());
  fs::create_symlink(target, where);
}

}  // namespace

Installation::Installation() {
  std::string pattern = (fs::temp_directory_path() / "velt-activation-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
  m_root = pattern;
  // The runtime search looks two characters up from the program's folder: a two-letter
  // folder puts the runtime at <root>/jre.
  const fs::path program = m_root / "pp";
  fs::create_directories(program);
  fs::create_directories(m_root / "appdata");
  fs::create_directories(m_root / "run");
  fs::permissions(m_root / "run", fs::perms::owner_all);
  // Copies, not links: each program finds its folder (and the runtime) from its own path.
  m_server = (program / "VeltProxyProvider").string();
  m_floor = (program / "vm_start_floor").string();
  fs::copy_file(VELT_BENCH_SERVER, m_server);
  fs::copy_file(VELT_BENCH_VM_START_FLOOR, m_floor);
  fs::copy_file(VELT_BENCH_PLATFORM_LIBRARY,
                program / fs::path(VELT_BENCH_PLATFORM_LIBRARY).filename());
  link(VELT_BENCH_SIBLING_LIBRARY, program / "libqelvor.so");
  link(VELT_BENCH_SDK_JAR, program / "velt-sdk.jar");
  link(VELT_BENCH_GLUE_JAR, program / "velt-cheap-glue.jar");
  link(VELT_BENCH_LIBJVM, m_root / "jre/lib/server/libjvm.so");

  setenv("XDG_RUNTIME_DIR", (m_root / "run").c_str(), 1);
  setenv("XDG_DATA_HOME", (m_root / "appdata").c_str(), 1);
  setenv("VELT_REGISTRY", (m_root / "registry.db").c_str(), 1);
  VeltRegistryReset();
  UniqueRegistryKey key;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, kClassKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS ||
      RegSetValueExA(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_server.c_str()),
                     static_cast<DWORD>(m_server.size() + 1)) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot register the server");
  }
}

Installation::~Installation() {
  VeltRegistryReset();
  std::error_code ignored;
  fs::remove_all(m_root, ignored);
}

}  // namespace velt::bench
