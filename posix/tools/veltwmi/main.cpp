// veltwmi: enumerates, reads, writes, calls and watches what WMI providers serve, as a client of
// the user's WMI service (veltwmid, started through COM when none runs); the service has COM
// start the provider's server (and its Java VM) as a process of its own.
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "app.h"
#include "interrupt.h"

int main(int argc, char** argv) {
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  std::filesystem::path folder = self.parent_path();
  veltwmi::installInterruptHandler();
  veltwmi::Console console{std::cout, std::cerr, isatty(STDERR_FILENO) != 0};
  veltwmi::Environment environment{
      {nullptr, (folder / "VeltProxyProvider").string()},
      (folder / "norvex_sample.mof").string(),
      std::cin,
      isatty(STDIN_FILENO) != 0,
      (folder / "veltwmid").string(),
  };
  return veltwmi::runVeltwmi(std::vector<std::string>(argv + 1, argv + argc), console, environment);
}
