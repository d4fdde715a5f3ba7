// Command line of the snsim executable.
#pragma once

#include "snsim/emulator.h"

#include <string>
#include <vector>

namespace snsim::cli {

struct Parsed {
    Options options;
    bool help = false;
    bool version = false;
};

// Parses argv[1..]; false with one line of explanation in err.
bool parse(const std::vector<std::string>& args, Parsed& out, std::string& err);
// Parses one --portN value: loopback | none | pty[:LINK] | exec:COMMAND.
bool parseAttachment(const std::string& text, Attachment& out, std::string& err);

const char* usage();

}  // namespace snsim::cli
