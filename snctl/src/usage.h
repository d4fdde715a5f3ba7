// snctl's help: the whole usage (--help, help) and one command's own
// (COMMAND --help, help COMMAND), both from the command table.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace snctl {

void printUsage(std::FILE* out);

// Throws UsageError when `name` is no command.
void printCommandUsage(std::FILE* out, const std::string& name);

// True when the words after the global options ask for help rather than
// for the command: "help [COMMAND]", or -h or --help among the command's
// arguments (not as the text of "port P send").
bool asksForHelp(const std::vector<std::string>& command);

// Prints the help `command` asks for.
void printHelpFor(std::FILE* out, const std::vector<std::string>& command);

}  // namespace snctl
