#include "sncommon/longOptions.h"

namespace sncommon {

void walkLongOptions(const std::vector<std::string>& args, const std::string& program,
                     const std::function<bool(const std::string&)>& flag,
                     const std::function<void(const std::string&, const std::string&)>& value) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (flag(arg)) continue;
        const bool named = arg.rfind("--", 0) == 0;
        if (const auto equals = arg.find('='); named && equals != std::string::npos) {
            value(arg.substr(0, equals), arg.substr(equals + 1));
        } else if (named) {
            if (i + 1 >= args.size()) throw OptionError(arg + " needs a value");
            value(arg, args[++i]);
        } else {
            throw OptionError("unexpected argument '" + arg + "' (see " + program + " --help)");
        }
    }
}

}  // namespace sncommon
