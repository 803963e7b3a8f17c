// Compiles one MOF file into a repository and exits: the process the repository's tests kill
// at random moments, and run several of at once.
//   wmi_repository_compiler REPOSITORY FILE.mof
#include <cstdio>
#include <exception>

#include "wmi/service.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s REPOSITORY FILE.mof\n", argv[0]);
    return 2;
  }
  try {
    velt::wmi::ServiceOptions options;
    options.repositoryPath = argv[1];
    velt::wmi::Service service(options);
    service.loadMof(argv[2]);
  } catch (const std::exception& fault) {
    std::fprintf(stderr, "%s\n", fault.what());
    return 1;
  }
  return 0;
}
