#include "sncommon/sessionTerminal.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cctype>
#include <fstream>
#include <sstream>

namespace sncommon {

namespace {

// The terminal of a process (the tty_nr field of /proc/PID/stat), or -1.
long terminalOf(const char* pid) {
    std::ifstream stat(std::string("/proc/") + pid + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto nameEnd = text.rfind(')');  // the command name may hold anything
    if (nameEnd == std::string::npos) return -1;
    std::istringstream fields(text.substr(nameEnd + 1));
    std::string state;
    long parent = 0, group = 0, session = 0, terminal = -1;
    if (!(fields >> state >> parent >> group >> session >> terminal)) return -1;
    return terminal;
}

bool isProcessDirectory(const char* name) {
    for (const char* c = name; *c != '\0'; ++c)
        if (std::isdigit(static_cast<unsigned char>(*c)) == 0) return false;
    return *name != '\0';
}

}  // namespace

bool isSessionTerminal(const std::string& device) {
    struct stat named {};
    if (::stat(device.c_str(), &named) != 0 || !S_ISCHR(named.st_mode)) return false;
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return false;
    bool found = false;
    while (const dirent* entry = readdir(processes)) {
        if (!isProcessDirectory(entry->d_name)) continue;
        const long terminal = terminalOf(entry->d_name);
        if (terminal <= 0) continue;
        const auto number = static_cast<unsigned long>(terminal);
        const unsigned long majorNumber = (number >> 8) & 0xfff;
        const unsigned long minorNumber = (number & 0xff) | ((number >> 12) & 0xfff00);
        if (majorNumber == major(named.st_rdev) && minorNumber == minor(named.st_rdev)) {
            found = true;
            break;
        }
    }
    closedir(processes);
    return found;
}

}  // namespace sncommon
