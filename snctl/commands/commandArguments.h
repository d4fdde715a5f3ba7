// Checks shared by the commands' argument lists.
#pragma once

#include <string>
#include <vector>

namespace snctl {

// Throws UsageError "COMMAND: expected USAGE" unless min <= size <= max.
void expectArgumentCount(const std::vector<std::string>& args, std::size_t min, std::size_t max,
                         const std::string& command, const std::string& usage);

// "on" -> true, "off" -> false; anything else throws UsageError.
bool parseOnOff(const std::string& text, const std::string& what);

}  // namespace snctl
