// The tool's commands; each takes the arguments after its name and answers the exit code.
#pragma once

#include <string>
#include <vector>

namespace veltreg {

using Args = std::vector<std::string>;

int runQuery(const Args& args);
int runAdd(const Args& args);
int runDelete(const Args& args);
int runExport(const Args& args);

}  // namespace veltreg
