// The benchmark binary's own path: figures that need a fresh process come from the same binary
// run again as a child.
#pragma once

#include <unistd.h>

#include <stdexcept>
#include <string>

namespace velt::bench {

inline std::string ownExecutable() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) throw std::runtime_error("cannot find the benchmark executable");
  return std::string(path, static_cast<size_t>(length));
}

}  // namespace velt::bench
