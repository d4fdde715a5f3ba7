#include "namedOptions.h"

#include "failure.h"

namespace snctl {

std::vector<NamedOption> namedOptions(const std::vector<std::string>& args,
                                      const std::string& command, const std::string& usage) {
    std::vector<NamedOption> options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const bool named = word.rfind("--", 0) == 0 && word.size() > 2;
        if (const auto equals = word.find('='); named && equals != std::string::npos) {
            options.push_back({word.substr(0, equals), word.substr(equals + 1)});
        } else if (named && i + 1 < args.size()) {
            options.push_back({word, args[++i]});
        } else if (named) {
            throw UsageError(command + ": " + word + " needs a value");
        } else {
            throw UsageError(command + ": unexpected '" + word + "' (expected " + usage + ")");
        }
    }
    return options;
}

}  // namespace snctl
