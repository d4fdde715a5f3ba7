// The command table: every command's name, synopsis and entry point, so
// dispatch and --help come from one list.
#pragma once

#include <string>
#include <vector>

#include "commandContext.h"

namespace snctl {

struct CommandEntry {
    const char* name;
    const char* synopsis;  // arguments, as shown by --help
    const char* summary;
    CommandFunction run;
    const char* details = "";  // more for the command's own --help, or nothing
};

const std::vector<CommandEntry>& commandTable();

// Throws UsageError for a name that is no command.
const CommandEntry& findCommand(const std::string& name);

}  // namespace snctl
