// snctl --help: options and every command, from the command table.
#pragma once

#include <cstdio>

namespace snctl {

void printUsage(std::FILE* out);

}  // namespace snctl
