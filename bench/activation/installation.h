// A private installation of the provider's server, as users get it: the server and the
// floor program copied into a folder of their own with the platform library, the sibling
// library, the SDK and a Glue that does nothing costly beside them, the Java runtime where the
// server looks for it, and a registry and runtime folder of its own with the server registered.
#pragma once

#include <filesystem>
#include <string>

namespace velt::bench {

class Installation {
 public:
  // Points this process (and the processes it starts) at the installation.
  Installation();
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  const std::string& server() const { return m_server; }
  const std::string& floorProgram() const { return m_floor; }

 private:
  std::filesystem::path m_root;
  std::string m_server;
  std::string m_floor;
};

}  // namespace velt::bench
