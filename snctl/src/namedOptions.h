// A command's own "--name VALUE" or "--name=VALUE" options, after the
// command word.
#pragma once

#include <string>
#include <vector>

namespace snctl {

struct NamedOption {
    std::string name;  // with its dashes
    std::string value;
};

// In the order given.  Anything that is not such an option throws
// UsageError "COMMAND: unexpected 'WORD' (expected USAGE)", an option
// without its value "COMMAND: --NAME needs a value".
std::vector<NamedOption> namedOptions(const std::vector<std::string>& args,
                                      const std::string& command, const std::string& usage);

}  // namespace snctl
