// What every command gets: the global options, the node, and the report
// its result goes into.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "globalOptions.h"
#include "nodeAccess.h"
#include "report.h"

namespace snctl {

using Arguments = std::vector<std::string>;  // what follows the command word

struct CommandContext {
    const GlobalOptions& options;
    NodeAccess& access;
    Report& report;
    std::FILE* out;  // where results go: standard output, kept clean for JSON
};

using CommandFunction = void (*)(const Arguments&, CommandContext&);

}  // namespace snctl
