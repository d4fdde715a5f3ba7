// The long-running programs' command lines: "--name value" or
// "--name=value", and flags that take no value.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sncommon {

// What is wrong with a command line, as a sentence without the program's name.
class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `flag` is asked first for every argument (true: it was one of its flags);
// `value` gets every other "--name" with its value.  Throws OptionError for
// a name without a value and for anything that is no option, pointing to
// `program --help`.
void walkLongOptions(const std::vector<std::string>& args, const std::string& program,
                     const std::function<bool(const std::string&)>& flag,
                     const std::function<void(const std::string&, const std::string&)>& value);

}  // namespace sncommon
