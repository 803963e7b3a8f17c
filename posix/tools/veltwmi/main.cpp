// veltwmi: enumerates, reads, writes, calls and watches what WMI providers serve, with the
// WMI service stand-in and the provider's server inside this one process.
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "app.h"
#include "interrupt.h"

extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                              int showCommand);

int main(int argc, char** argv) {
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  std::filesystem::path folder = self.parent_path();
  veltwmi::installInterruptHandler();
  veltwmi::Console console{std::cout, std::cerr, isatty(STDERR_FILENO) != 0};
  veltwmi::Environment environment{
      {WinMain, (folder / "VeltProxyProvider").string()},
      (folder / "norvex_sample.mof").string(),
      std::cin,
      isatty(STDIN_FILENO) != 0,
  };
  return veltwmi::runVeltwmi(std::vector<std::string>(argv + 1, argv + argc), console, environment);
}
