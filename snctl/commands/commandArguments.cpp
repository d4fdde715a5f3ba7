#include "commandArguments.h"

#include "failure.h"

namespace snctl {

void expectArgumentCount(const std::vector<std::string>& args, std::size_t min, std::size_t max,
                         const std::string& command, const std::string& usage) {
    if (args.size() < min || args.size() > max) {
        throw UsageError(command + ": expected " + usage);
    }
}

bool parseOnOff(const std::string& text, const std::string& what) {
    if (text == "on") return true;
    if (text == "off") return false;
    throw UsageError(what + ": expected on or off, not '" + text + "'");
}

}  // namespace snctl
