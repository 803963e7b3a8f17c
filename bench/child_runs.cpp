// Figures that need a fresh process (the first Initialize, peak memory) come from this same
// binary run again as a child; the child prints one marked line with its number.
#include <stdio.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "bench_world.h"
#include "own_executable.h"

namespace velt::bench {

double peakAfterEnumeration(long count);
double peakAfterReadingVector(long count);
double firstInitializeMicroseconds();
double firstVmStartMicroseconds();
double realGlueGetMicroseconds();
double realGlueEnumerationMicroseconds(bool ownProcess);

namespace {

constexpr char kResultMark[] = "velt-child-result ";

}  // namespace

long peakResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

double runChild(const std::string& mode) {
  std::string command = "'" + ownExecutable() + "' --velt-child=" + mode;
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return -1;
  double result = -1;
  char line[512];
  while (fgets(line, sizeof line, child) != nullptr) {
    std::string text(line);
    if (text.rfind(kResultMark, 0) == 0) result = std::stod(text.substr(sizeof kResultMark - 1));
  }
  pclose(child);
  return result;
}

int childMain(const std::string& mode) {
  double result = -1;
  std::string::size_type colon = mode.find(':');
  std::string name = mode.substr(0, colon);
  long count = colon == std::string::npos ? 0 : std::stol(mode.substr(colon + 1));
  if (name == "enumerate") {
    result = peakAfterEnumeration(count);
  } else if (name == "read-vector") {
    result = peakAfterReadingVector(count);
  } else if (name == "first-initialize") {
    result = firstInitializeMicroseconds();
  } else if (name == "first-vm-start") {
    result = firstVmStartMicroseconds();
  } else if (name == "real-glue-get") {
    result = realGlueGetMicroseconds();
  } else if (name == "real-glue-enumeration-in-process") {
    result = realGlueEnumerationMicroseconds(false);
  } else if (name == "real-glue-enumeration-own-process") {
    result = realGlueEnumerationMicroseconds(true);
  }
  World::end();
  std::printf("%s%.3f\n", kResultMark, result);
  return result < 0 ? 1 : 0;
}

}  // namespace velt::bench
