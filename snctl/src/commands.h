// The command table: every command's name, synopsis and entry point, so
// dispatch and --help come from one list.
#pragma once

#include "globalOptions.h"
#include "nodeAccess.h"
#include "report.h"

#include <string>
#include <vector>

namespace snctl {

using Arguments = std::vector<std::string>;  // what follows the command word

struct CommandContext {
    const GlobalOptions& options;
    NodeAccess& access;
    Report& report;
};

using CommandFunction = void (*)(const Arguments&, CommandContext&);

struct CommandEntry {
    const char* name;
    const char* synopsis;  // arguments, as shown by --help
    const char* summary;
    CommandFunction run;
};

const std::vector<CommandEntry>& commandTable();

// Throws UsageError for a name that is no command.
const CommandEntry& findCommand(const std::string& name);

// The node-level commands (nodeCommands.cpp) and the port commands.
void runInfo(const Arguments& args, CommandContext& context);
void runPower(const Arguments& args, CommandContext& context);
void runAnalog(const Arguments& args, CommandContext& context);
void runParams(const Arguments& args, CommandContext& context);
void runBlink(const Arguments& args, CommandContext& context);
void runDc(const Arguments& args, CommandContext& context);
void runResetConfig(const Arguments& args, CommandContext& context);
void runTimeout(const Arguments& args, CommandContext& context);
void runPort(const Arguments& args, CommandContext& context);
void runBridge(const Arguments& args, CommandContext& context);

}  // namespace snctl
